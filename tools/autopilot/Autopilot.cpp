// The autopilot. It decides once per 20 ms step from what the game shows (cells, figures, the
// player's energy and keys) and hands the game one input word, exactly as the keyboard would.
#include "Autopilot.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <set>

#include "LevelCompiler.h"
#include "LevelFile.h"
#include "base/Streams.h"
#include "game/GameElements.h"
#include "game/GameLogic.h"
#include "game/KTInput.h"
#include "game/LevelData.h"
#include "game/LevelView.h"
#include "game/ReplayPack.h"

namespace autopilot {

namespace {

constexpr uint32_t kDirBit[4] = {kInputRight, kInputUp, kInputLeft, kInputDown};
constexpr int kFar = INT_MAX / 4;

int DirectionTo(int dx, int dy) {
  if (dx > 0) return 0;
  if (dy < 0) return 1;
  if (dx < 0) return 2;
  return 3;
}

int CountPickups(const TQVGameLevel& level) {
  int n = 0;
  for (const TLevelCell& c : level.Cells) n += c.Action == caOption1 || c.Action == caOption2 || c.Action == caDiamond;
  return n;
}

class Pilot {
public:
  Pilot(TGameLogic& game, const Options& options) : G(game), Opt(options), Rng(options.Seed) {
    const levelc::ExitRun run = levelc::FastestExitRun(levelc::FromGameLevel(*G.Level));
    for (size_t i = 1; i < run.Route.size(); ++i)
      if (run.Events[i]) {
        Checkpoints.push_back(run.Route[i]);
        CheckpointIndex.push_back(static_cast<int>(i));
      }
  }

  // The input word for the next step.
  uint32_t Decide() {
    TGEPlayer& p = *G.Player();
    TQVGameLevel& l = *G.Level;
    uint32_t word = 1;
    if (!G.IsRunning() || p.Done) return word;
    Search(p.X, p.Y);
    while (Next + 1 < Checkpoints.size() && p.X == Checkpoints[Next].first && p.Y == Checkpoints[Next].second) ++Next;
    // a key taken on the way needs no second visit
    while (Next + 1 < Checkpoints.size() && l.Cell(Checkpoints[Next].first, Checkpoints[Next].second).Action != caKey &&
           RouteKey(Next))
      ++Next;

    // the option keys act on release: press for one step, then let go
    if (OptionKey) {
      OptionKey = 0;
    } else if (Hunting()) {
      TGEOption* hearts = G.Option(0);
      TGEOption* super = G.Option(1);
      if (hearts && hearts->Count > 0 && !hearts->Selected) word |= OptionKey = kInputKey1;
      else if (super && super->Count > 0 && !super->Selected && !(hearts && hearts->Selected)) word |= OptionKey = kInputKey2;
    }

    if (Opt.Newcomer) return word | NewcomerStep(p);

    // a smoker in line: face it and throw
    if (const TGESmoker* s = SmokerInLine(p)) {
      const int d = DirectionTo(s->X - p.X, s->Y - p.Y);
      word |= kInputFire;
      if (p.TargetAngle != static_cast<float>(d) && !p.Walking) word |= kDirBit[d];
      Stuck = 0;
      return word;
    }
    if (p.Walking) return word;

    if (p.Energy < 0.35f) Healing = true;
    if (p.Energy >= 0.95f) Healing = false;
    int gx = -1, gy = -1;
    if (Healing && !FinalRun()) {
      if (l.Cell(p.X, p.Y).Action == caEnergy) return word;
      if (!Nearest([&](int x, int y) { return l.Cell(x, y).Action == caEnergy; }, 40, gx, gy)) Healing = false;
    }
    if (gx < 0 && Hunting()) {
      if (!Nearest([&](int x, int y) {
            uint8_t a = l.Cell(x, y).Action;
            return a == caOption1 || a == caOption2 || a == caDiamond;
          }, Opt.PickupReach, gx, gy))
        FiringCell(gx, gy);
    }
    if (gx < 0 && Next < Checkpoints.size()) {
      gx = Checkpoints[Next].first;
      gy = Checkpoints[Next].second;
    }
    int d = -1;
    if (Wander > 0) {
      --Wander;
      d = WanderDir;
      if (!Passable(p.X + kDirDX[d], p.Y + kDirDY[d])) Wander = 0;
    } else if (gx >= 0 && Dist[Index(gx, gy)] < kFar) {
      d = FirstStep(gx, gy);
    }
    if (d < 0) {
      if (++Stuck > 60) StartWander();
      return word;
    }
    // lasers: cross only while they are dark long enough for the whole step
    if (l.CrossesLaserEdge(p.X, p.Y, static_cast<uint8_t>(d)) && (l.LaserOn || l.LaserValue < 14)) return word;
    if (p.X == LastX && p.Y == LastY) {
      if (++Stuck > 120) StartWander();
    } else {
      Stuck = 0;
      LastX = p.X;
      LastY = p.Y;
    }
    return word | kDirBit[d];
  }

private:
  // Stands and throws at a smoker straight ahead on the screen, else walks the exit run; where a
  // smoker blocks the way it pushes towards it.
  uint32_t NewcomerStep(const TGEPlayer& p) {
    const int facing = static_cast<int>(p.TargetAngle) & 3;
    for (const auto& e : G.GetList(1)) {
      const auto* s = static_cast<const TGESmoker*>(e.get());
      if (s->Converted) continue;
      const int dx = s->X - p.X, dy = s->Y - p.Y;
      if ((dx != 0 && dy != 0) || (dx == 0 && dy == 0) || DirectionTo(dx, dy) != facing) continue;
      if (!OnScreen(p, s->CenterX(), s->CenterY()) || !Clear(p.X, p.Y, dx, dy)) continue;
      if (ShotLaneFree(p, dx, dy, std::abs(dx) + std::abs(dy))) return kInputFire;
    }
    if (p.Walking || Next >= Checkpoints.size()) return 0;
    int d = FirstStep(Checkpoints[Next].first, Checkpoints[Next].second);
    // a smoker in the way: push towards it as a person would, which turns the player to face it
    for (int k = 0; k < 4 && d < 0; ++k) {
      const TGameElement* o = G.Level->GetOccupant(p.X + kDirDX[k], p.Y + kDirDY[k]);
      const auto* s = dynamic_cast<const TGESmoker*>(o);
      if (s && !s->Converted && k != facing) d = k;
    }
    if (d < 0) return 0;
    if (G.Level->CrossesLaserEdge(p.X, p.Y, static_cast<uint8_t>(d)) && (G.Level->LaserOn || G.Level->LaserValue < 14))
      return 0;
    return kDirBit[d];
  }

public:
  // Whether a point (cells) is on the picture the camera shows round the player.
  bool OnScreen(const TGEPlayer& p, float x, float y) const {
    const TQVGameLevel& l = *G.Level;
    return OnPicture(CameraLeft(p.CenterX(), l.Width), CameraTop(p.CenterY(), l.Height), x, y);
  }

private:
  TGameLogic& G;
  Options Opt;
  std::mt19937 Rng;
  std::vector<std::pair<int, int>> Checkpoints;
  std::vector<int> CheckpointIndex;
  size_t Next = 0;
  uint32_t OptionKey = 0;
  bool Healing = false;
  int Stuck = 0, LastX = -1, LastY = -1;
  int Wander = 0, WanderDir = 0;
  std::vector<int> Dist, From;

  size_t Index(int x, int y) const { return static_cast<size_t>(y) * G.Level->Width + x; }

  bool RouteKey(size_t i) const {
    // the checkpoint was a key cell when the level started (its code is now 0)
    const TQVGameLevel& l = *G.Level;
    const auto [x, y] = Checkpoints[i];
    return l.Cell(x, y).Action == caFloor && KeyCells.count(Index(x, y));
  }

  void StartWander() {
    Stuck = 0;
    Wander = 10 + static_cast<int>(Rng() % 15);
    WanderDir = static_cast<int>(Rng() % 4);
  }

  // Cells the player may walk into now; the exit and a switch only when they are the checkpoint.
  bool Passable(int x, int y) const {
    const TQVGameLevel& l = *G.Level;
    if (x < 1 || y < 1 || x >= l.Width - 1 || y >= l.Height - 1) return false;
    const TLevelCell& c = l.Cell(x, y);
    switch (c.Action) {
      case caWall:
      case caObstacle: return false;
      case caExit:
      case caSwitch: return IsCheckpoint(x, y);
      case caDoor:
        if (c.StateCounter < 13 && c.Param != 0 && !G.Player()->Keys[c.Param & 15]) return false;
        break;
      default: break;
    }
    return c.Occupant == nullptr || c.Occupant == G.Player();
  }

  // Cheapest paths from (x, y); fires cost more than floor. A switch or the exit ends a path:
  // walking over one acts.
  void Search(int x, int y) {
    const TQVGameLevel& l = *G.Level;
    Dist.assign(static_cast<size_t>(l.Width) * l.Height, kFar);
    From.assign(Dist.size(), -1);
    using Item = std::pair<int, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> q;
    Dist[Index(x, y)] = 0;
    q.push({0, static_cast<int>(Index(x, y))});
    while (!q.empty()) {
      auto [dist, i] = q.top();
      q.pop();
      if (dist > Dist[static_cast<size_t>(i)]) continue;
      const int cx = i % l.Width, cy = i / l.Width;
      const uint8_t a = l.Cell(cx, cy).Action;
      if (dist > 0 && (a == caSwitch || a == caExit)) continue;
      for (int d = 0; d < 4; ++d) {
        const int nx = cx + kDirDX[d], ny = cy + kDirDY[d];
        if (!Passable(nx, ny)) continue;
        const int cost = l.Cell(nx, ny).Action == caFire ? 6 : 1;
        const size_t j = Index(nx, ny);
        if (dist + cost < Dist[j]) {
          Dist[j] = dist + cost;
          From[j] = i;
          q.push({Dist[j], static_cast<int>(j)});
        }
      }
    }
  }

  bool IsCheckpoint(int x, int y) const {
    return Next < Checkpoints.size() && Checkpoints[Next].first == x && Checkpoints[Next].second == y;
  }

  int FirstStep(int gx, int gy) const {
    const TGEPlayer& p = *G.Player();
    int i = static_cast<int>(Index(gx, gy));
    const int start = static_cast<int>(Index(p.X, p.Y));
    if (i == start) return -1;
    while (From[static_cast<size_t>(i)] != start) {
      i = From[static_cast<size_t>(i)];
      if (i < 0) return -1;
    }
    const int w = G.Level->Width;
    return DirectionTo(i % w - p.X, i / w - p.Y);
  }

  bool Nearest(const std::function<bool(int, int)>& want, int reach, int& gx, int& gy) const {
    const TQVGameLevel& l = *G.Level;
    int best = kFar;
    for (int y = 1; y < l.Height - 1; ++y)
      for (int x = 1; x < l.Width - 1; ++x)
        if (want(x, y) && Dist[Index(x, y)] <= reach && Dist[Index(x, y)] < best) {
          best = Dist[Index(x, y)];
          gx = x;
          gy = y;
        }
    return best < kFar;
  }

  bool Clear(int x, int y, int dx, int dy) const { return G.Level->LineOfSight(x, y, dx, dy); }

  const TGESmoker* SmokerInLine(const TGEPlayer& p) const {
    const TGESmoker* best = nullptr;
    int bestD = INT_MAX;
    for (const auto& e : G.GetList(1)) {
      const auto* s = static_cast<const TGESmoker*>(e.get());
      if (s->Converted) continue;
      const int dx = s->X - p.X, dy = s->Y - p.Y;
      if ((dx != 0 && dy != 0) || (dx == 0 && dy == 0)) continue;
      const int d = std::abs(dx) + std::abs(dy);
      if (d > Opt.FireRange || !Clear(p.X, p.Y, dx, dy)) continue;
      if (!ShotLaneFree(p, dx, dy, d)) continue;
      if (d < bestD) bestD = d, best = s;
    }
    return best;
  }

  // A converted smoker in the lane would take the shot.
  bool ShotLaneFree(const TGEPlayer& p, int dx, int dy, int d) const {
    const int sx = dx ? (dx > 0 ? 1 : -1) : 0, sy = dy ? (dy > 0 ? 1 : -1) : 0;
    for (int k = 1; k < d; ++k) {
      const TGameElement* o = G.Level->Cell(p.X + sx * k, p.Y + sy * k).Occupant;
      if (o && o != &p) return false;
    }
    return true;
  }

  // The nearest cell in line with a smoker that still smokes, from which it can be shot.
  void FiringCell(int& gx, int& gy) const {
    int best = kFar;
    for (const auto& e : G.GetList(1)) {
      const auto* s = static_cast<const TGESmoker*>(e.get());
      if (s->Converted) continue;
      for (int d = 0; d < 4; ++d)
        for (int k = 2; k <= Opt.FireRange - 1; ++k) {
          const int x = s->X - kDirDX[d] * k, y = s->Y - kDirDY[d] * k;
          if (x < 1 || y < 1 || x >= G.Level->Width - 1 || y >= G.Level->Height - 1) break;
          const uint8_t a = G.Level->Cell(x, y).Action;
          if (a == caWall || (a == caDoor && G.Level->Cell(x, y).StateCounter < 13)) break;
          const int dist = Dist[Index(x, y)];
          if (dist < best && Clear(x, y, s->X - x, s->Y - y)) {
            best = dist;
            gx = x;
            gy = y;
          }
        }
    }
  }

  int RemainingRunMs() const {
    if (Next >= Checkpoints.size()) return 0;
    const int leg = Dist[Index(Checkpoints[Next].first, Checkpoints[Next].second)];
    const int rest = CheckpointIndex.back() - CheckpointIndex[Next];
    return (std::min(leg, 400) + rest) * 300 + 6000;
  }

  bool FinalRun() const { return G.GameTime + RemainingRunMs() > G.Level->TimeLimit * 1000 * Opt.HuntShare; }
  bool Hunting() const { return !FinalRun(); }

public:
  std::set<size_t> KeyCells;
};

}  // namespace

Result PlayLevel(const std::vector<uint8_t>& levelFile, int32_t levelNumber, int32_t startScore,
                 std::array<int32_t, 2> startOptions, const Options& options) {
  TGameLogic g{TGameLogicSetup{}};
  g.LevelNumber = levelNumber;
  g.StartScore = startScore;
  g.StartOptions = startOptions;
  g.RandomSeed = static_cast<int32_t>(options.Seed);
  g.ReplayMode = rmNone;
  g.LiveInput.Clear();
  g.ReplayInput.Clear();
  g.SetState(gsPlaying);
  TReadOnlyMemoryStream file(levelFile.data(), levelFile.size());
  g.LoadLevelFrom(file);

  Result r;
  r.TimeLimitMs = g.Level->TimeLimit * 1000;
  r.Smokers = static_cast<int32_t>(g.GetList(1).size());
  const int pickups = CountPickups(*g.Level);
  Pilot pilot(g, options);
  for (int x = 0; x < g.Level->Width; ++x)
    for (int y = 0; y < g.Level->Height; ++y)
      if (g.Level->Cell(x, y).Action == caKey) pilot.KeyCells.insert(static_cast<size_t>(y) * g.Level->Width + x);
  // the time limit twice over, then the run is given up
  const int maxSteps = 200 + 2 * r.TimeLimitMs / 20;
  const std::array<int, 4>& area = options.FirstArea;
  const bool watchArea = area[2] >= area[0];
  bool inArea = watchArea;
  // each flying cigarette: whether its thrower stood off the screen when it was thrown, and
  // where its tip was
  struct Flight {
    bool Off;
    float TipX, TipY;
  };
  std::map<const TGameElement*, Flight> cigarettes;
  for (int i = 0; i < maxSteps && g.GameState == gsPlaying; ++i) {
    const float before = g.Player()->Energy;
    g.SimulationStep(pilot.Decide());
    if (!inArea) continue;
    TGEPlayer& p = *g.Player();
    std::map<const TGameElement*, Flight> now;
    for (const auto& e : g.GetList(5)) {
      auto it = cigarettes.find(e.get());
      const auto* c = static_cast<const TGECigarette*>(e.get());
      const bool off = it != cigarettes.end() ? it->second.Off
                                              : !(c->Thrower && pilot.OnScreen(p, c->Thrower->CenterX(), c->Thrower->CenterY()));
      now[e.get()] = {off, c->X + c->TipX, c->Y + c->TipY};
    }
    // a cigarette costs 0.1 at once, nothing else as much in one step: the one that hit is the
    // vanished one whose tip was nearest
    if (before - p.Energy > 0.09f) {
      const Flight* hit = nullptr;
      float best = 2;
      for (auto& [e, f] : cigarettes) {
        const float d = std::abs(f.TipX - p.CenterX()) + std::abs(f.TipY - p.CenterY());
        if (!now.count(e) && d < best) best = d, hit = &f;
      }
      if (hit && hit->Off) ++r.OffScreenHits;
    }
    cigarettes = std::move(now);
    int engaged = 0;
    for (const auto& e : g.GetList(1)) {
      const auto* s = static_cast<const TGESmoker*>(e.get());
      // chasing or fleeing where it can see the player or be seen
      const bool near = std::abs(s->X - p.X) < 10 && std::abs(s->Y - p.Y) < 10 &&
                        g.Level->LineOfSight(s->X, s->Y, p.X - s->X, p.Y - s->Y);
      engaged += !s->Converted && (s->State == 1 || s->State == 2) && (near || pilot.OnScreen(p, s->CenterX(), s->CenterY()));
    }
    r.MostEngaged = std::max(r.MostEngaged, engaged);
    if (p.Done || g.GameState != gsPlaying || p.X < area[0] || p.X > area[2] || p.Y < area[1] || p.Y > area[3]) {
      inArea = false;
      r.AreaEnergy = p.Energy;
      r.AreaTime = g.GameTime;
      if (options.StopAtAreaExit) return r;
    }
  }
  if (g.GameState != gsLevelEnd) return r;
  r.Won = g.LevelWon != 0;
  r.GameTime = g.GameTime;
  for (const auto& e : g.GetList(1)) r.Converted += static_cast<const TGESmoker*>(e.get())->Converted;
  r.Pickups = pickups - CountPickups(*g.Level);
  r.EndScore = g.Score;
  r.EndEnergy = g.Player()->Energy;
  r.EndOptions = {g.Option(0)->Count, g.Option(1)->Count};
  TMemoryStream record;
  g.WriteReplayRecord(record);
  r.Record.assign(record.Data.begin(), record.Data.end());
  return r;
}

Result PlayBack(const std::vector<uint8_t>& levelFile, const std::string& record) {
  TGameLogic g{TGameLogicSetup{}};
  TStringStream rec(record);
  g.LoadReplayRecord(rec);
  g.ReplayMode = rmDemo;
  g.SetState(gsPlaying);
  TReadOnlyMemoryStream file(levelFile.data(), levelFile.size());
  g.LoadLevelFrom(file);
  Result r;
  r.TimeLimitMs = g.Level->TimeLimit * 1000;
  r.Smokers = static_cast<int32_t>(g.GetList(1).size());
  const int pickups = CountPickups(*g.Level);
  for (int i = 0; i < 200 + g.ReplayEndTime / 20 && g.GameState == gsPlaying; ++i) g.SimulationStep(0);
  r.Won = g.GameState == gsLevelEnd && g.LevelWon != 0;
  r.GameTime = g.GameTime;
  if (g.Level) {
    for (const auto& e : g.GetList(1)) r.Converted += static_cast<const TGESmoker*>(e.get())->Converted;
    r.Pickups = pickups - CountPickups(*g.Level);
  }
  r.EndScore = g.Score;
  if (g.Player()) r.EndEnergy = g.Player()->Energy;
  r.Record = record;
  return r;
}

}  // namespace autopilot
