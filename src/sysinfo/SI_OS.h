#pragma once
// The installed operating system: kernel version, distribution texts, folders, environment,
// time zone and internet settings.
#include <cstdint>
#include <string>

#include "base/Classes.h"
#include "sysinfo/Routines.h"
#include "sysinfo/SI_Common.h"

class TTimeZone : public TSIObject {
public:
  const char* ClassName() const override { return "TTimeZone"; }
  void GetInfo() override;

  std::string DisplayName;  // the zone's name in the zone database ("Europe/Berlin")
  std::string StandardName, DaylightName;
  int32_t Bias = 0;  // minutes; UTC = local time + Bias
  int32_t StandardBias = 0, DaylightBias = 0;
  double StandardStart = 0, DaylightStart = 0;
};

enum TNtProductType : uint8_t { ptUnknown, ptWorkStation, ptServer, ptAdvancedServer };
enum TNTSuite : uint8_t {
  suSmallBusiness, suEnterprise, suBackOffice, suCommunications, suTerminal,
  suSmallBusinessRestricted, suEmbeddedNT, suDataCenter
};

// Product type and suites exist only on the other system family; on Linux they stay unknown/empty.
class TNTSpecific : public TSIObject {
public:
  const char* ClassName() const override { return "TNTSpecific"; }
  void GetInfo() override;

  TNtProductType ProductType = ptUnknown;
  uint8_t InstalledSuites = 0;  // bit per TNTSuite
  uint16_t ServicePackMajorVersion = 0, ServicePackMinorVersion = 0;
};

class TInternet : public TSIObject {
public:
  const char* ClassName() const override { return "TInternet"; }
  void GetInfo() override;

  std::string DefaultBrowser, DefaultMailClient;
  TConnectionType ConnectionType = ctNone;
  std::string ProxyServer;
};

// Kernel release "6.1.0-18-amd64" -> 6, 1, 0; missing parts 0.
void ParseKernelRelease(const std::string& release, int32_t& major, int32_t& minor, int32_t& build);

class TOperatingSystem : public TSIObject {
public:
  const char* ClassName() const override { return "TOperatingSystem"; }
  void GetInfo() override;
  // The distribution texts from an os-release file's contents.
  void FillFromOSRelease(const std::string& text);

  TExceptionMode ExceptionMode = emMessage;
  int32_t MajorVersion = 0, MinorVersion = 0, BuildNumber = 0;
  std::string Platform;
  std::string CSD;
  std::string Version;
  std::string RegisteredUser, RegisteredOrg, ProductID, ProductKey, DVDRegion;
  TStringList Environment;
  TStringList Folders;
  TTimeZone TimeZone;
  TNTSpecific NTSpecific;
  TInternet Internet;
};
