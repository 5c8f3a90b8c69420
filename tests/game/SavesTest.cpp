// The game's saves: ordered, off the simulation step while a frame runs, and never a half
// file: killed at any moment, each file holds its old or its new contents.
#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <future>
#include <memory>
#include <thread>

#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/GameLogic.h"
#include "game/GameElements.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/ReplayPack.h"
#include "game/SaveQueue.h"
#include "game/UserFiles.h"
#include "support/Mounts.h"
#include "support/TestSupport.h"

namespace {

class Saves : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = TestDir();
    UserDataDir = Dir;
    ResetEnvironment(GameEnvironment);
    SetLogFile(Dir + "qv.log");
  }
  void TearDown() override {
    WaitForSaves();
    ResetSaveFailures();
    SetLogFile("");
    UserDataDir.clear();
    ResetEnvironment(GameEnvironment);
  }
  // Nothing but the file itself (and qv.log) may stay in the folder once the stale temporary
  // files of the killed children are cleared.
  void ExpectNoTemporaryFiles() {
    RemoveStaleTempFiles(Dir, {"env.dat", "last.gmp", "mybest.gmp", "worldbest.gmp"}, {".lvl"});
    for (const auto& e : std::filesystem::directory_iterator(Dir))
      EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
  }
  static void AddRecord(const std::string& pack, int32_t steps) {
    TReplayLevelRecord r;
    r.LevelNumber = 1;
    r.GameTime = steps * 20;
    for (int i = 0; i < steps; ++i) r.Input.AddInput(static_cast<uint32_t>(1 | (i % 7) << 1));
    TReplayPack(pack).AddReplay(1, [&](TStream& s) { r.WriteToStream(s); });
  }
  // A game of level 1 run 30 frames on a clock of the test's own.
  std::unique_ptr<TGameLogic> PlayingGame(uint32_t seed) {
    TGameLogicSetup setup;
    setup.Clock = [this] { return Now; };
    auto g = std::make_unique<TGameLogic>(setup);
    g->NewSeed = [seed] { return seed; };
    g->LoadProgress = 100;
    g->StartGame();
    g->PlayPhase = 3;
    g->LastStepTime = 0;
    for (int i = 1; i <= 30; ++i) {
      Now = 20u * static_cast<uint32_t>(i);
      g->DoFrame();
    }
    return g;
  }
  // Queues a save that holds the worker until the returned promise is kept.
  static std::promise<void> HoldTheWorker() {
    std::promise<void> release;
    std::shared_future<void> hold = release.get_future().share();
    TDeferredSaves deferred;
    RunOrQueueSave([hold] { hold.wait(); });
    return release;
  }
  std::string Dir;
  uint32_t Now = 0;
};

TEST_F(Saves, DeferredSavesRunInOrderOnTheWorkerAndASaveAtOnceComesLast) {
  std::vector<int> order;
  std::mutex lock;
  auto note = [&](int n) {
    std::lock_guard<std::mutex> g(lock);
    order.push_back(n);
  };
  std::promise<void> release;
  std::shared_future<void> hold = release.get_future().share();
  const std::thread::id self = std::this_thread::get_id();
  std::thread::id ranOn;
  {
    TDeferredSaves deferred;
    RunOrQueueSave([&, hold] {
      hold.wait();
      ranOn = std::this_thread::get_id();
      note(1);
    });
    RunOrQueueSave([&] { note(2); });
    EXPECT_TRUE(order.empty());  // queued: the caller did not wait
  }
  release.set_value();
  RunOrQueueSave([&] { note(3); });  // at once, after the queued ones
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_NE(ranOn, self);
}

TEST_F(Saves, ALevelEndInAFrameOnlyQueuesItsFilesAndTheWorkerWritesThem) {
  auto game = PlayingGame(777u);
  TGameLogic& g = *game;
  ASSERT_EQ(g.GameState, gsPlaying);
  ASSERT_GT(g.LevelSteps, 10);
  // The worker is held: whatever the level end saves must wait for it.
  std::promise<void> release = HoldTheWorker();
  g.Player()->Done = 1;
  g.Player()->Won = 1;
  GameEnvironment.Alias = "Winner";
  g.Score = 99999;
  Now += 20;
  g.DoFrame();
  ASSERT_EQ(g.GameState, gsLevelEnd);
  {
    TDeferredSaves deferred;  // as in the frame whose step ends the game
    g.EndGame(false);         // a new best game: the copy to mybest.gmp, then env.dat
  }
  EXPECT_FALSE(FileExists(Dir + kLastReplayName)) << "the step wrote the replay itself";
  release.set_value();
  WaitForSaves();
  TReplayPack last(Dir + kLastReplayName);
  ASSERT_EQ(last.Count(), 1);
  TMemoryStream m;
  last.GetLevelReplay(m, 1);
  TReplayLevelRecord r;
  r.ReadFromStream(m);
  EXPECT_EQ(r.GameTime, g.GameTime);
  EXPECT_EQ(r.RandomSeed, 777);
  EXPECT_EQ(ReadAll(Dir + kMyBestReplayName), ReadAll(Dir + kLastReplayName));  // copied after it was written
  TGameEnvironment saved;
  ASSERT_TRUE(LoadEnvironmentFile(Dir + "env.dat", saved));
  EXPECT_EQ(saved.Highscores[0].Name, "Winner");
}

TEST_F(Saves, TheTitleOffersTheFirstGamesReplayWhileItsSaveStillWaits) {
  auto game = PlayingGame(5u);
  TGameLogic& g = *game;
  ASSERT_EQ(g.GameState, gsPlaying);
  std::promise<void> release = HoldTheWorker();
  {
    TDeferredSaves deferred;  // Esc in the first level: the replay is queued, the title follows
    g.SaveLastReplay();
    g.SetState(gsTitle);
  }
  EXPECT_FALSE(FileExists(Dir + kLastReplayName));
  EXPECT_TRUE(g.HasLastReplay);
  release.set_value();
  WaitForSaves();
  EXPECT_EQ(TReplayPack(Dir + kLastReplayName).Count(), 1);
}

// The old best game is another game than the new best score's: after a failed copy it is no
// longer the best game, so nothing can publish it under that score. It is kept aside where the
// folder lets it move; a read-only folder keeps it in place, and only this run's memory of the
// failure stops its upload. The settings with the score are saved where the folder takes them.
TEST_F(Saves, AFailedCopyOfANewBestGameLeavesNoBestGame) {
  enum class Fault { FolderAtTheTemporaryFile, SourceMissing, FileSizeLimit, ReadOnlyFolder };
  const std::string older = "the best game of an older, lower score";
  for (Fault fault : {Fault::FolderAtTheTemporaryFile, Fault::SourceMissing, Fault::FileSizeLimit, Fault::ReadOnlyFolder}) {
    SCOPED_TRACE(static_cast<int>(fault));
    std::filesystem::remove_all(Dir);
    ForceDirectories(Dir);
    ForgetBestReplayFailures();
    ResetSaveFailures();
    ResetEnvironment(GameEnvironment);
    GameEnvironment.Alias = "Winner";
    auto game = PlayingGame(31u);
    TGameLogic& g = *game;
    g.Player()->Done = 1;
    g.Player()->Won = 1;
    g.Score = 99999;
    Now += 20;
    g.DoFrame();  // the level end writes last.gmp
    WaitForSaves();
    ASSERT_TRUE(FileExists(Dir + kLastReplayName));
    WriteAll(Dir + kMyBestReplayName, older);
    const std::string temporary = Dir + kMyBestReplayName + ".tmp" + std::to_string(getpid());
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    std::unique_ptr<TScopedMount> readOnly;
    switch (fault) {
      case Fault::FolderAtTheTemporaryFile: ForceDirectories(temporary + "/inside"); break;
      case Fault::SourceMissing: DeleteFile(Dir + kLastReplayName); break;
      case Fault::FileSizeLimit: {
        signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        // Smaller than last.gmp: no copy, no env.dat (2.3 KB), and no line in the larger log.
        small.rlim_cur = static_cast<rlim_t>(FileSize(Dir + kLastReplayName) - 1);
        setrlimit(RLIMIT_FSIZE, &small);
        break;
      }
      case Fault::ReadOnlyFolder: {
        std::string why;
        readOnly = TScopedMount::ReadOnly(Dir, why);
        if (!readOnly) {
          std::cout << "[  SKIPPED ] the read-only case: " << why << std::endl;
          continue;
        }
        break;
      }
    }
    {
      TDeferredSaves deferred;
      g.EndGame(false);
    }
    WaitForSaves();
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(g.HighscorePos, 0);
    EXPECT_EQ(GameEnvironment.Highscores[0].Score, g.Score);
    EXPECT_TRUE(BestReplayMissing(Dir + kMyBestReplayName));
    if (fault == Fault::ReadOnlyFolder) {
      EXPECT_EQ(ReadAll(Dir + kMyBestReplayName), older);  // it cannot go; it is not the best game
    } else {
      EXPECT_FALSE(FileExists(Dir + kMyBestReplayName));
      EXPECT_EQ(ReadAll(Dir + kOlderBestReplayName), older);
    }
    if (fault != Fault::FileSizeLimit && fault != Fault::ReadOnlyFolder) {
      EXPECT_TRUE(FileHasLine(Dir + "qv.log", "* Warning: Error copying my best replay file"));
    }
    // the player is told which file, which operation, and why
    const std::string told = TakeSaveFailureText();
    const std::string what = fault == Fault::FileSizeLimit   ? "save the file " + Dir + kMyBestReplayName + " (File too large)"
                             : fault == Fault::SourceMissing ? "read the file " + Dir + kLastReplayName + " (No such file or directory)"
                             : fault == Fault::ReadOnlyFolder
                                 ? "save the file " + Dir + kMyBestReplayName + " (Read-only file system)"
                                 : "save the file " + Dir + kMyBestReplayName + " (Is a directory)";
    EXPECT_EQ(told.rfind("Kestrune could not " + what + ".\r", 0), 0u) << told;
    if (fault != Fault::FileSizeLimit && fault != Fault::ReadOnlyFolder) {
      TGameEnvironment saved;
      ASSERT_TRUE(LoadEnvironmentFile(Dir + "env.dat", saved));
      EXPECT_EQ(saved.Highscores[0].Score, g.Score);
    }
    // On the read-only folder the new score was not saved either: after a restart the older
    // game is again the game of the best score on disk.
    if (fault == Fault::ReadOnlyFolder) {
      TGameEnvironment saved;
      ASSERT_TRUE(LoadEnvironmentFile(Dir + "env.dat", saved));  // as the level end saved it
      EXPECT_LT(saved.Highscores[0].Score, g.Score);
    }
    readOnly.reset();
    std::filesystem::remove_all(temporary);
  }
  ForgetBestReplayFailures();
}

// The level end could not add the new game to last.gmp, which still holds an older game: that
// game is not taken for the new best score's, and the older best game is not published either.
TEST_F(Saves, ABestGameWhoseReplayWasNotSavedIsNotTakenFromAnotherGame) {
  ForgetBestReplayFailures();
  AddRecord(Dir + kLastReplayName, 500);  // an older game
  const std::string olderLast = ReadAll(Dir + kLastReplayName);
  const std::string blocked = Dir + kLastReplayName + ".tmp" + std::to_string(getpid());
  ForceDirectories(blocked + "/inside");  // the next save of last.gmp fails
  WriteAll(Dir + kMyBestReplayName, "the best game of an older, lower score");
  GameEnvironment.Alias = "Winner";
  auto game = PlayingGame(7u);
  TGameLogic& g = *game;
  g.Player()->Done = 1;
  g.Player()->Won = 1;
  g.Score = 99999;
  Now += 20;
  g.DoFrame();  // the level end: last.gmp cannot take this game
  WaitForSaves();
  EXPECT_EQ(ReadAll(Dir + kLastReplayName), olderLast);
  EXPECT_TRUE(BestReplayMissing(Dir + kLastReplayName));
  g.EndGame(false);
  WaitForSaves();
  EXPECT_EQ(g.HighscorePos, 0);
  EXPECT_FALSE(FileExists(Dir + kMyBestReplayName));
  EXPECT_EQ(ReadAll(Dir + kOlderBestReplayName), "the best game of an older, lower score");
  EXPECT_TRUE(BestReplayMissing(Dir + kMyBestReplayName));
  EXPECT_TRUE(FileHasLine(Dir + "qv.log", "* Warning: The last game's replay file holds another game: its last "
                                          "level could not be added"));
  std::filesystem::remove_all(blocked);
  // The next game's first level is saved again: its best game is copied.
  AddRecord(Dir + kLastReplayName, 600);
  CopyBestReplay(Dir + kLastReplayName, Dir + kMyBestReplayName);
  WaitForSaves();
  EXPECT_FALSE(BestReplayMissing(Dir + kMyBestReplayName));
  EXPECT_EQ(ReadAll(Dir + kMyBestReplayName), ReadAll(Dir + kLastReplayName));
  ForgetBestReplayFailures();
}

// Killed the moment a start begins to keep the copy of a damaged env.dat: what is left is one
// temporary file that the start's own sweep (and -uninstall) knows and removes.
TEST_F(Saves, KilledWhileADamagedCopyIsWrittenLeavesOnlyWhatTheSweepRemoves) {
  TGameEnvironment damaged;
  ResetEnvironment(damaged);
  damaged.MusicVolume = 1000;
  std::string error;
  ASSERT_TRUE(SaveEnvironmentFile(Dir + "damaged.dat", damaged, error)) << error;
  const std::string bytes = ReadAll(Dir + "damaged.dat");
  DeleteFile(Dir + "damaged.dat");
  int killedWhileWriting = 0;
  for (int k = 0; k < 10; ++k) {
    DeleteFile(Dir + DamagedCopyName(1));
    WriteAll(Dir + "env.dat", bytes);
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, Dir.c_str(), IN_CREATE), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      LoadSettings();
      _exit(0);
    }
    // Any new file of the copy's name: the child is between its first write and its rename.
    alignas(inotify_event) char events[4096];
    for (bool seen = false; !seen;) {
      pollfd p{watch, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0) break;  // hang guard
      const ssize_t n = read(watch, events, sizeof events);
      for (ssize_t off = 0; off < n && !seen;) {
        const auto* e = reinterpret_cast<const inotify_event*>(events + off);
        seen = e->len > 0 && std::string(e->name).rfind(DamagedCopyName(1) + ".tmp", 0) == 0;
        off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
      if (seen) kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(watch);
    killedWhileWriting += WIFSIGNALED(status);
    RemoveStaleSaveFilesIn(Dir);
    for (const auto& e : std::filesystem::directory_iterator(Dir))
      EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
  }
  RecordProperty("KilledWhileWriting", killedWhileWriting);
  // However the kills fell: every temporary name a start writes is one the sweep removes once
  // its process is gone.
  DeleteFile(Dir + DamagedCopyName(1));
  WriteAll(Dir + "env.dat", bytes);
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, Dir.c_str(), IN_CREATE), 0);
  LoadSettings();
  WaitForSaves();
  std::vector<std::string> temporary;
  alignas(inotify_event) char events[8192];
  for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;)
    for (ssize_t off = 0; off < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(events + off);
      const std::string name = e->len > 0 ? e->name : "";
      if (name.find(".tmp") != std::string::npos) temporary.push_back(name);
      off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  close(watch);
  EXPECT_GE(temporary.size(), 2u);  // the copy's and the mended env.dat's
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  for (std::string name : temporary) {
    const std::string own = std::to_string(getpid());
    for (size_t p; (p = name.find(".tmp" + own)) != std::string::npos;) name.replace(p, 4 + own.size(), ".tmp" + std::to_string(gone));
    WriteAll(Dir + name, "left by a killed start");
    RemoveStaleSaveFilesIn(Dir);
    EXPECT_FALSE(FileExists(Dir + name)) << name;
  }
  DeleteFile(Dir + DamagedCopyName(1));
}

TEST_F(Saves, KilledDuringEverySaveEachFileHoldsItsOldOrNewContents) {
  constexpr int kKills = 20;
  SCOPED_TRACE("env.dat");
  {
    const std::string file = Dir + "env.dat";
    std::string versions[2];
    for (int v = 0; v < 2; ++v) {
      GameEnvironment.Alias = v == 0 ? "Alpha" : "Bravo";
      GameEnvironment.LevelsFinished = v;
      SaveSettings();
      versions[v] = ReadAll(file);
    }
    ASSERT_NE(versions[0], versions[1]);
    KillDuringSaves(
        kKills, 4000,
        [&](int i) {
          GameEnvironment.Alias = i % 2 == 0 ? "Alpha" : "Bravo";
          GameEnvironment.LevelsFinished = i % 2;
          SaveSettings();
        },
        [&] {
          const std::string now = ReadAll(file);
          EXPECT_TRUE(now == versions[0] || now == versions[1]);
        });
  }
  {
    SCOPED_TRACE("last.gmp");
    const std::string file = Dir + kLastReplayName;
    std::string versions[2];
    for (int v = 0; v < 2; ++v) {
      AddRecord(file, 2000 + v);
      versions[v] = ReadAll(file);
    }
    KillDuringSaves(
        kKills, 4000, [&](int i) { AddRecord(file, 2000 + i % 2); },
        [&] {
          const std::string now = ReadAll(file);
          EXPECT_TRUE(now == versions[0] || now == versions[1]);
        });
    SCOPED_TRACE("mybest.gmp");
    const std::string best = Dir + kMyBestReplayName, other = Dir + "other.gmp";
    WriteAll(other, versions[0]);
    WriteAll(best, versions[1]);
    KillDuringSaves(
        kKills, 4000, [&](int i) { CopyBestReplay(i % 2 == 0 ? other : file, best); },
        [&] {
          const std::string now = ReadAll(best);
          EXPECT_TRUE(now == versions[0] || now == versions[1]);
        });
  }
  {
    SCOPED_TRACE("downloads");
    // Downloaded levels and the world's best replay are written by the same writer.
    const std::string file = Dir + "11.lvl";
    const std::string versions[2] = {std::string(1 << 20, 'a'), std::string(1 << 19, 'b')};
    WriteAll(file, versions[0]);
    KillDuringSaves(
        kKills, 20000, [&](int i) { SaveFileAtomically(file, versions[i % 2]); },
        [&] {
          const std::string now = ReadAll(file);
          EXPECT_TRUE(now == versions[0] || now == versions[1]) << now.size();
        });
  }
  ExpectNoTemporaryFiles();
}

}  // namespace
