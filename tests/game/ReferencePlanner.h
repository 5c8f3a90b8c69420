#pragma once
// A frozen copy of the path search as it stood before the planner was tuned for speed: the open
// list as a heap over positions with its insert, pop and post-order rebuild, and the search loop,
// step for step. The planner must give the same result, the same path and ask the same cells in
// the same order on every map; PathPlannerTest compares the two. Do not "improve" this file.
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

namespace refplan {

struct Point {
  int32_t X = 0;
  int32_t Y = 0;
  bool operator==(const Point&) const = default;
};

struct Location {
  int32_t Y = 0, X = 0;
  uint8_t EdgeFlags = 0;
  int32_t G = 0;
  Location* Parent = nullptr;
  uint8_t State = 0;
  int32_t CellCost = 0;
  int32_t Generation = 0;
};

class Planner {
public:
  using Cost = std::function<int32_t(int32_t x, int32_t y)>;

  Planner(int32_t width, int32_t height, Cost cost) : W(width), H(height), CostOf(std::move(cost)) {
    Nodes.resize(static_cast<size_t>(W) * H);
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) {
        Location& n = Nodes[static_cast<size_t>(y) * W + x];
        n.X = x;
        n.Y = y;
        if (x == W - 1) n.EdgeFlags |= 1;
        if (y == 0) n.EdgeFlags |= 2;
        if (x == 0) n.EdgeFlags |= 4;
        if (y == H - 1) n.EdgeFlags |= 8;
      }
    Items.push_back(nullptr);
  }

  std::vector<Point> Path;
  int Resorts = 0;  // re-sorts of the open list in the last search (test statistics only)

  int32_t Find(Point start, Point goal) {
    Path.clear();
    Resorts = 0;
    if (start == goal) return 0;
    for (int d = 0; d < 4; ++d) {
      if (start.X + kDX[d] == goal.X && start.Y + kDY[d] == goal.Y) {
        Path = {start, goal};
        return 1;
      }
    }
    auto inside = [this](Point p) { return p.X >= 0 && p.Y >= 0 && p.X < W && p.Y < H; };
    if (!inside(start) || !inside(goal)) return -1;
    ++Generation;
    Location* startNode = Node(start.X, start.Y);
    Location* goalNode = Node(goal.X, goal.Y);
    Reset(startNode);
    Reset(goalNode);
    Location* targets[4];
    for (int d = 0; d < 4; ++d) targets[d] = Neighbour(goalNode, d);
    startNode->G = 0;
    startNode->Parent = nullptr;
    Insert(startNode);
    int32_t count = -1;
    Location* found = nullptr;
    while (!found) {
      if (Count == 0) return -1;
      Location* node = Pop();
      node->State &= static_cast<uint8_t>(~2);
      ++count;
      if (node == targets[0] || node == targets[1] || node == targets[2] || node == targets[3]) {
        found = node;
        break;
      }
      const int32_t offAxis = (node->X != goal.X && node->Y != goal.Y) ? 1 : 0;
      for (int d = 0; d < 4; ++d) {
        Location* n = Neighbour(node, d);
        if (!n) continue;
        int32_t g = GetCost(n) + std::abs(node->X - n->X) + std::abs(node->Y - n->Y) + node->G + offAxis;
        if ((n->State & (2 | 4)) && g >= n->G) continue;
        n->Parent = node;
        n->G = g;
        n->State &= static_cast<uint8_t>(~4);
        if (n->State & 2) {
          ++Resorts;
          Resort();
        }
        else Insert(n);
        n->State |= 2;
      }
      node->State |= 4;
    }
    std::vector<Location*> chain;
    for (Location* n = found; n; n = n->Parent) chain.push_back(n);
    Path.push_back(start);
    for (size_t i = chain.size() - 1; i-- > 0;) Path.push_back({chain[i]->X, chain[i]->Y});
    Path.push_back(goal);
    if (Path.size() > 1000) Path.resize(1000);
    while (Count > 0) Pop();
    return count;
  }

private:
  static constexpr int kDX[4] = {1, 0, -1, 0};
  static constexpr int kDY[4] = {0, -1, 0, 1};

  int32_t W, H;
  Cost CostOf;
  std::vector<Location> Nodes;
  int32_t Generation = 1;
  std::vector<Location*> Items;  // heap positions 1..Count
  int32_t Count = 0;
  std::vector<Location*> ResortData;

  Location* Node(int32_t x, int32_t y) { return &Nodes[static_cast<size_t>(y) * W + x]; }
  void Reset(Location* n) {
    n->G = 0;
    n->Parent = nullptr;
    n->State = 0;
    n->CellCost = 0;
    n->Generation = Generation;
  }
  int32_t GetCost(Location* n) {
    if (n->CellCost == 0) n->CellCost = CostOf(n->X, n->Y) + 1;
    return n->CellCost;
  }
  Location* Neighbour(Location* node, int d) {
    if (node->EdgeFlags & (1 << d)) return nullptr;
    Location* n = Node(node->X + kDX[d], node->Y + kDY[d]);
    if (n->Generation != Generation) Reset(n);
    if (GetCost(n) > 255) return nullptr;
    return n;
  }
  static int32_t Cmp(Location* a, Location* b) { return a->G - b->G; }

  void SiftUp(int32_t p, Location* data) {
    while (p > 1 && Cmp(Items[p / 2], data) > 0) {
      Items[p] = Items[p / 2];
      p /= 2;
    }
    Items[p] = data;
  }
  void Insert(Location* n) {
    Items.push_back(nullptr);
    ++Count;
    SiftUp(Count, n);
  }
  Location* Pop() {
    Location* result = Items[1];
    Location* d = Items.back();
    Items.pop_back();
    --Count;
    if (Count > 0) {
      int32_t p = 1;
      while (2 * p <= Count) {
        int32_t c = 2 * p;
        if (c + 1 <= Count && Cmp(Items[c], Items[c + 1]) >= 0) ++c;
        if (Cmp(Items[c], d) >= 0) break;
        Items[p] = Items[c];
        p = c;
      }
      Items[p] = d;
    }
    return result;
  }
  void PostOrder(int32_t p) {
    if (p > Count) return;
    PostOrder(2 * p);
    PostOrder(2 * p + 1);
    ResortData.push_back(Items[p]);
  }
  void Resort() {
    if (Count < 2) return;
    ResortData.clear();
    PostOrder(1);
    for (int32_t i = 1; i <= Count; ++i) SiftUp(i, ResortData[static_cast<size_t>(i - 1)]);
  }
};

}  // namespace refplan
