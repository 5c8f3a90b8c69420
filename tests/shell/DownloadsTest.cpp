#include "shell/Downloads.h"

#include <fcntl.h>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "OnlineTestSupport.h"
#include "UiDriver.h"
#include "base/Streams.h"
#include "engine/Inet.h"
#include "game/GameLogic.h"
#include "game/ReplayPack.h"
#include "shell/MenuServices.h"
#include "shell/RequestRunner.h"

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
  EXPECT_FALSE(FileExists(Dir + "13.scn"));  // half a pair is not stored
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

// A level that cannot be used or stored leaves neither half of its pair, and a .scn left alone
// by an earlier run goes too.
TEST_F(LevelDownload, DamagedHugeOrUnstorableLevelsLeaveNoHalfPair) {
  std::string level = LevelBytes();
  enum class Lvl { Served, Missing, NoRoom };
  struct Case {
    const char* what;
    std::string bytes;
    Lvl lvl;
    bool loneSceneBefore;
  } cases[] = {
      {"not a level", "not a level", Lvl::Served, false},
      {"half a level", level.substr(0, level.size() / 2), Lvl::Served, false},
      {"9 MB", std::string(9 * 1024 * 1024, 'x'), Lvl::Served, false},
      {"no .lvl on the server", "", Lvl::Missing, true},
      {"a folder in the .lvl's place", level, Lvl::NoRoom, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Serve("int/levels/11.scn", "scene");
    std::remove((Root + "int/levels/11.lvl").c_str());
    if (c.lvl != Lvl::Missing) Serve("int/levels/11.lvl", c.bytes);
    if (c.lvl == Lvl::NoRoom) ForceDirectories(Dir + "11.lvl");
    if (c.loneSceneBefore) WriteAll(Dir + "11.scn", "an earlier run's half");
    std::atomic<bool> running{true};
    int last = 0;
    EXPECT_EQ(Run(running, last), 0);
    EXPECT_EQ(last, 10);
    EXPECT_FALSE(FileExists(Dir + "11.lvl"));
    EXPECT_FALSE(FileExists(Dir + "11.scn"));
    ::rmdir((Dir + "11.lvl").c_str());
  }
  // with no further level at all, a lone .scn where level 11 would go is removed as well
  std::remove((Root + "int/levels/11.scn").c_str());
  WriteAll(Dir + "11.scn", "an earlier run's half");
  std::atomic<bool> running{true};
  int last = 0;
  EXPECT_EQ(Run(running, last), 0);
  EXPECT_FALSE(FileExists(Dir + "11.scn"));
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

// Restores the transfer time-outs a test shortened.
struct TTimeoutsBack {
  ~TTimeoutsBack() { SetRequestTimeouts(15000, 60000); }
};

// Cancel, Esc or the close box while a pair is on its way, in the real dialog with the menu's
// request runner: until the pair in progress has ended the button is disabled and the dialog
// says it is stopping; no later pair is asked for; at the end the result line stands alone. A
// level that arrives is kept with its .scn; one whose transfer times out leaves neither file.
TEST_F(LevelDownload, StoppingTheDialogSaysSoFinishesThePairAndShowsTheResult) {
  if (!QApplication::instance()) {
    static int argc = 1;
    static char name[] = "test_shell";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives to the end of the process
  }
  TTimeoutsBack timeoutsBack;
  const std::string level = LevelBytes();
  const QString stopping = QString::fromUtf8("Stopping after the level in progress\u2026");
  enum class Stop { CancelButton, EscKey, CloseBox };
  struct Case {
    const char* what;
    Stop stop;
    bool stalls;  // 11.lvl never comes: its transfer time-out ends it
    std::vector<std::string> shownAtEnd;
    int levels;
  } cases[] = {
      {"Cancel", Stop::CancelButton, false, {"You have now 11 levels available"}, 11},
      {"Esc", Stop::EscKey, false, {"You have now 11 levels available"}, 11},
      {"close box", Stop::CloseBox, false, {"You have now 11 levels available"}, 11},
      {"Cancel on a slow line", Stop::CancelButton, true, {"No new levels available"}, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* f : {"11.scn", "11.lvl", "12.scn", "12.lvl"}) std::remove((Dir + f).c_str());
    std::remove((Root + "requests.log").c_str());
    for (int n : {11, 12}) {
      Serve("int/levels/" + std::to_string(n) + ".scn", "scene " + std::to_string(n));
      Serve("int/levels/" + std::to_string(n) + ".lvl", level);
    }
    std::remove((Root + "int/levels/11.lvl.slow").c_str());
    std::remove((Root + "int/levels/11.lvl.behave").c_str());
    if (c.stalls) {
      Serve("int/levels/11.lvl.behave", "stall");
      SetRequestTimeouts(15000, 2000);
    } else {
      Serve("int/levels/11.lvl.slow", "4");  // level 11 takes four seconds to arrive
      SetRequestTimeouts(15000, 60000);
    }
    TUiDriver driver;
    bool stopped = false, wasRunning = false, toldAtStop = false, finished = false;
    int untoldWhileBusy = 0;  // polls while the pair finishes that saw no stopping line
    std::vector<std::string> shown;
    bool okEnabled = false;
    QElapsedTimer sinceStop;
    auto tellsStopping = [&](TfrmDownloadLevels* form) {
      return !form->btnOk->isEnabled() && form->lblText->isVisible() && form->lblText->text() == stopping;
    };
    driver.OnWindow = [&](QWidget* w) {
      auto* form = qobject_cast<TfrmDownloadLevels*>(w);
      if (!form || !form->isVisible()) return;
      if (!stopped) {
        const std::vector<std::string> seen = Requests();
        if (std::find(seen.begin(), seen.end(), "GET /int/levels/11.lvl") == seen.end()) return;
        stopped = true;  // level 11 is on its way
        wasRunning = form->Running;
        sinceStop.start();
        QTimer::singleShot(0, form, [&, form, stop = c.stop] {
          if (stop == Stop::CancelButton) {
            form->btnOk->click();
          } else if (stop == Stop::EscKey) {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(form, &esc);
          } else {
            form->close();
          }
          toldAtStop = tellsStopping(form) && TRequestRunner::Busy();
        });
      } else if (!finished && TRequestRunner::Busy()) {
        if (!tellsStopping(form)) ++untoldWhileBusy;
      } else if (!finished && (form->btnOk->text() == "OK" || sinceStop.elapsed() > 60000)) {
        finished = form->btnOk->text() == "OK";  // the loop is over: the player reads the result
        for (QLabel* line : {form->stxtTopMsg, form->lblText})
          if (line->isVisible()) shown.push_back(line->text().toStdString());
        okEnabled = form->btnOk->isEnabled();
        QTimer::singleShot(0, form->btnOk, &QPushButton::click);
      }
    };
    THeartbeat beat;
    ShowDownloadLevelsDialog(nullptr, MenuOnlineUI(nullptr));
    beat.Stop();
    EXPECT_TRUE(stopped && wasRunning && finished);
    EXPECT_TRUE(toldAtStop);
    EXPECT_EQ(untoldWhileBusy, 0);
    EXPECT_EQ(shown, c.shownAtEnd);
    EXPECT_TRUE(okEnabled);
    if (c.levels == 11) {
      EXPECT_EQ(ReadAll(Dir + "11.lvl"), level);
      EXPECT_EQ(ReadAll(Dir + "11.scn"), "scene 11");
    } else {
      EXPECT_FALSE(FileExists(Dir + "11.lvl"));
      EXPECT_FALSE(FileExists(Dir + "11.scn"));
    }
    EXPECT_FALSE(FileExists(Dir + "12.scn"));
    for (const std::string& r : Requests()) EXPECT_EQ(r.find("/12."), std::string::npos) << r;
    EXPECT_EQ(CountUserLevels(), c.levels);
    // the event loop ran while the level came: a GUI thread held by the transfer would tick at
    // most once, after it
    EXPECT_GE(beat.Ticks, 2);
    EXPECT_FALSE(TRequestRunner::Busy());
  }
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
      r.GameTime = 400;
      r.Input.AddInput(kInputRight | 20);
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
      {"new.gmp", Pack(12), levelsMsg, 2, ""},  // only 10 levels here: not kept, asked for again
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

// ---- packs that cannot be played -------------------------------------------------------------

std::string U32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}

// One level record's plain bytes: header, then the runs.
std::string Record(int32_t level, const std::vector<uint32_t>& runs, int32_t gameTime = 400) {
  std::string r = "zrc2r" + U32(static_cast<uint32_t>(gameTime)) + U32(12345) + U32(static_cast<uint32_t>(level)) +
                  U32(0) + U32(0) + U32(0) + U32(static_cast<uint32_t>(runs.size()));
  for (uint32_t w : runs) r += U32(w);
  return r;
}

// A pack's plain bytes: the records as entries 1, 2, ... under the given count.
std::string PlainPack(const std::vector<std::string>& records, uint32_t count) {
  std::string p = "zrc2p" + U32(count);
  for (size_t i = 0; i < records.size(); ++i) p += U32(static_cast<uint32_t>(i + 1)) + U32(static_cast<uint32_t>(records[i].size())) + records[i];
  return p;
}
std::string PlainPack(const std::vector<std::string>& records) {
  return PlainPack(records, static_cast<uint32_t>(records.size()));
}
std::string Enciphered(const std::string& plain) { return EncipherBytes(kReplayPackKey, plain); }

struct TBadPack {
  const char* name;
  std::string bytes;  // the file as served or stored
};

std::vector<TBadPack> BadPacks() {
  const uint32_t run = kInputRight | 20;
  const std::string good = Record(1, {run});
  std::string million = "zrc2p" + U32(1000000);
  for (uint32_t i = 1; i <= 1000000; ++i) million += U32(i) + U32(0);
  const std::string valid = PlainPack({good, Record(2, {run}), Record(3, {run})});
  std::string longer = PlainPack({good});
  longer.replace(13, 4, U32(static_cast<uint32_t>(good.size() + 100)));
  return {
      {"no bytes", ""},
      {"empty records", Enciphered(PlainPack({"", "", ""}))},
      {"1,000,000 empty records", Enciphered(million)},
      {"unknown level", Enciphered(PlainPack({good, Record(99, {run})}))},
      {"levels out of order", Enciphered("zrc2p" + U32(2) + U32(1) + U32(good.size()) + good + U32(3) + U32(good.size()) + good)},
      {"no input", Enciphered(PlainPack({good, Record(2, {})}))},
      {"input of no steps", Enciphered(PlainPack({Record(1, {kInputRight, kInputFire})}))},
      {"no game time", Enciphered(PlainPack({Record(1, {run}, 0)}))},
      {"more records than the bytes", Enciphered(PlainPack({good, Record(2, {run})}, 5))},
      {"a record larger than the bytes", Enciphered(longer)},
      {"more runs than the record holds", Enciphered(PlainPack({Record(1, {run}).replace(29, 4, U32(9))}))},
      {"bytes after the last record", Enciphered(valid + "trailing")},
      {"bytes after a record's input", Enciphered(PlainPack({good + "xy"}))},
      {"not enciphered", valid},
      {"truncated", Enciphered(valid).substr(0, valid.size() / 2)},
  };
}

const std::string kInvalidMsg = "The world's best game file is invalid. Try to execute this operation again or "
                                "check if there's a new version available.";

TEST_F(WorldBest, AReplyTheGameCannotPlayLeavesTheStoredPack) {
  const std::string stored = Pack(3);
  for (const TBadPack& bad : BadPacks()) {
    SCOPED_TRACE(bad.name);
    WriteAll(Stored(), stored);
    GameEnvironment.WorldBestFile = "old.gmp";
    Messages.clear();
    Serve("hs/firstplace.php", "new.gmp");
    Serve("hs/upload/new.gmp", bad.bytes);
    TWorldBestResult r = FetchWorldBest(Ui);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.DownloadState, dsFailed);
    EXPECT_EQ(Messages, std::vector<std::string>{kInvalidMsg});
    EXPECT_TRUE(ReadAll(Stored()) == stored);
    EXPECT_EQ(r.Levels, (std::vector<std::string>{"Level 2", "Level 3"}));  // the stored pack's
    EXPECT_EQ(GameEnvironment.WorldBestFile, "");  // the next query asks anew
    EXPECT_NE(GetLogText().find("* Warning: The world's best game file new.gmp is not kept: "), std::string::npos);
  }
}

// A bad pack put in worldbest.gmp by other means: the dialog tells it is invalid (and asks the
// server anew next time), and playing it ends at once with the replay error.
TEST_F(WorldBest, AStoredPackTheGameCannotPlayIsAClearError) {
  for (const TBadPack& bad : BadPacks()) {
    SCOPED_TRACE(bad.name);
    WriteAll(Stored(), bad.bytes);
    GameEnvironment.WorldBestFile = "old.gmp";
    Messages.clear();
    Serve("hs/firstplace.php", "OK");
    TWorldBestResult r = FetchWorldBest(Ui);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(Messages, std::vector<std::string>{kInvalidMsg});
    EXPECT_TRUE(r.Levels.empty());
    EXPECT_EQ(GameEnvironment.WorldBestFile, "");
    EXPECT_TRUE(ReadAll(Stored()) == bad.bytes);

    std::vector<std::string> over;
    TGameLogicSetup setup;
    setup.OnGameOver = [&over](const std::string& text) { over.push_back(text); };
    TGameLogic game(setup);
    game.LoadReplay(rmWorldBest);
    EXPECT_EQ(over, std::vector<std::string>{"Error loading replay file"});
    EXPECT_NE(GetLogText().find("* Error: Error loading replay file in mode: 3: "), std::string::npos);
  }
  // A sound pack still plays.
  WriteAll(Stored(), Pack(3));
  std::vector<std::string> over;
  TGameLogicSetup setup;
  setup.OnGameOver = [&over](const std::string& text) { over.push_back(text); };
  TGameLogic game(setup);
  game.LoadReplay(rmWorldBest);
  EXPECT_TRUE(over.empty());
  EXPECT_EQ(game.LevelNumber, 1);
}

// Links at the files the downloads write: replaced by the download, never followed.
TEST_F(WorldBest, DownloadsReplaceLinksAndLeaveTheirTargets) {
  const std::string outside = Dir + "outside/";
  ForceDirectories(outside);
  WriteAll(outside + "target", "the other file");
  timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (outside + "target").c_str(), old, 0), 0);
  const std::string level = LevelBytes();
  Serve("int/levels/11.scn", "scene 11");
  Serve("int/levels/11.lvl", level);
  Serve("int/levels/12.scn", "scene 12");
  Serve("int/levels/12.lvl", level);
  const std::string pack = Pack(3);
  Serve("hs/firstplace.php", "new.gmp");
  Serve("hs/upload/new.gmp", pack);
  for (const char* target : {"target", "nothing"}) {
    SCOPED_TRACE(target);
    for (const char* name : {"11.scn", "11.lvl", "12.lvl", "worldbest.gmp"}) {
      std::remove((Dir + name).c_str());
      ASSERT_EQ(symlink((outside + target).c_str(), (Dir + name).c_str()), 0);
    }
    EXPECT_EQ(CountUserLevels(), 10);  // a linked level is no level of ours
    std::atomic<bool> running{true};
    int last = 0;
    EXPECT_EQ(DownloadLevels(running, last, Ui), 2);
    GameEnvironment.WorldBestFile.clear();
    Messages.clear();
    EXPECT_TRUE(FetchWorldBest(Ui).Ok);
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(ReadAll(Dir + "11.scn"), "scene 11");
    EXPECT_TRUE(ReadAll(Dir + "12.lvl") == level);
    EXPECT_TRUE(ReadAll(Stored()) == pack);
    for (const char* name : {"11.scn", "11.lvl", "12.lvl", "worldbest.gmp"}) EXPECT_FALSE(IsSymbolicLink(Dir + name)) << name;
    EXPECT_EQ(ReadAll(outside + "target"), "the other file");
    struct stat st {};
    ASSERT_EQ(stat((outside + "target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_FALSE(FileExists(outside + "nothing"));
  }
}

}  // namespace
