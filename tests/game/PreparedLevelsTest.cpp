// Shipped levels built ahead on the worker load exactly as from their streams: the same level
// data, the same game state step for step, through the level end into the next level.
#include <gtest/gtest.h>

#include <random>

#include "support/TestSupport.h"
#include "base/Streams.h"
#include "game/GameElements.h"
#include "game/GameLogic.h"
#include "game/KTGlobal.h"
#include "game/LevelData.h"
#include "game/Options.h"
#include "game/PreparedLevels.h"

namespace {

// Everything a level holds after loading, as bytes.
std::string LevelBytes(const TQVGameLevel& l) {
  TStringStream s;
  s.WriteBuffer(l.Name.data(), static_cast<int32_t>(l.Name.size()));
  for (int32_t v : {l.TimeLimit, l.Width, l.Height, l.PlayerStart.X, l.PlayerStart.Y, int32_t(l.PlayerStart.Direction),
                    l.StepCount, l.LaserValue, int32_t(l.LaserOn), l.PickupRingNext, l.Sparkles.Count()})
    s.WriteI32(v);
  for (const TLevelCell& c : l.Cells) {
    uint8_t a[17], b[20];
    c.WritePartA(a);
    c.WritePartB(b);
    s.WriteBuffer(a, sizeof a);
    s.WriteBuffer(b, sizeof b);
    s.WriteI32(c.StateCounter);
    s.WriteI32(c.LaserDistance);
    s.WriteI32(c.Occupant != nullptr);
  }
  for (const TSwitchGroup& g : l.Groups) {
    s.WriteI32(g.Count);
    for (int32_t i = 0; i < g.Count; ++i) s.WriteBuffer(&g.Entries[static_cast<size_t>(i)], sizeof(TGroupEntry));
  }
  for (uint32_t p : l.ActiveCells) s.WriteU32(p);
  for (const TDecorSprite& d : l.Decor) d.WriteToStream(s);
  for (const TEnemyStart& e : l.EnemyStarts) {
    s.WriteI32(e.X), s.WriteI32(e.Y), s.WriteI32(e.Direction);
    for (uint32_t p : e.Waypoints) s.WriteU32(p);
    s.WriteI32(-1);
  }
  for (uint32_t c : l.ShadowColors) s.WriteU32(c);
  for (const auto& f : l.FireLists) {
    s.WriteI32(f ? static_cast<int32_t>(f->size()) : -1);
    if (f)
      for (uint32_t p : *f) s.WriteU32(p);
  }
  s.WriteI32(l.Map ? 1 : 0);
  s.WriteI32(l.Planner ? 1 : 0);
  return s.DataString;
}

struct TRun {
  std::string LevelAtStart, NextLevelAtStart;
  std::vector<uint64_t> Digests;
  int32_t Taken = 0;  // prepared levels the run loaded
};

// Level `n` from its start with scripted input, won, then on into level n + 1 for a while.
TRun Play(int32_t n, bool prepared) {
  ResetEnvironment(GameEnvironment);
  GameEnvironment.StartLevel = n;
  TRun run;
  auto g = std::make_unique<TGameLogic>(TGameLogicSetup{});
  g->NewSeed = [] { return 777u; };
  if (prepared) WaitForPreparedLevels();
  else ForgetPreparedLevels();
  const int32_t taken = PreparedLevelsTaken();
  g->SetState(gsTitle);
  g->StartGame();
  run.LevelAtStart = LevelBytes(*g->Level);
  std::mt19937 rng(static_cast<unsigned>(n));
  auto step = [&](uint32_t word) {
    g->SimulationStep(word);
    run.Digests.push_back(GameStateDigest(*g));
  };
  for (int i = 0; i < 400 && g->GameState == gsPlaying; ++i) step(1 | (kInputRight << (rng() % 4)) | (rng() % 3 ? 0 : kInputFire));
  g->Player()->Done = 1;
  g->Player()->Won = 1;
  for (int i = 0; i < 600 && g->GameState == gsPlaying; ++i) step(0);
  for (int i = 0; i < 600 && g->GameState == gsLevelEnd && g->EndPhase != 3; ++i) step(0);
  g->EndPhase = 4;
  g->ContinueChosen = true;
  if (!prepared) ForgetPreparedLevels();  // the next level too from its stream
  for (int i = 0; i < 600 && g->GameState == gsLevelEnd; ++i) step(0);
  if (g->GameState == gsPlaying && g->Level) {
    run.NextLevelAtStart = LevelBytes(*g->Level);
    for (int i = 0; i < 200 && g->GameState == gsPlaying; ++i) step(rng() & 0x3F);
  }
  run.Taken = PreparedLevelsTaken() - taken;
  return run;
}

TEST(PreparedLevels, LoadAsFromTheirStreamsStepForStep) {
  UserDataDir = TestDir();
  for (int32_t n = 1; n <= kShippedLevelCount; ++n) {
    SCOPED_TRACE("level " + std::to_string(n));
    const TRun plain = Play(n, false);
    const TRun prepared = Play(n, true);
    EXPECT_EQ(plain.Taken, 0);
    // The last level ends the game: no next level is loaded.
    EXPECT_EQ(prepared.Taken, n < kShippedLevelCount ? 2 : 1);
    EXPECT_EQ(prepared.LevelAtStart, plain.LevelAtStart);
    EXPECT_EQ(prepared.NextLevelAtStart, plain.NextLevelAtStart);
    EXPECT_EQ(n < kShippedLevelCount, !plain.NextLevelAtStart.empty());
    ASSERT_EQ(prepared.Digests.size(), plain.Digests.size());
    for (size_t i = 0; i < plain.Digests.size(); ++i)
      ASSERT_EQ(prepared.Digests[i], plain.Digests[i]) << "first difference at step " << i;
  }
}

TEST(PreparedLevels, ALevelTakenIsBuiltAgainForTheNextLoad) {
  PrepareShippedLevels(3);
  WaitForPreparedLevels();
  std::unique_ptr<TQVGameLevel> first = TakePreparedLevel(3, nullptr, nullptr);
  ASSERT_TRUE(first);
  // Changed in play: the copy built next is fresh.
  first->Cells[0].StateCounter = 99;
  WaitForPreparedLevels();
  std::unique_ptr<TQVGameLevel> second = TakePreparedLevel(3, nullptr, nullptr);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Cells[0].StateCounter, 0);
  DisposeLevel(std::move(first));
  DisposeLevel(std::move(second));
  // Only shipped levels are prepared; user levels load from their files.
  EXPECT_FALSE(TakePreparedLevel(0, nullptr, nullptr));
  EXPECT_FALSE(TakePreparedLevel(kShippedLevelCount + 1, nullptr, nullptr));
  WaitForPreparedLevels();
}

}  // namespace
