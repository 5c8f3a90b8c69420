#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "sysinfo/SI_Memory.h"

TEST(Memory, LiveFiguresAreConsistent) {
  TMemory m;
  m.GetInfo();
  EXPECT_GT(m.PhysicalTotal, 16 * 1048576LL);
  EXPECT_GE(m.PhysicalFree, 0);
  EXPECT_LE(m.PhysicalFree, m.PhysicalTotal);
  EXPECT_GE(m.MemoryLoad, 0);
  EXPECT_LE(m.MemoryLoad, 100);
  EXPECT_GE(m.PageFileFree, 0);
  EXPECT_LE(m.PageFileFree, m.PageFileTotal);
  // the memory check before a game compares the free address space with 24000 bytes
  EXPECT_GT(m.VirtualFree, 24000);
  EXPECT_LE(m.VirtualFree, m.VirtualTotal);
  EXPECT_GT(m.PageSize, 0);
  EXPECT_EQ(m.PageSize & (m.PageSize - 1), 0);
  EXPECT_GE(m.AllocGranularity, m.PageSize);
  EXPECT_LT(m.MinAppAddress, m.MaxAppAddress);
  EXPECT_EQ(m.Win9x_SystemRes + m.Win9x_GDIRes + m.Win9x_UserRes, 0);
}

TEST(Memory, FiguresFromAMeminfoFile) {
  TMemory m;
  m.FillFrom(ReadAll(std::string(KT_FIXTURES) + "/sysinfo/meminfo"), 1 << 30, 0);
  EXPECT_EQ(m.PhysicalTotal, 16303496LL * 1024);
  EXPECT_EQ(m.PhysicalFree, 8151748LL * 1024);
  EXPECT_EQ(m.MemoryLoad, 50);
  // what programs may commit is RAM plus swap, not the kernel's CommitLimit heuristic
  EXPECT_EQ(m.PageFileTotal, (16303496LL + 2097148LL) * 1024);
  EXPECT_EQ(m.PageFileFree, (8151748LL + 2097148LL) * 1024);
  EXPECT_EQ(m.VirtualFree, m.VirtualTotal - (1 << 30));
}

TEST(Memory, WithoutSwapThePageFileIsTheRam) {
  TMemory m;
  m.FillFrom("MemTotal: 25000000 kB\nMemAvailable: 20000000 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n"
             "CommitLimit: 12500000 kB\nCommitted_AS: 9000000 kB\n",
             0, 0);
  EXPECT_EQ(m.PageFileTotal, 25000000LL * 1024);
  EXPECT_EQ(m.PageFileFree, 20000000LL * 1024);
}

TEST(Memory, AddressSpaceLimitCapsTheVirtualFigures) {
  TMemory m;
  m.FillFrom("MemTotal: 1000 kB\n", 3000000, 2000000);
  EXPECT_EQ(m.VirtualTotal, 2000000);
  EXPECT_EQ(m.VirtualFree, 0);  // more mapped than the limit allows: none free, not negative
}

TEST(Memory, OddFilesGiveDefinedFigures) {
  struct Case {
    const char* text;
    int64_t total, avail;
  } cases[] = {
      // an old kernel without MemAvailable: free + buffers + cached
      {"MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 50 kB\nCached: 150 kB\n", 1024000, 300 * 1024},
      // available above total is clamped
      {"MemTotal: 10 kB\nMemAvailable: 99 kB\n", 10240, 10240},
      // a number too large for 64 bits is ignored
      {"MemTotal: 2000 kB\nMemAvailable: 99999999999999999999999 kB\n", 2048000, 0},
      // a line cut off in the middle of its number still reads as what is there
      {"MemTotal: 4096 kB\nMemAvailable: 10", 4096 * 1024, 10},
      {"garbage\n:::\nMemTotal kB\n", -1, -1},
      // a total near the 64-bit limit: the load still comes out in range
      {"MemTotal: 1132088888888888 kB\n", 1132088888888888LL * 1024, 0},
  };
  for (const Case& c : cases) {
    TMemory m;
    m.FillFrom(c.text, 0, 0);
    SCOPED_TRACE(c.text);
    if (c.total >= 0) {
      EXPECT_EQ(m.PhysicalTotal, c.total);
    } else {
      EXPECT_GT(m.PhysicalTotal, 0);  // falls back to sysinfo(2)
    }
    if (c.avail >= 0) {
      EXPECT_EQ(m.PhysicalFree, c.avail);
    }
    EXPECT_GE(m.PhysicalFree, 0);
    EXPECT_LE(m.PhysicalFree, m.PhysicalTotal);
    EXPECT_GE(m.MemoryLoad, 0);
    EXPECT_LE(m.MemoryLoad, 100);
    EXPECT_GE(m.PageFileFree, 0);
  }
}
