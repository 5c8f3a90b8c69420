#pragma once
// Path finding for the smokers: a uniform-cost search (ordered by the cost so far alone) over a
// grid with four neighbours. Directions: 0 = +x, 1 = -y, 2 = -x, 3 = +y.
// The search is deterministic: ties of cost are resolved by the priority queue's fixed rules, so
// the same level state gives the same path on every run (replays rely on it).
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/Exceptions.h"
#include "game/PriorityQueue.h"

KT_DECLARE_EXCEPTION(EPathException, Exception)

struct TPathPoint {
  int32_t X = 0;
  int32_t Y = 0;
  bool operator==(const TPathPoint&) const = default;
};

// Up to 1,000 points; Add on a full path drops the point and returns -1.
class TPath {
public:
  static constexpr int32_t kCapacity = 1000;
  int32_t Add(TPathPoint p);
  void Clear() { FCount = 0; }
  TPathPoint GetPoint(int32_t i) const;  // EListError outside 0..Count-1
  void Reverse();
  int32_t Count() const { return FCount; }

private:
  std::array<TPathPoint, kCapacity> Points{};
  int32_t FCount = 0;
};

class TSearchableMap;

// One node per cell.
class TMapLocation {
public:
  enum : uint8_t { kEdgeRight = 1, kEdgeTop = 2, kEdgeLeft = 4, kEdgeBottom = 8 };  // bit d: no neighbour d
  enum : uint8_t { kOpen = 2, kClosed = 4 };

  TMapLocation(TSearchableMap* map, int32_t y, int32_t x);
  bool IsSame(const TMapLocation* other) const { return this == other; }
  void ClearCosts() {  // G, Parent and the state flags
    G = 0;
    Parent = nullptr;
    State = 0;
  }
  void Reset();  // ClearCosts, forget the cell cost, join the map's current search
  // The cell's cost: the map's callback + 1, asked once per search (1 free, 16 fire, 256 blocked).
  int32_t GetCost();

  TSearchableMap* Map;
  int32_t Y, X;
  uint8_t EdgeFlags = 0;
  int32_t G = 0;
  TMapLocation* Parent = nullptr;
  uint8_t State = 0;
  int32_t CellCost = 0;  // 0 = not asked yet
  int32_t Generation = 0;
};

class TSearchableMap {
public:
  // Cost of entering cell (x, y), added to the step cost; above 254 blocks the cell.
  using TCostCallback = std::function<int32_t(int32_t x, int32_t y)>;

  TSearchableMap(int32_t width, int32_t height);
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  TMapLocation* Node(int32_t x, int32_t y) { return &Nodes[static_cast<size_t>(y) * FWidth + x]; }
  // Starts a new search: every node met from now on is reset on first touch.
  void NewSearch() { ++Generation; }
  int32_t CurrentGeneration() const { return Generation; }

  TCostCallback CostCallback;
  int32_t BlockingThreshold = 255;

private:
  int32_t FWidth, FHeight;
  std::vector<TMapLocation> Nodes;  // y * Width + x, built row by row
  int32_t Generation = 1;
};

// The planner's open list: a priority queue of map locations ordered by G alone (Compare(a, b)
// = a.G - b.G), with that compare inlined into the heap moves.
class TOpenList : public TPriorityQueue {
public:
  TOpenList();
  void Insert(TMapLocation* n) { InsertBy(n, ByG{}); }
  TMapLocation* Pop() { return static_cast<TMapLocation*>(PopBy(ByG{})); }
  void Resort() override { ResortBy(ByG{}); }

private:
  struct ByG {
    int32_t operator()(void* a, void* b) const {
      return static_cast<TMapLocation*>(a)->G - static_cast<TMapLocation*>(b)->G;
    }
  };
};

class TAStarPathPlanner {
public:
  TAStarPathPlanner();
  ~TAStarPathPlanner();
  void SetMap(TSearchableMap* map) { Map = map; }  // not owned
  void ClearPath() { FPath.Clear(); }
  const TPath& Path() const { return FPath; }

  // 0 when start = goal (empty path); 1 when the goal is a neighbour of the start (path
  // [start, goal], no cell asked); otherwise the number of nodes taken from the open list before
  // the last one, with the path start, ..., the goal's neighbour, goal; -1 when there is no path
  // (empty path). The goal's own cell is never costed, so an occupied goal is still reached.
  // Points outside the map give -1. No map: EPathException.
  int32_t FindPathBetween(TPathPoint start, TPathPoint goal);

private:
  TMapLocation* Neighbour(TMapLocation* node, int d);
  TSearchableMap* Map = nullptr;
  TPathPoint Start, Goal;
  TPath FPath;
  TOpenList Open;
  std::vector<TMapLocation*> Chain;  // scratch for building the path
};

inline void TMapLocation::Reset() {
  ClearCosts();
  CellCost = 0;
  Generation = Map->CurrentGeneration();
}

inline int32_t TMapLocation::GetCost() {
  if (CellCost == 0) CellCost = (Map->CostCallback ? Map->CostCallback(X, Y) : 0) + 1;
  return CellCost;
}
