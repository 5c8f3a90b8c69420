// The frame that ends a level: the step records the level and the settings. Ours runs the frame
// as the game does (DoFrame: the saves go to the save worker); the peer is the same step with the
// saves written on the step itself (reading and rewriting "last.gmp", then env.dat, with fsync
// and rename). A plain frame in the middle of the level is measured for scale. The game is on
// level 5 with four recorded earlier levels of 3,000 steps each in "last.gmp".
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "base/Streams.h"
#include "base/SysUtils.h"
#include "game/GameElements.h"
#include "game/GameLogic.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/ReplayPack.h"
#include "game/SaveQueue.h"

namespace {

struct TLevelEndGame {
  uint32_t Now = 0;
  std::unique_ptr<TGameLogic> Game;

  TLevelEndGame() {
    static const std::string dir = [] {
      std::string d = std::filesystem::temp_directory_path().string() + "/kt_bench_level_end_" +
                      std::to_string(::getpid()) + "/";
      std::filesystem::create_directories(d);
      return d;
    }();
    UserDataDir = dir;
    WaitForSaves();
    ResetEnvironment(GameEnvironment);
    GameEnvironment.StartLevel = 5;
    DeleteFile(dir + kLastReplayName);
    for (int l = 1; l <= 4; ++l) {
      TReplayLevelRecord r;
      r.LevelNumber = l;
      r.GameTime = 60000;
      for (int i = 0; i < 3000; ++i) r.Input.AddInput(static_cast<uint32_t>(1 | ((i / 7) % 16) << 1));
      TReplayPack(dir + kLastReplayName).AddReplay(l, [&](TStream& s) { r.WriteToStream(s); });
    }
    TGameLogicSetup setup;
    setup.Clock = [this] { return Now; };
    Game = std::make_unique<TGameLogic>(setup);
    Game->LoadProgress = 100;
    Game->StartGame();
    Game->PlayPhase = 3;
    Game->LastStepTime = 0;
    for (int i = 0; i < 500; ++i) Frame();
  }
  // One frame with exactly one step due.
  void Frame() {
    Now += 20;
    Game->DoFrame();
  }
  void EndTheLevel() {
    Game->Player()->Done = 1;
    Game->Player()->Won = 1;
  }
};

void BM_LevelEndFrame(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    TLevelEndGame g;
    g.EndTheLevel();
    state.ResumeTiming();
    g.Frame();
    state.PauseTiming();
    if (g.Game->GameState != gsLevelEnd) state.SkipWithError("the level did not end");
    WaitForSaves();
    state.ResumeTiming();
  }
}

void BM_LevelEndStepSavingOnTheStep(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    TLevelEndGame g;
    g.EndTheLevel();
    state.ResumeTiming();
    g.Game->SimulationStep(0);  // no deferral: the saves run inside the step
    state.PauseTiming();
    if (g.Game->GameState != gsLevelEnd) state.SkipWithError("the level did not end");
    state.ResumeTiming();
  }
}

void BM_PlainFrame(benchmark::State& state) {
  TLevelEndGame g;
  for (auto _ : state) g.Frame();
}

BENCHMARK(BM_LevelEndFrame)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LevelEndStepSavingOnTheStep)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFrame)->Iterations(2000)->Unit(benchmark::kMillisecond);

// Keeps the last (with repetitions: the median) time per benchmark for the ratio lines.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const std::string name = r.benchmark_name();
      const bool median = name.size() > 7 && name.compare(name.size() - 7, 7, "_median") == 0;
      if (r.run_type == Run::RT_Iteration || median) {
        std::string base = median ? name.substr(0, name.size() - 7) : name;
        base = base.substr(0, base.find('/'));
        Times[base] = r.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> Times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& t = reporter.Times;
  if (t.count("BM_LevelEndFrame") && t.count("BM_LevelEndStepSavingOnTheStep"))
    std::printf("level-end frame, saves on the worker / saves on the step: %.3f (%.3f ms vs %.3f ms; goal 0.2 ms)\n",
                t.at("BM_LevelEndFrame") / t.at("BM_LevelEndStepSavingOnTheStep"), t.at("BM_LevelEndFrame"),
                t.at("BM_LevelEndStepSavingOnTheStep"));
  if (t.count("BM_PlainFrame") && t.count("BM_LevelEndFrame"))
    std::printf("level-end frame / plain frame: %.2f\n", t.at("BM_LevelEndFrame") / t.at("BM_PlainFrame"));
  benchmark::Shutdown();
  return 0;
}
