#include "qninet/xml/QNInetXML.h"

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

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

}  // namespace

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

// ---------------------------------------------------------------------------------------
// The engine

QNINET_CLASS_INFO(TQNXMLEngine, Published("RootItem", &Self::RootItem), PublishedEvent("OnTag", &Self::OnTag),
                  PublishedEvent("OnAfterTag", &Self::OnAfterTag))

TQNXMLEngine::TQNXMLEngine(TComponent* AOwner) : TComponent(AOwner), FRootItem(new TQNXMLItem(this)) {}

TQNXMLEngine::~TQNXMLEngine() {
  delete FRootItem;
  FRootItem = nullptr;
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
