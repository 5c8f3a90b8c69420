// One game-sized frame through the Direct3D layer: 1,000 sprite quads over 37 textures and 5,000
// point sprites. Measures the CPU time of queueing (AddQuad/AddPoint) against the flush
// (RenderAll: bucket walk, vertex copy, state and draw calls) on the OpenGL backend, with the
// same frame flushed on the fake runtime as the peer that shows what the GL driver adds.
// Runs headless when SDL_VIDEODRIVER is not set (offscreen driver, Mesa's software GL).
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "BenchReport.h"
#include "base/Bitmap.h"
#include "engine/zrD3D.h"
#include "platform/D3D8Fake.h"
#include "platform/D3D8GL.h"

namespace {

constexpr int kTextures = 37, kQuads = 1000, kPoints = 5000;

// A local generator: the frame's layout only, never the game's random sequence.
struct TLcg {
  uint32_t s = 12345;
  uint32_t Next(uint32_t n) {
    s = s * 1664525u + 1013904223u;
    return uint32_t((uint64_t(s >> 8) * n) >> 24);
  }
};

struct TScene {
  std::unique_ptr<TFakeD3D8> Fake;  // set for the peer
  SDL_Window* Window = nullptr;
  std::unique_ptr<TzrD3D8> D3D;
  std::unique_ptr<TzrD3Device8> Dev;
  TzrD3DQuadRenderer* Quads = nullptr;
  TzrD3DPointRenderer* Points = nullptr;
  std::vector<TzrD3DSprite*> Sprites;
  struct TQuad {
    int Sprite;
    TzrVector2 Pos;
    float Angle;
    TzrVector2 Scale;
  };
  std::vector<TQuad> Layout;
  std::vector<TzrPointVertex> Smoke;

  explicit TScene(bool fake) {
    if (fake) {
      Fake = std::make_unique<TFakeD3D8>();
      Fake->Adapters.push_back(TFakeD3D8::CapableAdapter());
      Fake->Displays.push_back(TFakeDisplay{});
    } else {
      Window = D3DCreateDeviceWindow("bench", 800, 600, SDL_WINDOW_HIDDEN);
      if (!Window) {
        std::fprintf(stderr, "no window: %s\n", SDL_GetError());
        std::exit(1);
      }
    }
    D3D = std::make_unique<TzrD3D8>();
    D3D->EnumAdapters();
    TzrD3DDeviceInfo* info = D3D->GetAdapter(0)->GetDevice(0);
    Dev = std::make_unique<TzrD3Device8>(info, Window, Window, true,
                                         TzrD3DMode{800, 600, D3DFMT_X8R8G8B8, info->WindowedMode.Behavior, 0});
    Quads = new TzrD3DQuadRenderer(Dev.get(), 1000);  // the game's sizes
    TLcg rnd;
    const D3DFORMAT formats[] = {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, D3DFMT_A1R5G5B5};
    for (int t = 0; t < kTextures; ++t) {
      TBitmap img, mask;
      img.SetPixelFormat(pf32bit);
      img.SetSize(256, 256);
      mask.SetPixelFormat(pf32bit);
      mask.SetSize(256, 256);
      for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
          img.SetPixelRGB(x, y, uint32_t(t * 0x060708 + x * 0x10000 + y));
          mask.SetPixelRGB(x, y, ((x ^ y) & 0xFF) * 0x010101u);
        }
      new TzrD3DTexture8(Dev.get(), nullptr, &img, &mask, 0, 0, 0, 3, formats);
      for (int s = 0; s < 2; ++s) {
        RECT r{LONG(rnd.Next(128)), LONG(rnd.Next(128)), 0, 0};
        r.right = r.left + 16 + LONG(rnd.Next(112));
        r.bottom = r.top + 16 + LONG(rnd.Next(112));
        POINT pivot{(r.right - r.left) / 2, (r.bottom - r.top) / 2};
        static const int layers[] = {1000, 31100, 45000, 3000500, 4000000, 5000000};
        Sprites.push_back(new TzrD3DSprite(Quads, t, &r, &pivot, 0, 0, layers[rnd.Next(6)]));
      }
    }
    Points = new TzrD3DPointRenderer(Dev.get(), 5000, kTextures - 2);
    for (int i = 0; i < kQuads; ++i)
      Layout.push_back(TQuad{int(rnd.Next(uint32_t(Sprites.size()))),
                             {float(rnd.Next(800)), float(rnd.Next(600))},
                             float(rnd.Next(628)) / 100.0f,
                             {rnd.Next(4) == 0 ? -1.0f : 1.0f, 1.0f}});
    for (int i = 0; i < kPoints; ++i)
      Smoke.push_back(TzrPointVertex{float(rnd.Next(800)), float(rnd.Next(600)), 0, 1,
                                     float(4 + rnd.Next(12)), 0x40000000u | rnd.Next(0xFFFFFF)});
    Frame();  // buffers restored, textures uploaded
  }
  ~TScene() {
    Dev.reset();
    D3D.reset();
    if (Window) SDL_DestroyWindow(Window);
  }
  void Queue() {
    for (const TQuad& q : Layout) Sprites[size_t(q.Sprite)]->Draw(&q.Scale, q.Pos, q.Angle, nullptr);
    for (const TzrPointVertex& p : Smoke) Points->AddPoint(p.x, p.y, p.size, p.color);
  }
  void Frame() {
    Dev->BeginScene();
    Queue();
    Dev->RenderAll();
    Dev->EndScene();
    Dev->Present();
    Dev->FlushScene();
    if (Fake) Fake->ClearRecords();
  }
};

std::map<bool, std::unique_ptr<TScene>> Scenes;

TScene& Scene(bool fake) {
  auto& s = Scenes[fake];
  if (!s) s = std::make_unique<TScene>(fake);
  return *s;
}

void Queueing(benchmark::State& state) {
  TScene& s = Scene(false);
  for (auto _ : state) {
    s.Queue();
    benchmark::ClobberMemory();
    s.Quads->Reset();
    s.Points->Reset();
  }
  state.counters["quads"] = double(s.Quads->Capacity);
}

void Flush(benchmark::State& state, bool fake) {
  TScene& s = Scene(fake);
  for (auto _ : state) {
    state.PauseTiming();
    s.Dev->BeginScene();
    s.Queue();
    state.ResumeTiming();
    s.Dev->RenderAll();
    state.PauseTiming();
    s.Dev->EndScene();
    s.Dev->Present();
    s.Dev->FlushScene();  // the driver finishes: the next flush starts from idle
    if (s.Fake) s.Fake->ClearRecords();
    state.ResumeTiming();
  }
}
void FlushGL(benchmark::State& state) { Flush(state, false); }
void FlushFake(benchmark::State& state) { Flush(state, true); }

void WholeFrame(benchmark::State& state) {
  TScene& s = Scene(false);
  for (auto _ : state) s.Frame();
}

BENCHMARK(Queueing)->Unit(benchmark::kMicrosecond);
BENCHMARK(FlushGL)->Unit(benchmark::kMicrosecond);
BENCHMARK(FlushFake)->Unit(benchmark::kMicrosecond);
BENCHMARK(WholeFrame)->Unit(benchmark::kMicrosecond);

// Keeps each run's CPU time per iteration for the ratios printed at the end.

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  benchmark::Initialize(&argc, argv);
  kt_bench::TMedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::map<std::string, double> c;  // microseconds of CPU
  for (const char* n : {"Queueing", "FlushGL", "FlushFake", "WholeFrame"})
    if (reporter.Has(n)) c[n] = reporter.CpuSeconds(n) * 1e6;
  if (c.size() == 4) {
    std::printf("\nCPU per frame (%d quads over %d textures, %d points):\n", kQuads, kTextures, kPoints);
    std::printf("  queueing %.1f us, flush %.1f us (GL) / %.1f us (fake), whole frame %.1f us\n",
                c["Queueing"], c["FlushGL"], c["FlushFake"], c["WholeFrame"]);
    std::printf("  flush / queueing            %.2f\n", c["FlushGL"] / c["Queueing"]);
    std::printf("  flush GL / flush fake       %.2f\n", c["FlushGL"] / c["FlushFake"]);
    std::printf("  (queue + flush) / frame     %.2f\n", (c["Queueing"] + c["FlushGL"]) / c["WholeFrame"]);
  }
  Scenes.clear();
  benchmark::Shutdown();
  return 0;
}
