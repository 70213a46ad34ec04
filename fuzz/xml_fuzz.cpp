// The XML engine on arbitrary bytes: from a stream (marks and code pages) and from text, with
// handlers that refuse elements and cancel the parse, chosen by the first input byte. A stream
// that hands out 2050 bytes or a single byte per read must give the tree of the whole read.

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "qninet/xml/QNInetXML.h"

using namespace qninet;

namespace {

void attach(TQNXMLEngine& engine, std::uint8_t mode) {
  if (mode & 1) {
    engine.SetOnTag(
        [mode](TObject*, TQNXMLItem* parent, const String& name, const String&, const String&, bool& accept) {
          FUZZ_CHECK(parent != nullptr);
          if (!name.empty() && (name.size() + name[0] + mode) % 3 == 0) accept = false;
        });
  }
  if (mode & 2) {
    auto closed = std::make_shared<int>(0);
    engine.SetOnAfterTag([closed, mode](TObject*, TQNXMLItem*& node, bool& cancel) {
      FUZZ_CHECK(node != nullptr);
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

// The tree in pre-order, one record per item with its depth: from a walk over the node table
// (making no item), or from the items.
String listing(const TQNXMLItem& root, bool walk) {
  String out;
  auto add = [&](std::size_t depth, TQNXMLItemKind kind, StringView name, bool assigned, StringView value,
                 StringView attrs) {
    out += String(1, static_cast<char16_t>(depth)) + String(1, static_cast<char16_t>(kind + assigned * 4));
    for (StringView part : {name, value, attrs}) out += String(part) + u'\x1F';
  };
  if (walk) {
    TQNXMLEngine::WalkTree(
        root,
        [&](const TQNXMLNodeView& v, std::size_t depth) {
          add(depth, v.Kind, v.TagName, v.ValueAssigned, v.Value, v.Attributes);
        },
        nullptr);
    return out;
  }
  std::vector<std::pair<const TQNXMLItem*, std::size_t>> work{{&root, 0}};
  while (!work.empty()) {
    auto [item, depth] = work.back();
    work.pop_back();
    add(depth, item->Kind(), item->TagName(), item->ValueAssigned(), item->ValueText(), item->Attributes());
    for (int i = item->Items()->Count(); i-- > 0;) work.emplace_back((*item->Items())[i], depth + 1);
  }
  return out;
}

// Bytes handed out at most `Chunk` at a time, as a pipe or a socket hands them.
class ChunkedStream final : public TStream {
public:
  ChunkedStream(std::string_view bytes, std::size_t chunk) : FBytes(bytes), FChunk(chunk) {}
  Int64 Read(void* buffer, Int64 count) override {
    const std::size_t n =
        std::min({static_cast<std::size_t>(std::max<Int64>(count, 0)), FChunk, FBytes.size() - FAt});
    std::memcpy(buffer, FBytes.data() + FAt, n);
    FAt += n;
    return static_cast<Int64>(n);
  }
  Int64 Write(const void*, Int64) override { return 0; }
  Int64 Seek(Int64 offset, TSeekOrigin origin) override {
    const Int64 base = origin == soBeginning ? 0
                       : origin == soCurrent ? static_cast<Int64>(FAt)
                                             : static_cast<Int64>(FBytes.size());
    FAt = static_cast<std::size_t>(std::clamp<Int64>(base + offset, 0, static_cast<Int64>(FBytes.size())));
    return static_cast<Int64>(FAt);
  }

private:
  std::string_view FBytes;
  std::size_t FChunk;
  std::size_t FAt = 0;
};

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
    if ((mode & 3) == 0) {
      // No handler: the tree lies in the node table, and must be the one items built for a
      // handler give, walked before any item is made and read through the items after.
      TQNXMLEngine items(nullptr);
      items.SetOnAfterTag([](TObject*, TQNXMLItem*&, bool&) {});
      TStringStream again(bytes);
      items.LoadFromStream((mode & 4) ? static_cast<Integer>(bytes.size()) : 0, &again);
      const String built = listing(*items.RootItem(), false);
      FUZZ_CHECK(listing(*engine.RootItem(), true) == built);
      FUZZ_CHECK(listing(*engine.RootItem(), false) == built);
    }
    // UTF-8 is parsed as bytes; the tree must be the one its decoded text gives.
    const bool marked = bytes.substr(0, 3) == "\xEF\xBB\xBF";
    const bool utf16 = bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF";
    if (engine.UTF8Processed && !utf16 && (mode & 3) == 0) {
      String text = FromUtf8(bytes.substr(marked ? 3 : 0));
      if (!text.empty() && text.back() == 27) text.pop_back();
      TQNXMLEngine reference(nullptr);
      reference.UTF8Processed = true;
      reference.ParseXMLFromString(text, static_cast<Integer>(text.size()));
      FUZZ_CHECK(same_tree(*engine.RootItem(), *reference.RootItem()));
    }
    for (const std::size_t chunk : {std::size_t{2050}, std::size_t{1}}) {
      TQNXMLEngine chunked(nullptr);
      attach(chunked, mode);
      ChunkedStream pieces(bytes, chunk);
      chunked.LoadFromStream((mode & 4) ? static_cast<Integer>(bytes.size()) : 0, &pieces);
      FUZZ_CHECK(chunked.UTF8Processed == engine.UTF8Processed);
      FUZZ_CHECK(same_tree(*chunked.RootItem(), *engine.RootItem()));
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
