#include "LevelFile.h"

#include <fstream>

#include "LevelCompiler.h"

namespace levelc {

// Until the container writer and the level loader are in the engine, the file holds the level
// data as it is.
void WriteLevelFile(const std::string& path, const std::vector<uint8_t>& payload, uint32_t) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(payload.data()), static_cast<std::streamsize>(payload.size()));
  if (!f) throw ECompileError(path + ": cannot write");
}

}  // namespace levelc
