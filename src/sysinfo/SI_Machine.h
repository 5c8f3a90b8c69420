#pragma once
// The computer: names, up-time, firmware texts, lock keys and the machine model.
#include <string>

#include "sysinfo/SI_Common.h"

class TDevices;

// Seconds since boot from a /proc/uptime text ("12345.67 54321.00"); -1 when malformed.
double ParseUptime(const std::string& text);

class TMachine : public TSIObject {
public:
  const char* ClassName() const override { return "TMachine"; }
  void GetInfo() override { FillFrom(Roots.Sys, Roots.Proc); }
  void FillFrom(const std::string& sysRoot, const std::string& procRoot);
  void ReadLockKeys(const std::string& sysRoot);

  std::string Name, User;
  double SystemUpTime = 0;  // seconds
  double LastBoot = 0;      // date-time: days since 30 December 1899, local time
  std::string BIOSName, BIOSCopyright, BIOSDate, BIOSExtendedInfo;
  bool CapsLock = false, NumLock = false, ScrollLock = false;
  std::string Computer;
  std::string DELL_ServiceTag;
};
