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


void TPriorityQueue::Insert(void* data) { InsertBy(data, Compare); }
void* TPriorityQueue::Pop() { return PopBy(Compare); }
void TPriorityQueue::Resort() { ResortBy(Compare); }

void TPriorityQueue::Empty() {
  while (FCount > 0) {
    void* d = Pop();
    if (IsDataOwner()) DisposeData(d);
  }
}

void TPriorityQueue::LinkNewNode() {
  auto* node = static_cast<TNode*>(AcquireNode());
  ByPosition.push_back(node);
  Items.push_back(nullptr);
  ++FCount;
  TNode* parent = ByPosition[static_cast<size_t>(FCount / 2)];
  node->Parent = parent;
  if (FCount & 1) parent->Right = node;
  else parent->Left = node;
}

void TPriorityQueue::UnlinkLastNode() {
  TNode* last = ByPosition.back();
  if (FCount & 1) last->Parent->Right = nullptr;
  else last->Parent->Left = nullptr;
  ByPosition.pop_back();
  Items.pop_back();
  ReleaseNode(last);
  --FCount;
}
