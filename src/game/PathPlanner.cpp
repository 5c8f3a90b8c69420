#include "game/PathPlanner.h"

#include <cstdlib>
#include <string>

namespace {
constexpr int kDX[4] = {1, 0, -1, 0};
constexpr int kDY[4] = {0, -1, 0, 1};

int32_t CompareG(void* a, void* b) {
  return static_cast<TMapLocation*>(a)->G - static_cast<TMapLocation*>(b)->G;
}
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

TMapLocation::TMapLocation(TSearchableMap* map, int32_t y, int32_t x) : Map(map), Y(y), X(x) {
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

TOpenList::TOpenList() : TPriorityQueue(false) { SetCompare(CompareG); }

TAStarPathPlanner::TAStarPathPlanner() = default;
TAStarPathPlanner::~TAStarPathPlanner() = default;

inline TMapLocation* TAStarPathPlanner::Neighbour(TMapLocation* node, int d) {
  if (node->EdgeFlags & (1 << d)) return nullptr;
  TMapLocation* n = Map->Node(node->X + kDX[d], node->Y + kDY[d]);
  if (n->Generation != Map->CurrentGeneration()) n->Reset();
  if (n->GetCost() > Map->BlockingThreshold) return nullptr;
  return n;
}

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
  TMapLocation* startNode = Map->Node(start.X, start.Y);
  TMapLocation* goalNode = Map->Node(goal.X, goal.Y);
  startNode->Reset();
  goalNode->Reset();
  TMapLocation* targets[4];
  for (int d = 0; d < 4; ++d) targets[d] = Neighbour(goalNode, d);
  startNode->G = 0;
  startNode->Parent = nullptr;
  Open.Insert(startNode);
  int32_t count = -1;
  TMapLocation* found = nullptr;
  while (!found) {
    if (Open.IsEmpty()) {
      Open.Empty();
      return -1;
    }
    TMapLocation* node = Open.Pop();
    node->State &= static_cast<uint8_t>(~TMapLocation::kOpen);
    ++count;
    if (node == targets[0] || node == targets[1] || node == targets[2] || node == targets[3]) {
      found = node;
      break;
    }
    const int32_t offAxis = (node->X != goal.X && node->Y != goal.Y) ? 1 : 0;
    for (int d = 0; d < 4; ++d) {
      TMapLocation* n = Neighbour(node, d);
      if (!n) continue;
      int32_t g = n->GetCost() + std::abs(node->X - n->X) + std::abs(node->Y - n->Y) + node->G + offAxis;
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
