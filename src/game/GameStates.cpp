// The states of the game: loading, title, playing, level end, highscore, credits; their keys,
// their per-step work and what each draws.
#include <cmath>
#include <cstring>

#include "base/PasMath.h"
#include "base/Random.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "engine/zrDInput.h"
#include "game/GameGraphics.h"
#include "game/GameLogic.h"
#include "game/GameSounds.h"
#include "game/KTGlobal.h"
#include "game/LevelView.h"
#include "game/Options.h"
#include "game/ReplayPack.h"
#include "game/SmokeSystem.h"

namespace {
const char* const kTitlePages[5] = {"Press Space to Play", "Press \"N\" to Start New Game", "Highscore",
                                    "Press \"D\" for Demo", "Press \"R\" for Replay"};
constexpr float kPi = 3.14159265358979f;
// The cigarette of the loading screen lies in the picture's empty middle, under "LOADING".
constexpr float kLoadingBarY = 290;
}  // namespace

void TGameLogic::SetFade(float value) {
  Fade = value;
  const uint32_t g = static_cast<uint32_t>(std::clamp<int64_t>(PasRound(255.0 * value), 0, 255));
  for (uint32_t& c : FadeColours) c = 0xFF000000u | (g << 16) | (g << 8) | g;
}

void TGameLogic::SetState(uint8_t n) {
  if (n == GameState) return;
  LogPlain(std::to_string(n));
  const uint8_t old = GameState;
  if ((old == gsPlaying || old == gsLevelEnd || old == gsHighscore) && n != gsLevelEnd && n != gsHighscore) ClearLevel();
  StepCounter = 0;
  switch (n) {
    case gsTitle:
      TitleAction = 0;
      TitlePage = 0;
      PageAlpha = -1.0f;
      TitleCounter = 0;
      ReplayMode = 0;
      NextReplayLevel = 0;
      HighscorePos = -1;
      ScoreCounts = {};
      SetFade(0);
      // Set up by the next step: a key handled between steps must not draw random numbers.
      TitleBeamsPending = true;
      for (TTitleBeam& b : TitleBeams) b = {};
      HasLastReplay = LastReplayStarted || TReplayPack(UserDataDir + kLastReplayName).Count() > 0;
      if (Sounds) Sounds->StopMusic();
      break;
    case gsPlaying:
      if (Sounds) Sounds->StopMusic();
      LevelSteps = 0;
      GameTime = 0;
      LastStepTime = GetTimeMs();
      PauseRequested = false;
      PlayPhase = 0;
      break;
    case gsLevelEnd:
      EndPhase = 0;
      ContinueChosen = false;
      LevelJumpShown = false;
      if (Sounds) Sounds->StopMusic();
      break;
    case gsHighscore:
      TableFade = 0;
      HighscorePhase = 0;
      Lists[3].clear();
      if (Sounds) Sounds->StopMusic();
      PlaySound(2);
      break;
    case gsCredits:
      CreditsX = 800.0f;
      RedrawCount = 2;
      if (Sounds) Sounds->StopMusic();
      break;
    default: break;
  }
  GameState = n;
}

void TGameLogic::TakeSnapshot() {
  try {
    std::vector<uint8_t> rgb;
    if (!Setup.Snapshot || !Setup.Snapshot(rgb) || rgb.size() < 800u * 600u * 3u) throw Exception("no picture of the window");
    const std::string name = Format("%ssnapshoot%d.bmp", ProgramDir().c_str(), SnapshotCount);
    TMemoryStream s;
    const uint32_t row = 800 * 3, size = 54 + row * 600;
    s.WriteU8('B'), s.WriteU8('M'), s.WriteU32(size), s.WriteU32(0), s.WriteU32(54);
    s.WriteU32(40), s.WriteI32(800), s.WriteI32(600), s.WriteU16(1), s.WriteU16(24), s.WriteU32(0), s.WriteU32(row * 600);
    s.WriteU32(2835), s.WriteU32(2835), s.WriteU32(0), s.WriteU32(0);
    for (int y = 599; y >= 0; --y)
      for (int x = 0; x < 800; ++x) {
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * 800 + x) * 3];
        s.WriteU8(p[2]), s.WriteU8(p[1]), s.WriteU8(p[0]);
      }
    TFileStream f(name, fmCreate);
    s.SetPosition(0);
    f.CopyFrom(s, 0);
    ++SnapshotCount;
  } catch (const Exception& e) {
    Log("Error doing snapshot: " + e.Message, ltWarning);
  }
}

void TGameLogic::HandleKeys() {
  PrevKeyState = KeyState;
  if (Setup.ReadKeys) Setup.ReadKeys(KeyState.data());
  else if (Keyboard) Keyboard->GetState(KeyState.data());
  else KeyState.fill(0);
  if (KeyPressed(25) && (KeyDown(29) || KeyDown(157))) {
    TakeSnapshot();
    return;
  }
  switch (GameState) {
    case gsLoading:
      if (LoadProgress == 100 &&
          ((GameEnvironment.GamesStarted > 0 && GetTickCount() - StartTick > 4000) || KeyPressed(57)))
        SetState(gsTitle);
      break;
    case gsTitle:
      if (TitleAction != 0) break;
      if (KeyPressed(1)) TitleAction = 4;
      else if (KeyPressed(57)) TitleAction = 3;
      else if (KeyPressed(49)) {
        ResetProgress();
        TitleAction = 3;
      } else if (KeyPressed(19) && HasLastReplay) TitleAction = 1;
      else if (KeyPressed(32)) TitleAction = 2;
      break;
    case gsPlaying:
      if (KeyPressed(25)) PauseRequested = !PauseRequested;
      if (KeyPressed(1)) {
        if (Behaviour == 1) SetState(gsCredits);
        else {
          SaveLastReplay();
          SetState(gsTitle);
        }
      }
      break;
    case gsLevelEnd:
      if (EndPhase != 3) break;
      if (KeyPressed(1)) {
        ContinueChosen = false;
        EndPhase = 4;
      } else if (KeyPressed(57)) {
        ContinueChosen = true;
        EndPhase = 4;
      }
      break;
    case gsHighscore:
      for (uint16_t k = 0; k <= 57; ++k)
        if (KeyPressed(static_cast<uint8_t>(k))) {
          LastKey = k;
          break;
        }
      break;
    case gsCredits:
      if ((KeyPressed(57) || KeyPressed(1)) && Setup.OnGameOver) Setup.OnGameOver("");
      break;
    default: break;
  }
}

void TGameLogic::SetupTitleBeams() {
  for (int i = 0; i < 3; ++i) {
    TitleBeams[static_cast<size_t>(i)] = {(i + 1) * 800.0f / 4, 0, 0, static_cast<float>(RandomFloat() * kPi / 8 - kPi / 16), 0};
  }
}

void TGameLogic::MoveTitleBeams() {
  for (TTitleBeam& b : TitleBeams) {
    b.Y -= b.Speed;
    b.Angle += b.Spin;
    if (b.Speed > 0.3f) {
      if (b.Speed > 0.9f) b.Speed -= static_cast<float>(RandomFloat() * 0.015);
      else b.Speed += static_cast<float>(RandomFloat() * 0.03 - 0.015);
    } else {
      b.Speed += static_cast<float>(RandomFloat() * 0.015);
    }
    const float r = static_cast<float>(RandomFloat() * 1.309e-5);
    if ((b.Angle < -kPi / 4 && b.Spin < 0) || b.Spin <= -0.002618f) b.Spin += r;
    else if ((b.Angle > kPi / 4 && b.Spin > 0) || b.Spin > 0.002618f) b.Spin -= r;
    else b.Spin += r * 2 - 1.309e-5f;
    if (b.Y < 600) {
      b.Y += std::cos(b.Angle) * 768;
      b.X -= std::sin(b.Angle) * 768;
    }
  }
}

void TGameLogic::TitleStep() {
  const int32_t c = ++TitleCounter;
  if (c < 36) return;
  if (c < 210) PageAlpha = (c - 210) / 175.0f;
  else if (c <= 300) PageAlpha = 0;
  else if (c <= 340) PageAlpha = (c - 300) / 40.0f;
  else {
    PageAlpha = -1.0f;
    TitleCounter = 0;
    TitlePage = static_cast<uint8_t>((TitlePage + 1) % 5);
    if (TitlePage == 4 && !HasLastReplay) TitlePage = 0;
    if (TitlePage == 2 && GameEnvironment.Highscores[0].Score == kEmptyHighscore) TitlePage = 3;
  }
}

void TGameLogic::AddFireworkMaybe() {
  if (RandomFloat() < 0.3) AddElement(7, new TGEFXFireworkBubble(this));
}

void TGameLogic::NameEntryKey() {
  const uint16_t k = LastKey;
  LastKey = 0;
  if (k == 0 || HighscorePos < 0 || HighscorePos >= kHighscoreCount) return;
  std::string& name = GameEnvironment.Highscores[HighscorePos].Name;
  if (k == 1 || k == 28) {
    GameEnvironment.Alias = SettingsText(TTextField::Alias, name);
    SaveSettings();
    HighscorePhase = 3;
  } else if (k == 14) {
    if (!name.empty()) {
      name.pop_back();
      PlaySound(6);
    }
  } else if (name.size() < 10) {
    if (char ch = ScanCodeChar(k)) name = SettingsText(TTextField::HighscoreName, name + ch);
    PlaySound(7);
  }
}

void TGameLogic::StateStep() {
  ++StepCounter;
  switch (GameState) {
    case gsTitle:
      if (TitleBeamsPending) {
        TitleBeamsPending = false;
        SetupTitleBeams();
      }
      MoveTitleBeams();
      if (TitleAction != 0) {
        Fade -= 0.04f;
        if (Fade <= 0) {
          Fade = 0;
          SetFade(Fade);
          switch (TitleAction) {
            case 1: LoadReplay(rmLastGame); break;
            case 2: LoadReplay(rmDemo); break;
            case 3: StartGame(); break;
            default: SetState(gsCredits); break;
          }
          return;
        }
        SetFade(Fade);
      } else if (Fade >= 1.0f) {
        if (StepCounter > 2250) {
          LoadReplay(rmDemo);
          return;
        }
        TitleStep();
      } else {
        Fade += 0.04f;
        if (Fade >= 1.0f) {
          PlaySound(1);
          Fade = 1.0f;
        }
        SetFade(Fade);
      }
      break;
    case gsPlaying:
      switch (PlayPhase) {
        case 0:
          if (StepCounter > 5) {
            StepCounter = 0;
            PlayPhase = 1;
            PlaySound(9);
          }
          break;
        case 1:
          if (Fade < 1.0f) SetFade(std::min(1.0f, Fade + 0.04f));
          if (StepCounter > 75) {
            PlayPhase = 2;
            StepCounter = 0;
            SetFade(1.0f);
          }
          break;
        case 2:
          if (StepCounter > 12) {
            PlayPhase = 3;
            PlaySound(0);
          }
          break;
        case 3: break;
        default: throw Exception("Invalid state mode");
      }
      break;
    case gsLevelEnd: {
      if (LevelResult == 1) AddFireworkMaybe();
      const int32_t c = StepCounter;
      switch (EndPhase) {
        case 0:
          if (c > 75) {
            EndPhase = LevelResult == 0 ? 1 : LevelResult == 1 ? 2 : 3;
            StepCounter = 0;
          }
          break;
        case 1:
          if (c <= 25) SetFade((25 - c) / 25.0f);
          else if (c <= 50) {
            SetFade((c - 25) / 25.0f);
            LevelJumpShown = true;
          } else {
            EndPhase = 2;
            StepCounter = 0;
            SetFade(1.0f);
          }
          break;
        case 2:
          if (c > 100) {
            EndPhase = 3;
            StepCounter = 0;
          }
          break;
        case 4:
          if (Fade > 0 && !(Fade <= 0.35f && (LevelResult == 1 || LevelResult == 2))) {
            SetFade(std::max(0.0f, Fade - 0.04f));
            break;
          }
          switch (LevelResult) {
            case 0:
              if (ContinueChosen) {
                LevelFinished();
                StartGame();
              } else {
                SetState(gsTitle);
              }
              break;
            case 1:
              LevelFinished();
              EndGame(true);
              break;
            case 2: EndGame(false); break;
            default:
              if (NextReplayLevel != 0 && ContinueChosen) LoadReplay(ReplayMode);
              else if (ReplayMode == rmWorldBest || Behaviour == 1) SetState(gsCredits);
              else SetState(gsTitle);
              break;
          }
          break;
        default: break;
      }
      break;
    }
    case gsHighscore:
      if (Fireworks) AddFireworkMaybe();
      TableFade = std::min(1.0f, TableFade + 0.01f);
      if (HighscorePhase == 0) {
        const int32_t a = StepCounter / 32;
        ++StepCounter;
        if (a < 9 && StepCounter / 32 != a) PlaySound(8);
        if (StepCounter > 408) {
          HighscorePhase = 1;
          StepCounter = 0;
        }
        NameEntryKey();
      } else if (HighscorePhase == 1) {
        NameEntryKey();
      } else if (HighscorePhase == 3) {
        Fade -= 0.04f;
        if (Fade <= 0) {
          Fade = 0;
          SetFade(Fade);
          SetState(gsTitle);
          return;
        }
        SetFade(Fade);
      }
      break;
    default: break;
  }
}

void TGameLogic::DrawHighscoreTable(float y0, bool slideByPage, float phase) {
  TGameGraphics* g = Graphics.get();
  const uint32_t pinkSrc[4] = {0xFFFF80C0, 0xFFFF80C0, 0xFFFF80C0, 0xFFFF80C0};
  for (int i = 0; i < kHighscoreCount; ++i) {
    const THighscoreEntry& e = GameEnvironment.Highscores[i];
    const float y = y0 + 40.0f * i;
    // The title page slides its rows in and out again; on the highscore screen a row swings in
    // and then stays (a slide time above 0 would carry it off to the right).
    const float t = slideByPage ? PageAlpha * 1.03f - 0.03f * i : phase - 0.8f * i;
    auto at = [slideByPage](float time) { return slideByPage ? time : std::min(time, 0.0f); };
    const uint32_t* c = (!slideByPage && i == HighscorePos) ? pinkSrc : nullptr;
    g->DrawTextSlide(std::to_string(i + 1), TzrVector2{170, y}, 1, c, at(t), 800, 0.7f, 2);
    if (e.Score == kEmptyHighscore) continue;
    std::string name = e.Name;
    if (!slideByPage && i == HighscorePos) name += "_";
    g->DrawTextSlide(name, TzrVector2{190, y}, 0, c, at(slideByPage ? t : t - 0.2f), 800, 0.7f, 2);
    g->DrawTextSlide(std::to_string(e.Score), TzrVector2{630, y}, 1, c, at(slideByPage ? t : t - 1.4f), 800, 0.7f, 2);
  }
}

void TGameLogic::RenderScene() {
  TGameGraphics* g = Graphics.get();
  if (!g) return;
  if (GameState == gsLoading) {
    g->DrawText(LoadProgress == 100 ? "PRESS SPACE" : "LOADING", TzrVector2{400, 200}, 2, nullptr, 1.0f, 10);
    g->DrawLoadingScreen(LoadProgress / 100.0f, kLoadingBarY);
  } else if (GameState == gsCredits) {
    if (RedrawCount >= 1) g->DrawCreditsImage(nullptr);
    else {
      RECT r{0, 519, 800, 545};
      g->DrawCreditsImage(&r);
    }
    g->DrawText(kCreditsLine, TzrVector2{CreditsX, 532}, 0, nullptr, 0.5f, 5);
  } else {
    if (GameState == gsTitle) {
      g->DrawTitleImage(nullptr);
      for (size_t i = 0; i < TitleBeams.size(); ++i) {
        TzrD3DSprite* s = g->GetSprite(i == 1 ? 50 : 49);
        if (!s) break;
        const TTitleBeam& b = TitleBeams[i];
        TzrVector2 sc{4, 3};
        float x = b.X, y = b.Y;
        for (int n = 0; n < 8 && y >= -300; ++n) {
          s->Draw(&sc, TzrVector2{x, y}, b.Angle, FadeColours);
          y -= std::cos(b.Angle) * 768;
          x += std::sin(b.Angle) * 768;
        }
      }
      // The black overlay's alpha is 1 - Fade: DrawOverlay takes the opacity of the scene.
      g->DrawOverlay(Fade);
      if (PageAlpha > -1 && TitleAction == 0) {
        if (TitlePage == 2) DrawHighscoreTable(170, true, 0);
        else g->DrawTextSlide(kTitlePages[TitlePage], TzrVector2{400, 300}, 2, nullptr, PageAlpha, 800, 0.85f, 1);
      }
    }
    if (GameState == gsLevelEnd && LevelJumpShown) {
      g->DrawLevelJumpImage(LevelNumber == LevelCount - 1);
      g->DrawOverlay(Fade);
    }
    if (GameState == gsLevelEnd) {
      const float t = EndPhase == 0 ? StepCounter / 37.5f : 2.0f;
      g->DrawTextZoom(LevelText, TzrVector2{400, 220}, 2, nullptr, t, LevelText.empty() ? 1.0f : 1.0f / LevelText.size(), 0.9f, 5);
      if (EndPhase == 3) {
        g->DrawText("Press Space to continue", TzrVector2{400, 470}, 2, nullptr, 0.6f, 1);
        if (LevelResult == 0) g->DrawText("or press \"Esc\" to quit", TzrVector2{400, 530}, 2, nullptr, 0.6f, 1);
      }
    }
    if (GameState == gsHighscore)
      g->DrawTextDrop(Fireworks ? "Congratulations!" : "Fun Over!", TzrVector2{400, 220}, 2, nullptr, TableFade, -170,
                      0.9f + 0.45f * TableFade, 1);
    if (GameState == gsHighscore) DrawHighscoreTable(150, false, HighscorePhase == 0 ? StepCounter / 40.0f : 100000.0f);
    if (GameState == gsLevelEnd && EndPhase != 4 && LevelResult != 2 && LevelResult != 3 && Level) {
      // Signed: a level won after its time limit shows the time over it and a bonus below 0
      // (the score itself never loses by it).
      const int32_t secondsLeft = Level->TimeLimit - GameTime / 1000;
      const int32_t used = Level->TimeLimit - secondsLeft;
      int32_t tv = used, bv = 0;
      if (EndPhase == 2) {
        const int32_t c = std::min(StepCounter, 100);
        tv = used + secondsLeft * c / 100;
        bv = (secondsLeft * c / 100) * 10;
      } else if (EndPhase == 3) {
        tv = Level->TimeLimit;
        bv = secondsLeft * 10;
      }
      const uint32_t orange[4] = {0xFFFFD040, 0xFFFFD040, 0xFFFF8000, 0xFFFF8000};
      g->DrawText("Time Limit: ", TzrVector2{400, 330}, 1, orange, 0.75f, 1);
      g->DrawText(std::to_string(tv), TzrVector2{400, 330}, 0, orange, 0.75f, 1);
      g->DrawText("Bonus Points: ", TzrVector2{400, 390}, 1, orange, 0.75f, 1);
      g->DrawText(std::to_string(bv), TzrVector2{400, 390}, 0, orange, 0.75f, 1);
    }
    if (GameState == gsPlaying && (PlayPhase == 1 || PlayPhase == 2)) {
      const float t = PlayPhase == 1 ? StepCounter / 37.5f : 2.0f;
      uint32_t c[4];
      TGameGraphics::FadeColors(nullptr, c, PlayPhase == 2 ? std::max(0.0f, 1 - StepCounter / 12.0f) : 1.0f);
      g->DrawTextZoom("LEVEL", TzrVector2{400, 250}, 2, c, t, 0.2f, 1.0f, 5);
      g->DrawTextZoom(std::to_string(LevelNumber), TzrVector2{400, 350}, 2, c, t, 0.5f, 1.0f, 5);
    }
    if (GameState == gsPlaying && IsReplaying() && (GameTime & 512) == 0) {
      const uint32_t red[4] = {0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000};
      g->DrawText(ReplayMode == rmDemo ? "D" : "R", TzrVector2{10, 560}, 0, red, 1.5f, 1);
    }
    const bool scene = GameState == gsPlaying || GameState == gsHighscore || (GameState == gsLevelEnd && !LevelJumpShown);
    if (scene && Level) {
      if (TGEPlayer* p = Player()) {
        CameraX = CameraLeft(p->CenterX(), Level->Width);
        CameraY = CameraTop(p->CenterY(), Level->Height);
      }
      Level->Render(Fade, CameraX, CameraY);
      for (auto& list : Lists)
        for (size_t i = list.size(); i-- > 0;) list[i]->Render();
      if (GameState != gsHighscore) {
        Smoke->Render(CameraX * 84, CameraY * 84);
        g->DrawText("SMOKERS", TzrVector2{625, 525}, 0, nullptr, 0.6f, 1);
        g->DrawText(std::to_string(SmokersLeft), TzrVector2{700, 568}, 2, nullptr, 1.0f, 1);
        if (TGEPlayer* p = Player()) {
          const float e = std::clamp(p->Energy, 0.0f, 1.0f);
          TzrVector2 bar{300, 1};
          if (TzrD3DSprite* s = g->GetSprite(33)) s->Draw(nullptr, TzrVector2{229, 1}, 0, nullptr);
          if (TzrD3DSprite* s = g->GetSprite(34)) s->Draw(&bar, TzrVector2{250, 1}, 0, nullptr);
          if (TzrD3DSprite* s = g->GetSprite(35)) s->Draw(nullptr, TzrVector2{550, 1}, 0, nullptr);
          const uint32_t cv = e >= 0.5f ? 0xFFFFFFFFu : static_cast<uint32_t>(PasRound(e * 511)) * 0x01010101u;
          const uint32_t c[4] = {cv, cv, cv, cv}, inv[4] = {~cv, ~cv, ~cv, ~cv};
          TzrVector2 fill{309 * e, 1};
          for (int pass = 0; pass < 2; ++pass) {
            const uint32_t* col = pass == 0 ? c : inv;
            if (TzrD3DSprite* s = g->GetSprite(36 + 3 * pass)) s->Draw(nullptr, TzrVector2{234, 4}, 0, col);
            if (TzrD3DSprite* s = g->GetSprite(37 + 3 * pass)) s->Draw(&fill, TzrVector2{246, 4}, 0, col);
            if (TzrD3DSprite* s = g->GetSprite(38 + 3 * pass)) s->Draw(nullptr, TzrVector2{246 + 309 * e, 4}, 0, col);
          }
        }
      }
    }
    if (GameState == gsPlaying || GameState == gsLevelEnd) {
      g->DrawText("TIME", TzrVector2{70, 25}, 0, nullptr, 0.6f, 1);
      g->DrawText(std::to_string(GameTime / 1000), TzrVector2{108, 65}, 2, nullptr, 1.0f, 1);
      g->DrawText("SCORE", TzrVector2{640, 25}, 0, nullptr, 0.6f, 1);
      g->DrawText(std::to_string(Score), TzrVector2{692, 65}, 2, nullptr, 1.0f, 1);
    }
    // Last of the frame, so that nothing of the scene or the texts covers its letters.
    if (IsPaused()) g->DrawText("PAUSED", TzrVector2{400, 300}, 2, nullptr, 2.0f, 20);
  }
  if (RedrawCount >= 1) --RedrawCount;
}
