#include "game/PriorityQueue.h"

TPriorityQueue::TPriorityQueue(bool dataOwner) : TAbstractContainer(dataOwner, sizeof(TNode), true) {
  Header = static_cast<TNode*>(AcquireNode());
}

TPriorityQueue::TPriorityQueue(TAbstractContainer& source, bool dataOwner)
    : TAbstractContainer(dataOwner, sizeof(TNode), true) {
  auto* src = dynamic_cast<TPriorityQueue*>(&source);
  if (!src) RaiseContainerError(kErrBadCloneSource);
  Header = static_cast<TNode*>(AcquireNode());
  Compare = src->Compare;
  DupData = src->DupData;
  SetDisposeData(src->DisposeData);
  try {
    // Heap order is kept by inserting in position order: no item moves.
    for (int32_t p = 1; p <= src->Count(); ++p) {
      void* d = src->NodeAt(p)->Data;
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

TPriorityQueue::TNode* TPriorityQueue::NodeAt(int32_t position) const {
  if (position == 0) return Header;
  if (position < 0 || position > FCount) throw EContainerAssertion(ContainerErrorText(kErrIndexRange));
  int bit = 30;
  while (!(position & (1 << bit))) --bit;
  TNode* node = Header->Right;
  for (--bit; bit >= 0; --bit) node = (position & (1 << bit)) ? node->Right : node->Left;
  return node;
}

void TPriorityQueue::Insert(void* data) {
  auto* node = static_cast<TNode*>(AcquireNode());
  ++FCount;
  TNode* parent = NodeAt(FCount / 2);
  node->Parent = parent;
  if (FCount & 1) parent->Right = node;
  else parent->Left = node;
  while (node->Parent != Header && Compare(node->Parent->Data, data) > 0) {
    node->Data = node->Parent->Data;
    node = node->Parent;
  }
  node->Data = data;
}

void* TPriorityQueue::Pop() {
  if (FCount == 0) RaiseContainerError(kErrPopEmpty);
  TNode* root = Header->Right;
  void* result = root->Data;
  TNode* last = NodeAt(FCount);
  void* d = last->Data;
  if (FCount & 1) last->Parent->Right = nullptr;
  else last->Parent->Left = nullptr;
  ReleaseNode(last);
  --FCount;
  if (FCount > 0) {
    TNode* node = Header->Right;
    while (node->Left) {
      TNode* cand = node->Right && Compare(node->Left->Data, node->Right->Data) >= 0 ? node->Right : node->Left;
      if (Compare(cand->Data, d) >= 0) break;
      node->Data = cand->Data;
      node = cand;
    }
    node->Data = d;
  }
  return result;
}

void TPriorityQueue::Empty() {
  while (FCount > 0) {
    void* d = Pop();
    if (IsDataOwner()) DisposeData(d);
  }
}

void TPriorityQueue::PostOrder(TNode* node) {
  if (!node) return;
  PostOrder(node->Left);
  PostOrder(node->Right);
  ResortData.push_back(node->Data);
}

void TPriorityQueue::Resort() {
  if (FCount < 2) return;
  ResortData.clear();
  PostOrder(Header->Right);
  // Inserting again into the same node shape: position i is filled i-th, as in Insert.
  const int32_t n = FCount;
  FCount = 0;
  for (int32_t i = 0; i < n; ++i) {
    void* data = ResortData[static_cast<size_t>(i)];
    ++FCount;
    TNode* node = NodeAt(FCount);
    while (node->Parent != Header && Compare(node->Parent->Data, data) > 0) {
      node->Data = node->Parent->Data;
      node = node->Parent;
    }
    node->Data = data;
  }
}
