#pragma once
// Power supply and battery, from /sys/class/power_supply.
#include <cstdint>
#include <string>

#include "sysinfo/SI_Common.h"

enum TPowerStatus : uint8_t { psUnknown, psOffline, psOnline };
enum TBatteryStatus : uint8_t { bsUnknown, bsHigh, bsLow, bsCritical, bsCharging, bsNoBattery };

class TAPM : public TSIObject {
public:
  const char* ClassName() const override { return "TAPM"; }
  void GetInfo() override { FillFrom(Roots.Sys); }
  void FillFrom(const std::string& sysRoot);

  TPowerStatus ACPowerStatus = psUnknown;
  TBatteryStatus BatteryChargeStatus = bsUnknown;
  uint8_t BatteryLifePercent = 0;
  uint32_t BatteryLifeTime = 0, BatteryLifeFullTime = 0;  // seconds, 0 when not known
};
