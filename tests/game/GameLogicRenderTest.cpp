// Every screen of the game draws on the fake device without faults, through a played level.
#include <gtest/gtest.h>

#include <random>

#include "engine/D3DTestSupport.h"
#include "game/GameGraphics.h"
#include "game/GameLogic.h"
#include "game/KTGlobal.h"
#include "game/Options.h"

namespace {

class GameLogicRender : public D3DFakeTest {};

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

}  // namespace
