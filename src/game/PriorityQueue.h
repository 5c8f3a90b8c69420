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

  void SiftUp(int32_t position, void* data);
  void PostOrder(int32_t position);
};
