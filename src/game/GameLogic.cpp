// The game object, its clock and the order of work inside one 20 ms step.
#include "game/GameLogic.h"

#include <cstring>

#include "base/PasMath.h"
#include "base/Random.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "engine/zrD3D.h"
#include "engine/zrDInput.h"
#include "game/GameGraphics.h"
#include "game/GameSounds.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/ReplayPack.h"
#include "game/PreparedLevels.h"
#include "game/SaveQueue.h"
#include "game/SmokeSystem.h"

const char* const kCreditsLine =
    "Kestrune - game design, programming, graphics, music and sound by the Kestrune team - thanks for playing!";

TGameLogic::TGameLogic(TGameLogicSetup setup) : Setup(std::move(setup)), Keyboard(Setup.Keyboard) {
  const int64_t freq = QueryPerformanceFrequency();
  if (freq > 0) {
    TicksPerMs = freq / 1000;
    ClockBase = 0;
    ClockBase = GetTimeMs();
  } else {
    TicksPerMs = 0;
    ClockBase = GetTickCount();
  }
  Behaviour = Setup.Behaviour;
  ReplayLevel = Setup.ReplayLevel;
  GameState = gsLoading;
  auto progress = [this](int32_t percent, bool sound) {
    LoadProgress = sound ? static_cast<int32_t>(PasRound(percent * 0.4)) + 50 : static_cast<int32_t>(PasRound(percent * 0.5));
    Render();
  };
  if (Setup.Device) {
    Graphics = std::make_unique<TGameGraphics>(Setup.Device, 1000, 5000);
    Graphics->OnProgress = [progress](TGameGraphics*, int p) { progress(p, false); };
    Graphics->ShadowsEnabled = GameEnvironment.GraphicsDetail == 1;
  }
  Smoke = std::make_unique<TSmokeSystem>(Graphics ? Graphics->PointRenderer.get() : nullptr);
  if (Setup.Sound) {
    TGameSoundsSetup s;
    s.CommonDataDir = CommonDataDir;
    s.MusicVolume = GameEnvironment.MusicVolume;
    s.SoundFXVolume = GameEnvironment.SoundFXVolume;
    Sounds = std::make_unique<TGameSounds>(Setup.Sound, s);
    Sounds->OnProgress = [progress](TGameSounds*, int32_t p) { progress(p, true); };
  }
  CreditsWidth = static_cast<float>(TGameGraphics::TextWidth(kCreditsLine, 5, 0.5f));
  LevelCount = CountUserLevels();
  if (GameEnvironment.StartLevel > LevelCount) GameEnvironment.StartLevel = LevelCount;
  // The levels this game may load are decoded while it starts, off the simulation steps.
  PrepareShippedLevels(GameEnvironment.StartLevel);
  NewSeed = [] {
    Randomize();
    return RandSeed;
  };
}

TGameLogic::~TGameLogic() {
  SetState(gsClosed);
  for (auto& l : Lists) l.clear();
  Level.reset();
  Sounds.reset();
  Smoke.reset();
  Graphics.reset();
  WaitForSaves();  // what the game saved is on disk before anyone reads it
}

void TGameLogic::Start() {
  StartTick = GetTickCount();
  if (Graphics) Graphics->LoadAll();
  if (Sounds) Sounds->LoadSounds();
  LoadProgress = 100;
  if (Behaviour == 1) LoadReplay(rmWorldBest);
}

uint32_t TGameLogic::GetTimeMs() const {
  if (Setup.Clock) return Setup.Clock();
  if (TicksPerMs == 0) return GetTickCount() - ClockBase;
  return static_cast<uint32_t>(QueryPerformanceCounter() / TicksPerMs) - ClockBase;
}

void TGameLogic::PlaySound(uint8_t row, float factor) {
  if (Sounds) Sounds->PlaySound(row, factor);
}

void TGameLogic::StartSound(uint8_t row) {
  if (Sounds) Sounds->StartSound(row);
}

TGEPlayer* TGameLogic::Player() const {
  return Lists[0].empty() ? nullptr : static_cast<TGEPlayer*>(Lists[0][0].get());
}

TGEOption* TGameLogic::Option(int32_t i) const {
  return static_cast<size_t>(i) < Lists[3].size() ? static_cast<TGEOption*>(Lists[3][static_cast<size_t>(i)].get()) : nullptr;
}

void TGameLogic::RemoveElement(uint8_t index, size_t position) {
  auto& l = Lists[index & 7];
  if (position < l.size()) l.erase(l.begin() + static_cast<std::ptrdiff_t>(position));
}

bool TGameLogic::IsRunning() const { return GameState == gsPlaying && !LevelEnded && PlayPhase == 3; }

uint32_t TGameLogic::BuildInputWord() const {
  const bool keys[2] = {KeyDown(2), KeyDown(3)};
  return TKTInput::EncodeInput(1, KeyDown(203) || KeyDown(75), KeyDown(200) || KeyDown(72), KeyDown(205) || KeyDown(77),
                               KeyDown(208) || KeyDown(80), KeyDown(57), KeyDown(42) || KeyDown(54), keys);
}

bool TGameLogic::DoFrame() {
  HandleKeys();
  if (GameState == gsLoading) {
    Render();
    return false;
  }
  if (GameState == gsClosed) return true;
  if (Setup.Device && !Setup.Device->CheckDevice()) {
    RedrawCount = 2;
    return true;
  }
  if (Sounds) Sounds->UpdateStreams();
  auto dueSteps = [this] {
    const uint32_t now = GetTimeMs();
    uint32_t n = (now - LastStepTime) / 20;
    if (n <= 5) {
      LastStepTime += 20 * n;
    } else {
      n = 5;
      LastStepTime = now;
    }
    return n;
  };
  // The device finishes the frame it was given last pass before anything new is queued, so the
  // game never runs ahead of the display.
  auto flushScene = [this] {
    if (Setup.Device) Setup.Device->FlushScene();
  };
  if (IsPaused() || GameState == gsCredits) {
    flushScene();
    if (GameState == gsCredits) {
      CreditsX -= 3.0f * static_cast<float>(dueSteps());
      if (CreditsX < -CreditsWidth) CreditsX = 800.0f;
    }
    Render();
    Sleep(1);
    return false;
  }
  flushScene();
  const uint32_t n = dueSteps();
  const uint32_t word = BuildInputWord();
  if (n >= 1) {
    {
      // The steps' saves (level end, highscore, settings) are written by the save worker.
      TDeferredSaves deferred;
      for (uint32_t i = 0; i < n; ++i) SimulationStep(word);
    }
    Render();
  } else {
    Sleep(0);
  }
  return false;
}

void TGameLogic::SimulationStep(uint32_t word) {
  if (!IsReplaying() && IsRunning()) {
    LiveInput.AddInput(word);
    ReplayInput.AddInput(word);
  }
  UpdateElements();
  StateStep();
  Smoke->Step();
  SmokeTick = SmokeTickCounter > 0;
  if (SmokeTick) --SmokeTickCounter;
  else SmokeTickCounter = GameEnvironment.SmokeDensity;
}

void TGameLogic::UpdateElements() {
  if (GameState == gsLevelEnd && LevelJumpShown) return;
  for (uint8_t li = 0; li < kListCount; ++li) {
    auto& list = Lists[li];
    for (size_t i = list.size(); i-- > 0;)
      if (!list[i]->Update()) RemoveElement(li, i);
  }
  if (GameState == gsPlaying) {
    if (!LevelEnded && PlayPhase == 3) {
      GameTime += 20;
      ++LevelSteps;
    }
    CheckLevelEnd();
  }
  if ((GameState == gsPlaying || GameState == gsLevelEnd || GameState == gsHighscore) && Level) Level->Step();
}

bool TGameLogic::IsPaused() {
  bool p = false;
  if (Setup.Device && !Setup.Device->CheckDevice()) p = true;
  else if (GameState == gsPlaying) p = (Setup.AppActive && !Setup.AppActive()) || PauseRequested;
  if (p != Paused) {
    Paused = p;
    // Only the title, the level and the highscore screen have music of their own.
    int row = -1;
    if (GameState == gsTitle) row = 1;
    else if (GameState == gsPlaying) row = 0;
    else if (GameState == gsHighscore) row = 2;
    if (Sounds && row >= 0) {
      if (p) Sounds->PauseSound(static_cast<uint8_t>(row));
      else Sounds->ResumeIfPaused(static_cast<uint8_t>(row));
    }
  }
  return p;
}

void TGameLogic::Render() {
  if (GameState != gsClosed && Graphics && Setup.Device && Setup.Device->CheckDevice()) {
    Setup.Device->BeginScene();
    RenderScene();
    Setup.Device->RenderAll();
    Setup.Device->EndScene();
    Setup.Device->Present();
  } else {
    RedrawCount = 2;
  }
}

void TGameLogic::StartGame() {
  LiveInput.Clear();
  ReplayInput.Clear();
  ReplayMode = rmNone;
  LevelNumber = GameEnvironment.StartLevel < 1 ? 1 : GameEnvironment.StartLevel;
  StartScore = GameEnvironment.StartScore;
  StartOptions = {GameEnvironment.StartOptions[0], GameEnvironment.StartOptions[1]};
  RandomSeed = static_cast<int32_t>(NewSeed());
  SetState(gsPlaying);
  ++GameEnvironment.GamesStarted;
  LoadLevel();
}

void TGameLogic::LoadLevel() {
  // A shipped level built in advance (the same bytes give the same level); else from its stream.
  if (LevelNumber <= kShippedLevelCount)
    if (std::unique_ptr<TQVGameLevel> prepared = TakePreparedLevel(LevelNumber, Graphics.get(), Sounds.get())) {
      PlaceLevel(std::move(prepared));
      return;
    }
  std::unique_ptr<TStream> stream;
  if (LevelNumber >= 11) stream = std::make_unique<TFileStream>(UserDataDir + std::to_string(LevelNumber) + ".lvl", fmOpenRead);
  else stream = OpenGfxResource("LVL", std::to_string(LevelNumber));
  LoadLevelFrom(*stream);
}

void TGameLogic::LoadLevelFrom(TStream& stream) {
  PlaceLevel(std::make_unique<TQVGameLevel>(Graphics.get(), stream, Sounds.get()));
}

void TGameLogic::PlaceLevel(std::unique_ptr<TQVGameLevel> level) {
  Level = std::move(level);
  RandSeed = static_cast<uint32_t>(RandomSeed);
  Score = StartScore;
  // Every level starts its smoke timing afresh (the title steps the smoke too).
  Smoke->Clear();
  SmokeTick = false;
  SmokeTickCounter = 0;
  const TBotStart& ps = Level->PlayerStart;
  AddElement(0, new TGEPlayer(this, ps.Direction, ps.Y, ps.X));
  for (int32_t i = 0; i < Level->EnemyStartCount(); ++i) {
    const TEnemyStart& e = Level->GetEnemyStart(i);
    AddElement(1, new TGESmoker(this, e.Waypoints, e.Direction, e.Y, e.X));
  }
  SmokersLeft = Level->EnemyStartCount();
  for (uint8_t i = 0; i < 2; ++i) AddElement(3, new TGEOption(this, StartOptions[i], i));
  SaveSettings();
}

void TGameLogic::ClearLevel() {
  // Elements first: walkers release their cells in the level as they go.
  for (auto& l : Lists) l.clear();
  DisposeLevel(std::move(Level));  // its memory goes back off the step
  Smoke->Clear();
  ScoreCounts = {};
  LevelEnded = LevelWon = 0;
  GameTime = 0;
}

void TGameLogic::WriteReplayRecord(TStream& stream) const {
  TReplayLevelRecord r;
  r.GameTime = GameTime;
  r.RandomSeed = RandomSeed;
  r.LevelNumber = LevelNumber;
  r.StartScore = StartScore;
  r.StartOptions[0] = StartOptions[0];
  r.StartOptions[1] = StartOptions[1];
  r.Input = ReplayInput;
  r.WriteToStream(stream);
}

void TGameLogic::LoadReplayRecord(TStream& record) {
  TReplayLevelRecord r;
  r.ReadFromStream(record);
  ReplayEndTime = r.GameTime;
  RandomSeed = r.RandomSeed;
  LevelNumber = r.LevelNumber;
  StartScore = r.StartScore;
  StartOptions = {r.StartOptions[0], r.StartOptions[1]};
  ReplayInput = r.Input;
}

void TGameLogic::LoadReplay(int32_t mode) {
  LiveInput.Clear();
  ReplayInput.Clear();
  ReplayMode = static_cast<uint8_t>(mode);
  try {
    TMemoryStream record;
    OpenReplayRecord(mode, NextReplayLevel, ReplayLevel, record);
    LoadReplayRecord(record);
    // A pack is untrusted: a level that is not installed cannot be played back.
    if (LevelNumber < 1 || LevelNumber > LevelCount) throw Exception("Invalid level id");
  } catch (const Exception& e) {
    Log("Error loading replay file in mode: " + std::to_string(mode) + ": " + e.Message, ltError);
    SetState(gsTitle);
    if (Setup.OnGameOver) Setup.OnGameOver("Error loading replay file");
    return;
  }
  SetState(gsPlaying);
  LoadLevel();
}

uint64_t GameStateDigest(const TGameLogic& g) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
  };
  auto add = [&mix](auto v) { mix(&v, sizeof v); };
  add(RandSeed);
  add(g.Score);
  add(g.GameTime);
  add(g.SmokersLeft);
  add(g.GameState);
  add(g.LevelEnded);
  mix(g.ScoreCounts.data(), sizeof g.ScoreCounts);
  for (size_t li = 0; li < g.Lists.size(); ++li) {
    add(g.Lists[li].size());
    for (const auto& e : g.Lists[li]) {
      if (auto* w = dynamic_cast<const TGEWalkBot*>(e.get())) {
        add(w->X), add(w->Y), add(w->Direction), add(w->Angle), add(w->Progress), add(w->Walking), add(w->StepCount);
      }
      if (auto* p = dynamic_cast<const TGEPlayer*>(e.get())) add(p->Energy), add(p->Done);
      if (auto* s = dynamic_cast<const TGESmoker*>(e.get()))
        add(s->State), add(s->SmokeLevel), add(s->PathIndex), add(s->PathLength), add(s->Fatigue), add(s->NextThrowStep);
      if (auto* a = dynamic_cast<const TGEAmmo*>(e.get())) add(a->X), add(a->Y), add(a->Direction);
      if (auto* s = dynamic_cast<const TGESmoker*>(e.get()))
        for (int32_t i = 0; i < s->Hearts.Count(); ++i) {
          const TSimpleSprite* h = s->Hearts.Get(i);
          add(h->X), add(h->Y), add(h->Expiry);
        }
      if (auto* o = dynamic_cast<const TGEOption*>(e.get())) add(o->Count), add(o->Selected), add(o->Spin), add(o->Alpha);
    }
  }
  if (g.Level) {
    add(g.Level->StepCount);
    for (int32_t i = 0; i < g.Level->Sparkles.Count(); ++i) add(g.Level->Sparkles.Get(i)->Expiry);
    for (const TLevelCell& c : g.Level->Cells) add(c.Action), add(c.StateCounter), add(c.Occupant != nullptr);
  }
  return h;
}
