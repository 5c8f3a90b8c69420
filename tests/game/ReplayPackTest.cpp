#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "base/Streams.h"
#include "base/SysUtils.h"
#include "game/KTGlobal.h"
#include "game/ReplayPack.h"
#include "support/TestSupport.h"

namespace {

struct ReplayFixture : ::testing::Test {
  std::string Dir;
  void SetUp() override {
    Dir = TestDir();
    UserDataDir = Dir;
  }
  void TearDown() override { UserDataDir.clear(); }
  std::string Pack() const { return Dir + "last.gmp"; }
  std::string Plain(const std::string& file) {
    TFileStream f(file, fmOpenRead);
    return DecipherStream(kReplayPackKey, f);
  }
  void WritePlain(const std::string& file, const std::string& plain) {
    WriteAll(file, EncipherBytes(kReplayPackKey, plain));
  }
};

TReplayLevelRecord Record(int32_t level, int32_t steps) {
  TReplayLevelRecord r;
  r.GameTime = steps * 20;
  r.RandomSeed = 1000 + level;
  r.LevelNumber = level;
  r.StartScore = 100 * level;
  r.StartOptions[0] = level;
  r.StartOptions[1] = 2;
  for (int i = 0; i < steps; ++i) r.Input.AddInput((i % 7 == 0 ? kInputFire : kInputRight) | 1);
  return r;
}

void AddLevel(TReplayPack& pack, int32_t level, int32_t steps = 30) {
  TReplayLevelRecord r = Record(level, steps);
  pack.AddReplay(level, [&](TStream& s) { r.WriteToStream(s); });
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message;
  }
  return "";
}

std::string Put32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}

}  // namespace

TEST_F(ReplayFixture, LevelsRoundTripAndRecordingDropsLaterLevels) {
  {
    TReplayPack pack(Pack());
    EXPECT_EQ(pack.Count(), 0);
    for (int l = 1; l <= 5; ++l) AddLevel(pack, l, 10 * l);
  }
  TReplayPack pack(Pack());
  ASSERT_EQ(pack.Count(), 5);
  TMemoryStream m;
  pack.GetLevelReplay(m, 3);
  EXPECT_EQ(m.GetPosition(), 0);
  TReplayLevelRecord r;
  r.ReadFromStream(m);
  EXPECT_EQ(r.LevelNumber, 3);
  EXPECT_EQ(r.RandomSeed, 1003);
  EXPECT_EQ(r.GameTime, 600);
  EXPECT_EQ(r.StartScore, 300);
  EXPECT_EQ(r.StartOptions[0], 3);
  EXPECT_EQ(r.Input.TotalSteps, 30);
  EXPECT_EQ(ErrorOf([&] { pack.GetLevelReplay(m, 6); }), "Level doesn't exist in file");
  EXPECT_EQ(ErrorOf([&] { pack.GetLevelReplay(m, 0); }), "Level doesn't exist in file");

  // The file is 9 + the sum of (8 + record size) plain bytes, padded to whole blocks.
  size_t want = 9;
  for (int l = 1; l <= 5; ++l) {
    TMemoryStream one;
    pack.GetLevelReplay(one, l);
    want += 8 + static_cast<size_t>(one.GetSize());
  }
  std::string plain = Plain(Pack());
  EXPECT_EQ(plain.size(), (want + 7) / 8 * 8);
  EXPECT_EQ(pack.PlainContent().size(), want);

  // Level 1 of a new game leaves a pack of one level.
  AddLevel(pack, 1);
  EXPECT_EQ(TReplayPack(Pack()).Count(), 1);
}

TEST_F(ReplayFixture, AddingBeyondTheNextLevelIsRefusedAndTheFileUnchanged) {
  {
    TReplayPack pack(Pack());
    for (int l = 1; l <= 5; ++l) AddLevel(pack, l);
  }
  std::string before = ReadAll(Pack());
  TReplayPack pack(Pack());
  EXPECT_EQ(ErrorOf([&] { AddLevel(pack, 7); }), "Invalid level id");
  EXPECT_EQ(ErrorOf([&] { AddLevel(pack, 0); }), "Invalid level id");
  EXPECT_EQ(ReadAll(Pack()), before);
  EXPECT_EQ(pack.Count(), 5);
  // A record that cannot be written: the file stays as it was too.
  EXPECT_EQ(ErrorOf([&] { pack.AddReplay(6, [](TStream&) { throw EWriteError("Stream write error"); }); }),
            "Error adding replay");
  EXPECT_EQ(ReadAll(Pack()), before);
  AddLevel(pack, 6);
  EXPECT_EQ(TReplayPack(Pack()).Count(), 6);
}

TEST_F(ReplayFixture, DamagedOrForeignPacksReadAsEmpty) {
  TMemoryStream rec;
  Record(1, 5).WriteToStream(rec);
  std::string record(reinterpret_cast<const char*>(rec.Memory()), static_cast<size_t>(rec.GetSize()));
  auto entry = [&](uint32_t level, uint32_t size) { return Put32(level) + Put32(size) + record.substr(0, size); };
  std::string good = "zrc2p" + Put32(2) + entry(1, record.size()) + entry(2, record.size());
  WritePlain(Pack(), good);
  ASSERT_EQ(TReplayPack(Pack()).Count(), 2);

  struct Case {
    const char* what;
    std::string plain;
  } cases[] = {
      {"second entry carries level 3", "zrc2p" + Put32(2) + entry(1, record.size()) + entry(3, record.size())},
      {"count beyond the file", "zrc2p" + Put32(0x40000000) + entry(1, record.size())},
      {"size beyond the file", "zrc2p" + Put32(1) + Put32(1) + Put32(0x7FFFFFF0) + record},
      {"negative size", "zrc2p" + Put32(1) + Put32(1) + Put32(0xFFFFFFFF) + record},
      {"cut short", good.substr(0, good.size() - 10)},
      {"foreign magic", "zrc2e" + good.substr(5)},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    WritePlain(Pack(), c.plain);
    EXPECT_EQ(TReplayPack(Pack()).Count(), 0) << c.what;
  }
  WriteAll(Pack(), "plain text, not a pack");
  EXPECT_EQ(TReplayPack(Pack()).Count(), 0);
  EXPECT_EQ(TReplayPack(static_cast<TStream*>(nullptr)).Count(), 0);

  // A record with a wrong magic inside a sound pack is refused when it is played.
  std::string bad = record;
  bad[4] = 'x';
  WritePlain(Pack(), "zrc2p" + Put32(1) + Put32(1) + Put32(bad.size()) + bad);
  TReplayPack pack(Pack());
  ASSERT_EQ(pack.Count(), 1);
  TMemoryStream m;
  pack.GetLevelReplay(m, 1);
  TReplayLevelRecord r;
  EXPECT_EQ(ErrorOf([&] { r.ReadFromStream(m); }), "Invalid recorded game data file");
}

TEST_F(ReplayFixture, AFailedSaveLeavesTheOldPackIntact) {
  TReplayPack pack(Pack());
  for (int l = 1; l <= 3; ++l) AddLevel(pack, l);
  std::string before = ReadAll(Pack());
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 64;
  setrlimit(RLIMIT_FSIZE, &small);
  std::string error = ErrorOf([&] { AddLevel(pack, 4, 500); });
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(error, "Error saving replay file");
  EXPECT_EQ(ReadAll(Pack()), before);  // not deleted, not cut
  EXPECT_EQ(TReplayPack(Pack()).Count(), 3);
}

TEST_F(ReplayFixture, PlaybackPicksTheLevelsOfEachMode) {
  {
    TReplayPack world(Dir + "worldbest.gmp");
    for (int l = 1; l <= 10; ++l) AddLevel(world, l);
    TReplayPack last(Pack());
    for (int l = 1; l <= 3; ++l) AddLevel(last, l);
  }
  auto levelOf = [](TMemoryStream& m) {
    TReplayLevelRecord r;
    r.ReadFromStream(m);
    return r.LevelNumber;
  };
  TMemoryStream m;
  // The last game: its last level only.
  int32_t next = 0;
  OpenReplayRecord(rmLastGame, next, 0, m);
  EXPECT_EQ(levelOf(m), 3);
  EXPECT_EQ(next, 0);
  // The world's best asked for level 4: level 4 only.
  next = 0;
  OpenReplayRecord(rmWorldBest, next, 4, m);
  EXPECT_EQ(levelOf(m), 4);
  EXPECT_EQ(next, 0);
  // Asked for level 0: levels 1 to 10 one after another.
  next = 0;
  std::vector<int32_t> played;
  do {
    OpenReplayRecord(rmWorldBest, next, 0, m);
    played.push_back(levelOf(m));
  } while (next != 0);
  EXPECT_EQ(played, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  // No world's best at all: the level is missing.
  DeleteFile(Dir + "worldbest.gmp");
  next = 0;
  EXPECT_EQ(ErrorOf([&] { OpenReplayRecord(rmWorldBest, next, 0, m); }), "Level doesn't exist in file");
}

TEST_F(ReplayFixture, AnEmptyRecordStaysEmpty) {
  WritePlain(Pack(), std::string("zrc2p") + Put32(2) + Put32(1) + Put32(0) + Put32(2) + Put32(0));
  TReplayPack pack(Pack());
  ASSERT_EQ(pack.Count(), 2);
  TMemoryStream m;
  pack.GetLevelReplay(m, 1);
  EXPECT_EQ(m.GetSize(), 0);
  EXPECT_EQ(pack.PlainContent().size(), 9u + 16u);
}
