#pragma once
// Physical memory, commit limit ("page file") and the process's address space.
#include <cstdint>
#include <map>
#include <string>

#include "sysinfo/SI_Common.h"

// The figures of /proc/meminfo in bytes ("MemTotal: 123 kB" -> 125952); malformed lines skipped.
std::map<std::string, int64_t> ParseMemInfo(const std::string& text);

class TMemory : public TSIObject {
public:
  const char* ClassName() const override { return "TMemory"; }
  void GetInfo() override;
  // The refresh from given file contents, so odd files can be tried; GetInfo passes the live ones.
  // `vmSize` is the process's mapped address space in bytes.
  void FillFrom(const std::string& meminfo, int64_t vmSize, uint64_t addressLimit);

  int64_t PhysicalTotal = 0, PhysicalFree = 0;
  int64_t VirtualTotal = 0, VirtualFree = 0;
  int64_t PageFileTotal = 0, PageFileFree = 0;
  int32_t MemoryLoad = 0;
  int32_t AllocGranularity = 0;
  // 64-bit: the address space of a 64-bit process does not fit 32 bits
  uint64_t MaxAppAddress = 0, MinAppAddress = 0;
  int32_t PageSize = 0;
  uint8_t Win9x_SystemRes = 0, Win9x_GDIRes = 0, Win9x_UserRes = 0;
};
