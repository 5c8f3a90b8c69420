#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "sysinfo/SI_CPU.h"

TEST(CPU, LiveIdentification) {
  TCPU cpu;
  cpu.ExceptionMode = emRaise;
  cpu.GetInfo();
  EXPECT_GE(cpu.Count, 1);
  // the vendor texts of the makers of x86-64 processors
  const std::set<std::string> known = {"GenuineIntel", "AuthenticAMD", "CentaurHauls", "HygonGenuine",
                                       "  Shanghai  "};
  ASSERT_EQ(cpu.VendorText.size(), 12u);
  EXPECT_TRUE(known.count(cpu.VendorText)) << cpu.VendorText;
  const bool tabled = cpu.VendorText == "GenuineIntel" || cpu.VendorText == "AuthenticAMD" ||
                      cpu.VendorText == "CentaurHauls";
  EXPECT_EQ(cpu.VendorName.empty(), !tabled);
  EXPECT_EQ(cpu.VendorEx.empty(), !tabled);
  EXPECT_GE(cpu.Family, 1);
  EXPECT_TRUE(cpu.Features.FPU);
  EXPECT_TRUE(cpu.Features.TSC);
  EXPECT_TRUE(cpu.Features.MMX);
  EXPECT_GT(cpu.Frequency, 0);
  EXPECT_LT(cpu.Frequency, 20000);
  EXPECT_FALSE(cpu.FDIVBug);
  EXPECT_EQ(cpu.Frequency, NormalizeFrequency(cpu.Frequency));
}

TEST(CPU, LiveNamingIsNeverEmptyWhereTheProcessorHasABrand) {
  TCPU cpu;
  cpu.ExceptionMode = emRaise;
  cpu.GetInfo();
  EXPECT_FALSE(cpu.VendorID.empty());  // table row or brand text, never "CPU: AMD  - ..."
}

TEST(CPU, NamingOfCurrentProcessorsUsesTheBrandText) {
  struct Case {
    int vendor;
    uint32_t eax;
    int l2;
    const char* brand;
    const char* name;
    const char* code;
  } cases[] = {
      // current cores reuse base family 6 with any base model: never a "Pentium III" or "Katmai";
      // the maker's name leading the brand is printed once, from the vendor table
      {1, 0x000A0671, 0, "Intel(R) Xeon(R) Processor", "Xeon(R) Processor", "Rocket Lake"},
      {1, 0x000906EA, 0, "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz", "Core(TM) i7-8700 CPU @ 3.20GHz",
       "Kaby Lake/Coffee Lake"},
      {1, 0x000B0671, 0, "13th Gen Intel(R) Core(TM) i7-13700K", "13th Gen Intel(R) Core(TM) i7-13700K", "Raptor Lake"},
      // AMD: base family 15 plus the extended family
      {2, 0x00860F81, 0, "AMD Ryzen 7 5700U with Radeon Graphics", "Ryzen 7 5700U with Radeon Graphics", "Zen 2"},
      {2, 0x00A20F10, 0, "AMD Ryzen 9 5950X 16-Core Processor", "Ryzen 9 5950X 16-Core Processor", "Zen 3"},
      {2, 0x00A60F12, 0, "AMD Ryzen 7 7700X 8-Core Processor", "Ryzen 7 7700X 8-Core Processor", "Zen 4"},
      {2, 0x00B40F40, 0, "AMD Ryzen 9 9950X", "Ryzen 9 9950X", "Zen 5"},
      {2, 0x00B40F40, 0, "AMD", "AMD", "Zen 5"},  // nothing but the maker: kept
      // an unknown maker: the brand, no code name
      {0, 0x00900F22, 0, "Hygon C86 3185", "Hygon C86 3185", ""},
      // processors of the table keep its row
      {1, 0x00000672, 512, "", "Pentium III", "Katmai (0.25 \xB5m)"},
      {1, 0x00000F24, 512, "Intel(R) Pentium(R) 4 CPU 2.40GHz", "Pentium IV", ""},
      {2, 0x00000622, 0, "AMD Athlon(tm) Processor", "K7", "Athlon (0.25-0.18 \xB5m)"},
  };
  for (const Case& c : cases) {
    TCPUName n = CPUNaming(c.vendor, c.eax, 0, c.l2, 2000, c.brand);
    EXPECT_EQ(n.Name, c.name) << std::hex << c.eax;
    EXPECT_EQ(n.CodeName, c.code) << std::hex << c.eax;
  }
}

TEST(CPU, BrandTextIsTrimmedAndSqueezed) {
  uint32_t regs[12] = {};
  const char text[] = "       Intel(R) Core(TM)  i5 CPU   ";
  static_assert(sizeof text <= sizeof regs);
  std::memcpy(regs, text, sizeof text);
  EXPECT_EQ(CPUBrandText(regs), "Intel(R) Core(TM) i5 CPU");
  std::memset(regs, 'x', sizeof regs);  // no NUL at all: all 48 characters
  EXPECT_EQ(CPUBrandText(regs), std::string(48, 'x'));
}

TEST(CPU, VendorTexts) {
  EXPECT_EQ(CPUVendorNumber("GenuineIntel"), 1);
  EXPECT_EQ(CPUVendorNumber("AuthenticAMD"), 2);
  EXPECT_EQ(CPUVendorNumber("UMC UMC UMC "), 6);  // CPUID pads it to twelve characters
  EXPECT_EQ(CPUVendorNumber("RiseRiseRise"), 7);
  EXPECT_EQ(CPUVendorNumber("genuineintel"), 0);
  EXPECT_EQ(CPUVendorNumber("HygonGenuine"), 0);
  EXPECT_EQ(CPUVendorNumber(""), 0);
}

TEST(CPU, FrequencyNormalisation) {
  const std::pair<int, int> cases[] = {{1196, 1200}, {1004, 1000}, {451, 450}, {498, 500}, {666, 666},
                                       {2993, 2990}, {733, 733},   {866, 866}, {0, 0},     {10, 20}};
  for (auto [in, out] : cases) EXPECT_EQ(NormalizeFrequency(in), out) << in;
}

TEST(CPU, MeasurementStopsWhenThreePassesAgree) {
  int passes = 0;
  int mhz = CombineFrequencyPasses([](int64_t& c, int64_t& us) { c = 733000; us = 1000; }, &passes);
  EXPECT_EQ(passes, 3);
  EXPECT_EQ(mhz, 733);

  int n = 0;
  mhz = CombineFrequencyPasses([&](int64_t& c, int64_t& us) { c = (n++ % 2) ? 710000 : 700000; us = 1000; }, &passes);
  EXPECT_EQ(passes, 20);
  EXPECT_EQ(mhz, 705);

  // an interval that rounds to no time at all does not divide by zero
  mhz = CombineFrequencyPasses([](int64_t& c, int64_t& us) { c = 5000; us = 0; }, &passes);
  EXPECT_EQ(mhz, 0);
}

TEST(CPU, NamingTable) {
  struct Case {
    int vendor, family, model, brand, type, l2, mhz;
    const char* name;
    const char* code;
    int transistors;
  } cases[] = {
      {1, 6, 7, 0, 0, 512, 500, "Pentium III", "Katmai (0.25 \xB5m)", 9500000},
      {1, 6, 7, 0, 0, 1024, 500, "Pentium III Xeon", "Tanner (0.25 \xB5m)", 9500000},
      {1, 6, 3, 0, 1, 512, 300, "Pentium II OverDrive", "Klamath (0.35 \xB5m)", 7500000},
      {1, 6, 5, 0, 0, 0, 300, "Celeron", "Covington (0,25\xB5m)", 7500000},
      {1, 6, 14, 0, 0, 0, 3000, "Pentium II", "", 0},
      {1, 5, 12, 0, 0, 0, 100, "Pentium", "", 0},
      {1, 8, 1, 4, 0, 0, 1500, "Pentium IV", "", 0},
      {1, 8, 1, 0, 0, 1024, 1500, "Pentium III Xeon", "", 0},
      {1, 15, 2, 0, 0, 0, 2000, "Pentium IV", "", 0},
      {1, 4, 6, 0, 0, 0, 33, "", "", 0},
      {2, 6, 4, 0, 0, 0, 1000, "K7", "Athlon (0.25-0.18 \xB5m)", 22000000},
      {2, 15, 1, 0, 0, 0, 3000, "", "", 0},
      {3, 4, 0, 0, 0, 0, 50, "Cx486S", "M0.6", 600000},
      {3, 4, 0, 0, 0, 0, 40, "", "", 0},
      {3, 6, 0, 0, 0, 0, 233, "M-II (PR300-433)", "M2 (0.35-0.25 \xB5m)", 65000000},
      {6, 4, 7, 0, 0, 0, 33, "", "U5D and U5S", 12000000},
      {7, 4, 1, 0, 0, 0, 200, "mP6", "mP6 (0.25-0.18 \xB5m)", 36000000},
      {0, 6, 7, 0, 0, 512, 500, "", "", 0},
  };
  for (const Case& c : cases) {
    TCPUName n = CPUModelName(c.vendor, c.family, c.model, c.brand, c.type, c.l2, c.mhz);
    SCOPED_TRACE(testing::Message() << c.vendor << "/" << c.family << "/" << c.model);
    EXPECT_EQ(n.Name, c.name);
    EXPECT_EQ(n.CodeName, c.code);
    EXPECT_EQ(n.Transistors, c.transistors);
  }
}

TEST(CPU, CacheDescriptors) {
  TCPUCache cache;
  // count byte 0x01 (skipped even though it would not match), then 0x43, 0x0A, 0x08, 0x41 last
  const uint32_t regs[4] = {0x0A430001u, 0x00000008u, 0x80000000u, 0x41000000u};
  cache.FillIntel(regs);
  EXPECT_EQ(cache.Level2, 128);  // the last matching byte wins
  EXPECT_EQ(cache.L1Data, 8);
  EXPECT_EQ(cache.L1Code, 16);
  EXPECT_EQ(cache.Level1, 16);

  // an L2 code in the count byte is not an L2 descriptor
  const uint32_t countOnly[4] = {0x00000044u, 0, 0, 0};
  cache.FillIntel(countOnly);
  EXPECT_EQ(cache.Level2, 0);

  cache.FillAMD(0x40020140u, 0x20020140u);
  EXPECT_EQ(cache.L1Data, 64);
  EXPECT_EQ(cache.L1Code, 32);
  EXPECT_EQ(cache.Level1, 96);
  EXPECT_EQ(cache.Level2, 0);

  cache.FillCyrix(0x00800000u);
  EXPECT_EQ(cache.Level1, 16);
  cache.FillCyrix(0x00700000u);
  EXPECT_EQ(cache.Level1, 0);

  cache.GetInfo(0);  // unknown vendor: no sizes
  EXPECT_EQ(cache.L1Data + cache.L1Code + cache.Level1 + cache.Level2, 0);
}

TEST(CPU, FeatureBitsAndSerialText) {
  TCPUFeatures f;
  f.FillFrom((1u << 0) | (1u << 18) | (1u << 25), (1u << 24) | (1u << 31));
  EXPECT_TRUE(f.FPU);
  EXPECT_TRUE(f.SERIAL);
  EXPECT_TRUE(f.SIMD);
  EXPECT_FALSE(f.MMX);
  EXPECT_TRUE(f.EX_MMX);
  EXPECT_TRUE(f._3DNOW);
  EXPECT_FALSE(f.EX_3DNOW);
  EXPECT_EQ(CPUSerialText(0x00000686u, 0x0383F9FFu, 0xABCDEF01u), "0000-0686-0383-F9FF-ABCD-EF01");
}
