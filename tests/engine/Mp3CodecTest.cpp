#include <gtest/gtest.h>

#include "support/SoundTestSupport.h"
#include "engine/WaveRead.h"
#include "engine/zrDSound.h"

using namespace soundtest;

namespace {
class Mp3Codec : public SoundTest {
protected:
  void SetUp() override {
    SoundTest::SetUp();
    Codec = Dir + "l3codecx.acm";
    fixtures::WriteCodecFile(Codec);
  }
  std::string Codec;
};

std::string ReadAllPcm(TWavePCMReader& r, int piece) {
  std::string out;
  std::string buf(static_cast<std::size_t>(piece), '\0');
  for (;;) {
    int32_t n = r.Read(buf.data(), piece);
    if (n <= 0) break;
    out.append(buf.data(), static_cast<std::size_t>(n));
  }
  return out;
}
}  // namespace

TEST_F(Mp3Codec, DecodesEveryFrameToPcmAndWritesAWaveFile) {
  struct Case { uint32_t rate; uint16_t channels; double seconds; uint32_t kbps; } cases[] = {
      {44100, 2, 1.0, 128}, {22050, 1, 0.7, 32}};
  TzrDSound sound(this, DSSCL_PRIORITY);
  sound.LoadACMDriver(Codec);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    fixtures::TMp3Fixture f = fixtures::MakeMp3(FixtureCache(), c.rate, c.channels, c.seconds, c.kbps);
    ASSERT_GT(f.Info.Frames, 10);
    const std::size_t expected = static_cast<std::size_t>(f.Info.Frames) * f.Info.SamplesPerFrame * c.channels * 2;
    TCustomMemoryWaveReadStream src(f.Wave.data(), static_cast<uint32_t>(f.Wave.size()));
    TWavePCMReader reader(&src, sound.ACMDriver);
    EXPECT_EQ(reader.PCMFormat->wFormatTag, 1);
    EXPECT_EQ(reader.PCMFormat->nChannels, c.channels);
    EXPECT_EQ(reader.PCMFormat->nSamplesPerSec, c.rate);
    EXPECT_EQ(reader.PCMFormat->wBitsPerSample, 16);
    EXPECT_GE(reader.PCMSize, static_cast<int64_t>(expected));  // the estimate errs on the large side
    const std::string whole = ReadAllPcm(reader, 1 << 20);
    EXPECT_EQ(whole.size(), expected);
    // Converted pieces of 1000 bytes give the same bytes as one piece; after a rewind too.
    reader.Rewind();
    EXPECT_EQ(ReadAllPcm(reader, 1000), whole);

    const std::string out = Dir + "out.wav";
    TCustomMemoryWaveReadStream again(f.Wave.data(), static_cast<uint32_t>(f.Wave.size()));
    sound.WriteWaveFile(&again, out);
    TFileWaveReadStream written(out);
    EXPECT_EQ(written.Format->wFormatTag, 1);
    EXPECT_EQ(written.Format->nSamplesPerSec, c.rate);
    EXPECT_EQ(written.DataSize, expected);
    EXPECT_EQ(fixtures::ReadFile(out).substr(written.DataStart, expected), whole);
  }
}
