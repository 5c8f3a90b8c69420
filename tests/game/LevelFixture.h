#pragma once
// Writes the plain level layout byte by byte, independently of the loader, so tests can build
// small levels and damage them on purpose.
#include <array>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

struct FixtureLevel {
  using Cell = std::array<uint8_t, 37>;
  struct Enemy {
    int32_t X, Y;
    uint8_t Dir;
    std::vector<uint32_t> Waypoints;
  };
  struct GroupCell {
    int32_t X, Y;
    std::array<uint8_t, 20> Bytes;
    int32_t Group;
  };

  std::string Header = "zrc2l", Footer = "zrc2l";
  int32_t Reserved = 7;
  std::string Name = "Fixture";
  int NameLengthByte = -1;  // >= 0: written in place of the name's length
  int32_t TimeLimit = 90;
  int32_t W, H;
  std::vector<Cell> Cells;  // y * W + x
  std::vector<std::array<uint8_t, 64>> Decor;
  int32_t DecorCount = INT32_MIN;  // else written in place of the real count
  int32_t PX = 0, PY = 0;
  uint8_t PDir = 0;
  std::vector<Enemy> Enemies;
  std::vector<GroupCell> Groups;
  int32_t ShadowAlpha = 128;

  FixtureLevel(int32_t w, int32_t h) : W(w), H(h), Cells(static_cast<size_t>(w * h), Cell{}) {}
  Cell& At(int x, int y) { return Cells[static_cast<size_t>(y * W + x)]; }
  // Byte 33 action, 34 flags, 35 image set, 36 parameter.
  void Set(int x, int y, uint8_t action, uint8_t param = 0, uint8_t flags = 0) {
    At(x, y)[33] = action;
    At(x, y)[36] = param;
    At(x, y)[34] = flags;
  }

  static void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  }

  std::string Bytes() const {
    std::string s = Header;
    Put32(s, static_cast<uint32_t>(Reserved));
    std::string name(26, '\0');
    name[0] = static_cast<char>(NameLengthByte >= 0 ? NameLengthByte : static_cast<int>(Name.size()));
    name.replace(1, Name.size(), Name);
    s += name.substr(0, 26);
    Put32(s, static_cast<uint32_t>(TimeLimit));
    Put32(s, static_cast<uint32_t>(W));
    Put32(s, static_cast<uint32_t>(H));
    for (const Cell& c : Cells) s.append(reinterpret_cast<const char*>(c.data()), 17);
    for (const Cell& c : Cells) s.append(reinterpret_cast<const char*>(c.data()) + 17, 20);
    Put32(s, static_cast<uint32_t>(DecorCount != INT32_MIN ? DecorCount : static_cast<int32_t>(Decor.size())));
    for (auto& d : Decor) s.append(reinterpret_cast<const char*>(d.data()), 64);
    Put32(s, static_cast<uint32_t>(PX));
    Put32(s, static_cast<uint32_t>(PY));
    s += static_cast<char>(PDir);
    Put32(s, static_cast<uint32_t>(Enemies.size()));
    for (const Enemy& e : Enemies) {
      Put32(s, static_cast<uint32_t>(e.X));
      Put32(s, static_cast<uint32_t>(e.Y));
      s += static_cast<char>(e.Dir);
      Put32(s, static_cast<uint32_t>(e.Waypoints.size()));
      for (uint32_t w : e.Waypoints) Put32(s, w);
    }
    Put32(s, static_cast<uint32_t>(Groups.size()));
    for (const GroupCell& g : Groups) {
      Put32(s, static_cast<uint32_t>(g.X));
      Put32(s, static_cast<uint32_t>(g.Y));
      s.append(reinterpret_cast<const char*>(g.Bytes.data()), 20);
      Put32(s, static_cast<uint32_t>(g.Group));
    }
    Put32(s, static_cast<uint32_t>(ShadowAlpha));
    s += Footer;
    return s;
  }
};
