#include "qninet/xml/QNInetXML.h"

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "qninet/core/qniutil.h"
#include "qninet/sys/CodePage.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNXMLItemKind, "ikProperty", "ikAttribute", "ikComment", "ikCDATA")

namespace {

// Value is a variant; it is published by hand because the typed helpers know no variants.
TPropInfo value_property() {
  TPropInfo p;
  p.Name = "Value";
  p.Kind = tkString;
  p.TypeName = "Variant";
  p.Get = [](const TObject& o) { return static_cast<const TQNXMLItem&>(o).Value(); };
  p.Set = [](TObject& o, const Variant& v) { static_cast<TQNXMLItem&>(o).SetValue(v); };
  p.StoredFn = [](const TObject& o) { return static_cast<const TQNXMLItem&>(o).ValueAssigned(); };
  return p;
}

constexpr bool is_blank(char16_t c) { return c == 9 || c == 10 || c == 13 || c == 32; }

constexpr std::array<bool, 256> make_name_table() {
  std::array<bool, 256> t{};
  for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = true;
  for (int c = 'A'; c <= 'Z'; ++c) t[static_cast<std::size_t>(c)] = true;
  for (int c = 'a'; c <= 'z'; ++c) t[static_cast<std::size_t>(c)] = true;
  t['!'] = t['-'] = t[':'] = t['?'] = t['_'] = true;
  return t;
}
constexpr std::array<bool, 256> kNameChar = make_name_table();
constexpr bool is_name_char(char16_t c) { return c < 256 && kNameChar[c]; }
constexpr std::array<bool, 256> make_text_stop_table() {
  std::array<bool, 256> t{};
  t[0] = t['<'] = t['/'] = true;
  return t;
}
constexpr std::array<bool, 256> kTextStop = make_text_stop_table();

bool all_ascii(StringView s) {
  for (char16_t c : s)
    if (c >= 0x80) return false;
  return true;
}

char16_t ascii_lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

struct Entity {
  std::u16string_view Name;
  std::u16string_view Replacement;
};
// Tried in this order at every "&"; the ";" after an entity is optional.
constexpr std::array<Entity, 25> kEntities{{
    {u"&brvbar", u"|"},    {u"&deg", u"\u00B0"}, {u"&#176", u"\u00B0"}, {u"&plusmn", u"+"},
    {u"&para", u"\u00B6"}, {u"&amp", u"&"},      {u"&lt", u"<"},        {u"&gt", u">"},
    {u"&copy", u"c"},      {u"&quot", u"\""},    {u"&apos", u"'"},      {u"&trade", u"T"},
    {u"&nbsp", u""},       {u"&car", u"\n"},     {u"&ret", u"\r"},      {u"&#009", u"\t"},
    {u"&#x9", u"\t"},      {u"&#010", u"\n"},    {u"&#xa", u"\n"},      {u"&#013", u"\r"},
    {u"&#xd", u"\r"},      {u"&#034", u"\""},    {u"&#34", u"\""},      {u"&#039", u"'"},
    {u"&#39", u"'"},
}};

void append_code_point(String& out, char32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
    out.push_back(0xFFFD);
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
  }
}

int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// A complete "&#N;" or "&#xH;" at `i`: its length and code point (over-long numbers give
// an out-of-range code point). 0 when there is none.
std::size_t numeric_reference(StringView s, std::size_t i, char32_t& cp) {
  std::size_t j = i + 2;
  if (j > s.size() || s[i + 1] != u'#') return 0;
  const bool hex = j < s.size() && (s[j] == u'x' || s[j] == u'X');
  if (hex) ++j;
  const std::size_t first = j;
  std::uint64_t v = 0;
  while (j < s.size()) {
    const int d = hex ? hex_digit(s[j]) : (s[j] >= u'0' && s[j] <= u'9' ? s[j] - u'0' : -1);
    if (d < 0) break;
    v = v * (hex ? 16 : 10) + static_cast<unsigned>(d);
    if (v > 0x10FFFF) v = 0x110000;
    ++j;
  }
  if (j == first || j >= s.size() || s[j] != u';') return 0;
  cp = static_cast<char32_t>(v);
  return j + 1 - i;
}

}  // namespace

String DecodeXMLEntities(StringView s) {
  String out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t amp = s.find(u'&', i);
    if (amp == StringView::npos) {
      out.append(s.substr(i));
      break;
    }
    out.append(s.substr(i, amp - i));
    i = amp;
    char32_t cp = 0;
    if (const std::size_t n = numeric_reference(s, i, cp)) {
      append_code_point(out, cp);
      i += n;
      continue;
    }
    bool matched = false;
    for (const Entity& e : kEntities) {
      if (s.substr(i, e.Name.size()) == e.Name) {
        out.append(e.Replacement);
        i += e.Name.size();
        if (i < s.size() && s[i] == u';') ++i;
        matched = true;
        break;
      }
    }
    if (!matched) {
      out.push_back(u'&');
      ++i;
    }
  }
  return out;
}

bool SameStrings(bool Exact, StringView S1, StringView S2) {
  if (Exact) return S1 == S2;
  if (S1.size() != S2.size()) return false;
  for (std::size_t i = 0; i < S1.size(); ++i)
    if (ascii_lower(S1[i]) != ascii_lower(S2[i])) return false;
  return true;
}

TDateTime XMLStringToDateTime(const String& S) {
  if (S.empty()) return 0;
  // Fixed 1-based positions: yyyy-mm-ddThh:nn:ss; separators are not examined.
  auto field = [&](std::size_t pos, std::size_t len, int& out) {
    if (pos - 1 >= S.size()) return false;
    const StringView f = StringView(S).substr(pos - 1, len);
    if (f.empty()) return false;
    constexpr Integer kBad = -2147483647 - 1;
    out = StrToIntDef(f, kBad);
    return out != kBad;
  };
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  if (!field(1, 4, y) || !field(6, 2, mo) || !field(9, 2, d) || !field(12, 2, h) || !field(15, 2, mi) ||
      !field(18, 2, sec))
    return 0;
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(y, mo, d, date) || !TryEncodeTime(h, mi, sec, 0, time)) return 0;
  return date + time;
}

// ---------------------------------------------------------------------------------------
// Items

QNINET_CLASS_INFO(TQNXMLItems)

TQNXMLItems::~TQNXMLItems() { Clear(); }

TQNXMLItem* TQNXMLItems::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format(u"List index out of bounds (%d)", index));
  return FList[static_cast<std::size_t>(index)];
}

TQNXMLItem* TQNXMLItems::AddItem(TQNXMLItem* ParentItem) {
  auto* item = new TQNXMLItem(ParentItem);
  if (ParentItem) item->FLevel = ParentItem->FLevel + 1;
  item->FContainer = this;
  FList.push_back(item);
  return item;
}

void TQNXMLItems::Clear() {
  while (!FList.empty()) {
    TQNXMLItem* item = FList.back();
    FList.pop_back();
    item->FContainer = nullptr;
    delete item;
  }
}

void TQNXMLItems::remove(const TQNXMLItem* item) {
  // Lists are emptied from the back, so search from there.
  for (std::size_t i = FList.size(); i-- > 0;) {
    if (FList[i] == item) {
      FList.erase(FList.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

namespace {

// A detached deep copy of `src` (level 0, no parent), built without recursion.
TQNXMLItem* clone_tree(const TQNXMLItem& src) {
  auto* root = new TQNXMLItem(nullptr);
  std::vector<std::pair<const TQNXMLItem*, TQNXMLItem*>> work{{&src, root}};
  while (!work.empty()) {
    auto [from, to] = work.back();
    work.pop_back();
    to->SetKind(from->Kind());
    to->SetTagName(from->TagName());
    to->SetValue(from->Value());
    to->SetAttributes(from->Attributes());
    const TQNXMLItems& kids = *from->Items();
    for (int i = 0; i < kids.Count(); ++i) work.emplace_back(kids[i], to->Items()->AddItem(to));
  }
  return root;
}

}  // namespace

void TQNXMLItems::adopt(TQNXMLItem* item) {
  item->FParentItem = FHolder;
  item->FContainer = this;
  const Integer base = FHolder ? FHolder->FLevel + 1 : 0;
  const Integer delta = base - item->FLevel;
  std::vector<TQNXMLItem*> work{item};
  while (!work.empty()) {
    TQNXMLItem* it = work.back();
    work.pop_back();
    it->FLevel += delta;
    for (TQNXMLItem* child : it->FItems.FList) work.push_back(child);
  }
  FList.push_back(item);
}

void TQNXMLItems::Assign(const TPersistent* Source) {
  if (Source == this) return;
  const auto* src = dynamic_cast<const TQNXMLItems*>(Source);
  if (!src) {
    TPersistent::Assign(Source);
    return;
  }
  // Copy first: the source may lie inside the subtree that Clear destroys.
  std::vector<TQNXMLItem*> copies;
  copies.reserve(src->FList.size());
  for (const TQNXMLItem* item : src->FList) copies.push_back(clone_tree(*item));
  Clear();
  for (TQNXMLItem* copy : copies) adopt(copy);
}

QNINET_CLASS_INFO(TQNXMLItem, Published("Kind", &Self::Kind, &Self::SetKind, ikProperty),
                  Published("TagName", &Self::TagName, &Self::SetTagName), value_property(),
                  Published("Items", &Self::Items))

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define QNINET_XML_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QNINET_XML_POOL 0
#endif
#endif
#ifndef QNINET_XML_POOL
#define QNINET_XML_POOL 1
#endif

// Fixed-size blocks for items. Chunks are never handed back, so a block freed on another
// thread simply joins that thread's free list.
struct FreeBlock {
  FreeBlock* Next;
};
constexpr std::size_t kItemBlock = (sizeof(TQNXMLItem) + alignof(std::max_align_t) - 1) /
                                   alignof(std::max_align_t) * alignof(std::max_align_t);
thread_local FreeBlock* tFreeItems = nullptr;

void refill_item_pool() {
  constexpr std::size_t kPerChunk = 4096;
  static std::mutex chunksMutex;
  static std::vector<std::unique_ptr<unsigned char[]>> chunks;
  auto chunk = std::make_unique<unsigned char[]>(kPerChunk * kItemBlock);
  for (std::size_t i = kPerChunk; i-- > 0;) {
    auto* b = reinterpret_cast<FreeBlock*>(chunk.get() + i * kItemBlock);
    b->Next = tFreeItems;
    tFreeItems = b;
  }
  const std::lock_guard<std::mutex> lock(chunksMutex);
  chunks.push_back(std::move(chunk));
}

}  // namespace

void* TQNXMLItem::operator new(std::size_t size) {
  if (!QNINET_XML_POOL || size != sizeof(TQNXMLItem)) return ::operator new(size);
  if (!tFreeItems) refill_item_pool();
  FreeBlock* b = tFreeItems;
  tFreeItems = b->Next;
  return b;
}

void TQNXMLItem::operator delete(void* block, std::size_t size) noexcept {
  if (!QNINET_XML_POOL || size != sizeof(TQNXMLItem)) {
    ::operator delete(block);
    return;
  }
  auto* b = static_cast<FreeBlock*>(block);
  b->Next = tFreeItems;
  tFreeItems = b;
}

namespace {
TComponent* component_owner(TComponent* AOwner) {
  // Items under an item belong to the Items list they join, not to the component list of
  // the parent: that keeps building and destroying wide and deep trees linear.
  return dynamic_cast<TQNXMLItem*>(AOwner) ? nullptr : AOwner;
}
}  // namespace

TQNXMLItem::TQNXMLItem(TComponent* AOwner) : TComponent(component_owner(AOwner)) {
  FItems.FHolder = this;
  FParentItem = dynamic_cast<TQNXMLItem*>(AOwner);
}

TQNXMLItem::~TQNXMLItem() {
  if (FContainer) FContainer->remove(this);
  FContainer = nullptr;
  // Take the subtree apart with an explicit stack: each node is emptied before it is
  // deleted, so no destructor recurses.
  std::vector<TQNXMLItem*> work;
  work.swap(FItems.FList);
  while (!work.empty()) {
    TQNXMLItem* item = work.back();
    work.pop_back();
    item->FContainer = nullptr;
    for (TQNXMLItem* child : item->FItems.FList) work.push_back(child);
    item->FItems.FList.clear();
    delete item;
  }
}

TPersistent* TQNXMLItem::GetOwner() const {
  if (FParentItem) return FParentItem;
  return TComponent::GetOwner();
}

void TQNXMLItem::SetValue(const Variant& value) {
  FValueAssigned = !value.IsUnassigned();
  FValueText = FValueAssigned ? value.AsString() : String();
}

void TQNXMLItem::append_value(const String& text) {
  if (!FValueAssigned) {
    FValueText = text;
    FValueAssigned = true;
  } else {
    FValueText += text;
  }
}

void TQNXMLItem::Assign(const TPersistent* Source) {
  if (Source == this) return;
  const auto* src = dynamic_cast<const TQNXMLItem*>(Source);
  if (!src) {
    TComponent::Assign(Source);
    return;
  }
  FKind = src->FKind;
  FTagName = src->FTagName;
  FValueAssigned = src->FValueAssigned;
  FValueText = src->FValueText;
  FAttributes = src->FAttributes;
  FItems.Assign(&src->FItems);
}

TQNXMLItem* TQNXMLItem::GetChild(const String& XMLTag, bool ExpandAllLevels) const {
  std::vector<const TQNXMLItem*> work{this};
  while (!work.empty()) {
    const TQNXMLItem* item = work.back();
    work.pop_back();
    if (item->FTagName == XMLTag) return const_cast<TQNXMLItem*>(item);
    if (!ExpandAllLevels && item->FLevel - FLevel >= 2) continue;
    const auto& kids = item->FItems.FList;
    for (std::size_t i = kids.size(); i-- > 0;) work.push_back(kids[i]);
  }
  return nullptr;
}

String TQNXMLItem::GetTagXMLValue() const {
  String text = FValueText;
  if (!text.empty() && text[0] == u'"') {
    while (!text.empty() && (text.back() == 32 || text.back() == 34 || text.back() == 13 ||
                             text.back() == 10 || text.back() == 9))
      text.pop_back();
    if (!text.empty()) text.erase(0, 1);
  }
  return text;
}

String TQNXMLItem::GetTagValue() const {
  String text = GetTagXMLValue();
  if (text.find(u'&') == String::npos) return text;
  return DecodeXMLEntities(text);
}

void TQNXMLItem::ProcessAttributes() {
  if (FAttributes.empty()) return;
  const String attrs = std::move(FAttributes);
  FAttributes.clear();
  String name, value;
  bool inQuote = false, inName = true;
  const std::size_t n = attrs.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = attrs[i];
    if (c == u'"') inQuote = !inQuote;
    if (!inQuote && c == u'=')
      inName = false;
    else
      (inName ? name : value).push_back(c);
    if (!inQuote && (is_blank(c) || i + 1 == n)) {
      if (!name.empty() && !value.empty()) {
        TQNXMLItem* item = FItems.AddItem(this);
        item->FKind = ikAttribute;
        item->FTagName = std::move(name);
        item->FValueText = std::move(value);
        item->FValueAssigned = true;
      }
      name.clear();
      value.clear();
      inName = true;
    }
  }
}

// ---------------------------------------------------------------------------------------
// The parser

namespace {

// The text as UTF-16 units.
struct WideSource {
  const char16_t* Data;
  std::size_t Size;
  char16_t at(std::size_t i) const { return Data[i]; }
  String slice(std::size_t from, std::size_t to) const { return String(Data + from, Data + to); }
};

// Bytes of an ASCII-compatible single-byte code page: markup is ASCII, so the scan reads
// the bytes as they are and only the texts taken out are mapped through the table.
struct ByteSource {
  const unsigned char* Data;
  std::size_t Size;
  const char16_t* Table;
  char16_t at(std::size_t i) const { return Data[i]; }
  String slice(std::size_t from, std::size_t to) const {
    String s(to - from, u'\0');
    unsigned high = 0;
    for (std::size_t i = from; i < to; ++i) high |= Data[i];
    if (high < 0x80) {
      // ASCII maps to itself: a plain widening copy the compiler vectorises.
      for (std::size_t i = from; i < to; ++i) s[i - from] = Data[i];
    } else {
      for (std::size_t i = from; i < to; ++i) s[i - from] = Table[Data[i]];
    }
    return s;
  }
};

}  // namespace

// Positions are 1-based as in the rules the parser follows; c(p) reads NUL outside the text.
template <class Source>
class XMLParser {
public:
  XMLParser(TQNXMLEngine& engine, const Source& src, std::size_t length)
      : FEngine(engine), FSrc(src), L(length) {}

  void run() {
    read_text(false);
    while (p < L && c(p) != 0) {
      if (!token()) return;
    }
  }

private:
  char16_t c(std::size_t q) const { return q >= 1 && q <= FSrc.Size ? FSrc.at(q - 1) : char16_t(0); }

  String read_text(bool keep = true) {
    while (p <= L && c(p) == u'>') ++p;
    const std::size_t start = p;
    while (p <= L) {
      const char16_t ch = FSrc.at(p - 1);
      if (ch < 256 && kTextStop[ch] && (ch != u'/' || c(p + 1) == u'>')) break;
      ++p;
    }
    String result = keep ? FSrc.slice(start - 1, p - 1) : String();
    if (c(p) == u'<') ++p;
    return result;
  }

  String read_name() {
    const std::size_t start = p;
    while (p <= L && is_name_char(FSrc.at(p - 1))) ++p;
    return FSrc.slice(start - 1, p - 1);
  }

  String read_attributes() {
    const std::size_t start = p;
    bool inQuote = false;
    while (p <= L) {
      const char16_t ch = FSrc.at(p - 1);
      if (ch == 0 || ch == u'>' || (ch == u'/' && !inQuote)) break;
      if (ch == u'"') inQuote = !inQuote;
      ++p;
    }
    return FSrc.slice(start - 1, p - 1);
  }

  String read_comment() {
    const std::size_t start = p;
    while (p <= L && c(p) != 0) {
      if (c(p) == u'-' && c(p + 1) == u'-' && c(p + 2) == u'>') {
        p += 3;
        String result = FSrc.slice(start - 1, p - 2);
        while (p <= L && is_blank(c(p))) ++p;
        if (c(p) == u'<') ++p;
        return result;
      }
      ++p;
    }
    return String();
  }

  void skip_tag(bool stepPast) {
    while (p <= L && c(p) != 0 && c(p) != u'<') ++p;
    if (stepPast && c(p) == u'<') ++p;
  }

  // Skips a refused element and its content, counting nested start and end tags.
  void skip_element(std::size_t tokenStart) {
    std::size_t depth = 1;
    if (!(c(p) == u'/' && c(p + 1) == u'>')) {
      // Back to the ">" that ends the refused start tag, but never before the tag itself:
      // going further would re-read earlier content, without end on a vetoing handler.
      --p;
      while (p > tokenStart && c(p) != 0 && c(p) != u'>') --p;
    }
    while (p <= L && depth > 0) {
      if (c(p) == u'/' && c(p + 1) == u'>') {
        --depth;
        p += 2;
      } else if (c(p) == u'<' && c(p + 1) == u'/') {
        --depth;
        p += 2;
        skip_tag(false);
      } else {
        if (c(p) == u'<') ++depth;
        ++p;
      }
    }
    skip_tag(true);
  }

  void convert(String& text) const {
    if (text.empty()) return;
    if (FUtf8) {
      if (!all_ascii(text)) text = Utf8Decode(text);
    } else if (FWindows) {
      if (FWindowsAsciiSafe && all_ascii(text)) return;
      std::string bytes;
      sys::encode_text(text, FAnsi, bytes);
      text = sys::decode_bytes(bytes, FWindowsCharset);
    }
  }

  void declare_encoding(const String& encoding) {
    FUtf8 = !FEngine.UTF8Processed && SameStrings(false, encoding, u"utf-8");
    FWindows = false;
    if (FUtf8) return;
    if (encoding.size() >= 8 && SameStrings(false, StringView(encoding).substr(0, 8), u"windows-")) {
      FWindows = true;
      FAnsi = sys::ansi_code_page();
      constexpr Integer kNoNumber = -2147483647 - 1;
      const Integer cp = StrToIntDef(StringView(encoding).substr(8), kNoNumber);
      FWindowsCharset = cp == kNoNumber ? FAnsi : sys::code_page_name(cp);
      auto ascii_identity = [](const std::string& cs) {
        if (SameText(FromUtf8(cs), u"utf-8")) return true;
        const char16_t* t = sys::single_byte_table(cs);
        if (!t) return false;
        for (char16_t b = 0; b < 0x80; ++b)
          if (t[b] != b) return false;
        return true;
      };
      FWindowsAsciiSafe = ascii_identity(FAnsi) && ascii_identity(FWindowsCharset);
    }
  }

  // One markup token; false when a handler cancelled the parse.
  bool token() {
    const std::size_t tokenStart = p;
    String name = read_name();
    String attrs, value;
    const bool comment = name.size() >= 3 && name[0] == u'!' && name[1] == u'-' && name[2] == u'-';
    if (comment) {
      name = u"Comment";
      value = u"Comment" + read_comment();
    } else {
      attrs = read_attributes();
      value = read_text();
      convert(attrs);
      convert(value);
    }

    bool accept = true;
    if (!name.empty()) {
      if (!FCurrent) {
        FCurrent = FEngine.RootItem();
      } else {
        if (FEngine.OnTag()) FEngine.OnTag()(&FEngine, FCurrent, name, value, attrs, accept);
        if (accept) FCurrent = FCurrent->Items()->AddItem(FCurrent);
      }
    }

    if (accept) {
      // A nameless token with nothing open (a stray "/" or blank after the document) has
      // no item to go to and is dropped.
      if (TQNXMLItem* item = FCurrent) {
        item->FTagName = std::move(name);
        if (!value.empty()) item->append_value(value);
        if (comment) {
          item->FKind = ikComment;
          FCurrent = item->FParentItem;
        } else {
          item->FKind = ikProperty;
          if (!attrs.empty()) {
            item->FAttributes = std::move(attrs);
            if (SameStrings(false, item->FTagName, u"?xml")) process_declaration(*item);
          }
        }
      }
    } else {
      skip_element(tokenStart);
    }

    while (p < L && c(p) != 0 && c(p) == u'/') {
      if (!FCurrent) {
        // Nothing left to close: step over the stray end tag so the scan moves on.
        skip_tag(true);
        break;
      }
      if (c(p + 1) == u'>' && p + 1 == L) {
        ++p;
        break;
      }
      TQNXMLItem* closed = FCurrent;
      FCurrent = closed->FParentItem;
      bool cancel = false;
      if (FEngine.OnAfterTag()) {
        TQNXMLItem* node = closed;
        FEngine.OnAfterTag()(&FEngine, node, cancel);
        if (cancel) return false;
      }
      skip_tag(true);
    }
    return true;
  }

  void process_declaration(TQNXMLItem& item) {
    const int before = item.Items()->Count();
    item.ProcessAttributes();
    // Only the attributes this declaration produced: the root may still hold the items of
    // an earlier document, and searching them again for every declaration would be
    // quadratic.
    const TQNXMLItems& kids = *item.Items();
    for (int i = before; i < kids.Count(); ++i) {
      if (SameStrings(false, kids[i]->TagName(), u"encoding")) {
        declare_encoding(kids[i]->GetTagValue());
        return;
      }
    }
  }

  TQNXMLEngine& FEngine;
  const Source& FSrc;
  std::size_t L;
  std::size_t p = 1;
  TQNXMLItem* FCurrent = nullptr;
  bool FUtf8 = false;
  bool FWindows = false;
  bool FWindowsAsciiSafe = false;
  std::string FAnsi, FWindowsCharset;
};

// ---------------------------------------------------------------------------------------
// The engine

QNINET_CLASS_INFO(TQNXMLEngine, Published("RootItem", &Self::RootItem), PublishedEvent("OnTag", &Self::OnTag),
                  PublishedEvent("OnAfterTag", &Self::OnAfterTag))

TQNXMLEngine::TQNXMLEngine(TComponent* AOwner) : TComponent(AOwner), FRootItem(new TQNXMLItem(this)) {}

TQNXMLEngine::~TQNXMLEngine() {
  delete FRootItem;
  FRootItem = nullptr;
}

void TQNXMLEngine::ParseXMLFromString(const String& AText, Integer ALength) {
  if (!FRootItem) FRootItem = new TQNXMLItem(this);
  const std::size_t length =
      ALength <= 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(ALength), AText.size());
  const WideSource src{AText.data(), AText.size()};
  XMLParser<WideSource>(*this, src, length).run();
}

TQNXMLItem* TQNXMLEngine::GetItemByTag(TQNXMLItem* ARoot, const String& XMLTag) const {
  TQNXMLItem* start = ARoot ? ARoot : FRootItem;
  if (!start) return nullptr;
  std::vector<TQNXMLItem*> work{start};
  while (!work.empty()) {
    TQNXMLItem* item = work.back();
    work.pop_back();
    if (SameStrings(false, item->TagName(), XMLTag)) return item;
    const TQNXMLItems& kids = *item->Items();
    for (int i = kids.Count(); i-- > 0;) work.push_back(kids[i]);
  }
  return nullptr;
}

String TQNXMLEngine::GetFirstTagName(String& AXMLPath) const {
  const std::size_t slash = AXMLPath.find(u'/');
  String result;
  if (slash == String::npos) {
    result = std::move(AXMLPath);
    AXMLPath.clear();
  } else {
    result = AXMLPath.substr(0, slash);
    AXMLPath.erase(0, slash + 1);
  }
  return result;
}

String TQNXMLEngine::GetLastTagName(String& AXMLPath) const {
  const std::size_t slash = AXMLPath.rfind(u'/');
  String result;
  if (slash == String::npos) {
    result = std::move(AXMLPath);
    AXMLPath.clear();
  } else {
    result = AXMLPath.substr(slash + 1);
    AXMLPath.erase(slash);
  }
  return result;
}

namespace {

std::string read_bytes(TStream& stream, Integer count) {
  std::string bytes;
  if (count <= 0) return bytes;
  bytes.resize(static_cast<std::size_t>(count));
  std::size_t got = 0;
  while (got < bytes.size()) {
    const Int64 n = stream.Read(bytes.data() + got, static_cast<Int64>(bytes.size() - got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

String decode_utf16(std::string_view bytes, bool bigEndian) {
  return sys::decode_bytes(bytes.substr(0, bytes.size() & ~std::size_t{1}),
                           bigEndian ? "UTF-16BE" : "UTF-16LE");
}

// The system code page when it is single-byte and keeps ASCII as it is, else none.
const char16_t* ascii_compatible_table(const std::string& charset) {
  const char16_t* t = sys::single_byte_table(charset);
  if (!t) return nullptr;
  for (char16_t b = 0; b < 0x80; ++b)
    if (t[b] != b) return nullptr;
  return t;
}

}  // namespace

void TQNXMLEngine::LoadFromStream(Integer AStreamSize, TStream* AStream) {
  if (!FRootItem) FRootItem = new TQNXMLItem(this);
  FRootItem->Items()->Clear();
  if (!AStream) return;
  // Sizes are 32-bit, as the stream interface of this engine has always taken them.
  const Integer size =
      static_cast<Integer>(AStreamSize != 0 ? AStreamSize : static_cast<Integer>(AStream->Size())) -
      static_cast<Integer>(AStream->Position());
  unsigned mark = 0;
  Int64 probed = 0;
  if (AStreamSize == 0) {
    unsigned char b[2] = {0, 0};
    probed = AStream->Read(b, 2);
    if (probed == 2) mark = static_cast<unsigned>(b[0] | b[1] << 8);
  }
  UTF8Processed = false;

  String text;
  if (mark == 0xFEFF || mark == 0xFFFE) {
    const Integer n = size - 2;
    if (n <= 0) return;
    text = decode_utf16(read_bytes(*AStream, n), mark == 0xFFFE);
    UTF8Processed = true;
  } else {
    if (AStreamSize == 0 && probed > 0) AStream->Seek(-probed, soCurrent);
    std::string bytes = read_bytes(*AStream, size);
    auto starts = [&](std::string_view m) {
      return bytes.size() >= m.size() && std::string_view(bytes).substr(0, m.size()) == m;
    };
    if (starts("\xEF\xBB\xBF")) {
      text = FromUtf8(std::string_view(bytes).substr(3));
      UTF8Processed = true;
    } else if (starts("\xFF\xFE")) {
      text = decode_utf16(std::string_view(bytes).substr(2), false);
    } else if (starts("\xFE\xFF")) {
      text = decode_utf16(std::string_view(bytes).substr(2), true);
    } else {
      const std::string ansi = sys::ansi_code_page();
      if (const char16_t* table = ascii_compatible_table(ansi)) {
        // Parse the bytes in place: no UTF-16 copy of the whole document.
        std::size_t n = bytes.size();
        if (n > 0 && bytes[n - 1] == '\x1B') --n;
        if (n == 0) return;
        const ByteSource src{reinterpret_cast<const unsigned char*>(bytes.data()), n, table};
        XMLParser<ByteSource>(*this, src, n).run();
        return;
      }
      text = sys::decode_bytes(bytes, ansi);
    }
  }
  if (!text.empty() && text.back() == 27) text.pop_back();
  if (!text.empty()) ParseXMLFromString(text, static_cast<Integer>(text.size()));
}

void TQNXMLEngine::LoadFromFile(const String& AFileName) {
  TFileStream stream(AFileName, fmOpenRead);
  stream.SetPosition(0);
  LoadFromStream(0, &stream);
}

}  // namespace qninet
