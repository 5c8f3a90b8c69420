#pragma once
// The graphics adapter and the current screen mode.
#include <cstdint>
#include <string>

#include "base/Classes.h"
#include "sysinfo/SI_Common.h"

class TDevices;

class TDisplay : public TSIObject {
public:
  const char* ClassName() const override { return "TDisplay"; }
  void GetInfo() override { FillFrom(Roots.Sys, Roots.Proc, Roots.WindowSystem); }
  // Screen figures, first found wins: the display server's desktop mode (when `windowSystem`),
  // the frame-buffer console, the preferred mode of the first connected DRM connector.
  void FillFrom(const std::string& sysRoot, const std::string& procRoot, bool windowSystem = false);
  // The adapter chosen from a device list: the first display device of instance 0000, else the
  // last display device.
  void PickAdapter(const TDevices& devices);

  std::string Adapter, Chipset, DAC;
  int32_t Memory = 0;
  int32_t HorzRes = 0, VertRes = 0, ColorDepth = 0;
  std::string BIOSVersion, BIOSDate, Technology;
  int32_t PixelWidth = 0, PixelHeight = 0, PixelDiagonal = 0;
  uint32_t RasterCaps = 0, CurveCaps = 0, LineCaps = 0, PolygonCaps = 0, TextCaps = 0;
  TStringList Modes;
  uint32_t FontResolution = 0;
  int32_t HorzSize = 0, VertSize = 0;  // millimetres
};
