#include "shell/StartupLog.h"

#include <string>

#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "shell/VersInfo.h"
#include "sysinfo/SysInfo.h"

namespace {
std::string Numbers(const TVersionNumberInformation& v) {
  return Format("%d.%d.%d.%d", v.Major(), v.Minor(), v.Release(), v.Build());
}
}  // namespace

void LogSystemInfo() {
  {
    TdfsVersionInfoResource version;
    version.SetFilename("");
    Log("Company Name:" + version.GetVersionInfoString(viCompanyName), ltInfo);
    Log("File Version:" + Numbers(version.FileVersion), ltInfo);
    Log("Original Filename:" + version.GetVersionInfoString(viOriginalFilename), ltInfo);
    Log("Product Name:" + version.GetVersionInfoString(viProductName), ltInfo);
    Log("Product Version:" + Numbers(version.ProductVersion), ltInfo);
    Log("Comments:" + version.GetVersionInfoString(viComments), ltInfo);
    Log("Build Flags:" + version.GetBuildFlags(), ltInfo);
  }
  try {
    Log("Retrieving system information...", ltInfo);
    // processor, machine, display, media, memory, DirectX, operating system
    TSysInfo info(0x0C6B);
    info.SetExceptionMode(emSilent);
    info.Refresh();
    for (const std::string& line : SystemSummary(info)) Log(line, ltInfo);
  } catch (const std::exception& e) {
    Log(std::string("Retrieving system information failed: ") + e.what(), ltInfo);
  }
}
