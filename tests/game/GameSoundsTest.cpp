#include <gtest/gtest.h>

#include "base/SysUtils.h"
#include "engine/zrD3D.h"
#include "game/GameLogic.h"
#include "game/GameSounds.h"
#include "game/KTGlobal.h"
#include "platform/D3D8Fake.h"
#include "support/SoundTestSupport.h"

using namespace soundtest;

namespace {
class GameSounds : public SoundTest {
protected:
  void SetUp() override {
    SoundTest::SetUp();
    Setup.CommonDataDir = Dir;
    Setup.Module = &Module;
    // Effects: 16-bit mono 8000 Hz, a quarter of a second each.
    for (int i = 3; i < kSoundRows; ++i)
      Module.AddResource("SND", SoundTable[i].Name, fixtures::PcmWave(8000, 1, 16, fixtures::Pattern(4000)));
  }
  void AddMusic(const char* name, const std::string& wave) { Module.AddResource("SND", name, wave); }
  static uint32_t Status(TzrDSoundFile* s) {
    uint32_t st = 0;
    s->Buffer->GetStatus(&st);
    return st;
  }
  static uint32_t Cursor(TzrDSoundFile* s) {
    uint32_t p = 0;
    s->Buffer->GetCurrentPosition(&p, nullptr);
    return p;
  }
  int Count(const std::string& prefix) {
    int n = 0;
    for (const std::string& l : LogLines()) n += l.rfind(prefix, 0) == 0;
    return n;
  }
  TMemoryModule Module;
  TGameSoundsSetup Setup;
  std::vector<int> Progress;
};
}  // namespace

TEST(GameSoundTable, VolumeToDB) {
  struct Case { float f; int32_t db; } cases[] = {
      {0.6f, -444}, {1.0f, 0}, {0.0f, -10000}, {0.5f, -602}, {0.1f, -2000}, {1e-9f, -10000}, {-1.0f, -10000}, {2.0f, 0}};
  for (const Case& c : cases) EXPECT_EQ(VolumeToDB(c.f), c.db) << c.f;
}

TEST(GameSoundTable, Rows) {
  EXPECT_STREQ(SoundTable[0].Name, "KTGame");
  EXPECT_EQ(SoundTable[0].CachedSize, 16616494u);
  EXPECT_STREQ(SoundTable[26].Name, "SmokingIn");
  EXPECT_EQ(SoundTable[26].Copies, 3u);
  EXPECT_EQ(SoundTable[28].Copies, 1u);
  EXPECT_EQ(SoundTable[38].Copies, 1u);
  int music = 0, copies = 0;
  for (const TSoundRow& r : SoundTable) {
    music += r.Class == 0;
    copies += static_cast<int>(r.Copies);
    EXPECT_EQ(r.Mode == 0, r.Class == 0) << r.Name;
    EXPECT_EQ(r.Loop, r.Class == 0) << r.Name;
  }
  EXPECT_EQ(music, 3);
  EXPECT_EQ(copies, 8);
}

TEST_F(GameSounds, QuickPlaysRotateThroughTheCopies) {
  Setup.MusicVolume = 0;
  TzrDSound dev(this, DSSCL_PRIORITY, &kMono8k);
  TGameSounds sounds(&dev, Setup);
  sounds.OnProgress = [&](TGameSounds*, int32_t p) { Progress.push_back(p); };
  sounds.LoadSounds();
  ASSERT_EQ(Progress.size(), 40u);
  EXPECT_EQ(Progress.front(), 10);
  EXPECT_EQ(Progress[1], 10);
  EXPECT_EQ(Progress[20], 55);  // row 19: Round(19 x 90 / 38) + 10
  EXPECT_EQ(Progress.back(), 100);
  const TGameSounds::TSlot& s = sounds.Slots[26];
  TzrDSoundFile* order[] = {s.Buffer, s.Copies[0], s.Copies[1], s.Copies[2]};
  for (TzrDSoundFile* b : order) ASSERT_NE(b, nullptr);
  EXPECT_EQ(s.Copies[3], nullptr);
  for (int i = 0; i < 4; ++i) {
    sounds.PlaySound(26, 1.0f);
    for (int j = 0; j < 4; ++j) EXPECT_EQ((Status(order[j]) & DSBSTATUS_PLAYING) != 0, j <= i) << i << " " << j;
    DSoundAdvance(dev.DirectSound.get(), 100);
  }
  EXPECT_EQ(Cursor(s.Buffer), 800u);
  sounds.PlaySound(26, 0.5f);  // the fifth play restarts the main buffer, at half volume
  EXPECT_EQ(Cursor(s.Buffer), 0u);
  EXPECT_TRUE(Status(s.Buffer) & DSBSTATUS_PLAYING);
  int32_t v = 0;
  s.Buffer->Buffer->GetVolume(&v);
  EXPECT_EQ(v, -602);
  s.Copies[0]->Buffer->GetVolume(&v);
  EXPECT_EQ(v, 0);
  // Rows without copies always use their main buffer.
  sounds.PlaySound(10, -1.0f);
  sounds.PlaySound(10, -1.0f);
  EXPECT_EQ(sounds.Slots[10].Current, 0);
  // No music rows were loaded.
  EXPECT_EQ(sounds.Slots[0].Buffer, nullptr);
  sounds.PlaySound(0, 1.0f);
  sounds.StopMusic();
  sounds.PlaySound(200, 1.0f);  // not a row: nothing
}

TEST_F(GameSounds, EffectsOffLeavesNoEffectBuffers) {
  Setup.SoundFXVolume = 0;
  Setup.MusicVolume = 0;
  TzrDSound dev(this, DSSCL_PRIORITY);
  TGameSounds sounds(&dev, Setup);
  sounds.LoadSounds();
  for (int i = 0; i < kSoundRows; ++i) EXPECT_EQ(sounds.Slots[i].Buffer, nullptr) << i;
  EXPECT_TRUE(dev.Sounds.empty());
  sounds.PlaySound(10, 1.0f);
  sounds.StartSound(17);
  sounds.SetSoundVolume(17, 0.5f);
  EXPECT_EQ(Count("* Info: Decompressing"), 0);
}

TEST_F(GameSounds, MusicIsCachedOnceAndStreamedFromTheCache) {
  const std::string codec = Dir + "l3codecx.acm";
  fixtures::WriteCodecFile(codec);
  fixtures::TMp3Fixture game = fixtures::MakeMp3(FixtureCache(), 22050, 1, 1.5, 32);
  AddMusic("KTGame", game.Wave);
  const std::string menuPcm = fixtures::Tone(22050, 2, 22050);
  AddMusic("KTMenu", fixtures::PcmWave(22050, 2, 16, menuPcm));
  AddMusic("KTHighScore", fixtures::PcmWave(22050, 2, 16, fixtures::Tone(22050, 2, 100)));
  // A cache file of the expected size is taken as it is.
  const std::string high = Dir + "KTHighScore.wav";
  std::string cached = fixtures::PcmWave(44100, 2, 16, fixtures::Pattern(3138094 - 46));
  ASSERT_EQ(cached.size(), 3138094u);
  fixtures::WriteFile(high, cached);

  TzrDSound dev(this, DSSCL_PRIORITY);
  dev.LoadACMDriver(codec);
  Setup.MusicVolume = 60;
  {
    TGameSounds sounds(&dev, Setup);
    sounds.LoadSounds();
    EXPECT_TRUE(LogHas("* Info: Decompressing sound file \"KTGame\""));
    EXPECT_TRUE(LogHas("* Info: Decompressing sound file \"KTMenu\""));
    EXPECT_EQ(Count("* Info: Decompressing"), 2);
    EXPECT_EQ(Count("* Warning:"), 0);
    EXPECT_TRUE(SameBytes(fixtures::ReadFile(high), cached));
    EXPECT_FALSE(FileExists(Dir + "KTGame.wav.tmp"));
    {
      TFileWaveReadStream g(Dir + "KTGame.wav");
      EXPECT_EQ(g.Format->wFormatTag, 1);
      EXPECT_EQ(g.DataSize, static_cast<uint32_t>(game.Info.Frames) * game.Info.SamplesPerFrame * 2);
      TFileWaveReadStream m(Dir + "KTMenu.wav");
      EXPECT_EQ(m.DataSize, menuPcm.size());
    }
    for (int row = 0; row < 3; ++row) {
      TzrDSoundFile* b = sounds.Slots[row].Buffer;
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(b->State, 0);
      EXPECT_EQ(b->Mode, 0);
      EXPECT_TRUE(b->Loop);
      int32_t v = 1;
      b->Buffer->GetVolume(&v);
      EXPECT_EQ(v, VolumeToDB(0.6f));
    }
    EXPECT_EQ(sounds.Slots[2].Buffer->BufferBytes, 176400u);  // streamed from the cache: 44100 Hz

    sounds.PlaySound(1, -1.0f);
    TzrDSoundFile* menu = sounds.Slots[1].Buffer;
    EXPECT_TRUE(menu->Playing);
    sounds.PauseSound(1);
    EXPECT_TRUE(menu->Paused);
    EXPECT_FALSE(Status(menu) & DSBSTATUS_PLAYING);
    sounds.ResumeIfPaused(1);
    EXPECT_TRUE(Status(menu) & DSBSTATUS_PLAYING);
    sounds.ResumeIfPaused(2);  // not paused: stays silent
    EXPECT_FALSE(Status(sounds.Slots[2].Buffer) & DSBSTATUS_PLAYING);
    DSoundAdvance(dev.DirectSound.get(), 4410);
    Clock() += 100;
    sounds.UpdateStreams();
    EXPECT_EQ(menu->WritePos, 4410u * 2);  // 22050 Hz stereo source under 44100 Hz output
    sounds.StopMusic();
    EXPECT_FALSE(menu->Playing);
  }
  // The next start finds the caches whose size it knows; the others are made again.
  const int before = Count("* Info: Decompressing");
  TGameSounds again(&dev, Setup);
  again.LoadSounds();
  EXPECT_EQ(Count("* Info: Decompressing") - before, 2);
}

TEST_F(GameSounds, CacheFailuresAreWarningsAndLoadingGoesOn) {
  TzrDSound dev(this, DSSCL_PRIORITY);
  TGameSounds sounds(&dev, Setup);  // no music resources at all
  sounds.LoadSounds();
  EXPECT_TRUE(LogHas("* Warning: Failed to decompress music files: Resource not found"));
  EXPECT_EQ(Count("* Info: Decompressing"), 3);  // each track is tried on its own
  EXPECT_EQ(sounds.Slots[0].Buffer->State, 2);
  EXPECT_TRUE(LogHas("* Warning: Error in sound \"ktgame\": Can't open file stream."));
  EXPECT_EQ(sounds.Slots[3].Buffer->State, 0);  // the effects load regardless
  sounds.PlaySound(0, 1.0f);                     // silent, harmless
}

TEST_F(GameSounds, AFailedDeviceRunsSilent) {
  SetSoundOutput(TSoundOutput::SDL);
  const char* old = std::getenv("SDL_AUDIODRIVER");
  const std::string saved = old ? old : "";
  setenv("SDL_AUDIODRIVER", "no-such-audio-driver", 1);
  {
    int window = 0;
    TzrDSound dev(&window, DSSCL_PRIORITY);
    ASSERT_TRUE(dev.Failed);
    TGameSounds sounds(&dev, Setup);
    sounds.LoadSounds();
    EXPECT_EQ(Count("* Info: Decompressing"), 0);
    for (int i = 3; i < kSoundRows; ++i) EXPECT_EQ(sounds.Slots[i].Buffer->State, 3);
    sounds.PlaySound(26, 1.0f);
    sounds.StartSound(17);
    sounds.StopMusic();
    sounds.UpdateStreams();
  }
  if (old) setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
  else unsetenv("SDL_AUDIODRIVER");
}

// While the device is lost the game pauses the music of the screen it is on: the title's (row
// 1), the level's (row 0) or the highscore screen's (row 2), and resumes it when the device is
// back. Screens without music of their own touch no row.
TEST_F(GameSounds, ALostDevicePausesOnlyTheMusicOfTheScreen) {
  for (const char* name : {"KTGame", "KTMenu", "KTHighScore"})
    AddMusic(name, fixtures::PcmWave(22050, 2, 16, fixtures::Tone(22050, 2, 22050)));
  Setup.MusicVolume = 60;
  UserDataDir = Dir;
  TFakeD3D8 fake;
  fake.Adapters.push_back(TFakeD3D8::CapableAdapter());
  fake.Displays.push_back(TFakeDisplay{});
  TzrD3D8 d3d;
  d3d.EnumAdapters();
  const TzrD3DMode mode{800, 600, D3DFMT_X8R8G8B8, D3DCREATE_SOFTWARE_VERTEXPROCESSING, 0};
  TzrD3Device8 device(d3d.GetAdapter(0)->GetDevice(0), nullptr, nullptr, true, mode);
  device.LostRetryDelayMs = 0;
  TzrDSound dev(this, DSSCL_PRIORITY);
  TGameLogicSetup setup;
  setup.Device = &device;
  setup.Sound = &dev;
  TGameLogic g(setup);
  g.Sounds = std::make_unique<TGameSounds>(&dev, Setup);  // short tunes in place of the shipped music
  g.Sounds->LoadSounds();
  const struct {
    uint8_t State;
    int Row;  // -1: none
  } cases[] = {{gsTitle, 1}, {gsPlaying, 0}, {gsLevelEnd, -1}, {gsHighscore, 2}, {gsCredits, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "state " << int(c.State));
    g.GameState = c.State;
    for (uint8_t row = 0; row < 3; ++row) g.Sounds->PlaySound(row, -1.0f);
    fake.LoseDevice();
    device.Present();
    EXPECT_TRUE(g.IsPaused());
    for (int row = 0; row < 3; ++row) {
      TzrDSoundFile* music = g.Sounds->Slots[row].Buffer;
      ASSERT_NE(music, nullptr);
      EXPECT_EQ(music->Paused, row == c.Row) << "row " << row;
      EXPECT_EQ((Status(music) & DSBSTATUS_PLAYING) != 0, row != c.Row) << "row " << row;
    }
    fake.DeviceCanReset();
    EXPECT_FALSE(g.IsPaused());
    for (int row = 0; row < 3; ++row) EXPECT_TRUE(Status(g.Sounds->Slots[row].Buffer) & DSBSTATUS_PLAYING) << "row " << row;
  }
}
