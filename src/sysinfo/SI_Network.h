#pragma once
// Network adapters, the host's addresses and the sockets library.
#include <cstdint>
#include <string>

#include "base/Classes.h"
#include "sysinfo/SI_Common.h"

class TDevices;

class TWinsock : public TSIObject {
public:
  const char* ClassName() const override { return "TWinsock"; }
  void GetInfo() override;

  std::string Description, Status;
  uint16_t MajorVersion = 0, MinorVersion = 0;
};

// The host's IPv4 addresses other than loopback, joined by ",".
std::string GetLocalIPs();

class TNetwork : public TSIObject {
public:
  const char* ClassName() const override { return "TNetwork"; }
  void GetInfo() override { FillFrom(Roots.Sys, Roots.Proc); }
  void FillFrom(const std::string& sysRoot, const std::string& procRoot);
  void PickAdapters(const TDevices& devices);

  TExceptionMode ExceptionMode = emMessage;
  TStringList Adapters;
  int32_t CardAdapterIndex = -1;
  TStringList IPAddresses, MACAddresses, Protocols, Services, Clients;
  TWinsock WinSock;
};
