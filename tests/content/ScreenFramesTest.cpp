// Screens as a player sees them, in the real game window (SDL offscreen, Mesa's software GL),
// written to build/test-frames/ as PNG for people to look at: the title with its picture once
// the fade is over, the highscore screen while a name is typed, the pick-ups, fires and a cell
// without floor of a small level, cigarettes with their shadows, cigarette smoke, and a paused
// level.
#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "ContentSupport.h"
#include "base/Bitmap.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/GameGraphics.h"
#include "game/GameLogic.h"
#include "game/GameWindow.h"
#include "game/KTGlobal.h"
#include "game/LevelData.h"
#include "game/LevelFixture.h"
#include "game/Options.h"
#include "game/OptionsDialog.h"
#include "game/SmokeSystem.h"
#include "support/TestSupport.h"

namespace {

class ScreenFrames : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    Dir = TestDir();
    UserDataDir = Dir;
    CommonDataDir = Dir + "common/";
    ForceDirectories(CommonDataDir);
    SetLogFile(Dir + "qv.log");
    ResetSettings();
    D3D = std::make_unique<TzrD3D8>();
    Options = std::make_unique<TGameOptionsDialog>(D3D.get());
    Options->FormCreate();
    GameEnvironment.DisplayMode = dmWindow;
    GameEnvironment.MusicVolume = 0;  // no music caches to decode
  }
  void TearDown() override {
    Options.reset();
    D3D.reset();
    SetLogFile("");
  }
  static void Save(const std::vector<uint8_t>& rgb, const std::string& name) {
    const std::string dir = std::string(KT_BINARY_DIR) + "/test-frames/";
    ForceDirectories(dir);
    content::WritePngRgb(dir + name, 800, 600, rgb);
  }
  // Mean of each channel over a rectangle of an 800 x 600 RGB picture.
  static std::array<double, 3> Mean(const std::vector<uint8_t>& rgb, int l, int t, int r, int b) {
    std::array<double, 3> sum{};
    for (int y = t; y < b; ++y)
      for (int x = l; x < r; ++x)
        for (int c = 0; c < 3; ++c) sum[size_t(c)] += rgb[(size_t(y) * 800 + size_t(x)) * 3 + size_t(c)];
    for (double& s : sum) s /= double((r - l) * (b - t));
    return sum;
  }

  // A room of w x h with a white floor and a wall ring.
  static FixtureLevel WhiteRoom(int w, int h) {
    FixtureLevel f(w, h);
    for (int y = 0; y < f.H; ++y)
      for (int x = 0; x < f.W; ++x) {
        FixtureLevel::Cell& c = f.At(x, y);
        c[0] = 5;
        std::fill(c.begin() + 1, c.begin() + 33, 0xFF);  // white floor and object colours
        if (x == 0 || y == 0 || x == f.W - 1 || y == f.H - 1) f.Set(x, y, caWall, 4);
      }
    return f;
  }
  // The same room with a dark floor, where smoke shows.
  static FixtureLevel DarkRoom(int w, int h) {
    FixtureLevel f = WhiteRoom(w, h);
    for (int y = 1; y < f.H - 1; ++y)
      for (int x = 1; x < f.W - 1; ++x)
        for (int i = 1; i < 33; ++i) f.At(x, y)[size_t(i)] = i % 4 == 0 ? 0xFF : 0x38;  // opaque dark grey
    return f;
  }
  static void Load(TGameLogic& g, const FixtureLevel& f) {
    TStringStream plain(f.Bytes());
    TMemoryStream container;
    CompressLevelData(plain, container);
    container.SetPosition(0);
    g.SetState(gsPlaying);
    g.LoadLevelFrom(container);
    g.PlayPhase = 3;
    g.SetFade(1.0f);
  }
  // Runs a game window on a level: `start` once the level is loaded, `shoot` some passes later
  // (it takes its pictures then); each pass is one 20 ms step.
  void WithLevel(const FixtureLevel& f, const std::function<void(TGameLogic&)>& start,
                 const std::function<void(TfrmGame&, TGameLogic&)>& shoot, int64_t passes = 2) {
    TzrD3DMode mode;
    GetSelectedDisplayMode(D3D.get(), mode);
    auto w = TfrmGame::CreateGame(nullptr, 0, IsWindowed(), FindSelectedDevice(D3D.get()), mode, 0);
    uint32_t now = 1000;
    w->Clock = [&now] { return now; };
    w->ReadKeys = [](uint8_t k[256]) { std::fill(k, k + 256, 0); };
    int64_t pass = 0, loaded = -1;
    w->OnIdle = [&] {
      ++pass;
      now += 20;
      TGameLogic& g = *w->Logic;
      if (pass > 5000) {
        ADD_FAILURE() << "stuck in state " << int(g.GameState);
        w->Close();
      } else if (g.GameState == gsLoading) {
        g.SetState(gsTitle);
      } else if (g.GameState == gsTitle && loaded < 0) {
        Load(g, f);
        start(g);
        loaded = pass;
      } else if (loaded >= 0 && pass == loaded + passes) {
        shoot(*w, g);
        w->Close();
      }
    };
    w->ShowModal();
  }
  // Mean brightness of the 3 x 3 pixels around (x, y).
  static double Brightness(const std::vector<uint8_t>& rgb, float x, float y) {
    const auto m = Mean(rgb, int(x) - 1, int(y) - 1, int(x) + 2, int(y) + 2);
    return (m[0] + m[1] + m[2]) / 3;
  }

  std::string Dir;
  std::unique_ptr<TzrD3D8> D3D;
  std::unique_ptr<TGameOptionsDialog> Options;
};

TEST_F(ScreenFrames, TitleAndHighscoreWithANameBeingTyped) {
  TzrD3DMode mode;
  GetSelectedDisplayMode(D3D.get(), mode);
  ASSERT_NE(FindSelectedDevice(D3D.get()), nullptr);
  auto w = TfrmGame::CreateGame(nullptr, 0, IsWindowed(), FindSelectedDevice(D3D.get()), mode, 0);
  uint32_t now = 1000;
  std::array<uint8_t, 256> keys{};
  w->Clock = [&now] { return now; };
  w->ReadKeys = [&keys](uint8_t k[256]) {
    for (int i = 0; i < 256; ++i) k[i] = keys[size_t(i)];
  };
  GameEnvironment.Alias = "";
  // Loading -> Space -> title (snapshot once the first page text is up) -> Space: level 1 ->
  // the player is beaten with 5000 points -> Space -> highscore: type "KESTRUNE" (snapshot) ->
  // Enter -> title -> Esc -> credits -> Esc.
  const uint8_t name[] = {37, 18, 31, 20, 19, 22, 49, 18};  // K E S T R U N E
  std::vector<uint8_t> title, table;
  size_t typed = 0;
  int64_t pass = 0, wait = 0;
  w->OnIdle = [&] {
    ++pass;
    now += 20;
    keys.fill(0);
    const uint8_t tap = pass % 2 == 1 ? 0x80 : 0;
    if (pass > 20000) {
      ADD_FAILURE() << "stuck in state " << int(w->Logic->GameState);
      w->Close();
      return;
    }
    TGameLogic& g = *w->Logic;
    switch (g.GameState) {
      case gsLoading: keys[57] = tap; break;
      case gsTitle:
        if (!title.empty()) keys[1] = tap;
        else if (g.Fade >= 1.0f && g.PageAlpha >= 0 && ++wait > 5 && w->Snapshot(title)) keys[57] = tap;
        break;
      case gsPlaying:
        if (g.IsRunning() && g.LevelSteps > 100) {
          g.Score = 5000;
          g.Player()->Done = 1;  // beaten
        }
        break;
      case gsLevelEnd:
        if (g.EndPhase == 3) keys[57] = tap;
        break;
      case gsHighscore:
        if (typed < sizeof name) {
          if (tap) keys[name[typed++]] = 0x80;
        } else if (table.empty()) {
          if (g.HighscorePhase == 1 && ++wait > 60 && !w->Snapshot(table)) ADD_FAILURE() << "no snapshot";
        } else {
          keys[28] = tap;
        }
        break;
      case gsCredits: keys[1] = tap; break;
      default: break;
    }
  };
  EXPECT_EQ(w->ShowModal(), "");
  ASSERT_EQ(title.size(), 800u * 600u * 3u);
  ASSERT_EQ(table.size(), 800u * 600u * 3u);
  Save(title, "title.png");
  Save(table, "highscore-name-entry.png");
  EXPECT_EQ(GameEnvironment.Highscores[0].Name, "KESTRUNE");
  EXPECT_EQ(GameEnvironment.Alias, "KESTRUNE");

  // The title picture shows: its logo band is as bright as in the picture, not faded to black.
  TJPEGImage jpeg;
  std::unique_ptr<TStream> s = OpenGfxResource("GFX", "title.jpg");
  jpeg.LoadFromStream(*s);
  const TBitmap& pic = jpeg.Bitmap();
  std::vector<uint8_t> picRgb(800u * 600u * 3u);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x) {
      const uint32_t v = pic.PixelRGB(x, y);
      for (int c = 0; c < 3; ++c) picRgb[(size_t(y) * 800 + size_t(x)) * 3 + size_t(c)] = uint8_t(v >> (16 - 8 * c));
    }
  const auto logo = Mean(title, 40, 40, 760, 140), want = Mean(picRgb, 40, 40, 760, 140);
  for (int c = 0; c < 3; ++c) EXPECT_GT(logo[size_t(c)], want[size_t(c)] * 0.8) << "channel " << c;

  // The row being named, in pink, stands in its place: pink pixels between the number column and
  // the score column of the first row.
  size_t pink = 0;
  for (int y = 150; y < 200; ++y)
    for (int x = 150; x < 640; ++x) {
      const uint8_t* p = &table[(size_t(y) * 800 + size_t(x)) * 3];
      pink += p[0] > 180 && p[1] > 60 && p[1] < 170 && p[2] > 120 && p[0] > p[1] + 50;
    }
  EXPECT_GT(pink, 500u);
}

// A heart and a super-weapon pick-up, a turned and a plain fire, and a cell without floor.
TEST_F(ScreenFrames, PickUpsFiresAndTheVoidTile) {
  FixtureLevel f = WhiteRoom(11, 8);
  f.PX = 1, f.PY = 6;
  f.Set(3, 2, caOption1);
  f.Set(5, 2, caOption2);
  f.At(7, 2)[0] = 0;
  f.At(8, 2)[0] = 0;
  f.Set(2, 4, caFire, 0, cfTurned);
  f.Set(5, 4, caFire);
  std::vector<uint8_t> frame;
  WithLevel(
      f, [](TGameLogic& g) { g.Level->StepCount = 96; },  // both fires at full height two steps on
      [&frame](TfrmGame& w, TGameLogic&) { EXPECT_TRUE(w.Snapshot(frame)); });
  ASSERT_EQ(frame.size(), 800u * 600u * 3u);
  Save(frame, "level-cells.png");
}

// Graphics detail Max: cigarettes of four lengths flying in the four directions and one in a
// smoker's hand, each with its shadow on the white floor. Drawn again without shadows, the floor
// is lighter where each shadow fell.
TEST_F(ScreenFrames, CigarettesAndTheirShadows) {
  GameEnvironment.GraphicsDetail = 1;
  FixtureLevel f = WhiteRoom(11, 8);
  f.PX = 1, f.PY = 6;
  f.Enemies = {{8, 5, 2, {}}};
  static const int32_t kLength[10] = {40, 38, 33, 29, 25, 21, 17, 12, 6, 2};
  std::vector<uint8_t> with, without;
  int shadows = 0;
  WithLevel(
      f,
      [](TGameLogic& g) {
        auto* smoker = static_cast<TGESmoker*>(g.GetList(1)[0].get());
        smoker->SetSmokeLevel(0.6f);
        smoker->NextThrowStep = smoker->StepCount + 8;  // a lit cigarette in the hand
        const struct {
          uint8_t Dir;
          float X, Y, Level;
        } thrown[] = {{0, 1.6f, 2.3f, 1.0f}, {1, 5.2f, 4.6f, 0.75f}, {2, 8.6f, 1.6f, 0.45f}, {3, 3.0f, 2.2f, 0.2f}};
        for (const auto& t : thrown) g.AddElement(5, new TGECigarette(&g, t.Level, t.Dir, t.Y, t.X, smoker));
      },
      [&](TfrmGame& w, TGameLogic& g) {
        ASSERT_TRUE(g.Graphics->ShadowsEnabled);
        ASSERT_TRUE(w.Snapshot(with));
        g.Graphics->ShadowsEnabled = false;
        g.Render();
        ASSERT_TRUE(w.Snapshot(without));
        g.Graphics->ShadowsEnabled = true;
        // The middle of each flying cigarette's shadow (a flying one does not sway past its start).
        for (const auto& e : g.GetList(5)) {
          const auto* c = static_cast<const TGECigarette*>(e.get());
          const auto& hand = TSmokeSystem::kHandOffsets[c->Direction];
          const float r = -float(M_PI) * c->Direction / 2 + float(M_PI) / 80 + float(M_PI) / 200;
          const float half = (kLength[c->BurnIndex] + 25) / 2.0f;
          const float x = (c->X - g.CameraX) * 84 + hand[0] + 20 + half * std::cos(r);
          const float y = (c->Y - g.CameraY) * 84 + hand[1] - 7 + half * std::sin(r);
          SCOPED_TRACE(testing::Message() << "cigarette flying " << int(c->Direction) << " at " << x << "," << y);
          EXPECT_LT(Brightness(with, x, y), Brightness(without, x, y) * 0.8);
          ++shadows;
        }
      });
  EXPECT_EQ(shadows, 4);
  ASSERT_EQ(with.size(), 800u * 600u * 3u);
  Save(with, "cigarette-shadows.png");
}

// Graphics detail Max, smoke density high: a smoker resting with a lit cigarette and three
// cigarettes flying off, each trailing smoke from its glowing tip. The trail runs along each
// flying cigarette's line behind it, not beside it.
TEST_F(ScreenFrames, SmokeLeavesTheBurningTips) {
  GameEnvironment.GraphicsDetail = 1;
  GameEnvironment.SmokeDensity = kSmokeDensityMax;
  FixtureLevel f = DarkRoom(11, 8);
  f.PX = 2, f.PY = 6;
  f.Enemies = {{6, 5, 1, {}}};
  std::vector<uint8_t> with, without;
  int trails = 0;
  WithLevel(
      f,
      [](TGameLogic& g) {
        auto* smoker = static_cast<TGESmoker*>(g.GetList(1)[0].get());
        smoker->SetSmokeLevel(0.9f);
        smoker->RestTimer = 1000;  // stays where it is, cigarette in hand
        smoker->NextThrowStep = smoker->StepCount + 8;
        const struct {
          uint8_t Dir;
          float X, Y, Level;
        } thrown[] = {{0, 1.3f, 1.4f, 1.0f}, {3, 8.4f, 1.2f, 0.6f}, {2, 9.0f, 3.3f, 0.3f}};
        for (const auto& t : thrown) g.AddElement(5, new TGECigarette(&g, t.Level, t.Dir, t.Y, t.X, smoker));
      },
      [&](TfrmGame& w, TGameLogic& g) {
        ASSERT_TRUE(w.Snapshot(with));
        ASSERT_GT(g.Smoke->ActiveCount, 30);
        // The same frame without its smoke: what differs is the smoke.
        g.Smoke->Clear();
        g.Render();
        ASSERT_TRUE(w.Snapshot(without));
        auto change = [&](float x, float y) { return std::fabs(Brightness(with, x, y) - Brightness(without, x, y)); };
        // The cigarette in hand: its smoke gathers at the glowing tip.
        const auto* smoker = static_cast<const TGESmoker*>(g.GetList(1)[0].get());
        const TCigarettePose held = CigarettePose((smoker->CenterX() - g.CameraX) * 84, (smoker->CenterY() - g.CameraY) * 84,
                                                  smoker->StepCount, smoker->PuffFrame(),
                                                  int32_t((1 - smoker->SmokeLevel) * 9), smoker->Angle);
        auto box = [&](float cx, float cy) {
          double sum = 0;
          for (int dy = -3; dy <= 3; dy += 3)
            for (int dx = -3; dx <= 3; dx += 3) sum += change(cx + dx, cy + dy);
          return sum / 9;
        };
        const float hx = std::cos(held.Rotation), hy = std::sin(held.Rotation);
        const double atTip = box(held.TipX, held.TipY);
        EXPECT_GT(atTip, 8.0) << "smoke at the tip of the cigarette in hand";
        EXPECT_GT(atTip, 3 * std::max(box(held.TipX - 19 * hy, held.TipY + 19 * hx), box(held.TipX + 19 * hy, held.TipY - 19 * hx)));
        for (const auto& e : g.GetList(5)) {
          const auto* c = static_cast<const TGECigarette*>(e.get());
          const TCigarettePose p = CigarettePose((c->X - g.CameraX) * 84, (c->Y - g.CameraY) * 84, 0, 0, c->BurnIndex,
                                                 float(c->Direction));
          const float ax = std::cos(p.Rotation), ay = std::sin(p.Rotation);
          // How much the smoke changes the picture along 60 pixels of the cigarette's line, from
          // 20 to 80 pixels behind its filter, moved sideways by `side` pixels.
          auto strip = [&](float side) {
            double sum = 0;
            for (int k = 20; k < 80; k += 2) {
              const float x = p.FilterX - k * ax - side * ay, y = p.FilterY - k * ay + side * ax;
              sum += change(x, y);
            }
            return sum / 30;
          };
          const double on = strip(0), beside = std::max(strip(19), strip(-19));
          SCOPED_TRACE(testing::Message() << "cigarette flying " << int(c->Direction) << ": " << on << " on its line, "
                                          << beside << " beside it");
          EXPECT_GT(on, 8.0);
          EXPECT_GT(on, 3 * beside);
          ++trails;
        }
      },
      30);
  EXPECT_EQ(trails, 3);
  ASSERT_EQ(with.size(), 800u * 600u * 3u);
  Save(with, "cigarette-smoke.png");
}

// A paused level: "PAUSED" lies over a row of walls and the player and stays readable; the same
// frame unpaused differs from it all along the text.
TEST_F(ScreenFrames, PausedAboveWallsAndThePlayer) {
  GameEnvironment.GraphicsDetail = 1;
  FixtureLevel f = WhiteRoom(13, 14);  // the view stops at the right wall: the player stands under the "E"
  f.PX = 9, f.PY = 6;
  for (int x = 1; x <= 11; ++x)
    if (x != 9) f.Set(x, 6, caWall, 4);
  std::vector<uint8_t> paused, running;
  WithLevel(
      f, [](TGameLogic& g) { g.PauseRequested = true; },
      [&](TfrmGame& w, TGameLogic& g) {
        ASSERT_TRUE(g.Paused);
        ASSERT_TRUE(w.Snapshot(paused));
        g.PauseRequested = false;
        g.Render();
        ASSERT_TRUE(w.Snapshot(running));
      });
  ASSERT_EQ(paused.size(), 800u * 600u * 3u);
  Save(paused, "paused-level.png");
  // Each eighth of the text's width has letters in it.
  const int left = 400 - TGameGraphics::TextWidth("PAUSED", 20, 2.0f) / 2;
  const int width = TGameGraphics::TextWidth("PAUSED", 20, 2.0f);
  for (int part = 0; part < 8; ++part) {
    size_t differing = 0;
    for (int y = 252; y < 350; ++y)
      for (int x = left + part * width / 8; x < left + (part + 1) * width / 8; ++x) {
        const size_t i = (size_t(y) * 800 + size_t(x)) * 3;
        differing += std::abs(paused[i] - running[i]) + std::abs(paused[i + 1] - running[i + 1]) > 60;
      }
    EXPECT_GT(differing, 300u) << "part " << part;
  }
}

}  // namespace
