#include "qninet/rtl/Collections.h"

#include <algorithm>

namespace qninet {

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
  return FItems[static_cast<std::size_t>(index)];
}

void TCollection::Delete(int index) { delete Items(index); }

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  while (!FItems.empty()) delete FItems.back();
  EndUpdate();
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (auto* item : FItems)
    if (item->ID() == id) return item;
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
    for (auto* item : other->FItems) Add()->Assign(item);
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

}  // namespace qninet
