#include "shell/Downloads.h"

#include "OnlineTestSupport.h"
#include "base/Streams.h"
#include "game/ReplayPack.h"

namespace {

std::string LevelBytes() {
  auto s = OpenGfxResource("LVL", "1");
  std::string bytes(static_cast<size_t>(s->GetSize()), '\0');
  s->ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

class LevelDownload : public OnlineTest {
protected:
  int Run(std::atomic<bool>& running, int& last) { return DownloadLevels(running, last, Ui); }
};

TEST_F(LevelDownload, FetchesPairsUntilTheServerHasNoMore) {
  std::atomic<bool> running{true};
  int last = 0;
  EXPECT_EQ(Run(running, last), 0);
  EXPECT_EQ(DownloadLevelsResultText(0, last), "No new levels available");
  EXPECT_FALSE(running);

  std::string level = LevelBytes();
  for (const char* n : {"11", "12"}) {
    Serve(std::string("int/levels/") + n + ".scn", std::string("scene ") + n);
    Serve(std::string("int/levels/") + n + ".lvl", level);
  }
  Serve("int/levels/13.scn", "scene without its level");
  running = true;
  EXPECT_EQ(Run(running, last), 2);
  EXPECT_EQ(last, 12);
  EXPECT_EQ(DownloadLevelsResultText(2, last), "You have now 12 levels available");
  EXPECT_EQ(ReadAll(Dir + "12.lvl"), level);
  EXPECT_EQ(ReadAll(Dir + "11.scn"), "scene 11");
  EXPECT_FALSE(FileExists(Dir + "13.lvl"));
  EXPECT_EQ(CountUserLevels(), 12);
}

TEST_F(LevelDownload, ARunStopsAfterAHundredLevelsOrWhenTheDiskIsNearlyFull) {
  // a server that has a valid level for every number
  const std::string level = LevelBytes();
  for (int n = 11; n <= 115; ++n) {
    Serve("int/levels/" + std::to_string(n) + ".scn", "scene");
    Serve("int/levels/" + std::to_string(n) + ".lvl", level);
  }
  std::atomic<bool> running{true};
  int last = 0;
  std::string note;
  EXPECT_EQ(DownloadLevels(running, last, Ui, &note), kMaxLevelsPerRun);
  EXPECT_EQ(last, 10 + kMaxLevelsPerRun);
  EXPECT_EQ(note, "The download stopped after 100 levels; run it again for more.");

  FreeDiskBytesHook = [](const std::string&) { return int64_t(10) * 1024 * 1024; };
  running = true;
  EXPECT_EQ(DownloadLevels(running, last, Ui, &note), 0);
  FreeDiskBytesHook = nullptr;
  EXPECT_EQ(note, "The download stopped because the disk is nearly full.");
  EXPECT_FALSE(FileExists(Dir + "111.lvl"));
}

TEST_F(LevelDownload, DamagedOrHugeLevelsAreNotKept) {
  std::string level = LevelBytes();
  struct Case {
    std::string bytes;
  } cases[] = {{"not a level"}, {level.substr(0, level.size() / 2)}, {std::string(9 * 1024 * 1024, 'x')}};
  for (const Case& c : cases) {
    Serve("int/levels/11.scn", "scene");
    Serve("int/levels/11.lvl", c.bytes);
    std::atomic<bool> running{true};
    int last = 0;
    EXPECT_EQ(Run(running, last), 0);
    EXPECT_EQ(last, 10);
    EXPECT_FALSE(FileExists(Dir + "11.lvl"));
  }
}

TEST_F(LevelDownload, CancelKeepsTheCompletePairs) {
  std::string level = LevelBytes();
  for (int n = 11; n <= 14; ++n) {
    Serve("int/levels/" + std::to_string(n) + ".scn", "s");
    Serve("int/levels/" + std::to_string(n) + ".lvl", level);
  }
  std::atomic<bool> running{true};
  int rounds = 0;
  Ui.ProcessMessages = [&] {
    if (++rounds == 3) running = false;  // the player presses Cancel during the second pair
  };
  int last = 0;
  EXPECT_EQ(Run(running, last), 2);
  EXPECT_EQ(last, 12);
  EXPECT_FALSE(FileExists(Dir + "13.scn"));
}

class WorldBest : public OnlineTest {
protected:
  std::string Pack(int levels) {
    std::string file = Dir + "made.gmp";
    std::remove(file.c_str());
    TReplayPack pack(file);
    for (int level = 1; level <= levels; ++level) {
      TReplayLevelRecord r;
      r.LevelNumber = level;
      pack.AddReplay(level, [&](TStream& s) { r.WriteToStream(s); });
    }
    pack.SaveToFile();
    std::string bytes = ReadAll(file);
    std::remove(file.c_str());
    return bytes;
  }
  std::string Stored() { return Dir + "worldbest.gmp"; }
};

TEST_F(WorldBest, NewFileIsFetchedCheckedAndListed) {
  Serve("hs/firstplace.php", "best2.gmp\r\n");
  std::string pack = Pack(3);
  Serve("hs/upload/best2.gmp", pack);
  TWorldBestResult r = FetchWorldBest(Ui);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.CheckState, dsDone);
  EXPECT_EQ(r.DownloadState, dsDone);
  EXPECT_EQ(r.Levels, (std::vector<std::string>{"Level 2", "Level 3"}));
  EXPECT_EQ(ReadAll(Stored()), pack);
  EXPECT_EQ(GameEnvironment.WorldBestFile, "best2.gmp");
  EXPECT_EQ(Requests(), (std::vector<std::string>{"GET /hs/firstplace.php?f=REQ", "GET /hs/upload/best2.gmp"}));
  TGameEnvironment saved;
  ASSERT_TRUE(LoadEnvironmentFile(Dir + "env.dat", saved));
  EXPECT_EQ(saved.WorldBestFile, "best2.gmp");

  // the server says the stored one is current, in any case
  Serve("hs/firstplace.php", "ok");
  r = FetchWorldBest(Ui);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Levels.size(), 2u);
  EXPECT_EQ(Requests().back(), "GET /hs/firstplace.php?f=best2.gmp");
  EXPECT_TRUE(Messages.empty());
}

TEST_F(WorldBest, RepliesThatOfferNoReplay) {
  const std::string errMsg =
      "The World's best replay file is not currently available on the server. Please try again later";
  const std::string invalidMsg = "The world's best game file is invalid. Try to execute this operation again or "
                                 "check if there's a new version available.";
  const std::string levelsMsg = "You need to download the last available levels from the internet before being "
                                "able to replay the world's best game.";
  struct Case {
    const char* reply;
    std::string served;  // the file under upload/, when the reply names one
    std::string message;
    size_t listed;  // entries after "Level 1" (the stored pack has 3 levels)
    const char* fileAfter;
  } cases[] = {
      {"ERR", "", errMsg, 2, "old.gmp"},
      {"new.gmp", "garbage", invalidMsg, 2, ""},  // the stored pack stays
      {"new.gmp", Pack(12), levelsMsg, 0, "new.gmp"},  // stored, but only 10 levels here
      {"../../env.dat", "", "Error fetching file from server", 0, "old.gmp"},  // not a file name
      {"gone.gmp", "", "Error fetching file from server", 0, ""},  // 404
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    WriteAll(Stored(), Pack(3));
    GameEnvironment.WorldBestFile = "old.gmp";
    Messages.clear();
    Serve("hs/firstplace.php", c.reply);
    std::remove((Root + "hs/upload/new.gmp").c_str());
    if (!c.served.empty()) Serve("hs/upload/new.gmp", c.served);
    TWorldBestResult r = FetchWorldBest(Ui);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.DownloadState, dsFailed);
    EXPECT_EQ(Messages, std::vector<std::string>{c.message});
    EXPECT_EQ(r.Levels.size(), c.listed);
    EXPECT_EQ(GameEnvironment.WorldBestFile, c.fileAfter);
  }
}

TEST_F(WorldBest, CheckFailureIsLoggedAndToldOnce) {
  ServeStatus("hs/firstplace.php", 500);
  TWorldBestResult r = FetchWorldBest(Ui);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.CheckState, dsFailed);
  EXPECT_EQ(r.DownloadState, dsFailed);
  EXPECT_EQ(Messages, std::vector<std::string>{"Error fetching file from server"});
  EXPECT_NE(GetLogText().find("Error fetching world's best game replay file: "), std::string::npos);

  Messages.clear();
  ConnectionTestHook = [] { return false; };
  r = FetchWorldBest(Ui);
  EXPECT_EQ(r.CheckState, dsFailed);
  EXPECT_EQ(Messages, (std::vector<std::string>{"Unable to connect to the internet", "Error fetching file from server"}));
}

}  // namespace
