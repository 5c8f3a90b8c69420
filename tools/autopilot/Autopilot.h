#pragma once
// The autopilot: plays a level through the real game logic, headless, as a player would press
// the keys. It follows the level's fastest exit run (keys, doors and switches in that order),
// hunts the smokers it can reach while the time allows, takes the pick-ups near its way, heals
// on energy fields and crosses lasers while they are dark. The game records its input as in a
// live game, so the result is a replay record that plays back exactly.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace autopilot {

struct Options {
  uint32_t Seed = 1;         // the level's random seed (recorded in the replay)
  double HuntShare = 0.75;   // hunt while less than this share of the time limit is planned away
  int PickupReach = 8;       // detour for a pick-up at most this many cells away
  int FireRange = 6;         // shoot at smokers up to this many cells away
  // A newcomer: walks the fastest exit run and nothing else (no hunting, detours or healing),
  // throws oxygen only at a smoker straight ahead on the screen, standing, and never dodges.
  bool Newcomer = false;
  // Cells x0, y0, x1, y1 of the level's first area (none when x1 < x0): the run reports how it
  // left the area.
  std::array<int, 4> FirstArea{0, 0, -1, -1};
  // The run stops where the player first leaves the first area (no replay record then).
  bool StopAtAreaExit = false;
};

struct Result {
  bool Won = false;
  int32_t GameTime = 0;      // ms at the level's end
  int32_t TimeLimitMs = 0;
  int32_t Smokers = 0;
  int32_t Converted = 0;
  int32_t Pickups = 0;       // hearts, super weapons and diamonds taken
  int32_t EndScore = 0;
  float EndEnergy = 0;       // the player's energy at the level's end
  std::array<int32_t, 2> EndOptions{};
  std::string Record;        // the level's replay record ("zrc2r" ...)
  // The first area (Options::FirstArea): the energy and game time when the player first left
  // it (or the level ended in it), the most smokers chasing or fleeing at once in sight of the
  // player or on its screen while the player was in it, and the cigarettes that hit the player there thrown from off the screen.
  float AreaEnergy = -1;
  int32_t AreaTime = 0;
  int32_t MostEngaged = 0;
  int32_t OffScreenHits = 0;
};

// Plays level `levelNumber` from the level file's bytes, starting with the given score and
// option counts. Needs UserDataDir to be a writable folder (the game saves its settings).
Result PlayLevel(const std::vector<uint8_t>& levelFile, int32_t levelNumber, int32_t startScore,
                 std::array<int32_t, 2> startOptions, const Options& options);

// Plays a replay record back through the game logic (the level from the level file's bytes) and
// reports how it ended: Won, GameTime, Converted and Pickups as the playback saw them.
Result PlayBack(const std::vector<uint8_t>& levelFile, const std::string& record);

}  // namespace autopilot
