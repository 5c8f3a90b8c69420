#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/SoundTestSupport.h"
#include "engine/WaveRead.h"
#include "engine/zrDSound.h"

using namespace soundtest;

namespace {
class Sound : public SoundTest {
protected:
  // 16-bit mono 8000 Hz: a one-second ring is 16,000 bytes.
  void AddWave(const std::string& name, uint32_t rate, uint16_t channels, uint16_t bits, const std::string& pcm) {
    Module.AddResource("SND", name, fixtures::PcmWave(rate, channels, bits, pcm));
  }
  TzrDSoundFile* Load(TzrDSound& dev, const std::string& name, uint8_t mode, uint32_t bufferMs = 2000) {
    return TzrDSoundFile::CreateFromResource(&dev, bufferMs, mode, "SND", name, &Module);
  }
  static std::string Ring(TzrDSoundFile* s) {
    void *p1, *p2;
    uint32_t n1, n2;
    EXPECT_EQ(s->Buffer->Lock(0, s->BufferBytes, &p1, &n1, &p2, &n2, 0), DS_OK);
    std::string r(static_cast<char*>(p1), n1);
    s->Buffer->Unlock(p1, n1, p2, n2);
    return r;
  }
  static uint32_t Cursor(TzrDSoundFile* s) {
    uint32_t p = 0;
    s->Buffer->GetCurrentPosition(&p, nullptr);
    return p;
  }
  static void Advance(TzrDSound& dev, uint32_t frames, std::vector<uint8_t>* out = nullptr) {
    ASSERT_EQ(DSoundAdvance(dev.DirectSound.get(), frames, out), DS_OK);
  }
  TMemoryModule Module;
};


class TCountingStream : public TCustomMemoryWaveReadStream {
public:
  using TCustomMemoryWaveReadStream::TCustomMemoryWaveReadStream;
  int32_t Read(void* buffer, int32_t count) override {
    int32_t r = TCustomMemoryWaveReadStream::Read(buffer, count);
    Results.push_back(r);
    return r;
  }
  std::vector<int32_t> Results;
};

// Restores an environment variable when it goes.
struct TEnvGuard {
  TEnvGuard(const char* n, const char* v) : Name(n) {
    if (const char* old = std::getenv(n)) Old = old, Had = true;
    setenv(n, v, 1);
  }
  ~TEnvGuard() {
    if (Had) setenv(Name, Old.c_str(), 1);
    else unsetenv(Name);
  }
  const char* Name;
  std::string Old;
  bool Had = false;
};
}  // namespace

TEST_F(Sound, ErrorTextsAndResultChecks) {
  EXPECT_EQ(DSoundErrorText(0x81010001), "Directsound is not properly installed! Cannot play any sound.");
  EXPECT_EQ(DSoundErrorText(0x81010009), "Error removing ACM driver");
  EXPECT_EQ(DSoundErrorText(0x8101000A), "Unrecognized Error");
  CheckDSResult(DS_OK, 0x81010003, "x");
  CheckDSResult(1, 0x81010003, "x");  // information codes are successes
  EXPECT_TRUE(LogLines().empty());

  const std::string text = DSResultText(DSERR_INVALIDPARAM);
  try {
    CheckDSResult(DSERR_INVALIDPARAM, 0x81010003, "Ctx");
    FAIL();
  } catch (const EDirectXError& e) {
    EXPECT_EQ(e.Message, "Failed to set cooperative level.");
    EXPECT_EQ(e.ErrorCode, DSERR_INVALIDPARAM);
  }
  try {
    CheckDSResult(DSERR_INVALIDPARAM, 0, "Ctx");
    FAIL();
  } catch (const EDirectXError& e) {
    EXPECT_EQ(e.Message, text);
  }
  EXPECT_THROW(CheckDSResult(DSERR_BUFFERLOST, 0x81010003, ""), EDirectXBufferLostError);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "* Msg 81010003: D3D $80070057: " + text + " - Failed to set cooperative level. Ctx",
                            "* Msg 80070057: " + text + " Ctx", "* Info: Sound buffer lost"}));
}

TEST_F(Sound, PrimaryFormatFollowsTheCooperativeLevel) {
  struct Case { uint32_t level; const WAVEFORMATEX* format; uint32_t rate; uint16_t channels, bits; } ;
  const WAVEFORMATEX mono{1, 1, 22050, 44100, 2, 16, 0};
  Case cases[] = {{DSSCL_NORMAL, nullptr, 22050, 2, 8},  // untouched: the device's own default
                  {DSSCL_PRIORITY, nullptr, 44100, 2, 16},
                  {DSSCL_PRIORITY, &mono, 22050, 1, 16}};
  for (const Case& c : cases) {
    TzrDSound dev(this, c.level, c.format);
    ASSERT_FALSE(dev.Failed);
    WAVEFORMATEX f{};
    ASSERT_EQ(dev.PrimaryBuffer->GetFormat(&f, sizeof(f), nullptr), DS_OK);
    EXPECT_EQ(f.nSamplesPerSec, c.rate);
    EXPECT_EQ(f.nChannels, c.channels);
    EXPECT_EQ(f.wBitsPerSample, c.bits);
    EXPECT_EQ(f.nBlockAlign, c.channels * c.bits / 8);
    EXPECT_EQ(f.nAvgBytesPerSec, c.rate * f.nBlockAlign);
    ASSERT_TRUE(dev.StreamTimer);
    EXPECT_EQ(dev.StreamTimer->Interval(), 250u);
    EXPECT_FALSE(dev.StreamTimer->Enabled());
  }
}

TEST_F(Sound, WithoutAudioOutputTheDeviceFailsAndEveryBufferIsInert) {
  SetSoundOutput(TSoundOutput::SDL);
  TEnvGuard env("SDL_AUDIODRIVER", "no-such-audio-driver");
  AddWave("Bleep", 8000, 1, 16, fixtures::Pattern(800));
  TzrDSound dev(this, DSSCL_PRIORITY);
  EXPECT_TRUE(dev.Failed);
  EXPECT_TRUE(LogHasPrefix("* Msg 88780078: "));
  TzrDSoundFile* s = Load(dev, "Bleep", 2);
  TzrDSoundFile* m = Load(dev, "Bleep", 0);
  EXPECT_EQ(s->State, 3);
  EXPECT_EQ(m->State, 3);
  TzrDSoundFile* d = TzrDSoundFile::CreateDuplicate(s);
  EXPECT_EQ(d->State, 3);
  for (TzrDSoundFile* f : {s, m, d}) {
    f->Loop = true;
    f->Play();
    f->Pause();
    f->SetVolume(-500);
    f->Update(false);
    f->Stop();
    EXPECT_FALSE(f->IsLost());
    EXPECT_FALSE(f->Playing);
  }
  dev.UpdateStreams();
  // A failed device still takes the codec driver.
  const std::string codec = Dir + "l3codecx.acm";
  fixtures::WriteCodecFile(codec);
  dev.LoadACMDriver(codec);
  EXPECT_NE(dev.ACMDriver, nullptr);
  EXPECT_EQ(dev.Sounds.size(), 3u);
}

TEST_F(Sound, CodecDriverLoadFailuresAndUnload) {
  TzrDSound dev(this, DSSCL_PRIORITY);
  try {
    dev.LoadACMDriver(Dir + "missing.acm");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Error loading ACM driver library");
  }
  EXPECT_TRUE(LogHas("* Msg 81010004: Error loading ACM driver library"));
  // A library without the entry.
  std::string noEntry;
  for (const char* p : {"/usr/lib/x86_64-linux-gnu/libmpg123.so.0", "/lib/x86_64-linux-gnu/libmpg123.so.0"})
    if (std::filesystem::exists(p)) noEntry = std::filesystem::canonical(p);  // the file, not its link
  ASSERT_FALSE(noEntry.empty());
  EXPECT_THROW(dev.LoadACMDriver(noEntry), Exception);
  EXPECT_TRUE(LogHas("* Msg 81010005: Could not get ACM driver procedure address"));

  const std::string codec = Dir + "l3codecx.acm";
  fixtures::WriteCodecFile(codec);
  dev.LoadACMDriver(codec);
  EXPECT_EQ(dev.ACMFileName, codec);
  EXPECT_NE(dev.ACMDriver, nullptr);
  EXPECT_NE(dev.ACMDriverID, nullptr);
  dev.UnloadACMDriver();
  dev.UnloadACMDriver();
  EXPECT_EQ(dev.ACMDriver, nullptr);
  EXPECT_EQ(dev.ACMModule, nullptr);
}

TEST_F(Sound, WriteWaveFileCopiesInBlocksOf4096) {
  TzrDSound dev(this, DSSCL_PRIORITY);
  const std::string pcm = fixtures::Pattern(10000);
  const std::string w = fixtures::PcmWave(44100, 2, 16, pcm);
  TCountingStream src(w.data(), static_cast<uint32_t>(w.size()));
  dev.WriteWaveFile(&src, Dir + "out.wav");
  EXPECT_EQ(src.Results, (std::vector<int32_t>{4096, 4096, 1808, 0}));
  const std::string f = fixtures::ReadFile(Dir + "out.wav");
  ASSERT_EQ(f.size(), 12u + 8 + 18 + 8 + 10000);
  EXPECT_EQ(f.substr(0, 4), "RIFF");
  EXPECT_EQ(fixtures::GetU32(f, 4), f.size() - 8);
  EXPECT_EQ(f.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(fixtures::GetU32(f, 16), 18u);
  EXPECT_EQ(f.substr(20, 18), fixtures::PcmFormat(44100, 2, 16));
  EXPECT_EQ(f.substr(38, 4), "data");
  EXPECT_EQ(fixtures::GetU32(f, 42), 10000u);
  EXPECT_TRUE(SameBytes(f.substr(46), pcm));

  // A failure is logged as an Error line and raised.
  std::string bad = w;
  bad.replace(8, 4, "AVI ");
  EXPECT_THROW(TCustomMemoryWaveReadStream(bad.data(), static_cast<uint32_t>(bad.size())), Exception);
  std::string enc = fixtures::Riff(fixtures::FormatBytes(0x1234, 1, 8000, 8000, 1, 8), "abcd");
  TCustomMemoryWaveReadStream unknown(enc.data(), static_cast<uint32_t>(enc.size()));
  EXPECT_THROW(dev.WriteWaveFile(&unknown, Dir + "bad.wav"), Exception);
  EXPECT_TRUE(LogHas("* Error: Can't suggest pcm format (512). format=4660 cbSize=0"));
}

TEST_F(Sound, BufferSizesAndModeFour) {
  AddWave("Music", 44100, 2, 16, fixtures::Pattern(44100 * 4 / 2));
  AddWave("Short", 8000, 1, 8, fixtures::Pattern(12000, 8));  // 1.5 s
  AddWave("Long", 8000, 1, 8, fixtures::Pattern(24000, 8));   // 3 s
  TzrDSound dev(this, DSSCL_PRIORITY);
  TzrDSoundFile* m = Load(dev, "Music", 0, 100);
  EXPECT_EQ(m->State, 0);
  EXPECT_EQ(m->BufferBytes, 176400u);  // one second, whatever the buffer length asked for
  TzrDSoundFile* s = Load(dev, "Short", 4, 2000);
  TzrDSoundFile* l = Load(dev, "Long", 4, 2000);
  EXPECT_EQ(s->Mode, 2);
  EXPECT_EQ(s->BufferBytes, 12000u);
  EXPECT_EQ(s->Reader, nullptr);  // a static sound's data lives in its buffer
  EXPECT_EQ(l->Mode, 0);
  EXPECT_EQ(l->BufferBytes, 8000u);
  EXPECT_TRUE(SameBytes(Ring(s), fixtures::Pattern(12000, 8)));
  EXPECT_TRUE(SameBytes(Ring(l), fixtures::Pattern(8000, 8)));
  EXPECT_EQ(s->Name, "short");
  EXPECT_EQ(dev.Sounds.size(), 3u);
}

TEST_F(Sound, StaticSoundsPlayOnceOrLoopThroughTheMixer) {
  const std::string pcm = fixtures::Pattern(4000);  // 1000 frames of 16-bit stereo
  AddWave("Bleep", 44100, 2, 16, pcm);
  TzrDSound dev(this, DSSCL_PRIORITY);
  TzrDSoundFile* s = Load(dev, "Bleep", 2);
  ASSERT_EQ(s->State, 0);
  s->Play();
  EXPECT_FALSE(s->Playing);  // a sound played once is not "playing" for the refill
  std::vector<uint8_t> out;
  Advance(dev, 1500, &out);
  ASSERT_EQ(out.size(), 6000u);
  EXPECT_TRUE(SameBytes(std::string(out.begin(), out.begin() + 4000), pcm));
  EXPECT_TRUE(SameBytes(std::string(out.begin() + 4000, out.end()), std::string(2000, '\0')));
  uint32_t status = 1;
  s->Buffer->GetStatus(&status);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(Cursor(s), 0u);

  s->Loop = true;
  s->Play();
  EXPECT_TRUE(s->Playing);
  out.clear();
  Advance(dev, 2500, &out);
  EXPECT_TRUE(SameBytes(std::string(out.begin(), out.begin() + 4000), pcm));
  EXPECT_TRUE(SameBytes(std::string(out.begin() + 4000, out.begin() + 8000), pcm));
  EXPECT_EQ(Cursor(s), 2000u);
  s->Pause();
  EXPECT_TRUE(s->Paused);
  Advance(dev, 100);
  EXPECT_EQ(Cursor(s), 2000u);
  s->Play();  // resumes where it stood
  Advance(dev, 100);
  EXPECT_EQ(Cursor(s), 2400u);
  s->Stop();
  EXPECT_EQ(Cursor(s), 0u);

  // Volume in hundredths of a decibel: -10000 is silence, -602 about half.
  s->Loop = false;
  s->SetVolume(-10000);
  s->Play();
  out.clear();
  Advance(dev, 1000, &out);
  EXPECT_TRUE(SameBytes(std::string(out.begin(), out.end()), std::string(4000, '\0')));
}

TEST_F(Sound, MixerConvertsRatesChannelsAndSampleSizes) {
  AddWave("Low", 22050, 1, 8, std::string(100, '\xC0'));  // constant +64 of 128 in 8 bits
  TzrDSound dev(this, DSSCL_PRIORITY);
  TzrDSoundFile* s = Load(dev, "Low", 2);
  s->SetVolume(-602);  // half
  s->Play();
  std::vector<uint8_t> out;
  Advance(dev, 250, &out);
  auto sample = [&](std::size_t i) { return static_cast<int16_t>(out[2 * i] | (out[2 * i + 1] << 8)); };
  // 100 frames at half the rate last 200 output frames, on both channels.
  for (std::size_t f : {0u, 50u, 197u}) {
    EXPECT_NEAR(sample(2 * f), 8192, 40) << f;
    EXPECT_EQ(sample(2 * f), sample(2 * f + 1));
  }
  EXPECT_EQ(sample(2 * 210), 0);
}

TEST_F(Sound, NonLoopingStreamPlaysItsLastByteThenStopsPrimed) {
  struct Case { uint16_t bits; uint32_t ring, extra, refillFrames; char silence; };
  // 16-bit: ring 16,000 bytes, 4,000 bytes after it, a refill of 10,000 bytes.
  // 8-bit: ring 8,000 bytes, 2,000 after it, a refill of 5,000 bytes.
  for (const Case& c : {Case{16, 16000, 4000, 5000, '\0'}, Case{8, 8000, 2000, 5000, '\x80'}}) {
    SCOPED_TRACE(c.bits);
    const std::string pcm = fixtures::Pattern(c.ring + c.extra, static_cast<uint8_t>(c.bits));
    const uint32_t frameBytes = c.bits / 8;
    Module = TMemoryModule();
    AddWave("Tune", 8000, 1, c.bits, pcm);
    TzrDSound dev(this, DSSCL_PRIORITY, &kMono8k);
    TzrDSoundFile* s = Load(dev, "Tune", 0);
    ASSERT_EQ(s->BufferBytes, c.ring);
    EXPECT_TRUE(s->Primed);
    EXPECT_TRUE(SameBytes(Ring(s), pcm.substr(0, c.ring)));
    s->Play();
    EXPECT_TRUE(s->Playing);

    std::vector<uint8_t> out;
    Advance(dev, c.refillFrames, &out);
    Clock() += 100;
    dev.UpdateStreams();
    const uint32_t refill = c.refillFrames * frameBytes;
    std::string ring = Ring(s);
    EXPECT_TRUE(SameBytes(ring.substr(0, c.extra), pcm.substr(c.ring)));
    EXPECT_TRUE(SameBytes(ring.substr(c.extra, refill - c.extra), std::string(refill - c.extra, c.silence)));
    EXPECT_TRUE(s->Ended);
    EXPECT_EQ(s->WritePos, refill);

    // Later refills write silence only, and the sound goes on until its last real byte.
    const uint32_t before = (c.ring - refill) / frameBytes + c.extra / frameBytes - 1;  // one frame short of the end
    Advance(dev, before, &out);
    Clock() += 100;
    dev.UpdateStreams();
    EXPECT_TRUE(s->Playing);
    ring = Ring(s);
    EXPECT_TRUE(SameBytes(ring.substr(refill, c.ring - refill), std::string(c.ring - refill, c.silence)));
    Advance(dev, 1, &out);
    Clock() += 100;
    dev.UpdateStreams();
    EXPECT_FALSE(s->Playing);
    EXPECT_TRUE(s->Primed);
    EXPECT_EQ(Cursor(s), 0u);
    EXPECT_TRUE(SameBytes(Ring(s), pcm.substr(0, c.ring)));
    // Everything real was played, in order.
    std::string played;  // the output is 16-bit: 8-bit samples come out shifted up
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
      if (c.bits == 16) played += std::string{static_cast<char>(out[i]), static_cast<char>(out[i + 1])};
      else played += static_cast<char>(out[i + 1] + 128);
    }
    EXPECT_TRUE(SameBytes(played, pcm));
  }
}

TEST_F(Sound, RefillsAtMostOncePer50Ms) {
  AddWave("Tune", 8000, 1, 16, fixtures::Pattern(64000));
  TzrDSound dev(this, DSSCL_PRIORITY, &kMono8k);
  TzrDSoundFile* s = Load(dev, "Tune", 0);
  s->Play();
  Advance(dev, 100);
  Clock() += 100;
  s->Update(false);
  EXPECT_EQ(s->WritePos, 200u);
  Advance(dev, 100);
  Clock() += 49;
  s->Update(false);
  EXPECT_EQ(s->WritePos, 200u);
  Clock() += 1;
  s->Update(false);
  EXPECT_EQ(s->WritePos, 400u);
  // The limit holds across the wrap of the tick count.
  Clock() = 0xFFFFFFF0u;
  s->Update(false);
  Advance(dev, 100);
  Clock() += 0x40;  // wrapped: 0x30
  s->Update(false);
  EXPECT_EQ(s->WritePos, 600u);
}

TEST_F(Sound, LoopingStreamsWrapAndAnEmptySourceGivesUp) {
  const std::string pcm = fixtures::Pattern(6000);
  AddWave("Loop", 8000, 1, 16, pcm);
  AddWave("Empty", 8000, 1, 16, "");
  TzrDSound dev(this, DSSCL_PRIORITY, &kMono8k);
  TzrDSoundFile* s = Load(dev, "Loop", 0);
  s->Loop = true;
  s->Stop();  // primes again, now looping
  EXPECT_TRUE(SameBytes(Ring(s), pcm + pcm + pcm.substr(0, 4000)));
  EXPECT_FALSE(s->Ended);
  s->Play();
  Advance(dev, 5000);
  Clock() += 100;
  dev.UpdateStreams();
  EXPECT_TRUE(SameBytes(Ring(s).substr(0, 10000), pcm.substr(4000) + pcm + pcm.substr(0, 2000)));
  EXPECT_FALSE(s->Ended);

  TzrDSoundFile* e = Load(dev, "Empty", 0);
  e->Loop = true;
  e->Stop();  // must not spin on a source that never yields
  EXPECT_TRUE(e->Ended);
  EXPECT_TRUE(SameBytes(Ring(e), std::string(16000, '\0')));
}

TEST_F(Sound, StopPrimesDuplicatesShareDataAndFailuresAreInert) {
  AddWave("Tune", 8000, 1, 16, fixtures::Pattern(40000));
  AddWave("Bleep", 8000, 1, 16, fixtures::Pattern(800));
  TzrDSound dev(this, DSSCL_PRIORITY, &kMono8k);
  TzrDSoundFile* m = Load(dev, "Tune", 0);
  m->Play();
  Advance(dev, 3000);
  Clock() += 100;
  dev.UpdateStreams();
  m->Stop();
  EXPECT_TRUE(m->Primed);
  EXPECT_EQ(Cursor(m), 0u);
  EXPECT_EQ(m->WritePos, 0u);
  EXPECT_TRUE(SameBytes(Ring(m), fixtures::Pattern(16000)));

  try {
    TzrDSoundFile::CreateDuplicate(m);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Can't duplicate a streaming buffer");
  }
  EXPECT_TRUE(LogHas("* Error: Can't duplicate a streaming buffer"));

  TzrDSoundFile* b = Load(dev, "Bleep", 2);
  TzrDSoundFile* d = TzrDSoundFile::CreateDuplicate(b);
  EXPECT_EQ(d->State, 0);
  EXPECT_TRUE(SameBytes(Ring(d), fixtures::Pattern(800)));
  d->Play();
  Advance(dev, 10);
  EXPECT_EQ(Cursor(d), 20u);
  EXPECT_EQ(Cursor(b), 0u);

  TzrDSoundFile* missing = Load(dev, "Nothing", 2);
  EXPECT_EQ(missing->State, 2);
  EXPECT_TRUE(LogHas("* Warning: Error in sound \"nothing\": Resource not found"));
  TzrDSoundFile* dup = TzrDSoundFile::CreateDuplicate(missing);
  EXPECT_EQ(dup->State, 2);
  dup->Play();
  dup->Stop();
  EXPECT_EQ(dev.Sounds.size(), 5u);
  delete d;  // a sound deleted early leaves its device's list
  EXPECT_EQ(dev.Sounds.size(), 4u);
}

TEST_F(Sound, LostBuffersAreRestoredAndRefilled) {
  AddWave("Bleep", 8000, 1, 16, fixtures::Pattern(800));
  AddWave("Tune", 8000, 1, 16, fixtures::Pattern(40000));
  TzrDSound dev(this, DSSCL_PRIORITY, &kMono8k);
  TzrDSoundFile* b = Load(dev, "Bleep", 2);
  TzrDSoundFile* m = Load(dev, "Tune", 0);
  m->Loop = true;
  m->Play();
  Advance(dev, 3000);
  Clock() += 100;
  dev.UpdateStreams();
  DSoundLoseBuffers(dev.DirectSound.get());
  Clock() += 100;
  dev.UpdateStreams();  // the refill finds the buffer lost
  EXPECT_TRUE(m->Lost);
  EXPECT_TRUE(LogHas("* Info: Sound buffer lost"));

  EXPECT_FALSE(b->IsLost());  // restored and reloaded
  EXPECT_TRUE(SameBytes(Ring(b), fixtures::Pattern(800)));
  EXPECT_FALSE(m->IsLost());  // restored, refilled from the start, playing again
  EXPECT_TRUE(SameBytes(Ring(m), fixtures::Pattern(16000)));
  EXPECT_TRUE(m->Playing);
  uint32_t status = 0;
  m->Buffer->GetStatus(&status);
  EXPECT_TRUE(status & DSBSTATUS_PLAYING);
}
