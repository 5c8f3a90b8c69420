#pragma once
// Sound devices: the sound cards and their playback, capture and mixer devices (ALSA).
#include <cstdint>
#include <string>

#include "base/Classes.h"
#include "sysinfo/SI_Common.h"

class TDevices;

class TMedia : public TSIObject {
public:
  const char* ClassName() const override { return "TMedia"; }
  void GetInfo() override { FillFrom(Roots.Sys, Roots.Proc); }
  void FillFrom(const std::string& sysRoot, const std::string& procRoot);
  void PickDevices(const TDevices& devices);
  // "00-00: ALC892 Analog : ALC892 Analog : playback 1 : capture 1" lines of /proc/asound/pcm.
  void FillPcm(const std::string& pcmText);

  TStringList Devices;
  int32_t SoundCardIndex = -1, GamePortIndex = -1;
  TStringList WAVEOut, WAVEIn, MIDIOut, MIDIIn, AUX, Mixer;
};
