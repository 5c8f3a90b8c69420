#pragma once
// One loaded level: the grid of cells, decor sprites, the starts of the player and the enemies
// with their waypoints, the switch groups, and the path map and planner over the grid.
//
// Level file (".lvl" and the "LVL" resources): an LZ container (engine/LZRW1.h) whose content
// is the plain layout below; little-endian, no padding.
//
//   magic        5      "zrc2l"
//   reserved     4      int32, not used
//   name         26     length byte (clamped to 25), then 25 bytes
//   time limit   4      int32 seconds
//   Width        4      int32, 1..65535 cells along x
//   Height       4      int32, 1..65535 cells along y
//   cell part A  17 per cell   bytes 0..16 of every cell, y outer, x inner
//   cell part B  20 per cell   bytes 17..36 of every cell, same order
//   decor count  4      int32, then that many 64-byte TDecorSprite records
//   player start 9      int32 x, int32 y, byte direction
//   enemy count  4      int32, then per enemy: int32 x, int32 y, byte direction, int32 n,
//                       n waypoints (int32: x in the low 16 bits, y in the high 16 bits)
//   group cells  4      int32 count, then per record: int32 x, int32 y, 20 bytes (the cell's
//                       bytes 17..36 in the switched state), int32 group 0..31
//   shadow alpha 4      int32 0..255
//   magic        5      "zrc2l"
//
// Level files are untrusted (downloads): every count is checked against the bytes that remain,
// and a file breaking any limit below is refused with ELevelError "Invalid level data file":
// a grid that does not fit the file, a start, waypoint or group cell outside the grid, a
// direction above 3, an action code above 12, a key number above 15 (keys and doors), a group
// number above 31 (group records and switches), a wall shape above 15, more than 100 cells in a
// group. The switched bytes of group records obey the same cell rules.
//
// Tools write levels with WriteLevelFile (plain layout) and SaveLevelContainer or
// CompressLevelData (the container), and check them by loading them with TQVGameLevel.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "game/KTGlobal.h"
#include "game/PathPlanner.h"

class TStream;
class TMemoryStream;
class TGameElement;   // what stands on a cell (game elements)
class TGameGraphics;  // the game's texture set
class TGameSounds;    // the game's sound table

KT_DECLARE_EXCEPTION(ELevelError, Exception)

constexpr int32_t kCellPartASize = 17;
constexpr int32_t kCellPartBSize = 20;
constexpr int32_t kDecorRecordSize = 64;
constexpr int32_t kGroupCount = 32;
constexpr int32_t kGroupCapacity = 100;
constexpr int32_t kMaxKeyNumber = 15;
constexpr int32_t kMaxLevelSide = 65535;  // waypoints pack a coordinate into 16 bits
constexpr int32_t kFireListCount = 160;
constexpr int32_t kPickupRingSize = 20;
constexpr int16_t kFarFromLaser = 32767;

// Cell action codes (byte 33).
enum : uint8_t {
  caFloor = 0, caEnergy = 1, caSwitch = 2, caKey = 3, caNothing = 4, caFire = 5, caDoor = 6,
  caWall = 7, caObstacle = 8, caExit = 9, caOption1 = 10, caOption2 = 11, caDiamond = 12,
  caLast = 12,
};
// Cell flags (byte 34).
enum : uint8_t {
  cfTurned = 1,     // door or fire turned by a quarter turn
  cfLaserLeft = 2,  // laser barrier on the cell's -x edge
  cfLaserTop = 4,   // laser barrier on the cell's -y edge
};

// Grid points packed into 32 bits: x low, y high.
inline uint32_t PackPoint(int32_t x, int32_t y) {
  return (static_cast<uint32_t>(y) << 16) | (static_cast<uint32_t>(x) & 0xFFFFu);
}
inline int32_t PointX(uint32_t p) { return static_cast<int32_t>(p & 0xFFFFu); }
inline int32_t PointY(uint32_t p) { return static_cast<int32_t>(p >> 16); }

struct TLevelCell {
  // The 37 bytes of the file.
  uint8_t FloorImage = 0;         // 0: floor frame, 0 = no floor
  uint32_t FloorColors[4] = {};   // 1: ARGB corners
  uint32_t ObjectColors[4] = {};  // 17: ARGB corners of the wall or object on the cell
  uint8_t Action = 0;             // 33: action code
  uint8_t Flags = 0;              // 34: cf* bits
  uint8_t ImageSet = 0;           // 35: image set of the wall, door frame or object
  uint8_t Param = 0;              // 36: key number, group number or wall shape
  // Run time.
  int32_t StateCounter = 0;          // switches and doors
  TGameElement* Occupant = nullptr;  // not owned
  int16_t LaserDistance = kFarFromLaser;  // steps to the nearest laser edge, 0..10

  void ReadPartA(const uint8_t* bytes17);
  void WritePartA(uint8_t* bytes17) const;
  void ReadPartB(const uint8_t* bytes20);  // bytes 17..36
  void WritePartB(uint8_t* bytes20) const;
};

struct TDecorSprite {
  uint16_t Unused = 0;
  uint16_t Image = 0;        // decor image index
  int32_t X = 0, Y = 0;      // level pixels, 84 per cell
  int32_t Layer = 0;         // sort key of the quad renderer
  int32_t ShadowLayer = 0;   // 0 = no shadow
  float ScaleX = 1.0f, ScaleY = 1.0f;
  float Rotation = 0;        // radians
  uint32_t Colors[4] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  int32_t Bounds[4] = {};    // left, top, right, bottom in level pixels

  void ReadFromStream(TStream& stream);  // the 64-byte record
  void WriteToStream(TStream& stream) const;
  const uint32_t* GetColors() const { return Colors; }
};

struct TBotStart {
  int32_t X = 0, Y = 0;
  uint8_t Direction = 0;  // 0 +x, 1 -y, 2 -x, 3 +y
};

struct TEnemyStart : TBotStart {
  std::vector<uint32_t> Waypoints;  // packed points, file order
  void AddWaypoint(int32_t x, int32_t y) { Waypoints.push_back(PackPoint(x, y)); }
};

// One record of the file's group-cell section.
struct TGroupCellRecord {
  int32_t X = 0, Y = 0;
  uint8_t Switched[kCellPartBSize] = {};  // the cell's bytes 17..36 when switched
  int32_t Group = 0;
};

// A level as the file holds it.
struct TLevelFile {
  int32_t Reserved = 0;
  std::string Name;  // up to 25 characters
  int32_t TimeLimit = 0;  // seconds
  int32_t Width = 0, Height = 0;
  std::vector<TLevelCell> Cells;  // index x * Height + y; Resize sizes it
  std::vector<TDecorSprite> Decor;
  TBotStart PlayerStart;
  std::vector<TEnemyStart> Enemies;
  std::vector<TGroupCellRecord> GroupCells;
  int32_t ShadowAlpha = 0;

  void Resize(int32_t width, int32_t height);
  TLevelCell& Cell(int32_t x, int32_t y) { return Cells[static_cast<size_t>(x) * Height + y]; }
  const TLevelCell& Cell(int32_t x, int32_t y) const { return Cells[static_cast<size_t>(x) * Height + y]; }
};

// The plain layout. Reading checks everything listed at the top (ELevelError; a stream that ends
// early raises EReadError). Writing checks nothing.
void ReadLevelFile(TStream& plain, TLevelFile& level);
// The limits of the file on a level in memory; ELevelError (after a warning in the trace log).
void CheckLevelFile(const TLevelFile& level);
void WriteLevelFile(TStream& plain, const TLevelFile& level);
// The container form of the files. Loading decompresses a container whole into `plain`
// (rewound); more than kMaxLevelDataSize bytes is ELevelError, a damaged container raises the
// container's ELzrw1Exception. Compressing codes `plain` from its position to its end with the
// container's method (1 LZRW1/KH, 0 LZH).
constexpr int64_t kMaxLevelDataSize = 16 * 1024 * 1024;
void LoadLevelContainer(TStream& container, TMemoryStream& plain);
void CompressLevelData(TStream& plain, TStream& container, uint8_t method = 1);
void SaveLevelContainer(TStream& container, const TLevelFile& level, uint8_t method = 1);

struct TGroupEntry {
  int32_t X = 0, Y = 0;
  uint8_t Loaded[kCellPartBSize] = {};    // the cell's bytes 17..36 as loaded
  uint8_t Switched[kCellPartBSize] = {};  // the same in the switched state
};

struct TSwitchGroup {
  int32_t Count = 0;
  std::array<TGroupEntry, kGroupCapacity> Entries;
};

struct TPickupRingEntry {
  int32_t X = 0, Y = 0, Countdown = 0;
};

class TQVGameLevel {
public:
  // Loads a level file (container); raises on a bad file.
  TQVGameLevel(TGameGraphics* graphics, TStream& stream, TGameSounds* sounds);
  // Builds the level from a file already in memory (checked as a loaded file is).
  TQVGameLevel(TGameGraphics* graphics, TLevelFile level, TGameSounds* sounds);
  TQVGameLevel(const TQVGameLevel&) = delete;
  TQVGameLevel& operator=(const TQVGameLevel&) = delete;

  TLevelCell& Cell(int32_t x, int32_t y) { return Cells[static_cast<size_t>(x) * Height + y]; }
  const TLevelCell& Cell(int32_t x, int32_t y) const { return Cells[static_cast<size_t>(x) * Height + y]; }
  bool InGrid(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < Width && y < Height; }
  TEnemyStart& GetEnemyStart(int32_t i) { return EnemyStarts.at(static_cast<size_t>(i)); }
  int32_t EnemyStartCount() const { return static_cast<int32_t>(EnemyStarts.size()); }
  // The path map's cost of a cell: 255 occupied, 15 fire, 255 closed door (counter below 13),
  // wall, obstacle or exit, else 0.
  int32_t PathCost(int32_t x, int32_t y) const;

  std::vector<TLevelCell> Cells;  // [x][y]: index x * Height + y
  std::array<TSwitchGroup, kGroupCount> Groups;
  std::vector<uint32_t> ActiveCells;  // switches, fires and doors at load; x outer, y inner
  std::vector<TDecorSprite> Decor;    // file order
  std::array<TPickupRingEntry, kPickupRingSize> PickupRing{};
  int32_t PickupRingNext = 0;
  TSimpleSpriteList Sparkles;
  std::string Name;
  int32_t TimeLimit = 0;
  int32_t Height = 0;
  int32_t Width = 0;
  int32_t PlayerCellX = 0, PlayerCellY = 0;
  TGameGraphics* Graphics;  // not owned
  TGameSounds* Sounds;      // not owned
  TBotStart PlayerStart;
  std::vector<TEnemyStart> EnemyStarts;
  uint32_t ShadowColors[4] = {};  // alpha << 24 | 0xFFFFFF
  std::unique_ptr<TSearchableMap> Map;
  std::unique_ptr<TAStarPathPlanner> Planner;
  int32_t StepCount = 0;
  int32_t LaserValue = 0;
  uint8_t LaserOn = 0;
  std::array<std::unique_ptr<std::vector<uint32_t>>, kFireListCount> FireLists;  // by phase

  // Cell queries and actions (LevelCells.cpp). Coordinates outside the grid read as a wall
  // cell without occupant, so a caller's slip never reads outside the grid.
  uint8_t GetCellAction(int32_t x, int32_t y) const;
  uint8_t GetCellParam(int32_t x, int32_t y) const;
  bool HasFloor(int32_t x, int32_t y) const;
  bool IsWalkable(int32_t x, int32_t y) const;
  bool CrossesLaserEdge(int32_t x, int32_t y, uint8_t direction) const;
  int32_t FireValue(int32_t x, int32_t y) const;
  TGameElement* GetOccupant(int32_t x, int32_t y) const;
  bool SetOccupant(TGameElement* element, int32_t x, int32_t y);
  void ClearOccupant(int32_t x, int32_t y);
  bool LineOfSight(int32_t x, int32_t y, int32_t dx, int32_t dy) const;
  void TouchCell(int32_t x, int32_t y);
  void SetPlayerCell(int32_t x, int32_t y);
  void Step();
  // Draws the visible cells, the decor and the pick-up ring (needs the graphics set).
  void Render(float fade, float viewX, float viewY);

private:
  void PlaySound(uint8_t row, float factor = -1.0f);
  void Build(TLevelFile& level);
};
