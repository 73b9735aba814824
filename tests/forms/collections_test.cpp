#include "platform/forms/classes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace forms;

namespace {

struct Event
{
    std::string name;
    TCollectionNotification action;
    int count; // entries in the collection when it was told
    int index; // the item's position then
};

class NamedItem : public TCollectionItem
{
public:
    explicit NamedItem(TCollection *collection)
        : TCollectionItem(collection)
    {}
    ~NamedItem() override { ++destroyed; }
    void Assign(const TCollectionItem *source) override
    {
        name = static_cast<const NamedItem *>(source)->name;
    }
    std::string name;
    static inline int destroyed = 0;
};

// Records every notification with the state of the list at that moment.
class Recording : public TCollection
{
public:
    Recording()
        : TCollection(ItemClassOf<NamedItem>())
    {}
    NamedItem *AddNamed(const std::string &name)
    {
        auto *item = static_cast<NamedItem *>(Add());
        item->name = name;
        names[item] = name;
        return item;
    }
    std::vector<Event> events;

protected:
    // Added comes before the derived constructor has run, extracting after the
    // derived destructor: the item is only a TCollectionItem then, so its name
    // is looked up rather than read.
    void Notify(TCollectionItem *item, TCollectionNotification action) override
    {
        events.push_back({names[item], action, Count(), item->Index()});
    }

private:
    std::map<TCollectionItem *, std::string> names;
};

class Collections : public ::testing::Test
{
protected:
    void SetUp() override { NamedItem::destroyed = 0; }
};

} // namespace

TEST_F(Collections, ItemsAreAppendedInOrderAndKnowTheirCollection)
{
    Recording list;
    NamedItem *a = list.AddNamed("a");
    NamedItem *b = list.AddNamed("b");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(0), a);
    EXPECT_EQ(list.Item(1), b);
    EXPECT_EQ(b->Collection(), &list);
    EXPECT_EQ(b->Index(), 1);
    EXPECT_EQ(list.Item(2), nullptr);
    EXPECT_EQ(list.Item(-1), nullptr);
    ASSERT_EQ(list.events.size(), 2u);
    EXPECT_EQ(list.events[1].action, cnAdded);
    EXPECT_EQ(list.events[1].count, 2); // already in the list when told
    EXPECT_EQ(list.events[1].index, 1);
}

TEST_F(Collections, SetIndexMovesAnItemAndTheOthersCloseUpWithoutNotifications)
{
    Recording list;
    for (const char *name : {"a", "b", "c", "d"})
        list.AddNamed(name);
    list.events.clear();
    auto names = [&] {
        std::string text;
        for (int i = 0; i < list.Count(); ++i)
            text += static_cast<NamedItem *>(list.Item(i))->name;
        return text;
    };
    list.Item(0)->SetIndex(2);
    EXPECT_EQ(names(), "bcad");
    list.Item(3)->SetIndex(1);
    EXPECT_EQ(names(), "bdca");
    list.Item(1)->SetIndex(99);
    EXPECT_EQ(names(), "bcad");
    list.Item(2)->SetIndex(-5);
    EXPECT_EQ(names(), "abcd");
    list.Item(1)->SetIndex(1);
    EXPECT_EQ(names(), "abcd");
    EXPECT_TRUE(list.events.empty());
    EXPECT_EQ(NamedItem::destroyed, 0);
}

TEST_F(Collections, DeleteSendsDeletingWhileTheItemStandsThenExtracting)
{
    Recording list;
    list.AddNamed("a");
    list.AddNamed("b");
    list.AddNamed("c");
    list.events.clear();

    list.Delete(1);
    ASSERT_EQ(list.events.size(), 2u);
    EXPECT_EQ(list.events[0].name, "b");
    EXPECT_EQ(list.events[0].action, cnDeleting);
    EXPECT_EQ(list.events[0].count, 3);
    EXPECT_EQ(list.events[0].index, 1);
    EXPECT_EQ(list.events[1].action, cnExtracting);
    EXPECT_EQ(NamedItem::destroyed, 1);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(static_cast<NamedItem *>(list.Item(1))->name, "c");

    list.events.clear();
    list.Delete(5);
    list.Delete(-1);
    EXPECT_TRUE(list.events.empty());
    EXPECT_EQ(list.Count(), 2);
}

TEST_F(Collections, ClearExtractsEveryItemLastFirstWithoutDeleting)
{
    Recording list;
    list.AddNamed("a");
    list.AddNamed("b");
    list.AddNamed("c");
    list.events.clear();

    list.Clear();
    ASSERT_EQ(list.events.size(), 3u);
    EXPECT_EQ(list.events[0].name, "c");
    EXPECT_EQ(list.events[2].name, "a");
    for (const Event &e : list.events)
        EXPECT_EQ(e.action, cnExtracting);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(NamedItem::destroyed, 3);
}

TEST_F(Collections, DeletingAnItemDirectlyTakesItOutOfTheList)
{
    Recording list;
    list.AddNamed("a");
    NamedItem *b = list.AddNamed("b");
    list.events.clear();
    delete b;
    ASSERT_EQ(list.events.size(), 1u);
    EXPECT_EQ(list.events[0].action, cnExtracting);
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(Collections, AssignCopiesTheItemsAndTheCollectionFreesThem)
{
    {
        Recording source;
        source.AddNamed("x");
        source.AddNamed("y");
        Recording copy;
        copy.AddNamed("old");
        copy.Assign(&source);
        ASSERT_EQ(copy.Count(), 2);
        EXPECT_EQ(static_cast<NamedItem *>(copy.Item(0))->name, "x");
        EXPECT_EQ(static_cast<NamedItem *>(copy.Item(1))->name, "y");
        EXPECT_NE(copy.Item(0), source.Item(0));
        EXPECT_EQ(NamedItem::destroyed, 1); // "old"
    }
    EXPECT_EQ(NamedItem::destroyed, 5);
}

TEST_F(Collections, AFailingAddedNotificationLeavesNoDanglingItem)
{
    class Refusing : public TCollection
    {
    public:
        Refusing()
            : TCollection(ItemClassOf<NamedItem>())
        {}
        bool refuse = false;

    protected:
        void Notify(TCollectionItem *, TCollectionNotification action) override
        {
            if (refuse && action == cnAdded)
                throw std::runtime_error("no");
        }
    };
    Refusing list;
    list.Add();
    list.refuse = true;
    EXPECT_THROW(list.Add(), std::runtime_error);
    EXPECT_EQ(list.Count(), 1);
}
