#include "sysinfo/SysInfo.h"

#include <initializer_list>

#include "base/PasMath.h"
#include "base/SysUtils.h"
#include "sysinfo/Routines.h"

TSysInfo::TSysInfo(uint16_t areas) {
  About = "Kestrune system information 1.0 (Linux)";
  ExceptionMode = emMessage;
  if (areas & siCPU) CPU = std::make_unique<TCPU>();
  if (areas & siMemory) Memory = std::make_unique<TMemory>();
  if (areas & siOS) OS = std::make_unique<TOperatingSystem>();
  if (areas & siDisk) Disk = std::make_unique<TDisk>();
  if (areas & siMachine) Machine = std::make_unique<TMachine>();
  if (areas & siNetwork) Network = std::make_unique<TNetwork>();
  if (areas & siDisplay) Display = std::make_unique<TDisplay>();
  if (areas & siMedia) Media = std::make_unique<TMedia>();
  if (areas & siDevices) Devices = std::make_unique<TDevices>();
  if (areas & siEngines) Engines = std::make_unique<TEngines>();
  if (areas & siAPM) APM = std::make_unique<TAPM>();
  if (areas & siDirectX) DirectX = std::make_unique<TDirectX>();
  if (areas & siProcesses) Processes = std::make_unique<TProcesses>();
  if (areas & siPrinters) Printers = std::make_unique<TPrinters>();
  if (areas & siSoftware) Software = std::make_unique<TSoftware>();
  if (areas & siStartup) Startup = std::make_unique<TStartup>();
}

void TSysInfo::SetExceptionMode(TExceptionMode mode) {
  ExceptionMode = mode;
  if (OS) OS->ExceptionMode = mode;
  if (Network) Network->ExceptionMode = mode;
  if (CPU) CPU->ExceptionMode = mode;
}

void TSysInfo::SetRoots(const TSystemRoots& roots) {
  for (TSIObject* area : std::initializer_list<TSIObject*>{
           CPU.get(), Memory.get(), OS.get(), Disk.get(), Machine.get(), Network.get(), Display.get(),
           Engines.get(), Devices.get(), APM.get(), DirectX.get(), Media.get(), Processes.get(),
           Printers.get(), Software.get(), Startup.get()})
    if (area) area->Roots = roots;
}

void TSysInfo::Refresh() {
  auto refresh = [this](TSIObject* area) {
    if (!area) return;
    GuardedCall(std::string(area->ClassName()) + ".GetInfo", ExceptionMode, [area] { area->GetInfo(); });
  };
  refresh(Devices.get());
  refresh(CPU.get());
  refresh(Memory.get());
  refresh(OS.get());
  refresh(Disk.get());
  if (Disk) Disk->SetDrive(GetWinDir());  // the system's own volume, outside the guard
  refresh(Machine.get());
  refresh(Network.get());
  refresh(Display.get());
  refresh(Media.get());
  refresh(Engines.get());
  refresh(APM.get());
  refresh(DirectX.get());
  refresh(Processes.get());
  refresh(Printers.get());
  refresh(Software.get());
  refresh(Startup.get());
}

std::vector<std::string> SystemSummary(const TSysInfo& info) {
  std::vector<std::string> lines;
  auto ll = [](int64_t v) { return static_cast<long long>(v); };
  if (info.Machine)
    lines.push_back("System Up Time: " + FormatSeconds(true, false, false, PasRound(info.Machine->SystemUpTime)));
  if (info.CPU)
    lines.push_back(Format("(%dx)CPU: %s %s - %d Mhz (%s)", info.CPU->Count, info.CPU->VendorName.c_str(),
                           info.CPU->VendorID.c_str(), info.CPU->Frequency, info.CPU->CodeName.c_str()));
  if (info.Memory) {
    const TMemory& m = *info.Memory;
    lines.push_back(Format("Memory: %lld MB (%lld KB free)", ll(m.PhysicalTotal / 1048576), ll(m.PhysicalFree / 1024)));
    lines.push_back(Format("Memory Virtual: %lld MB (%lld KB free)", ll(m.VirtualTotal / 1048576), ll(m.VirtualFree / 1024)));
    lines.push_back(Format("Memory Load: %d%%", m.MemoryLoad));
  }
  if (info.OS)
    lines.push_back(Format("OS: %s [%d.%d.%d]", OSName.c_str(), info.OS->MajorVersion, info.OS->MinorVersion,
                           info.OS->BuildNumber));
  if (info.Display)
    lines.push_back(Format("Video: %s (%d x %d - %d bit)", info.Display->Adapter.c_str(), info.Display->HorzRes,
                           info.Display->VertRes, info.Display->ColorDepth));
  if (info.Media && info.Media->Devices.Count() > 0) {
    const int i = info.Media->SoundCardIndex;
    const int index = i < 0 || i >= info.Media->Devices.Count() ? 0 : i;
    lines.push_back("Sound: " + info.Media->Devices[index]);
  }
  if (info.DirectX) lines.push_back("DirectX: " + info.DirectX->Version);
  return lines;
}
