#pragma once
// The abstract container of the container library: pluggable data operations (compare,
// duplicate, dispose) over untyped items, and nodes from the shared node store of its size.
#include <cstdint>

#include "game/NodeStore.h"

using TCompareFunc = int32_t (*)(void* a, void* b);  // < 0, 0, > 0
using TDupDataFunc = void* (*)(void* data);
using TDisposeDataFunc = void (*)(void* data);

class TAbstractContainer {
public:
  virtual ~TAbstractContainer();
  TAbstractContainer(const TAbstractContainer&) = delete;
  TAbstractContainer& operator=(const TAbstractContainer&) = delete;

  // nullptr restores the default (which raises), except that a sorted container refuses it.
  // A new routine on a sorted container that holds items re-sorts it.
  void SetCompare(TCompareFunc f);
  // nullptr restores the default (which raises).
  void SetDupData(TDupDataFunc f);
  // On a container that does not own its data the routine stays a no-op whatever is given.
  void SetDisposeData(TDisposeDataFunc f);
  TCompareFunc GetCompare() const { return Compare; }

  int32_t Count() const { return FCount; }
  bool IsEmpty() const { return FCount == 0; }
  bool IsDataOwner() const { return DataOwner; }
  bool IsSorted() const { return Sorted; }
  int32_t NodeSize() const { return FNodeSize; }

  virtual void Empty() = 0;

protected:
  TAbstractContainer(bool dataOwner, int32_t nodeSize, bool isSorted);
  void* AcquireNode() { return Store->AllocNode(); }
  void ReleaseNode(void* node) { Store->FreeNode(node); }
  virtual void Resort() {}

  TCompareFunc Compare;
  TDupDataFunc DupData;
  TDisposeDataFunc DisposeData;
  int32_t FCount = 0;
  bool Destroying = false;

private:
  TNodeStore* Store;
  bool DataOwner;
  bool Sorted;
  int32_t FNodeSize;
};
