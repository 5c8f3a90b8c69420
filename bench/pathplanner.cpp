// Path searches per second of the planner (pooled heap nodes, lazy node resets) against a plain
// Dijkstra over an array binary heap with the same step costs and the same stopping rule, on a
// 64 x 64 maze and on open ground; and the time to load a level.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "base/Streams.h"
#include "game/LevelData.h"
#include "game/PathPlanner.h"

namespace {

constexpr int kSide = 64;

struct Board {
  std::vector<uint8_t> Blocked;  // y * kSide + x
  std::vector<std::pair<TPathPoint, TPathPoint>> Queries;
};

// A perfect maze carved by a depth-first walk (fixed seed), walls on even rows and columns.
Board Maze() {
  Board b;
  b.Blocked.assign(kSide * kSide, 1);
  std::mt19937 rng(1234);
  std::vector<std::pair<int, int>> stack = {{1, 1}};
  b.Blocked[1 * kSide + 1] = 0;
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    int dirs[4] = {0, 1, 2, 3};
    std::shuffle(dirs, dirs + 4, rng);
    bool moved = false;
    for (int d : dirs) {
      int dx = d == 0 ? 2 : d == 2 ? -2 : 0, dy = d == 1 ? -2 : d == 3 ? 2 : 0;
      int nx = x + dx, ny = y + dy;
      if (nx < 1 || ny < 1 || nx > kSide - 2 || ny > kSide - 2 || !b.Blocked[ny * kSide + nx]) continue;
      b.Blocked[(y + dy / 2) * kSide + x + dx / 2] = 0;
      b.Blocked[ny * kSide + nx] = 0;
      stack.push_back({nx, ny});
      moved = true;
      break;
    }
    if (!moved) stack.pop_back();
  }
  // A few extra openings so routes of equal cost exist.
  for (int i = 0; i < 120; ++i) {
    int x = 1 + static_cast<int>(rng() % (kSide - 2)), y = 1 + static_cast<int>(rng() % (kSide - 2));
    b.Blocked[y * kSide + x] = 0;
  }
  return b;
}

Board Open() {
  Board b;
  b.Blocked.assign(kSide * kSide, 0);
  return b;
}

void AddQueries(Board& b) {
  std::mt19937 rng(99);
  while (b.Queries.size() < 64) {
    TPathPoint s{static_cast<int>(rng() % kSide), static_cast<int>(rng() % kSide)};
    TPathPoint t{static_cast<int>(rng() % kSide), static_cast<int>(rng() % kSide)};
    if (b.Blocked[s.Y * kSide + s.X] || b.Blocked[t.Y * kSide + t.X]) continue;
    if (std::abs(s.X - t.X) + std::abs(s.Y - t.Y) < kSide / 2) continue;
    b.Queries.push_back({s, t});
  }
}

const Board& MazeBoard() {
  static Board b = [] { Board m = Maze(); AddQueries(m); return m; }();
  return b;
}
const Board& OpenBoard() {
  static Board b = [] { Board m = Open(); AddQueries(m); return m; }();
  return b;
}

// The peer: Dijkstra over an array binary heap with lazy deletion.
struct Dijkstra {
  const Board& B;
  std::vector<int> Dist, Parent;
  std::vector<std::pair<int, int>> Heap;  // (cost, cell)
  explicit Dijkstra(const Board& b) : B(b), Dist(kSide * kSide), Parent(kSide * kSide) {}

  void Push(int d, int c) {
    Heap.push_back({d, c});
    size_t i = Heap.size() - 1;
    while (i > 0 && Heap[(i - 1) / 2].first > Heap[i].first) {
      std::swap(Heap[(i - 1) / 2], Heap[i]);
      i = (i - 1) / 2;
    }
  }
  std::pair<int, int> PopMin() {
    auto top = Heap[0];
    Heap[0] = Heap.back();
    Heap.pop_back();
    size_t i = 0;
    for (;;) {
      size_t l = 2 * i + 1, r = l + 1, m = i;
      if (l < Heap.size() && Heap[l].first < Heap[m].first) m = l;
      if (r < Heap.size() && Heap[r].first < Heap[m].first) m = r;
      if (m == i) break;
      std::swap(Heap[i], Heap[m]);
      i = m;
    }
    return top;
  }
  int Find(TPathPoint s, TPathPoint g, std::vector<int>& path) {
    std::fill(Dist.begin(), Dist.end(), INT32_MAX);
    Heap.clear();
    int start = s.Y * kSide + s.X;
    Dist[start] = 0;
    Parent[start] = -1;
    Push(0, start);
    const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, -1, 0, 1};
    while (!Heap.empty()) {
      auto [d, c] = PopMin();
      if (d > Dist[c]) continue;
      int x = c % kSide, y = c / kSide;
      if (std::abs(x - g.X) + std::abs(y - g.Y) == 1) {
        path.clear();
        for (int p = c; p >= 0; p = Parent[p]) path.push_back(p);
        return d;
      }
      int extra = (x != g.X && y != g.Y) ? 1 : 0;
      for (int k = 0; k < 4; ++k) {
        int nx = x + dx[k], ny = y + dy[k];
        if (nx < 0 || ny < 0 || nx >= kSide || ny >= kSide) continue;
        int n = ny * kSide + nx;
        if (B.Blocked[n] || (nx == g.X && ny == g.Y)) continue;
        int nd = d + 2 + extra;
        if (nd < Dist[n]) {
          Dist[n] = nd;
          Parent[n] = c;
          Push(nd, n);
        }
      }
    }
    return -1;
  }
};

void RunPlanner(benchmark::State& state, const Board& b) {
  TSearchableMap map(kSide, kSide);
  map.CostCallback = [&b](int32_t x, int32_t y) { return b.Blocked[y * kSide + x] ? 255 : 0; };
  TAStarPathPlanner planner;
  planner.SetMap(&map);
  size_t q = 0;
  for (auto _ : state) {
    auto& [s, t] = b.Queries[q++ % b.Queries.size()];
    map.NewSearch();
    benchmark::DoNotOptimize(planner.FindPathBetween(s, t));
  }
  state.SetItemsProcessed(state.iterations());
}

void RunDijkstra(benchmark::State& state, const Board& b) {
  Dijkstra d(b);
  std::vector<int> path;
  size_t q = 0;
  for (auto _ : state) {
    auto& [s, t] = b.Queries[q++ % b.Queries.size()];
    benchmark::DoNotOptimize(d.Find(s, t, path));
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Maze_Planner(benchmark::State& s) { RunPlanner(s, MazeBoard()); }
void BM_Maze_Dijkstra(benchmark::State& s) { RunDijkstra(s, MazeBoard()); }
void BM_Open_Planner(benchmark::State& s) { RunPlanner(s, OpenBoard()); }
void BM_Open_Dijkstra(benchmark::State& s) { RunDijkstra(s, OpenBoard()); }
BENCHMARK(BM_Maze_Planner);
BENCHMARK(BM_Maze_Dijkstra);
BENCHMARK(BM_Open_Planner);
BENCHMARK(BM_Open_Dijkstra);

// A 64 x 64 level with walls, fires, doors, decor and enemies, as a level file.
TLevelFile BenchLevel() {
  TLevelFile f;
  f.Name = "Bench";
  f.TimeLimit = 300;
  f.Resize(kSide, kSide);
  const Board& b = MazeBoard();
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      TLevelCell& c = f.Cell(x, y);
      c.FloorImage = 1;
      for (uint32_t& col : c.FloorColors) col = 0xFF808080u;
      c.Action = b.Blocked[y * kSide + x] ? caWall : ((x * 7 + y * 3) % 23 == 0 ? caFire : caFloor);
      if ((x + y) % 17 == 0) c.Flags = cfLaserLeft;
    }
  f.Decor.resize(400);
  f.PlayerStart = {1, 1, 0};
  for (int i = 0; i < 20; ++i) {
    TEnemyStart e;
    e.X = 1 + 2 * i;
    e.Y = 1;
    for (int k = 0; k < 8; ++k) e.AddWaypoint(1 + 2 * k, 1 + 2 * i);
    f.Enemies.push_back(e);
  }
  for (int i = 0; i < 64; ++i) {
    TGroupCellRecord g;
    g.X = i;
    g.Y = 0;
    g.Group = i % 32;
    f.GroupCells.push_back(g);
  }
  f.ShadowAlpha = 100;
  return f;
}

void BM_LevelLoad(benchmark::State& state) {
  TMemoryStream container;
  SaveLevelContainer(container, BenchLevel());
  for (auto _ : state) {
    container.SetPosition(0);
    TQVGameLevel level(nullptr, container, nullptr);
    benchmark::DoNotOptimize(level.Width);
  }
  state.counters["file bytes"] = static_cast<double>(container.GetSize());
}
BENCHMARK(BM_LevelLoad)->Unit(benchmark::kMicrosecond);

void BM_LevelParsePlain(benchmark::State& state) {
  TStringStream plain;
  WriteLevelFile(plain, BenchLevel());
  for (auto _ : state) {
    TReadOnlyMemoryStream s(plain.DataString.data(), plain.DataString.size());
    TLevelFile f;
    ReadLevelFile(s, f);
    TQVGameLevel level(nullptr, std::move(f), nullptr);
    benchmark::DoNotOptimize(level.Width);
  }
  state.counters["plain bytes"] = static_cast<double>(plain.DataString.size());
}
BENCHMARK(BM_LevelParsePlain)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kt_bench::TMedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Each planner's time as a ratio to its Dijkstra peer.
  for (const char* board : {"Maze", "Open"}) {
    const std::string b = board;
    const double p = reporter.Seconds("BM_" + b + "_Planner"), d = reporter.Seconds("BM_" + b + "_Dijkstra");
    if (p <= 0 || d <= 0) continue;
    std::printf("%s: planner / Dijkstra time per search = %.2f\n", board, p / d);
    kt_bench::PrintResult(std::string("Path search, ") + (b == "Maze" ? "maze" : "open ground") + ", planner / Dijkstra",
                          kt_bench::Fixed(p * 1e6, 1) + " us", kt_bench::Fixed(d * 1e6, 1) + " us",
                          kt_bench::Fixed(p / d, 2), "<= 1.3", p / d <= 1.3);
  }
  benchmark::Shutdown();
  return 0;
}
