#include "game/LevelData.h"

#include <cstring>

#include "base/Streams.h"
#include "engine/LZRW1.h"
#include "engine/tools.h"

namespace {

constexpr char kLevelMagic[] = "zrc2l";
constexpr int32_t kNameFieldSize = 26;
constexpr int32_t kEnemyRecordMin = 13;
constexpr int32_t kGroupRecordSize = 32;

[[noreturn]] void Invalid(const std::string& what) {
  Log("Invalid level data file (" + what + ")", ltWarning);
  throw ELevelError("Invalid level data file");
}

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void ReadMagic(TStream& s, const char* what) {
  char m[5];
  s.ReadBuffer(m, 5);
  if (std::memcmp(m, kLevelMagic, 5) != 0) Invalid(what);
}

// Bytes 17..36 of a cell, checked against the cell rules.
void CheckCellBytes(uint8_t action, uint8_t param, const char* where) {
  if (action > caLast) Invalid(std::string("action code in ") + where);
  if ((action == caKey || action == caDoor) && param > kMaxKeyNumber) Invalid(std::string("key number in ") + where);
  if (action == caSwitch && param >= kGroupCount) Invalid(std::string("group number in ") + where);
  if (action == caWall && param > 15) Invalid(std::string("wall shape in ") + where);
}

void CheckCount(TStream& s, int32_t count, int64_t recordSize, const char* what) {
  if (count < 0 || count * recordSize > s.Remaining()) Invalid(what);
}

}  // namespace

// ---- cells and records ----

void TLevelCell::ReadPartA(const uint8_t* b) {
  FloorImage = b[0];
  for (int i = 0; i < 4; ++i) FloorColors[i] = Get32(b + 1 + 4 * i);
}

void TLevelCell::WritePartA(uint8_t* b) const {
  b[0] = FloorImage;
  for (int i = 0; i < 4; ++i) Put32(b + 1 + 4 * i, FloorColors[i]);
}

void TLevelCell::ReadPartB(const uint8_t* b) {
  for (int i = 0; i < 4; ++i) ObjectColors[i] = Get32(b + 4 * i);
  Action = b[16];
  Flags = b[17];
  ImageSet = b[18];
  Param = b[19];
}

void TLevelCell::WritePartB(uint8_t* b) const {
  for (int i = 0; i < 4; ++i) Put32(b + 4 * i, ObjectColors[i]);
  b[16] = Action;
  b[17] = Flags;
  b[18] = ImageSet;
  b[19] = Param;
}

void TDecorSprite::ReadFromStream(TStream& s) {
  uint8_t b[kDecorRecordSize];
  s.ReadBuffer(b, kDecorRecordSize);
  Unused = static_cast<uint16_t>(b[0] | b[1] << 8);
  Image = static_cast<uint16_t>(b[2] | b[3] << 8);
  X = static_cast<int32_t>(Get32(b + 4));
  Y = static_cast<int32_t>(Get32(b + 8));
  Layer = static_cast<int32_t>(Get32(b + 12));
  ShadowLayer = static_cast<int32_t>(Get32(b + 16));
  uint32_t u;
  u = Get32(b + 20), std::memcpy(&ScaleX, &u, 4);
  u = Get32(b + 24), std::memcpy(&ScaleY, &u, 4);
  u = Get32(b + 28), std::memcpy(&Rotation, &u, 4);
  for (int i = 0; i < 4; ++i) Colors[i] = Get32(b + 32 + 4 * i);
  for (int i = 0; i < 4; ++i) Bounds[i] = static_cast<int32_t>(Get32(b + 48 + 4 * i));
}

void TDecorSprite::WriteToStream(TStream& s) const {
  s.WriteU16(Unused);
  s.WriteU16(Image);
  s.WriteI32(X);
  s.WriteI32(Y);
  s.WriteI32(Layer);
  s.WriteI32(ShadowLayer);
  s.WriteF32(ScaleX);
  s.WriteF32(ScaleY);
  s.WriteF32(Rotation);
  for (uint32_t c : Colors) s.WriteU32(c);
  for (int32_t v : Bounds) s.WriteI32(v);
}

void TLevelFile::Resize(int32_t width, int32_t height) {
  Width = width;
  Height = height;
  Cells.assign(static_cast<size_t>(width) * static_cast<size_t>(height), TLevelCell{});
}

// ---- the plain layout ----

void CheckLevelFile(const TLevelFile& level) {
  const int32_t w = level.Width, h = level.Height;
  if (w < 1 || h < 1 || w > kMaxLevelSide || h > kMaxLevelSide) Invalid("size");
  if (level.Cells.size() != static_cast<size_t>(w) * static_cast<size_t>(h)) Invalid("size");
  auto inGrid = [w, h](int32_t x, int32_t y) { return x >= 0 && y >= 0 && x < w && y < h; };
  for (const TLevelCell& c : level.Cells) CheckCellBytes(c.Action, c.Param, "cell");
  if (!inGrid(level.PlayerStart.X, level.PlayerStart.Y) || level.PlayerStart.Direction > 3) Invalid("player start");
  for (const TEnemyStart& e : level.Enemies) {
    if (!inGrid(e.X, e.Y) || e.Direction > 3) Invalid("enemy start");
    for (uint32_t p : e.Waypoints)
      if (!inGrid(PointX(p), PointY(p))) Invalid("waypoint");
  }
  int32_t groupSizes[kGroupCount] = {};
  for (const TGroupCellRecord& g : level.GroupCells) {
    if (g.Group < 0 || g.Group >= kGroupCount) Invalid("group number");
    if (++groupSizes[g.Group] > kGroupCapacity) Invalid("group size");
    if (!inGrid(g.X, g.Y)) Invalid("group cell");
    CheckCellBytes(g.Switched[16], g.Switched[19], "group cell");
  }
}

void ReadLevelFile(TStream& s, TLevelFile& level) {
  ReadMagic(s, "header");
  level.Reserved = s.ReadI32();
  uint8_t name[kNameFieldSize];
  s.ReadBuffer(name, kNameFieldSize);
  level.Name.assign(reinterpret_cast<const char*>(name + 1), name[0] < 25 ? name[0] : 25);
  level.TimeLimit = s.ReadI32();
  const int32_t w = s.ReadI32();
  const int32_t h = s.ReadI32();
  if (w < 1 || h < 1 || w > kMaxLevelSide || h > kMaxLevelSide) Invalid("size");
  const int64_t cells = static_cast<int64_t>(w) * h;
  if (cells * (kCellPartASize + kCellPartBSize) > s.Remaining()) Invalid("size");
  level.Resize(w, h);
  {
    std::vector<uint8_t> part(static_cast<size_t>(cells) * kCellPartASize);
    s.ReadBuffer(part.data(), static_cast<int32_t>(part.size()));
    const uint8_t* p = part.data();
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x, p += kCellPartASize) level.Cell(x, y).ReadPartA(p);
    part.resize(static_cast<size_t>(cells) * kCellPartBSize);
    s.ReadBuffer(part.data(), static_cast<int32_t>(part.size()));
    p = part.data();
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x, p += kCellPartBSize) level.Cell(x, y).ReadPartB(p);
  }
  int32_t n = s.ReadI32();
  CheckCount(s, n, kDecorRecordSize, "decor count");
  level.Decor.assign(static_cast<size_t>(n), TDecorSprite{});
  for (TDecorSprite& d : level.Decor) d.ReadFromStream(s);

  level.PlayerStart.X = s.ReadI32();
  level.PlayerStart.Y = s.ReadI32();
  level.PlayerStart.Direction = s.ReadU8();

  n = s.ReadI32();
  CheckCount(s, n, kEnemyRecordMin, "enemy count");
  level.Enemies.clear();
  level.Enemies.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    TEnemyStart e;
    e.X = s.ReadI32();
    e.Y = s.ReadI32();
    e.Direction = s.ReadU8();
    int32_t k = s.ReadI32();
    CheckCount(s, k, 4, "waypoint count");
    e.Waypoints.resize(static_cast<size_t>(k));
    for (uint32_t& p : e.Waypoints) p = s.ReadU32();
    level.Enemies.push_back(std::move(e));
  }

  n = s.ReadI32();
  CheckCount(s, n, kGroupRecordSize, "group cell count");
  level.GroupCells.assign(static_cast<size_t>(n), TGroupCellRecord{});
  for (TGroupCellRecord& g : level.GroupCells) {
    g.X = s.ReadI32();
    g.Y = s.ReadI32();
    s.ReadBuffer(g.Switched, kCellPartBSize);
    g.Group = s.ReadI32();
  }
  level.ShadowAlpha = s.ReadI32();
  ReadMagic(s, "footer");
  CheckLevelFile(level);
}

void WriteLevelFile(TStream& s, const TLevelFile& level) {
  s.WriteBuffer(kLevelMagic, 5);
  s.WriteI32(level.Reserved);
  uint8_t name[kNameFieldSize] = {};
  size_t len = level.Name.size() < 25 ? level.Name.size() : 25;
  name[0] = static_cast<uint8_t>(len);
  std::memcpy(name + 1, level.Name.data(), len);
  s.WriteBuffer(name, kNameFieldSize);
  s.WriteI32(level.TimeLimit);
  s.WriteI32(level.Width);
  s.WriteI32(level.Height);
  uint8_t b[kCellPartBSize];
  for (int32_t y = 0; y < level.Height; ++y)
    for (int32_t x = 0; x < level.Width; ++x) {
      level.Cell(x, y).WritePartA(b);
      s.WriteBuffer(b, kCellPartASize);
    }
  for (int32_t y = 0; y < level.Height; ++y)
    for (int32_t x = 0; x < level.Width; ++x) {
      level.Cell(x, y).WritePartB(b);
      s.WriteBuffer(b, kCellPartBSize);
    }
  s.WriteI32(static_cast<int32_t>(level.Decor.size()));
  for (const TDecorSprite& d : level.Decor) d.WriteToStream(s);
  s.WriteI32(level.PlayerStart.X);
  s.WriteI32(level.PlayerStart.Y);
  s.WriteU8(level.PlayerStart.Direction);
  s.WriteI32(static_cast<int32_t>(level.Enemies.size()));
  for (const TEnemyStart& e : level.Enemies) {
    s.WriteI32(e.X);
    s.WriteI32(e.Y);
    s.WriteU8(e.Direction);
    s.WriteI32(static_cast<int32_t>(e.Waypoints.size()));
    for (uint32_t p : e.Waypoints) s.WriteU32(p);
  }
  s.WriteI32(static_cast<int32_t>(level.GroupCells.size()));
  for (const TGroupCellRecord& g : level.GroupCells) {
    s.WriteI32(g.X);
    s.WriteI32(g.Y);
    s.WriteBuffer(g.Switched, kCellPartBSize);
    s.WriteI32(g.Group);
  }
  s.WriteI32(level.ShadowAlpha);
  s.WriteBuffer(kLevelMagic, 5);
}

// ---- the level ----

TQVGameLevel::TQVGameLevel(TGameGraphics* graphics, TStream& stream, TGameSounds* sounds)
    : Graphics(graphics), Sounds(sounds) {
  TMemoryStream plain;
  LoadLevelContainer(stream, plain);
  plain.SetPosition(0);
  TLevelFile level;
  ReadLevelFile(plain, level);
  Build(level);
}

TQVGameLevel::TQVGameLevel(TGameGraphics* graphics, TLevelFile level, TGameSounds* sounds)
    : Graphics(graphics), Sounds(sounds) {
  CheckLevelFile(level);
  Build(level);
}

void TQVGameLevel::Build(TLevelFile& level) {
  Name = level.Name;
  TimeLimit = level.TimeLimit;
  Width = level.Width;
  Height = level.Height;
  Cells = std::move(level.Cells);
  Decor = std::move(level.Decor);
  PlayerStart = level.PlayerStart;
  EnemyStarts = std::move(level.Enemies);

  for (const TGroupCellRecord& r : level.GroupCells) {
    TSwitchGroup& g = Groups[static_cast<size_t>(r.Group)];
    TGroupEntry& e = g.Entries[static_cast<size_t>(g.Count++)];
    e.X = r.X;
    e.Y = r.Y;
    std::memcpy(e.Switched, r.Switched, kCellPartBSize);
  }
  for (TSwitchGroup& g : Groups)
    for (int32_t i = 0; i < g.Count; ++i) Cell(g.Entries[i].X, g.Entries[i].Y).WritePartB(g.Entries[i].Loaded);

  const uint32_t shadow = (static_cast<uint32_t>(level.ShadowAlpha) << 24) | 0xFFFFFFu;
  for (uint32_t& c : ShadowColors) c = shadow;

  Map = std::make_unique<TSearchableMap>(Width, Height);
  Map->CostCallback = [this](int32_t x, int32_t y) { return PathCost(x, y); };
  Planner = std::make_unique<TAStarPathPlanner>();
  Planner->SetMap(Map.get());

  for (int32_t x = 0; x < Width; ++x)
    for (int32_t y = 0; y < Height; ++y) {
      uint8_t a = Cell(x, y).Action;
      if (a == caSwitch || a == caFire || a == caDoor) ActiveCells.push_back(PackPoint(x, y));
    }

  for (TLevelCell& c : Cells) c.LaserDistance = (c.Flags & (cfLaserLeft | cfLaserTop)) ? 0 : kFarFromLaser;
  for (int16_t d = 0; d < 10; ++d)
    for (int32_t x = 1; x <= Width - 2; ++x)
      for (int32_t y = 1; y <= Height - 2; ++y) {
        TLevelCell& c = Cell(x, y);
        if (c.LaserDistance != kFarFromLaser) continue;
        if (Cell(x - 1, y).LaserDistance == d || Cell(x + 1, y).LaserDistance == d ||
            Cell(x, y - 1).LaserDistance == d || Cell(x, y + 1).LaserDistance == d)
          c.LaserDistance = static_cast<int16_t>(d + 1);
      }

  for (int32_t x = 0; x < Width; ++x)
    for (int32_t y = 0; y < Height; ++y) {
      if (Cell(x, y).Action != caFire) continue;
      int64_t phase = (45 - 100 * static_cast<int64_t>(x) - 75 * static_cast<int64_t>(y)) % kFireListCount;
      if (phase < 0) phase += kFireListCount;
      auto& list = FireLists[static_cast<size_t>(phase)];
      if (!list) list = std::make_unique<std::vector<uint32_t>>();
      list->push_back(PackPoint(x, y));
    }
}

int32_t TQVGameLevel::PathCost(int32_t x, int32_t y) const {
  const TLevelCell& c = Cell(x, y);
  if (c.Occupant) return 255;
  switch (c.Action) {
    case caFire: return 15;
    case caDoor: return c.StateCounter < 13 ? 255 : 0;
    case caWall:
    case caObstacle:
    case caExit: return 255;
    default: return 0;
  }
}

// ---- the container ----

namespace {
// Memory output that refuses to grow past the level-data bound: a container stating a huge size
// (an LZH stream decodes that many bytes from nothing) fails early instead of exhausting memory.
class TBoundedMemoryStream : public TMemoryStream {
public:
  int32_t Write(const void* buffer, int32_t count) override {
    if (count > 0 && GetPosition() + count > kMaxLevelDataSize) {
      Overflow = true;
      return 0;  // the container reports a failed write and stops
    }
    return TMemoryStream::Write(buffer, count);
  }
  bool Overflow = false;
};
}  // namespace

void LoadLevelContainer(TStream& container, TMemoryStream& plain) {
  TBoundedMemoryStream out;
  try {
    Tlzrw1 lz;
    lz.UseStreams = true;
    lz.InputStream = &container;
    lz.OutputStream = &out;
    lz.Decompress();
  } catch (const std::exception&) {
    if (out.Overflow) Invalid("larger than " + std::to_string(kMaxLevelDataSize) + " bytes");
    throw;
  }
  plain.Clear();
  plain.Data = std::move(out.Data);
  plain.SetPosition(0);
}

void CompressLevelData(TStream& plain, TStream& container, uint8_t method) {
  Tlzrw1 lz;
  lz.UseStreams = true;
  lz.Method = method;
  lz.InputStream = &plain;
  lz.OutputStream = &container;
  lz.Compress();
}

void SaveLevelContainer(TStream& container, const TLevelFile& level, uint8_t method) {
  TMemoryStream plain;
  WriteLevelFile(plain, level);
  plain.SetPosition(0);
  CompressLevelData(plain, container, method);
}
