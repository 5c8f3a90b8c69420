// autopilot: plays the ten levels in a row (score and options carried from level to level, as a
// game does) and writes the winning replays and the demo.
//   autopilot LEVELDIR WINS.gmp DEMO.gmp [LEVELS]
// LEVELDIR holds 1.lvl .. 10.lvl. Each level is tried with a few seeds and hunting plans; the
// winning run with the most smokers converted (then pick-ups, then the shortest time) is kept.
// WINS.gmp gets all levels, DEMO.gmp the first three. LEVELS plays only the first LEVELS levels.
//   autopilot --newcomer LEVEL.lvl N X0 Y0 X1 Y1 [RUNS]
// plays level number N as a newcomer (Options::Newcomer) with RUNS seeds (8, from 7001 on),
// prints how each run left the first area X0 Y0 X1 Y1 and how it ended, then the count of runs
// that left it with energy left and of runs won. Exits 1 when a run lost in the first area.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "Autopilot.h"
#include "base/Streams.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/ReplayPack.h"

namespace {

constexpr int kDemoLevels = 3;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error(path + ": cannot open");
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool Better(const autopilot::Result& a, const autopilot::Result& b) {
  if (a.Converted != b.Converted) return a.Converted > b.Converted;
  if (a.Pickups != b.Pickups) return a.Pickups > b.Pickups;
  return a.GameTime < b.GameTime;
}

void WritePack(const std::string& path, const std::vector<std::string>& records) {
  std::filesystem::remove(path);
  TReplayPack pack(path);
  for (size_t i = 0; i < records.size(); ++i)
    pack.AddReplay(static_cast<int32_t>(i + 1), [&](TStream& s) {
      s.WriteBuffer(records[i].data(), static_cast<int32_t>(records[i].size()));
    });
}

}  // namespace

int Newcomer(int argc, char** argv) {
  const std::vector<uint8_t> file = ReadFile(argv[2]);
  const int level = std::atoi(argv[3]);
  const int runs = argc == 9 ? std::atoi(argv[8]) : 8;
  autopilot::Options o;
  o.Newcomer = true;
  for (int i = 0; i < 4; ++i) o.FirstArea[static_cast<size_t>(i)] = std::atoi(argv[4 + i]);
  int bad = 0, won = 0;
  std::string lost;
  for (int k = 0; k < runs; ++k) {
    o.Seed = static_cast<uint32_t>(7001 + k);
    const autopilot::Result r = autopilot::PlayLevel(file, level, 0, {0, 0}, o);
    std::printf("seed %u: left the first area at %.2f s with energy %.2f, at most %d engaged, %d off-screen hits;"
                " %s at %.2f s with energy %.2f\n", o.Seed, r.AreaTime / 1000.0, r.AreaEnergy, r.MostEngaged,
                r.OffScreenHits, r.Won ? "won" : "not won", r.GameTime / 1000.0, r.EndEnergy);
    if (r.AreaEnergy <= 0) {
      ++bad;
      lost += " " + std::to_string(o.Seed);
    }
    won += r.Won;
  }
  std::printf("level %d, %d seeds: %d left the first area with energy left, %d won%s%s\n", level, runs, runs - bad, won,
              bad ? "; lost in the first area:" : "", lost.c_str());
  return bad ? 1 : 0;
}

int main(int argc, char** argv) {
  if ((argc == 8 || argc == 9) && std::string(argv[1]) == "--newcomer") {
    ResetEnvironment(GameEnvironment);
    UserDataDir = (std::filesystem::temp_directory_path() / ("kestrune-newcomer-" + std::to_string(::getpid()))).string() + "/";
    std::filesystem::create_directories(UserDataDir);
    const int rc = Newcomer(argc, argv);
    std::filesystem::remove_all(UserDataDir);
    return rc;
  }
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: autopilot LEVELDIR WINS.gmp DEMO.gmp [LEVELS]\n");
    return 2;
  }
  const int levels = argc == 5 ? std::atoi(argv[4]) : 10;
  // the game saves its settings as a level loads: into a folder of our own
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("kestrune-autopilot-" + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch);
  UserDataDir = scratch.string() + "/";
  ResetEnvironment(GameEnvironment);
  int rc = 0;
  try {
    std::vector<std::string> records;
    int32_t score = 0;
    std::array<int32_t, 2> options{};
    for (int n = 1; n <= levels; ++n) {
      const std::vector<uint8_t> file = ReadFile(std::string(argv[1]) + "/" + std::to_string(n) + ".lvl");
      autopilot::Result best;
      const double shares[] = {0.75, 0.65, 0.85, 0.55};
      for (int attempt = 0; attempt < 12; ++attempt) {
        autopilot::Options o;
        o.Seed = static_cast<uint32_t>(1000 * n + attempt);
        o.HuntShare = shares[attempt % 4];
        o.FireRange = attempt % 3 == 2 ? 5 : 6;
        autopilot::Result r = autopilot::PlayLevel(file, n, score, options, o);
        if (!r.Won || r.GameTime > r.TimeLimitMs) continue;
        // the record must play back to the same end
        autopilot::Result back = autopilot::PlayBack(file, r.Record);
        if (!back.Won || back.GameTime != r.GameTime) {
          std::fprintf(stderr, "level %d: seed %u does not play back (%d ms, recorded %d ms)\n", n, o.Seed,
                       back.GameTime, r.GameTime);
          continue;
        }
        if (best.Record.empty() || Better(r, best)) best = r;
      }
      if (best.Record.empty()) throw std::runtime_error("level " + std::to_string(n) + ": no winning run found");
      std::printf("level %d: won in %.2f s of %d s, %d of %d smokers converted, %d pick-ups, score %d, energy %.2f\n",
                  n, best.GameTime / 1000.0, best.TimeLimitMs / 1000, best.Converted, best.Smokers, best.Pickups,
                  best.EndScore, best.EndEnergy);
      records.push_back(best.Record);
      score = best.EndScore;
      options = best.EndOptions;
    }
    WritePack(argv[2], records);
    WritePack(argv[3], std::vector<std::string>(records.begin(), records.begin() + std::min<size_t>(kDemoLevels, records.size())));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "autopilot: %s\n", e.what());
    rc = 1;
  }
  std::filesystem::remove_all(scratch);
  return rc;
}
