#pragma once
// Writing the compressed level file and reading it back through the game's level loader.
#include <cstdint>
#include <string>
#include <vector>

namespace levelc {
// Wraps the level data in the compressed container (method 1 LZRW1/KH, 0 LZH), writes it to
// path, then loads the file with the game's level loader; a file the game would reject raises.
void WriteLevelFile(const std::string& path, const std::vector<uint8_t>& payload, uint32_t method);
}  // namespace levelc
