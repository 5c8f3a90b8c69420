#pragma once
// The system-information aggregate: creates the area objects a caller asks for, refreshes them in
// a fixed order through guarded calls, and writes the start-up summary.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sysinfo/SI_APM.h"
#include "sysinfo/SI_CPU.h"
#include "sysinfo/SI_Common.h"
#include "sysinfo/SI_Devices.h"
#include "sysinfo/SI_DirectX.h"
#include "sysinfo/SI_Disk.h"
#include "sysinfo/SI_Display.h"
#include "sysinfo/SI_Engines.h"
#include "sysinfo/SI_Machine.h"
#include "sysinfo/SI_Media.h"
#include "sysinfo/SI_Memory.h"
#include "sysinfo/SI_Network.h"
#include "sysinfo/SI_OS.h"
#include "sysinfo/SI_Printers.h"
#include "sysinfo/SI_Processes.h"
#include "sysinfo/SI_Software.h"
#include "sysinfo/SI_Startup.h"

// Area bits of the constructor's set.
enum : uint16_t {
  siCPU = 0x0001, siMachine = 0x0002, siDevices = 0x0004, siDisplay = 0x0008, siNetwork = 0x0010,
  siMedia = 0x0020, siMemory = 0x0040, siEngines = 0x0080, siAPM = 0x0100, siDisk = 0x0200,
  siDirectX = 0x0400, siOS = 0x0800, siProcesses = 0x1000, siPrinters = 0x2000, siSoftware = 0x4000,
  siStartup = 0x8000
};

class TSysInfo {
public:
  explicit TSysInfo(uint16_t areas);
  void Refresh();
  void SetExceptionMode(TExceptionMode mode);
  // Where every present area reads the system from (tests: fixture trees).
  void SetRoots(const TSystemRoots& roots);
  TExceptionMode GetExceptionMode() const { return ExceptionMode; }

  std::unique_ptr<TCPU> CPU;
  std::unique_ptr<TMemory> Memory;
  std::unique_ptr<TOperatingSystem> OS;
  std::unique_ptr<TDisk> Disk;
  std::unique_ptr<TMachine> Machine;
  std::unique_ptr<TNetwork> Network;
  std::unique_ptr<TDisplay> Display;
  std::unique_ptr<TEngines> Engines;
  std::unique_ptr<TDevices> Devices;
  std::unique_ptr<TAPM> APM;
  std::unique_ptr<TDirectX> DirectX;
  std::unique_ptr<TMedia> Media;
  std::unique_ptr<TProcesses> Processes;
  std::unique_ptr<TPrinters> Printers;
  std::unique_ptr<TSoftware> Software;
  std::unique_ptr<TStartup> Startup;
  std::string About;

private:
  TExceptionMode ExceptionMode = emMessage;
};

// The summary lines of the trace log, from "System Up Time: ..." to "DirectX: ..."; a line whose
// area is absent is left out, and "Sound:" appears only when there is a media device.
std::vector<std::string> SystemSummary(const TSysInfo& info);
