// The game window headless (SDL's offscreen driver, Mesa's software GL, SDL's dummy audio): a
// game driven by scripted key presses from the title through a level and back out, a world's
// best replay window that ends by itself, and the start failures.
#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "base/Bitmap.h"
#include "base/Exceptions.h"
#include "base/Resources.h"
#include "base/SysUtils.h"
#include "engine/PngCodec.h"
#include "engine/tools.h"
#include "game/GameLogic.h"
#include "game/GameWindow.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/OptionsDialog.h"
#include "game/ReplayPack.h"
#include "support/TestSupport.h"

namespace {

class GameWindow : public ::testing::Test {
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
    GameEnvironment.DisplayMode = dmWindow;
    D3D = std::make_unique<TzrD3D8>();
    Options = std::make_unique<TGameOptionsDialog>(D3D.get());
    Options->FormCreate();  // loads the (missing) settings: the defaults
    GameEnvironment.DisplayMode = dmWindow;
  }
  void TearDown() override {
    Options.reset();
    D3D.reset();
    SetLogFile("");
  }
  std::unique_ptr<TfrmGame> Make(uint8_t behaviour, int32_t replayLevel = 0) {
    TzrD3DMode mode;
    GetSelectedDisplayMode(D3D.get(), mode);
    auto w = TfrmGame::CreateGame(nullptr, behaviour, IsWindowed(), FindSelectedDevice(D3D.get()), mode, replayLevel);
    w->Clock = [this] { return Now; };
    w->ReadKeys = [this](uint8_t keys[256]) {
      for (int i = 0; i < 256; ++i) keys[i] = Keys[size_t(i)];
    };
    return w;
  }
  // One key down in this pass and up in the next, so every second pass is a new press.
  void Tap(uint8_t key, int64_t pass) { Keys[key] = pass % 2 ? 0x80 : 0; }

  std::string Dir;
  std::unique_ptr<TzrD3D8> D3D;
  std::unique_ptr<TGameOptionsDialog> Options;
  uint32_t Now = 1000;
  std::array<uint8_t, 256> Keys{};
};

void SaveFrame(const std::vector<uint8_t>& rgb, const std::string& name) {
  const std::string dir = std::string(KT_BINARY_DIR) + "/test-frames/";
  ForceDirectories(dir);
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(800, 600);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x) {
      const uint8_t* p = &rgb[(size_t(y) * 800 + size_t(x)) * 3];
      b.SetPixelRGB(x, y, uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
    }
  b.SaveToFile(dir + name);
}

// The same picture as a PNG under build/test-frames/, for people to look at.
void SaveFramePng(const std::vector<uint8_t>& rgb, const std::string& name) {
  const std::string dir = std::string(KT_BINARY_DIR) + "/test-frames/";
  ForceDirectories(dir);
  TPNGImage png;
  png.SetPixelFormat(pf24bit);
  png.SetSize(800, 600);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x) {
      const uint8_t* p = &rgb[(size_t(y) * 800 + size_t(x)) * 3];
      png.SetPixelRGB(x, y, uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
    }
  TFileStream f(dir + name, fmCreate);
  png.SaveToStream(f);
}

size_t Colourful(const std::vector<uint8_t>& rgb) {
  size_t differing = 0;
  for (size_t i = 3; i < rgb.size(); i += 3)
    if (rgb[i] != rgb[0] || rgb[i + 1] != rgb[1] || rgb[i + 2] != rgb[2]) ++differing;
  return differing;
}

// D on the title plays the shipped demo in the window; a frame is kept once the player has
// converted a smoker. Esc leaves the demo for the title, Esc the title for the credits.
TEST_F(GameWindow, TheTitlePlaysTheDemo) {
  std::unique_ptr<TfrmGame> w = Make(0);
  int64_t pass = 0;
  bool shot = false, left = false;
  std::vector<uint8_t> rgb;
  w->OnIdle = [&] {
    ++pass;
    Now += 20;
    Keys.fill(0);
    if (pass > 30000) {
      ADD_FAILURE() << "the demo did not end; state " << int(w->Logic->GameState);
      w->Close();
      return;
    }
    TGameLogic& g = *w->Logic;
    switch (g.GameState) {
      case gsLoading: Tap(57, pass); break;
      case gsTitle: Tap(left ? 1 : 32, pass); break;
      case gsPlaying:
        EXPECT_EQ(g.ReplayMode, rmDemo);
        if (!shot && g.IsRunning() && g.ScoreCounts[0] >= 1 && g.GameTime >= 9000) {
          shot = w->Snapshot(rgb);
          left = true;
        }
        if (left) Tap(1, pass);
        break;
      case gsCredits: Tap(1, pass); break;
      default: break;
    }
  };
  EXPECT_EQ(w->ShowModal(), "");
  ASSERT_TRUE(shot);
  SaveFramePng(rgb, "demo-level.png");
  EXPECT_GT(Colourful(rgb), 800u * 600u / 4);
}

// A gated level (Key Card, from the winning replays): a frame as the player, key in hand, comes
// to the locked door of that key.
TEST_F(GameWindow, AGatedLevelFromTheWinningReplays) {
  WriteAll(Dir + kWorldBestReplayName, ReadAll(std::string(KT_FIXTURES) + "/replays/wins.gmp"));
  std::unique_ptr<TfrmGame> w = Make(1, 3);
  int64_t passes = 0;
  bool shot = false;
  std::vector<uint8_t> rgb;
  w->OnIdle = [&] {
    Now += 100;  // five steps a frame: the software renderer draws a fifth of the frames
    Keys.fill(0);
    if (++passes > 30000) {
      w->Close();
      return;
    }
    TGameLogic& g = *w->Logic;
    if (g.GameState == gsLevelEnd || g.GameState == gsCredits) w->Close();
    if (shot || g.GameState != gsPlaying || !g.IsRunning()) return;
    const TGEPlayer& p = *g.Player();
    for (int dy = -2; dy <= 2 && !shot; ++dy)
      for (int dx = -3; dx <= 3 && !shot; ++dx) {
        const int x = p.X + dx, y = p.Y + dy;
        if (!g.Level->InGrid(x, y)) continue;
        const TLevelCell& c = g.Level->Cell(x, y);
        if (c.Action == caDoor && c.Param != 0 && p.Keys[c.Param & 15]) {
          shot = w->Snapshot(rgb);
          w->Close();
        }
      }
  };
  w->ShowModal();
  ASSERT_TRUE(shot) << "the player came to a locked door with its key";
  SaveFramePng(rgb, "gated-level.png");
  EXPECT_GT(Colourful(rgb), 800u * 600u / 4);
}

TEST_F(GameWindow, PlaysALevelFromTheTitleAndClosesOnEsc) {
  ASSERT_NE(FindSelectedDevice(D3D.get()), nullptr);
  std::unique_ptr<TfrmGame> w = Make(0);
  // Loading -> Space -> title -> Space: a game -> play -> Esc: title -> Esc: credits -> Esc.
  enum { Title, Play, BackToTitle, Credits } phase = Title;
  int64_t pass = 0, playPasses = 0;
  bool sawLevel = false, shot = false;
  std::vector<uint8_t> rgb;
  w->OnIdle = [&] {
    ++pass;
    Now += 20;
    Keys.fill(0);
    if (pass > 20000) {
      ADD_FAILURE() << "the game did not end; state " << int(w->Logic->GameState);
      w->Close();
      return;
    }
    TGameLogic& g = *w->Logic;
    switch (g.GameState) {
      case gsLoading: Tap(57, pass); break;
      case gsTitle:
        if (phase == Title) Tap(57, pass);
        else if (phase == BackToTitle || phase == Credits) {
          phase = Credits;
          Tap(1, pass);
        }
        break;
      case gsPlaying:
        if (phase == Title && !g.IsReplaying()) phase = Play;
        if (phase != Play) break;
        if (g.IsRunning()) {
          sawLevel = true;
          ++playPasses;
          Keys[205] = 0x80;  // right
          Keys[57] = (playPasses / 10) % 2 ? 0x80 : 0;  // throw now and then
          if (playPasses == 150) shot = w->Snapshot(rgb);
          if (playPasses > 300) {
            Keys.fill(0);
            Tap(1, pass);
            if (Keys[1]) phase = BackToTitle;
          }
        }
        break;
      case gsCredits: Tap(1, pass); break;
      default: break;
    }
  };
  const std::string result = w->ShowModal();
  EXPECT_EQ(result, "");
  EXPECT_TRUE(sawLevel);
  EXPECT_EQ(phase, Credits);
  EXPECT_GT(w->Frames, 0);
  ASSERT_TRUE(shot);
  SaveFrame(rgb, "game-window-level.bmp");
  // Something was drawn: the picture is not one colour.
  size_t differing = 0;
  for (size_t i = 3; i < rgb.size(); i += 3)
    if (rgb[i] != rgb[0] || rgb[i + 1] != rgb[1] || rgb[i + 2] != rgb[2]) ++differing;
  EXPECT_GT(differing, 800u * 600u / 4);
  EXPECT_TRUE(FileExists(CommonDataDir + "l3codecx.acm"));
  w.reset();
  // The game was counted and the settings written.
  ASSERT_TRUE(FileExists(Dir + "env.dat"));
  GameEnvironment.GamesStarted = 0;
  LoadSettings();
  EXPECT_EQ(GameEnvironment.GamesStarted, 1);
  EXPECT_NE(GetLogText().find("Creating game (0)"), std::string::npos);
}

TEST_F(GameWindow, AWorldsBestReplayWindowEndsByItself) {
  // No world's best replay is installed: the window ends with the logic's text.
  std::unique_ptr<TfrmGame> w = Make(1, 1);
  int64_t passes = 0;
  w->OnIdle = [&] {
    Now += 20;
    if (++passes > 20000) w->Close();
  };
  EXPECT_EQ(w->ShowModal(), "Error loading replay file");
  EXPECT_LE(passes, 20000);
}

TEST_F(GameWindow, ACodecFileThatCannotBeWrittenStillStartsTheGame) {
  // A folder in the codec file's place: no music, two warnings, the game runs.
  ASSERT_TRUE(ForceDirectories(CommonDataDir + "l3codecx.acm/"));
  std::unique_ptr<TfrmGame> w = Make(1, 1);
  EXPECT_EQ(w->ShowModal(), "Error loading replay file");
  ASSERT_NE(w->Logic, nullptr);
  EXPECT_EQ(w->Logic->LoadProgress, 100);
  EXPECT_NE(w->Sound, nullptr);
  EXPECT_NE(GetLogText().find("* Warning: Unable to write mp3 driver: "), std::string::npos);
  EXPECT_NE(GetLogText().find("* Warning: Unable to load external mp3 driver: "), std::string::npos);
  EXPECT_TRUE(DirectoryExists(CommonDataDir + "l3codecx.acm"));
}

TEST_F(GameWindow, ADamagedCodecFileIsReplaced) {
  WriteAll(CommonDataDir + "l3codecx.acm", "not a module");
  std::unique_ptr<TfrmGame> w = Make(1, 1);
  EXPECT_EQ(w->ShowModal(), "Error loading replay file");
  TResourceData codec;
  ASSERT_TRUE(FindResourceData("DLL", "MP3CODEC", codec));
  EXPECT_EQ(ReadAll(CommonDataDir + "l3codecx.acm"), std::string(reinterpret_cast<const char*>(codec.Data), codec.Size));
  EXPECT_EQ(GetLogText().find("mp3 driver"), std::string::npos);
}

TEST_F(GameWindow, StartFailures) {
  TzrD3DMode mode;
  GetSelectedDisplayMode(D3D.get(), mode);
  // No device: the window shows the device error and ends without a game.
  auto w = TfrmGame::CreateGame(nullptr, 0, true, nullptr, mode, 0);
  const std::string text = w->ShowModal();
  EXPECT_EQ(text.rfind("Failed to initialize 3D device: ", 0), 0u) << text;
  EXPECT_EQ(w->Logic, nullptr);
  bool done = false;
  w->Idle(done);
  EXPECT_TRUE(done);
  w->FormPaint();
  w.reset();
  // A mode that is not 800 x 600 with software vertex processing is refused before any window.
  struct TCase {
    uint32_t Width, Height, Behavior;
  };
  for (const TCase& c : {TCase{0, 0, 0}, TCase{800, 600, 0x40}, TCase{1024, 768, 0x20}}) {
    TzrD3DMode m = mode;
    m.Width = c.Width, m.Height = c.Height, m.Behavior = c.Behavior;
    try {
      TfrmGame::CreateGame(nullptr, 0, true, FindSelectedDevice(D3D.get()), m, 0);
      ADD_FAILURE() << c.Width << "x" << c.Height << " " << c.Behavior << " accepted";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, "Invalid mode");
    }
  }
  EXPECT_NE(GetLogText().find("Invalid mode (width=800 / height=600 / behavior=64)"), std::string::npos);
}

TEST_F(GameWindow, LosingTheFocusDropsTheTopmostBandReturningRestoresIt) {
  std::unique_ptr<TfrmGame> w = Make(0);
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = SDL_GetWindowID(w->Window);
  e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
  w->HandleEvent(e);
  EXPECT_FALSE(w->Active);
  EXPECT_FALSE(w->TopMost);
  EXPECT_FALSE(w->Focus.Focused());
  e.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
  w->HandleEvent(e);
  EXPECT_TRUE(w->Active);
  EXPECT_TRUE(w->TopMost);
  EXPECT_TRUE(w->Focus.Focused());
}

}  // namespace
