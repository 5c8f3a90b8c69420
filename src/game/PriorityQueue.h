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

// The heap moves over positions 1..count of an item array, with the tie rules above. Shared by
// the priority queue and by the path planner's open list, which keeps its items in a flat array.
// `stored(p)` is told of every position whose item was written (the queue mirrors items into
// its nodes there); the flat open list passes nothing.
namespace HeapMoves {

struct NoHook {
  void operator()(int32_t) const {}
};

// Moves `data` up from position p past parents that compare strictly greater and stores it.
template <class T, class Cmp, class Hook = NoHook>
inline void SiftUp(T* items, int32_t p, T data, Cmp cmp, Hook stored = {}) {
  while (p > 1 && cmp(items[p / 2], data) > 0) {
    items[p] = items[p / 2];
    stored(p);
    p /= 2;
  }
  items[p] = data;
  stored(p);
}

// Sifts `d` down from the root of a heap of `count` items (the root's item already taken):
// on equal children the right one, and only past children strictly smaller than d.
template <class T, class Cmp, class Hook = NoHook>
inline void SiftDownFromRoot(T* items, int32_t count, T d, Cmp cmp, Hook stored = {}) {
  int32_t p = 1;
  while (2 * p <= count) {
    int32_t c = 2 * p;
    if (c + 1 <= count && cmp(items[c], items[c + 1]) >= 0) ++c;  // equal children: the right
    if (cmp(items[c], d) >= 0) break;
    items[p] = items[c];
    stored(p);
    p = c;
  }
  items[p] = d;
  stored(p);
}

// Writes the items of positions 1..count in post-order (left subtree, right subtree, node).
template <class T>
inline void PostOrder(const T* items, int32_t count, T* out) {
  if (count < 1) return;
  auto leftmost = [count](int32_t p) {
    while (2 * p <= count) p *= 2;
    return p;
  };
  int32_t p = leftmost(1);
  for (;;) {
    *out++ = items[p];
    if (p == 1) break;
    p = ((p & 1) == 0 && p + 1 <= count) ? leftmost(p + 1) : p / 2;
  }
}

// The re-sort after keys changed: every item inserted again, in the post-order of the old tree.
// `scratch` must hold count items.
template <class T, class Cmp, class Hook = NoHook>
inline void Rebuild(T* items, int32_t count, T* scratch, Cmp cmp, Hook stored = {}) {
  if (count < 2) return;
  PostOrder(items, count, scratch);
  // Inserting again into the same shape: position i is filled i-th, as by an insert.
  for (int32_t i = 1; i <= count; ++i) SiftUp(items, i, scratch[i - 1], cmp, stored);
}

}  // namespace HeapMoves

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
  // The nodes carry a copy of their position's item.
  struct MirrorToNode {
    TPriorityQueue* Q;
    void operator()(int32_t p) const {
      Q->ByPosition[static_cast<size_t>(p)]->Data = Q->Items[static_cast<size_t>(p)];
    }
  };
  template <class Cmp>
  void SiftUp(int32_t p, void* data, Cmp cmp) {
    HeapMoves::SiftUp(Items.data(), p, data, cmp, MirrorToNode{this});
  }
};

template <class Cmp>
void* TPriorityQueue::PopBy(Cmp cmp) {
  if (FCount == 0) RaiseContainerError(kErrPopEmpty);
  void* result = Items[1];
  void* d = Items.back();
  UnlinkLastNode();
  if (FCount > 0) {
    HeapMoves::SiftDownFromRoot(Items.data(), FCount, d, cmp, MirrorToNode{this});
  }
  return result;
}

template <class Cmp>
void TPriorityQueue::ResortBy(Cmp cmp) {
  if (FCount < 2) return;
  ResortData.resize(static_cast<size_t>(FCount));
  HeapMoves::Rebuild(Items.data(), FCount, ResortData.data(), cmp, MirrorToNode{this});
}
