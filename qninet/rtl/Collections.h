#pragma once
// Owned, ordered lists of items of one class, with an owner.

#include <functional>
#include <vector>

#include "qninet/rtl/Classes.h"

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
  /// Sets `Index`.
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
  /// Raise `EListError` "List index out of bounds (N)" for a bad index.
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

private:
  friend class TCollectionItem;
  void insert_item(TCollectionItem* item);
  void remove_item(TCollectionItem* item);

  const TClassInfo& FItemClass;
  ItemFactory FFactory;
  TPersistent* FOwner;
  std::vector<TCollectionItem*> FItems;  // owned
  int FNextID = 0;
  int FUpdateCount = 0;
};

/// A collection whose items are `T`, with typed access.
template <class T>
class TCollectionOf : public TCollection {
public:
  explicit TCollectionOf(TPersistent* owner = nullptr)
      : TCollection(
            T::StaticClassInfo(), [](TCollection* c) -> TCollectionItem* { return new T(c); }, owner) {}
  T* Add() { return static_cast<T*>(TCollection::Add()); }
  T* Insert(int index) { return static_cast<T*>(TCollection::Insert(index)); }
  T* Items(int index) const { return static_cast<T*>(TCollection::Items(index)); }
};

}  // namespace qninet
