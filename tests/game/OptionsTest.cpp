#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>

#include "base/Streams.h"
#include "base/SysUtils.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "support/TestSupport.h"

namespace {

struct SettingsFixture : ::testing::Test {
  std::string Dir;
  void SetUp() override {
    Dir = TestDir();
    UserDataDir = Dir;
  }
  void TearDown() override { UserDataDir.clear(); }
  std::string FileName() const { return Dir + "env.dat"; }
  // The file's plain content.
  std::string Plain() {
    TFileStream f(FileName(), fmOpenRead);
    return DecipherStream(kEnvironmentKey, f);
  }
  void WritePlain(const std::string& plain) { WriteAll(FileName(), EncipherBytes(kEnvironmentKey, plain)); }
};

TGameEnvironment Filled() {
  TGameEnvironment e;
  ResetEnvironment(e);
  e.MusicVolume = 0x11223344;
  e.SoundFXVolume = 7;
  e.AdapterNumber = 2;
  e.DeviceType = 3;
  e.DisplayMode = 1;
  e.GraphicsDetail = 0;
  e.SmokeDensity = 3;
  e.StartScore = 12345;
  e.StartLevel = 4;
  e.StartOptions[0] = 2;
  e.StartOptions[1] = 5;
  e.LevelStats[0].Counts[0] = 0xABCD;
  e.LevelStats[29].Counts[6] = 9;
  e.GamesStarted = 17;
  e.LevelsFinished = 33;
  e.Highscores[1] = {"Jo", 5000};
  e.UserID = "ID-42";
  e.Alias = "Player";
  e.City = "Town";
  e.State = "Region";
  e.Country = 207;
  e.ErrorReportEmail = "me@example.org";
  e.Sex = 2;
  e.Email = "mail@example.org";
  e.Age = 31;
  e.Comment = "Hello";
  e.BestLevelStats[0].Counts[0] = 0x0102;
  e.BestLevelStats[29].Counts[6] = 0xFFFF;
  e.WorldBestFile = "wb123.gmp";
  e.HighScoreHost = "scores.test";
  e.HighScoreBase = "/hs/";
  e.InternalHost = "pages.test";
  e.InternalBase = "/in/";
  e.SupportURL = "http://help.test/";
  return e;
}

void ExpectSame(const TGameEnvironment& a, const TGameEnvironment& b) {
  uint8_t x[kEnvironmentSize], y[kEnvironmentSize];
  a.SaveToBytes(x);
  b.SaveToBytes(y);
  EXPECT_EQ(std::memcmp(x, y, kEnvironmentSize), 0);
}

uint32_t At32(const std::string& s, size_t off) {
  uint32_t v;
  std::memcpy(&v, s.data() + off, 4);
  return v;
}

}  // namespace

TEST_F(SettingsFixture, RoundTripKeepsEveryField) {
  GameEnvironment = Filled();
  SaveSettings();
  ResetSettings();
  LoadSettings();
  ExpectSame(GameEnvironment, Filled());
  EXPECT_EQ(GameEnvironment.Highscores[1].Name, "Jo");
  EXPECT_EQ(GameEnvironment.SupportURL, "http://help.test/");
}

TEST_F(SettingsFixture, FileMatchesTheLayoutTable) {
  GameEnvironment = Filled();
  SaveSettings();
  std::string p = Plain();
  ASSERT_GE(p.size(), 2325u);
  EXPECT_EQ(p.size(), 2328u);  // 2,325 plain bytes, padded to whole cipher blocks
  EXPECT_EQ(p.substr(2325), std::string(3, '\0'));
  EXPECT_EQ(p.substr(0, 5), "zrc2e");
  std::string r = p.substr(5, 2320);  // the record
  EXPECT_EQ(At32(r, 0), 0x11223344u);
  EXPECT_EQ(At32(r, 12), 3u);
  EXPECT_EQ(r[16], 1);
  EXPECT_EQ(r[17], 0);
  EXPECT_EQ(r.substr(18, 2), std::string(2, '\0'));  // gap
  EXPECT_EQ(At32(r, 28), 4u);
  EXPECT_EQ(At32(r, 36), 5u);
  EXPECT_EQ(At32(r, 40) & 0xFFFF, 0xABCDu);
  EXPECT_EQ(static_cast<uint8_t>(r[40 + 29 * 14 + 12]), 9);
  EXPECT_EQ(At32(r, 464), 33u);
  EXPECT_EQ(r.substr(484, 3), std::string("\x02Jo", 3));  // second highscore
  EXPECT_EQ(At32(r, 496), 5000u);
  EXPECT_EQ(At32(r, 468 + 12), static_cast<uint32_t>(-100000));
  EXPECT_EQ(r.substr(628, 6), std::string("\x05ID-42", 6));
  EXPECT_EQ(r.substr(661, 7), std::string("\x06Player", 7));
  EXPECT_EQ(r[819], 0);
  EXPECT_EQ(At32(r, 820) & 0xFFFF, 207u);
  EXPECT_EQ(r[822], 14);
  EXPECT_EQ(r[923], 2);
  EXPECT_EQ(r[924], 16);
  EXPECT_EQ(At32(r, 1008), 31u);
  EXPECT_EQ(r.substr(1012, 6), std::string("\x05Hello", 6));
  EXPECT_EQ(At32(r, 1114) & 0xFFFF, 0x0102u);
  EXPECT_EQ(static_cast<uint8_t>(r[1114 + 29 * 14 + 13]), 0xFF);
  EXPECT_EQ(r.substr(1534, 10), std::string("\x09wb123.gmp", 10));
  EXPECT_EQ(r.substr(1565, 12), std::string("\x0bscores.test", 12));
  EXPECT_EQ(r.substr(1716, 5), std::string("\x04/hs/", 5));
  EXPECT_EQ(r.substr(1867, 11), std::string("\x0apages.test", 11));
  EXPECT_EQ(r.substr(2018, 5), std::string("\x04/in/", 5));
  EXPECT_EQ(r.substr(2169, 18), std::string("\x11http://help.test/", 18));
}

TEST_F(SettingsFixture, MissingForeignShortOrDamagedFilesGiveTheDefaults) {
  TGameEnvironment defaults;
  ResetEnvironment(defaults);
  std::string good(5 + 2320, '\0');
  std::memcpy(good.data(), "zrc2e", 5);
  Filled().SaveToBytes(reinterpret_cast<uint8_t*>(good.data()) + 5);
  struct Case {
    const char* what;
    std::string plain;
  } cases[] = {
      {"short record", good.substr(0, 5 + 2000)},
      {"foreign magic", "zrc2p" + good.substr(5)},
      {"empty", ""},
      {"magic only", "zrc2e"},
  };
  for (const Case& c : cases) {
    WritePlain(c.plain);
    GameEnvironment = Filled();
    LoadSettings();
    ExpectSame(GameEnvironment, defaults);
    EXPECT_EQ(GameEnvironment.StartLevel, 1) << c.what;
  }
  WriteAll(FileName(), "not enciphered at all");
  GameEnvironment = Filled();
  LoadSettings();
  ExpectSame(GameEnvironment, defaults);
  DeleteFile(FileName());
  GameEnvironment = Filled();
  LoadSettings();
  ExpectSame(GameEnvironment, defaults);
}

TEST_F(SettingsFixture, LengthBytesAreClampedToTheirFields) {
  uint8_t b[kEnvironmentSize];
  Filled().SaveToBytes(b);
  b[628] = 255;   // UserID, string[32]
  b[468] = 200;   // first highscore name, string[10]
  b[2169] = 255;  // SupportURL, string[150]
  b[820] = 250;   // a country beyond the table
  TGameEnvironment e;
  e.LoadFromBytes(b);
  EXPECT_EQ(e.UserID.size(), 32u);
  EXPECT_EQ(e.UserID.substr(0, 5), "ID-42");
  EXPECT_EQ(e.Alias, "Player");  // the next field is untouched
  EXPECT_EQ(e.Highscores[0].Name.size(), 10u);
  EXPECT_EQ(e.SupportURL.size(), 150u);
  EXPECT_EQ(e.Country, 0);
  // Strings longer than their field are cut when written.
  e.Alias = std::string(40, 'a');
  e.SaveToBytes(b);
  EXPECT_EQ(b[661], 15);
  EXPECT_EQ(b[677], 4);  // City's length byte is still there
}

TEST_F(SettingsFixture, DefaultsAndClearing) {
  GameEnvironment = Filled();
  ResetSettings();
  for (const THighscoreEntry& h : GameEnvironment.Highscores) {
    EXPECT_EQ(h.Score, -100000);
    EXPECT_TRUE(h.Name.empty());
  }
  EXPECT_EQ(GameEnvironment.StartLevel, 1);
  EXPECT_EQ(GameEnvironment.DisplayMode, 2);
  EXPECT_EQ(GameEnvironment.MusicVolume, 60);
  EXPECT_EQ(GameEnvironment.SoundFXVolume, 100);
  EXPECT_EQ(GameEnvironment.DeviceType, 1);
  EXPECT_EQ(GameEnvironment.GraphicsDetail, 1);
  EXPECT_EQ(GameEnvironment.SmokeDensity, 2);
  EXPECT_TRUE(GameEnvironment.HighScoreHost.empty());
  EXPECT_TRUE(GameEnvironment.Alias.empty());

  GameEnvironment = Filled();
  ClearHighscores();
  EXPECT_EQ(GameEnvironment.Highscores[1].Score, -100000);
  EXPECT_EQ(GameEnvironment.LevelStats[0].Counts[0], 0);
  EXPECT_EQ(GameEnvironment.StartLevel, 1);
  EXPECT_EQ(GameEnvironment.StartScore, 0);
  EXPECT_EQ(GameEnvironment.StartOptions[1], 0);
  EXPECT_EQ(GameEnvironment.Alias, "Player");
  EXPECT_EQ(GameEnvironment.MusicVolume, 0x11223344);
  EXPECT_EQ(GameEnvironment.BestLevelStats[0].Counts[0], 0x0102);

  // Statistics exist for levels 1..30 only.
  EXPECT_EQ(GameEnvironment.LevelStatsOf(1), &GameEnvironment.LevelStats[0]);
  EXPECT_EQ(GameEnvironment.LevelStatsOf(30), &GameEnvironment.LevelStats[29]);
  EXPECT_EQ(GameEnvironment.LevelStatsOf(31), nullptr);
  EXPECT_EQ(GameEnvironment.LevelStatsOf(0), nullptr);
  EXPECT_EQ(GameEnvironment.BestLevelStatsOf(45), nullptr);
}

TEST_F(SettingsFixture, AFailedSaveLeavesTheOldFileIntact) {
  GameEnvironment = Filled();
  SaveSettings();
  std::string before = ReadAll(FileName());
  ASSERT_FALSE(before.empty());
  // A disk that fills up after 100 bytes.
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 100;
  setrlimit(RLIMIT_FSIZE, &small);
  GameEnvironment.Alias = "Changed";
  std::string error;
  bool saved = SaveEnvironmentFile(FileName(), GameEnvironment, error);
  SaveSettings();  // logs a warning, raises nothing
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(saved);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadAll(FileName()), before);
  ResetSettings();
  LoadSettings();
  EXPECT_EQ(GameEnvironment.Alias, "Player");
}
