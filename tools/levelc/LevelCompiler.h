#pragma once
// The level compiler: reads a level description (a grid with a legend plus smokers, decor,
// switch groups, colours, name and time limit), auto-tiles the walls, checks that the level is
// playable and writes the level data that the game loads ("zrc2l" ... "zrc2l", uncompressed;
// the caller wraps it in the compressed container).
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace levelc {

struct ECompileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One decor image of decorb.dat: its size, and whether it has a shadow image.
struct DecorImage {
  int Width = 0, Height = 0;
  bool Used = false, HasShadow = false;
};
// Reads decorb.dat (two blocks of 48 records of 17 bytes).
std::vector<DecorImage> ReadDecorTable(const std::vector<uint8_t>& bytes);

enum Action : uint8_t {
  acFloor = 0, acEnergy = 1, acSwitch = 2, acKey = 3, acNone = 4, acFire = 5, acDoor = 6,
  acWall = 7, acObstacle = 8, acExit = 9, acHeart = 10, acSuper = 11, acDiamond = 12
};

// Wall shapes: the sides a wall joins (N 1, E 2, S 4, W 8) for each shape number 0..15.
extern const uint8_t ShapeMask[16];
int ShapeOfMask(int mask);

struct Cell {
  uint8_t Floor = 0;
  uint32_t FloorColors[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  uint32_t ObjectColors[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  uint8_t ActionCode = acFloor, Flags = 0, ImageSet = 0, Param = 0;
  void WriteB(std::vector<uint8_t>& out) const;  // bytes 17..36
};

struct Decor {
  int Image = 0;
  int X = 0, Y = 0;  // level pixels, top-left corner
  int Layer = 0, ShadowLayer = 0;
  float ScaleX = 1, ScaleY = 1, Rotation = 0;
  uint32_t Colors[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  int Bounds[4] = {0, 0, 0, 0};
};

struct Smoker {
  int X = 0, Y = 0, Direction = 0;
  std::vector<std::pair<int, int>> Waypoints;
  int Line = 0;
};

struct GroupCell {
  int X = 0, Y = 0, Group = 0;
  Cell Switched;
};

// A rectangle of cells, both corners included.
struct Area {
  int X0 = 0, Y0 = 0, X1 = -1, Y1 = -1;
  bool Empty() const { return X1 < X0 || Y1 < Y0; }
  bool Contains(int x, int y) const { return x >= X0 && x <= X1 && y >= Y0 && y <= Y1; }
};

struct Level {
  std::string Name;
  int TimeLimit = 0;
  int Width = 0, Height = 0;
  std::vector<Cell> Cells;  // y outer, x inner
  std::vector<Decor> Decors;
  int PlayerX = 0, PlayerY = 0, PlayerDirection = 0;
  std::vector<Smoker> Smokers;
  std::vector<GroupCell> GroupCells;
  int ShadowAlpha = 0;
  uint32_t Method = 1;  // container method: 1 LZRW1/KH, 0 LZH
  bool Intro = false;   // the first level: no pace rule (not stored in the level file)
  Area FirstArea;       // `first`: where the newcomer rules hold (not stored in the level file)

  Cell& At(int x, int y) { return Cells[static_cast<size_t>(y) * Width + x]; }
  const Cell& At(int x, int y) const { return Cells[static_cast<size_t>(y) * Width + x]; }
};

// A player walks one cell in 200 ms.
constexpr int kMsPerCell = 200;

// The fastest walk from the start to the exit without converting anyone: keys taken, doors
// opened from a neighbouring cell, switches thrown as the player would. Moves is the number of
// cells walked (-1: the exit cannot be reached), Route the cells from the start to the exit,
// Events marks the route's cells whose entering takes a key, opens a door or throws a switch
// (and the exit), Reached the cells (y * Width + x) that any run can enter.
struct ExitRun {
  int Moves = -1;
  std::vector<std::pair<int, int>> Route;
  std::vector<char> Events;
  std::vector<char> Reached;
};
ExitRun FastestExitRun(const Level& level);

// The screen: the camera as the game places it round the player standing on (px, py)
// (CameraLeft, CameraTop), and whether the centre of cell (x, y) is on its picture.
bool OnScreen(const Level& level, int px, int py, int x, int y);

// The game's line of sight (SightLine) from cell (x, y) along (dx, dy): walls block it, and
// doors unless they are taken as open.
bool LineOfSight(const Level& level, int x, int y, int dx, int dy, bool doorsOpen);

// The newcomer rules of a first area, worked out on the cells. The main way is the fastest exit
// run from the start until it first leaves the area; along it the player opens doors as the game
// opens them (standing beside one that takes no key or whose key it holds), and a door not yet
// opened blocks sight, throws and walks. A smoker patrols the cells of every shortest walk
// between its waypoints, in their cycle, with the doors closed. Once it spots the player on a
// cell of the main way (within 10 cells, in the line of sight) it chases by path search as long
// as a path is left: from then on it is taken to stand anywhere its search reaches from the
// patrol through the doors opened so far. It engages the player on a cell of the main way when
// it can spot that cell from where it may stand. Faults names each rule broken:
// - a patrol leg no walk serves (the game skips it);
// - a smoker that can reach the area patrols waypoints (a wanderer goes anywhere);
// - a smoker spots the player only from the screen;
// - no smoker has a clear throwing line to the player's cell from off the screen, from its
//   patrol or, once it chases or flees, from the cells of the exit run it may reach (a chase
//   follows the player along it, a flight runs ahead, out of the area too);
// - at most two smokers engage on any cell of the main way, and the first one met is alone
//   wherever it engages;
// - an energy field and a heart lie on the main way before the first cell where two engage.
struct NewcomerReport {
  std::vector<std::pair<int, int>> Way;
  std::vector<std::vector<int>> Engaging;  // per cell of Way: the smokers (indexes) engaging there
  int FirstPair = -1;                      // index in Way of the first cell where two engage
  std::vector<std::string> Faults;
};
NewcomerReport CheckNewcomer(const Level& level);

// Parses and checks a description; every problem raises ECompileError with "file:line: text".
// Unless the level is marked `intro`, the fastest exit run must take a third of the time limit.
// A level with a `first` area must keep the newcomer rules there (CheckNewcomer).
Level Compile(const std::string& text, const std::string& fileName,
              const std::vector<DecorImage>& decor);

// The level data as the game reads it after decompression.
std::vector<uint8_t> Serialize(const Level& level);

// The checks, on their own (Compile runs them): exit reachable from the start with keys, doors
// and switches modelled, every key and switch reachable, the exit off the starting screen; nothing usable on the outer ring; smokers on distinct walkable cells
// with reachable waypoints; at least 22 x 22 cells; door frames that fit their walls.
void Validate(const Level& level, const std::string& fileName);

}  // namespace levelc
