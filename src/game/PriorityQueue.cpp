#include "game/PriorityQueue.h"

TPriorityQueue::TPriorityQueue(bool dataOwner) : TAbstractContainer(dataOwner, sizeof(TNode), true) {
  Header = static_cast<TNode*>(AcquireNode());
  ByPosition.push_back(Header);
  Items.push_back(nullptr);
}

TPriorityQueue::TPriorityQueue(TAbstractContainer& source, bool dataOwner)
    : TAbstractContainer(dataOwner, sizeof(TNode), true) {
  auto* src = dynamic_cast<TPriorityQueue*>(&source);
  if (!src) RaiseContainerError(kErrBadCloneSource);
  Header = static_cast<TNode*>(AcquireNode());
  ByPosition.push_back(Header);
  Items.push_back(nullptr);
  Compare = src->Compare;
  DupData = src->DupData;
  SetDisposeData(src->DisposeData);
  try {
    // Heap order is kept by inserting in position order: no item moves.
    for (int32_t p = 1; p <= src->Count(); ++p) {
      void* d = src->Items[static_cast<size_t>(p)];
      Insert(dataOwner ? DupData(d) : d);
    }
  } catch (...) {
    Empty();
    ReleaseNode(Header);
    throw;
  }
}

TPriorityQueue::~TPriorityQueue() {
  Destroying = true;
  Empty();
  ReleaseNode(Header);
}


inline void TPriorityQueue::SiftUp(int32_t p, void* data) {
  // Locals: the compare routine is opaque, so members would be reloaded after every call.
  const TCompareFunc cmp = Compare;
  void** items = Items.data();
  TNode** nodes = ByPosition.data();
  while (p > 1 && cmp(items[p / 2], data) > 0) {
    items[p] = items[p / 2];
    nodes[p]->Data = items[p];
    p /= 2;
  }
  items[p] = data;
  nodes[p]->Data = data;
}

void TPriorityQueue::Insert(void* data) {
  auto* node = static_cast<TNode*>(AcquireNode());
  ByPosition.push_back(node);
  Items.push_back(nullptr);
  ++FCount;
  TNode* parent = ByPosition[static_cast<size_t>(FCount / 2)];
  node->Parent = parent;
  if (FCount & 1) parent->Right = node;
  else parent->Left = node;
  SiftUp(FCount, data);
}

void* TPriorityQueue::Pop() {
  if (FCount == 0) RaiseContainerError(kErrPopEmpty);
  void* result = Items[1];
  void* d = Items.back();
  TNode* last = ByPosition.back();
  if (FCount & 1) last->Parent->Right = nullptr;
  else last->Parent->Left = nullptr;
  ByPosition.pop_back();
  Items.pop_back();
  ReleaseNode(last);
  --FCount;
  const int32_t count = FCount;
  if (count > 0) {
    const TCompareFunc cmp = Compare;
    void** items = Items.data();
    TNode** nodes = ByPosition.data();
    int32_t p = 1;
    while (2 * p <= count) {
      int32_t c = 2 * p;
      if (c + 1 <= count && cmp(items[c], items[c + 1]) >= 0) ++c;
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

void TPriorityQueue::Empty() {
  while (FCount > 0) {
    void* d = Pop();
    if (IsDataOwner()) DisposeData(d);
  }
}

void TPriorityQueue::PostOrder(int32_t p) {
  if (p > FCount) return;
  PostOrder(2 * p);
  PostOrder(2 * p + 1);
  ResortData.push_back(Items[static_cast<size_t>(p)]);
}

void TPriorityQueue::Resort() {
  if (FCount < 2) return;
  ResortData.clear();
  PostOrder(1);
  // Inserting again into the same node shape: position i is filled i-th, as in Insert.
  for (int32_t i = 1; i <= FCount; ++i) SiftUp(i, ResortData[static_cast<size_t>(i - 1)]);
}
