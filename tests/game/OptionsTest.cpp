#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/OptionsDialog.h"
#include "game/SaveQueue.h"
#include "game/ServerReplies.h"
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
  e.MusicVolume = 37;
  e.SoundFXVolume = 7;
  e.AdapterNumber = 2;
  e.DeviceType = 1;
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
  e.Highscores[0] = {"Ann", 9000};
  e.Highscores[1] = {"Jo", 5000};
  e.UserID = "ID-42";
  e.Alias = "Player";
  e.City = "Town";
  e.State = "Region";
  e.Country = 207;
  e.ErrorReportEmail = "me@example.org";
  e.Sex = 2;
  e.Email = "mail@example.org";
  e.Age = 0x11223344;
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
  EXPECT_EQ(At32(r, 0), 37u);
  EXPECT_EQ(At32(r, 12), 1u);
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
  EXPECT_EQ(At32(r, 468 + 12), 9000u);
  EXPECT_EQ(At32(r, 468 + 2 * 16 + 12), static_cast<uint32_t>(-100000));
  EXPECT_EQ(r.substr(628, 6), std::string("\x05ID-42", 6));
  EXPECT_EQ(r.substr(661, 7), std::string("\x06Player", 7));
  EXPECT_EQ(r[819], 0);
  EXPECT_EQ(At32(r, 820) & 0xFFFF, 207u);
  EXPECT_EQ(r[822], 14);
  EXPECT_EQ(r[923], 2);
  EXPECT_EQ(r[924], 16);
  EXPECT_EQ(At32(r, 1008), 0x11223344u);  // little-endian
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
  EXPECT_EQ(GameEnvironment.MusicVolume, 37);
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

// ---- env.dat with values out of range, through the program's start ------------------------
namespace {

std::string I32(int32_t v) {
  std::string b(4, '\0');
  std::memcpy(b.data(), &v, 4);
  return b;
}
std::string U16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string Str(const std::string& s) { return static_cast<char>(s.size()) + s; }

// The module's folders under the test's scratch folder, as the program starts; Start then runs
// the options dialog's creation, which loads env.dat.
struct DamagedEnvironment : ::testing::Test {
  std::string Dir, User;
  TGameEnvironment Good;

  void SetUp() override {
    Dir = TestDir();
    setenv("XDG_DATA_HOME", (Dir + "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (Dir + "cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", Dir.c_str(), 1);
    InitGlobals("");
    User = UserDataDir;
    Good = Filled();
    Good.Highscores[2] = {"BOB", 5000};
    Good.Highscores[3] = {"Z", 120};
  }
  void TearDown() override {
    WaitForSaves();
    SetLogFile("");
    DoneGlobals();
    ResetEnvironment(GameEnvironment);
    for (const char* v : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) unsetenv(v);
  }
  std::string Record(const TGameEnvironment& e) const {
    std::string r(kEnvironmentSize, '\0');
    e.SaveToBytes(reinterpret_cast<uint8_t*>(r.data()));
    return r;
  }
  std::string File(const std::string& record) const { return EncipherBytes(kEnvironmentKey, "zrc2e" + record); }
  // Starts with `file` as env.dat; GameEnvironment holds what was loaded.
  void Start(const std::string& file) {
    DeleteFile(User + "env.dat.damaged");
    WriteAll(User + "qv.log", "");
    SetLogFile(User + "qv.log");
    WriteAll(User + "env.dat", file);
    ResetEnvironment(GameEnvironment);
    TGameOptionsDialog dialog(nullptr);
    dialog.FormCreate();
  }
  int Warnings() const {
    int n = 0;
    for (const std::string& line : FileLines(User + "qv.log")) n += line.rfind("* Warning: ", 0) == 0;
    return n;
  }
  // What the next save writes, read back: nothing in it is out of range any more.
  void ExpectSavedBackClean(const TGameEnvironment& expected) {
    SaveSettings();
    WaitForSaves();
    TGameEnvironment saved;
    std::vector<std::string> defaulted;
    ASSERT_TRUE(LoadEnvironmentFile(User + "env.dat", saved, &defaulted));
    EXPECT_TRUE(defaulted.empty()) << defaulted.front();
    ExpectSame(saved, expected);
  }
};

bool IsHostsListValue(const char* name, const std::string& value) {
  if (value.empty()) return true;  // nothing fetched yet
  const THostsList h = ParseHostsList(std::string(name) + "=" + value);
  for (const std::string* v : {&h.HighScoreHost, &h.HighScoreBase, &h.InternalHost, &h.InternalBase, &h.SupportURL})
    if (*v == value) return true;
  return false;
}

bool IsText(const std::string& s, size_t capacity, bool lineBreaks = false) {
  if (s.size() > capacity) return false;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (lineBreaks && (c == '\r' || c == '\n')) continue;
    if (c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) return false;
  }
  return true;
}

// Every field within what the program itself can store there.
void ExpectInRange(const TGameEnvironment& e) {
  EXPECT_TRUE(e.MusicVolume >= 0 && e.MusicVolume <= 100) << e.MusicVolume;
  EXPECT_TRUE(e.SoundFXVolume >= 0 && e.SoundFXVolume <= 100) << e.SoundFXVolume;
  EXPECT_TRUE(e.AdapterNumber >= 0 && e.AdapterNumber < 16) << e.AdapterNumber;
  EXPECT_EQ(e.DeviceType, 1);
  EXPECT_LE(e.DisplayMode, 3);
  EXPECT_LE(e.GraphicsDetail, 1);
  EXPECT_TRUE(e.SmokeDensity >= 0 && e.SmokeDensity <= 3) << e.SmokeDensity;
  EXPECT_GE(e.StartScore, 0);
  EXPECT_GE(e.StartLevel, 1);  // beyond the levels there are, too: the game lowers it
  EXPECT_GE(e.StartOptions[0], 0);
  EXPECT_GE(e.StartOptions[1], 0);
  EXPECT_GE(e.GamesStarted, 0);
  EXPECT_GE(e.LevelsFinished, 0);
  for (int i = 0; i < kHighscoreCount; ++i) {
    const THighscoreEntry& h = e.Highscores[i];
    EXPECT_TRUE(h.Score >= 0 || (h.Score == kEmptyHighscore && h.Name.empty())) << i << " " << h.Score;
    EXPECT_TRUE(IsText(h.Name, 10)) << i;
    if (i > 0) {
      EXPECT_LE(h.Score, e.Highscores[i - 1].Score) << "best first, at " << i;
    }
  }
  EXPECT_LE(e.UserID.size(), 32u);
  for (char ch : e.UserID) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(ch)) || std::strchr("-_.", ch));
  EXPECT_TRUE(IsText(e.Alias, 15));
  EXPECT_TRUE(IsText(e.City, 100));
  EXPECT_TRUE(IsText(e.State, 40));
  EXPECT_LT(e.Country, 244);
  EXPECT_TRUE(IsText(e.ErrorReportEmail, 100));
  EXPECT_LE(e.Sex, 2);
  EXPECT_TRUE(IsText(e.Email, 80));
  EXPECT_TRUE(IsText(e.Comment, 100, true));
  EXPECT_TRUE(IsText(e.WorldBestFile, 30) && e.WorldBestFile.find_first_of("/\\?#&% ") == std::string::npos &&
              e.WorldBestFile.find("..") == std::string::npos)
      << e.WorldBestFile;
  EXPECT_TRUE(IsHostsListValue("HighScoreHost", e.HighScoreHost)) << e.HighScoreHost;
  EXPECT_TRUE(IsHostsListValue("HighScoreBase", e.HighScoreBase)) << e.HighScoreBase;
  EXPECT_TRUE(IsHostsListValue("InternalHost", e.InternalHost)) << e.InternalHost;
  EXPECT_TRUE(IsHostsListValue("InternalBase", e.InternalBase)) << e.InternalBase;
  EXPECT_TRUE(IsHostsListValue("SupportURL", e.SupportURL)) << e.SupportURL;
}

}  // namespace

namespace {
// Bytes put into the record of Good, and what the loaded record is then, made from Good.
struct RecordPatch {
  const char* what;
  int offset;  // in the record
  std::string bytes;
  std::function<void(TGameEnvironment&)> expect;
};
}  // namespace

TEST_F(DamagedEnvironment, EachFieldOutOfRangeTakesItsDefaultAndTheRestIsKept) {
  using E = TGameEnvironment;
  const RecordPatch cases[] = {  // expect: Good with the field's default
      {"music volume 101", 0, I32(101), [](E& e) { e.MusicVolume = 60; }},
      {"music volume -1", 0, I32(-1), [](E& e) { e.MusicVolume = 60; }},
      {"sound volume, high bit", 4, I32(0x40000007), [](E& e) { e.SoundFXVolume = 100; }},
      {"adapter -1", 8, I32(-1), [](E& e) { e.AdapterNumber = 0; }},
      {"adapter 16", 8, I32(16), [](E& e) { e.AdapterNumber = 0; }},
      {"device type 2 (never listed)", 12, I32(2), [](E& e) { e.DeviceType = 1; }},
      {"display mode 4", 16, "\x04", [](E& e) { e.DisplayMode = 2; }},
      {"display mode 0x81", 16, "\x81", [](E& e) { e.DisplayMode = 2; }},
      {"graphics detail 2", 17, "\x02", [](E& e) { e.GraphicsDetail = 1; }},
      {"smoke density 4", 20, I32(4), [](E& e) { e.SmokeDensity = 2; }},
      {"smoke density -1", 20, I32(-1), [](E& e) { e.SmokeDensity = 2; }},
      {"start score -1", 24, I32(-1), [](E& e) { e.StartScore = 0; }},
      {"start level 0", 28, I32(0), [](E& e) { e.StartLevel = 1; }},
      {"start option count -3", 36, I32(-3), [](E& e) { e.StartOptions[1] = 0; }},
      {"games started", 460, I32(INT32_MIN), [](E& e) { e.GamesStarted = 0; }},
      {"levels finished", 464, I32(-2), [](E& e) { e.LevelsFinished = 0; }},
      // a length beyond the field: the text in the field stays
      {"highscore name length 11", 484, "\x0b", [](E&) {}},
      {"highscore score -5", 500 + 12, I32(-5),
       [](E& e) {  // the entry goes, the table closes up
         e.Highscores[2] = e.Highscores[3];
         e.Highscores[3] = {};
       }},
      {"highscore out of order", 516 + 12, I32(0x40000078),
       [](E& e) {  // sorted into its place, nothing lost
         const THighscoreEntry z{"Z", 0x40000078};
         for (int i = 3; i > 0; --i) e.Highscores[i] = e.Highscores[i - 1];
         e.Highscores[0] = z;
       }},
      {"empty highscore with a name", 468 + 16 * 6, "\x02XY", [](E&) {}},
      {"user ID with a slash", 628, Str("ID/42"), [](E& e) { e.UserID.clear(); }},
      {"user ID length 33", 628, "\x21", [](E& e) { e.UserID.clear(); }},
      {"state length 41", 778, "\x29", [](E&) {}},
      {"state length 255, bytes beyond the text", 778, "\xff" + std::string(40, 'S'),
       [](E& e) { e.State = std::string(40, 'S'); }},
      {"country 244", 820, U16(244), [](E& e) { e.Country = 0; }},
      {"sex 3", 923, "\x03", [](E& e) { e.Sex = 0; }},
      {"world's best file with ..", 1534, Str("../ab"), [](E& e) { e.WorldBestFile.clear(); }},
      {"world's best file length 31", 1534, "\x1f", [](E& e) { e.WorldBestFile.clear(); }},
      {"score host with a blank", 1565, Str("a b.test"), [](E& e) { e.HighScoreHost = DefaultHighScoreHost(); }},
      {"score base without its slash", 1716, Str("/hs"), [](E& e) { e.HighScoreBase = "/"; }},
      {"page host, port too long", 1867, Str("pages.test:123456"), [](E& e) { e.InternalHost = DefaultInternalHost(); }},
      {"page host ending in ':'", 1867, Str(std::string(149, 'p') + ":"),
       [](E& e) { e.InternalHost = DefaultInternalHost(); }},
      {"page base climbing up", 2018, Str("/in/../"), [](E& e) { e.InternalBase = "/kestruneinternal/"; }},
      {"support address not on the web", 2169, Str("ftp://help.test/"), [](E& e) { e.SupportURL = DefaultSupportURL(); }},
      {"support address length 151", 2169, "\x97", [](E& e) { e.SupportURL = DefaultSupportURL(); }},
  };
  for (const RecordPatch& c : cases) {
    SCOPED_TRACE(c.what);
    std::string record = Record(Good);
    record.replace(static_cast<size_t>(c.offset), c.bytes.size(), c.bytes);
    const std::string file = File(record);
    Start(file);
    TGameEnvironment expected = Good;
    c.expect(expected);
    ExpectSame(GameEnvironment, expected);
    ExpectInRange(GameEnvironment);
    EXPECT_EQ(ReadAll(User + "env.dat.damaged"), file);
    EXPECT_EQ(Warnings(), 1);
    EXPECT_TRUE(FileHasLinePrefix(User + "qv.log", "* Warning: Damaged environment file kept as env.dat.damaged"));
    ExpectSavedBackClean(expected);
  }
}

TEST_F(DamagedEnvironment, ValuesTheProgramCanStoreAreKeptAsTheyStand) {
  // the edges of every range, and text a player may type
  TGameEnvironment e = Good;
  e.MusicVolume = 0;
  e.SoundFXVolume = 100;
  e.AdapterNumber = 15;
  e.DisplayMode = 0;  // stored when the device cannot do the chosen mode
  e.GraphicsDetail = 0;
  e.SmokeDensity = 3;
  e.StartLevel = 12;  // a downloaded level
  e.StartScore = INT32_MAX;
  e.Highscores[2] = {"", 5000};  // a highscore before any name was typed; ties keep their order
  e.Age = -7;
  e.Country = 243;
  e.Sex = 2;
  e.Alias = "\x80uro Z\xfcrich";
  e.Comment = "line one\r\nline two";
  e.UserID = "a-b_c.9";
  e.WorldBestFile = "wb_1.gmp";
  e.HighScoreHost = "127.0.0.1:8080";
  e.InternalHost.clear();  // nothing fetched yet
  e.InternalBase.clear();
  e.SupportURL = "https://help.test/a";
  WriteAll(User + "11.lvl", "x");
  WriteAll(User + "12.lvl", "x");
  const std::string file = File(Record(e));
  Start(file);
  ExpectSame(GameEnvironment, e);
  ExpectInRange(GameEnvironment);
  EXPECT_FALSE(FileExists(User + "env.dat.damaged"));
  EXPECT_EQ(Warnings(), 0);
  EXPECT_EQ(ReadAll(User + "env.dat"), file);  // loading writes nothing
  // The same start level without its downloaded level stays as stored (a download can bring
  // the level back; a game lowers it until then).
  DeleteFile(User + "12.lvl");
  Start(file);
  ExpectSame(GameEnvironment, e);
  EXPECT_FALSE(FileExists(User + "env.dat.damaged"));
  EXPECT_EQ(Warnings(), 0);
}

// Characters a text field cannot hold (pasted in, or written before the rule) are left out on
// loading; the rest of the field stays, and that is no damage: no copy, no warning, one line.
TEST_F(DamagedEnvironment, TextLosesOnlyTheCharactersItCannotHold) {
  using E = TGameEnvironment;
  const RecordPatch cases[] = {
      {"alias with a tab", 661, Str("Ann\tBee"), [](E& e) { e.Alias = "AnnBee"; }},
      {"alias with a line break", 661, Str("A\nB"), [](E& e) { e.Alias = "AB"; }},
      {"city with CR LF", 677, Str("Z\xfcrich\r\nWest"), [](E& e) { e.City = "Z\xfcrichWest"; }},
      {"city with an undefined byte", 677, Str("\x81x"), [](E& e) { e.City = "x"; }},
      {"state, all five undefined bytes", 778, Str("\x81\x8d\x8f\x90\x9d" "Bern"), [](E& e) { e.State = "Bern"; }},
      {"report address with NUL", 822, Str(std::string("a\0b", 3)), [](E& e) { e.ErrorReportEmail = "ab"; }},
      {"email with DEL", 924, Str("a\x7f"), [](E& e) { e.Email = "a"; }},
      {"email with a tab", 924, Str("me@x.test\t"), [](E& e) { e.Email = "me@x.test"; }},
      {"comment with ESC and a tab, its line break kept", 1012, Str("\x1b[2J\r\nok\t!"), [](E& e) { e.Comment = "[2J\r\nok!"; }},
      {"highscore name with a bell", 485, "\x07", [](E& e) { e.Highscores[1].Name = "o"; }},
      {"highscore name with a tab", 500, Str("B\tOB"), [](E& e) { e.Highscores[2].Name = "BOB"; }},
  };
  for (const RecordPatch& c : cases) {
    SCOPED_TRACE(c.what);
    std::string record = Record(Good);
    record.replace(static_cast<size_t>(c.offset), c.bytes.size(), c.bytes);
    Start(File(record));
    TGameEnvironment expected = Good;
    c.expect(expected);
    ExpectSame(GameEnvironment, expected);
    ExpectInRange(GameEnvironment);
    EXPECT_FALSE(FileExists(User + "env.dat.damaged"));
    EXPECT_EQ(Warnings(), 0);
    EXPECT_TRUE(FileHasLinePrefix(User + "qv.log", "* Info: Characters these settings cannot hold were left out: "));
    ExpectSavedBackClean(expected);
  }
  // A tab, a CR LF and the byte 0x81 at once in every typed field.
  std::string record = Record(Good);
  for (auto [off, text] : std::initializer_list<std::pair<int, const char*>>{
           {661, "A\tl\r\ni\x81"}, {677, "C\ti\r\nty\x81"}, {778, "S\tt\r\n\x81"}, {822, "r\t@\r\nx\x81"},
           {924, "e\t@\r\nm\x81"}, {468 + 16 * 3 + 0, "Z\t\r\n\x81Y"}})
    record.replace(static_cast<size_t>(off), std::strlen(text) + 1, Str(text));
  Start(File(record));
  EXPECT_EQ(GameEnvironment.Alias, "Ali");
  EXPECT_EQ(GameEnvironment.City, "City");
  EXPECT_EQ(GameEnvironment.State, "St");
  EXPECT_EQ(GameEnvironment.ErrorReportEmail, "r@x");
  EXPECT_EQ(GameEnvironment.Email, "e@m");
  EXPECT_EQ(GameEnvironment.Highscores[3].Name, "ZY");
  EXPECT_FALSE(FileExists(User + "env.dat.damaged"));
  EXPECT_EQ(Warnings(), 0);
}

TEST_F(DamagedEnvironment, FlippedFilesLoadInRangeAndKeepWhatTheirBytesStillHold) {
  const std::string good = File(Record(Good));
  const std::string goodRecord = Record(Good);
  // Progress and highscores: offset and size in the record.
  const std::pair<int, int> kept[] = {{24, 4}, {28, 4}, {32, 4}, {36, 4}, {40, 420}, {460, 4}, {464, 4}, {1114, 420}};
  std::mt19937 gen(20261210);
  auto flipped = [&](int n) {
    std::string file = good;
    if (n < static_cast<int>(good.size()) * 8 / 47) {
      // a sweep: one bit every 47 bits over the whole file
      const size_t bit = static_cast<size_t>(n) * 47;
      file[bit / 8] = static_cast<char>(file[bit / 8] ^ (1 << (bit % 8)));
    } else {
      // random bits and bytes anywhere
      for (int k = 1 + static_cast<int>(gen() % 4); k > 0; --k) {
        const size_t at = gen() % file.size();
        file[at] = static_cast<char>(gen() % 2 ? file[at] ^ (1 << gen() % 8) : static_cast<char>(gen()));
      }
    }
    return file;
  };
  const int runs = static_cast<int>(good.size()) * 8 / 47 + 150;
  for (int n = 0; n < runs; ++n) {
    SCOPED_TRACE(n);
    const std::string file = flipped(n);
    Start(file);
    ExpectInRange(GameEnvironment);
    if (HasFailure()) break;
    TReadOnlyMemoryStream in(file.data(), file.size());
    const std::string plain = DecipherStream(kEnvironmentKey, in);
    const bool decodes = plain.size() >= 2325 && plain.compare(0, 5, "zrc2e") == 0;
    const std::string record = decodes ? plain.substr(5, kEnvironmentSize) : std::string();
    const std::string loaded = Record(GameEnvironment);
    if (decodes) {
      for (auto [off, size] : kept)
        if (record.compare(off, size, goodRecord, off, size) == 0) {
          EXPECT_EQ(loaded.substr(off, size), goodRecord.substr(off, size)) << "at " << off;
        }
      // every highscore whose bytes are whole is still in the table
      for (int i = 0; i < 4; ++i) {
        const int off = 468 + 16 * i;
        if (record.compare(off, 16, goodRecord, off, 16) != 0) continue;
        bool found = false;
        for (const THighscoreEntry& h : GameEnvironment.Highscores)
          found = found || (h.Name == Good.Highscores[i].Name && h.Score == Good.Highscores[i].Score);
        EXPECT_TRUE(found) << "highscore " << i;
      }
    }
    // Whatever changed on loading, the file as read is kept beside, said once in the log.
    TGameEnvironment decoded;
    if (decodes) decoded.LoadFromBytes(reinterpret_cast<const uint8_t*>(record.data()));
    const bool changed = !decodes || Record(decoded) != loaded;
    const int warnings = Warnings();
    EXPECT_LE(warnings, 1);
    if (changed) {
      // text that only lost characters it cannot hold is said in an info line, no damage
      EXPECT_TRUE(warnings == 1 ||
                  FileHasLinePrefix(User + "qv.log", "* Info: Characters these settings cannot hold were left out: "));
    }
    if (warnings > 0) {
      EXPECT_EQ(ReadAll(User + "env.dat.damaged"), file);
    } else {
      EXPECT_FALSE(FileExists(User + "env.dat.damaged"));
    }
    ExpectSavedBackClean(GameEnvironment);
    if (HasFailure()) break;
  }
}

TEST_F(DamagedEnvironment, ACopyThatCannotBeKeptStopsTheSavesOverTheFile) {
  std::string record = Record(Good);
  record.replace(0, 4, I32(1000));
  const std::string file = File(record);
  // No copy can be written: a folder stands where it is written first.
  ForceDirectories(User + "env.dat.damaged.tmp" + std::to_string(getpid()) + "/inside");
  Start(file);
  EXPECT_EQ(GameEnvironment.MusicVolume, 60);
  EXPECT_EQ(GameEnvironment.Highscores[0].Name, "Ann");
  SaveSettings();
  WaitForSaves();
  EXPECT_EQ(ReadAll(User + "env.dat"), file);
  EXPECT_TRUE(FileHasLinePrefix(User + "qv.log", "* Warning: Damaged environment file could not be kept"));
  // The next start that can keep the copy saves again.
  std::filesystem::remove_all(User + "env.dat.damaged.tmp" + std::to_string(getpid()));
  Start(file);
  EXPECT_EQ(ReadAll(User + "env.dat.damaged"), file);
  ExpectSavedBackClean(GameEnvironment);
}

// Each damaged file goes aside under a name of its own, the oldest first; a kept copy is never
// overwritten, so once all of them are there the newest damage is not kept (said in the log).
TEST_F(DamagedEnvironment, EveryDamagedFileKeepsItsOwnCopyUpToTheCap) {
  std::vector<std::string> files;
  for (int n = 1; n <= kDamagedCopies + 1; ++n) {
    SCOPED_TRACE(n);
    std::string record = Record(Good);
    record.replace(0, 4, I32(1000 + n));  // a volume out of range: the file as read is kept
    files.push_back(n % 2 ? File(record) : "not a settings file " + std::to_string(n));
    WriteAll(User + "qv.log", "");
    SetLogFile(User + "qv.log");
    WriteAll(User + "env.dat", files.back());
    TGameOptionsDialog dialog(nullptr);
    dialog.FormCreate();
    SaveSettings();
    WaitForSaves();
    if (n <= kDamagedCopies) {
      EXPECT_TRUE(FileHasLinePrefix(User + "qv.log", "* Warning: Damaged environment file kept as " + DamagedCopyName(n)));
    } else {
      EXPECT_TRUE(FileHasLinePrefix(User + "qv.log", "* Warning: Damaged environment file not kept: the 5 copies "
                                                     "env.dat.damaged to env.dat.damaged.5 of earlier damage are kept"));
    }
    for (int k = 1; k <= kDamagedCopies && k <= n; ++k) EXPECT_EQ(ReadAll(User + DamagedCopyName(k)), files[k - 1]) << k;
    EXPECT_NE(ReadAll(User + "env.dat"), files.back());  // the settings are saved as usual
  }
  EXPECT_EQ(DamagedCopyName(2), "env.dat.damaged.2");
  EXPECT_FALSE(FileExists(User + "env.dat.damaged.6"));
  for (int k = 1; k <= kDamagedCopies; ++k) DeleteFile(User + DamagedCopyName(k));
}

// Starts that end before any save (a kill, a crash) meet one damage once: the mended env.dat is
// written right after the copy, and the same bytes put back are not copied again. A different
// damage still gets its own copy; so does a file that does not load at all, once.
TEST_F(DamagedEnvironment, OneDamageIsKeptOnceAndTheMendedFileIsSavedAtOnce) {
  auto damaged = [this](int volume) {
    std::string record = Record(Good);
    record.replace(0, 4, I32(volume));
    return File(record);
  };
  auto startWithoutSaving = [this](const std::string* file) {
    WriteAll(User + "qv.log", "");
    SetLogFile(User + "qv.log");
    if (file) WriteAll(User + "env.dat", *file);
    ResetEnvironment(GameEnvironment);
    TGameOptionsDialog dialog(nullptr);
    dialog.FormCreate();
    WaitForSaves();
  };
  const std::string first = damaged(1000), second = damaged(2000), foreign = "no settings file";
  startWithoutSaving(&first);
  TGameEnvironment saved;
  std::vector<std::string> defaulted;
  ASSERT_TRUE(LoadEnvironmentFile(User + "env.dat", saved, &defaulted));
  EXPECT_TRUE(defaulted.empty());
  ExpectSame(saved, GameEnvironment);
  for (int i = 0; i < 4; ++i) startWithoutSaving(nullptr);  // the mended file: nothing to keep
  EXPECT_EQ(Warnings(), 0);
  for (int i = 0; i < 3; ++i) {
    startWithoutSaving(&first);  // the same damage again
    EXPECT_TRUE(FileHasLinePrefix(User + "qv.log", "* Warning: Damaged environment file kept as env.dat.damaged already;"));
  }
  startWithoutSaving(&second);
  for (int i = 0; i < 2; ++i) startWithoutSaving(&foreign);
  EXPECT_TRUE(FileHasLinePrefix(User + "qv.log", "* Warning: Damaged environment file removed: it is kept as "
                                                 "env.dat.damaged.3 already"));
  EXPECT_EQ(ReadAll(User + DamagedCopyName(1)), first);
  EXPECT_EQ(ReadAll(User + DamagedCopyName(2)), second);
  EXPECT_EQ(ReadAll(User + DamagedCopyName(3)), foreign);
  EXPECT_FALSE(FileExists(User + DamagedCopyName(4)));
  for (int k = 1; k <= 3; ++k) DeleteFile(User + DamagedCopyName(k));
}
