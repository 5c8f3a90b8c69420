#pragma once
// The level file: the compiled level data wrapped in the game's compressed container, and the
// way back from a level the game has loaded to the compiler's model of it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "LevelCompiler.h"
#include "game/LevelData.h"

namespace levelc {

// The level file for the level data (method 1 LZRW1/KH, 0 LZH). The file is checked before it
// is returned: its container gives back exactly the data, the game's level loader takes it, and
// the level it loads passes Validate. Any failure raises ECompileError naming `name`.
std::vector<uint8_t> MakeLevelFile(const std::vector<uint8_t>& payload, uint32_t method, const std::string& name);

// MakeLevelFile, then writes the file to path.
void WriteLevelFile(const std::string& path, const std::vector<uint8_t>& payload, uint32_t method);

// Loads a level file through the game's level loader. A file the game refuses raises
// ECompileError with the loader's reason (which the loader gives only in the trace log).
std::unique_ptr<TQVGameLevel> LoadLevelFile(const std::vector<uint8_t>& file, const std::string& name);

// The compiler's model of a loaded level (cells, starts, waypoints, switch groups, decor), so
// that the compiler's checks can run on what the game actually sees.
Level FromGameLevel(const TQVGameLevel& level);

}  // namespace levelc
