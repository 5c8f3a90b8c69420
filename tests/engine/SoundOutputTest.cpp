#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/SoundTestSupport.h"
#include "base/Threads.h"
#include "engine/zrDSound.h"

using namespace soundtest;

// The real output path, headless: SDL's "disk" driver writes what it is given to a file at the
// pace of a sound card.
TEST(SoundOutput, PlaysStaticAndStreamedSoundsThroughSdl) {
  const std::string dir = TestDir();
  SetLogFile(dir + "qv.log");
  const std::string raw = dir + "out.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
  SetSoundOutput(TSoundOutput::SDL);
  {
    TMemoryModule module;
    module.AddResource("SND", "Bleep", fixtures::PcmWave(22050, 1, 16, fixtures::Tone(22050, 1, 4410, 880)));
    module.AddResource("SND", "Tune", fixtures::PcmWave(44100, 2, 16, fixtures::Tone(44100, 2, 44100 * 2)));
    int handle = 0;
    TzrDSound dev(&handle, DSSCL_PRIORITY);
    ASSERT_FALSE(dev.Failed);
    TzrDSoundFile* bleep = TzrDSoundFile::CreateFromResource(&dev, 2000, 2, "SND", "Bleep", &module);
    TzrDSoundFile* tune = TzrDSoundFile::CreateFromResource(&dev, 2000, 0, "SND", "Tune", &module);
    ASSERT_EQ(bleep->State, 0);
    ASSERT_EQ(tune->State, 0);
    tune->Loop = true;
    tune->Play();
    bleep->Play();
    uint32_t last = 0;
    bool moved = false;
    // game loop passes until the stream has moved and been refilled and half a second has gone
    // out (hang guard: 3000 passes, a minute; a busy machine holds the audio thread back)
    auto played = [&] {
      std::error_code e;
      const auto bytes = std::filesystem::file_size(raw, e);
      return moved && tune->WrittenTotal > static_cast<int64_t>(tune->BufferBytes) && !e && bytes > 88200;
    };
    for (int i = 0; i < 3000 && !played(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      dev.UpdateStreams();
      CheckSynchronize(0);
      uint32_t p = 0;
      tune->Buffer->GetCurrentPosition(&p, nullptr);
      moved = moved || (p != last && i > 0);
      last = p;
    }
    EXPECT_TRUE(moved);
    EXPECT_TRUE(tune->Playing);
    EXPECT_GT(tune->WrittenTotal, static_cast<int64_t>(tune->BufferBytes));  // refilled while playing
  }
  unsetenv("SDL_DISKAUDIOFILE");
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  EXPECT_FALSE(LogHasErrors());
  const std::string out = fixtures::ReadFile(raw);
  ASSERT_GT(out.size(), 44100u);  // more than a quarter of a second of 16-bit stereo
  int loud = 0;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2)
    if (std::abs(static_cast<int16_t>(static_cast<uint8_t>(out[i]) | (static_cast<uint8_t>(out[i + 1]) << 8))) > 3000)
      ++loud;
  EXPECT_GT(loud, 10000);
  SetLogFile("");
}
