// The game logic without a window: a recorded game replays exactly, and the rules score,
// hit, open and end as they should.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "LevelFixture.h"
#include "support/TestSupport.h"
#include "base/Random.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "game/GameLogic.h"
#include "game/KTGlobal.h"
#include "game/LevelData.h"
#include "game/Options.h"
#include "game/ReplayPack.h"

namespace {

class GameLogicTest : public ::testing::Test {
protected:
  void SetUp() override {
    UserDataDir = TestDir();
    ResetEnvironment(GameEnvironment);
  }
  std::unique_ptr<TGameLogic> NewGame() {
    auto g = std::make_unique<TGameLogic>(TGameLogicSetup{});
    g->NewSeed = [] { return 12345u; };
    return g;
  }
  // An open room of w x h with a wall ring; floor everywhere.
  static FixtureLevel Room(int w, int h) {
    FixtureLevel f(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        f.At(x, y)[0] = 1;
        if (x == 0 || y == 0 || x == w - 1 || y == h - 1) f.Set(x, y, caWall);
      }
    return f;
  }
  static void Load(TGameLogic& g, const FixtureLevel& f) {
    TStringStream plain(f.Bytes());
    TMemoryStream container;
    CompressLevelData(plain, container);
    container.SetPosition(0);
    g.SetState(gsPlaying);
    g.LoadLevelFrom(container);
    g.PlayPhase = 3;  // the level runs from the first step
  }
  static TGESmoker* Smoker(TGameLogic& g, size_t i) { return static_cast<TGESmoker*>(g.GetList(1)[i].get()); }
};

uint32_t ScriptWord(std::mt19937& rng) {
  static uint32_t held = 0;
  if (rng() % 12 == 0) held = kInputRight << (rng() % 4);
  uint32_t w = 1 | held;
  if (rng() % 3 == 0) w |= kInputFire;
  if (rng() % 40 == 0) w |= kInputKey1;
  if (rng() % 50 == 0) w |= kInputKey2;
  return w;
}

TEST_F(GameLogicTest, RecordedLevelOnePlaysBackStepForStep) {
  constexpr int kSteps = 3000;
  std::vector<uint64_t> live;
  TMemoryStream record;
  int32_t liveScore = 0;
  {
    auto g = NewGame();
    g->StartGame();
    ASSERT_TRUE(g->Level);
    ASSERT_GT(g->GetList(1).size(), 0u);
    std::mt19937 rng(7);
    for (int i = 0; i < kSteps; ++i) {
      // after the level's start (92 steps) the script walks out of the empty start room into
      // the first smoker's and throws there for a while, then plays at random
      uint32_t w = ScriptWord(rng);
      if (i < 92) w = 1;
      else if (i < 112) w = 1 | kInputRight;
      else if (i < 185) w = 1 | kInputDown;
      else if (i < 600) w = 1 | kInputFire | (i % 100 < 50 ? kInputRight : 0);
      g->SimulationStep(w);
      live.push_back(GameStateDigest(*g));
    }
    liveScore = g->Score;
    ASSERT_GT(g->LevelSteps, 1000);
    ASSERT_GT(g->ScoreCounts[0], 0);  // the script converts smokers: the test covers hits and paths
    g->WriteReplayRecord(record);
  }
  record.SetPosition(0);
  auto g = NewGame();
  g->LoadReplayRecord(record);
  g->ReplayMode = rmLastGame;
  g->SetState(gsPlaying);
  g->LoadLevel();
  ASSERT_EQ(g->ReplayMode, rmLastGame);
  for (int i = 0; i < kSteps - 1; ++i) {
    g->SimulationStep(0);
    ASSERT_EQ(GameStateDigest(*g), live[static_cast<size_t>(i)]) << "first difference at step " << i;
  }
  g->SimulationStep(0);
  EXPECT_EQ(g->Score, liveScore);
  // The level ends in playback when the recorded time is reached.
  EXPECT_EQ(g->GameState, gsLevelEnd);
  EXPECT_EQ(g->LevelResult, 3);

  // Another seed with the same input gives another game.
  record.SetPosition(0);
  auto other = NewGame();
  other->LoadReplayRecord(record);
  other->RandomSeed += 1;
  other->ReplayMode = rmLastGame;
  other->SetState(gsPlaying);
  other->LoadLevel();
  bool differs = false;
  for (int i = 0; i < kSteps - 1 && !differs; ++i) {
    other->SimulationStep(0);
    differs = GameStateDigest(*other) != live[static_cast<size_t>(i)];
  }
  EXPECT_TRUE(differs);
}

TEST_F(GameLogicTest, PlaybackEndsAtTheRecordedTimeEvenWhenItIsNoStepBoundary) {
  auto g = NewGame();
  FixtureLevel f = Room(10, 8);
  f.PX = 2, f.PY = 2;
  Load(*g, f);
  g->ReplayMode = rmLastGame;
  g->ReplayEndTime = 1010;  // a damaged record: not a multiple of 20
  for (int i = 0; i < 60 && g->GameState == gsPlaying; ++i) g->SimulationStep(0);
  EXPECT_EQ(g->GameState, gsLevelEnd);
  EXPECT_EQ(g->GameTime, 1020);
  EXPECT_EQ(g->LevelResult, 3);
}

TEST_F(GameLogicTest, PlayerFiresEveryTenStepsAndSwitchesOptions) {
  auto g = NewGame();
  FixtureLevel f = Room(12, 8);
  f.PX = 2, f.PY = 2;
  Load(*g, f);
  for (int i = 0; i < 25; ++i) g->SimulationStep(1 | kInputFire);
  EXPECT_EQ(g->GetList(6).size() + g->GetList(7).size() > 0, true);
  int shots = 0;
  for (auto& e : g->GetList(6)) shots += dynamic_cast<TGEOxygen*>(e.get()) != nullptr;
  EXPECT_EQ(shots, 3);  // steps 0, 10 and 20
  // With no hearts, "1" selects nothing and deselects the super weapon.
  TGEOption* hearts = g->Option(0);
  TGEOption* super = g->Option(1);
  super->Add(25);
  g->SimulationStep(1 | kInputKey2);
  g->SimulationStep(1);
  EXPECT_TRUE(super->Selected);
  g->SimulationStep(1 | kInputKey1);
  g->SimulationStep(1);
  EXPECT_FALSE(hearts->Selected);
  EXPECT_FALSE(super->Selected);
  // The last heart used deselects the hearts; the next shot is oxygen.
  hearts->Add(1);
  EXPECT_TRUE(hearts->Select());
  hearts->Use();
  EXPECT_FALSE(hearts->Selected);
  EXPECT_FALSE(hearts->Select());
}

TEST_F(GameLogicTest, EnergyCellHealsAndDrawsItsRandomNumbers) {
  auto g = NewGame();
  FixtureLevel f = Room(8, 8);
  f.PX = 3, f.PY = 3;
  f.Set(3, 3, caEnergy);
  Load(*g, f);
  TGEPlayer* p = g->Player();
  p->Energy = 0.5f;
  for (int i = 0; i < 124; ++i) g->SimulationStep(1);
  EXPECT_LT(p->Energy, 1.0f);
  g->SimulationStep(1);
  EXPECT_NEAR(p->Energy, 1.0f, 1e-4);
  // One touch draws one number, and five more when it adds a sparkle.
  for (int i = 0; i < 200; ++i) {
    const uint32_t seed = RandSeed;
    const int32_t sparkles = g->Level->Sparkles.Count();
    g->Level->TouchCell(3, 3);
    uint32_t expect = seed;
    const int draws = g->Level->Sparkles.Count() > sparkles ? 6 : 1;
    for (int k = 0; k < draws; ++k) expect = expect * 134775813u + 1u;
    ASSERT_EQ(RandSeed, expect);
  }
}

TEST_F(GameLogicTest, LiveLevelSavesItsReplayAndTheReplayReproducesIt) {
  auto g = NewGame();
  g->StartGame();
  std::mt19937 rng(3);
  for (int i = 0; i < 600; ++i) g->SimulationStep(ScriptWord(rng));
  const int32_t gameTime = g->GameTime;
  g->SaveLastReplay();
  TReplayPack pack(UserDataDir + kLastReplayName);
  ASSERT_EQ(pack.Count(), 1);
  TMemoryStream rec;
  pack.GetLevelReplay(rec, 1);
  TReplayLevelRecord r;
  r.ReadFromStream(rec);
  EXPECT_EQ(r.GameTime, gameTime);
  EXPECT_EQ(r.RandomSeed, 12345);
  EXPECT_EQ(r.LevelNumber, 1);
}

TEST_F(GameLogicTest, ScoreTableAndBonuses) {
  auto g = NewGame();
  FixtureLevel f = Room(12, 12);
  f.PX = 2, f.PY = 2;
  f.Enemies = {{8, 8, 0, {}}, {9, 3, 0, {}}};
  Load(*g, f);
  g->Score = 0;
  struct Case { uint8_t kind; int32_t arg; int32_t points; uint16_t count; };
  for (Case c : {Case{1, 0, 10, 1}, Case{2, 0, 50, 1}, Case{3, 0, 10, 1}, Case{4, 12, 120, 12}, Case{4, 0, 0, 0},
                 Case{4, -5, 0, 0}, Case{6, 0, 4000, 1}}) {
    const int32_t before = g->Score;
    const uint16_t cb = g->ScoreCounts[c.kind];
    g->AddScore(c.kind, c.arg);
    EXPECT_EQ(g->Score - before, c.points) << int(c.kind) << " " << c.arg;
    EXPECT_EQ(g->ScoreCounts[c.kind] - cb, c.count);
  }
  // The "Extra" caption.
  ASSERT_FALSE(g->GetList(7).empty());
  EXPECT_EQ(static_cast<TGEBonus*>(g->GetList(7).back().get())->Caption, "Extra");
  g->GetList(7).clear();
  // Two conversions: 500, then 500 + 2000 with the floating score and the caption.
  int32_t before = g->Score;
  Smoker(*g, 0)->Hit(hkHeart);
  EXPECT_EQ(g->Score - before, 50 + 500);
  EXPECT_EQ(g->SmokersLeft, 1);
  before = g->Score;
  Smoker(*g, 1)->Hit(hkHeart);
  EXPECT_EQ(g->Score - before, 50 + 500 + 2000);
  EXPECT_EQ(g->SmokersLeft, 0);
  EXPECT_EQ(g->ScoreCounts[0], 2);
  EXPECT_EQ(g->ScoreCounts[5], 0);
  int scores = 0, bonus = 0;
  for (auto& e : g->GetList(7)) {
    if (auto* s = dynamic_cast<TGEScore*>(e.get())) {
      ++scores;
      EXPECT_EQ(s->Digits, "500");
      EXPECT_EQ(s->Sign, 0);
    }
    if (auto* b = dynamic_cast<TGEBonus*>(e.get())) {
      ++bonus;
      EXPECT_EQ(b->Caption, "All Converted");
      EXPECT_EQ(b->Text, "2000 Points");
    }
  }
  EXPECT_EQ(scores, 2);
  EXPECT_EQ(bonus, 1);
  // Converting every smoker does not end the level: only the player does.
  g->SimulationStep(0);
  EXPECT_EQ(g->GameState, gsPlaying);
  EXPECT_FALSE(g->LevelEnded);
}

TEST_F(GameLogicTest, HitKindsOnSmokers) {
  auto g = NewGame();
  FixtureLevel f = Room(12, 12);
  f.PX = 2, f.PY = 2;
  f.Enemies = {{8, 8, 0, {}}, {5, 8, 0, {}}, {3, 8, 0, {}}};
  Load(*g, f);
  TGESmoker* a = Smoker(*g, 0);
  for (int i = 0; i < 6; ++i) a->Hit(hkOxygen);
  EXPECT_FALSE(a->Converted);
  EXPECT_EQ(a->State, 2);  // the third hit sends it fleeing
  a->Hit(hkOxygen);
  EXPECT_TRUE(a->Converted);
  EXPECT_EQ(g->ScoreCounts[1], 7);

  TGESmoker* b = Smoker(*g, 1);
  b->Hit(hkSuperWeapon);
  EXPECT_EQ(b->State, 1);
  EXPECT_EQ(b->StunTimer, 40);
  b->Hit(hkCigarette);
  b->Hit(hkCigarette);
  EXPECT_FLOAT_EQ(b->SmokeLevel, 1.0f);  // raised, but not above full
  b->Hit(hkSuperWeapon);
  b->Hit(hkSuperWeapon);
  b->Hit(hkSuperWeapon);
  EXPECT_FALSE(b->Converted);  // 0.2 from the cigarettes came back
  // A converted smoker hit again follows the player.
  a->Hit(hkHeart);
  EXPECT_EQ(a->State, 3);
  EXPECT_EQ(g->ScoreCounts[2], 0);

  // The player: cigarette 0.1, smoke contact 0.002, a hit at 0.1 ends the level lost.
  TGEPlayer* p = g->Player();
  p->Hit(hkCigarette);
  EXPECT_FLOAT_EQ(p->Energy, 0.9f);
  EXPECT_EQ(p->HitBlink, 25);
  p->HitBlink = 12;
  p->Hit(hkSmokeContact);
  EXPECT_EQ(p->HitBlink, 12);
  p->Energy = 0.1f;
  p->Hit(hkCigarette);
  EXPECT_TRUE(p->Done);
  EXPECT_FALSE(p->Won);
  g->SimulationStep(0);
  EXPECT_EQ(g->GameState, gsLevelEnd);
  EXPECT_EQ(g->LevelResult, 2);
  EXPECT_EQ(g->LevelText, "Fun Over!");
}

// A stun counts down beside the rest and the puff; the puff alone waits for the rest to end.
TEST_F(GameLogicTest, StunRunsBesideRestAndPuff) {
  struct Case {
    int32_t Rest, Puff;
    int Steps;
    int32_t StunAfter, RestAfter, PuffAfter;
    bool Exhaled;
  };
  const Case cases[] = {
      {0, 40, 10, 30, 0, 30, false},   // hit mid-puff: the puff goes on under the stun
      {0, 40, 20, 20, 0, 20, true},    // and breathes out (below 25) while still stunned
      {30, 40, 10, 30, 20, 40, false}, // hit while resting: the rest runs, the puff waits
      {30, 40, 35, 5, 0, 35, false},   // the rest is over before the stun: the puff resumes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "rest " << c.Rest << " puff " << c.Puff << " steps " << c.Steps);
    auto g = NewGame();
    FixtureLevel f = Room(12, 12);
    f.PX = 2, f.PY = 2;
    f.Enemies = {{8, 8, 0, {}}};
    Load(*g, f);
    TGESmoker* s = Smoker(*g, 0);
    s->RestTimer = c.Rest;
    s->PuffTimer = c.Puff;
    s->Hit(hkOxygen);
    ASSERT_EQ(s->StunTimer, 40);
    for (int i = 0; i < c.Steps; ++i) g->SimulationStep(1);
    EXPECT_EQ(s->StunTimer, c.StunAfter);
    EXPECT_EQ(s->RestTimer, c.RestAfter);
    EXPECT_EQ(s->PuffTimer, c.PuffAfter);
    EXPECT_EQ(s->Exhaled != 0, c.Exhaled);
  }
}

TEST_F(GameLogicTest, DoorsKeysAndSwitches) {
  auto g = NewGame();
  FixtureLevel f = Room(12, 10);
  f.PX = 2, f.PY = 2;
  f.Set(4, 2, caDoor, 3);  // locked with key 3
  f.Set(2, 4, caDoor, 0);  // no lock
  f.Set(6, 6, caSwitch, 1);
  FixtureLevel::GroupCell gc{8, 6, {}, 1};
  gc.Bytes[16] = caWall;  // byte 33 of the switched cell
  f.Groups.push_back(gc);
  f.Set(3, 7, caKey, 3);
  Load(*g, f);
  TQVGameLevel& lv = *g->Level;
  TGEPlayer* p = g->Player();
  EXPECT_FALSE(lv.IsWalkable(4, 2));
  // Entering (3, 2): the locked door shows its hint once per 100 steps.
  lv.ClearOccupant(2, 2);
  p->X = 3;
  lv.SetOccupant(p, 3, 2);
  p->Think();
  ASSERT_EQ(g->GetList(7).size(), 1u);
  EXPECT_NE(dynamic_cast<TGEFXDoorKey*>(g->GetList(7)[0].get()), nullptr);
  p->Think();
  EXPECT_EQ(g->GetList(7).size(), 1u);
  EXPECT_EQ(lv.Cell(4, 2).StateCounter, 0);
  // With the key the door opens and stays unlocked; the key is given up.
  p->Keys[3] = 1;
  p->Think();
  EXPECT_EQ(lv.Cell(4, 2).StateCounter, 1);
  EXPECT_EQ(lv.Cell(4, 2).Param, 0);
  EXPECT_FALSE(p->Keys[3]);
  for (int i = 0; i < 12; ++i) lv.Step();
  EXPECT_TRUE(lv.IsWalkable(4, 2));
  // A door waits at 250 while a neighbour is occupied, then closes.
  lv.Cell(4, 2).StateCounter = 250;
  lv.Step();
  EXPECT_EQ(lv.Cell(4, 2).StateCounter, 250);  // the player stands next to it
  lv.ClearOccupant(3, 2);
  lv.ClearOccupant(2, 2);
  lv.Step();
  EXPECT_EQ(lv.Cell(4, 2).StateCounter, -12);
  lv.TouchCell(4, 2);  // touching a closing door opens it again
  EXPECT_EQ(lv.Cell(4, 2).StateCounter, 1);

  // The switch goes on at its 7th step and ignores touches while switching.
  lv.TouchCell(6, 6);
  EXPECT_EQ(lv.Cell(6, 6).StateCounter, 1);
  for (int i = 0; i < 5; ++i) lv.Step();
  lv.TouchCell(6, 6);
  EXPECT_EQ(lv.Cell(8, 6).Action, caFloor);
  lv.Step();
  EXPECT_EQ(lv.Cell(8, 6).Action, caWall);
  for (int i = 0; i < 3; ++i) lv.Step();
  EXPECT_EQ(lv.Cell(6, 6).StateCounter, 10);
  lv.TouchCell(6, 6);
  for (int i = 0; i < 6; ++i) lv.Step();
  EXPECT_EQ(lv.Cell(8, 6).Action, caWall);
  lv.Step();
  EXPECT_EQ(lv.Cell(8, 6).Action, caFloor);

  // A key is picked up: the cell empties, the player holds it.
  p->X = 3, p->Y = 7;
  p->Think();
  EXPECT_TRUE(p->Keys[3]);
  EXPECT_EQ(lv.Cell(3, 7).Action, caFloor);
}

TEST_F(GameLogicTest, ExitEndsTheLevelWithTheTimeBonusAndStoresProgress) {
  auto g = NewGame();
  FixtureLevel f = Room(10, 8);
  f.TimeLimit = 100;
  f.PX = 2, f.PY = 2;
  f.Set(3, 2, caExit);
  Load(*g, f);
  g->Score = 1000;
  g->LevelSteps = 10;
  g->GameTime = 30000 - 20;  // 30 s played after the next step
  g->Player()->X = 3;
  g->Player()->Think();
  g->SimulationStep(0);
  ASSERT_EQ(g->GameState, gsLevelEnd);
  EXPECT_EQ(g->LevelResult, 0);
  EXPECT_EQ(g->LevelText, "Level 1 completed");
  EXPECT_EQ(g->Score, 1000 + 70 * 10);
  EXPECT_EQ(g->ScoreCounts[4], 70);
  g->LevelFinished();
  EXPECT_EQ(GameEnvironment.StartLevel, 2);
  EXPECT_EQ(GameEnvironment.StartScore, 1700);
  EXPECT_EQ(GameEnvironment.LevelStatsOf(1)->Counts[4], 70);
  EXPECT_EQ(GameEnvironment.LevelsFinished, 1);
}

TEST_F(GameLogicTest, StatisticsStayWithinThirtyLevels) {
  auto g = NewGame();
  g->LevelCount = 40;
  g->LevelNumber = 35;
  g->ScoreCounts = {1, 2, 3, 4, 5, 6, 7};
  g->LevelFinished();  // no statistics slot for level 35: nothing written out of bounds
  EXPECT_EQ(GameEnvironment.StartLevel, 36);
  GameEnvironment.LevelStatsOf(30)->Counts[0] = 9;
  g->Score = 100;
  EXPECT_EQ(g->InsertHighscore(), 0);
  EXPECT_EQ(GameEnvironment.BestLevelStatsOf(30)->Counts[0], 9);
}

TEST_F(GameLogicTest, HighscoreInsertion) {
  auto g = NewGame();
  GameEnvironment.Alias = "ABCDEFGHIJKLMNO";
  for (int i = 0; i < 10; ++i) GameEnvironment.Highscores[i].Score = 1000 - 100 * i;
  g->Score = 100;  // equal to the tenth
  EXPECT_EQ(g->InsertHighscore(), -1);
  g->Score = 500;  // equal to the sixth: goes below it
  EXPECT_EQ(g->InsertHighscore(), 6);
  EXPECT_EQ(GameEnvironment.Highscores[6].Name, "ABCDEFGHIJ");
  EXPECT_EQ(GameEnvironment.Highscores[7].Score, 400);
  EXPECT_EQ(GameEnvironment.Highscores[9].Score, 200);
}

TEST_F(GameLogicTest, WalkerTurnsAndSteps) {
  auto g = NewGame();
  FixtureLevel f = Room(12, 12);
  f.PX = 5, f.PY = 5, f.PDir = 3;
  Load(*g, f);
  TGEPlayer* p = g->Player();
  p->TargetAngle = 0;
  std::vector<float> angles;
  for (int i = 0; i < 4; ++i) {
    p->TGEWalkBot::Update();
    angles.push_back(p->Angle);
  }
  EXPECT_NEAR(angles[0], 3.4f, 1e-5);
  EXPECT_NEAR(angles[1], 3.8f, 1e-5);
  EXPECT_NEAR(angles[2], 0.2f, 1e-5);
  EXPECT_EQ(angles[3], 0.0f);
  // Ten updates a cell; the crossing at the fifth.
  ASSERT_TRUE(p->CanWalk(0));
  p->StartStep(0);
  EXPECT_EQ(g->Level->GetOccupant(6, 5), p);
  for (int i = 0; i < 3; ++i) p->TGEWalkBot::Update();
  EXPECT_EQ(p->X, 5);
  p->TGEWalkBot::Update();
  EXPECT_EQ(p->X, 6);
  EXPECT_EQ(p->Progress, -5);
  EXPECT_EQ(g->Level->GetOccupant(5, 5), nullptr);
  for (int i = 0; i < 5; ++i) p->TGEWalkBot::Update();
  EXPECT_FALSE(p->Walking);
  // A claimed cell is not entered, nor the outer ring.
  TGEOxygen other(g.get(), 0, 0.5f, 0.5f);
  ASSERT_TRUE(g->Level->SetOccupant(&other, 7, 5));
  EXPECT_FALSE(g->Level->SetOccupant(p, 7, 5));
  EXPECT_FALSE(p->CanWalk(0));
  g->Level->ClearOccupant(7, 5);
  EXPECT_TRUE(p->CanWalk(0));
  p->X = 1;
  EXPECT_FALSE(p->CanWalk(2));
}

TEST_F(GameLogicTest, ShotsEndAtWallsAndDoors) {
  auto g = NewGame();
  FixtureLevel f = Room(12, 6);
  f.PX = 1, f.PY = 4;
  f.Set(6, 2, caWall);
  f.Set(6, 3, caDoor);
  Load(*g, f);
  auto flightSteps = [&](float y) {
    TGEOxygen shot(g.get(), 0, y, 5.0f);
    int n = 0;
    while (shot.Update() && n < 50) ++n;
    return std::pair<int, float>(n, shot.X);
  };
  auto [nw, xw] = flightSteps(2.5f);
  EXPECT_GT(xw - 6.0f, 0.3f);
  EXPECT_LE(xw - 6.0f, 0.5f);
  auto [nd, xd] = flightSteps(3.5f);
  EXPECT_GT(xd - 6.0f, 0.4f);
  EXPECT_GT(nd, nw);
  // Through an open door.
  g->Level->Cell(6, 3).StateCounter = 20;
  auto [no, xo] = flightSteps(3.5f);
  EXPECT_GT(xo, 11.0f);
  (void)no;
}

TEST_F(GameLogicTest, RelocateStopsWhenNoCellQualifies) {
  auto g = NewGame();
  FixtureLevel f(5, 5);  // no floor anywhere
  f.PX = 1, f.PY = 1;
  f.Enemies = {{3, 3, 0, {}}};
  Load(*g, f);
  TGESmoker* s = Smoker(*g, 0);
  s->Relocate();
  EXPECT_EQ(s->X, 3);
  EXPECT_EQ(s->Y, 3);
  EXPECT_EQ(g->Level->GetOccupant(3, 3), s);
}

TEST_F(GameLogicTest, DoFrameRunsDueStepsAndDropsLostTime) {
  uint32_t now = 0;
  TGameLogicSetup setup;
  setup.Clock = [&now] { return now; };
  TGameLogic g(setup);
  g.LoadProgress = 100;
  g.SetState(gsTitle);
  g.LastStepTime = 0;
  g.StepCounter = 0;
  now = 19;
  g.DoFrame();
  EXPECT_EQ(g.StepCounter, 0);
  now = 45;
  g.DoFrame();
  EXPECT_EQ(g.StepCounter, 2);
  EXPECT_EQ(g.LastStepTime, 40u);
  now = 190;
  g.DoFrame();
  EXPECT_EQ(g.StepCounter, 7);
  EXPECT_EQ(g.LastStepTime, 190u);
}

TEST_F(GameLogicTest, LevelEndChoiceDecidesWhatIsStored) {
  for (bool cont : {false, true}) {
    ResetEnvironment(GameEnvironment);
    auto g = NewGame();
    g->StartGame();
    for (int i = 0; i < 100; ++i) g->SimulationStep(1);
    g->Player()->Done = 1;
    g->Player()->Won = 1;
    g->SimulationStep(1);
    ASSERT_EQ(g->GameState, gsLevelEnd);
    ASSERT_EQ(g->LevelResult, 0);
    for (int i = 0; i < 400 && g->EndPhase != 3; ++i) g->SimulationStep(0);
    ASSERT_EQ(g->EndPhase, 3);
    g->ContinueChosen = cont;
    g->EndPhase = 4;
    for (int i = 0; i < 40 && g->GameState == gsLevelEnd; ++i) g->SimulationStep(0);
    if (cont) {
      EXPECT_EQ(g->GameState, gsPlaying);
      EXPECT_EQ(g->LevelNumber, 2);
      EXPECT_EQ(GameEnvironment.StartLevel, 2);
      EXPECT_EQ(GameEnvironment.LevelsFinished, 1);
    } else {
      EXPECT_EQ(g->GameState, gsTitle);
      EXPECT_EQ(GameEnvironment.StartLevel, 1);
      EXPECT_EQ(GameEnvironment.LevelsFinished, 0);
    }
    EXPECT_EQ(TReplayPack(UserDataDir + kLastReplayName).Count(), 1);
  }
}

TEST_F(GameLogicTest, PlaybackNeverSavesOrEntersTheHighscores) {
  auto g = NewGame();
  g->StartGame();
  std::mt19937 rng(11);
  for (int i = 0; i < 300; ++i) g->SimulationStep(ScriptWord(rng));
  TMemoryStream rec;
  g->WriteReplayRecord(rec);
  g->SetState(gsTitle);
  DeleteFile(UserDataDir + kLastReplayName);
  rec.SetPosition(0);
  g->LoadReplayRecord(rec);
  g->ReplayMode = rmLastGame;
  g->SetState(gsPlaying);
  g->LoadLevel();
  g->Score = 1000000;
  for (int i = 0; i < 400 && g->GameState == gsPlaying; ++i) g->SimulationStep(0);
  ASSERT_EQ(g->GameState, gsLevelEnd);
  EXPECT_EQ(g->LevelResult, 3);
  EXPECT_EQ(g->LevelText, "Replay Over");
  EXPECT_FALSE(FileExists(UserDataDir + kLastReplayName));
  g->EndPhase = 4;
  for (int i = 0; i < 40 && g->GameState == gsLevelEnd; ++i) g->SimulationStep(0);
  EXPECT_EQ(g->GameState, gsTitle);
  EXPECT_EQ(GameEnvironment.Highscores[0].Score, kEmptyHighscore);
  EXPECT_EQ(GameEnvironment.LevelsFinished, 0);
}

TEST_F(GameLogicTest, TitleKeysAndPages) {
  auto g = NewGame();
  g->LoadProgress = 100;
  g->SetState(gsTitle);
  for (int i = 0; i < 30; ++i) g->SimulationStep(0);
  EXPECT_FLOAT_EQ(g->Fade, 1.0f);
  // Pages: without a last replay page 4 is skipped, without a highscore page 2.
  std::vector<int> pages;
  for (int i = 0; i < 341 * 6; ++i) {
    g->SimulationStep(0);
    if (pages.empty() || pages.back() != g->TitlePage) pages.push_back(g->TitlePage);
  }
  pages.resize(6);
  EXPECT_EQ(pages, (std::vector<int>{0, 1, 3, 0, 1, 3}));
  // Starting a game (Space) fades out, then starts.
  g->TitleAction = 3;
  for (int i = 0; i < 30 && g->GameState == gsTitle; ++i) g->SimulationStep(0);
  EXPECT_EQ(g->GameState, gsPlaying);
  EXPECT_EQ(GameEnvironment.GamesStarted, 1);
  EXPECT_EQ(g->RandomSeed, 12345);
}

// Left alone for 45 s, or asked with D, the title plays the demo shipped in the level resources:
// the game plays it, the window is not closed.
TEST_F(GameLogicTest, TheTitleStartsTheShippedDemo) {
  for (bool pressD : {false, true}) {
    SCOPED_TRACE(pressD ? "D key" : "idle");
    std::array<uint8_t, 256> keys{};
    bool closed = false;
    TGameLogicSetup setup;
    setup.OnGameOver = [&](const std::string&) { closed = true; };
    setup.ReadKeys = [&](uint8_t k[256]) { std::memcpy(k, keys.data(), keys.size()); };
    TGameLogic g(setup);
    g.LoadProgress = 100;
    g.SetState(gsTitle);
    if (pressD) {
      for (int i = 0; i < 30; ++i) g.SimulationStep(0);  // the title fades in
      keys[32] = 0x80;
      g.HandleKeys();
      keys[32] = 0;
      g.HandleKeys();
      EXPECT_EQ(g.TitleAction, 2);
      for (int i = 0; i < 40 && g.GameState == gsTitle; ++i) g.SimulationStep(0);
    } else {
      int steps = 0;
      while (steps < 3000 && g.GameState == gsTitle) {
        g.SimulationStep(0);
        ++steps;
      }
      EXPECT_EQ(steps, 2251);
    }
    EXPECT_FALSE(closed);
    EXPECT_EQ(g.GameState, gsPlaying);
    EXPECT_EQ(g.ReplayMode, rmDemo);
    ASSERT_TRUE(g.Level);
    EXPECT_EQ(g.LevelNumber, 1);
    EXPECT_EQ(g.NextReplayLevel, 2) << "more recorded levels follow";
    // the demo runs on its recorded input
    for (int i = 0; i < 400; ++i) g.SimulationStep(0);
    EXPECT_FALSE(closed);
    EXPECT_EQ(g.GameState, gsPlaying);
    EXPECT_GT(g.GameTime, 0);
  }
}

TEST_F(GameLogicTest, NameEntryOnTheHighscoreScreen) {
  auto g = NewGame();
  g->Score = 700;
  GameEnvironment.Alias = "Ann";
  g->EndGame(false);
  ASSERT_EQ(g->GameState, gsHighscore);
  ASSERT_EQ(g->HighscorePos, 0);
  auto key = [&](uint16_t k) {
    g->LastKey = k;
    g->SimulationStep(0);
  };
  key(14);  // backspace
  key(48);  // "B"
  EXPECT_EQ(GameEnvironment.Highscores[0].Name, "AnB");
  key(1);   // Esc keeps the name, as Enter does
  EXPECT_EQ(GameEnvironment.Alias, "AnB");
  EXPECT_EQ(g->HighscorePhase, 3);
  for (int i = 0; i < 40 && g->GameState == gsHighscore; ++i) g->SimulationStep(0);
  EXPECT_EQ(g->GameState, gsTitle);
}

TEST_F(GameLogicTest, KeysDriveTheStates) {
  uint32_t now = 1000;
  std::array<uint8_t, 256> keys{};
  TGameLogicSetup setup;
  setup.Clock = [&now] { return now; };
  setup.ReadKeys = [&keys](uint8_t k[256]) { std::memcpy(k, keys.data(), 256); };
  TGameLogic g(setup);
  g.NewSeed = [] { return 777u; };
  auto press = [&](uint8_t k) {
    keys[k] = 0x80;
    now += 20;
    g.DoFrame();
    keys[k] = 0;
    now += 20;
    g.DoFrame();
  };
  g.DoFrame();
  EXPECT_EQ(g.GameState, gsLoading);  // still loading: Space does nothing
  g.LoadProgress = 100;
  press(57);
  ASSERT_EQ(g.GameState, gsTitle);
  press(57);
  EXPECT_EQ(g.TitleAction, 3);
  for (int i = 0; i < 40 && g.GameState == gsTitle; ++i) {
    now += 20;
    g.DoFrame();
  }
  ASSERT_EQ(g.GameState, gsPlaying);
  for (int i = 0; i < 150; ++i) {
    now += 20;
    g.DoFrame();
  }
  ASSERT_TRUE(g.IsRunning());
  // P pauses: no steps run while paused.
  press(25);
  EXPECT_TRUE(g.PauseRequested);
  const int32_t t = g.GameTime;
  now += 200;
  g.DoFrame();
  EXPECT_EQ(g.GameTime, t);
  press(25);
  EXPECT_FALSE(g.PauseRequested);
  // Holding right walks and records the input.
  keys[205] = 0x80;
  keys[77] = 0x80;  // the keypad key of the same direction sets the same bit once
  for (int i = 0; i < 30; ++i) {
    now += 20;
    g.DoFrame();
  }
  keys.fill(0);
  EXPECT_GT(g.ReplayInput.TotalSteps, 30);
  // Esc leaves the level, saving its replay.
  press(1);
  EXPECT_EQ(g.GameState, gsTitle);
  EXPECT_EQ(TReplayPack(UserDataDir + kLastReplayName).Count(), 1);
  // Ctrl+P without a picture source only logs.
  keys[29] = 0x80;
  press(25);
  EXPECT_EQ(g.SnapshotCount, 0);
}

TEST_F(GameLogicTest, LasersFiresAndSight) {
  auto g = NewGame();
  FixtureLevel f = Room(12, 8);
  f.PX = 2, f.PY = 2;
  f.Set(5, 2, caFloor, 0, cfLaserLeft);  // a barrier on the edge between (4, 2) and (5, 2)
  f.Set(6, 5, caWall);
  f.Set(6, 4, caObstacle);
  f.Set(6, 3, caDoor);
  Load(*g, f);
  TQVGameLevel& lv = *g->Level;
  EXPECT_TRUE(lv.CrossesLaserEdge(4, 2, 0));
  EXPECT_TRUE(lv.CrossesLaserEdge(5, 2, 2));
  EXPECT_FALSE(lv.CrossesLaserEdge(5, 2, 0));
  // Off for values 50..0, on from -1: the switch happens when StepCount mod 125 reaches 51.
  lv.StepCount = 49;
  lv.Step();
  EXPECT_FALSE(lv.LaserOn);
  lv.Step();
  EXPECT_TRUE(lv.LaserOn);
  EXPECT_EQ(lv.LaserValue, -1);
  // A fire at (0, 0) burns from phase 51 to 159.
  lv.StepCount = 50;
  EXPECT_GE(lv.FireValue(0, 0), 0);
  lv.StepCount = 51;
  EXPECT_LT(lv.FireValue(0, 0), 0);
  lv.StepCount = 160;
  EXPECT_GE(lv.FireValue(0, 0), 0);
  // Sight: walls and closed doors block, obstacles do not.
  EXPECT_TRUE(lv.LineOfSight(3, 3, 0, 0));
  EXPECT_FALSE(lv.LineOfSight(3, 5, 5, 0));
  EXPECT_TRUE(lv.LineOfSight(3, 4, 5, 0));
  EXPECT_FALSE(lv.LineOfSight(3, 3, 5, 0));
  lv.Cell(6, 3).StateCounter = 13;
  EXPECT_TRUE(lv.LineOfSight(3, 3, 5, 0));
  // The player walking through a live barrier is hurt and thrown back.
  TGEPlayer* p = g->Player();
  lv.ClearOccupant(2, 2);
  p->X = 4;
  lv.SetOccupant(p, 4, 2);
  lv.StepCount = 60;  // lasers on
  lv.LaserOn = 1;
  for (int i = 0; i < 4; ++i) g->SimulationStep(1 | kInputRight);
  EXPECT_NEAR(p->Energy, 0.95f, 1e-6);
  EXPECT_TRUE(p->Returning);
  for (int i = 0; i < 6; ++i) g->SimulationStep(1);
  EXPECT_EQ(p->X, 4);
  EXPECT_FALSE(p->Walking);
}

TEST_F(GameLogicTest, TitleDrawsNoRandomNumberOutsideAStep) {
  auto g = NewGame();
  g->LoadProgress = 100;
  const uint32_t seed = RandSeed;
  g->SetState(gsTitle);
  EXPECT_EQ(RandSeed, seed);
  g->SimulationStep(0);
  EXPECT_NE(RandSeed, seed);
  EXPECT_NE(g->TitleBeams[0].X, 0.0f);
}

TEST_F(GameLogicTest, CigarettesHitOthersNotTheirThrower) {
  auto g = NewGame();
  FixtureLevel f = Room(14, 6);
  f.PX = 2, f.PY = 4;
  f.Enemies = {{3, 2, 0, {}}, {7, 2, 0, {}}};
  Load(*g, f);
  TGESmoker* thrower = Smoker(*g, 0);
  TGESmoker* other = Smoker(*g, 1);
  other->SmokeLevel = 0.5f;
  // Thrown from inside the thrower's own cell: it flies out and on to the other smoker.
  auto* cig = new TGECigarette(g.get(), 1.0f, 0, thrower->CenterY(), thrower->CenterX(), thrower);
  g->AddElement(5, cig);
  bool ended = false;
  for (int i = 0; i < 60 && !ended; ++i) ended = !cig->Update();
  ASSERT_TRUE(ended);
  g->GetList(5).pop_back();  // the logic would free it now
  EXPECT_FLOAT_EQ(thrower->SmokeLevel, 1.0f);
  EXPECT_NEAR(other->SmokeLevel, 0.7f, 1e-6);
  // A super-weapon shot meeting a cigarette flies on; an oxygen shot stops.
  TGESuperWeapon sw(g.get(), 2, 4.5f, 10.0f);
  sw.Hit(hkCigarette);
  EXPECT_TRUE(sw.Live);
  TGEOxygen ox(g.get(), 2, 4.5f, 10.0f);
  ox.Hit(hkCigarette);
  EXPECT_FALSE(ox.Live);
  // A smoker exactly 0.4 cells away on one axis is not hit.
  TGEOxygen near(g.get(), 2, other->CenterY() + 0.4f, other->CenterX() + 0.2f + 0.2f);
  near.Speed = 0;
  EXPECT_TRUE(near.Update());
}

}  // namespace

// A start level beyond the levels there are stays as stored when the settings load (a download
// can bring the level back); the game lowers it to the last level there is and carries the stored
// score and items into it.
TEST_F(GameLogicTest, AStartLevelBeyondTheLevelsStartsAtTheLastOneWithTheStoredProgress) {
  auto writeLevel = [](int number, int width) {
    const std::string plain = Room(width, 6).Bytes();
    TReadOnlyMemoryStream in(plain.data(), plain.size());
    TMemoryStream container;
    CompressLevelData(in, container);
    WriteAll(UserDataDir + std::to_string(number) + ".lvl",
             std::string(reinterpret_cast<const char*>(container.Memory()), static_cast<size_t>(container.GetSize())));
  };
  writeLevel(11, 7);
  writeLevel(12, 9);
  GameEnvironment.StartLevel = 13;
  GameEnvironment.StartScore = 4321;
  GameEnvironment.StartOptions[0] = 3;
  GameEnvironment.StartOptions[1] = 1;
  std::string error;
  ASSERT_TRUE(SaveEnvironmentFile(UserDataDir + "env.dat", GameEnvironment, error)) << error;
  DeleteFile(UserDataDir + "12.lvl");
  ResetEnvironment(GameEnvironment);
  LoadSettings();
  EXPECT_EQ(GameEnvironment.StartLevel, 13);
  EXPECT_EQ(GameEnvironment.StartScore, 4321);
  EXPECT_FALSE(FileExists(UserDataDir + "env.dat.damaged"));

  auto g = NewGame();
  EXPECT_EQ(g->LevelCount, 11);
  EXPECT_EQ(GameEnvironment.StartLevel, 11);
  g->StartGame();
  EXPECT_EQ(g->LevelNumber, 11);
  ASSERT_TRUE(g->Level);
  EXPECT_EQ(g->Level->Width, 7);  // the downloaded level 11 itself
  EXPECT_EQ(g->Score, 4321);
  EXPECT_EQ(g->StartOptions[0], 3);
  EXPECT_EQ(g->StartOptions[1], 1);
  g.reset();
  TGameEnvironment saved;  // what the level load saved
  ASSERT_TRUE(LoadEnvironmentFile(UserDataDir + "env.dat", saved));
  EXPECT_EQ(saved.StartLevel, 11);
  EXPECT_EQ(saved.StartScore, 4321);
  EXPECT_EQ(saved.StartOptions[0], 3);
}
