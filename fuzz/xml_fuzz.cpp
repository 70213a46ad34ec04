// The XML engine on arbitrary bytes: from a stream (marks and code pages) and from text, with
// handlers that refuse elements and cancel the parse, chosen by the first input byte.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "qninet/xml/QNInetXML.h"

using namespace qninet;

namespace {

void attach(TQNXMLEngine& engine, std::uint8_t mode) {
  if (mode & 1) {
    engine.SetOnTag(
        [mode](TObject*, TQNXMLItem* parent, const String& name, const String&, const String&, bool& accept) {
          if (!parent) __builtin_trap();
          if (!name.empty() && (name.size() + name[0] + mode) % 3 == 0) accept = false;
        });
  }
  if (mode & 2) {
    auto closed = std::make_shared<int>(0);
    engine.SetOnAfterTag([closed, mode](TObject*, TQNXMLItem*& node, bool& cancel) {
      if (!node) __builtin_trap();
      if (++*closed == 1 + (mode >> 4)) cancel = true;
    });
  }
}

// Reading the tree back exercises every stored text.
void walk(TQNXMLEngine& engine) {
  volatile std::size_t sink = 0;
  sink = sink + engine.RootItem()->GetTagValue().size();
  if (TQNXMLItem* item = engine.GetItemByTag(nullptr, u"a")) {
    sink = sink + item->GetTagValue().size();
    item->ProcessAttributes();
    sink = sink + static_cast<std::size_t>(item->Items()->Count());
  }
  (void)engine.RootItem()->GetChild(u"b", true);
}

// Whether two trees hold the same items, texts and attribute texts.
bool same_tree(const TQNXMLItem& a, const TQNXMLItem& b) {
  std::vector<std::pair<const TQNXMLItem*, const TQNXMLItem*>> work{{&a, &b}};
  while (!work.empty()) {
    auto [x, y] = work.back();
    work.pop_back();
    if (x->Kind() != y->Kind() || x->TagName() != y->TagName() || x->ValueAssigned() != y->ValueAssigned() ||
        x->ValueText() != y->ValueText() || x->Attributes() != y->Attributes() ||
        x->Items()->Count() != y->Items()->Count())
      return false;
    for (int i = 0; i < x->Items()->Count(); ++i) work.emplace_back((*x->Items())[i], (*y->Items())[i]);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  {
    TQNXMLEngine engine(nullptr);
    attach(engine, mode);
    TStringStream stream(bytes);
    engine.LoadFromStream((mode & 4) ? static_cast<Integer>(bytes.size()) : 0, &stream);
    // UTF-8 is parsed as bytes; the tree must be the one its decoded text gives.
    const bool marked = bytes.substr(0, 3) == "\xEF\xBB\xBF";
    const bool utf16 = bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF";
    if (engine.UTF8Processed && !utf16 && (mode & 3) == 0) {
      String text = FromUtf8(bytes.substr(marked ? 3 : 0));
      if (!text.empty() && text.back() == 27) text.pop_back();
      TQNXMLEngine reference(nullptr);
      reference.UTF8Processed = true;
      reference.ParseXMLFromString(text, static_cast<Integer>(text.size()));
      if (!same_tree(*engine.RootItem(), *reference.RootItem())) __builtin_trap();
    }
    walk(engine);
  }
  {
    TQNXMLEngine engine(nullptr);
    attach(engine, mode);
    engine.UTF8Processed = (mode & 8) != 0;
    String text;
    if (mode & 64) {
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                             static_cast<std::uint8_t>(bytes[i + 1]) << 8));
    } else {
      text = FromBytes(bytes);
    }
    engine.ParseXMLFromString(text, static_cast<Integer>(text.size()) - ((mode & 128) ? 1 : 0));
    walk(engine);
  }
  return 0;
}
