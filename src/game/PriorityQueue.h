#pragma once
// A priority queue kept as a binary heap of linked nodes (each node knows its children and its
// parent), smallest item first by Compare. The tie rules are fixed, because replays rely on
// searches that pop equal keys in the same order every time:
// - Insert hangs the item at the next heap position and moves it up only past parents that
//   compare strictly greater, so an item equal to its parent stays below it.
// - Pop moves the last item to the root and sifts it down, taking the right child when the two
//   children compare equal, and stopping at a child that is not strictly smaller.
// Inserting 5, 3, 3 pops 3, 3, 5, the second 3 inserted second.
#include <cstdint>
#include <vector>

#include "game/ContainerBase.h"

class TPriorityQueue : public TAbstractContainer {
public:
  explicit TPriorityQueue(bool dataOwner);
  // Copies the data operations and the items of another priority queue (duplicated through
  // DupData when this queue owns its data). Another kind of source raises error 25310.
  TPriorityQueue(TAbstractContainer& source, bool dataOwner);
  ~TPriorityQueue() override;

  void Insert(void* data);
  void* Pop();  // error 25355 when empty
  void Empty() override;  // pops everything, disposing the data when owning
  // Rebuilds the heap after the items' keys changed: every item is inserted again, visiting the
  // old tree in post-order (left subtree, right subtree, node).
  void Resort() override;

protected:
  // The heap moves with any compare of the form of TCompareFunc; a queue of a known item type
  // can pass an inline one (Insert, Pop and Resort pass Compare).
  template <class Cmp>
  void InsertBy(void* data, Cmp cmp) {
    LinkNewNode();
    SiftUp(FCount, data, cmp);
  }
  template <class Cmp>
  void* PopBy(Cmp cmp);
  template <class Cmp>
  void ResortBy(Cmp cmp);

private:
  struct TNode {
    void* Data;
    TNode* Left;
    TNode* Right;
    TNode* Parent;
  };
  TNode* Header;  // its right child is the root
  // The node of each heap position (0 = the header) and a copy of its data: the shape depends
  // on Count alone, so the heap moves run over positions instead of walking the tree.
  std::vector<TNode*> ByPosition;
  std::vector<void*> Items;
  std::vector<void*> ResortData;  // scratch of Resort, kept to avoid allocations

  void LinkNewNode();     // a node at position Count + 1
  void UnlinkLastNode();  // releases the node at position Count
  void PostOrder(int32_t position);
  template <class Cmp>
  void SiftUp(int32_t p, void* data, Cmp cmp) {
    void** items = Items.data();  // locals: an opaque compare would force reloads
    TNode** nodes = ByPosition.data();
    while (p > 1 && cmp(items[p / 2], data) > 0) {
      items[p] = items[p / 2];
      nodes[p]->Data = items[p];
      p /= 2;
    }
    items[p] = data;
    nodes[p]->Data = data;
  }
};

template <class Cmp>
void* TPriorityQueue::PopBy(Cmp cmp) {
  if (FCount == 0) RaiseContainerError(kErrPopEmpty);
  void* result = Items[1];
  void* d = Items.back();
  UnlinkLastNode();
  const int32_t count = FCount;
  if (count > 0) {
    void** items = Items.data();
    TNode** nodes = ByPosition.data();
    int32_t p = 1;
    while (2 * p <= count) {
      int32_t c = 2 * p;
      if (c + 1 <= count && cmp(items[c], items[c + 1]) >= 0) ++c;  // equal children: the right
      if (cmp(items[c], d) >= 0) break;
      items[p] = items[c];
      nodes[p]->Data = items[p];
      p = c;
    }
    items[p] = d;
    nodes[p]->Data = d;
  }
  return result;
}

template <class Cmp>
void TPriorityQueue::ResortBy(Cmp cmp) {
  if (FCount < 2) return;
  ResortData.clear();
  PostOrder(1);
  // Inserting again into the same node shape: position i is filled i-th, as in Insert.
  for (int32_t i = 1; i <= FCount; ++i) SiftUp(i, ResortData[static_cast<size_t>(i - 1)], cmp);
}
