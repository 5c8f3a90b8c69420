// WAVE data from anywhere (a cache file in the common folder, a damaged resource) must give an
// error or a sound, never a crash or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Exceptions.h"
#include "engine/WaveRead.h"
#include "engine/zrDSound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static int window = 0;
  static TzrDSound* device = [] {
    SetSoundOutput(TSoundOutput::Clocked);
    return new TzrDSound(&window, DSSCL_PRIORITY);
  }();
  try {
    TCustomMemoryWaveReadStream s(data, static_cast<uint32_t>(size));
    TWavePCMReader r(&s, nullptr);
    uint8_t buf[4096];
    for (int i = 0; i < 64 && r.Read(buf, sizeof(buf)) > 0; ++i) {
    }
    r.Rewind();
    r.Read(buf, 1000);
  } catch (const Exception&) {
  }
  // The same bytes as a sound of the game, whole or streamed.
  TMemoryModule module;
  module.AddResource("SND", "X", std::string(reinterpret_cast<const char*>(data), size));
  for (uint8_t mode : {uint8_t{4}, uint8_t{0}}) {
    TzrDSoundFile* f = TzrDSoundFile::CreateFromResource(device, 2000, mode, "SND", "X", &module);
    f->Loop = mode == 0;
    f->Play();
    DSoundAdvance(device->DirectSound.get(), 2000);
    f->Update(false);
    f->Stop();
    delete f;
  }
  return 0;
}
