#include <gtest/gtest.h>

#include <climits>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "ReferencePlanner.h"
#include "game/PathPlanner.h"

namespace {

// A map from rows of text: '#' blocked (255), 'f' fire (15), anything else free.
struct Grid {
  std::vector<std::string> Rows;
  int Asked = 0;
  std::unique_ptr<TSearchableMap> Map;
  TAStarPathPlanner Planner;

  explicit Grid(std::vector<std::string> rows) : Rows(std::move(rows)) {
    Map = std::make_unique<TSearchableMap>(static_cast<int32_t>(Rows[0].size()), static_cast<int32_t>(Rows.size()));
    Map->CostCallback = [this](int32_t x, int32_t y) { return CellCost(x, y); };
    Planner.SetMap(Map.get());
  }
  int32_t CellCost(int32_t x, int32_t y) {
    ++Asked;
    char c = Rows[y][x];
    return c == '#' ? 255 : c == 'f' ? 15 : 0;
  }
  int32_t Find(int sx, int sy, int gx, int gy) {
    Map->NewSearch();
    return Planner.FindPathBetween({sx, sy}, {gx, gy});
  }
  std::vector<TPathPoint> Path() const {
    std::vector<TPathPoint> p;
    for (int i = 0; i < Planner.Path().Count(); ++i) p.push_back(Planner.Path().GetPoint(i));
    return p;
  }
};

std::string Show(const std::vector<TPathPoint>& p) {
  std::string s;
  for (auto& q : p) s += "(" + std::to_string(q.X) + "," + std::to_string(q.Y) + ")";
  return s;
}

// The planner's cost of a path: per step the entered cell's cost + 1 (+1 for the distance),
// plus 1 when the step leaves a cell off the goal's row and column; the goal itself is free.
int PathCost(Grid& g, const std::vector<TPathPoint>& p) {
  int total = 0;
  TPathPoint goal = p.back();
  for (size_t i = 1; i + 1 < p.size(); ++i) {
    char c = g.Rows[p[i].Y][p[i].X];
    total += (c == 'f' ? 16 : 1) + 1;
    if (p[i - 1].X != goal.X && p[i - 1].Y != goal.Y) total += 1;
  }
  return total;
}

// Plain Dijkstra over the same costs, to the cheapest open neighbour of the goal.
int BestCost(Grid& g, TPathPoint s, TPathPoint goal) {
  int w = static_cast<int>(g.Rows[0].size()), h = static_cast<int>(g.Rows.size());
  std::vector<int> dist(static_cast<size_t>(w * h), INT_MAX);
  using E = std::pair<int, int>;
  std::priority_queue<E, std::vector<E>, std::greater<E>> pq;
  dist[s.Y * w + s.X] = 0;
  pq.push({0, s.Y * w + s.X});
  const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, -1, 0, 1};
  int best = INT_MAX;
  while (!pq.empty()) {
    auto [d, i] = pq.top();
    pq.pop();
    if (d > dist[i]) continue;
    int x = i % w, y = i / w;
    if (std::abs(x - goal.X) + std::abs(y - goal.Y) == 1) best = std::min(best, d);
    for (int k = 0; k < 4; ++k) {
      int nx = x + dx[k], ny = y + dy[k];
      if (nx < 0 || ny < 0 || nx >= w || ny >= h || (nx == goal.X && ny == goal.Y)) continue;
      char c = g.Rows[ny][nx];
      if (c == '#') continue;
      int nd = d + (c == 'f' ? 16 : 1) + 1 + (x != goal.X && y != goal.Y ? 1 : 0);
      if (nd < dist[ny * w + nx]) {
        dist[ny * w + nx] = nd;
        pq.push({nd, ny * w + nx});
      }
    }
  }
  return best;
}

}  // namespace

TEST(PathPlanner, StartGoalAndNeighbourGoal) {
  Grid g({"...", ".#.", "..."});
  EXPECT_EQ(g.Find(0, 0, 0, 0), 0);
  EXPECT_EQ(g.Planner.Path().Count(), 0);
  // A blocked neighbour goal is still reached, and no cell is asked.
  EXPECT_EQ(g.Find(1, 0, 1, 1), 1);
  EXPECT_EQ(Show(g.Path()), "(1,0)(1,1)");
  EXPECT_EQ(g.Asked, 0);
  // The same without a map.
  TAStarPathPlanner bare;
  EXPECT_EQ(bare.FindPathBetween({2, 2}, {2, 3}), 1);
  EXPECT_THROW(bare.FindPathBetween({2, 2}, {4, 4}), EPathException);
}

TEST(PathPlanner, EnclosedGoalOrStartHasNoPath) {
  Grid g({".....", "..#..", ".#.#.", "..#..", "....."});
  EXPECT_EQ(g.Find(0, 0, 2, 2), -1);
  EXPECT_EQ(g.Planner.Path().Count(), 0);
  EXPECT_EQ(g.Find(2, 2, 0, 0), -1);  // walled-in start: popped, then nothing
  EXPECT_EQ(g.Find(0, 0, 4, 5), -1);  // outside the map
}

TEST(PathPlanner, GoalCellItselfIsNeverCosted) {
  Grid g({".....", ".....", "....."});
  g.Rows[1][4] = '#';  // the goal is "occupied"
  EXPECT_GT(g.Find(0, 1, 4, 1), 0);
  EXPECT_EQ(g.Path().back(), (TPathPoint{4, 1}));
  EXPECT_EQ(g.Path()[g.Path().size() - 2], (TPathPoint{3, 1}));
}

TEST(PathPlanner, EqualCostRoutesFollowTheHeapAndRepeat) {
  Grid g({"....", "....", "....", "...."});
  int32_t r = g.Find(0, 0, 3, 3);
  std::string first = Show(g.Path());
  // Pinned (traced by hand through the heap's tie rules): along +x, then down the goal's column.
  EXPECT_EQ(first, "(0,0)(1,0)(2,0)(3,0)(3,1)(3,2)(3,3)");
  EXPECT_EQ(r, 13);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(g.Find(0, 0, 3, 3), r);
    EXPECT_EQ(Show(g.Path()), first);
  }
  // Detours around fire when it is cheaper.
  Grid f({".f.", ".f.", "..."});
  ASSERT_GT(f.Find(0, 0, 2, 0), 0);
  EXPECT_EQ(Show(f.Path()), "(0,0)(0,1)(0,2)(1,2)(2,2)(2,1)(2,0)");
}

TEST(PathPlanner, FindsTheCheapestRouteOnRandomGrids) {
  std::mt19937 rng(11);
  for (int round = 0; round < 60; ++round) {
    int w = 3 + static_cast<int>(rng() % 14), h = 3 + static_cast<int>(rng() % 14);
    std::vector<std::string> rows(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
    for (auto& row : rows)
      for (char& c : row) {
        unsigned r = rng() % 10;
        c = r < 3 ? '#' : r < 4 ? 'f' : '.';
      }
    Grid g(rows);
    TPathPoint s{static_cast<int>(rng() % w), static_cast<int>(rng() % h)};
    TPathPoint t{static_cast<int>(rng() % w), static_cast<int>(rng() % h)};
    if (std::abs(s.X - t.X) + std::abs(s.Y - t.Y) <= 1) continue;
    int32_t r = g.Find(s.X, s.Y, t.X, t.Y);
    int best = BestCost(g, s, t);
    if (best == INT_MAX) {
      EXPECT_EQ(r, -1) << round;
      continue;
    }
    ASSERT_GE(r, 0) << round;
    auto p = g.Path();
    ASSERT_GE(p.size(), 3u);
    EXPECT_EQ(p.front(), s);
    EXPECT_EQ(p.back(), t);
    for (size_t i = 1; i < p.size(); ++i) {
      EXPECT_EQ(std::abs(p[i].X - p[i - 1].X) + std::abs(p[i].Y - p[i - 1].Y), 1) << round;
      if (i + 1 < p.size()) {
        EXPECT_NE(g.Rows[p[i].Y][p[i].X], '#') << round;
      }
    }
    EXPECT_EQ(PathCost(g, p), best) << round << " " << Show(p);
  }
}

TEST(PathPlanner, PathHoldsAThousandPoints) {
  TPath p;
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(p.Add({i, 0}), i);
  EXPECT_EQ(p.Add({0, 1}), -1);
  EXPECT_EQ(p.Count(), 1000);
  p.Reverse();
  EXPECT_EQ(p.GetPoint(0).X, 999);
  EXPECT_EQ(p.GetPoint(999).X, 0);
  EXPECT_THROW(p.GetPoint(1000), EListError);
}

// The planner against the frozen copy of the search it replaced: the same result, path and cells
// asked, in the same order, on random maps of many shapes. Open ground gives many ties of cost,
// fire gives cheaper routes found late (a cost decrease inside the open list), and cells change
// between searches of the same map, as smokers and doors move.
TEST(PathPlanner, SameSearchAsTheReferenceOnRandomMaps) {
  std::mt19937 rng(2024);
  int searches = 0, found = 0, decreases = 0;
  for (int round = 0; round < 400; ++round) {
    const int w = 1 + static_cast<int>(rng() % 40), h = 1 + static_cast<int>(rng() % 40);
    const unsigned wallPct = rng() % 45, firePct = rng() % 30;
    std::vector<uint8_t> cell(static_cast<size_t>(w * h));  // 0 free, 1 fire, 2 blocked
    auto roll = [&](uint8_t& c) {
      unsigned r = rng() % 100;
      c = r < wallPct ? 2 : r < wallPct + firePct ? 1 : 0;
    };
    for (uint8_t& c : cell) roll(c);
    auto cost = [&](int32_t x, int32_t y) -> int32_t {
      uint8_t c = cell[static_cast<size_t>(y * w + x)];
      return c == 2 ? 255 : c == 1 ? 15 : 0;
    };
    std::vector<std::pair<int, int>> askedNew, askedRef;
    TSearchableMap map(w, h);
    map.CostCallback = [&](int32_t x, int32_t y) {
      askedNew.push_back({x, y});
      return cost(x, y);
    };
    TAStarPathPlanner planner;
    planner.SetMap(&map);
    refplan::Planner ref(w, h, [&](int32_t x, int32_t y) {
      askedRef.push_back({x, y});
      return cost(x, y);
    });
    for (int q = 0; q < 25; ++q) {
      // Now and then a few cells change, or start and goal come from outside the map.
      if (rng() % 3 == 0)
        for (int k = 0; k < 3; ++k) roll(cell[rng() % cell.size()]);
      const int spread = rng() % 8 == 0 ? 2 : 0;
      TPathPoint s{static_cast<int>(rng() % (w + spread)) - spread / 2, static_cast<int>(rng() % (h + spread)) - spread / 2};
      TPathPoint t{static_cast<int>(rng() % (w + spread)) - spread / 2, static_cast<int>(rng() % (h + spread)) - spread / 2};
      askedNew.clear();
      askedRef.clear();
      if (rng() % 2) map.NewSearch();
      const int32_t r = planner.FindPathBetween(s, t);
      const int32_t e = ref.Find({s.X, s.Y}, {t.X, t.Y});
      ++searches;
      found += r > 1;
      ASSERT_EQ(r, e) << "round " << round << " search " << q;
      ASSERT_EQ(planner.Path().Count(), static_cast<int32_t>(ref.Path.size())) << round << " " << q;
      for (int32_t i = 0; i < planner.Path().Count(); ++i) {
        ASSERT_EQ(planner.Path().GetPoint(i).X, ref.Path[static_cast<size_t>(i)].X) << round << " " << q;
        ASSERT_EQ(planner.Path().GetPoint(i).Y, ref.Path[static_cast<size_t>(i)].Y) << round << " " << q;
      }
      ASSERT_EQ(askedNew, askedRef) << round << " " << q;
      decreases += ref.Resorts;
    }
  }
  EXPECT_GT(found, searches / 4);
  EXPECT_GT(decreases, 1000);  // the maps exercise the open list's re-sort
}

// A long winding corridor: a path of more than the 1,000 places keeps its first points.
TEST(PathPlanner, LongPathKeepsItsFirstThousandPointsLikeTheReference) {
  const int w = 61, h = 61;
  std::vector<uint8_t> wall(static_cast<size_t>(w * h), 0);
  for (int y = 1; y < h; y += 2)
    for (int x = 0; x < w; ++x) wall[static_cast<size_t>(y * w + x)] = 1;
  for (int y = 1; y < h; y += 2) wall[static_cast<size_t>(y * w + ((y / 2) % 2 ? 0 : w - 1))] = 0;
  auto cost = [&](int32_t x, int32_t y) -> int32_t { return wall[static_cast<size_t>(y * w + x)] ? 255 : 0; };
  TSearchableMap map(w, h);
  map.CostCallback = cost;
  TAStarPathPlanner planner;
  planner.SetMap(&map);
  refplan::Planner ref(w, h, cost);
  const int32_t r = planner.FindPathBetween({0, 0}, {0, h - 1});
  ASSERT_EQ(r, ref.Find({0, 0}, {0, h - 1}));
  ASSERT_GT(r, 1000);
  ASSERT_EQ(planner.Path().Count(), 1000);
  for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(planner.Path().GetPoint(i).X, ref.Path[static_cast<size_t>(i)].X);
}
