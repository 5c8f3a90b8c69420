#pragma once
// Pooled allocator for container nodes of one size. Nodes come from pages of 128 slots and go
// back onto a free list; pages are freed only with the store. One store per node size
// (8, 12, ..., 64 bytes) is shared by every container in the process and freed when its last
// user lets go of it. Each store guards its pages and free list with a lock of its own.
#include <cstdint>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "game/ContainerLock.h"

// Errors of the container library, raised with their numbered messages.
KT_DECLARE_EXCEPTION(EContainerError, Exception)
KT_DECLARE_EXCEPTION(EContainerAssertion, Exception)

enum : int32_t {
  kErrNoCompare = 25307,
  kErrNoDupData = 25308,
  kErrNoDisposeData = 25309,
  kErrBadCloneSource = 25310,
  kErrSortedNilCompare = 25315,
  kErrFreeNilNode = 25351,
  kErrAllocZeroSize = 25352,
  kErrFreeZeroSize = 25353,
  kErrPopEmpty = 25355,
  kErrIndexRange = 25365,
};
std::string ContainerErrorText(int32_t code);
[[noreturn]] void RaiseContainerError(int32_t code);

class TNodeStore {
public:
  static constexpr int32_t kNodesPerPage = 128;

  explicit TNodeStore(int32_t nodeSize);
  ~TNodeStore();
  TNodeStore(const TNodeStore&) = delete;
  TNodeStore& operator=(const TNodeStore&) = delete;

  void* AllocNode();  // zero-filled
  void FreeNode(void* node);
  int32_t NodeSize() const { return Size; }
  int32_t FreeCount() const { return Free; }
  int32_t PageCount() const { return static_cast<int32_t>(Pages.size()); }

  // The shared store for a node size (clamped to 8..64, rounded up to a multiple of 4); each
  // Attach must be matched by a Detach.
  static TNodeStore* Attach(int32_t nodeSize);
  static void Detach(TNodeStore* store);

private:
  struct FreeLink {
    FreeLink* Next;
  };
  int32_t Size;
  int32_t Free = 0;
  int32_t Users = 0;  // shared-table reference count
  FreeLink* FreeList = nullptr;
  std::vector<uint8_t*> Pages;
  TResourceLock Lock;
};
