#include "game/PathPlanner.h"

#include <cstdlib>
#include <string>

namespace {
constexpr int kDX[4] = {1, 0, -1, 0};
constexpr int kDY[4] = {0, -1, 0, 1};
}  // namespace

int32_t TPath::Add(TPathPoint p) {
  if (FCount >= kCapacity) return -1;
  Points[static_cast<size_t>(FCount)] = p;
  return FCount++;
}

TPathPoint TPath::GetPoint(int32_t i) const {
  if (i < 0 || i >= FCount) throw EListError("List index out of bounds (" + std::to_string(i) + ")");
  return Points[static_cast<size_t>(i)];
}

void TPath::Reverse() {
  for (int32_t i = 0; i < FCount / 2; ++i) std::swap(Points[i], Points[FCount - 1 - i]);
}

TMapLocation::TMapLocation(TSearchableMap* map, int32_t y, int32_t x) : Y(y), X(x), Map(map) {
  if (x == map->Width() - 1) EdgeFlags |= kEdgeRight;
  if (y == 0) EdgeFlags |= kEdgeTop;
  if (x == 0) EdgeFlags |= kEdgeLeft;
  if (y == map->Height() - 1) EdgeFlags |= kEdgeBottom;
}

TSearchableMap::TSearchableMap(int32_t width, int32_t height)
    : FWidth(width > 0 ? width : 0), FHeight(height > 0 ? height : 0) {
  Nodes.reserve(static_cast<size_t>(FWidth) * FHeight);
  for (int32_t y = 0; y < FHeight; ++y)
    for (int32_t x = 0; x < FWidth; ++x) Nodes.emplace_back(this, y, x);
}

TAStarPathPlanner::TAStarPathPlanner() = default;
TAStarPathPlanner::~TAStarPathPlanner() = default;

int32_t TAStarPathPlanner::FindPathBetween(TPathPoint start, TPathPoint goal) {
  Start = start;
  Goal = goal;
  FPath.Clear();
  if (start == goal) return 0;
  for (int d = 0; d < 4; ++d) {
    if (start.X + kDX[d] == goal.X && start.Y + kDY[d] == goal.Y) {
      FPath.Add(start);
      FPath.Add(goal);
      return 1;
    }
  }
  if (!Map) throw EPathException("Unable to start search, missing factory");
  auto inside = [this](TPathPoint p) { return p.X >= 0 && p.Y >= 0 && p.X < Map->Width() && p.Y < Map->Height(); };
  if (!inside(start) || !inside(goal)) return -1;

  // Every search is a new generation, whether or not the caller started one.
  Map->NewSearch();
  const int32_t generation = Map->CurrentGeneration();
  const int32_t threshold = Map->BlockingThreshold;
  const TSearchableMap::TCostCallback& callback = Map->CostCallback;
  const bool hasCallback = static_cast<bool>(callback);
  // Neighbour d of a node is the node at this distance in the row-major node array.
  const ptrdiff_t step[4] = {1, -static_cast<ptrdiff_t>(Map->Width()), -1, Map->Width()};
  // The neighbour in direction d, reset on first touch in this search and costed once; nullptr
  // beyond the map's edge or when the cell blocks.
  auto neighbour = [&](TMapLocation* node, int d) -> TMapLocation* {
    if (node->EdgeFlags & (1 << d)) return nullptr;
    TMapLocation* n = node + step[d];
    if (n->Generation != generation) {
      n->ClearCosts();
      n->CellCost = 0;
      n->Generation = generation;
    }
    if (n->CellCost == 0) n->CellCost = (hasCallback ? callback(n->X, n->Y) : 0) + 1;
    return n->CellCost > threshold ? nullptr : n;
  };

  TMapLocation* startNode = Map->Node(start.X, start.Y);
  TMapLocation* goalNode = Map->Node(goal.X, goal.Y);
  startNode->Reset();
  goalNode->Reset();
  TMapLocation* targets[4];
  for (int d = 0; d < 4; ++d) targets[d] = neighbour(goalNode, d);
  Open.Reserve(Map->NodeCount());
  Open.Empty();
  startNode->G = 0;
  startNode->Parent = nullptr;
  Open.Insert(startNode);
  int32_t count = -1;
  TMapLocation* found = nullptr;
  while (!found) {
    if (Open.IsEmpty()) return -1;
    TMapLocation* node = Open.Pop();
    node->State &= static_cast<uint8_t>(~TMapLocation::kOpen);
    ++count;
    if (node == targets[0] || node == targets[1] || node == targets[2] || node == targets[3]) {
      found = node;
      break;
    }
    // One step to a neighbour costs the entered cell + 1, and 1 more from a node off the goal's
    // row and column.
    const int32_t base = node->G + 1 + ((node->X != goal.X && node->Y != goal.Y) ? 1 : 0);
    for (int d = 0; d < 4; ++d) {
      TMapLocation* n = neighbour(node, d);
      if (!n) continue;
      const int32_t g = n->CellCost + base;
      if ((n->State & (TMapLocation::kOpen | TMapLocation::kClosed)) && g >= n->G) continue;
      n->Parent = node;
      n->G = g;
      n->State &= static_cast<uint8_t>(~TMapLocation::kClosed);
      if (n->State & TMapLocation::kOpen) Open.Resort();
      else Open.Insert(n);
      n->State |= TMapLocation::kOpen;
    }
    node->State |= TMapLocation::kClosed;
  }
  // goal, then the chain back to the start; reversed it runs start ... goal. A path longer than
  // the path's places keeps its first points from the start on.
  Chain.clear();
  for (TMapLocation* n = found; n; n = n->Parent) Chain.push_back(n);
  FPath.Add(start);
  for (size_t i = Chain.size() - 1; i-- > 0;) FPath.Add({Chain[i]->X, Chain[i]->Y});
  FPath.Add(goal);
  Open.Empty();
  return count;
}
