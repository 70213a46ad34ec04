#pragma once
// Owned, ordered lists of items of one class, with an owner.

#include <cstdint>
#include <functional>
#include <vector>

#include "qninet/rtl/Classes.h"
#include "qninet/rtl/ListRange.h"

namespace qninet {

class TCollection;

class QNINET_API TCollectionItem : public TPersistent {
  QNINET_OBJECT(TCollectionItem, TPersistent)
public:
  /// Joins `Collection` (which then owns the item) when it is given.
  explicit TCollectionItem(TCollection* Collection);
  /// Leaves the collection.
  ~TCollectionItem() override;
  TCollection* Collection() const { return FCollection; }
  /// Moves the item to another collection, or out of any with none.
  void SetCollection(TCollection* value);
  int Index() const;
  void SetIndex(int value);
  int ID() const { return FID; }
  virtual String DisplayName() const { return ClassName(); }
  TPersistent* GetOwner() const override;

protected:
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
  using ItemFactory = std::function<TCollectionItem*(TCollection*)>;
  TCollection(const TClassInfo& itemClass, ItemFactory factory, TPersistent* owner = nullptr);
  ~TCollection() override;

  const TClassInfo& ItemClass() const { return FItemClass; }
  /// A new item at the end, owned by the collection.
  TCollectionItem* Add();
  TCollectionItem* Insert(int index);
  /// Raise `EListError` "List index out of bounds (N)" for a bad index. An item a reader added
  /// unmade is made here, once; several threads may ask at once.
  TCollectionItem* Items(int index) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  /// Destroys the item at `index`.
  void Delete(int index);
  void Clear();
  TCollectionItem* FindItemID(int id) const;
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }
  TPersistent* GetOwner() const override { return FOwner; }
  /// Replaces the items by copies of another collection's (each new item `Assign`s its source).
  void Assign(const TPersistent* Source) override;

protected:
  /// Called after a change (item none: many items) when no update is pending.
  virtual void Update(TCollectionItem* item);
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
  explicit TCollectionOf(TPersistent* owner = nullptr)
      : TCollection(
            T::StaticClassInfo(), [](TCollection* c) -> TCollectionItem* { return new T(c); }, owner) {}
  T* Add() { return static_cast<T*>(TCollection::Add()); }
  T* Insert(int index) { return static_cast<T*>(TCollection::Insert(index)); }
  T* Items(int index) const { return static_cast<T*>(TCollection::Items(index)); }
  /// What the range-for loop reads: the item at `index`.
  T& ListElement(int index) const { return *Items(index); }
};

}  // namespace qninet
