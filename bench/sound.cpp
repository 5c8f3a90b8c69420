// Sound costs, each against a peer measured in the same run:
// - mixing one second of 44,100 Hz 16-bit stereo output with 32 voices playing, our mixer
//   against SDL's own mixing routine doing the same sums;
// - MP3 to PCM through our layer (WAVE reader, compression manager, codec module) against
//   libmpg123 decoding the same frames directly.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <mpg123.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "engine/WaveRead.h"
#include "engine/zrDSound.h"
#include "support/SoundFixtures.h"

namespace {
constexpr int kVoices = 32;
constexpr uint32_t kFrames = 44100;  // one second of output
int Window = 0;

std::string WorkDir() {
  std::string d = std::filesystem::temp_directory_path().string() + "/kestrune-bench-sound";
  std::filesystem::create_directories(d);
  return d;
}

struct TMixSetup {
  std::unique_ptr<TzrDSound> Device;
  TMemoryModule Module;
  explicit TMixSetup(bool mixedFormats) {
    SetSoundOutput(TSoundOutput::Clocked);
    Device = std::make_unique<TzrDSound>(&Window, DSSCL_PRIORITY);
    Module.AddResource("SND", "Stereo", fixtures::PcmWave(44100, 2, 16, fixtures::Tone(44100, 2, 44100, 440)));
    Module.AddResource("SND", "Mono", fixtures::PcmWave(22050, 1, 16, fixtures::Tone(22050, 1, 22050, 660)));
    for (int i = 0; i < kVoices; ++i) {
      const bool mono = mixedFormats && i % 4 == 0;
      TzrDSoundFile* s = TzrDSoundFile::CreateFromResource(Device.get(), 2000, 2, "SND", mono ? "Mono" : "Stereo", &Module);
      s->Loop = true;
      s->SetVolume(-2000 - 10 * i);
      s->SetPosition(static_cast<uint32_t>(i * 1000 * 4) % s->BufferBytes);
      s->Play();
    }
  }
};

void BM_MixOurs(benchmark::State& state) {
  TMixSetup setup(false);
  std::vector<uint8_t> out;
  out.reserve(kFrames * 4);
  for (auto _ : state) {
    out.clear();
    DSoundAdvance(setup.Device->DirectSound.get(), kFrames, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel("32 voices, 1 s of output");
}
BENCHMARK(BM_MixOurs)->Unit(benchmark::kMicrosecond);

void BM_MixOursMixedFormats(benchmark::State& state) {
  TMixSetup setup(true);
  std::vector<uint8_t> out;
  out.reserve(kFrames * 4);
  for (auto _ : state) {
    out.clear();
    DSoundAdvance(setup.Device->DirectSound.get(), kFrames, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel("32 voices, 8 of them 22,050 Hz mono, 1 s");
}
BENCHMARK(BM_MixOursMixedFormats)->Unit(benchmark::kMicrosecond);

void BM_MixSdl(benchmark::State& state) {
  const std::string tone = fixtures::Tone(44100, 2, 44100, 440);
  std::vector<uint8_t> out(kFrames * 4);
  const int chunk = 1024 * 4;  // the callback's piece size our output uses too
  for (auto _ : state) {
    std::fill(out.begin(), out.end(), 0);
    for (uint32_t at = 0; at < out.size(); at += chunk) {
      const uint32_t len = std::min<uint32_t>(chunk, static_cast<uint32_t>(out.size()) - at);
      for (int v = 0; v < kVoices; ++v) {
        const uint32_t src = (at + static_cast<uint32_t>(v) * 4000) % (static_cast<uint32_t>(tone.size()) - chunk);
        SDL_MixAudioFormat(out.data() + at, reinterpret_cast<const Uint8*>(tone.data()) + src, AUDIO_S16SYS, len, 13);
      }
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel("32 voices, 1 s of output");
}
BENCHMARK(BM_MixSdl)->Unit(benchmark::kMicrosecond);

struct TMp3Setup {
  fixtures::TMp3Fixture Fixture;
  std::unique_ptr<TzrDSound> Device;
  TMp3Setup() {
    Fixture = fixtures::MakeMp3(WorkDir(), 44100, 2, 10.0, 128);
    const std::string codec = WorkDir() + "/l3codecx.acm";
    fixtures::WriteCodecFile(codec);
    SetSoundOutput(TSoundOutput::Clocked);
    Device = std::make_unique<TzrDSound>(&Window, DSSCL_PRIORITY);
    Device->LoadACMDriver(codec);
  }
};
TMp3Setup& Mp3() {
  static TMp3Setup s;
  return s;
}

void BM_Mp3ToPcmOurs(benchmark::State& state) {
  TMp3Setup& m = Mp3();
  int64_t bytes = 0;
  for (auto _ : state) {
    TCustomMemoryWaveReadStream src(m.Fixture.Wave.data(), static_cast<uint32_t>(m.Fixture.Wave.size()));
    TWavePCMReader reader(&src, m.Device->ACMDriver);
    uint8_t buf[4096];
    for (int32_t n; (n = reader.Read(buf, sizeof(buf))) > 0;) bytes += n;
  }
  state.SetBytesProcessed(bytes);
  state.SetLabel("10 s, 128 kbit/s stereo, read in 4096-byte pieces");
}
BENCHMARK(BM_Mp3ToPcmOurs)->Unit(benchmark::kMillisecond);

void BM_Mp3ToPcmDirect(benchmark::State& state) {
  TMp3Setup& m = Mp3();
  int64_t bytes = 0;
  std::vector<unsigned char> out(65536);
  for (auto _ : state) {
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_format_none(h);
    mpg123_format(h, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(h);
    mpg123_feed(h, reinterpret_cast<const unsigned char*>(m.Fixture.Mp3.data()), m.Fixture.Mp3.size());
    for (;;) {
      std::size_t done = 0;
      int r = mpg123_read(h, out.data(), out.size(), &done);
      bytes += static_cast<int64_t>(done);
      if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
    }
    mpg123_delete(h);
  }
  state.SetBytesProcessed(bytes);
  state.SetLabel("the same frames, libmpg123 alone");
}
BENCHMARK(BM_Mp3ToPcmDirect)->Unit(benchmark::kMillisecond);

// Keeps every run's time so the ratios can be printed after the table.
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kt_bench::TMedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* ours, const char* peer, const char* what) {
    const double a = reporter.Seconds(ours), b = reporter.Seconds(peer);
    if (a > 0 && b > 0) std::printf("%-46s %.2f x  (%s)\n", what, a / b, peer);
  };
  std::printf("\n");
  ratio("BM_MixOurs", "BM_MixSdl", "mixing 32 voices, ours / SDL");
  ratio("BM_MixOursMixedFormats", "BM_MixSdl", "mixing 32 voices of mixed formats, ours / SDL");
  ratio("BM_Mp3ToPcmOurs", "BM_Mp3ToPcmDirect", "MP3 to PCM, our layer / libmpg123 directly");
  if (reporter.Has("BM_MixOurs"))
    std::printf("%-46s %.3f %% of one core\n", "mixing cost per second of output",
                reporter.Seconds("BM_MixOurs") * 100.0);
  benchmark::Shutdown();
  return 0;
}
