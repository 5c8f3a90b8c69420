#include "sysinfo/SI_CPU.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define KT_HAVE_CPUID 1
#endif

#include "base/PasMath.h"
#include "base/SysUtils.h"

namespace {
struct Regs {
  uint32_t a = 0, b = 0, c = 0, d = 0;
};

// A leaf the processor does not offer reads as zeros.
Regs Cpuid(uint32_t leaf) {
  Regs r;
#ifdef KT_HAVE_CPUID
  __get_cpuid(leaf, &r.a, &r.b, &r.c, &r.d);
#else
  (void)leaf;
#endif
  return r;
}

uint64_t ReadTSC() {
#ifdef KT_HAVE_CPUID
  return __rdtsc();
#else
  return 0;
#endif
}

// The counter the clock is measured against: 1 MHz, so a pass of 1000 ticks lasts 1 ms.
constexpr int64_t kCounterFrequency = 1000000;
int64_t ReadCounter() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

struct VendorRow {
  const char* Text;
  const char* Name;
  const char* Ex;
};
// The UMC text is padded to CPUID's twelve characters.
const VendorRow kVendors[7] = {
    {"GenuineIntel", "Intel", "Intel Corporation"},
    {"AuthenticAMD", "AMD", "Advanced Micro Devices"},
    {"CyrixInstead", "Cyrix", "Cyrix Corporation"},
    {"CentaurHauls", "IDT", "IDT/Centaur"},
    {"NexGenDriven", "NexGen", "NexGen Inc."},
    {"UMC UMC UMC ", "UMC", "United Microelectronics Corp"},
    {"RiseRiseRise", "Rise", "Rise Technology"},
};

TCPUName N(const char* name, const char* code, int32_t transistors) {
  TCPUName n;
  n.Name = name;
  n.CodeName = code;
  n.Transistors = transistors;
  return n;
}

TCPUName IntelName(int family, int model, int brand, int type, int l2) {
  switch (family) {
    case 4:
      switch (model) {
        case 0: case 1: return N("i80486DX", "P4", 1250000);
        case 2: return N("i80486SX", "P23", 900000);
        case 3: return N("i80486DX2", "P24", 1250000);
        case 4: return N("i80486SL", "P23", 900000);
        case 5: return N("i80486SX2", "P23", 900000);
        case 7: return N("i80486DX2WB", "P24", 1250000);
        case 8: return N("i80486DX4", "P24C", 1600000);
        case 9: return N("i80486DX4WB", "P24C", 1600000);
      }
      return {};
    case 5:
      switch (model) {
        case 0: return N("Pentium", "P5 (0,80\xB5m)", 3100000);
        case 1: case 2: return N("Pentium", "P54C (0,50\xB5m)", 3100000);
        case 3: return N("Pentium", "P24T", 0);
        case 4: return N("Pentium MMX", "P55C (0,28\xB5m)", 4500000);
        case 5: return N("DX4", "", 0);
        case 6: return N("Pentium", "P5", 0);
        case 7: return N("Pentium", "P54C (0,35\xB5m)", 3100000);
        case 8: return N("Pentium MMX (mobile)", "Tillamook (0,25\xB5m)", 4500000);
      }
      return N("Pentium", "", 0);
    case 6:
      switch (model) {
        case 0: return N("Pentium Pro", "P6 (0.50 \xB5m)", 5500000);
        case 1: return N("Pentium Pro", "P6 (0.35 \xB5m)", 5500000);
        case 3: return N(type == 1 ? "Pentium II OverDrive" : "Pentium II", "Klamath (0.35 \xB5m)", 7500000);
        case 4: return N("Pentium II", "P55CT (P54 OverDrive)", 3100000);
        case 5:
          if (l2 > 512) return N("Pentium II Xeon", "Deschutes (0.25 \xB5m)", 7500000);
          if (l2 == 0) return N("Celeron", "Covington (0,25\xB5m)", 7500000);
          return N("Pentium II", "Deschutes (0,25\xB5m)", 7500000);
        case 6:
          if (l2 < 256) return N("Celeron A", "Mendocino (0.25 \xB5m)", 19000000);
          return N("Pentium II PE (mobile)", "Dixon (0.25 \xB5m)", 27400000);
        case 7:
          if (l2 > 512) return N("Pentium III Xeon", "Tanner (0.25 \xB5m)", 9500000);
          return N("Pentium III", "Katmai (0.25 \xB5m)", 9500000);
        case 8: return N("Pentium III E", "Coppermine (0.18 \xB5m)", 28100000);
      }
      return N("Pentium II", "", 0);  // model 2 and models above 8
    case 7:
    case 8:
      if (brand == 1) return N("Celeron", "", 0);
      if (brand == 3) return N("Pentium III Xeon", "", 0);
      if (brand == 4) return N("Pentium IV", "", 0);
      return N(l2 >= 1024 ? "Pentium III Xeon" : "Pentium III", "", 0);
    case 10: return N("Pentium III Xeon", "", 0);
    case 15: return N("Pentium IV", "", 0);
  }
  return {};
}

TCPUName AMDName(int family, int model) {
  if (family == 4) {
    switch (model) {
      case 0: return N("Am486DX", "P4", 1250000);
      case 3: case 7: return N("Am486DX2", "P24", 1250000);
      case 8: case 9: return N("Am486DX4", "P24C", 1250000);
      case 14: case 15: return N("Am5x86", "X5", 1600000);
    }
  } else if (family == 5) {
    switch (model) {
      case 0: return N("K5", "SSA5 (0.50-0.35 \xB5m)", 4300000);
      case 1: case 2: case 3: return N("K5-5k86 (PR120, PR133)", "5k86 (0.35 \xB5m)", 4300000);
      case 6: return N("K6", "K6 (0.30 \xB5m)", 8800000);
      case 7: return N("K6", "Little Foot (0.25 \xB5m)", 8800000);
      case 8: return N("K6-II", "Chomper (0.25 \xB5m)", 9300000);
      case 9: return N("K6-III", "Slarptooth (0.25 \xB5m)", 21300000);
      case 13: return N("K6-II+/K6-III+", "", 0);
    }
  } else if (family == 6) {
    return N("K7", "Athlon (0.25-0.18 \xB5m)", 22000000);
  }
  return {};
}

TCPUName CyrixName(int family, int model, int mhz) {
  if (family == 4) {
    switch (model) {
      case 0:
        if (mhz == 20 || mhz == 66) return N("Cx486SLC/DLC", "M0.5", 600000);
        if (mhz == 33 || mhz == 50) return N("Cx486S", "M0.6", 600000);
        if (mhz > 66) return N("Cx486DX/DX2/DX4", "M0.7", 1100000);
        return {};
      case 4: return N("Media GX", "Gx86", 24000000);
      case 9: return N("5x86", "M0.9 or M1sc (0.65 \xB5m)", 20000000);
    }
  } else if (family == 5) {
    if (model == 2) return N("6x86 and 6x86L", "M1 (0.65 \xB5m) and M1L (0.35 \xB5m)", 30000000);
    if (model == 4) return N("MediaGXm", "GXm", 24000000);
  } else if (family == 6) {
    if (model == 0) {
      if (mhz < 225) return N("6x86MX (PR166-266)", "M2 (0.35 \xB5m)", 65000000);
      return N("M-II (PR300-433)", "M2 (0.35-0.25 \xB5m)", 65000000);
    }
    if (model == 5) return N("VIA Cyrix III", "", 0);
  }
  return {};
}
}  // namespace

TCPUName CPUModelName(int vendor, int family, int model, int brand, int type, int l2, int mhz) {
  switch (vendor) {
    case 1: return IntelName(family, model, brand, type, l2);
    case 2: return AMDName(family, model);
    case 3: return CyrixName(family, model, mhz);
    case 4:
      if (family == 5) {
        if (model == 4) return N("WinChip", "C6 (0.35 \xB5m)", 54000000);
        if (model == 8) return N("WinChip 2x", "W2x (0.35-0.25 \xB5m)", 59000000);
        if (model == 9) return N("WinChip 3", "W3 (0.25 \xB5m)", 90000000);
      }
      return {};
    case 5:
      if (family == 5) {
        if (model == 0) return N("Nx586", "Nx5x86 (0.50-0.44 \xB5m)", 35000000);
        if (model == 6) return N("Nx686", "HA (0,50\xB5m)", 60000000);
      }
      return {};
    case 6:
      if (family == 4) {
        static const char* kNames[5] = {"", "U5D", "U5S", "U486DX2", "U486SX2"};
        return N(model >= 1 && model <= 4 ? kNames[model] : "", "U5D and U5S", 12000000);
      }
      return {};
    case 7:
      if (family == 4 && (model == 0 || model == 1)) return N("mP6", "mP6 (0.25-0.18 \xB5m)", 36000000);
      return {};
  }
  return {};
}

std::string CPUBrandText(const uint32_t regs[12]) {
  char raw[49] = {};
  std::memcpy(raw, regs, 48);
  std::string out;
  for (const char* c = raw; *c; ++c) {
    if (*c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += *c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string CPUCodeName(int vendor, int family, int model) {
  struct Row {
    int Family, First, Last;
    const char* Name;
  };
  static const Row kIntel[] = {
      {6, 0x17, 0x17, "Penryn"},        {6, 0x1D, 0x1D, "Dunnington"},      {6, 0x16, 0x16, "Merom"},
      {6, 0x1A, 0x1A, "Nehalem"},       {6, 0x1E, 0x1F, "Nehalem"},         {6, 0x2E, 0x2E, "Nehalem"},
      {6, 0x25, 0x25, "Westmere"},      {6, 0x2C, 0x2C, "Westmere"},        {6, 0x2F, 0x2F, "Westmere"},
      {6, 0x2A, 0x2A, "Sandy Bridge"},  {6, 0x2D, 0x2D, "Sandy Bridge"},    {6, 0x3A, 0x3A, "Ivy Bridge"},
      {6, 0x3E, 0x3E, "Ivy Bridge"},    {6, 0x3C, 0x3C, "Haswell"},         {6, 0x3F, 0x3F, "Haswell"},
      {6, 0x45, 0x46, "Haswell"},       {6, 0x3D, 0x3D, "Broadwell"},       {6, 0x47, 0x47, "Broadwell"},
      {6, 0x4F, 0x4F, "Broadwell"},     {6, 0x56, 0x56, "Broadwell"},       {6, 0x4E, 0x4E, "Skylake"},
      {6, 0x5E, 0x5E, "Skylake"},       {6, 0x55, 0x55, "Skylake/Cascade Lake"},
      {6, 0x8E, 0x8E, "Kaby Lake/Coffee Lake"}, {6, 0x9E, 0x9E, "Kaby Lake/Coffee Lake"},
      {6, 0x66, 0x66, "Cannon Lake"},   {6, 0x6A, 0x6A, "Ice Lake"},        {6, 0x6C, 0x6C, "Ice Lake"},
      {6, 0x7D, 0x7E, "Ice Lake"},      {6, 0x8C, 0x8D, "Tiger Lake"},      {6, 0xA5, 0xA6, "Comet Lake"},
      {6, 0xA7, 0xA7, "Rocket Lake"},   {6, 0x8F, 0x8F, "Sapphire Rapids"}, {6, 0xCF, 0xCF, "Emerald Rapids"},
      {6, 0xAD, 0xAE, "Granite Rapids"}, {6, 0x97, 0x97, "Alder Lake"},     {6, 0x9A, 0x9A, "Alder Lake"},
      {6, 0xBE, 0xBE, "Alder Lake-N"},  {6, 0xB7, 0xB7, "Raptor Lake"},     {6, 0xBA, 0xBA, "Raptor Lake"},
      {6, 0xBF, 0xBF, "Raptor Lake"},   {6, 0xAA, 0xAA, "Meteor Lake"},     {6, 0xAC, 0xAC, "Meteor Lake"},
      {6, 0xC5, 0xC6, "Arrow Lake"},    {6, 0xBD, 0xBD, "Lunar Lake"},      {6, 0x5C, 0x5C, "Goldmont"},
      {6, 0x7A, 0x7A, "Goldmont Plus"}, {6, 0x86, 0x86, "Tremont"},         {6, 0x96, 0x96, "Tremont"},
      {6, 0x9C, 0x9C, "Tremont"},
  };
  static const Row kAMD[] = {
      {0x0F, 0x00, 0xFF, "K8"},          {0x10, 0x00, 0xFF, "K10"},         {0x11, 0x00, 0xFF, "Griffin"},
      {0x12, 0x00, 0xFF, "Llano"},       {0x14, 0x00, 0xFF, "Bobcat"},      {0x15, 0x02, 0x02, "Piledriver"},
      {0x15, 0x00, 0x0F, "Bulldozer"},   {0x15, 0x10, 0x1F, "Piledriver"},  {0x15, 0x30, 0x3F, "Steamroller"},
      {0x15, 0x60, 0x7F, "Excavator"},   {0x16, 0x00, 0xFF, "Jaguar"},      {0x17, 0x00, 0x2F, "Zen/Zen+"},
      {0x17, 0x30, 0xFF, "Zen 2"},       {0x18, 0x00, 0xFF, "Zen"},         {0x19, 0x10, 0x1F, "Zen 4"},
      {0x19, 0x40, 0x4F, "Zen 3+"},      {0x19, 0x60, 0x7F, "Zen 4"},       {0x19, 0xA0, 0xAF, "Zen 4c"},
      {0x19, 0x00, 0xFF, "Zen 3"},       {0x1A, 0x00, 0xFF, "Zen 5"},
  };
  auto find = [&](const Row* rows, size_t n) -> std::string {
    for (size_t i = 0; i < n; ++i)
      if (rows[i].Family == family && model >= rows[i].First && model <= rows[i].Last) return rows[i].Name;
    return "";
  };
  if (vendor == 1) return find(kIntel, sizeof kIntel / sizeof kIntel[0]);
  if (vendor == 2) return find(kAMD, sizeof kAMD / sizeof kAMD[0]);
  return "";
}

TCPUName CPUNaming(int vendor, uint32_t eax, int brand, int l2, int mhz, const std::string& brandText) {
  const int family = static_cast<int>((eax >> 8) & 0xF), model = static_cast<int>((eax >> 4) & 0xF);
  const int type = static_cast<int>((eax >> 12) & 0x3);
  const int extFamily = static_cast<int>((eax >> 20) & 0xFF), extModel = static_cast<int>((eax >> 16) & 0xF);
  TCPUName name;
  // The table keys on the base fields alone, which later processors reuse (a current Intel core
  // is family 6 with any base model): it only speaks for processors without extended fields.
  if (extFamily == 0 && extModel == 0) name = CPUModelName(vendor, family, model, brand, type, l2, mhz);
  if (name.Name.empty()) {
    const int displayFamily = family == 0xF ? family + extFamily : family;
    const int displayModel = family == 0x6 || family == 0xF ? (extModel << 4) + model : model;
    // the summary prints the maker's name right before the model: the brand's leading maker
    // word ("AMD ", "Intel(R) ") is not repeated
    name.Name = brandText;
    if (vendor >= 1 && vendor <= 7) {
      const std::string maker = kVendors[vendor - 1].Name;
      for (const char* mark : {"(R) ", "(TM) ", " "}) {
        const std::string prefix = maker + mark;
        if (brandText.size() > prefix.size() && SameText(brandText.substr(0, prefix.size()), prefix)) {
          name.Name = brandText.substr(prefix.size());
          break;
        }
      }
    }
    name.CodeName = CPUCodeName(vendor, displayFamily, displayModel);
    name.Transistors = 0;
  }
  return name;
}

int CPUVendorNumber(const std::string& vendorText) {
  for (int i = 0; i < 7; ++i)
    if (vendorText == kVendors[i].Text) return i + 1;
  return 0;
}

int NormalizeFrequency(int mhz) {
  static const int kSteps[9] = {0, 20, 33, 50, 60, 66, 80, 90, 100};
  if (mhz <= 0) return mhz;
  int r = mhz % 100;
  for (int i = 1; i < 9; ++i) {
    if (kSteps[i] > r) {
      int s = kSteps[i], p = kSteps[i - 1];
      return r - p < s - r ? mhz - (r - p) : mhz + (s - r);
    }
  }
  return mhz;
}

int CombineFrequencyPasses(const std::function<void(int64_t& cycles, int64_t& micros)>& pass,
                           int* passes) {
  int64_t totalCycles = 0, totalMicros = 0;
  int64_t last[3] = {0, 0, 0};
  int n = 0;
  while (n < 20) {
    int64_t cycles = 0, micros = 0;
    pass(cycles, micros);
    totalCycles += cycles;
    totalMicros += micros;
    int64_t value = micros > 0 ? PasRound(static_cast<double>(cycles) / static_cast<double>(micros)) : 0;
    last[0] = last[1];
    last[1] = last[2];
    last[2] = value;
    ++n;
    if (n >= 3) {
      int64_t sum = last[0] + last[1] + last[2];
      if (std::llabs(3 * last[0] - sum) <= 3 && std::llabs(3 * last[1] - sum) <= 3 &&
          std::llabs(3 * last[2] - sum) <= 3)
        break;
    }
  }
  if (passes) *passes = n;
  if (totalMicros <= 0) return 0;
  return static_cast<int>(PasRound(static_cast<double>(totalCycles) / static_cast<double>(totalMicros)));
}

std::string CPUSerialText(uint32_t eax, uint32_t edx, uint32_t ecx) {
  std::string out;
  for (uint32_t v : {eax, edx, ecx}) {
    std::string hex = IntToHex(v, 8);
    if (!out.empty()) out += "-";
    out += hex.substr(0, 4) + "-" + hex.substr(4, 4);
  }
  return out;
}

void TCPUFeatures::FillFrom(uint32_t edx1, uint32_t e) {
  auto bit = [](uint32_t v, int b) { return ((v >> b) & 1u) != 0; };
  EX_MMX = bit(e, 22) || bit(e, 24);
  EX_3DNOW = bit(e, 30);
  _3DNOW = bit(e, 31);
  const uint32_t d = edx1;
  FPU = bit(d, 0); VME = bit(d, 1); DE = bit(d, 2); PSE = bit(d, 3); TSC = bit(d, 4);
  MSR = bit(d, 5); PAE = bit(d, 6); MCE = bit(d, 7); CX8 = bit(d, 8); APIC = bit(d, 9);
  SEP = bit(d, 11); MTRR = bit(d, 12); PGE = bit(d, 13); MCA = bit(d, 14); CMOV = bit(d, 15);
  PAT = bit(d, 16); PSE36 = bit(d, 17); SERIAL = bit(d, 18); MMX = bit(d, 23); XSR = bit(d, 24);
  SIMD = bit(d, 25);
}

void TCPUFeatures::GetInfo() { FillFrom(Cpuid(1).d, Cpuid(0x80000001).d); }

void TCPUCache::FillIntel(const uint32_t regs[4]) {
  L1Data = L1Code = Level1 = Level2 = 0;
  for (int i = 0; i < 16; ++i) {
    const uint8_t b = static_cast<uint8_t>(regs[i / 4] >> (8 * (i % 4)));
    if (i > 0) {
      switch (b) {
        case 0x40: Level2 = 0; break;
        case 0x41: Level2 = 128; break;
        case 0x42: case 0x82: Level2 = 256; break;
        case 0x43: case 0x83: Level2 = 512; break;
        case 0x44: case 0x84: Level2 = 1024; break;
        case 0x45: case 0x85: Level2 = 2048; break;
      }
    }
    if (b == 0x0A) L1Data = 8;
    if (b == 0x0C) L1Data = 16;
    if (b == 0x06) L1Code = 8;
    if (b == 0x08) L1Code = 16;
    if (b == 0x80) Level1 = 16;
  }
}

void TCPUCache::FillAMD(uint32_t ecx, uint32_t edx) {
  L1Data = static_cast<int32_t>(ecx >> 24);
  L1Code = static_cast<int32_t>(edx >> 24);
  Level1 = L1Data + L1Code;
  Level2 = 0;
}

void TCPUCache::FillCyrix(uint32_t ecx) {
  L1Data = L1Code = Level1 = Level2 = 0;
  for (int i = 0; i < 4; ++i)
    if (((ecx >> (8 * i)) & 0xFF) == 0x80) Level1 = 16;
}

void TCPUCache::GetInfo(int vendor) {
  L1Data = L1Code = Level1 = Level2 = 0;
  if (vendor == 1) {
    Regs r = Cpuid(2);
    const uint32_t count = r.a & 0xFF;
    if (count == 0) return;
    for (uint32_t calls = 1; calls < count; ++calls) r = Cpuid(2);
    const uint32_t regs[4] = {r.a, r.b, r.c, r.d};
    FillIntel(regs);
  } else if (vendor == 2) {
    Regs r = Cpuid(0x80000005);
    FillAMD(r.c, r.d);
  } else if (vendor == 3) {
    FillCyrix(Cpuid(0x80000005).c);
  }
}

namespace {
bool CounterWorks() {
  timespec ts{};
  return clock_gettime(CLOCK_MONOTONIC_RAW, &ts) == 0;
}

int MeasureFrequency() {
  if (kCounterFrequency <= 0 || !CounterWorks()) return 0;  // no counter: no measurement
  // The thread keeps its priority: raising it needs privileges a game does not have.
  auto pass = [](int64_t& cycles, int64_t& micros) {
    int64_t c0 = ReadCounter(), start = c0;
    uint64_t s0 = ReadTSC();
    while (c0 - start < 50) {
      c0 = ReadCounter();
      s0 = ReadTSC();
    }
    int64_t c1 = c0;
    uint64_t s1 = s0;
    while (c1 - c0 < 1000) {
      c1 = ReadCounter();
      s1 = ReadTSC();
    }
    cycles = static_cast<uint32_t>(static_cast<uint32_t>(s1) - static_cast<uint32_t>(s0));
    const int64_t ticks = static_cast<uint32_t>(static_cast<uint32_t>(c1) - static_cast<uint32_t>(c0));
    micros = PasRound(static_cast<double>(ticks) * 100000.0 / static_cast<double>(kCounterFrequency / 10));
  };
  return NormalizeFrequency(CombineFrequencyPasses(pass));
}

bool DivisionFaulty() {
  volatile long double a = 4195835.0L, b = 3145727.0L;
  long double r = a / b * b - a;
  return r != 0.0L;
}
}  // namespace

void TCPU::GetInfo() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  Count = n > 0 ? static_cast<int32_t>(n) : 1;
  Frequency = MeasureFrequency();
  Regs r1 = Cpuid(1);
  Stepping = static_cast<int32_t>(r1.a & 0xF);
  Model = static_cast<int32_t>((r1.a >> 4) & 0xF);
  Family = static_cast<int32_t>((r1.a >> 8) & 0xF);
  CPUType = static_cast<int32_t>((r1.a >> 12) & 0x3);
  Brand = static_cast<int32_t>(r1.b & 0xFF);

  Regs r0 = Cpuid(0);
  char text[13] = {};
  std::memcpy(text, &r0.b, 4);
  std::memcpy(text + 4, &r0.d, 4);
  std::memcpy(text + 8, &r0.c, 4);
  VendorText.assign(text, 12);
  Vendor = CPUVendorNumber(VendorText);
  if (Vendor > 0) {
    VendorName = kVendors[Vendor - 1].Name;
    VendorEx = kVendors[Vendor - 1].Ex;
  } else {
    VendorName.clear();
  }

  GuardedCall("TCPUFeatures.GetInfo", ExceptionMode, [this] { Features.GetInfo(); });
  if (Features.SERIAL) SerialNumber = CPUSerialText(r1.a, r1.d, r1.c);
  FDIVBug = DivisionFaulty();
  GuardedCallEx(Vendor, "TCPUCache.GetInfo", ExceptionMode, [this](int v) { Cache.GetInfo(v); });
  std::string brandText;
  if (Cpuid(0x80000000).a >= 0x80000004) {
    uint32_t regs[12];
    for (uint32_t i = 0; i < 3; ++i) {
      const Regs r = Cpuid(0x80000002 + i);
      regs[i * 4] = r.a;
      regs[i * 4 + 1] = r.b;
      regs[i * 4 + 2] = r.c;
      regs[i * 4 + 3] = r.d;
    }
    brandText = CPUBrandText(regs);
  }
  TCPUName name = CPUNaming(Vendor, r1.a, Brand, Cache.Level2, Frequency, brandText);
  VendorID = name.Name;
  CodeName = name.CodeName;
  Transistors = name.Transistors;
}

