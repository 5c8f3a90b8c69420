#pragma once
// The game itself: the fixed-step loop (20 ms steps), the eight element lists, the states and
// screens, and the rules and scoring. The game window drives it through DoFrame and Render and
// hands in what it owns (keyboard, devices, the game-over callback, the snapshot source), so the
// logic also runs without a window (tests, tools).
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "game/GameElements.h"
#include "game/KTInput.h"
#include "game/LevelData.h"

class TGameGraphics;
class TGameSounds;
class TSmokeSystem;
class TzrDIKeyboard;
class TzrD3Device8;
class TzrDSound;
class TStream;

enum : uint8_t { gsLoading = 0, gsTitle = 1, gsPlaying = 2, gsLevelEnd = 3, gsHighscore = 4, gsCredits = 5, gsClosed = 6 };

// What the window gives the logic; every member may be left empty.
struct TGameLogicSetup {
  TzrDIKeyboard* Keyboard = nullptr;
  TzrD3Device8* Device = nullptr;     // nullptr: nothing is drawn, no textures are loaded
  TzrDSound* Sound = nullptr;         // nullptr: silent
  uint8_t Behaviour = 0;              // 1: the window plays the world's best replay
  int32_t ReplayLevel = 0;
  std::function<void(const std::string& text)> OnGameOver;
  // Fills an 800 x 600 24-bit picture of the window for Ctrl+P (false: no picture).
  std::function<bool(std::vector<uint8_t>& rgb)> Snapshot;
  std::function<bool()> AppActive;    // unset: active
  // Reads the 256 key bytes in place of the keyboard device (tests, tools).
  std::function<void(uint8_t keys[256])> ReadKeys;
  // Milliseconds of a monotonic clock (unset: the performance counter).
  std::function<uint32_t()> Clock;
};

class TGameLogic {
public:
  static constexpr int32_t kListCount = 8;
  static constexpr int32_t kScoreTable[7] = {500, 10, 50, 10, 10, 2000, 4000};

  explicit TGameLogic(TGameLogicSetup setup);
  ~TGameLogic();
  TGameLogic(const TGameLogic&) = delete;
  TGameLogic& operator=(const TGameLogic&) = delete;

  void Start();
  bool DoFrame();
  void Render();
  // One simulation step with one input word (DoFrame runs n of these per call).
  void SimulationStep(uint32_t word);

  // Element contract.
  std::vector<std::unique_ptr<TGameElement>>& GetList(uint8_t index) { return Lists[index & 7]; }
  void AddElement(uint8_t index, TGameElement* element) { Lists[index & 7].emplace_back(element); }
  void RemoveElement(uint8_t index, size_t position);
  bool IsRunning() const;
  bool IsReplaying() const { return Behaviour != 0 || ReplayMode != 0; }
  // Arg: seconds left for kind 4; who: the converted smoker for kind 0.
  bool AddScore(uint8_t kind, int32_t arg, const TGEWalkBot* who = nullptr);
  TGEPlayer* Player() const;
  TGEOption* Option(int32_t i) const;
  void PlaySound(uint8_t row, float factor = -1.0f);
  void StartSound(uint8_t row);
  bool KeyDown(uint8_t scanCode) const { return (KeyState[scanCode] & 0x80) != 0; }
  bool KeyPressed(uint8_t scanCode) const { return KeyDown(scanCode) && (PrevKeyState[scanCode] & 0x80) == 0; }
  uint32_t GetTimeMs() const;
  TKTInput& PlayerInput() { return IsReplaying() ? ReplayInput : LiveInput; }

  // States and rules.
  void SetState(uint8_t newState);
  void SetFade(float value);
  void HandleKeys();
  void StateStep();
  void StartGame();
  void LoadLevel();
  // The level from a stream in place of the level file of LevelNumber (tests, tools).
  void LoadLevelFrom(TStream& stream);
  // Makes `level` the current level and places the player, the smokers and the options.
  void PlaceLevel(std::unique_ptr<TQVGameLevel> level);
  void ClearLevel();
  void LoadReplay(int32_t mode);
  void LoadReplayRecord(TStream& record);
  void WriteReplayRecord(TStream& stream) const;
  void CheckLevelEnd();
  void SaveLastReplay();
  void LevelFinished();
  void EndGame(bool fireworks);
  int32_t InsertHighscore();
  void UpdateElements();
  // Seeds the random generator from the clock, as a new game does (tests may set it instead).
  std::function<uint32_t()> NewSeed;

  TGameLogicSetup Setup;
  TzrDIKeyboard* Keyboard;
  TKTInput LiveInput, ReplayInput;
  std::unique_ptr<TQVGameLevel> Level;
  int32_t LevelCount = 10;
  int32_t LevelNumber = 1;
  int32_t Score = 0;
  int32_t StartScore = 0;
  int32_t GameTime = 0;
  int32_t StepCounter = 0;
  int32_t ReplayEndTime = 0;
  int32_t LevelSteps = 0;
  int32_t SmokersLeft = 0;
  uint8_t LevelEnded = 0, LevelWon = 0;
  int32_t RandomSeed = 0;
  uint8_t Behaviour = 0;
  std::array<uint16_t, 7> ScoreCounts{};
  std::array<int32_t, 2> StartOptions{};
  std::array<std::vector<std::unique_ptr<TGameElement>>, kListCount> Lists;
  std::unique_ptr<TGameGraphics> Graphics;
  std::unique_ptr<TSmokeSystem> Smoke;
  std::unique_ptr<TGameSounds> Sounds;
  uint8_t GameState = gsLoading;
  uint32_t LastStepTime = 0;
  float Fade = 0;
  uint32_t FadeColours[4] = {};
  std::array<uint8_t, 256> KeyState{}, PrevKeyState{};
  float CameraX = 0, CameraY = 0;
  int32_t RedrawCount = 0;
  bool SmokeTick = false;
  int32_t SmokeTickCounter = 0;
  bool Paused = false;
  bool PauseRequested = false;
  int32_t LoadProgress = 0;
  uint32_t StartTick = 0;

  struct TTitleBeam { float X, Y, Speed, Angle, Spin; };
  std::array<TTitleBeam, 3> TitleBeams{};
  bool TitleBeamsPending = false;
  uint8_t PlayPhase = 0;
  int32_t TitleCounter = 0;
  uint8_t TitlePage = 0;
  uint8_t TitleAction = 0;
  float PageAlpha = -1;
  bool HasLastReplay = false;
  // A first level's record was handed to the save queue: the pack holds it once the save is done,
  // even if the title reads the file before that.
  bool LastReplayStarted = false;
  uint8_t ReplayMode = 0;
  int32_t ReplayLevel = 0;
  int32_t NextReplayLevel = 0;
  bool ContinueChosen = false;
  uint8_t LevelResult = 0;
  std::string LevelText;
  uint8_t EndPhase = 0;
  bool LevelJumpShown = false;
  int32_t HighscorePos = -1;
  uint16_t LastKey = 0;
  bool Fireworks = false;
  float TableFade = 0;
  uint8_t HighscorePhase = 0;
  float CreditsWidth = 0;
  float CreditsX = 800;
  int32_t SnapshotCount = 0;

  bool IsPaused();
  void RenderScene();

private:
  void EndLevel();
  void DrawHighscoreTable(float y0, bool slideByPage, float phase);
  void SetupTitleBeams();
  void MoveTitleBeams();
  void TitleStep();
  void NameEntryKey();
  void TakeSnapshot();
  void AddFireworkMaybe();
  uint32_t BuildInputWord() const;
  int64_t TicksPerMs = 0;
  uint32_t ClockBase = 0;
};

extern const char* const kCreditsLine;

// A digest of the simulation state (elements with their hearts and counters, level clocks,
// cells and sparkles, score, seed) for comparing two runs step by step. The smoke stays out: it
// follows the smoke density setting and never changes the game.
uint64_t GameStateDigest(const TGameLogic& game);
