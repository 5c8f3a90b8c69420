// Every screen of the game draws on the fake device without faults, through a played level.
#include <gtest/gtest.h>

#include <random>

#include "LevelFixture.h"
#include "base/Random.h"
#include "base/Streams.h"
#include "engine/D3DTestSupport.h"
#include "game/GameGraphics.h"
#include "game/GameLogic.h"
#include "game/KTGlobal.h"
#include "game/LevelData.h"
#include "game/Options.h"
#include "game/SmokeSystem.h"

namespace {

class GameLogicRender : public D3DFakeTest {
protected:
  void SetUp() override {
    D3DFakeTest::SetUp();
    UserDataDir = TestDir();
    ResetEnvironment(GameEnvironment);
    GameEnvironment.GraphicsDetail = 1;
    GameEnvironment.SmokeDensity = 3;
  }
  void TearDown() override {
    Game.reset();
    D3DFakeTest::TearDown();
  }
  // A game on the fake device with every texture loaded.
  TGameLogic& NewGame() {
    MakeDevice();
    TGameLogicSetup setup;
    setup.Device = Dev.get();
    Game = std::make_unique<TGameLogic>(setup);
    Game->NewSeed = [] { return 99u; };
    Game->Start();
    return *Game;
  }
  // An open room with a wall ring; floor frame 1 everywhere.
  static FixtureLevel Room(int w, int h) {
    FixtureLevel f(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        f.At(x, y)[0] = 1;
        if (x == 0 || y == 0 || x == w - 1 || y == h - 1) f.Set(x, y, caWall);
      }
    return f;
  }
  void Load(const FixtureLevel& f) {
    TStringStream plain(f.Bytes());
    TMemoryStream container;
    CompressLevelData(plain, container);
    container.SetPosition(0);
    Game->SetState(gsPlaying);
    Game->LoadLevelFrom(container);
    Game->PlayPhase = 3;
  }
  std::unique_ptr<TGameLogic> Game;
};

TEST_F(GameLogicRender, EveryStateDrawsAFrame) {
  UserDataDir = TestDir();
  ResetEnvironment(GameEnvironment);
  GameEnvironment.GraphicsDetail = 1;
  GameEnvironment.SmokeDensity = 3;
  MakeDevice();
  {
    TGameLogicSetup setup;
    setup.Device = Dev.get();
    TGameLogic g(setup);
    g.NewSeed = [] { return 99u; };
    g.Start();
    EXPECT_EQ(g.LoadProgress, 100);
    g.Render();
    g.SetState(gsTitle);
    for (int i = 0; i < 120; ++i) g.SimulationStep(0);
    g.Render();
    g.StartGame();
    std::mt19937 rng(5);
    size_t presents = Calls("Present").size();
    for (int i = 0; i < 1500; ++i) {
      g.SimulationStep(1 | (kInputRight << (rng() % 4)) | (rng() % 3 ? kInputFire : 0));
      if (i % 50 == 0) g.Render();
    }
    EXPECT_GT(Calls("Present").size(), presents);
    g.Player()->Done = 1;
    g.SimulationStep(0);
    EXPECT_EQ(g.GameState, gsLevelEnd);
    for (int i = 0; i < 200; ++i) g.SimulationStep(0);
    g.Render();
    g.Score = 5000;
    g.EndGame(true);
    EXPECT_EQ(g.GameState, gsHighscore);
    for (int i = 0; i < 100; ++i) g.SimulationStep(0);
    g.Render();
    g.SetState(gsCredits);
    g.Render();
  }
}

// Drawing only reads: frames without steps leave the game, its elements and the level as they
// were, even with hearts, sparkles and a spinning counter that are due to change.
TEST_F(GameLogicRender, FramesWithoutStepsChangeNothing) {
  TGameLogic& g = NewGame();
  FixtureLevel f = Room(10, 8);
  f.PX = 3, f.PY = 3;
  f.Set(4, 3, caEnergy);
  f.Enemies = {{6, 4, 2, {}}};
  Load(f);
  auto* smoker = static_cast<TGESmoker*>(g.GetList(1)[0].get());
  smoker->Hit(hkHeart);
  ASSERT_TRUE(smoker->Converted);
  for (int i = 0; i < 30; ++i) g.SimulationStep(1);
  ASSERT_GT(smoker->Hearts.Count(), 0);
  // A heart and a sparkle whose time is up: the next step drops them, a frame must not.
  smoker->Hearts.Get(smoker->Hearts.Add())->Expiry = static_cast<float>(smoker->StepCount - 1);
  g.Level->Sparkles.Get(g.Level->Sparkles.Add())->Expiry = static_cast<float>(g.Level->StepCount - 1);
  TGEOption* hearts = g.Option(0);
  hearts->Add(3);
  ASSERT_TRUE(hearts->Select());
  TGEOption* super = g.Option(1);
  super->Spin = 2.0f;  // winding down
  const uint64_t digest = GameStateDigest(g);
  const int32_t heartCount = smoker->Hearts.Count(), sparkleCount = g.Level->Sparkles.Count();
  const float spin[2] = {hearts->Spin, super->Spin}, alpha[2] = {hearts->Alpha, super->Alpha};
  const uint32_t seed = RandSeed;
  for (int i = 0; i < 20; ++i) g.Render();
  EXPECT_EQ(GameStateDigest(g), digest);
  EXPECT_EQ(smoker->Hearts.Count(), heartCount);
  EXPECT_EQ(g.Level->Sparkles.Count(), sparkleCount);
  EXPECT_EQ(hearts->Spin, spin[0]);
  EXPECT_EQ(super->Spin, spin[1]);
  EXPECT_EQ(hearts->Alpha, alpha[0]);
  EXPECT_EQ(super->Alpha, alpha[1]);
  EXPECT_EQ(RandSeed, seed);
  // The step does what the frames did before: the spent records go, the counters turn.
  g.SimulationStep(1);
  for (int32_t i = 0; i < smoker->Hearts.Count(); ++i)
    EXPECT_GE(smoker->Hearts.Get(i)->Expiry, static_cast<float>(smoker->StepCount));
  EXPECT_EQ(g.Level->Sparkles.Count(), sparkleCount - 1);
  EXPECT_NE(hearts->Spin, spin[0]);
  EXPECT_LT(super->Spin, spin[1]);
}

// Each level starts its smoke clock and the smoke tick afresh, whatever ran before it.
TEST_F(GameLogicRender, SmokeTimingStartsWithTheLevel) {
  TGameLogic& g = NewGame();
  g.SetState(gsTitle);
  for (int i = 0; i < 37; ++i) g.SimulationStep(0);
  ASSERT_GT(g.Smoke->Clock, 0);
  Load(Room(10, 8));
  EXPECT_EQ(g.Smoke->Clock, 0);
  EXPECT_EQ(g.Smoke->Throttle, 0);
  EXPECT_FALSE(g.SmokeTick);
  EXPECT_EQ(g.SmokeTickCounter, 0);
}

}  // namespace
