// Contact sheets for people to look at: every texture over a checkerboard with each rectangle
// the game cuts from it outlined and labelled, the smoker frames in their four facings with the
// eye and hand anchors marked, and a map of every level drawn from its tiles.
// Written to <build>/content-sheets/.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "ContentSupport.h"
#include "LevelCompiler.h"

using namespace content;

namespace {

struct Canvas {
  int W, H;
  std::vector<uint8_t> Px;
  Canvas(int w, int h, uint8_t grey = 40) : W(w), H(h), Px(static_cast<size_t>(w) * h * 3, grey) {}
  void Set(int x, int y, uint32_t rgb) {
    if (x < 0 || y < 0 || x >= W || y >= H) return;
    uint8_t* p = &Px[(static_cast<size_t>(y) * W + x) * 3];
    p[0] = rgb >> 16;
    p[1] = rgb >> 8;
    p[2] = rgb;
  }
  // premultiplied blend of (colour, alpha) over the canvas, optionally tinted
  void Blend(int x, int y, const uint8_t* c, int a, uint32_t tint = 0xFFFFFF) {
    if (x < 0 || y < 0 || x >= W || y >= H) return;
    uint8_t* p = &Px[(static_cast<size_t>(y) * W + x) * 3];
    for (int k = 0; k < 3; ++k) {
      int t = (tint >> (16 - 8 * k)) & 255;
      int v = c[k] * t / 255 + p[k] * (255 - a) / 255;
      p[k] = static_cast<uint8_t>(std::min(v, 255));
    }
  }
  void Rect(int l, int t, int r, int b, uint32_t rgb) {
    for (int x = l; x < r; ++x) Set(x, t, rgb), Set(x, b - 1, rgb);
    for (int y = t; y < b; ++y) Set(l, y, rgb), Set(r - 1, y, rgb);
  }
};

// a 3 x 5 pixel font for the labels
const std::map<char, const char*> kFont = {
    {'0', "111101101101111"}, {'1', "010110010010111"}, {'2', "111001111100111"}, {'3', "111001111001111"},
    {'4', "101101111001001"}, {'5', "111100111001111"}, {'6', "111100111101111"}, {'7', "111001001001001"},
    {'8', "111101111101111"}, {'9', "111101111001111"}, {'.', "000000000000010"}, {'c', "000111100100111"},
    {'d', "001001111101111"}, {'e', "111101111100111"}, {'f', "011100110100100"}, {'g', "111101111001111"},
    {'i', "010000010010010"}, {'r', "000110101100100"}, {'s', "011100010001110"}, {'t', "010111010010011"},
    {'w', "000101101111101"}, {'p', "000111101111100"}, {'a', "000011101101011"}, {'l', "010010010010011"},
    {'o', "000111101101111"}, {'k', "100101110101101"}, {'y', "101101111001111"}, {'h', "100100111101101"},
    {'n', "000110101101101"}, {'m', "000111111101101"}, {'u', "000101101101111"}, {'b', "100100111101111"},
    {'x', "000101010101101"}, {'v', "000101101101010"}, {'q', "111101111001001"}, {'j', "001000001101111"},
    {'z', "000111011110111"}, {'_', "000000000000111"}, {' ', "000000000000000"}};

void Text(Canvas& c, int x, int y, const std::string& s, uint32_t rgb, int scale = 1) {
  for (char ch : s) {
    auto it = kFont.find(static_cast<char>(std::tolower(static_cast<unsigned char>(ch))));
    if (it != kFont.end())
      for (int r = 0; r < 5; ++r)
        for (int q = 0; q < 3; ++q)
          if (it->second[r * 3 + q] == '1')
            for (int a = 0; a < scale; ++a)
              for (int b = 0; b < scale; ++b) c.Set(x + q * scale + a, y + r * scale + b, rgb);
    x += 4 * scale;
  }
}

struct Texture {
  Png Colour, Mask;
  bool Emissive = false, NoMask = false;
  void Texel(int x, int y, uint8_t* c, int& a) const {
    for (int k = 0; k < 3; ++k) c[k] = Colour.R(x, y, k);
    a = NoMask ? 255 : Emissive ? 0 : Mask.G(x, y);
  }
};

Texture LoadTexture(int record) {
  const auto& t = kTextures[record];
  Texture tex;
  tex.Colour = ReadPng(Resource("GFX", t.Image));
  if (!t.Mask) {
    tex.NoMask = true;
  } else if (std::string(t.Mask) == "black.png") {
    tex.Emissive = true;
  } else {
    tex.Mask = ReadPng(Resource("GFX", t.Mask));
  }
  return tex;
}

std::string SheetDir() {
  std::string d = std::string(KT_BINARY_DIR) + "/content-sheets";
  std::filesystem::create_directories(d);
  return d;
}

}  // namespace

TEST(ContactSheets, TexturesWithTheirRectangles) {
  auto cuts = AllCuts();
  std::string dir = SheetDir();
  const int S = 3;
  for (int rec = 0; rec < 37; ++rec) {
    Texture tex = LoadTexture(rec);
    int n = kTextures[rec].Size;
    Canvas c(n * S, n * S + 14);
    for (int y = 0; y < n * S; ++y)
      for (int x = 0; x < n * S; ++x) {
        bool chk = ((x / 12) + (y / 12)) % 2;
        uint32_t bg = tex.Emissive ? 0x101010 : (chk ? 0x5A7A6A : 0x4A665A);
        c.Set(x, y, bg);
        uint8_t col[3];
        int a;
        tex.Texel(x / S, y / S, col, a);
        c.Blend(x, y, col, a);
      }
    uint32_t colours[] = {0xFF4040, 0xFFE040, 0x40C0FF, 0xFF60FF, 0x60FF60};
    int i = 0;
    for (const auto& cut : cuts) {
      if (cut.Texture != rec) continue;
      uint32_t col = colours[i++ % 5];
      c.Rect(cut.L * S, cut.T * S, cut.R * S, cut.B * S, col);
      Text(c, cut.L * S + 2, cut.T * S + 2, cut.Label, col);
    }
    Text(c, 2, n * S + 3, std::to_string(rec) + " " + kTextures[rec].Image, 0xFFFFFF, 2);
    std::string name = dir + "/texture" + (rec < 10 ? "0" : "") + std::to_string(rec) + ".png";
    WritePngRgb(name, c.W, c.H, c.Px);
    EXPECT_TRUE(std::filesystem::exists(name));
  }
}

// A puff is an animation: the arm brings the cigarette up, the chest fills and the smoke comes,
// so every frame moves on from the one before and the last is far from the first.
TEST(ContactSheets, PuffFramesAnimate) {
  for (int f = 0; f < 4; ++f) {
    SCOPED_TRACE("facing " + std::to_string(f));
    const Texture tex = LoadTexture(24 + f);
    auto changed = [&](int j, int k) {
      int n = 0;
      for (int y = 0; y < 76; ++y)
        for (int x = 0; x < 76; ++x)
          n += std::abs(tex.Mask.G((j % 3) * 77 + x, (j / 3) * 77 + y) - tex.Mask.G((k % 3) * 77 + x, (k / 3) * 77 + y)) > 64;
      return 100.0 * n / (76 * 76);
    };
    for (int j = 0; j < 8; ++j) EXPECT_GE(changed(j, j + 1), 1.0) << "frames " << j << " and " << j + 1;
    EXPECT_GE(changed(0, 8), 10.0);
  }
}

TEST(ContactSheets, SmokerFramesInFourFacings) {
  // eyes drawn where the game puts them (head offsets per facing, nodding with the frame), and
  // the hand that holds the cigarette
  const int base[4][2] = {{22, -10}, {-2, -25}, {-21, 1}, {9, 19}};
  const int hxy[4][2] = {{2, -3}, {2, -3}, {2, -4}, {3, -3}};
  const int nod[9] = {0, 1, 1, 2, 2, 3, 3, 4, 5};
  const int hand[4][2] = {{31, 0}, {2, -32}, {-28, -2}, {0, 29}};
  const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, -1, 0, 1};
  const int S = 3, cell = 80;
  Canvas c(9 * cell * S, 4 * cell * S + 5 * cell * S / 4);
  for (int y = 0; y < c.H; ++y)
    for (int x = 0; x < c.W; ++x) c.Set(x, y, ((x / 12 + y / 12) % 2) ? 0x8A8F96 : 0x7A7F86);
  for (int f = 0; f < 4; ++f) {
    Texture tex = LoadTexture(24 + f);
    Texture eye = LoadTexture(25);
    for (int j = 0; j < 9; ++j) {
      int fx = (j % 3) * 77, fy = (j / 3) * 77;
      int ox = j * cell * S, oy = f * cell * S;
      for (int y = 0; y < 76 * S; ++y)
        for (int x = 0; x < 76 * S; ++x) {
          uint8_t col[3];
          int a;
          tex.Texel(fx + x / S, fy + y / S, col, a);
          c.Blend(ox + x + 2 * S, oy + y + 2 * S, col, a);
        }
      int cx = ox + (2 + 38) * S, cy = oy + (2 + 38) * S;
      double a = -nod[j], b = hxy[f][1];
      double hx = a * dx[f] - b * dy[f] + base[f][0], hy = a * dy[f] + b * dx[f] + base[f][1];
      for (int e = 0; e < 2; ++e) {
        int d = (f + 3) % 4;
        double ex = hx + e * 12 * dx[d], ey = hy + e * 12 * dy[d];
        for (int y = 0; y < 5 * S; ++y)
          for (int x = 0; x < 5 * S; ++x) {
            uint8_t col[3];
            int al;
            eye.Texel(231 + x / S, y / S, col, al);
            c.Blend(cx + static_cast<int>((ex - 2.5) * S) + x, cy + static_cast<int>((ey - 2.5) * S) + y, col, al);
          }
      }
      for (int k = -2; k <= 2; ++k) {
        c.Set(cx + hand[f][0] * S + k, cy + hand[f][1] * S, 0xFF3030);
        c.Set(cx + hand[f][0] * S, cy + hand[f][1] * S + k, 0xFF3030);
      }
      Text(c, ox + 4, oy + 4, std::to_string(f) + "." + std::to_string(j), 0xFFFFFF, 2);
    }
  }
  // the non-smokers and the player below
  Texture ns = LoadTexture(36), pl = LoadTexture(4);
  int oy = 4 * cell * S + 10;
  int ox = 10;
  for (int s : {9, 10, 11, 12, 1, 2, 3, 4}) {
    const auto& r = kSprites[s];
    const Texture& t = s >= 9 ? ns : pl;
    for (int y = 0; y < (r.B - r.T) * 2; ++y)
      for (int x = 0; x < (r.R - r.L) * 2; ++x) {
        uint8_t col[3];
        int a;
        t.Texel(r.L + x / 2, r.T + y / 2, col, a);
        c.Blend(ox + x, oy + y, col, a);
      }
    ox += (r.R - r.L) * 2 + 20;
  }
  std::string name = SheetDir() + "/smokers.png";
  WritePngRgb(name, c.W, c.H, c.Px);
  EXPECT_TRUE(std::filesystem::exists(name));
}

TEST(ContactSheets, LevelMaps) {
  auto decor = levelc::ReadDecorTable(Resource("GFX", "decorb.dat"));
  Texture floor = LoadTexture(17), w1 = LoadTexture(6), w2 = LoadTexture(7), s1 = LoadTexture(8),
          s2 = LoadTexture(9), misc1 = LoadTexture(2), misc2 = LoadTexture(3), exitT = LoadTexture(32),
          doors = LoadTexture(10);
  const int Z = 2;  // half size: one cell is 42 pixels
  auto blit = [&](Canvas& c, const Texture& t, int sx, int sy, int w, int h, int dx, int dy, uint32_t tint,
                  int alphaScale = 255) {
    for (int y = 0; y < h / Z; ++y)
      for (int x = 0; x < w / Z; ++x) {
        uint8_t col[3] = {0, 0, 0};
        int a = 0, sr = 0, sg = 0, sb = 0, sa = 0;
        for (int q = 0; q < Z * Z; ++q) {
          t.Texel(sx + x * Z + q % Z, sy + y * Z + q / Z, col, a);
          sr += col[0], sg += col[1], sb += col[2], sa += a;
        }
        col[0] = sr / 4, col[1] = sg / 4, col[2] = sb / 4;
        a = sa / 4 * alphaScale / 255;
        if (alphaScale != 255) col[0] = col[1] = col[2] = 0;
        c.Blend(dx + x, dy + y, col, a, tint);
      }
  };
  for (int n = 1; n <= 10; ++n) {
    std::string path = std::string(KT_SOURCE_DIR) + "/tools/levelc/levels/" + std::to_string(n) + ".txt";
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    levelc::Level lv = levelc::Compile(ss.str(), path, decor);
    const int cell = 84 / Z;
    Canvas c(lv.Width * cell, lv.Height * cell + 16, 0);
    for (int y = 0; y < lv.Height; ++y)
      for (int x = 0; x < lv.Width; ++x) {
        const auto& k = lv.At(x, y);
        int fx = (k.Floor % 3) * 85, fy = (k.Floor / 3) * 85;
        blit(c, floor, fx, fy, 84, 84, x * cell + 1, y * cell - 7, k.FloorColors[0] & 0xFFFFFF);
      }
    // shadows, then walls and cell objects row by row
    for (int y = 0; y < lv.Height; ++y)
      for (int x = 0; x < lv.Width; ++x) {
        const auto& k = lv.At(x, y);
        if (k.ActionCode != levelc::acWall) continue;
        int i = k.Param;
        blit(c, i < 9 ? s1 : s2, ((i / 3) % 3) * 85, (i % 3) * 85, 84, 84, x * cell + 14, y * cell, 0, lv.ShadowAlpha);
      }
    for (int y = 0; y < lv.Height; ++y)
      for (int x = 0; x < lv.Width; ++x) {
        const auto& k = lv.At(x, y);
        int px = x * cell, py = y * cell;
        switch (k.ActionCode) {
          case levelc::acWall: {
            int i = k.Param;
            blit(c, i < 9 ? w1 : w2, ((i / 3) % 3) * 85, (i % 3) * 85, 84, 84, px, py, k.ObjectColors[0] & 0xFFFFFF);
            break;
          }
          case levelc::acDoor:
            if (k.Flags & 1) blit(c, misc2, 0, 101, 202, 62, px - 37, py + 8, 0xEFEF20);
            else blit(c, misc2, 0, 101, 62, 62, px + 2, py, 0xEFEF20);
            break;
          case levelc::acKey: blit(c, misc2, 0, 0, 33, 32, px + 13, py + 13, 0xEFEF20); break;
          case levelc::acSwitch: blit(c, w2, 173, 88, 77, 78, px, py, 0xFFFFFF); break;
          case levelc::acFire: blit(c, misc2, 85, 164, 84, 84, px - 3, py + 2, 0xFFFFFF); break;
          case levelc::acEnergy: blit(c, misc2, 171, 165, 76, 76, px + 1, py + 2, 0xFFFFFF); break;
          case levelc::acHeart: blit(c, misc1, 0, 0, 58, 52, px + 7, py + 8, 0xFFFFFF); break;
          case levelc::acSuper: blit(c, misc2, 171, 0, 85, 85, px, py, 0xFFFFFF); break;
          case levelc::acDiamond: blit(c, LoadTexture(4), 72, 207, 52, 48, px + 8, py + 9, 0xFFFFFF); break;
          case levelc::acExit:
            blit(c, exitT, 0, 8, 173, 185, px, py - 17, 0xFFFFFF);
            blit(c, exitT, 173, 0, 72, 193, px + 86, py - 21, 0xFFFFFF);
            break;
          default: break;
        }
        if (k.Flags & 2)
          for (int q = 0; q < cell; ++q) c.Set(px, py + q, 0xFF3030), c.Set(px + 1, py + q, 0xFFA0A0);
        if (k.Flags & 4)
          for (int q = 0; q < cell; ++q) c.Set(px + q, py, 0xFF3030), c.Set(px + q, py + 1, 0xFFA0A0);
      }
    (void)doors;
    // decor, starts
    for (auto& d : lv.Decors) {
      std::vector<uint8_t> tab = Resource("GFX", "decorb.dat");
      size_t o = static_cast<size_t>(d.Image) * 17;
      auto i32 = [&](size_t p) { return int(tab[p] | (tab[p + 1] << 8) | (tab[p + 2] << 16) | (uint32_t(tab[p + 3]) << 24)); };
      int sheet = tab[o];
      Texture t = LoadTexture(10 + sheet);
      blit(c, t, i32(o + 1), i32(o + 5), i32(o + 9) - i32(o + 1), i32(o + 13) - i32(o + 5), d.X / Z, d.Y / Z,
           0xFFFFFF);
    }
    Texture pl = LoadTexture(4), sm = LoadTexture(24);
    const auto& pr = kSprites[1 + lv.PlayerDirection];
    blit(c, pl, pr.L, pr.T, pr.R - pr.L, pr.B - pr.T, lv.PlayerX * cell + 21 - (pr.R - pr.L) / 4,
         lv.PlayerY * cell + 21 - (pr.B - pr.T) / 4, 0xFFFFFF);
    for (auto& s : lv.Smokers) {
      Texture face = LoadTexture(24 + s.Direction);
      blit(c, face, 0, 0, 76, 76, s.X * cell + 2, s.Y * cell + 2, 0xFFFFFF);
      for (auto& [wx, wy] : s.Waypoints) c.Rect(wx * cell + 18, wy * cell + 18, wx * cell + 24, wy * cell + 24, 0xFFFF00);
    }
    (void)sm;
    Text(c, 4, lv.Height * cell + 4, std::to_string(n) + " " + lv.Name, 0xFFFFFF, 2);
    std::string name = SheetDir() + "/level" + (n < 10 ? "0" : "") + std::to_string(n) + ".png";
    WritePngRgb(name, c.W, c.H, c.Px);
    EXPECT_TRUE(std::filesystem::exists(name));
  }
}
