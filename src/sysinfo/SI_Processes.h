#pragma once
// Running processes from /proc: the executable's full path, or "[name]" for kernel threads and
// processes whose executable cannot be read.
#include <cstdint>
#include <string>
#include <vector>

#include "sysinfo/SI_Common.h"

struct TProcessEntry {
  std::string Name;
  int32_t PID = 0;
};

class TProcesses : public TSIObject {
public:
  const char* ClassName() const override { return "TProcesses"; }
  void GetInfo() override { FillFrom(Roots.Proc); }
  void FillFrom(const std::string& procRoot);
  int32_t ProcessCount() const { return static_cast<int32_t>(Entries.size()); }

  std::vector<TProcessEntry> Entries;  // in ascending process id
};
