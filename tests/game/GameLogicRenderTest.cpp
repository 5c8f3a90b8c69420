// Every screen of the game draws on the fake device without faults, through a played level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
  TGameLogic& NewGame(TGameLogicSetup setup = {}) {
    MakeDevice();
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
  // One queued quad of the frame: its layer, texture and four corners.
  struct TQueued {
    int Layer, Texture;
    const TzrQuadVertex* V;
    float MinX() const { return std::min({V[0].x, V[1].x, V[2].x, V[3].x}); }
    float MaxX() const { return std::max({V[0].x, V[1].x, V[2].x, V[3].x}); }
    float MinY() const { return std::min({V[0].y, V[1].y, V[2].y, V[3].y}); }
    float MaxY() const { return std::max({V[0].y, V[1].y, V[2].y, V[3].y}); }
    float CX() const { return (MinX() + MaxX()) / 2; }
    float CY() const { return (MinY() + MaxY()) / 2; }
    bool Uses(const TzrD3DSprite* s) const {
      const float u0 = std::min({V[0].u, V[1].u, V[2].u, V[3].u}), u1 = std::max({V[0].u, V[1].u, V[2].u, V[3].u});
      const float v0 = std::min({V[0].v, V[1].v, V[2].v, V[3].v}), v1 = std::max({V[0].v, V[1].v, V[2].v, V[3].v});
      return s && Texture == s->TextureIndex && u0 == s->U0 && u1 == s->U1 && v0 == s->V0 && v1 == s->V1;
    }
    // Whether the picture is mirrored on screen: the texture's u and v axes, taken where they
    // lie on the screen, turn the other way round than x and y.
    bool Mirrored() const {
      auto at = [this](bool maxU, bool maxV) {
        const float u = maxU ? std::max({V[0].u, V[1].u, V[2].u, V[3].u}) : std::min({V[0].u, V[1].u, V[2].u, V[3].u});
        const float v = maxV ? std::max({V[0].v, V[1].v, V[2].v, V[3].v}) : std::min({V[0].v, V[1].v, V[2].v, V[3].v});
        for (int i = 0; i < 4; ++i)
          if (V[i].u == u && V[i].v == v) return V + i;
        return V;
      };
      const TzrQuadVertex *a = at(false, false), *b = at(true, false), *c = at(false, true);
      return (b->x - a->x) * (c->y - a->y) - (b->y - a->y) * (c->x - a->x) < 0;
    }
  };
  // Draws one frame of the current state into the quad renderer (not flushed) and lists it.
  std::vector<TQueued> Frame() {
    TzrD3DQuadRenderer& r = *Game->Graphics->QuadRenderer;
    r.Reset();
    Game->RenderScene();
    std::vector<TQueued> out;
    for (int i = 0; i < r.BucketIndex.Count; ++i) {
      const int32_t key = r.BucketIndex.GetKey(i);
      const auto& b = r.Buckets[size_t(r.BucketIndex.GetValue(i))];
      for (int q = b.First; q >= 0; q = r.Quads[size_t(q)].Next)
        out.push_back({key >> 8, key & 255, r.Quads[size_t(q)].Vertices});
    }
    return out;
  }
  // The black overlay: a quad of the whole screen on layer 0.
  static const TQueued* Overlay(const std::vector<TQueued>& quads) {
    for (const TQueued& q : quads)
      if (q.Layer == 0 && q.MinX() == -0.5f && q.MinY() == -0.5f && q.MaxX() == 799.5f && q.MaxY() == 599.5f) return &q;
    return nullptr;
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

// The title and the level-jump picture fade in from black: the overlay's alpha is 1 - Fade.
TEST_F(GameLogicRender, FadeOverlayHidesThePictureOnlyWhileFadedOut) {
  TGameLogic& g = NewGame();
  struct Case {
    bool LevelJump;
    float Fade;
    int Alpha;  // -1: no overlay
  } cases[] = {{false, 1.0f, -1}, {false, 0.0f, 255}, {false, 0.25f, 192},
               {true, 1.0f, -1},  {true, 0.0f, 255},  {true, 0.75f, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.LevelJump ? "level jump" : "title") << " at fade " << c.Fade);
    if (c.LevelJump) {
      Load(Room(12, 10));
      g.SetState(gsLevelEnd);
      g.LevelJumpShown = true;
    } else {
      g.SetState(gsTitle);
    }
    g.SetFade(c.Fade);
    const std::vector<TQueued> quads = Frame();
    const TQueued* o = Overlay(quads);
    if (c.Alpha < 0) {
      EXPECT_EQ(o, nullptr);
    } else {
      ASSERT_NE(o, nullptr);
      for (int i = 0; i < 4; ++i) EXPECT_EQ(o->V[i].color, static_cast<uint32_t>(c.Alpha) << 24);
    }
  }
}

// The highscore rows swing in and then stay: the named row, its name and the "_" after it are on
// the screen while the name is typed.
TEST_F(GameLogicRender, HighscoreRowsStayOnTheScreen) {
  TGameLogic& g = NewGame();
  GameEnvironment.Highscores[0] = {"OLDTIMER", 9000};
  GameEnvironment.Alias = "ABC";
  g.SetState(gsTitle);
  g.Score = 5000;
  g.EndGame(false);
  ASSERT_EQ(g.GameState, gsHighscore);
  ASSERT_EQ(g.HighscorePos, 1);
  const TzrD3DSprite* underscore = g.Graphics->Glyphs[size_t(TGameGraphics::GetGlyphIndex('_'))];
  auto check = [&](const char* when, size_t rowsOnScreen) {
    SCOPED_TRACE(when);
    const std::vector<TQueued> quads = Frame();
    size_t pink = 0, rows = 0;
    bool typed = false;
    for (const TQueued& q : quads) {
      if (q.Layer != 5000000) continue;  // the glyphs
      const bool onScreen = q.MinX() >= -0.5f && q.MaxX() <= 800 && q.MinY() >= -0.5f && q.MaxY() <= 600;
      if (q.V[0].color == 0xFFFF80C0u) {
        ++pink;
        EXPECT_TRUE(onScreen) << q.MinX() << "," << q.MinY();
        EXPECT_NEAR(q.CY(), 190, 20);
        if (q.Uses(underscore)) {
          typed = true;
          EXPECT_GT(q.MinX(), 190 + 3 * 20);  // after the three letters of the name
        }
      }
      // The numbers of the rows, right-aligned at x 170.
      if (q.MaxX() <= 171 && q.MaxX() > 150 && q.CY() > 130 && q.CY() < 540) ++rows;
    }
    EXPECT_EQ(pink, std::string("2ABC_5000").size());
    EXPECT_TRUE(typed);
    EXPECT_EQ(rows, rowsOnScreen);
  };
  // Half-way through the count-up the first rows have arrived (phase 2.5: rows 0 to 3 settled).
  for (int i = 0; i < 50; ++i) g.SimulationStep(0);
  ASSERT_EQ(g.HighscorePhase, 0);
  check("count-up", 4);
  for (int i = 0; i < 200 && g.HighscorePhase == 0; ++i) g.SimulationStep(0);
  ASSERT_EQ(g.HighscorePhase, 1);
  check("name entry", 10);
}

// Pick-ups, fires and floors of the level as they are drawn.
TEST_F(GameLogicRender, LevelCellsDrawTheirPictures) {
  TGameLogic& g = NewGame();
  FixtureLevel f = Room(14, 10);
  f.PX = 2, f.PY = 2;
  f.Set(3, 2, caOption1);
  f.Set(5, 2, caOption2);
  f.At(7, 2)[0] = 0;  // no floor
  f.Set(3, 4, caFire, 0, cfTurned);
  f.Set(5, 4, caFire);
  Load(f);
  g.Level->StepCount = 100;  // both fires burn at full height
  g.SetFade(1.0f);
  const std::vector<TQueued> quads = Frame();
  TGameGraphics& gr = *g.Graphics;
  const float bx = static_cast<float>(static_cast<int>((0 - g.CameraX) * 84));
  const float by = static_cast<float>(static_cast<int>((0 - g.CameraY) * 84));
  auto count = [&](const TzrD3DSprite* s, int layer, float x, float y) {
    int n = 0;
    for (const TQueued& q : quads)
      n += q.Layer == layer && q.Uses(s) && std::fabs(q.CX() - x) < 2 && std::fabs(q.CY() - y) < 2;
    return n;
  };
  // Code 10: the heart of the beat's frame; code 11: the super weapon's sprite 21.
  const TzrD3DSprite* heart = gr.GetSetFrame(2, (g.Level->StepCount / 4) & 7);
  EXPECT_EQ(count(heart, 3000500, bx + 84 * 3 + 42, by + 84 * 2 + 42), 1);
  EXPECT_EQ(count(gr.GetSprite(21), 3000500, bx + 84 * 3 + 42, by + 84 * 2 + 42), 0);
  EXPECT_EQ(count(gr.GetSprite(21), 3000500, bx + 84 * 5 + 42, by + 84 * 2 + 42), 1);
  // Floor byte 0: the void tile, frame 0, in its place.
  const TzrD3DSprite* voidTile = gr.GetSetFrame(1, 0);
  EXPECT_EQ(count(voidTile, 1000, bx + 84 * 7 + 2 + 42 - 0.5f, by + 84 * 2 - 14 + 42 - 0.5f), 1);
  // Fires: every piece of the turned one is mirrored, none of the other.
  int pieces[2] = {}, mirrored[2] = {};
  const float split = bx + 84 * 4 + 36;
  for (const TQueued& q : quads) {
    const bool fire = q.Layer == 3001000 || q.Uses(gr.GetSprite(26)) || q.Uses(gr.GetSprite(27));
    if (!fire || q.CY() < by + 84 * 3 || q.CY() > by + 84 * 6) continue;
    const int i = q.CX() < split ? 0 : 1;
    ++pieces[i];
    mirrored[i] += q.Mirrored();
  }
  EXPECT_EQ(pieces[0], 9);  // the glow, seven flames and the embers
  EXPECT_EQ(mirrored[0], 9);
  EXPECT_EQ(pieces[1], 9);
  EXPECT_EQ(mirrored[1], 0);
}

// The level-end values: a level won after its time limit counts a negative time left.
TEST_F(GameLogicRender, LevelEndShowsSecondsOverTheLimit) {
  TGameLogic& g = NewGame();
  FixtureLevel f = Room(12, 10);
  f.PX = 2, f.PY = 2;
  f.TimeLimit = 90;
  Load(f);
  g.GameTime = 99980;
  g.Player()->Done = 1;
  g.Player()->Won = 1;
  const int32_t score = g.Score;
  g.SimulationStep(0);
  ASSERT_EQ(g.GameState, gsLevelEnd);
  EXPECT_EQ(g.Score, score);  // no time bonus
  g.EndPhase = 3;
  const TzrD3DSprite* minus = g.Graphics->Glyphs[size_t(TGameGraphics::GetGlyphIndex('-'))];
  int minusInBonus = 0;
  for (const TQueued& q : Frame()) minusInBonus += q.Uses(minus) && q.MinX() >= 399 && std::fabs(q.CY() - 390) < 30;
  EXPECT_EQ(minusInBonus, 1);  // "-100"
}

// The cigarette of the loading screen lies under "LOADING", not on the screen's top edge.
TEST_F(GameLogicRender, LoadingBarSitsUnderTheText) {
  TGameLogic& g = NewGame();
  g.LoadProgress = 40;
  int bar = 0;
  for (const TQueued& q : Frame())
    if (q.Layer == 0x7F0000) {
      ++bar;
      EXPECT_EQ(q.MinY(), 290);
      EXPECT_EQ(q.MaxY(), 310);
    }
  EXPECT_EQ(bar, 3);
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

// Each pass of the frame loop first has the device finish the frame it presented in the pass
// before (one read of a back-buffer pixel), then steps and draws: when stepping, when paused
// and in the credits alike.
TEST_F(GameLogicRender, EachPassFinishesTheLastFrameFirst) {
  uint32_t now = 1000;
  TGameLogicSetup setup;
  setup.Clock = [&now] { return now; };
  setup.ReadKeys = [](uint8_t k[256]) { std::fill(k, k + 256, 0); };
  TGameLogic& g = NewGame(setup);
  auto pass = [&](const char* what) {
    SCOPED_TRACE(what);
    now += 20;
    Fake.ClearRecords();
    g.DoFrame();
    std::vector<size_t> flushes, scenes;
    for (size_t i = 0; i < Fake.Calls.size(); ++i) {
      const TFakeD3DCall& c = Fake.Calls[i];
      if (c.Name == "BackBuffer.LockRect" && c.Args.size() == 6 && c.Args[3] == 1 && c.Args[4] == 1) flushes.push_back(i);
      if (c.Name == "BeginScene") scenes.push_back(i);
    }
    ASSERT_EQ(flushes.size(), 1u);
    ASSERT_EQ(scenes.size(), 1u);
    EXPECT_LT(flushes[0], scenes[0]);
    EXPECT_EQ(Fake.CountCalls("Present"), 1);
  };
  g.SetState(gsTitle);
  g.LastStepTime = now;
  for (int i = 0; i < 3; ++i) pass("title");
  EXPECT_EQ(g.StepCounter, 3);
  Load(Room(12, 10));
  pass("playing");
  g.PauseRequested = true;
  const int32_t steps = g.LevelSteps;
  for (int i = 0; i < 3; ++i) pass("paused");
  EXPECT_EQ(g.LevelSteps, steps);
  g.SetState(gsCredits);
  for (int i = 0; i < 3; ++i) pass("credits");
  EXPECT_LT(g.CreditsX, 800.0f);
}

// Every cigarette, flying or in a smoker's hand, is drawn in one piece: its paper runs on from
// the filter along the filter's line. With shadows on it casts the shadow of its burn index: 20
// pixels right of and 7 above its filter, turned with it, on layer 46001 in the shadows' grey.
// Without shadows there is none.
TEST_F(GameLogicRender, CigarettesAreWholeAndCastTheirShadows) {
  TGameLogic& g = NewGame();
  FixtureLevel f = Room(14, 10);
  f.PX = 2, f.PY = 2;
  f.Enemies = {{7, 7, 2, {}}};
  Load(f);
  g.SetFade(1.0f);
  auto* smoker = static_cast<TGESmoker*>(g.GetList(1)[0].get());
  smoker->SetSmokeLevel(0.5f);
  smoker->NextThrowStep = smoker->StepCount;  // a lit cigarette in the hand
  const float levels[4] = {1.0f, 0.7f, 0.3f, 0.0f};
  std::vector<int32_t> burn;
  for (uint8_t d = 0; d < 4; ++d) {
    auto* c = new TGECigarette(&g, levels[d], d, 4.5f, 3.5f + 2 * d, smoker);
    g.AddElement(5, c);
    burn.push_back(c->BurnIndex);
  }
  burn.push_back(static_cast<int32_t>((1 - smoker->SmokeLevel) * 9));
  EXPECT_EQ(burn, (std::vector<int32_t>{0, 2, 6, 9, 4}));
  TGameGraphics& gr = *g.Graphics;
  for (bool on : {true, false}) {
    SCOPED_TRACE(on ? "shadows" : "no shadows");
    gr.ShadowsEnabled = on;
    const std::vector<TQueued> quads = Frame();
    // The point a cigarette piece is drawn at: the middle of its left edge (both pivots).
    auto anchor = [](const TQueued& q) { return TzrVector2{(q.V[0].x + q.V[3].x) / 2, (q.V[0].y + q.V[3].y) / 2}; };
    std::vector<const TQueued*> filters, shadows;
    for (const TQueued& q : quads) {
      if (q.Uses(gr.GetSprite(18))) filters.push_back(&q);
      for (const TzrD3DSprite* s : gr.CigaretteShadows) shadows.push_back(q.Uses(s) ? &q : nullptr);
    }
    shadows.erase(std::remove(shadows.begin(), shadows.end(), nullptr), shadows.end());
    ASSERT_EQ(filters.size(), 5u);
    ASSERT_EQ(shadows.size(), on ? 5u : 0u);
    std::vector<int32_t> seen;
    for (const TQueued* fq : filters) {
      const TzrVector2 a = anchor(*fq);
      // The paper's middle lies on the filter's axis, 19 to 19 + 40 pixels on from the filter.
      const float fa = std::atan2(fq->V[1].y - fq->V[0].y, fq->V[1].x - fq->V[0].x);
      int papers = 0;
      for (const TQueued& q : quads) {
        if (!q.Uses(gr.GetSprite(19))) continue;
        const float dx = q.CX() - a.x, dy = q.CY() - a.y;
        const float along = dx * std::cos(fa) + dy * std::sin(fa), across = -dx * std::sin(fa) + dy * std::cos(fa);
        papers += std::fabs(across) < 1.5f && along > 19 && along < 19 + 40;
      }
      EXPECT_EQ(papers, 1) << a.x << "," << a.y;
      const TQueued* sq = nullptr;
      for (const TQueued* s : shadows) {
        const TzrVector2 b = anchor(*s);
        if (std::fabs(b.x - a.x - 20) < 0.01f && std::fabs(b.y - a.y + 7) < 0.01f) sq = s;
      }
      if (!on) continue;
      ASSERT_NE(sq, nullptr) << a.x << "," << a.y;
      EXPECT_EQ(sq->Layer, 46001);
      for (int i = 0; i < 4; ++i) EXPECT_EQ(sq->V[i].color, 0xA0A0A0A0u);
      // Turned with the cigarette: the top edges run the same way.
      const float sa = std::atan2(sq->V[1].y - sq->V[0].y, sq->V[1].x - sq->V[0].x);
      EXPECT_NEAR(std::remainder(fa - sa, 2 * static_cast<float>(M_PI)), 0.0f, 1e-4f);
      for (int32_t k = 0; k < 10; ++k)
        if (sq->Uses(gr.GetCigaretteShadow(k))) seen.push_back(k);
    }
    if (on) {
      std::sort(seen.begin(), seen.end());
      EXPECT_EQ(seen, (std::vector<int32_t>{0, 2, 4, 6, 9}));
    }
  }
}

// A cigarette's smoke leaves its glowing tip as the frame draws it, flying or in a smoker's hand
// (facing each way, turning, taking a puff): the newest particle lies on the drawn cigarette's
// axis at the tip, within the trail's spread. A puff draws the cigarette back along that axis
// towards the smoker, by the frame's pull.
TEST_F(GameLogicRender, CigaretteSmokeLeavesTheDrawnTip) {
  TGameLogic& g = NewGame();
  FixtureLevel f = Room(14, 10);
  f.PX = 2, f.PY = 2;
  f.Enemies = {{7, 6, 2, {}}};
  struct Case {
    const char* Name;
    bool Held;
    uint8_t Dir;
    float Angle, Level;
    int32_t Puff, Pull;  // the puff's steps left, and the pull of the frame it shows after a step
  } cases[] = {
      {"flying right", false, 0, 0, 1.0f, 0, 0},   {"flying up", false, 1, 1, 0.7f, 0, 0},
      {"flying left", false, 2, 2, 0.3f, 0, 0},    {"flying down", false, 3, 3, 0.1f, 0, 0},
      {"held right", true, 0, 0, 1.0f, 0, 0},      {"held up", true, 1, 1, 0.5f, 0, 0},
      {"held left", true, 2, 2, 0.8f, 0, 0},       {"held down", true, 3, 3, 0.2f, 0, 0},
      {"held turning", true, 1, 0.2f, 0.6f, 0, 0}, {"held in a puff", true, 0, 0, 1.0f, 27, 3},
      {"held up in a puff", true, 1, 1, 0.9f, 36, 2},
  };
  TGameGraphics& gr = *g.Graphics;
  // Where a piece is drawn: the middle of its left edge, back from the quads' half-pixel shift.
  auto anchor = [](const TQueued& q) {
    return TzrVector2{(q.V[0].x + q.V[3].x) / 2 + 0.5f, (q.V[0].y + q.V[3].y) / 2 + 0.5f};
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    g.ClearLevel();
    Load(f);
    g.SetFade(1.0f);
    auto* smoker = static_cast<TGESmoker*>(g.GetList(1)[0].get());
    if (c.Held) {
      smoker->SetSmokeLevel(c.Level);
      smoker->Direction = c.Dir;
      smoker->TargetAngle = static_cast<float>(c.Dir);
      smoker->Angle = c.Angle;
    } else {
      g.AddElement(5, new TGECigarette(&g, c.Level, c.Dir, 4.5f, 6.5f, smoker));
    }
    const int32_t burn = c.Held ? static_cast<int32_t>((1 - smoker->SmokeLevel) * 9)
                                : static_cast<const TGECigarette*>(g.GetList(5)[0].get())->BurnIndex;
    bool checked = false;
    for (int step = 0; step < 8 && !checked; ++step) {
      // Held: lit, and kept from walking or throwing (a rest, or the puff).
      smoker->NextThrowStep = smoker->StepCount + (c.Held ? 5 : 1000);
      smoker->RestTimer = c.Puff ? 0 : 100;
      if (c.Puff) smoker->PuffTimer = c.Puff, smoker->Exhaled = 0;
      const int32_t before = g.Smoke->ActiveCount;
      g.SimulationStep(1);
      if (g.Smoke->ActiveCount != before + 1) continue;
      checked = true;
      const std::vector<TQueued> quads = Frame();
      const TQueued* tip = nullptr;
      const TQueued* filter = nullptr;
      int tips = 0;
      for (const TQueued& q : quads) {
        if (q.Uses(gr.GetCigaretteTip(burn + 1))) tip = &q, ++tips;
        if (q.Uses(gr.GetSprite(18))) filter = &q;
      }
      ASSERT_EQ(tips, 1);
      ASSERT_NE(filter, nullptr);
      const float fa = std::atan2(tip->V[1].y - tip->V[0].y, tip->V[1].x - tip->V[0].x);
      const float ax = std::cos(fa), ay = std::sin(fa);
      const TSmokeParticle& p = g.Smoke->Particles[size_t(g.Smoke->Active)];
      const float dx = p.X - g.CameraX * 84 - anchor(*tip).x;
      const float dy = p.Y - g.CameraY * 84 - anchor(*tip).y;
      // The spread is at most 2 pixels on each axis; the first smoke step moves it under one more.
      EXPECT_LE(std::fabs(dx * ax + dy * ay), 3.0f) << "along the axis, off the tip";
      EXPECT_LE(std::fabs(-dx * ay + dy * ax), 3.0f) << "beside the cigarette";
      if (!c.Puff) continue;
      // The same frame without the puff: the filter lies the pull further on along the axis.
      const TzrVector2 pulled = anchor(*filter);
      const int32_t puff = smoker->PuffTimer;
      smoker->PuffTimer = 0;
      TzrVector2 still{0, 0};
      for (const TQueued& q : Frame())
        if (q.Uses(gr.GetSprite(18))) still = anchor(q);
      smoker->PuffTimer = puff;
      const float hx = pulled.x - still.x, hy = pulled.y - still.y;
      EXPECT_NEAR(hx * ax + hy * ay, -float(c.Pull), 1e-3f) << "back towards the smoker";
      EXPECT_NEAR(-hx * ay + hy * ax, 0.0f, 1e-3f) << "along the cigarette";
    }
    EXPECT_TRUE(checked) << "the cigarette smoked";
  }
}

// "PAUSED" stands above the scene and the screen's texts: nothing that lies under one of its
// letters (walls, the player, the level's number while it zooms in) is drawn after it.
TEST_F(GameLogicRender, PausedTextStaysAboveTheScene) {
  TGameLogic& g = NewGame();
  FixtureLevel f = Room(13, 14);  // the view stops at the right wall: the player stands under the "E"
  f.PX = 9, f.PY = 6;
  for (int x = 1; x <= 11; ++x)
    if (x != 9) f.Set(x, 6, caWall);
  for (int phase : {3, 1}) {
    SCOPED_TRACE(testing::Message() << "level phase " << phase);
    Load(f);
    g.PlayPhase = phase;
    g.StepCounter = 70;
    g.SetFade(1.0f);
    g.PauseRequested = true;
    const std::vector<TQueued> quads = Frame();
    std::vector<size_t> letters;
    for (size_t i = 0; i < quads.size(); ++i)
      for (char c : std::string("PAUSED"))
        if (quads[i].Uses(g.Graphics->Glyphs[size_t(TGameGraphics::GetGlyphIndex(c))]) &&
            std::fabs(quads[i].MaxY() - quads[i].MinY() - 98) < 1)
          letters.push_back(i);
    ASSERT_EQ(letters.size(), 6u);
    int under = 0;
    for (size_t l : letters) {
      const TQueued& t = quads[l];
      for (size_t i = 0; i < quads.size(); ++i) {
        const TQueued& q = quads[i];
        if (q.MinX() >= t.MaxX() || q.MaxX() <= t.MinX() || q.MinY() >= t.MaxY() || q.MaxY() <= t.MinY() || i == l) continue;
        ++under;
        EXPECT_LT(i, l) << "layer " << q.Layer << " texture " << q.Texture << " at " << q.CX() << "," << q.CY();
      }
    }
    EXPECT_GT(under, 6);
    g.SetState(gsTitle);
  }
}

}  // namespace
