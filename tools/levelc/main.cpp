// levelc: compiles a level description into a level file.
//   levelc DECORB.DAT IN.txt OUT.lvl     writes the level file (compressed container), after
//                                        loading it back through the game's level loader
//   levelc --check DECORB.DAT IN.txt     only parses and validates
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "LevelCompiler.h"
#include "LevelFile.h"

static std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw levelc::ECompileError(path + ": cannot open");
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

int main(int argc, char** argv) {
  bool check = argc == 4 && std::string(argv[1]) == "--check";
  if (!check && argc != 4) {
    std::fprintf(stderr, "usage: levelc DECORB.DAT IN.txt OUT.lvl\n       levelc --check DECORB.DAT IN.txt\n");
    return 2;
  }
  try {
    int a = check ? 2 : 1;
    auto decor = levelc::ReadDecorTable(ReadFile(argv[a]));
    auto text = ReadFile(argv[a + 1]);
    levelc::Level lv = levelc::Compile(std::string(text.begin(), text.end()), argv[a + 1], decor);
    auto payload = levelc::Serialize(lv);
    if (!check) levelc::WriteLevelFile(argv[a + 2], payload, lv.Method);
    const levelc::ExitRun run = levelc::FastestExitRun(lv);
    std::printf("%s: \"%s\", %d x %d cells, %zu smokers, %zu decor, %zu switched cells, fastest exit run %d cells"
                " (%.1f s of %d s)\n", argv[a + 1], lv.Name.c_str(), lv.Width, lv.Height, lv.Smokers.size(),
                lv.Decors.size(), lv.GroupCells.size(), run.Moves, run.Moves * levelc::kMsPerCell / 1000.0, lv.TimeLimit);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
