#include "sysinfo/SI_Memory.h"

#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"

namespace {
// Highest user address of an x86-64 process with 4-level paging (47-bit space, last page kept).
constexpr uint64_t kTopOfUserSpace = 0x00007FFFFFFFEFFFULL;

int64_t Get(const std::map<std::string, int64_t>& m, const char* key) {
  auto it = m.find(key);
  return it == m.end() ? -1 : it->second;
}
}  // namespace

std::map<std::string, int64_t> ParseMemInfo(const std::string& text) {
  std::map<std::string, int64_t> out;
  for (const auto& [key, value] : ParseColonFile(text, false)) {
    int64_t v = ParseLeadingInt(value, -1);
    if (v < 0) continue;
    bool kb = value.size() >= 2 && value.compare(value.size() - 2, 2, "kB") == 0;
    if (kb) {
      if (v > INT64_MAX / 1024) continue;
      v *= 1024;
    }
    out[key] = v;
  }
  return out;
}

void TMemory::FillFrom(const std::string& meminfo, int64_t vmSize, uint64_t addressLimit) {
  auto m = ParseMemInfo(meminfo);
  int64_t total = Get(m, "MemTotal");
  int64_t avail = Get(m, "MemAvailable");
  if (avail < 0) {  // kernels before 3.14: free plus reclaimable caches
    int64_t f = Get(m, "MemFree"), b = Get(m, "Buffers"), c = Get(m, "Cached");
    avail = f < 0 ? -1 : f + std::max<int64_t>(b, 0) + std::max<int64_t>(c, 0);
  }
  if (total < 0) {
    struct sysinfo si{};
    if (sysinfo(&si) == 0) {
      total = static_cast<int64_t>(si.totalram) * si.mem_unit;
      if (avail < 0) avail = static_cast<int64_t>(si.freeram + si.bufferram) * si.mem_unit;
    }
  }
  PhysicalTotal = std::max<int64_t>(total, 0);
  PhysicalFree = std::clamp<int64_t>(avail, 0, PhysicalTotal);
  // 128-bit product: a (bogus) total near the 64-bit limit must not overflow
  MemoryLoad = PhysicalTotal > 0
                   ? static_cast<int32_t>(static_cast<__int128>(PhysicalTotal - PhysicalFree) * 100 / PhysicalTotal)
                   : 0;

  // What programs may commit: the RAM plus the swap. The kernel's CommitLimit is no measure of
  // it (with overcommit it is only a heuristic's figure, half the RAM on a machine without swap).
  const int64_t swapTotal = std::max<int64_t>(Get(m, "SwapTotal"), 0);
  const int64_t swapFree = std::clamp<int64_t>(Get(m, "SwapFree"), 0, swapTotal);
  PageFileTotal = PhysicalTotal > INT64_MAX - swapTotal ? INT64_MAX : PhysicalTotal + swapTotal;
  PageFileFree = PhysicalFree > PageFileTotal - swapFree ? PageFileTotal : PhysicalFree + swapFree;

  long page = sysconf(_SC_PAGESIZE);
  PageSize = page > 0 ? static_cast<int32_t>(page) : 4096;
  AllocGranularity = PageSize;  // mmap places mappings on page boundaries
  int64_t minAddr = ParseLeadingInt(ReadSysLine("/proc/sys/vm/mmap_min_addr"), PageSize);
  MinAppAddress = static_cast<uint64_t>(std::max<int64_t>(minAddr, PageSize));
  MaxAppAddress = kTopOfUserSpace;

  uint64_t space = MaxAppAddress + 1 - MinAppAddress;
  if (addressLimit > 0 && addressLimit < space) space = addressLimit;
  VirtualTotal = static_cast<int64_t>(space);
  VirtualFree = std::clamp<int64_t>(VirtualTotal - std::max<int64_t>(vmSize, 0), 0, VirtualTotal);
  Win9x_SystemRes = Win9x_GDIRes = Win9x_UserRes = 0;
}

void TMemory::GetInfo() {
  std::string meminfo, status;
  ReadSysFile(Roots.Proc + "/meminfo", meminfo);
  ReadSysFile(Roots.Proc + "/self/status", status);
  int64_t vmSize = 0;
  auto st = ParseMemInfo(status);
  auto it = st.find("VmSize");
  if (it != st.end()) vmSize = it->second;
  uint64_t limit = 0;
  rlimit rl{};
  if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) limit = rl.rlim_cur;
  FillFrom(meminfo, vmSize, limit);
}
