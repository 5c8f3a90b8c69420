#pragma once
// The processor: count, vendor, family/model/stepping, naming table, measured clock, feature
// flags and cache sizes, read with CPUID and the time-stamp counter.
#include <cstdint>
#include <functional>
#include <string>

#include "sysinfo/SI_Common.h"

class TCPUFeatures : public TSIObject {
public:
  const char* ClassName() const override { return "TCPUFeatures"; }
  void GetInfo() override;
  // From EDX of leaf 1 and EDX of leaf 0x80000001.
  void FillFrom(uint32_t edx1, uint32_t edxExt);

  bool _3DNOW = false, EX_3DNOW = false, EX_MMX = false, SIMD = false, SERIAL = false, XSR = false,
       MMX = false, PSE36 = false, PAT = false, CMOV = false, MCA = false, PGE = false, MTRR = false,
       SEP = false, APIC = false, CX8 = false, MCE = false, PAE = false, MSR = false, TSC = false,
       PSE = false, DE = false, VME = false, FPU = false;
};

class TCPUCache {
public:
  const char* ClassName() const { return "TCPUCache"; }
  void GetInfo(int vendor);
  // Descriptor bytes of leaf 2 (EAX, EBX, ECX, EDX of its last call).
  void FillIntel(const uint32_t regs[4]);
  // ECX and EDX of leaf 0x80000005.
  void FillAMD(uint32_t ecx, uint32_t edx);
  void FillCyrix(uint32_t ecx);

  int32_t L1Data = 0, L1Code = 0, Level1 = 0, Level2 = 0;
};

struct TCPUName {
  std::string Name, CodeName;
  int32_t Transistors = 0;
};

// The naming table: vendor number 1..7, family, model, brand number, type, L2 (KB), MHz.
TCPUName CPUModelName(int vendor, int family, int model, int brand, int type, int l2, int mhz);
// The brand text of leaves 0x80000002..0x80000004 (EAX, EBX, ECX, EDX of each, in order): up to
// the first NUL, blanks trimmed and runs of blanks made one.
std::string CPUBrandText(const uint32_t regs[12]);
// Code name of a processor too new for the naming table, from its display family and model
// (the base fields widened by the extended ones); "" when unknown.
std::string CPUCodeName(int vendor, int displayFamily, int displayModel);
// The naming of a processor: the table's row for processors that predate the extended family and
// model fields, else (or when the table has no row) the brand text, without a leading maker's
// name that the vendor table already gives, with the code name above.
TCPUName CPUNaming(int vendor, uint32_t leaf1Eax, int brand, int l2, int mhz, const std::string& brandText);
// Vendor number of a 12-character CPUID vendor text, 0 when unknown.
int CPUVendorNumber(const std::string& vendorText);
// Moves a frequency to the nearest usual step of its hundred (1196 -> 1200, 451 -> 450).
int NormalizeFrequency(int mhz);
// Runs measurement passes (3 to 20, until the last three agree within 1 MHz of their mean);
// each pass reports cycles and microseconds. Returns the unnormalised MHz; `passes` the count.
int CombineFrequencyPasses(const std::function<void(int64_t& cycles, int64_t& micros)>& pass,
                           int* passes = nullptr);
// "XXXX-XXXX-XXXX-XXXX-XXXX-XXXX" from EAX, EDX, ECX of leaf 1.
std::string CPUSerialText(uint32_t eax, uint32_t edx, uint32_t ecx);

class TCPU : public TSIObject {
public:
  const char* ClassName() const override { return "TCPU"; }
  void GetInfo() override;

  TExceptionMode ExceptionMode = emMessage;
  int32_t Count = 0;
  std::string VendorEx;
  std::string VendorID;  // model name from the naming table
  int32_t Frequency = 0;
  int32_t Family = 0, Stepping = 0, Model = 0;
  TCPUFeatures Features;
  TCPUCache Cache;
  std::string SerialNumber;
  bool FDIVBug = false;
  std::string CodeName;
  int32_t Transistors = 0;

  std::string VendorName;
  std::string VendorText;  // the twelve characters of CPUID leaf 0
  int32_t Vendor = 0, CPUType = 0, Brand = 0;
};
