// The game's textures: every file its texture table names, in the size, format and chunk order
// the loader expects, with premultiplied colour, transparent margins round each cut-out and
// every rectangle of the sprite tables inside its texture.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "ContentSupport.h"

using namespace content;

namespace {

const Png& Load(const std::string& name) {
  static std::map<std::string, Png> cache;
  auto it = cache.find(name);
  if (it == cache.end()) {
    auto bytes = Resource("GFX", name);
    if (bytes.empty()) throw std::runtime_error("missing GFX resource " + name);
    it = cache.emplace(name, ReadPng(bytes)).first;
  }
  return it->second;
}

bool RealMask(const TextureRecord& t) {
  return t.Mask && std::string(t.Mask) != "black.png" && std::string(t.Image) != "black.png";
}

}  // namespace

TEST(Textures, FilesHaveSizeFormatAndChunkOrder) {
  std::set<int> colourTypes;
  for (const auto& t : kTextures) {
    for (const char* n : {t.Image, t.Mask}) {
      if (!n) continue;
      SCOPED_TRACE(n);
      const Png& p = Load(n);
      int size = std::string(n) == "black.png" ? 256 : t.Size;
      EXPECT_EQ(p.Width, size);
      EXPECT_EQ(p.Height, size);
      EXPECT_EQ(p.BitDepth, 8);
      EXPECT_EQ(p.Interlace, 0);
      EXPECT_EQ(p.Gamma, 45455u);
      ASSERT_GE(p.Chunks.size(), 4u);
      EXPECT_EQ(p.Chunks[0], "IHDR");
      EXPECT_EQ(p.Chunks[1], "gAMA");  // before the palette and the image data it applies to
      size_t i = 2;
      if (p.ColorType == 3) {
        EXPECT_EQ(p.Chunks[i++], "PLTE");
      }
      while (i + 1 < p.Chunks.size()) EXPECT_EQ(p.Chunks[i++], "IDAT");
      EXPECT_EQ(p.Chunks.back(), "IEND");
      colourTypes.insert(p.ColorType);
    }
    if (t.Mask && std::string(t.Mask) != "black.png") {
      SCOPED_TRACE(t.Mask);
      EXPECT_EQ(Load(t.Mask).ColorType, 0) << "masks are grey images";
    }
  }
  // grey masks, RGB sheets, a palette font, a grey + alpha and an RGBA file
  EXPECT_EQ(colourTypes, (std::set<int>{0, 2, 3, 4, 6}));
  const Png& black = Load("black.png");
  for (uint8_t g : black.Grey) ASSERT_EQ(g, 0) << "black.png must be black: it is the colour of every shadow";
}

TEST(Textures, ColourIsPremultipliedByTheMask) {
  for (const auto& t : kTextures) {
    if (!RealMask(t)) continue;
    SCOPED_TRACE(t.Image);
    const Png& c = Load(t.Image);
    const Png& m = Load(t.Mask);
    int bad = 0;
    for (int y = 0; y < c.Height; ++y)
      for (int x = 0; x < c.Width; ++x)
        for (int k = 0; k < 3; ++k)
          if (c.R(x, y, k) > m.G(x, y) && ++bad < 4) {
            ADD_FAILURE() << "colour above mask at " << x << "," << y << ": " << int(c.R(x, y, k)) << " > "
                          << int(m.G(x, y));
          }
    EXPECT_EQ(bad, 0);
  }
}

TEST(Textures, EveryCutLiesInsideItsTextureWithATransparentMargin) {
  auto cuts = AllCuts();
  std::map<int, std::vector<Cut>> byTexture;
  for (const auto& cut : cuts) {
    SCOPED_TRACE(cut.Label);
    const auto& t = kTextures[cut.Texture];
    EXPECT_GE(cut.L, 0);
    EXPECT_GE(cut.T, 0);
    EXPECT_LE(cut.R, t.Size);
    EXPECT_LE(cut.B, t.Size);
    EXPECT_LT(cut.L, cut.R);
    EXPECT_LT(cut.T, cut.B);
    byTexture[cut.Texture].push_back(cut);
    const char* maskName = t.Mask && std::string(t.Mask) != "black.png" ? t.Mask : nullptr;
    const Png& img = Load(maskName ? maskName : t.Image);
    auto value = [&](int x, int y) {
      return maskName ? img.G(x, y) : std::max({img.R(x, y, 0), img.R(x, y, 1), img.R(x, y, 2)});
    };
    int ink = 0;
    for (int y = cut.T; y < cut.B; ++y)
      for (int x = cut.L; x < cut.R; ++x) ink += value(x, y) > 0;
    if (cut.R - cut.L > 2) {
      EXPECT_GT(ink, 0) << "empty picture";
    }
    if (!cut.Margin || !maskName) continue;
    for (int x = cut.L; x < cut.R; ++x) {
      EXPECT_EQ(value(x, cut.T), 0) << "top margin at " << x;
      EXPECT_EQ(value(x, cut.B - 1), 0) << "bottom margin at " << x;
    }
    for (int y = cut.T; y < cut.B; ++y) {
      EXPECT_EQ(value(cut.L, y), 0) << "left margin at " << y;
      EXPECT_EQ(value(cut.R - 1, y), 0) << "right margin at " << y;
    }
  }
  // different pictures of one texture never share texels
  for (auto& [tex, list] : byTexture)
    for (size_t i = 0; i < list.size(); ++i)
      for (size_t j = i + 1; j < list.size(); ++j) {
        const Cut &a = list[i], &b = list[j];
        bool same = a.L == b.L && a.T == b.T && a.R == b.R && a.B == b.B;
        bool overlap = a.L < b.R && b.L < a.R && a.T < b.B && b.T < a.B;
        EXPECT_TRUE(same || !overlap) << "texture " << tex << ": " << a.Label << " overlaps " << b.Label;
      }
}

TEST(Textures, StretchedStripsLaserRowAndWhiteTexel) {
  const Png& c = Load("Misc1.png");
  const Png& m = Load("Misc1Mask.png");
  auto same = [&](int x1, int x2, int y) {
    return m.G(x1, y) == m.G(x2, y) && c.R(x1, y, 0) == c.R(x2, y, 0) && c.R(x1, y, 1) == c.R(x2, y, 1) &&
           c.R(x1, y, 2) == c.R(x2, y, 2);
  };
  // a strip stretched by the game samples its neighbours too: they repeat it
  struct Strip { int X, T, B; };
  for (Strip s : {Strip{207, 163, 173}, Strip{229, 204, 236}, Strip{239, 106, 128}, Strip{239, 129, 151}})
    for (int y = s.T; y < s.B; ++y) {
      EXPECT_TRUE(same(s.X, s.X - 1, y)) << "strip " << s.X << " row " << y;
      EXPECT_TRUE(same(s.X, s.X + 1, y)) << "strip " << s.X << " row " << y;
    }
  // the caps meet the strips without a seam
  for (int y = 204; y < 236; ++y) {
    EXPECT_TRUE(same(227, 229, y)) << y;
    EXPECT_TRUE(same(231, 229, y)) << y;
  }
  // the laser beam is row 163 from 216 to 232, bright in the middle, and nothing else is there
  EXPECT_GT(m.G(224, 163), 200);
  for (int x = 209; x < 256; ++x)
    if (x < 216 || x > 232) {
      EXPECT_EQ(m.G(x, 163), 0) << x;
    }
  EXPECT_EQ(m.G(216, 163), 0);  // the beam fades out to its edges
  EXPECT_GT(m.G(217, 163), 0);
  // sprite 48 is one opaque white texel (with white neighbours for filtering)
  for (int y = 21; y <= 23; ++y)
    for (int x = 253; x <= 255; ++x) {
      EXPECT_EQ(m.G(x, y), 255);
      for (int k = 0; k < 3; ++k) EXPECT_EQ(c.R(x, y, k), 255);
    }
}

TEST(Textures, DecorTableCutsItsSheets) {
  auto d = Resource("GFX", "decorb.dat");
  ASSERT_EQ(d.size(), 1632u);
  auto i32 = [&](size_t o) { return int32_t(d[o] | (d[o + 1] << 8) | (d[o + 2] << 16) | (uint32_t(d[o + 3]) << 24)); };
  int used = 0;
  for (int k = 0; k < 48; ++k)
    for (int block = 0; block < 2; ++block) {
      size_t o = block * 816 + k * 17;
      int off = d[o];
      if (off == 0) continue;
      SCOPED_TRACE("decor " + std::to_string(k) + " block " + std::to_string(block));
      if (block == 1) {
        EXPECT_NE(d[k * 17], 0) << "a shadow without its decor";
      }
      ASSERT_LE(off, block == 0 ? 7 : 6);
      int tex = block == 0 ? off + 10 : off + 17;
      int l = i32(o + 1), t = i32(o + 5), r = i32(o + 9), b = i32(o + 13);
      EXPECT_GE(l, 0);
      EXPECT_GE(t, 0);
      EXPECT_LE(r, 256);
      EXPECT_LE(b, 256);
      ASSERT_LT(l, r);
      ASSERT_LT(t, b);
      const Png& m = Load(kTextures[tex].Mask);
      int ink = 0;
      for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x) ink += m.G(x, y) > 0;
      EXPECT_GT(ink, 0);
      used += block == 0;
    }
  EXPECT_EQ(used, 48);
}
