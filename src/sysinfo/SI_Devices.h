#pragma once
// The hardware devices, gathered from the kernel's device classes under /sys (and the sound
// card names of /proc/asound), with a device-type code per class.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sysinfo/SI_Common.h"

struct TDevice {
  std::string ClassName, ClassDescription, ClassIcon, FriendlyName, Description, GUID, Manufacturer,
      Location, HardwareID, Driver, DriverDate, DriverVersion, DriverProvider, Service, ServiceName,
      ServiceGroup;
  int32_t ServiceType = 0;
  std::string RegKey;  // the device's path under /sys
  uint8_t DeviceType = 24;
};

// Card number -> name from a /proc/asound/cards text
// (" 0 [PCH            ]: HDA-Intel - HDA Intel PCH"); other lines skipped.
std::map<int, std::string> ParseSoundCards(const std::string& text);

// Index of the first device-type name the upper-cased class begins with, 24 when none.
uint8_t DeviceTypeOf(const std::string& className);

constexpr uint8_t dtComputer = 1, dtDisplay = 3, dtNet = 21, dtMedia = 30;

class TDevices : public TSIObject {
public:
  const char* ClassName() const override { return "TDevices"; }
  void GetInfo() override { FillFrom(Roots.Sys, Roots.Proc); }
  // Builds the list from a /sys and a /proc tree (tests pass small copies).
  void FillFrom(const std::string& sysRoot, const std::string& procRoot);
  TDevice GetDevice(int index) const;  // EListError outside the list

  int32_t DeviceCount = 0;
  std::vector<TDevice> Devices;  // sorted by class name, ignoring case
};
