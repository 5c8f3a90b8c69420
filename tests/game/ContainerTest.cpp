#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "game/NodeStore.h"
#include "game/PriorityQueue.h"

namespace {

struct Item {
  int Key;
  int Id;
};

int32_t ByKey(void* a, void* b) { return static_cast<Item*>(a)->Key - static_cast<Item*>(b)->Key; }

int Disposed = 0;
void DisposeItem(void* p) {
  ++Disposed;
  delete static_cast<Item*>(p);
}
void* DupItem(void* p) { return new Item(*static_cast<Item*>(p)); }

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message;
  }
  return "";
}

}  // namespace

TEST(PriorityQueue, EqualKeysPopInInsertionOrderOfTheHeapRules) {
  Item a{5, 1}, b{3, 2}, c{3, 3};
  TPriorityQueue q(false);
  q.SetCompare(ByKey);
  q.Insert(&a);
  q.Insert(&b);
  q.Insert(&c);
  EXPECT_EQ(static_cast<Item*>(q.Pop())->Id, 2);
  EXPECT_EQ(static_cast<Item*>(q.Pop())->Id, 3);  // the second 3 inserted comes second
  EXPECT_EQ(static_cast<Item*>(q.Pop())->Id, 1);
  EXPECT_TRUE(q.IsEmpty());
  // After the last pop the next insert is the root again.
  q.Insert(&a);
  EXPECT_EQ(q.Count(), 1);
  EXPECT_EQ(q.Pop(), &a);
}

TEST(PriorityQueue, PopsInKeyOrderAndIsTheSameOnEveryRun) {
  std::mt19937 rng(7);
  std::vector<Item> items(2000);
  for (int i = 0; i < 2000; ++i) items[i] = {static_cast<int>(rng() % 50), i};
  auto run = [&] {
    TPriorityQueue q(false);
    q.SetCompare(ByKey);
    std::vector<int> order;
    // Interleave inserts and pops, as a search does.
    for (int i = 0; i < 2000; ++i) {
      q.Insert(&items[i]);
      if (i % 3 == 2) order.push_back(static_cast<Item*>(q.Pop())->Id);
    }
    int last = -1;
    while (!q.IsEmpty()) {
      Item* it = static_cast<Item*>(q.Pop());
      EXPECT_GE(it->Key, last);
      last = it->Key;
      order.push_back(it->Id);
    }
    return order;
  };
  std::vector<int> first = run();
  EXPECT_EQ(first.size(), 2000u);
  EXPECT_EQ(run(), first);
}

TEST(PriorityQueue, ResortAfterKeysChangeAndOnNewCompare) {
  std::vector<Item> items;
  for (int i = 0; i < 20; ++i) items.push_back({i, i});
  TPriorityQueue q(false);
  q.SetCompare(ByKey);
  for (Item& it : items) q.Insert(&it);
  items[15].Key = -1;
  items[0].Key = 100;
  q.Resort();
  EXPECT_EQ(static_cast<Item*>(q.Pop())->Id, 15);
  EXPECT_EQ(static_cast<Item*>(q.Pop())->Id, 1);
  // A new Compare on a queue with items re-sorts it.
  q.SetCompare([](void* a, void* b) { return static_cast<Item*>(b)->Key - static_cast<Item*>(a)->Key; });
  EXPECT_EQ(static_cast<Item*>(q.Pop())->Id, 0);
}

TEST(PriorityQueue, ErrorsAndDataOperations) {
  TPriorityQueue q(false);
  EXPECT_EQ(ErrorOf([&] { q.Pop(); }), "Cannot pop from an empty stack or queue");
  EXPECT_EQ(ErrorOf([&] { q.SetCompare(nullptr); }), "Container is sorted, hence Compare function cannot be nil");
  Item a{1, 1};
  q.Insert(&a);
  Item b{2, 2};
  EXPECT_EQ(ErrorOf([&] { q.Insert(&b); }), "No Compare function has been supplied");
  q.SetDisposeData(DisposeItem);  // not the owner: stays a no-op
  Disposed = 0;
  q.Empty();
  EXPECT_EQ(Disposed, 0);

  {
    TPriorityQueue owner(true);
    owner.SetCompare(ByKey);
    // the failed disposal leaves the item with its maker
    std::unique_ptr<Item> undisposed(new Item{1, 1});
    EXPECT_EQ(ErrorOf([&] { owner.Insert(undisposed.get()); owner.Empty(); }), "No DisposeData function has been supplied");
    owner.SetDisposeData(DisposeItem);
    owner.SetDupData(DupItem);
    for (int i = 0; i < 5; ++i) owner.Insert(new Item{i, i});
    TPriorityQueue copy(owner, true);
    EXPECT_EQ(copy.Count(), 5);
    std::unique_ptr<Item> popped(static_cast<Item*>(copy.Pop()));  // popped: the caller's now
    EXPECT_EQ(popped->Key, 0);  // a copy of its own
    Disposed = 0;
  }
  EXPECT_EQ(Disposed, 5 + 4);  // destroying owners disposes what they still hold

  struct Other : TAbstractContainer {
    Other() : TAbstractContainer(false, 16, false) {}
    void Empty() override {}
  } other;
  EXPECT_EQ(ErrorOf([&] { TPriorityQueue bad(other, false); }), "Incompatible source for Clone operation");
}

TEST(NodeStore, PagesOf128AreSharedPerSizeAndFreedWithTheLastUser) {
  TNodeStore* a = TNodeStore::Attach(30);  // rounded up to 32
  TNodeStore* b = TNodeStore::Attach(32);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->NodeSize(), 32);
  EXPECT_EQ(TNodeStore::Attach(3)->NodeSize(), 8);
  EXPECT_EQ(TNodeStore::Attach(200)->NodeSize(), 64);
  std::vector<void*> nodes;
  int pagesBefore = a->PageCount();
  int freeBefore = a->FreeCount();
  for (int i = 0; i < freeBefore + 1; ++i) nodes.push_back(a->AllocNode());
  EXPECT_EQ(a->PageCount(), pagesBefore + 1);
  EXPECT_EQ(a->FreeCount(), 126);
  for (int k = 0; k < 32; ++k) EXPECT_EQ(static_cast<uint8_t*>(nodes.back())[k], 0);  // zeroed
  for (void* n : nodes) a->FreeNode(n);
  EXPECT_EQ(a->FreeCount(), freeBefore + 127);
  EXPECT_THROW(a->FreeNode(nullptr), EContainerError);
  TNodeStore::Detach(a);
  TNodeStore::Detach(b);
  TNodeStore zero(0);
  EXPECT_EQ(ErrorOf([&] { zero.AllocNode(); }), "Attempt to allocate node of zero size");
}
