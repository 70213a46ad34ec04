#pragma once
// Owned, ordered lists of items of one class, with an owner.

#include <cstdint>
#include <functional>
#include <vector>

#include "qninet/rtl/Classes.h"
#include "qninet/rtl/ListRange.h"

namespace qninet {

class TCollection;

/// An item of a `TCollection`, owned by it.
class QNINET_API TCollectionItem : public TPersistent {
  QNINET_OBJECT(TCollectionItem, TPersistent)
public:
  /// Joins `Collection` (which then owns the item) when it is given.
  explicit TCollectionItem(TCollection* Collection);
  /// Leaves the collection.
  ~TCollectionItem() override;
  /// The collection that owns the item, or none.
  TCollection* Collection() const { return FCollection; }
  /// Moves the item to another collection, or out of any with none.
  void SetCollection(TCollection* value);
  /// The item's position in its collection; -1 outside one.
  int Index() const;
  /// Sets `Index`.
  void SetIndex(int value);
  /// A number unique within the collection, given when the item joins it.
  int ID() const { return FID; }
  /// The item's name in lists and editors; the class name by default.
  virtual String DisplayName() const { return ClassName(); }
  TPersistent* GetOwner() const override;

protected:
  /// Tells the collection that this item (or, with `allItems`, every item) changed.
  void Changed(bool allItems);

private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
  int FID = 0;
};

/// Owns its items. `ItemFactory` makes a new item joined to the collection.
class QNINET_API TCollection : public TPersistent {
  QNINET_OBJECT(TCollection, TPersistent)
public:
  /// Makes a new item of the collection's class, joined to the collection it is given.
  using ItemFactory = std::function<TCollectionItem*(TCollection*)>;
  /// A collection of items of class `itemClass`, made by `factory`, kept in `owner`'s form-file nesting.
  TCollection(const TClassInfo& itemClass, ItemFactory factory, TPersistent* owner = nullptr);
  ~TCollection() override;

  /// The class of the collection's items.
  const TClassInfo& ItemClass() const { return FItemClass; }
  /// A new item at the end, owned by the collection.
  TCollectionItem* Add();
  /// A new item at `index`, owned by the collection; raises `EListError` for a bad index.
  TCollectionItem* Insert(int index);
  /// Raise `EListError` "List index out of bounds (N)" for a bad index. An item a reader added
  /// unmade is made here, once; several threads may ask at once.
  TCollectionItem* Items(int index) const;
  /// The number of items.
  int Count() const { return static_cast<int>(FItems.size()); }
  /// Destroys the item at `index`.
  void Delete(int index);
  /// Destroys every item.
  void Clear();
  /// The item with that `ID`, or none.
  TCollectionItem* FindItemID(int id) const;
  /// Starts a batch of changes: `Update` waits until the matching `EndUpdate`.
  void BeginUpdate();
  /// Ends a batch of changes started by `BeginUpdate`.
  void EndUpdate();
  /// How many `BeginUpdate` calls are still open.
  int UpdateCount() const { return FUpdateCount; }
  TPersistent* GetOwner() const override { return FOwner; }
  /// Replaces the items by copies of another collection's (each new item `Assign`s its source).
  void Assign(const TPersistent* Source) override;

protected:
  /// Called after a change (item none: many items) when no update is pending.
  virtual void Update(TCollectionItem* item);
  /// Calls `Update` for a change of many items, unless a batch is open.
  void Changed();
  /// Appends a slot whose item is made only when first asked for, by `MakeItem(Token)`; it
  /// takes its `ID` then. `Token` (below 2^63) is the subclass's own reference to what it keeps.
  void AddUnmade(std::uintptr_t Token);
  /// The token of the slot at `index` while its item is unmade; false once it is made.
  bool UnmadeToken(int index, std::uintptr_t& Token) const;
  /// Gives the unmade slot at `index` another token (what it refers to was rewritten).
  void SetUnmadeToken(int index, std::uintptr_t Token);
  /// Makes the item of an unmade slot, in no collection (the caller joins it in its slot);
  /// called once per slot, under a lock.
  virtual TCollectionItem* MakeItem(std::uintptr_t Token) const;

private:
  friend class TCollectionItem;
  TCollectionItem* make_item(std::size_t index) const;
  void insert_item(TCollectionItem* item);
  void remove_item(TCollectionItem* item);

  const TClassInfo& FItemClass;
  ItemFactory FFactory;
  TPersistent* FOwner;
  std::vector<TCollectionItem*> FItems;  // owned; an odd value is an unmade slot's token
  int FNextID = 0;
  int FUpdateCount = 0;
};

/// A collection whose items are `T`, with typed access; the items walk with a range-for loop
/// (`for (T& item : list)`), and `size()` is `Count()`.
template <class T>
class TCollectionOf : public TCollection, public TListRange<TCollectionOf<T>> {
public:
  /// A collection of `T` items, kept in `owner`'s form-file nesting.
  explicit TCollectionOf(TPersistent* owner = nullptr)
      : TCollection(
            T::StaticClassInfo(), [](TCollection* c) -> TCollectionItem* { return new T(c); }, owner) {}
  /// A new item at the end, owned by the collection.
  T* Add() { return static_cast<T*>(TCollection::Add()); }
  /// A new item at `index`, owned by the collection; raises `EListError` for a bad index.
  T* Insert(int index) { return static_cast<T*>(TCollection::Insert(index)); }
  /// The item at `index`; raises `EListError` for a bad index.
  T* Items(int index) const { return static_cast<T*>(TCollection::Items(index)); }
  /// What the range-for loop reads: the item at `index`.
  T& ListElement(int index) const { return *Items(index); }
};

}  // namespace qninet
