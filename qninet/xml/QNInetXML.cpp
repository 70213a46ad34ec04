#include "qninet/xml/QNInetXML.h"

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "qninet/core/Entities.h"
#include "qninet/sys/AsciiText.h"
#include "qninet/sys/Utf8.h"
#include "qninet/xml/XMLDocument.h"

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

// A value that starts with a double quote loses it, and its trailing blanks and quotes.
void strip_quotes(String& text) {
  if (!text.empty() && text[0] == u'"') {
    while (!text.empty() && (text.back() == 32 || text.back() == 34 || text.back() == 13 ||
                             text.back() == 10 || text.back() == 9))
      text.pop_back();
    if (!text.empty()) text.erase(0, 1);
  }
}

void append_code_point(String& out, char32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
    out.push_back(0xFFFD);
  } else {
    sys::append_utf16(out, cp);
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
    if (const entities::Entity* e = entities::match_prefix(s.substr(i))) {
      out.append(e->Replacement);
      i += e->Name.size();
      if (i < s.size() && s[i] == u';') ++i;
    } else {
      out.push_back(u'&');
      ++i;
    }
  }
  return out;
}

bool SameStrings(bool Exact, StringView S1, StringView S2) {
  if (Exact) return S1 == S2;
  return sys::equal_ascii_nocase(S1, S2);
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
  return ComposeDateTime(date, time);
}

// ---------------------------------------------------------------------------------------
// Items

QNINET_CLASS_INFO(TQNXMLItems)

TQNXMLItems::~TQNXMLItems() { Clear(); }

int TQNXMLItems::Count() const {
  expand();
  return static_cast<int>(FList.size());
}

TQNXMLItem* TQNXMLItems::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format(u"List index out of bounds (%d)", index));
  return slot(static_cast<std::size_t>(index));
}

TQNXMLItem* TQNXMLItems::operator[](int index) const {
  expand();
  return slot(static_cast<std::size_t>(index));
}

void TQNXMLItems::attach(std::shared_ptr<const XMLDocument> doc, std::uint32_t node) {
  FDoc = std::move(doc);
  FLazyNode = node;
  if (FHolder) FHolder->FNode = node;
}

void TQNXMLItems::expand() const {
  if (FLazyNode == kNoNode) return;
  const XMLDocument& doc = *FDoc;
  const std::uint32_t parent = FLazyNode;
  FLazyNode = kNoNode;
  FNodes.resize(FList.size(), kNoNode);
  for (std::uint32_t c = doc.node(parent).FirstChild; c != XMLDocument::kNone; c = doc.node(c).NextSibling) {
    FList.push_back(nullptr);
    FNodes.push_back(c);
  }
}

TQNXMLItem* TQNXMLItems::slot(std::size_t index) const {
  TQNXMLItem*& item = FList[index];
  if (item) return item;
  const XMLDocument& doc = *FDoc;
  const std::uint32_t n = FNodes[index];
  item = new TQNXMLItem(FHolder, TQNXMLItem::ChildOf{});
  if (FHolder) item->FLevel = FHolder->FLevel + 1;
  item->FContainer = const_cast<TQNXMLItems*>(this);
  item->FNode = n;
  item->FKind = doc.kind(n);
  item->FTagName = doc.name(n);
  if (doc.assigned(n)) {
    item->FValueAssigned = true;
    item->FValueText = doc.value(n);
  }
  item->FAttributes = doc.attributes(n);
  if (doc.node(n).FirstChild != XMLDocument::kNone) item->FItems.attach(FDoc, n);
  return item;
}

void TQNXMLItems::settle() {
  expand();
  if (!FDoc) return;
  for (std::size_t i = 0; i < FList.size(); ++i) slot(i);
  FNodes.clear();
  FDoc.reset();
}

TQNXMLItem* TQNXMLItems::AddItem(TQNXMLItem* ParentItem) {
  settle();
  auto* item = new TQNXMLItem(ParentItem, TQNXMLItem::ChildOf{});
  if (ParentItem) item->FLevel = ParentItem->FLevel + 1;
  item->FContainer = this;
  FList.push_back(item);
  return item;
}

void TQNXMLItems::Clear() {
  FLazyNode = kNoNode;
  while (!FList.empty()) {
    TQNXMLItem* item = FList.back();
    FList.pop_back();
    if (!item) continue;
    item->FContainer = nullptr;
    delete item;
  }
  FNodes.clear();
  FDoc.reset();
}

void TQNXMLItems::remove(const TQNXMLItem* item) {
  // Lists are emptied from the back, so search from there.
  for (std::size_t i = FList.size(); i-- > 0;) {
    if (FList[i] == item) {
      FList.erase(FList.begin() + static_cast<std::ptrdiff_t>(i));
      if (!FNodes.empty()) FNodes.erase(FNodes.begin() + static_cast<std::ptrdiff_t>(i));
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
  copies.reserve(static_cast<std::size_t>(src->Count()));
  for (int i = 0; i < src->Count(); ++i) copies.push_back(clone_tree(*(*src)[i]));
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

// Fixed-size blocks for items: freed blocks first, then the rest of the newest chunk. Chunks
// are never handed back, so a block freed on another thread simply joins that thread's list.
struct FreeBlock {
  FreeBlock* Next;
};
constexpr std::size_t kItemBlock = (sizeof(TQNXMLItem) + alignof(std::max_align_t) - 1) /
                                   alignof(std::max_align_t) * alignof(std::max_align_t);
constexpr std::size_t kChunkBlocks = 4096;
thread_local FreeBlock* tFreeItems = nullptr;
thread_local unsigned char* tChunkNext = nullptr;
thread_local unsigned char* tChunkEnd = nullptr;

void* new_chunk_block() {
  static std::mutex chunksMutex;
  static std::vector<std::unique_ptr<unsigned char[]>> chunks;
  // Left uninitialised: each block is written only when an item is built in it.
  std::unique_ptr<unsigned char[]> chunk(new unsigned char[kChunkBlocks * kItemBlock]);
  tChunkNext = chunk.get() + kItemBlock;
  tChunkEnd = chunk.get() + kChunkBlocks * kItemBlock;
  void* first = chunk.get();
  const std::lock_guard<std::mutex> lock(chunksMutex);
  chunks.push_back(std::move(chunk));
  return first;
}

}  // namespace

void* TQNXMLItem::operator new(std::size_t size) {
  if (!QNINET_XML_POOL || size != sizeof(TQNXMLItem)) return ::operator new(size);
  if (FreeBlock* b = tFreeItems) {
    tFreeItems = b->Next;
    return b;
  }
  if (tChunkNext == tChunkEnd) return new_chunk_block();
  void* b = tChunkNext;
  tChunkNext += kItemBlock;
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

TQNXMLItem::TQNXMLItem(TQNXMLItem* parent, ChildOf) : TComponent(nullptr), FParentItem(parent) {
  FItems.FHolder = this;
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
    if (!item) continue;  // never made
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

void TQNXMLItem::append_value(String text) {
  if (!FValueAssigned) {
    FValueText = std::move(text);
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
    const TQNXMLItems& kids = item->FItems;
    for (int i = kids.Count(); i-- > 0;) work.push_back(kids[i]);
  }
  return nullptr;
}

String TQNXMLItem::GetTagXMLValue() const {
  String text = FValueText;
  strip_quotes(text);
  return text;
}

String XMLTagValue(StringView Value) {
  String text(Value);
  strip_quotes(text);
  if (text.find(u'&') == String::npos) return text;
  return DecodeXMLEntities(text);
}

String TQNXMLItem::GetTagValue() const { return XMLTagValue(FValueText); }

void TQNXMLItem::ProcessAttributes() {
  if (FAttributes.empty()) return;
  const String attrs = std::move(FAttributes);
  FAttributes.clear();
  SplitXMLAttributes(attrs, [this](String name, String value) {
    TQNXMLItem* item = FItems.AddItem(this);
    item->FKind = ikAttribute;
    item->FTagName = std::move(name);
    item->FValueText = std::move(value);
    item->FValueAssigned = true;
  });
}

void SplitXMLAttributes(StringView attrs, const std::function<void(String, String)>& Add) {
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
      if (!name.empty() && !value.empty()) Add(std::move(name), std::move(value));
      name.clear();
      value.clear();
      inName = true;
    }
  }
}

// ---------------------------------------------------------------------------------------
// The engine

QNINET_CLASS_INFO(TQNXMLEngine, Published("RootItem", &Self::RootItem), PublishedEvent("OnTag", &Self::OnTag),
                  PublishedEvent("OnAfterTag", &Self::OnAfterTag))

TQNXMLEngine::TQNXMLEngine(TComponent* AOwner) : TComponent(AOwner), FRootItem(new TQNXMLItem(this)) {}

TQNXMLEngine::~TQNXMLEngine() {
  delete FRootItem;
  FRootItem = nullptr;
}

// Walks made items and table nodes together in document order, making nothing until asked.
struct XMLWalk {
  struct Step {
    TQNXMLItem* Item;  // an item to visit, else nodes of Doc from Node on
    const XMLDocument* Doc;
    std::uint32_t Node;
    bool Chain;          // Node and the siblings after it
    bool Leave;          // the end of Item's items
    TQNXMLItem* Anchor;  // the made item whose list holds the nodes
    std::size_t Depth;
  };
  struct Hit {
    TQNXMLItem* Item = nullptr;
    const XMLDocument* Doc = nullptr;
    std::uint32_t Node = XMLDocument::kNone;
    TQNXMLItem* Anchor = nullptr;
  };

  // `enterItem(item, depth)` and `enterNode(doc, node, depth)` return true to stop there;
  // `leave()` follows the items of every visited item.
  template <class EnterItem, class EnterNode, class Leave>
  static Hit walk(TQNXMLItem* root, EnterItem&& enterItem, EnterNode&& enterNode, Leave&& leave) {
    std::vector<Step> work{{root, nullptr, 0, false, false, nullptr, 0}};
    while (!work.empty()) {
      const Step step = work.back();
      work.pop_back();
      if (step.Leave) {
        leave();
        continue;
      }
      if (TQNXMLItem* item = step.Item) {
        if (enterItem(*item, step.Depth)) return Hit{item};
        work.push_back({nullptr, nullptr, 0, false, true, nullptr, 0});
        const TQNXMLItems& list = item->FItems;
        if (list.FLazyNode != TQNXMLItems::kNoNode) {
          const std::uint32_t first = list.FDoc->node(list.FLazyNode).FirstChild;
          if (first != XMLDocument::kNone)
            work.push_back({nullptr, list.FDoc.get(), first, true, false, item, step.Depth + 1});
        }
        for (std::size_t i = list.FList.size(); i-- > 0;) {
          if (list.FList[i])
            work.push_back({list.FList[i], nullptr, 0, false, false, nullptr, step.Depth + 1});
          else
            work.push_back({nullptr, list.FDoc.get(), list.FNodes[i], false, false, item, step.Depth + 1});
        }
        continue;
      }
      // Table nodes: pre-order along the links, no stack.
      const XMLDocument& doc = *step.Doc;
      std::uint32_t top = step.Node, n = top;
      std::size_t depth = step.Depth;
      for (bool more = true; more;) {
        if (enterNode(doc, n, depth)) return Hit{nullptr, &doc, n, step.Anchor};
        if (doc.node(n).FirstChild != XMLDocument::kNone) {
          n = doc.node(n).FirstChild;
          ++depth;
          continue;
        }
        for (;;) {
          leave();
          const std::uint32_t next = doc.node(n).NextSibling;
          if (n == top) {
            more = step.Chain && next != XMLDocument::kNone;
            top = n = next;
            break;
          }
          if (next != XMLDocument::kNone) {
            n = next;
            break;
          }
          n = doc.node(n).Parent;
          --depth;
        }
      }
    }
    return Hit{};
  }

  // The item of a hit, made with every item between it and its anchor.
  static TQNXMLItem* made(const Hit& hit) {
    if (hit.Item || !hit.Doc) return hit.Item;
    std::vector<std::uint32_t> chain;
    for (std::uint32_t m = hit.Node; m != hit.Anchor->FNode; m = hit.Doc->node(m).Parent) chain.push_back(m);
    TQNXMLItem* item = hit.Anchor;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      const TQNXMLItems& list = item->FItems;
      list.expand();
      std::size_t i = 0;
      while (list.FNodes[i] != *it) ++i;
      item = list.slot(i);
    }
    return item;
  }

  static TQNXMLNodeView view(const TQNXMLItem& item) {
    return {item.FKind, item.FTagName, item.FValueAssigned, item.FValueText, item.FAttributes};
  }
  static TQNXMLNodeView view(const XMLDocument& doc, std::uint32_t n) {
    return {doc.kind(n), doc.name(n), doc.assigned(n), doc.value(n), doc.attributes(n)};
  }
};

TQNXMLItem* TQNXMLEngine::GetItemByTag(TQNXMLItem* ARoot, const String& XMLTag) const {
  TQNXMLItem* start = ARoot ? ARoot : FRootItem;
  if (!start) return nullptr;
  // Each interned name is compared once.
  const XMLDocument* cached = nullptr;
  std::vector<signed char> matches;
  const XMLWalk::Hit hit = XMLWalk::walk(
      start, [&](const TQNXMLItem& item, std::size_t) { return SameStrings(false, item.TagName(), XMLTag); },
      [&](const XMLDocument& doc, std::uint32_t n, std::size_t) {
        if (&doc != cached) {
          cached = &doc;
          matches.assign(doc.Names.size(), -1);
        }
        signed char& m = matches[doc.name_id(n)];
        if (m < 0) m = SameStrings(false, doc.name(n), XMLTag) ? 1 : 0;
        return m == 1;
      },
      [] {});
  return XMLWalk::made(hit);
}

void TQNXMLEngine::WalkTree(const TQNXMLItem& ARoot,
                            const std::function<void(const TQNXMLNodeView&, std::size_t)>& Enter,
                            const std::function<void()>& Leave) {
  XMLWalk::walk(
      const_cast<TQNXMLItem*>(&ARoot),
      [&](const TQNXMLItem& item, std::size_t depth) {
        Enter(XMLWalk::view(item), depth);
        return false;
      },
      [&](const XMLDocument& doc, std::uint32_t n, std::size_t depth) {
        Enter(XMLWalk::view(doc, n), depth);
        return false;
      },
      [&] {
        if (Leave) Leave();
      });
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

}  // namespace qninet
