// The level loader on hostile input (downloaded levels). The first byte chooses the plain
// layout or a compressed container; a level that loads gets a path search from the player's
// start to each enemy start, over the level's own cost map.
#include <cstdint>
#include <memory>
#include <string>

#include "base/Streams.h"
#include "game/LevelData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  TReadOnlyMemoryStream in(data + 1, size - 1);
  std::unique_ptr<TQVGameLevel> level;
  try {
    if (data[0] & 1) {
      level = std::make_unique<TQVGameLevel>(nullptr, in, nullptr);
    } else {
      TLevelFile file;
      ReadLevelFile(in, file);
      level = std::make_unique<TQVGameLevel>(nullptr, std::move(file), nullptr);
    }
  } catch (const Exception&) {
    return 0;
  }
  for (int32_t i = 0; i < level->EnemyStartCount() && i < 8; ++i) {
    TEnemyStart& e = level->GetEnemyStart(i);
    level->Planner->FindPathBetween({level->PlayerStart.X, level->PlayerStart.Y}, {e.X, e.Y});
    for (size_t k = 0; k < e.Waypoints.size() && k < 16; ++k)
      level->Planner->FindPathBetween({e.X, e.Y}, {PointX(e.Waypoints[k]), PointY(e.Waypoints[k])});
  }
  return 0;
}
