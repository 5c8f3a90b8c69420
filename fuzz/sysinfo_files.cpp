// The parsers of /proc, /sys and /etc texts: any bytes give defined figures, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Classes.h"
#include "sysinfo/Routines.h"
#include "sysinfo/SI_Machine.h"
#include "sysinfo/SI_Media.h"
#include "sysinfo/SI_Memory.h"
#include "sysinfo/SI_OS.h"
#include "sysinfo/SI_Printers.h"
#include "sysinfo/SI_Software.h"
#include "sysinfo/SI_Startup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ParseOSRelease(text);
  ParseColonFile(text, true);
  ParseLeadingInt(text, -1);
  TMemory mem;
  mem.FillFrom(text, static_cast<int64_t>(size) * 4096, size);
  if (mem.PhysicalFree < 0 || mem.PhysicalFree > mem.PhysicalTotal || mem.MemoryLoad < 0 || mem.MemoryLoad > 100 ||
      mem.VirtualFree < 0 || mem.PageFileFree < 0)
    __builtin_trap();
  for (const auto& m : ParseMounts(text)) MediaTypeOf(m);
  int32_t a, b, c;
  ParseKernelRelease(text, a, b, c);
  ParseUptime(text);
  TMedia media;
  media.FillPcm(text);
  TStringList names, commands;
  ParsePrintcap(text, names);
  ParseDpkgStatus(text, names, commands);
  MultiSzToStr(text);
  StripSpaces(text);
  DequoteStr(text);
  return 0;
}
