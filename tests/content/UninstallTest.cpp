// "-uninstall" after a real run: the settings, a replay, downloads, the trace log, the lock file,
// the codec file and the music caches the sound table decoded are all gone, and so are the
// folders the program made for them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "base/SysUtils.h"
#include "game/GameLogic.h"
#include "game/GameSounds.h"
#include "game/GameWindow.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "support/SoundTestSupport.h"

using namespace soundtest;

namespace {

// Sets an environment variable for the test's span and puts the old value back after it.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : Name(name) {
    if (const char* old = std::getenv(name)) Old = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (Old) setenv(Name, Old->c_str(), 1);
    else unsetenv(Name);
  }

private:
  const char* Name;
  std::optional<std::string> Old;
};

std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec); !ec && it != std::filesystem::end(it); it.increment(ec))
    found.push_back(it->path().string());
  return found;
}

class Uninstall : public SoundTest {};

}  // namespace

TEST_F(Uninstall, LeavesNothingTheProgramWrote) {
  const std::string root = Dir + "scratch/";
  ForceDirectories(root + "data");
  ForceDirectories(root + "cache");
  ScopedEnv data("XDG_DATA_HOME", (root + "data").c_str());
  ScopedEnv cache("XDG_CACHE_HOME", (root + "cache").c_str());
  ScopedEnv run("XDG_RUNTIME_DIR", nullptr);  // the lock file then lands in the user folder
  InitGlobals("");
  ASSERT_EQ(UserDataDir, root + "data/Orvalent/QV/");
  ASSERT_EQ(CommonDataDir, root + "cache/Orvalent/");

  // A run as the program makes it: the lock, the trace log, the codec file, the music caches,
  // settings and a replay, downloaded levels.
  ASSERT_TRUE(AcquireSingleInstance());
  SetLogFile(UserDataDir + "qv.log");
  Log("a run", ltInfo);
  ASSERT_TRUE(WriteCodecFile());
  ASSERT_TRUE(FileExists(CommonDataDir + "l3codecx.acm"));
  {
    TzrDSound dev(this, DSSCL_PRIORITY);
    ASSERT_FALSE(dev.Failed);
    dev.LoadACMDriver(CommonDataDir + "l3codecx.acm");
    TGameSoundsSetup setup;
    setup.CommonDataDir = CommonDataDir;
    TGameSounds sounds(&dev, setup);
    sounds.LoadSounds();
  }
  const std::vector<std::string> caches = MusicCacheFileNames();
  ASSERT_EQ(caches.size(), 3u);
  for (const std::string& name : caches) EXPECT_TRUE(FileExists(CommonDataDir + name)) << name;
  WriteAll(CommonDataDir + caches[0] + ".tmp", "cut short");
  ResetEnvironment(GameEnvironment);
  {
    TGameLogic game{TGameLogicSetup{}};
    game.StartGame();
    for (int i = 0; i < 120; ++i) game.SimulationStep(1);
    ASSERT_TRUE(game.IsRunning());
    game.SaveLastReplay();
  }
  ASSERT_TRUE(FileExists(UserDataDir + "env.dat"));
  ASSERT_TRUE(FileExists(UserDataDir + "last.gmp"));
  for (const char* f : {"11.lvl", "12.lvl", "11.scn", "12.scn", "mybest.gmp", "mybest.old.gmp", "worldbest.gmp",
                        "env.dat.damaged", "env.dat.damaged.2", "env.dat.damaged.5"})
    WriteAll(UserDataDir + f, "x");
  // What saves of a killed run left behind.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  for (const char* f : {"env.dat", "env.dat.damaged", "last.gmp", "11.lvl"})
    WriteAll(UserDataDir + f + ".tmp" + std::to_string(gone), "cut short");
  SetLogFile("");
  ReleaseSingleInstance();
  ASSERT_TRUE(FileExists(UserDataDir + "Kestrune.lock"));
  DoneGlobals();

  InitGlobals("-uninstall");
  EXPECT_TRUE(UninstallDone);
  EXPECT_EQ(Leftovers(root + "data"), std::vector<std::string>{});
  EXPECT_EQ(Leftovers(root + "cache"), std::vector<std::string>{});
  DoneGlobals();
  UninstallDone = false;
}

// Links planted at the program's files (to files outside its folders, or to nothing): the
// uninstall removes the links and never what they lead to.
TEST_F(Uninstall, RemovesLinksNeverTheirTargets) {
  const std::string root = Dir + "scratch/";
  const std::string outside = Dir + "outside/";
  ForceDirectories(root + "data");
  ForceDirectories(root + "cache");
  ForceDirectories(outside);
  ScopedEnv data("XDG_DATA_HOME", (root + "data").c_str());
  ScopedEnv cache("XDG_CACHE_HOME", (root + "cache").c_str());
  ScopedEnv run("XDG_RUNTIME_DIR", nullptr);
  InitGlobals("");
  std::vector<std::string> targets;
  int n = 0;
  auto plant = [&](const std::string& link, bool dangling) {
    const std::string target = outside + std::to_string(n++);
    if (!dangling) {
      WriteAll(target, "keep " + target);
      targets.push_back(target);
    }
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
  };
  for (const char* f : {"env.dat", "qv.log", "last.gmp", "mybest.gmp", "worldbest.gmp", "11.lvl", "11.scn"})
    plant(UserDataDir + f, false);
  for (const char* f : {"12.lvl", "12.scn", "env.dat.damaged"}) plant(UserDataDir + f, true);
  plant(CommonDataDir + "l3codecx.acm", false);
  plant(CommonDataDir + "test.txt", false);  // the start-up's probe of the folder
  plant(UserDataDir + "Kestrune.lock", false);
  for (const std::string& name : MusicCacheFileNames()) plant(CommonDataDir + name, name == MusicCacheFileNames()[1]);
  DoneGlobals();

  InitGlobals("-uninstall");
  EXPECT_TRUE(UninstallDone);
  EXPECT_EQ(Leftovers(root + "data"), std::vector<std::string>{});
  EXPECT_EQ(Leftovers(root + "cache"), std::vector<std::string>{});
  DoneGlobals();
  UninstallDone = false;
  for (const std::string& t : targets) EXPECT_EQ(ReadAll(t), "keep " + t);
}
