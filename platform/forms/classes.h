// Owned collections: a collection creates its items from an item class, keeps
// them in insertion order, owns them and tells its Notify of every change.
#pragma once

#include <cstddef>
#include <vector>

namespace forms {

enum TCollectionNotification { cnAdded = 0, cnExtracting = 1, cnDeleting = 2 };

class TCollection;

class TCollectionItem
{
public:
    // Appends the item to `collection` (which then owns it) and notifies cnAdded
    // before the constructor of a derived class has run.
    explicit TCollectionItem(TCollection *collection);
    // Leaves the collection first (cnExtracting), so deleting an item directly
    // is allowed.
    virtual ~TCollectionItem();
    TCollectionItem(const TCollectionItem &) = delete;
    TCollectionItem &operator=(const TCollectionItem &) = delete;

    TCollection *Collection() const { return collection_; }
    // Position in the collection; -1 when it stands in none.
    int Index() const;
    // Moves the item to another position; the items between shift by one. A
    // position beyond the end moves it to the end, a negative one to the start.
    // Nothing is notified: the collection keeps the same items.
    void SetIndex(int value);

    // Takes over what the other item holds; the base has nothing to take.
    virtual void Assign(const TCollectionItem *source);

    // A number no other item of the collection has had or will have: the item
    // keeps it wherever it moves.
    int ID() const { return id_; }

private:
    friend class TCollection;
    TCollection *collection_ = nullptr;
    int id_ = -1;
};

// Creates one item of a class inside `collection`.
using TCollectionItemClass = TCollectionItem *(*)(TCollection *collection);

template <class T>
TCollectionItemClass ItemClassOf()
{
    return [](TCollection *collection) -> TCollectionItem * { return new T(collection); };
}

class TCollection
{
public:
    explicit TCollection(TCollectionItemClass itemClass);
    // Frees every item as Clear does.
    virtual ~TCollection();
    TCollection(const TCollection &) = delete;
    TCollection &operator=(const TCollection &) = delete;

    // A new item of the item class, appended at the end.
    TCollectionItem *Add();
    // cnDeleting while the item still stands in the list, then the item is
    // destroyed (which sends cnExtracting). An index out of range is ignored.
    void Delete(int index);
    // Frees every item, last first; each sends cnExtracting, none cnDeleting.
    void Clear();
    // Replaces the items with copies of the other collection's items.
    void Assign(const TCollection *source);

    int Count() const { return static_cast<int>(items_.size()); }
    // Null for an index out of range.
    TCollectionItem *Item(int index) const;
    TCollectionItemClass ItemClass() const { return itemClass_; }

protected:
    // cnAdded comes from the item's base constructor and cnExtracting from its
    // base destructor: at those two the item is no more than a TCollectionItem.
    virtual void Notify(TCollectionItem *item, TCollectionNotification action);

private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem *item);
    void RemoveItem(TCollectionItem *item);

    TCollectionItemClass itemClass_;
    std::vector<TCollectionItem *> items_;
    int nextId_ = 0;
};

} // namespace forms
