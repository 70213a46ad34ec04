#include "qninet/rtl/Collections.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace qninet {

namespace {

// An unmade slot holds its token shifted left and marked by the low bit, which no item's
// address has.
bool unmade(const TCollectionItem* slot) { return (reinterpret_cast<std::uintptr_t>(slot) & 1) != 0; }
TCollectionItem* unmade_slot(std::uintptr_t token) {
  return reinterpret_cast<TCollectionItem*>(token << 1 | 1);
}
std::atomic_ref<TCollectionItem*> slot_ref(const std::vector<TCollectionItem*>& items, std::size_t i) {
  return std::atomic_ref<TCollectionItem*>(const_cast<TCollectionItem*&>(items[i]));
}
// Making an item is rare (once per slot) and short: one lock serves every collection.
std::mutex g_making;

}  // namespace

QNINET_CLASS_INFO(TCollectionItem)
QNINET_CLASS_INFO(TCollection)

TCollectionItem::TCollectionItem(TCollection* Collection) { SetCollection(Collection); }

TCollectionItem::~TCollectionItem() {
  if (FCollection) FCollection->remove_item(this);
}

void TCollectionItem::SetCollection(TCollection* value) {
  if (value == FCollection) return;
  if (FCollection) FCollection->remove_item(this);
  if (value) value->insert_item(this);
}

int TCollectionItem::Index() const {
  if (!FCollection) return -1;
  const auto& items = FCollection->FItems;
  return static_cast<int>(std::find(items.begin(), items.end(), this) - items.begin());
}

void TCollectionItem::SetIndex(int value) {
  const int current = Index();
  if (current < 0 || value == current || value < 0 || value >= FCollection->Count()) return;
  auto& items = FCollection->FItems;
  items.erase(items.begin() + current);
  items.insert(items.begin() + value, this);
  Changed(true);
}

TPersistent* TCollectionItem::GetOwner() const { return FCollection; }

void TCollectionItem::Changed(bool allItems) {
  if (FCollection && FCollection->FUpdateCount == 0) FCollection->Update(allItems ? nullptr : this);
}

TCollection::TCollection(const TClassInfo& itemClass, ItemFactory factory, TPersistent* owner)
    : FItemClass(itemClass), FFactory(std::move(factory)), FOwner(owner) {}

TCollection::~TCollection() {
  FUpdateCount = 1;  // no updates while tearing down
  Clear();
}

void TCollection::insert_item(TCollectionItem* item) {
  FItems.push_back(item);
  item->FCollection = this;
  item->FID = FNextID++;
  Changed();
}

void TCollection::remove_item(TCollectionItem* item) {
  // From the back: Clear and destruction delete the last item first, so each removal is O(1).
  const auto it = std::find(FItems.rbegin(), FItems.rend(), item);
  if (it == FItems.rend()) return;
  FItems.erase(std::next(it).base());
  item->FCollection = nullptr;
  Changed();
}

TCollectionItem* TCollection::Add() {
  TCollectionItem* item = FFactory(this);
  if (item->Collection() != this) item->SetCollection(this);
  return item;
}

TCollectionItem* TCollection::Insert(int index) {
  TCollectionItem* item = Add();
  item->SetIndex(index);
  return item;
}

TCollectionItem* TCollection::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format(u"List index out of bounds (%d)", index));
  const auto i = static_cast<std::size_t>(index);
  TCollectionItem* item = slot_ref(FItems, i).load(std::memory_order_acquire);
  return unmade(item) ? make_item(i) : item;
}

TCollectionItem* TCollection::make_item(std::size_t index) const {
  const std::lock_guard lock(g_making);
  auto slot = slot_ref(FItems, index);
  TCollectionItem* item = slot.load(std::memory_order_relaxed);
  if (!unmade(item)) return item;
  TCollectionItem* made = MakeItem(reinterpret_cast<std::uintptr_t>(item) >> 1);
  auto& self = const_cast<TCollection&>(*this);
  made->FCollection = &self;
  made->FID = self.FNextID++;
  slot.store(made, std::memory_order_release);
  return made;
}

TCollectionItem* TCollection::MakeItem(std::uintptr_t) const { return FFactory(nullptr); }

void TCollection::AddUnmade(std::uintptr_t Token) {
  FItems.push_back(unmade_slot(Token));
  Changed();
}

bool TCollection::UnmadeToken(int index, std::uintptr_t& Token) const {
  TCollectionItem* item = slot_ref(FItems, static_cast<std::size_t>(index)).load(std::memory_order_acquire);
  if (!unmade(item)) return false;
  Token = reinterpret_cast<std::uintptr_t>(item) >> 1;
  return true;
}

void TCollection::SetUnmadeToken(int index, std::uintptr_t Token) {
  FItems[static_cast<std::size_t>(index)] = unmade_slot(Token);
}

void TCollection::Delete(int index) { delete Items(index); }

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  while (!FItems.empty()) {
    if (unmade(FItems.back()))
      FItems.pop_back();
    else
      delete FItems.back();
  }
  EndUpdate();
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (auto* item : FItems)  // an unmade item has no ID yet
    if (!unmade(item) && item->ID() == id) return item;
  return nullptr;
}

void TCollection::BeginUpdate() { ++FUpdateCount; }

void TCollection::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) Changed();
}

void TCollection::Changed() {
  if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Assign(const TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TCollection*>(Source)) {
    if (other == this) return;
    BeginUpdate();
    Clear();
    for (int i = 0; i < other->Count(); ++i) Add()->Assign(other->Items(i));
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

}  // namespace qninet
