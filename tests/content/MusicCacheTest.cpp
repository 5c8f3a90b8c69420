// The music caches: the game decodes each track once into a PCM WAVE file in the common folder
// and takes the file again at the next start only when its size is the one of the sound table.
// The committed tracks must decode to exactly those sizes, or every start would decode again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "base/SysUtils.h"
#include "game/GameSounds.h"
#include "support/SoundTestSupport.h"

using namespace soundtest;

namespace {

class MusicCache : public SoundTest {
protected:
  // Every music row prepared from the program's own resources, with the real codec driver.
  void Prepare(TzrDSound& dev) {
    TGameSoundsSetup setup;
    setup.CommonDataDir = Dir;
    setup.MusicVolume = 100;
    TGameSounds sounds(&dev, setup);
    sounds.LoadSounds();
  }
  int Decompressions() {
    int n = 0;
    for (const std::string& l : LogLines()) n += l.rfind("* Info: Decompressing sound file", 0) == 0;
    return n;
  }
};

int16_t Sample(const std::string& pcm, size_t frame, int channel) {
  const size_t at = 46 + frame * 4 + static_cast<size_t>(channel) * 2;
  return static_cast<int16_t>(static_cast<uint8_t>(pcm[at]) | static_cast<uint8_t>(pcm[at + 1]) << 8);
}

}  // namespace

TEST_F(MusicCache, CachesHaveTheTableSizesAndAreKeptAtTheNextStart) {
  const std::string codec = Dir + "l3codecx.acm";
  fixtures::WriteCodecFile(codec);
  TzrDSound dev(this, DSSCL_PRIORITY);
  ASSERT_FALSE(dev.Failed);
  dev.LoadACMDriver(codec);

  Prepare(dev);
  EXPECT_EQ(Decompressions(), 3);
  EXPECT_FALSE(LogHasPrefix("* Warning:"));
  auto stamp = [](const std::string& f) { return std::filesystem::last_write_time(f).time_since_epoch().count(); };
  int64_t written[3];
  for (int row = 0; row < 3; ++row) {
    const TSoundRow& r = SoundTable[row];
    SCOPED_TRACE(r.Name);
    const std::string file = Dir + r.Name + ".wav";
    ASSERT_TRUE(FileExists(file));
    EXPECT_EQ(FileSize(file), static_cast<int64_t>(r.CachedSize));
    written[row] = stamp(file);

    // 44.1 kHz 16-bit stereo PCM behind the writer's 46-byte header, in whole MPEG frames
    const std::string w = fixtures::ReadFile(file);
    ASSERT_GE(w.size(), 46u);
    EXPECT_EQ(w.substr(0, 4), "RIFF");
    EXPECT_EQ(w.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(w.substr(20, 18), fixtures::PcmFormat(44100, 2, 16));
    EXPECT_EQ(w.substr(38, 4), "data");
    const uint32_t data = fixtures::GetU32(w, 42);
    EXPECT_EQ(data, w.size() - 46);
    EXPECT_EQ(data % (1152 * 4), 0u);

    // The loop joins in a short pause. The decoder starts cold on the first frame and gives
    // silence there whatever was encoded, so a tune with sound in that frame would lose it
    // (and jump into it) at every turn; the end fades into the pause, the beat follows it.
    const size_t frames = data / 4;
    ASSERT_GT(frames, 44100u);
    auto peak = [&](size_t from, size_t to) {
      int p = 0;
      for (size_t i = from; i < to; ++i)
        for (int c = 0; c < 2; ++c) p = std::max(p, std::abs(int(Sample(w, i, c))));
      return p;
    };
    EXPECT_LE(peak(0, 1152), 328) << "sound in the first frame";
    EXPECT_LE(peak(frames - 220, frames), 328) << "the last 5 ms run into the pause";
    EXPECT_GE(peak(1152, 3 * 1152), 8000) << "the beat comes right after the pause";
  }

  // the next start takes the caches as they are
  Prepare(dev);
  EXPECT_EQ(Decompressions(), 3);
  for (int row = 0; row < 3; ++row)
    EXPECT_EQ(stamp(Dir + SoundTable[row].Name + ".wav"), written[row]) << SoundTable[row].Name << " was written again";
}

TEST_F(MusicCache, BadCachesAreRebuiltAndOneThatCannotBeDoesNotStopTheOthers) {
  const std::string codec = Dir + "l3codecx.acm";
  fixtures::WriteCodecFile(codec);
  TzrDSound dev(this, DSSCL_PRIORITY);
  ASSERT_FALSE(dev.Failed);
  dev.LoadACMDriver(codec);
  // Right-sized garbage (the size alone used to pass), a folder, and a FIFO in the caches' places.
  const std::string game = Dir + SoundTable[0].Name + ".wav", menu = Dir + SoundTable[1].Name + ".wav",
                    high = Dir + SoundTable[2].Name + ".wav";
  WriteAll(game, std::string(SoundTable[0].CachedSize, 'x'));
  ASSERT_TRUE(ForceDirectories(menu + "/inside"));
  ASSERT_EQ(mkfifo(high.c_str(), 0644), 0);
  EXPECT_FALSE(IsWholeMusicCache(game, SoundTable[0].CachedSize));
  Prepare(dev);
  EXPECT_EQ(Decompressions(), 3);
  EXPECT_TRUE(IsWholeMusicCache(game, SoundTable[0].CachedSize));
  EXPECT_TRUE(DirectoryExists(menu));
  EXPECT_TRUE(LogHasPrefix("* Warning: Failed to decompress music files: "));
  EXPECT_TRUE(IsWholeMusicCache(high, SoundTable[2].CachedSize));  // after the failed row
  for (const auto& e : std::filesystem::directory_iterator(Dir))
    EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
}

// Links in the caches' places (to a whole cache of the right size elsewhere, to nothing) and at
// the temporary name a cache is written under: each cache is written anew as a file of its own,
// and no link's target is read or written.
TEST_F(MusicCache, LinksInTheCachesPlacesAreReplacedNeverFollowed) {
  const std::string codec = Dir + "l3codecx.acm";
  fixtures::WriteCodecFile(codec);
  TzrDSound dev(this, DSSCL_PRIORITY);
  ASSERT_FALSE(dev.Failed);
  dev.LoadACMDriver(codec);
  const std::string elsewhere = Dir + "elsewhere/";
  ForceDirectories(elsewhere);
  {
    TGameSoundsSetup setup;
    setup.CommonDataDir = elsewhere;
    setup.MusicVolume = 100;
    TGameSounds sounds(&dev, setup);
    sounds.LoadSounds();  // whole caches of the right sizes, outside the folder
  }
  const std::string game = SoundTable[0].Name + std::string(".wav"), menu = SoundTable[1].Name + std::string(".wav"),
                    high = SoundTable[2].Name + std::string(".wav");
  ASSERT_TRUE(IsWholeMusicCache(elsewhere + game, SoundTable[0].CachedSize));
  const std::string gameBytes = fixtures::ReadFile(elsewhere + game);
  timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (elsewhere + game).c_str(), old, 0), 0);
  ASSERT_EQ(symlink((elsewhere + game).c_str(), (Dir + game).c_str()), 0);
  ASSERT_EQ(symlink((elsewhere + "nothing.wav").c_str(), (Dir + menu).c_str()), 0);
  ASSERT_EQ(symlink((elsewhere + game).c_str(), (Dir + high + ".tmp").c_str()), 0);
  EXPECT_FALSE(IsWholeMusicCache(Dir + game, SoundTable[0].CachedSize));
  const int before = Decompressions();
  Prepare(dev);
  EXPECT_EQ(Decompressions() - before, 3);
  for (int row = 0; row < 3; ++row) {
    const std::string file = Dir + SoundTable[row].Name + ".wav";
    EXPECT_FALSE(IsSymbolicLink(file)) << file;
    EXPECT_TRUE(IsWholeMusicCache(file, SoundTable[row].CachedSize)) << file;
  }
  EXPECT_FALSE(std::filesystem::exists(Dir + high + ".tmp"));
  EXPECT_FALSE(std::filesystem::exists(elsewhere + "nothing.wav"));
  EXPECT_TRUE(fixtures::ReadFile(elsewhere + game) == gameBytes);
  struct stat st {};
  ASSERT_EQ(stat((elsewhere + game).c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
}
