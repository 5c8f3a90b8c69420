#pragma once
// Path finding for the smokers: a uniform-cost search (ordered by the cost so far alone) over a
// grid with four neighbours. Directions: 0 = +x, 1 = -y, 2 = -x, 3 = +y.
// The search is deterministic: ties of cost are resolved by the priority queue's fixed rules, so
// the same level state gives the same path on every run (replays rely on it).
#include <array>
#include <climits>
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

// One node per cell. The fields a search touches come first, so a node's search state shares
// one cache line.
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

  int32_t G = 0;
  int32_t CellCost = 0;  // 0 = not asked yet
  int32_t Generation = 0;
  uint8_t State = 0;
  uint8_t EdgeFlags = 0;
  int32_t Y, X;
  TMapLocation* Parent = nullptr;
  TSearchableMap* Map;
};

class TSearchableMap {
public:
  // Cost of entering cell (x, y), added to the step cost; above 254 blocks the cell.
  using TCostCallback = std::function<int32_t(int32_t x, int32_t y)>;

  TSearchableMap(int32_t width, int32_t height);
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  TMapLocation* Node(int32_t x, int32_t y) { return &Nodes[static_cast<size_t>(y) * FWidth + x]; }
  int32_t NodeCount() const { return static_cast<int32_t>(Nodes.size()); }
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

// The planner's open list: a binary heap of map locations in a flat array, ordered by G alone
// with the priority queue's tie rules (HeapMoves). Each entry carries a copy of its location's G,
// so the heap moves compare without reaching into the nodes. A location is in it at most once,
// so the array never holds more than the map's nodes; it grows only when a larger map comes.
class TOpenList {
public:
  void Reserve(int32_t nodes) {
    if (static_cast<size_t>(nodes) + 2 > Items.size()) {
      Items.resize(static_cast<size_t>(nodes) + 2);  // positions 1..nodes and a sentinel
      Scratch.resize(static_cast<size_t>(nodes) + 1);
    }
  }
  void Insert(TMapLocation* n) {
    ++FCount;
    HeapMoves::SiftUp(Items.data(), FCount, TEntry{n->G, n}, ByG{});
  }
  // HeapMoves::SiftDownFromRoot with the same rules (equal children: the right one; only past
  // children strictly smaller), made cheaper: the slot after the last item holds a key no item
  // reaches, so a lone left child needs no bounds test, and the child is chosen without a branch.
  TMapLocation* Pop() {  // the open list is not empty
    TMapLocation* result = Items[1].Node;
    const TEntry d = Items[static_cast<size_t>(FCount)];
    const int32_t count = --FCount;
    if (count > 0) {
      TEntry* items = Items.data();
      items[count + 1] = TEntry{INT32_MAX, nullptr};
      int32_t p = 1;
      while (2 * p <= count) {
        int32_t c = 2 * p;
        c += items[c + 1].G <= items[c].G;
        if (items[c].G >= d.G) break;
        items[p] = items[c];
        p = c;
      }
      items[p] = d;
    }
    return result;
  }
  // After a key in the list went down: every item inserted again in the old tree's post-order,
  // with its current G. A sift of the one item would be cheaper but orders equal keys
  // differently, and the smokers' paths (and so the replays) follow that order.
  void Resort() {
    if (FCount < 2) {
      if (FCount == 1) Items[1].G = Items[1].Node->G;  // one item: only its key copy changes
      return;
    }
    HeapMoves::PostOrder(Items.data(), FCount, Scratch.data());
    for (int32_t i = 0; i < FCount; ++i) Scratch[static_cast<size_t>(i)].G = Scratch[static_cast<size_t>(i)].Node->G;
    for (int32_t i = 1; i <= FCount; ++i) HeapMoves::SiftUp(Items.data(), i, Scratch[static_cast<size_t>(i - 1)], ByG{});
  }
  void Empty() { FCount = 0; }
  bool IsEmpty() const { return FCount == 0; }
  int32_t Count() const { return FCount; }

private:
  struct TEntry {
    int32_t G;
    TMapLocation* Node;
  };
  struct ByG {
    int32_t operator()(const TEntry& a, const TEntry& b) const { return a.G - b.G; }
  };
  std::vector<TEntry> Items{TEntry{0, nullptr}};  // heap positions 1..Count
  std::vector<TEntry> Scratch;
  int32_t FCount = 0;
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
