// The level compiler. The description format is documented in tools/levelc/levels/README.md.
#include "LevelCompiler.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <set>
#include <sstream>
#include <tuple>

#include "game/LevelView.h"

namespace levelc {

namespace {
constexpr uint8_t N = 1, E = 2, S = 4, W = 8;
constexpr int kCell = 84;

// door frames are drawn only for these shapes of the walls beside a door
const std::set<int> kAbove = {2, 11, 15, 3, 5, 8};
const std::set<int> kBelow = {0, 12, 15, 3, 6, 14};
const std::set<int> kRight = {0, 1, 3, 7, 12, 2, 9, 11, 15};
const std::set<int> kLeft = {3, 6, 7, 12, 13, 8, 10, 11, 15};

const char* kDirNames[4] = {"right", "up", "left", "down"};
const int kDx[4] = {1, 0, -1, 0};
const int kDy[4] = {0, -1, 0, 1};

[[noreturn]] void Fail(const std::string& file, int line, const std::string& msg) {
  if (line > 0) throw ECompileError(file + ":" + std::to_string(line) + ": " + msg);
  throw ECompileError(file + ": " + msg);
}

void Put32(std::vector<uint8_t>& o, uint32_t v) {
  for (int i = 0; i < 4; ++i) o.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutF(std::vector<uint8_t>& o, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  Put32(o, v);
}

std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') { ++i; continue; }
    // '#' opens a comment at the start of a token unless a colour's hex digits follow
    if (line[i] == '#' && (i + 1 >= line.size() || !std::isxdigit(static_cast<unsigned char>(line[i + 1]))))
      break;
    if (line[i] == '"') {
      size_t j = line.find('"', i + 1);
      if (j == std::string::npos) j = line.size();
      out.push_back(line.substr(i, j - i + 1));
      i = j + 1;
      continue;
    }
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
    out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

int ToInt(const std::string& s, const std::string& file, int line, int lo, int hi) {
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != 0) Fail(file, line, "not a whole number: \"" + s + "\"");
  if (v < lo || v > hi)
    Fail(file, line, s + " is out of range (" + std::to_string(lo) + ".." + std::to_string(hi) + ")");
  return static_cast<int>(v);
}

double ToReal(const std::string& s, const std::string& file, int line) {
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != 0 || !std::isfinite(v)) Fail(file, line, "not a number: \"" + s + "\"");
  return v;
}

uint32_t ToColor(const std::string& s, const std::string& file, int line) {
  if (s.size() != 7 && s.size() != 9) Fail(file, line, "a colour is #RRGGBB or #AARRGGBB: \"" + s + "\"");
  if (s[0] != '#') Fail(file, line, "a colour starts with '#': \"" + s + "\"");
  uint32_t v = 0;
  for (size_t i = 1; i < s.size(); ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(s[i]))) Fail(file, line, "bad colour \"" + s + "\"");
    v = v * 16 + static_cast<uint32_t>(std::stoi(std::string(1, s[i]), nullptr, 16));
  }
  return s.size() == 7 ? (0xFF000000u | v) : v;
}

int ToDir(const std::string& s, const std::string& file, int line) {
  for (int d = 0; d < 4; ++d)
    if (s == kDirNames[d]) return d;
  Fail(file, line, "a direction is right, up, left or down: \"" + s + "\"");
}

// What a legend character or a group line makes of a cell.
struct Kind {
  enum { Floor, Wall, Void, Obstacle, Key, Door, Switch, Fire, Energy, Heart, Super, Diamond,
         Exit, Start, Laser } What = Floor;
  int Param = 0;
  int FloorTile = -1;  // -1: the level's default
  uint8_t Flags = 0;
  bool HasColor = false;
  uint32_t Color = 0;
};

Kind ParseKind(const std::vector<std::string>& t, size_t i, const std::string& file, int line) {
  if (i >= t.size()) Fail(file, line, "missing cell kind");
  Kind k;
  const std::string& w = t[i++];
  auto need = [&](int lo, int hi) {
    if (i >= t.size()) Fail(file, line, "\"" + w + "\" needs a number");
    return ToInt(t[i++], file, line, lo, hi);
  };
  if (w == "floor") {
    k.What = Kind::Floor;
    if (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i][0]))) k.FloorTile = need(1, 8);
  }
  else if (w == "wall") k.What = Kind::Wall;
  else if (w == "void") k.What = Kind::Void;
  else if (w == "obstacle") k.What = Kind::Obstacle;
  else if (w == "key") { k.What = Kind::Key; k.Param = need(1, 15); }
  else if (w == "door") { k.What = Kind::Door; k.Param = need(0, 15); }
  else if (w == "switch") { k.What = Kind::Switch; k.Param = need(0, 31); }
  else if (w == "fire") k.What = Kind::Fire;
  else if (w == "energy") k.What = Kind::Energy;
  else if (w == "heart") k.What = Kind::Heart;
  else if (w == "super") k.What = Kind::Super;
  else if (w == "diamond") k.What = Kind::Diamond;
  else if (w == "laser") {
    k.What = Kind::Laser;
    if (i >= t.size()) Fail(file, line, "laser needs left, top or both");
    const std::string& e = t[i++];
    if (e == "left") k.Flags = 2;
    else if (e == "top") k.Flags = 4;
    else if (e == "both") k.Flags = 6;
    else Fail(file, line, "laser needs left, top or both, not \"" + e + "\"");
  } else Fail(file, line, "unknown cell kind \"" + w + "\"");
  while (i < t.size()) {
    const std::string& o = t[i++];
    if (o == "on" && i < t.size()) { k.FloorTile = ToInt(t[i++], file, line, 1, 8); }
    else if (o == "turned" && k.What == Kind::Fire) k.Flags |= 1;
    else if (o == "color" && i < t.size()) { k.HasColor = true; k.Color = ToColor(t[i++], file, line); }
    else Fail(file, line, "unexpected \"" + o + "\"");
  }
  return k;
}

struct Source {
  std::string File;
  std::map<char, Kind> Legend;
  std::vector<std::string> Rows;
  int GridLine = 0;
  int DefaultFloor = 1;
  uint32_t FloorColors[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  uint32_t WallColors[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  struct GroupLine { int Group, X, Y, Line; Kind K; };
  std::vector<GroupLine> Groups;
  struct DecorLine { std::vector<std::string> T; int Line; };
  std::vector<DecorLine> Decors;
};

void ReadColors(const std::vector<std::string>& t, uint32_t out[4], const std::string& file, int line) {
  if (t.size() != 2 && t.size() != 5) Fail(file, line, t[0] + " takes one colour or four corner colours");
  for (int c = 0; c < 4; ++c) out[c] = ToColor(t[t.size() == 2 ? 1 : 1 + c], file, line);
}

// Applies a cell kind on top of a cell (keeping its floor unless the kind names one).
void ApplyKind(Cell& c, const Kind& k, const Source& src, bool keepFloor) {
  auto white = [&](uint32_t* o) { for (int i = 0; i < 4; ++i) o[i] = 0xFFFFFFFF; };
  int tile = k.FloorTile >= 0 ? k.FloorTile : src.DefaultFloor;
  if (!keepFloor || k.FloorTile >= 0) {
    c.Floor = k.What == Kind::Void ? 0 : static_cast<uint8_t>(tile);
    for (int i = 0; i < 4; ++i) c.FloorColors[i] = k.HasColor ? k.Color : src.FloorColors[i];
    if (k.What == Kind::Void)
      for (int i = 0; i < 4; ++i) c.FloorColors[i] = 0xFFFFFFFF;
  }
  white(c.ObjectColors);
  c.Flags = 0;
  c.ImageSet = 0;
  c.Param = 0;
  switch (k.What) {
    case Kind::Floor: case Kind::Start: c.ActionCode = acFloor; break;
    case Kind::Wall:
      c.ActionCode = acWall;
      for (int i = 0; i < 4; ++i) c.ObjectColors[i] = k.HasColor ? k.Color : src.WallColors[i];
      break;
    case Kind::Void: case Kind::Obstacle: c.ActionCode = acObstacle; break;
    case Kind::Key: c.ActionCode = acKey; c.Param = static_cast<uint8_t>(k.Param); break;
    case Kind::Door: c.ActionCode = acDoor; c.Param = static_cast<uint8_t>(k.Param); break;
    case Kind::Switch: c.ActionCode = acSwitch; c.Param = static_cast<uint8_t>(k.Param); break;
    case Kind::Fire: c.ActionCode = acFire; c.Flags = k.Flags; break;
    case Kind::Energy: c.ActionCode = acEnergy; break;
    case Kind::Heart: c.ActionCode = acHeart; break;
    case Kind::Super: c.ActionCode = acSuper; break;
    case Kind::Diamond: c.ActionCode = acDiamond; break;
    case Kind::Exit: c.ActionCode = acExit; break;
    case Kind::Laser: c.ActionCode = acFloor; c.Flags = k.Flags; break;
  }
}

bool IsWallAt(const Level& lv, int x, int y) {
  if (x < 0 || y < 0 || x >= lv.Width || y >= lv.Height) return true;  // walls run off the map
  return lv.At(x, y).ActionCode == acWall;
}

// Doors take their orientation from the walls round them: bit 0 clear for walls above and
// below (a door in a vertical wall), set for walls left and right.
void OrientDoors(Level& lv, const std::string& file, bool strict) {
  for (int y = 0; y < lv.Height; ++y)
    for (int x = 0; x < lv.Width; ++x) {
      Cell& c = lv.At(x, y);
      if (c.ActionCode != acDoor) continue;
      bool vert = IsWallAt(lv, x, y - 1) && IsWallAt(lv, x, y + 1);
      bool horz = IsWallAt(lv, x - 1, y) && IsWallAt(lv, x + 1, y);
      if (vert == horz) {
        if (!strict) continue;
        Fail(file, 0, "door at " + std::to_string(x) + "," + std::to_string(y) +
                          (vert ? " has walls on all sides" : " needs walls on two opposite sides"));
      }
      c.Flags = static_cast<uint8_t>((c.Flags & ~1) | (horz ? 1 : 0));
    }
}

void AutoTile(Level& lv) {
  auto joins = [&](int x, int y, bool vertical) {
    if (x < 0 || y < 0 || x >= lv.Width || y >= lv.Height) return true;
    const Cell& c = lv.At(x, y);
    if (c.ActionCode == acWall) return true;
    // a door continues the wall line it stands in
    if (c.ActionCode == acDoor) return vertical ? (c.Flags & 1) == 0 : (c.Flags & 1) != 0;
    return false;
  };
  for (int y = 0; y < lv.Height; ++y)
    for (int x = 0; x < lv.Width; ++x) {
      Cell& c = lv.At(x, y);
      if (c.ActionCode != acWall) continue;
      int m = 0;
      if (joins(x, y - 1, true)) m |= N;
      if (joins(x, y + 1, true)) m |= S;
      if (joins(x + 1, y, false)) m |= E;
      if (joins(x - 1, y, false)) m |= W;
      c.Param = static_cast<uint8_t>(ShapeOfMask(m));
    }
}

bool Inner(const Level& lv, int x, int y) {
  return x >= 1 && y >= 1 && x <= lv.Width - 2 && y <= lv.Height - 2;
}

std::string At(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }

}  // namespace

const uint8_t ShapeMask[16] = {N | S | W, W, S | W, N | S, 0, S, N | E, E | W,
                               E | S, N | W, E, E | S | W, N | E | W, N | E | S | W, N, N | E | S};

int ShapeOfMask(int mask) {
  for (int s = 0; s < 16; ++s)
    if (ShapeMask[s] == mask) return s;
  return 4;
}

void Cell::WriteB(std::vector<uint8_t>& out) const {
  for (uint32_t c : ObjectColors) Put32(out, c);
  out.push_back(ActionCode);
  out.push_back(Flags);
  out.push_back(ImageSet);
  out.push_back(Param);
}

std::vector<DecorImage> ReadDecorTable(const std::vector<uint8_t>& b) {
  if (b.size() != 1632) throw ECompileError("decorb.dat: expected 1632 bytes, found " + std::to_string(b.size()));
  auto i32 = [&](size_t o) {
    return static_cast<int32_t>(b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (static_cast<uint32_t>(b[o + 3]) << 24));
  };
  std::vector<DecorImage> out(48);
  for (int k = 0; k < 48; ++k) {
    size_t o = static_cast<size_t>(k) * 17;
    out[k].Used = b[o] != 0;
    out[k].Width = i32(o + 9) - i32(o + 1);
    out[k].Height = i32(o + 13) - i32(o + 5);
    out[k].HasShadow = out[k].Used && b[816 + o] != 0;
  }
  return out;
}

Level Compile(const std::string& text, const std::string& file, const std::vector<DecorImage>& decor) {
  Source src;
  src.File = file;
  Level lv;
  bool haveName = false, haveTime = false;
  int playerDir = 0, firstLine = 0;
  std::istringstream in(text);
  std::string raw;
  int line = 0;
  bool inGrid = false, gridDone = false;
  std::vector<Smoker> smokers;
  struct SmokerLine { std::vector<std::string> T; int Line; };
  std::vector<SmokerLine> smokerLines;
  std::map<char, std::pair<int, int>> points;
  while (std::getline(in, raw)) {
    ++line;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (inGrid) {
      if (raw == "end") { inGrid = false; gridDone = true; continue; }
      src.Rows.push_back(raw);
      continue;
    }
    auto t = Tokens(raw);
    if (t.empty()) continue;
    const std::string& key = t[0];
    if (key == "name") {
      if (t.size() != 2 || t[1].size() < 2 || t[1].front() != '"' || t[1].back() != '"')
        Fail(file, line, "name takes one text in double quotes");
      lv.Name = t[1].substr(1, t[1].size() - 2);
      if (lv.Name.empty() || lv.Name.size() > 25) Fail(file, line, "a name has 1 to 25 characters");
      haveName = true;
    } else if (key == "time") {
      if (t.size() != 2) Fail(file, line, "time takes the limit in seconds");
      lv.TimeLimit = ToInt(t[1], file, line, 10, 3600);
      haveTime = true;
    } else if (key == "intro") {
      if (t.size() != 1) Fail(file, line, "intro takes nothing");
      lv.Intro = true;
    } else if (key == "first") {
      if (t.size() != 5) Fail(file, line, "first takes the area's corners x0 y0 x1 y1");
      lv.FirstArea = {ToInt(t[1], file, line, 0, 65535), ToInt(t[2], file, line, 0, 65535),
                      ToInt(t[3], file, line, 0, 65535), ToInt(t[4], file, line, 0, 65535)};
      if (lv.FirstArea.Empty()) Fail(file, line, "the first area's second corner lies before its first");
      firstLine = line;
    } else if (key == "method") {
      if (t.size() != 2 || (t[1] != "lzrw1" && t[1] != "lzh")) Fail(file, line, "method is lzrw1 or lzh");
      lv.Method = t[1] == "lzrw1" ? 1 : 0;
    } else if (key == "shadow") {
      if (t.size() != 2) Fail(file, line, "shadow takes an alpha of 0..255");
      lv.ShadowAlpha = ToInt(t[1], file, line, 0, 255);
    } else if (key == "floor") {
      if (t.size() != 2) Fail(file, line, "floor takes a tile number 1..8");
      src.DefaultFloor = ToInt(t[1], file, line, 1, 8);
    } else if (key == "floorcolor") {
      ReadColors(t, src.FloorColors, file, line);
    } else if (key == "wallcolor") {
      ReadColors(t, src.WallColors, file, line);
    } else if (key == "player") {
      if (t.size() != 2) Fail(file, line, "player takes the direction the player faces");
      playerDir = ToDir(t[1], file, line);
    } else if (key == "legend") {
      if (t.size() < 3 || t[1].size() != 1) Fail(file, line, "legend takes one character and a cell kind");
      char ch = t[1][0];
      if (std::string("#.~@E").find(ch) != std::string::npos)
        Fail(file, line, std::string("'") + ch + "' has a fixed meaning");
      if (src.Legend.count(ch) || points.count(ch))
        Fail(file, line, std::string("'") + ch + "' is already in the legend or a point");
      src.Legend[ch] = ParseKind(t, 2, file, line);
    } else if (key == "grid") {
      if (gridDone) Fail(file, line, "a second grid");
      inGrid = true;
      src.GridLine = line;
    } else if (key == "smoker") {
      if (t.size() < 3) Fail(file, line, "smoker takes its start, a direction, then waypoints");
      smokerLines.push_back({t, line});
    } else if (key == "point") {
      if (t.size() < 2) Fail(file, line, "point takes the characters that mark points in the grid");
      for (size_t i = 1; i < t.size(); ++i) {
        if (t[i].size() != 1 || std::isdigit(static_cast<unsigned char>(t[i][0])) ||
            std::string("#.~@E ").find(t[i][0]) != std::string::npos || src.Legend.count(t[i][0]))
          Fail(file, line, "\"" + t[i] + "\" cannot mark a point");
        points[t[i][0]] = {-1, -1};
      }
    } else if (key == "decor") {
      src.Decors.push_back({t, line});
    } else if (key == "group") {
      if (t.size() < 5) Fail(file, line, "group takes a group number, x y and the switched cell kind");
      Source::GroupLine g;
      g.Group = ToInt(t[1], file, line, 0, 31);
      g.X = ToInt(t[2], file, line, 0, 65535);
      g.Y = ToInt(t[3], file, line, 0, 65535);
      g.K = ParseKind(t, 4, file, line);
      g.Line = line;
      src.Groups.push_back(g);
    } else {
      Fail(file, line, "unknown keyword \"" + key + "\"");
    }
  }
  if (inGrid) Fail(file, line, "the grid has no \"end\" line");
  if (!gridDone) Fail(file, 0, "no grid");
  if (!haveName) Fail(file, 0, "no name");
  if (!haveTime) Fail(file, 0, "no time limit");

  // ---- cells
  lv.Height = static_cast<int>(src.Rows.size());
  lv.Width = 0;
  for (auto& r : src.Rows) lv.Width = std::max(lv.Width, static_cast<int>(r.size()));
  if (lv.Width < 22 || lv.Height < 22)
    Fail(file, src.GridLine, "a level needs at least 22 x 22 cells, this one has " + std::to_string(lv.Width) +
                                 " x " + std::to_string(lv.Height));
  if (lv.Width > 200 || lv.Height > 200) Fail(file, src.GridLine, "a level has at most 200 x 200 cells");
  lv.Cells.assign(static_cast<size_t>(lv.Width) * lv.Height, Cell());
  int starts = 0, exits = 0, exitX = 0, exitY = 0;
  for (int y = 0; y < lv.Height; ++y)
    for (int x = 0; x < lv.Width; ++x) {
      char ch = x < static_cast<int>(src.Rows[y].size()) ? src.Rows[y][x] : ' ';
      Kind k;
      switch (ch) {
        case '#': k.What = Kind::Wall; break;
        case '.': k.What = Kind::Floor; break;
        case ' ': case '~': k.What = Kind::Void; break;
        case '@': k.What = Kind::Start; break;
        case 'E': k.What = Kind::Exit; break;
        default:
          if (points.count(ch)) {
            if (points[ch].first >= 0) Fail(file, src.GridLine + 1 + y, std::string("point '") + ch + "' appears twice");
            points[ch] = {x, y};
            k.What = Kind::Floor;
            break;
          }
          if (!src.Legend.count(ch))
            Fail(file, src.GridLine + 1 + y, std::string("'") + ch + "' is not in the legend");
          k = src.Legend[ch];
      }
      ApplyKind(lv.At(x, y), k, src, false);
      // markers lie on the floor round them: take it from the nearest floor to the left
      bool marker = k.What == Kind::Start || k.What == Kind::Exit || points.count(ch);
      for (int lx = x - 1; marker && lx >= 0; --lx) {
        char lc = src.Rows[y][lx];
        if (lc == '@' || lc == 'E' || points.count(lc)) continue;
        const Cell& l = lv.At(lx, y);
        if (l.Floor != 0 && l.ActionCode != acWall && l.ActionCode != acObstacle) {
          lv.At(x, y).Floor = l.Floor;
          std::memcpy(lv.At(x, y).FloorColors, l.FloorColors, sizeof l.FloorColors);
        }
        break;
      }
      if (k.What == Kind::Start) { ++starts; lv.PlayerX = x; lv.PlayerY = y; }
      if (k.What == Kind::Exit) { ++exits; exitX = x; exitY = y; }
    }
  if (starts != 1) Fail(file, src.GridLine, "the grid needs exactly one player start '@', found " + std::to_string(starts));
  if (exits != 1) Fail(file, src.GridLine, "the grid needs exactly one exit 'E', found " + std::to_string(exits));
  lv.PlayerDirection = playerDir;

  // ---- the exit's pad: the gate stands on the two cells to the right and the row below
  {
    int x = exitX, y = exitY;
    if (x + 2 > lv.Width - 1 || y - 1 < 0 || y + 1 > lv.Height - 1)
      Fail(file, src.GridLine + 1 + y, "no room for the exit's pad at " + At(x, y) +
                                           ": it needs two cells to its right and a row above and below");
    const int solid[6][2] = {{1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}, {2, -1}};
    for (auto& o : solid) {
      Cell& c = lv.At(x + o[0], y + o[1]);
      if (c.ActionCode != acFloor && c.ActionCode != acObstacle)
        Fail(file, src.GridLine + 1 + y + o[1], "the exit's pad needs floor at " + At(x + o[0], y + o[1]));
      if (c.Floor == 0) c.Floor = static_cast<uint8_t>(src.DefaultFloor);
      c.ActionCode = acObstacle;
    }
    for (int dx = 0; dx <= 1; ++dx) {
      const Cell& c = lv.At(x + dx, y - 1);
      if (c.ActionCode != acFloor || c.Floor == 0)
        Fail(file, src.GridLine + y, "the exit's pad needs plain floor at " + At(x + dx, y - 1));
    }
  }

  OrientDoors(lv, file, true);
  AutoTile(lv);

  // ---- smokers: positions are grid points or x y numbers
  for (auto& sl : smokerLines) {
    const auto& t = sl.T;
    size_t i = 1;
    auto pos = [&](std::pair<int, int>& out) {
      if (i >= t.size()) Fail(file, sl.Line, "missing position");
      if (t[i].size() == 1 && points.count(t[i][0])) {
        out = points[t[i][0]];
        if (out.first < 0) Fail(file, sl.Line, "point '" + t[i] + "' is not in the grid");
        ++i;
        return;
      }
      if (i + 1 >= t.size()) Fail(file, sl.Line, "a position is a point or x y");
      out = {ToInt(t[i], file, sl.Line, 0, 65535), ToInt(t[i + 1], file, sl.Line, 0, 65535)};
      i += 2;
    };
    Smoker sm;
    std::pair<int, int> p;
    pos(p);
    sm.X = p.first;
    sm.Y = p.second;
    if (i >= t.size()) Fail(file, sl.Line, "smoker needs a direction");
    sm.Direction = ToDir(t[i++], file, sl.Line);
    while (i < t.size()) {
      pos(p);
      sm.Waypoints.push_back(p);
    }
    sm.Line = sl.Line;
    smokers.push_back(sm);
  }
  lv.Smokers = smokers;

  // ---- switch groups: each group's switched state is the level with its cells changed and the
  // walls round them tiled again; every cell whose bytes 17..36 change becomes a group entry
  std::map<int, std::vector<const Source::GroupLine*>> byGroup;
  for (auto& g : src.Groups) {
    if (g.X >= lv.Width || g.Y >= lv.Height) Fail(file, g.Line, "cell " + At(g.X, g.Y) + " is outside the grid");
    byGroup[g.Group].push_back(&g);
  }
  for (auto& [grp, lines] : byGroup) {
    Level sw = lv;
    for (auto* g : lines) {
      if (g->K.What == Kind::Exit || g->K.What == Kind::Start || g->K.What == Kind::Void)
        Fail(file, g->Line, "a switch cannot make an exit, a start or void");
      Cell& c = sw.At(g->X, g->Y);
      if (c.ActionCode == acExit || c.ActionCode == acSwitch)
        Fail(file, g->Line, "a switch cannot change the exit or a switch");
      ApplyKind(c, g->K, src, true);
    }
    OrientDoors(sw, file, false);
    AutoTile(sw);
    int count = 0;
    for (int y = 0; y < lv.Height; ++y)
      for (int x = 0; x < lv.Width; ++x) {
        std::vector<uint8_t> a, b;
        lv.At(x, y).WriteB(a);
        sw.At(x, y).WriteB(b);
        if (a != b) {
          lv.GroupCells.push_back({x, y, grp, sw.At(x, y)});
          ++count;
        }
      }
    if (count > 100) Fail(file, lines.front()->Line, "group " + std::to_string(grp) + " changes " +
                                                          std::to_string(count) + " cells; at most 100");
    if (count == 0) Fail(file, lines.front()->Line, "group " + std::to_string(grp) + " changes nothing");
  }

  // ---- decor
  for (auto& d : src.Decors) {
    const auto& t = d.T;
    if (t.size() < 4) Fail(file, d.Line, "decor takes an image number and the centre x y in cells");
    Decor dc;
    dc.Image = ToInt(t[1], file, d.Line, 0, 47);
    if (dc.Image >= static_cast<int>(decor.size()) || !decor[dc.Image].Used)
      Fail(file, d.Line, "decor image " + t[1] + " does not exist");
    double cx = ToReal(t[2], file, d.Line), cy = ToReal(t[3], file, d.Line);
    std::string layer = dc.Image >= 24 && dc.Image < 32 ? "floor" : dc.Image >= 32 && dc.Image < 40 ? "over" : "stand";
    bool shadow = true;
    double rotDeg = 0;
    for (size_t i = 4; i < t.size(); ++i) {
      if (t[i] == "layer" && i + 1 < t.size()) layer = t[++i];
      else if (t[i] == "scale" && i + 1 < t.size()) {
        dc.ScaleX = dc.ScaleY = static_cast<float>(ToReal(t[++i], file, d.Line));
        if (i + 1 < t.size() && std::isdigit(static_cast<unsigned char>(t[i + 1][0])))
          dc.ScaleY = static_cast<float>(ToReal(t[++i], file, d.Line));
        if (dc.ScaleX <= 0 || dc.ScaleY <= 0 || dc.ScaleX > 8 || dc.ScaleY > 8)
          Fail(file, d.Line, "a scale lies between 0 and 8");
      } else if (t[i] == "rot" && i + 1 < t.size()) rotDeg = ToReal(t[++i], file, d.Line);
      else if (t[i] == "color" && i + 1 < t.size()) {
        uint32_t c = ToColor(t[++i], file, d.Line);
        for (auto& k : dc.Colors) k = c;
      } else if (t[i] == "noshadow") shadow = false;
      else Fail(file, d.Line, "unexpected \"" + t[i] + "\"");
    }
    double w = decor[dc.Image].Width * dc.ScaleX, h = decor[dc.Image].Height * dc.ScaleY;
    double r = rotDeg * M_PI / 180.0;
    dc.Rotation = static_cast<float>(r);
    // the picture turns about its top-left corner: place it so its centre lands on (cx, cy)
    double c = std::cos(r), s = std::sin(r);
    double mx = (w / 2) * c - (h / 2) * s, my = (w / 2) * s + (h / 2) * c;
    dc.X = static_cast<int>(std::lround(cx * kCell - mx));
    dc.Y = static_cast<int>(std::lround(cy * kCell - my));
    double xs[4] = {0, w * c, w * c - h * s, -h * s}, ys[4] = {0, w * s, w * s + h * c, h * c};
    dc.Bounds[0] = dc.X + static_cast<int>(std::floor(*std::min_element(xs, xs + 4)));
    dc.Bounds[1] = dc.Y + static_cast<int>(std::floor(*std::min_element(ys, ys + 4)));
    dc.Bounds[2] = dc.X + static_cast<int>(std::ceil(*std::max_element(xs, xs + 4)));
    dc.Bounds[3] = dc.Y + static_cast<int>(std::ceil(*std::max_element(ys, ys + 4)));
    if (cx < 0 || cy < 0 || cx > lv.Width || cy > lv.Height)
      Fail(file, d.Line, "decor centre " + t[2] + " " + t[3] + " lies outside the level");
    int baseRow = std::clamp(static_cast<int>((dc.Bounds[3] - 1) / kCell), 0, lv.Height - 1);
    int baseCol = std::clamp(static_cast<int>(cx), 0, lv.Width - 1);
    if (layer == "floor") dc.Layer = 1500;
    else if (layer == "over") dc.Layer = 3002000;
    else if (layer == "stand") dc.Layer = 2500 * baseRow + 60000 - 10 * baseCol + 6;
    else dc.Layer = ToInt(layer, file, d.Line, 1, 0x7FFFFFFE);
    dc.ShadowLayer = shadow && layer == "stand" && decor[dc.Image].HasShadow ? 45200 : 0;
    lv.Decors.push_back(dc);
  }
  Validate(lv, file);
  // the smokers guard the way out: a run straight for the exit, every door and switch on its
  // way played out, takes a third of the time limit or more (200 ms a cell; turns not counted)
  const ExitRun run = FastestExitRun(lv);
  if (!lv.Intro && run.Moves * 3 * kMsPerCell < lv.TimeLimit * 1000) {
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.1f", run.Moves * kMsPerCell / 1000.0);
    Fail(file, 0, std::string("the fastest run to the exit takes ") + secs + " s (" + std::to_string(run.Moves) +
                      " cells), less than a third of the time limit; gate the exit");
  }
  if (!lv.FirstArea.Empty()) {
    if (!lv.FirstArea.Contains(lv.PlayerX, lv.PlayerY)) Fail(file, firstLine, "the first area holds the player's start");
    const NewcomerReport r = CheckNewcomer(lv);
    if (!r.Faults.empty()) {
      std::string all = "the first area breaks the newcomer rules:";
      for (auto& f : r.Faults) all += "\n  " + f;
      Fail(file, firstLine, all);
    }
  }
  return lv;
}

// ------------------------------------------------------------------------------- validation

namespace {

bool PlayerWalkable(uint8_t code) { return code != acWall && code != acObstacle; }

}  // namespace

void Validate(const Level& lv, const std::string& file) {
  if (lv.Width < 22 || lv.Height < 22) Fail(file, 0, "a level needs at least 22 x 22 cells");
  // the outer ring is never entered: nothing there may be meant for use
  for (int y = 0; y < lv.Height; ++y)
    for (int x = 0; x < lv.Width; ++x) {
      if (Inner(lv, x, y)) continue;
      uint8_t a = lv.At(x, y).ActionCode;
      if (a != acWall && a != acObstacle)
        Fail(file, 0, "cell " + At(x, y) + " on the outer ring must be wall or void");
      if (lv.At(x, y).Flags & 6) Fail(file, 0, "laser on the outer ring at " + At(x, y));
    }
  for (auto& g : lv.GroupCells)
    if (!Inner(lv, g.X, g.Y) && g.Switched.ActionCode != acWall && g.Switched.ActionCode != acObstacle)
      Fail(file, 0, "group " + std::to_string(g.Group) + " makes " + At(g.X, g.Y) + " on the outer ring usable");
  // door frames must fit the walls beside each door, and the passage must be open
  auto checkDoors = [&](const Level& l, const std::string& state) {
    for (int y = 1; y < l.Height - 1; ++y)
      for (int x = 1; x < l.Width - 1; ++x) {
        const Cell& c = l.At(x, y);
        if (c.ActionCode != acDoor) continue;
        std::string where = "door at " + At(x, y) + state;
        if ((c.Flags & 1) == 0) {
          if (l.At(x, y - 1).ActionCode != acWall || l.At(x, y + 1).ActionCode != acWall)
            Fail(file, 0, where + " needs walls above and below");
          if (!kAbove.count(l.At(x, y - 1).Param) || !kBelow.count(l.At(x, y + 1).Param))
            Fail(file, 0, where + ": its door frame cannot join the wall junction beside it; move the door");
          if (!PlayerWalkable(l.At(x - 1, y).ActionCode) || !PlayerWalkable(l.At(x + 1, y).ActionCode))
            Fail(file, 0, where + ": the cells left and right of it must be open");
        } else {
          if (l.At(x - 1, y).ActionCode != acWall || l.At(x + 1, y).ActionCode != acWall)
            Fail(file, 0, where + " needs walls left and right");
          if (!kLeft.count(l.At(x - 1, y).Param) || !kRight.count(l.At(x + 1, y).Param))
            Fail(file, 0, where + ": its door frame cannot join the wall junction beside it; move the door");
          if (!PlayerWalkable(l.At(x, y - 1).ActionCode) || !PlayerWalkable(l.At(x, y + 1).ActionCode))
            Fail(file, 0, where + ": the cells above and below it must be open");
        }
      }
  };
  checkDoors(lv, "");
  std::set<int> groups, switchGroups;
  for (auto& g : lv.GroupCells) groups.insert(g.Group);
  for (int y = 0; y < lv.Height; ++y)
    for (int x = 0; x < lv.Width; ++x) {
      const Cell& c = lv.At(x, y);
      if (c.ActionCode == acSwitch) {
        switchGroups.insert(c.Param);
        if (!groups.count(c.Param))
          Fail(file, 0, "switch at " + At(x, y) + " works group " + std::to_string(c.Param) + ", which has no cells");
      }
    }
  for (int g : groups)
    if (!switchGroups.count(g)) Fail(file, 0, "group " + std::to_string(g) + " has no switch");
  std::vector<int> groupList(groups.begin(), groups.end());
  std::map<int, int> groupBit;
  for (size_t i = 0; i < groupList.size(); ++i) groupBit[groupList[i]] = static_cast<int>(i);
  // the cell as it stands with a set of groups switched
  auto cellIn = [&](int x, int y, uint32_t on) -> const Cell& {
    const Cell* c = &lv.At(x, y);
    for (auto& g : lv.GroupCells)
      if (g.X == x && g.Y == y && (on >> groupBit[g.Group] & 1)) c = &g.Switched;
    return *c;
  };
  for (uint32_t on = 1; on < (1u << groupList.size()) && groupList.size() <= 4; ++on) {
    Level sw = lv;
    for (int y = 0; y < lv.Height; ++y)
      for (int x = 0; x < lv.Width; ++x) {
        const Cell& c = cellIn(x, y, on);
        Cell& d = sw.At(x, y);
        std::memcpy(d.ObjectColors, c.ObjectColors, sizeof d.ObjectColors);
        d.ActionCode = c.ActionCode; d.Flags = c.Flags; d.ImageSet = c.ImageSet; d.Param = c.Param;
      }
    checkDoors(sw, " (with switches thrown)");
  }
  // starts
  const Cell& ps = lv.At(lv.PlayerX, lv.PlayerY);
  if (!Inner(lv, lv.PlayerX, lv.PlayerY) || ps.Floor == 0 || ps.ActionCode != acFloor)
    Fail(file, 0, "the player must start on plain floor inside the ring");
  std::set<std::pair<int, int>> taken = {{lv.PlayerX, lv.PlayerY}};
  for (auto& s : lv.Smokers) {
    if (s.X >= lv.Width || s.Y >= lv.Height || !Inner(lv, s.X, s.Y))
      Fail(file, s.Line, "smoker start " + At(s.X, s.Y) + " is on the outer ring or outside");
    const Cell& c = lv.At(s.X, s.Y);
    if (c.Floor == 0 || c.ActionCode == acWall || c.ActionCode == acObstacle || c.ActionCode == acDoor ||
        c.ActionCode == acExit)
      Fail(file, s.Line, "smoker start " + At(s.X, s.Y) + " is not a walkable cell");
    if (!taken.insert({s.X, s.Y}).second) Fail(file, s.Line, "two figures start on " + At(s.X, s.Y));
    // waypoints: reachable from the start through cells a smoker may walk (doors may open)
    std::vector<char> seen(lv.Cells.size(), 0);
    std::deque<std::pair<int, int>> q = {{s.X, s.Y}};
    seen[static_cast<size_t>(s.Y) * lv.Width + s.X] = 1;
    while (!q.empty()) {
      auto [x, y] = q.front();
      q.pop_front();
      for (int d = 0; d < 4; ++d) {
        int nx = x + kDx[d], ny = y + kDy[d];
        if (!Inner(lv, nx, ny)) continue;
        const Cell& n = lv.At(nx, ny);
        if (n.Floor == 0 || n.ActionCode == acWall || n.ActionCode == acObstacle || n.ActionCode == acExit) continue;
        size_t i = static_cast<size_t>(ny) * lv.Width + nx;
        if (!seen[i]) { seen[i] = 1; q.push_back({nx, ny}); }
      }
    }
    for (auto& [wx, wy] : s.Waypoints) {
      if (wx >= lv.Width || wy >= lv.Height || !seen[static_cast<size_t>(wy) * lv.Width + wx])
        Fail(file, s.Line, "waypoint " + At(wx, wy) + " cannot be reached from the smoker's start " + At(s.X, s.Y));
    }
  }
  ExitRun run = FastestExitRun(lv);
  if (run.Moves < 0) Fail(file, 0, "the exit cannot be reached from the player's start");
  // a key or switch nobody can reach is a broken promise to the player
  for (int y = 0; y < lv.Height; ++y)
    for (int x = 0; x < lv.Width; ++x) {
      uint8_t a = lv.At(x, y).ActionCode;
      if ((a == acKey || a == acSwitch) && !run.Reached[static_cast<size_t>(y) * lv.Width + x])
        Fail(file, 0, std::string(a == acKey ? "key" : "switch") + " at " + At(x, y) + " cannot be reached");
    }
  // the exit is found, not seen: it lies outside the first screen and out of sight of the start
  int ex = -1, ey = -1;
  for (int y = 0; y < lv.Height; ++y)
    for (int x = 0; x < lv.Width; ++x)
      if (lv.At(x, y).ActionCode == acExit) ex = x, ey = y;
  const float camX = CameraLeft(static_cast<float>(lv.PlayerX) + 0.5f, lv.Width);
  const float camY = CameraTop(static_cast<float>(lv.PlayerY) + 0.5f, lv.Height);
  if (ex + 1 > camX && ex < camX + kViewWidth / kViewCell && ey + 1 > camY && ey < camY + kViewHeight / kViewCell)
    Fail(file, 0, "the exit at " + At(ex, ey) + " is on the screen the player starts on");
}

namespace {

struct RunState {
  int X, Y;
  uint16_t Keys;
  uint32_t Taken, Unlocked, On;
  bool operator<(const RunState& o) const {
    return std::tie(X, Y, Keys, Taken, Unlocked, On) < std::tie(o.X, o.Y, o.Keys, o.Taken, o.Unlocked, o.On);
  }
};

}  // namespace

ExitRun FastestExitRun(const Level& lv) {
  ExitRun run;
  run.Reached.assign(lv.Cells.size(), 0);
  std::set<int> groups;
  for (auto& g : lv.GroupCells) groups.insert(g.Group);
  std::map<int, int> groupBit;
  for (int g : groups) groupBit[g] = static_cast<int>(groupBit.size());
  std::map<std::pair<int, int>, int> keyIndex, doorIndex;
  for (int y = 0; y < lv.Height; ++y)
    for (int x = 0; x < lv.Width; ++x) {
      const Cell& c = lv.At(x, y);
      if (c.ActionCode == acKey) keyIndex[{x, y}] = static_cast<int>(keyIndex.size());
      if (c.ActionCode == acDoor) doorIndex[{x, y}] = static_cast<int>(doorIndex.size());
    }
  if (keyIndex.size() > 32 || doorIndex.size() > 32 || groups.size() > 16)
    throw ECompileError("too many keys, doors or groups to check (32, 32, 16)");
  auto cellIn = [&](int x, int y, uint32_t on) -> const Cell& {
    const Cell* c = &lv.At(x, y);
    for (auto& g : lv.GroupCells)
      if (g.X == x && g.Y == y && (on >> groupBit[g.Group] & 1)) c = &g.Switched;
    return *c;
  };
  // breadth first over (cell, keys held, keys taken, doors unlocked, groups thrown): the first
  // time the exit is entered is the fastest run; the search goes on to see every cell reachable
  std::map<RunState, RunState> parent;
  std::deque<std::pair<RunState, int>> q;
  RunState st{lv.PlayerX, lv.PlayerY, 0, 0, 0, 0};
  parent.emplace(st, st);
  q.push_back({st, 0});
  run.Reached[static_cast<size_t>(st.Y) * lv.Width + st.X] = 1;
  while (!q.empty()) {
    auto [s, dist] = q.front();
    q.pop_front();
    for (int d = 0; d < 4; ++d) {
      int nx = s.X + kDx[d], ny = s.Y + kDy[d];
      if (!Inner(lv, nx, ny)) continue;
      const Cell& c = cellIn(nx, ny, s.On);
      if (!PlayerWalkable(c.ActionCode)) continue;
      if (c.ActionCode == acDoor) {
        auto it = doorIndex.find({nx, ny});
        if (it == doorIndex.end() || !(s.Unlocked >> it->second & 1)) continue;
      }
      run.Reached[static_cast<size_t>(ny) * lv.Width + nx] = 1;
      if (c.ActionCode == acExit) {
        if (run.Moves < 0) {
          run.Moves = dist + 1;
          run.Route.push_back({nx, ny});
          run.Events.push_back(1);
          for (RunState r = s;; r = parent.at(r)) {
            const RunState& p = parent.at(r);
            run.Route.push_back({r.X, r.Y});
            run.Events.push_back(std::tie(r.Keys, r.Taken, r.Unlocked, r.On) != std::tie(p.Keys, p.Taken, p.Unlocked, p.On));
            if (!(r < st) && !(st < r)) break;
          }
          std::reverse(run.Route.begin(), run.Route.end());
          std::reverse(run.Events.begin(), run.Events.end());
        }
        continue;  // the level ends there
      }
      RunState n = s;
      n.X = nx;
      n.Y = ny;
      if (c.ActionCode == acKey) {
        auto it = keyIndex.find({nx, ny});
        if (it != keyIndex.end() && !(n.Taken >> it->second & 1)) {
          n.Taken |= 1u << it->second;
          n.Keys |= static_cast<uint16_t>(1u << c.Param);
        }
      }
      if (c.ActionCode == acSwitch && groupBit.count(c.Param)) n.On ^= 1u << groupBit[c.Param];
      // entering a cell opens the doors beside it that the player may open
      for (int e = 0; e < 4; ++e) {
        int dx = nx + kDx[e], dy = ny + kDy[e];
        if (dx < 0 || dy < 0 || dx >= lv.Width || dy >= lv.Height) continue;
        const Cell& dc = cellIn(dx, dy, n.On);
        auto it = doorIndex.find({dx, dy});
        if (dc.ActionCode != acDoor || it == doorIndex.end() || (n.Unlocked >> it->second & 1)) continue;
        int k = lv.At(dx, dy).Param;
        if (k == 0) n.Unlocked |= 1u << it->second;
        else if (n.Keys >> k & 1) { n.Keys = static_cast<uint16_t>(n.Keys & ~(1u << k)); n.Unlocked |= 1u << it->second; }
      }
      if (parent.emplace(n, s).second) q.push_back({n, dist + 1});
      if (parent.size() > 4000000) throw ECompileError("the level is too intricate to check");
    }
  }
  return run;
}

// ------------------------------------------------------------------------------- newcomer rules

bool OnScreen(const Level& lv, int px, int py, int x, int y) {
  return OnPicture(CameraLeft(static_cast<float>(px) + 0.5f, lv.Width), CameraTop(static_cast<float>(py) + 0.5f, lv.Height),
                   static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f);
}

bool LineOfSight(const Level& lv, int x, int y, int dx, int dy, bool doorsOpen) {
  return SightLine(x, y, dx, dy, lv.Width, lv.Height, [&](int cx, int cy) {
    const uint8_t a = lv.At(cx, cy).ActionCode;
    return a == acWall || (a == acDoor && !doorsOpen);
  });
}

namespace {

// Per cell (y * Width + x): when the player first opens the door there, as an index into the
// route (kNever: not on this run).
constexpr int kNever = 1 << 30;

// A smoker's path search: walls, obstacles, the exit and closed doors block it (fire only slows
// it). A door is open from the route index openedAt gives, at `when` on.
bool SmokerWalkable(const Level& lv, int x, int y, const std::vector<int>& openedAt, int when) {
  if (!Inner(lv, x, y)) return false;
  const Cell& c = lv.At(x, y);
  if (c.Floor == 0 || c.ActionCode == acWall || c.ActionCode == acObstacle || c.ActionCode == acExit) return false;
  return c.ActionCode != acDoor || openedAt[static_cast<size_t>(y) * lv.Width + x] <= when;
}

std::vector<int> WalkDistances(const Level& lv, int x0, int y0, const std::vector<int>& openedAt, int when) {
  std::vector<int> dist(lv.Cells.size(), -1);
  std::deque<std::pair<int, int>> q = {{x0, y0}};
  dist[static_cast<size_t>(y0) * lv.Width + x0] = 0;
  while (!q.empty()) {
    auto [x, y] = q.front();
    q.pop_front();
    for (int d = 0; d < 4; ++d) {
      const int nx = x + kDx[d], ny = y + kDy[d];
      if (!SmokerWalkable(lv, nx, ny, openedAt, when)) continue;
      int& dn = dist[static_cast<size_t>(ny) * lv.Width + nx];
      if (dn < 0) {
        dn = dist[static_cast<size_t>(y) * lv.Width + x] + 1;
        q.push_back({nx, ny});
      }
    }
  }
  return dist;
}

// The doors the player opens along the route, as the game opens them: standing beside a door
// opens it when it takes no key or the player holds its key (which it then spends).
std::vector<int> DoorsOpened(const Level& lv, const std::vector<std::pair<int, int>>& route) {
  std::vector<int> at(lv.Cells.size(), kNever);
  std::set<std::pair<int, int>> taken;
  uint32_t keys = 0;
  for (size_t i = 0; i < route.size(); ++i) {
    const auto [x, y] = route[i];
    const Cell& c = lv.At(x, y);
    if (c.ActionCode == acKey && taken.insert(route[i]).second) keys |= 1u << (c.Param & 15);
    for (int e = 0; e < 4; ++e) {
      const int dx = x + kDx[e], dy = y + kDy[e];
      if (dx < 0 || dy < 0 || dx >= lv.Width || dy >= lv.Height) continue;
      const Cell& d = lv.At(dx, dy);
      int& open = at[static_cast<size_t>(dy) * lv.Width + dx];
      if (d.ActionCode != acDoor || open != kNever) continue;
      const int k = d.Param & 15;
      if (k != 0 && !(keys >> k & 1)) continue;
      keys &= ~(1u << k);
      open = static_cast<int>(i);
    }
  }
  return at;
}

// Every cell on a shortest walk of each leg: the start to the first waypoint, then waypoint to
// waypoint round the cycle (the game's planner picks one of them), the doors closed as they are
// while the smoker patrols unseen. A leg no walk serves is one the game skips: it is named in
// `skipped`.
std::vector<std::pair<int, int>> PatrolCells(const Level& lv, const Smoker& s, const std::vector<int>& closed,
                                             std::string& skipped) {
  std::set<std::pair<int, int>> cells = {{s.X, s.Y}};
  std::vector<std::pair<int, int>> stops = {{s.X, s.Y}};
  stops.insert(stops.end(), s.Waypoints.begin(), s.Waypoints.end());
  if (!s.Waypoints.empty()) stops.push_back(s.Waypoints.front());
  for (size_t i = 0; i + 1 < stops.size(); ++i) {
    const auto from = WalkDistances(lv, stops[i].first, stops[i].second, closed, 0);
    const auto to = WalkDistances(lv, stops[i + 1].first, stops[i + 1].second, closed, 0);
    const int len = from[static_cast<size_t>(stops[i + 1].second) * lv.Width + stops[i + 1].first];
    if (len < 0) {
      if (skipped.empty())
        skipped = "cannot walk from " + At(stops[i].first, stops[i].second) + " to " +
                  At(stops[i + 1].first, stops[i + 1].second) + " with the doors closed: the game skips that leg";
      continue;
    }
    for (size_t c = 0; c < from.size(); ++c)
      if (from[c] >= 0 && to[c] >= 0 && from[c] + to[c] == len)
        cells.insert({static_cast<int>(c % lv.Width), static_cast<int>(c / lv.Width)});
  }
  return {cells.begin(), cells.end()};
}

std::string Cells(const std::pair<int, int>& c) { return At(c.first, c.second); }

}  // namespace

NewcomerReport CheckNewcomer(const Level& lv) {
  NewcomerReport r;
  const Area& a = lv.FirstArea;
  const ExitRun run = FastestExitRun(lv);
  for (auto& c : run.Route) {
    if (!a.Contains(c.first, c.second)) break;
    r.Way.push_back(c);
  }
  const int ways = static_cast<int>(r.Way.size());
  std::vector<char> onRoute(lv.Cells.size(), 0);
  for (auto [x, y] : run.Route) onRoute[static_cast<size_t>(y) * lv.Width + x] = 1;
  r.Engaging.assign(r.Way.size(), {});
  const std::vector<int> opened = DoorsOpened(lv, run.Route);
  const std::vector<int> closed(lv.Cells.size(), kNever);
  auto isOpen = [&](int x, int y, int w) { return opened[static_cast<size_t>(y) * lv.Width + x] <= w; };
  // sight and throws while the player stands on Way[w]: walls block them, and doors not yet opened
  auto sees = [&](int x, int y, int tx, int ty, int w) {
    if (std::abs(tx - x) >= 10 || std::abs(ty - y) >= 10) return false;
    return SightLine(x, y, tx - x, ty - y, lv.Width, lv.Height, [&](int cx, int cy) {
      const uint8_t code = lv.At(cx, cy).ActionCode;
      return code == acWall || (code == acDoor && !isOpen(cx, cy, w));
    });
  };
  const auto reach = WalkDistances(lv, lv.PlayerX, lv.PlayerY, opened, ways);
  auto fault = [&](const std::string& f) {
    if (r.Faults.size() < 8) r.Faults.push_back(f);
  };
  for (size_t i = 0; i < lv.Smokers.size(); ++i) {
    const Smoker& s = lv.Smokers[i];
    const std::string who = "the smoker of line " + std::to_string(s.Line);
    std::string skipped;
    const auto patrol = PatrolCells(lv, s, closed, skipped);
    if (!skipped.empty()) fault(who + " " + skipped);
    if (s.Waypoints.empty() && reach[static_cast<size_t>(s.Y) * lv.Width + s.X] >= 0) {
      fault(who + " wanders and can reach the first area: give it waypoints");
      continue;
    }
    // Where it stands: on its patrol until it first spots the player; from then on it chases by
    // path search, so it may stand on any cell its search reaches from the patrol through the
    // doors the player has opened.
    std::vector<char> on(lv.Cells.size(), 0);
    for (auto [x, y] : patrol) on[static_cast<size_t>(y) * lv.Width + x] = 1;
    bool chasing = false, offSpot = false, offThrow = false;
    int spreadAt = -1;
    auto spread = [&](int w) {
      std::deque<std::pair<int, int>> q;
      for (size_t c = 0; c < on.size(); ++c)
        if (on[c]) q.push_back({static_cast<int>(c % lv.Width), static_cast<int>(c / lv.Width)});
      while (!q.empty()) {
        auto [x, y] = q.front();
        q.pop_front();
        for (int d = 0; d < 4; ++d) {
          const int nx = x + kDx[d], ny = y + kDy[d];
          char& seen = on[static_cast<size_t>(ny) * lv.Width + nx];
          if (!seen && SmokerWalkable(lv, nx, ny, opened, w)) {
            seen = 1;
            q.push_back({nx, ny});
          }
        }
      }
      spreadAt = w;
    };
    for (int w = 0; w < ways; ++w) {
      const auto [px, py] = r.Way[static_cast<size_t>(w)];
      if (!chasing) {
        for (auto [sx, sy] : patrol) {
          if (!sees(sx, sy, px, py, w)) continue;
          chasing = true;
          if (!offSpot && !OnScreen(lv, px, py, sx, sy)) {
            offSpot = true;
            fault(who + " spots the player on " + At(px, py) + " from " + At(sx, sy) + ", off the screen");
          }
        }
      }
      // a door opened since the last spread lets the chase on
      bool newDoor = false;
      for (size_t c = 0; chasing && c < opened.size() && !newDoor; ++c)
        newDoor = opened[c] <= w && opened[c] > spreadAt;
      if (chasing && (spreadAt < 0 || newDoor)) spread(w);
      // engaged: it sees the player from where it may stand
      bool engages = false;
      for (int y = std::max(0, py - 9); chasing && !engages && y <= std::min(lv.Height - 1, py + 9); ++y)
        for (int x = std::max(0, px - 9); !engages && x <= std::min(lv.Width - 1, px + 9); ++x)
          engages = on[static_cast<size_t>(y) * lv.Width + x] && sees(x, y, px, py, w);
      if (engages) r.Engaging[static_cast<size_t>(w)].push_back(static_cast<int>(i));
      // cigarettes fly straight until a wall or a closed door: from the patrol, and once it
      // chases or flees from the exit run too, where a chase follows the player and a flight
      // runs ahead of it
      for (int d = 0; d < 4 && !offThrow; ++d)
        for (int x = px + kDx[d], y = py + kDy[d]; Inner(lv, x, y); x += kDx[d], y += kDy[d]) {
          const uint8_t code = lv.At(x, y).ActionCode;
          if (code == acWall || (code == acDoor && !isOpen(x, y, w))) break;
          const size_t c = static_cast<size_t>(y) * lv.Width + x;
          const bool thrower = std::binary_search(patrol.begin(), patrol.end(), std::make_pair(x, y)) ||
                               (chasing && on[c] && onRoute[c]);
          if (thrower && !OnScreen(lv, px, py, x, y)) {
            offThrow = true;
            fault(who + " can throw from " + At(x, y) + " at " + At(px, py) + " on the main way, off the screen");
            break;
          }
        }
    }
  }
  int first = -1;
  bool crowd = false, joined = false;
  for (size_t w = 0; w < r.Way.size(); ++w) {
    const auto& e = r.Engaging[w];
    if (e.size() > 2 && !crowd) {
      crowd = true;
      fault(std::to_string(e.size()) + " smokers engage on " + Cells(r.Way[w]) + ": two at most");
    }
    if (first < 0 && !e.empty()) first = e.front();
    if (first >= 0 && e.size() > 1 && std::count(e.begin(), e.end(), first) && !joined) {
      joined = true;
      fault("the first smoker (line " + std::to_string(lv.Smokers[static_cast<size_t>(first)].Line) +
            ") is not met alone: another engages on " + Cells(r.Way[w]));
    }
    if (r.FirstPair < 0 && e.size() > 1) r.FirstPair = static_cast<int>(w);
  }
  bool energy = false, heart = false;
  const size_t end = r.FirstPair < 0 ? r.Way.size() : static_cast<size_t>(r.FirstPair);
  for (size_t w = 0; w < end; ++w) {
    const uint8_t code = lv.At(r.Way[w].first, r.Way[w].second).ActionCode;
    energy |= code == acEnergy;
    heart |= code == acHeart;
  }
  if (!energy) fault("no energy field on the main way before the first pair of smokers");
  if (!heart) fault("no heart on the main way before the first pair of smokers");
  return r;
}

// ------------------------------------------------------------------------------- output

std::vector<uint8_t> Serialize(const Level& lv) {
  std::vector<uint8_t> o;
  o.reserve(64 + static_cast<size_t>(lv.Width) * lv.Height * 37);
  auto magic = [&o] {
    for (char ch : std::string("zrc2l")) o.push_back(static_cast<uint8_t>(ch));
  };
  magic();
  Put32(o, 0);
  o.push_back(static_cast<uint8_t>(lv.Name.size()));
  for (size_t i = 0; i < 25; ++i) o.push_back(i < lv.Name.size() ? static_cast<uint8_t>(lv.Name[i]) : 0);
  Put32(o, static_cast<uint32_t>(lv.TimeLimit));
  Put32(o, static_cast<uint32_t>(lv.Width));
  Put32(o, static_cast<uint32_t>(lv.Height));
  for (int y = 0; y < lv.Height; ++y)
    for (int x = 0; x < lv.Width; ++x) {
      const Cell& c = lv.At(x, y);
      o.push_back(c.Floor);
      for (uint32_t k : c.FloorColors) Put32(o, k);
    }
  for (int y = 0; y < lv.Height; ++y)
    for (int x = 0; x < lv.Width; ++x) lv.At(x, y).WriteB(o);
  Put32(o, static_cast<uint32_t>(lv.Decors.size()));
  for (auto& d : lv.Decors) {
    o.push_back(0);
    o.push_back(0);
    o.push_back(static_cast<uint8_t>(d.Image));
    o.push_back(static_cast<uint8_t>(d.Image >> 8));
    Put32(o, static_cast<uint32_t>(d.X));
    Put32(o, static_cast<uint32_t>(d.Y));
    Put32(o, static_cast<uint32_t>(d.Layer));
    Put32(o, static_cast<uint32_t>(d.ShadowLayer));
    PutF(o, d.ScaleX);
    PutF(o, d.ScaleY);
    PutF(o, d.Rotation);
    for (uint32_t c : d.Colors) Put32(o, c);
    for (int b : d.Bounds) Put32(o, static_cast<uint32_t>(b));
  }
  Put32(o, static_cast<uint32_t>(lv.PlayerX));
  Put32(o, static_cast<uint32_t>(lv.PlayerY));
  o.push_back(static_cast<uint8_t>(lv.PlayerDirection));
  Put32(o, static_cast<uint32_t>(lv.Smokers.size()));
  for (auto& s : lv.Smokers) {
    Put32(o, static_cast<uint32_t>(s.X));
    Put32(o, static_cast<uint32_t>(s.Y));
    o.push_back(static_cast<uint8_t>(s.Direction));
    Put32(o, static_cast<uint32_t>(s.Waypoints.size()));
    for (auto& [x, y] : s.Waypoints) Put32(o, static_cast<uint32_t>(x & 0xFFFF) | (static_cast<uint32_t>(y & 0xFFFF) << 16));
  }
  Put32(o, static_cast<uint32_t>(lv.GroupCells.size()));
  for (auto& g : lv.GroupCells) {
    Put32(o, static_cast<uint32_t>(g.X));
    Put32(o, static_cast<uint32_t>(g.Y));
    g.Switched.WriteB(o);
    Put32(o, static_cast<uint32_t>(g.Group));
  }
  Put32(o, static_cast<uint32_t>(lv.ShadowAlpha));
  magic();
  return o;
}

}  // namespace levelc
