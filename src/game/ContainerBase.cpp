#include "game/ContainerBase.h"

namespace {
int32_t DefaultCompare(void*, void*) { RaiseContainerError(kErrNoCompare); }
void* DefaultDupData(void*) { RaiseContainerError(kErrNoDupData); }
void DefaultDisposeData(void*) { RaiseContainerError(kErrNoDisposeData); }
void NoDisposeData(void*) {}
}  // namespace

TAbstractContainer::TAbstractContainer(bool dataOwner, int32_t nodeSize, bool isSorted)
    : Compare(DefaultCompare),
      DupData(DefaultDupData),
      DisposeData(dataOwner ? DefaultDisposeData : NoDisposeData),
      Store(TNodeStore::Attach(nodeSize)),
      DataOwner(dataOwner),
      Sorted(isSorted),
      FNodeSize(nodeSize) {}

TAbstractContainer::~TAbstractContainer() { TNodeStore::Detach(Store); }

void TAbstractContainer::SetCompare(TCompareFunc f) {
  if (!f || f == DefaultCompare) {
    if (Sorted) RaiseContainerError(kErrSortedNilCompare);
    Compare = DefaultCompare;
    return;
  }
  Compare = f;
  if (Sorted && FCount > 0) Resort();
}

void TAbstractContainer::SetDupData(TDupDataFunc f) { DupData = f ? f : DefaultDupData; }

void TAbstractContainer::SetDisposeData(TDisposeDataFunc f) {
  if (!DataOwner) DisposeData = NoDisposeData;
  else DisposeData = f ? f : DefaultDisposeData;
}
