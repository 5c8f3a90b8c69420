// Scoring, the level end, the stored progress and statistics, and the local highscores.
#include <memory>

#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/GameLogic.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/ReplayPack.h"
#include "game/SaveQueue.h"

constexpr int32_t TGameLogic::kScoreTable[7];

bool TGameLogic::AddScore(uint8_t kind, int32_t arg, const TGEWalkBot* who) {
  if (kind > 6) return true;
  int32_t n = 1;
  if (kind == 0) {
    // The floating 500 where the smoker was; the last one also pays the bonus.
    if (who) AddElement(7, new TGEScore(this, false, kScoreTable[0], who->CenterY(), who->CenterX()));
    if (--SmokersLeft == 0) {
      Score += kScoreTable[5];
      AddElement(7, new TGEBonus(this, std::to_string(kScoreTable[5]) + " Points", "All Converted"));
    }
  }
  if (kind == 4) n = arg >= 1 ? arg : 0;
  if (kind == 6) AddElement(7, new TGEBonus(this, std::to_string(kScoreTable[6]) + " Points", "Extra"));
  ScoreCounts[kind] = static_cast<uint16_t>(ScoreCounts[kind] + n);
  Score += static_cast<int32_t>(static_cast<int64_t>(kScoreTable[kind]) * n);
  return true;
}

void TGameLogic::CheckLevelEnd() {
  if (!IsRunning()) return;
  TGEPlayer* p = Player();
  if (!p) return;
  if (!p->Done) {
    // A damaged record's end time need not fall on a step: playback ends once it is reached.
    if (!(IsReplaying() && GameTime >= ReplayEndTime)) return;
  }
  LevelEnded = 1;
  LevelWon = p->Won;
  const int32_t secondsLeft = (Level ? Level->TimeLimit : 0) - GameTime / 1000;
  if (LevelWon) AddScore(4, secondsLeft);
  if (IsReplaying()) {
    LevelResult = 3;
  } else {
    SaveLastReplay();
    LevelResult = !LevelWon ? 2 : (LevelNumber != LevelCount ? 0 : 1);
  }
  switch (LevelResult) {
    case 0: LevelText = Format("Level %d completed", LevelNumber); break;
    case 1: LevelText = "Congratulations!"; break;
    case 2: LevelText = "Fun Over!"; break;
    default: LevelText = "Replay Over"; break;
  }
  EndLevel();
}

void TGameLogic::EndLevel() {
  SetState(gsLevelEnd);
  static const uint8_t kSound[3] = {4, 5, 3};
  if (LevelResult < 3) PlaySound(kSound[LevelResult]);
  else PlaySound(LevelWon ? 4 : 3);
}

void TGameLogic::SaveLastReplay() {
  if (Behaviour != 0 || ReplayMode != 0 || LevelSteps < 1) return;
  // The record is taken now; the pack is read, extended and written by the save (off the step
  // while saves are deferred).
  auto record = std::make_shared<TMemoryStream>();
  WriteReplayRecord(*record);
  const std::string fileName = UserDataDir + kLastReplayName;
  const int32_t level = LevelNumber;
  RunOrQueueSave([fileName, level, record] {
    try {
      TReplayPack pack(fileName);
      pack.AddReplay(level, [&record](TStream& s) { record->SaveToStream(s); });
    } catch (const Exception& e) {
      // A game continued from a stored level may find the pack short; the game goes on.
      Log("Error saving last replay: " + e.Message, ltWarning);
    }
  });
  if (level == 1) LastReplayStarted = true;
}

void TGameLogic::LevelFinished() {
  ++GameEnvironment.LevelsFinished;
  if (TLevelStats* st = GameEnvironment.LevelStatsOf(LevelNumber))
    for (int i = 0; i < 7; ++i) st->Counts[i] = ScoreCounts[static_cast<size_t>(i)];
  if (LevelNumber < LevelCount) {
    StartScore = Score;
    for (int i = 0; i < 2; ++i) {
      TGEOption* o = Option(i);
      StartOptions[static_cast<size_t>(i)] = o ? o->Count : 0;
    }
    GameEnvironment.StartScore = StartScore;
    GameEnvironment.StartOptions[0] = StartOptions[0];
    GameEnvironment.StartOptions[1] = StartOptions[1];
    GameEnvironment.StartLevel = LevelNumber + 1;
  }
  SaveSettings();
}

int32_t TGameLogic::InsertHighscore() {
  int32_t pos = -1;
  auto& hs = GameEnvironment.Highscores;
  for (int32_t i = kHighscoreCount - 1; i >= 0; --i)
    if (Score > hs[i].Score) {
      if (i < kHighscoreCount - 1) hs[i + 1] = hs[i];
      pos = i;
    }
  if (pos < 0) return -1;
  hs[pos].Name = SettingsText(TTextField::HighscoreName, GameEnvironment.Alias);
  hs[pos].Score = Score;
  if (pos == 0) {
    for (int32_t l = 1; l <= kStatLevels; ++l) *GameEnvironment.BestLevelStatsOf(l) = TLevelStats{};
    for (int32_t l = 1; l < LevelNumber && l <= kStatLevels; ++l)
      *GameEnvironment.BestLevelStatsOf(l) = *GameEnvironment.LevelStatsOf(l);
    if (TLevelStats* st = GameEnvironment.BestLevelStatsOf(LevelNumber))
      for (int i = 0; i < 7; ++i) st->Counts[i] = ScoreCounts[static_cast<size_t>(i)];
    CopyBestReplay(UserDataDir + kLastReplayName, UserDataDir + kMyBestReplayName);
  }
  SaveSettings();
  return pos;
}

void TGameLogic::EndGame(bool fireworks) {
  const int32_t pos = InsertHighscore();
  HighscorePos = pos;
  if (pos >= 0) {
    Fireworks = fireworks;
    SetState(gsHighscore);
  } else {
    SetState(gsTitle);
  }
}
