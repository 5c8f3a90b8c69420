#include "game/NodeStore.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

std::string ContainerErrorText(int32_t code) {
  switch (code) {
    case kErrNoCompare: return "No Compare function has been supplied";
    case kErrNoDupData: return "No DupData function has been supplied";
    case kErrNoDisposeData: return "No DisposeData function has been supplied";
    case kErrBadCloneSource: return "Incompatible source for Clone operation";
    case kErrSortedNilCompare: return "Container is sorted, hence Compare function cannot be nil";
    case kErrFreeNilNode: return "Attempt to free a nil Node";
    case kErrAllocZeroSize: return "Attempt to allocate node of zero size";
    case kErrFreeZeroSize: return "Attempt to free node of zero size";
    case kErrPopEmpty: return "Cannot pop from an empty stack or queue";
    case kErrIndexRange: return "Index is out of the range 0 to (Count-1)";
    default: return "Container error " + std::to_string(code);
  }
}

void RaiseContainerError(int32_t code) { throw EContainerError(ContainerErrorText(code)); }

namespace {
constexpr int kSlots = 15;  // node sizes 8, 12, ..., 64
TNodeStore* SharedStores[kSlots] = {};
std::mutex SharedStoresLock;
}  // namespace

TNodeStore::TNodeStore(int32_t nodeSize) : Size(nodeSize) {}

TNodeStore::~TNodeStore() {
  for (uint8_t* page : Pages) {
    std::memset(page, 0xCC, static_cast<size_t>(Size) * kNodesPerPage);
    std::free(page);
  }
}

void* TNodeStore::AllocNode() {
  if (Size <= 0) RaiseContainerError(kErrAllocZeroSize);
  TResourceLockGuard guard(Lock);
  if (!FreeList) {
    auto* page = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(Size) * kNodesPerPage));
    if (!page) throw EOutOfMemory("Out of memory");
    std::memset(page, 0xCC, static_cast<size_t>(Size) * kNodesPerPage);
    Pages.push_back(page);
    // The first slot is where the original pages are chained; the vector keeps them here, and
    // the slot stays unused so the page holds 127 nodes either way.
    for (int i = kNodesPerPage - 1; i >= 1; --i) {
      auto* link = reinterpret_cast<FreeLink*>(page + static_cast<size_t>(i) * Size);
      link->Next = FreeList;
      FreeList = link;
    }
    Free += kNodesPerPage - 1;
  }
  FreeLink* node = FreeList;
  FreeList = node->Next;
  --Free;
  std::memset(node, 0, static_cast<size_t>(Size));
  return node;
}

void TNodeStore::FreeNode(void* node) {
  if (!node) RaiseContainerError(kErrFreeNilNode);
  if (Size <= 0) RaiseContainerError(kErrFreeZeroSize);
  TResourceLockGuard guard(Lock);
  std::memset(node, 0xCC, static_cast<size_t>(Size));
  auto* link = static_cast<FreeLink*>(node);
  link->Next = FreeList;
  FreeList = link;
  ++Free;
}

TNodeStore* TNodeStore::Attach(int32_t nodeSize) {
  if (nodeSize < 8) nodeSize = 8;
  if (nodeSize > 64) nodeSize = 64;
  nodeSize = (nodeSize + 3) & ~3;
  int slot = (nodeSize - 8) / 4;
  std::lock_guard<std::mutex> g(SharedStoresLock);
  if (!SharedStores[slot]) SharedStores[slot] = new TNodeStore(nodeSize);
  ++SharedStores[slot]->Users;
  return SharedStores[slot];
}

void TNodeStore::Detach(TNodeStore* store) {
  if (!store) return;
  std::lock_guard<std::mutex> g(SharedStoresLock);
  if (--store->Users > 0) return;
  int slot = (store->Size - 8) / 4;
  if (slot >= 0 && slot < kSlots && SharedStores[slot] == store) SharedStores[slot] = nullptr;
  delete store;
}
