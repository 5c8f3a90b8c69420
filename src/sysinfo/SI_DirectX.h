#pragma once
// The installed DirectX runtime. Linux has none: the version stays empty and the lists empty.
#include <string>

#include "base/Classes.h"
#include "sysinfo/SI_Common.h"

class TDirectX : public TSIObject {
public:
  const char* ClassName() const override { return "TDirectX"; }
  void GetInfo() override {
    Direct3D.Clear();
    DirectPlay.Clear();
    DirectMusic.Clear();
  }

  std::string Version;
  TStringList Direct3D, DirectPlay, DirectMusic;
};
