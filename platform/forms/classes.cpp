#include "platform/forms/classes.h"

#include <algorithm>

namespace forms {

TCollectionItem::TCollectionItem(TCollection *collection)
{
    if (collection)
        collection->InsertItem(this);
}

TCollectionItem::~TCollectionItem()
{
    if (collection_)
        collection_->RemoveItem(this);
}

int TCollectionItem::Index() const
{
    if (!collection_)
        return -1;
    const auto &items = collection_->items_;
    const auto it = std::find(items.begin(), items.end(), this);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int value)
{
    const int current = Index();
    if (current < 0)
        return;
    auto &items = collection_->items_;
    const int last = static_cast<int>(items.size()) - 1;
    const int target = std::clamp(value, 0, last);
    const auto from = items.begin() + current;
    const auto to = items.begin() + target;
    if (target < current)
        std::rotate(to, from, from + 1);
    else
        std::rotate(from, from + 1, to + 1);
}

void TCollectionItem::Assign(const TCollectionItem *) {}

TCollection::TCollection(TCollectionItemClass itemClass)
    : itemClass_(itemClass)
{}

TCollection::~TCollection()
{
    // A derived Notify is gone by now; only the items need to go.
    while (!items_.empty()) {
        TCollectionItem *last = items_.back();
        items_.pop_back();
        last->collection_ = nullptr;
        delete last;
    }
}

TCollectionItem *TCollection::Add()
{
    return itemClass_(this);
}

void TCollection::Delete(int index)
{
    TCollectionItem *item = Item(index);
    if (!item)
        return;
    Notify(item, cnDeleting);
    // The deleting notification may itself have removed the item.
    if (std::find(items_.begin(), items_.end(), item) != items_.end())
        delete item;
}

void TCollection::Clear()
{
    while (!items_.empty())
        delete items_.back();
}

void TCollection::Assign(const TCollection *source)
{
    if (source == this)
        return;
    Clear();
    if (!source)
        return;
    for (int i = 0; i < source->Count(); ++i)
        Add()->Assign(source->Item(i));
}

TCollectionItem *TCollection::Item(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return items_[static_cast<std::size_t>(index)];
}

void TCollection::Notify(TCollectionItem *, TCollectionNotification) {}

void TCollection::InsertItem(TCollectionItem *item)
{
    items_.push_back(item);
    item->collection_ = this;
    item->id_ = nextId_++;
    try {
        Notify(item, cnAdded);
    } catch (...) {
        // The item's constructor fails with this error, so no destructor will
        // take it out again.
        items_.pop_back();
        item->collection_ = nullptr;
        throw;
    }
}

void TCollection::RemoveItem(TCollectionItem *item)
{
    Notify(item, cnExtracting);
    const auto it = std::find(items_.begin(), items_.end(), item);
    if (it != items_.end())
        items_.erase(it);
    item->collection_ = nullptr;
}

} // namespace forms
