// The game's texture and font set: loading on the fake device (textures, progress, the sprite
// tables against the content), the bounded lookups, the texts, colours, screens and fades, and
// one frame on the real backend written to build/test-frames/.
#include "game/GameGraphics.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/Bitmap.h"
#include "base/Resources.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/D3DTestSupport.h"
#include "engine/ImageLoader.h"
#include "game/KTGlobal.h"
#include "platform/D3D8GL.h"

namespace {

// Written down again from the tables the art was made for, so a slip in either shows.
struct TRow {
  int Texture, L, T, R, B, Layer;
  float Px, Py;
};
const TRow kExpectedSprites[53] = {
    {2, 0, 106, 225, 162, 4000001, 1, 1},     {4, 1, 1, 135, 74, 0, .5, .5},
    {4, 1, 78, 69, 212, 0, .5, .5},           {4, 72, 133, 201, 203, 0, .5, .5},
    {4, 138, 1, 211, 130, 0, .5, .5},         {5, 1, 1, 135, 74, 46000, .5, .5},
    {5, 1, 78, 69, 212, 46000, .5, .5},       {5, 72, 133, 201, 203, 46000, .5, .5},
    {5, 138, 1, 211, 130, 46000, .5, .5},     {36, 0, 1, 72, 64, 0, .5, .5},
    {36, 76, 76, 137, 149, 0, .5, .5},        {36, 0, 66, 74, 127, 0, .5, .5},
    {36, 74, 0, 138, 75, 0, .5, .5},          {2, 94, 174, 148, 244, 4000000, .5, .5},
    {2, 149, 174, 203, 244, 4000000, .5, .5}, {2, 0, 174, 46, 240, 4000000, .5, .5},
    {2, 47, 174, 93, 240, 4000000, .5, .5},   {2, 160, 163, 184, 173, 0, 0, .5},
    {2, 185, 163, 205, 173, 0, 0, .5},        {2, 207, 163, 208, 173, 0, 0, .5},
    {3, 203, 86, 256, 139, 0, .5, .5},        {3, 171, 0, 256, 85, 0, .5, .5},
    {30, 1, 1, 81, 81, 31200, .5, .5},        {7, 173, 88, 250, 166, 31300, 0, 0},
    {7, 173, 173, 250, 251, 31300, 0, 0},     {3, 0, 101, 202, 163, 0, 1, 0},
    {3, 0, 164, 84, 248, 31100, .5, .5},      {3, 85, 164, 169, 248, 31100, .5, .5},
    {2, 204, 174, 254, 203, 0, .5, .5},       {25, 231, 0, 236, 5, 0, .5, .5},
    {3, 171, 165, 247, 241, 31100, 0, 1},     {30, 82, 1, 240, 158, 3003500, 0, 1},
    {2, 237, 0, 256, 20, 3003700, .5, .5},    {2, 205, 204, 228, 236, 5000000, 0, 0},
    {2, 229, 204, 230, 236, 5000000, 0, 0},   {2, 231, 204, 254, 236, 5000000, 0, 0},
    {2, 226, 106, 238, 128, 5000001, 0, 0},   {2, 239, 106, 240, 128, 5000001, 0, 0},
    {2, 241, 106, 252, 128, 5000001, 0, 0},   {2, 226, 129, 238, 151, 5000001, 0, 0},
    {2, 239, 129, 240, 151, 5000001, 0, 0},   {2, 241, 129, 252, 151, 5000001, 0, 0},
    {32, 0, 8, 173, 193, 2000, 0, 0},         {32, 173, 0, 245, 193, 3000500, 0, 0},
    {32, 0, 194, 93, 204, 3000500, 0, 0},     {33, 0, 16, 140, 68, 45100, 0, 0},
    {33, 206, 7, 256, 193, 45100, 0, 0},      {33, 0, 130, 143, 190, 45100, 0, 0},
    {2, 254, 22, 255, 23, 0, 0, 0},           {34, 0, 0, 127, 256, 4000000, .5, .5},
    {34, 128, 0, 255, 256, 4000000, .5, .5},  {4, 72, 77, 120, 124, 3999999, .5, .5},
    {4, 72, 207, 124, 255, 3000500, .5, .5},
};

const float kShadowOffsets[48][2] = {
#include "game/DecorShadowOffsets.inc"
};

// Checks a sprite against (texture record, rectangle in a 256-pixel sheet, layer, pivot in pixels).
void ExpectCut(const TGameGraphics& g, const TzrD3DSprite* s, int record, int l, int t, int r, int b,
               int layer, float pivotX, float pivotY, const std::string& what) {
  ASSERT_NE(s, nullptr) << what;
  ASSERT_NE(s, g.BlankSprite()) << what;
  const float size = float(g.Textures[size_t(record)]->Width);
  EXPECT_EQ(s->TextureIndex, g.TextureIndex(record)) << what;
  EXPECT_FLOAT_EQ(s->U0, float(l) / size) << what;
  EXPECT_FLOAT_EQ(s->V0, float(t) / size) << what;
  EXPECT_FLOAT_EQ(s->U1, float(r) / size) << what;
  EXPECT_FLOAT_EQ(s->V1, float(b) / size) << what;
  EXPECT_FLOAT_EQ(s->Width, float(r - l)) << what;
  EXPECT_FLOAT_EQ(s->Height, float(b - t)) << what;
  EXPECT_EQ(s->Layer, layer) << what;
  EXPECT_NEAR(s->PivotX * s->Width, pivotX, 1e-3) << what;
  EXPECT_NEAR(s->PivotY * s->Height, pivotY, 1e-3) << what;
}

int32_t I32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

TBitmap Jpeg(const char* name) {
  std::unique_ptr<TStream> s = OpenGfxResource("GFX", name);
  TJPEGImage j;
  j.LoadFromStream(*s);
  return j.Bitmap();
}

class GameGraphicsFake : public D3DFakeTest {
protected:
  TGameGraphics& Load(D3DFORMAT format = D3DFMT_X8R8G8B8) {
    MakeDevice(format);
    G = std::make_unique<TGameGraphics>(Dev.get(), 5000, 1000);
    G->OnProgress = [this](TGameGraphics* sender, int percent) {
      EXPECT_EQ(sender, G.get());
      Progress.push_back(percent);
      // The loading screen can be drawn from the first report on.
      if (percent == 1) {
        G->DrawLoadingScreen(0.01f, 400);
        LoadingQuadsAtFirstReport = G->QuadRenderer->QuadCount;
        G->QuadRenderer->Reset();
      }
    };
    G->LoadAll();
    return *G;
  }
  void TearDown() override {
    G.reset();
    D3DFakeTest::TearDown();
  }
  // Corner 0 of queued quad i.
  const TzrQuadVertex& Corner(int quad, int corner = 0) const {
    return G->QuadRenderer->Quads[size_t(quad)].Vertices[corner];
  }
  int Quads() const { return G->QuadRenderer->QuadCount; }
  uint32_t BackBufferPixel(int x, int y) {
    TComPtr<IDirect3DSurface8> bb = Dev->GetBackBuffer();
    D3DLOCKED_RECT lr;
    EXPECT_EQ(bb->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t v;
    std::memcpy(&v, static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + 4 * x, 4);
    bb->UnlockRect();
    return v & 0xFFFFFF;
  }

  std::unique_ptr<TGameGraphics> G;
  std::vector<int> Progress;
  int LoadingQuadsAtFirstReport = -1;
};

TEST_F(GameGraphicsFake, LoadAllCreatesEveryTextureAndPictureAndReportsProgressInOrder) {
  TGameGraphics& g = Load();
  ASSERT_EQ(Dev->Textures.size(), 37u);
  for (int r = 0; r < 37; ++r) {
    ASSERT_NE(g.Textures[size_t(r)], nullptr) << r;
    EXPECT_EQ(g.TextureIndex(r), r) << r;
    EXPECT_EQ(g.GetTexture(r), g.Textures[size_t(r)].get());
    const int size = r == 35 ? 64 : 256;
    EXPECT_EQ(g.Textures[size_t(r)]->SurfaceWidth, size) << r;
    EXPECT_EQ(g.Textures[size_t(r)]->SurfaceHeight, size) << r;
  }
  // The first format of each list: sprites A8R8G8B8, shadows A8, the floor R5G6B5.
  for (int r : {0, 2, 6, 11, 24, 30, 35, 36}) EXPECT_EQ(g.Textures[size_t(r)]->Format, D3DFMT_A8R8G8B8) << r;
  for (int r : {5, 8, 9, 18, 23, 28, 29, 33}) EXPECT_EQ(g.Textures[size_t(r)]->Format, D3DFMT_A8) << r;
  EXPECT_EQ(g.Textures[17]->Format, D3DFMT_R5G6B5);
  for (const auto& image : g.Images) EXPECT_TRUE(image);
  EXPECT_EQ(g.PointRenderer->TextureIndex, 35);
  EXPECT_FALSE(g.PointRenderer->Additive);

  std::vector<int> want{1};
  for (int r = 3; r <= 36; ++r) want.push_back(r * 97 / 36 + 1);
  want.push_back(100);
  EXPECT_EQ(Progress, want);
  EXPECT_EQ(want[want.size() - 2], 98);
  EXPECT_EQ(LoadingQuadsAtFirstReport, 3);

  // Loading again replaces everything instead of piling up.
  const size_t sprites = g.QuadRenderer->Sprites.size();
  g.LoadAll();
  EXPECT_EQ(Dev->Textures.size(), 37u);
  EXPECT_EQ(g.QuadRenderer->Sprites.size(), sprites);
  G.reset();
  EXPECT_TRUE(Dev->Textures.empty());
  EXPECT_TRUE(Dev->Renderers.empty());
}

TEST_F(GameGraphicsFake, On16BitBackBufferPointsAddAndPicturesTakeItsFormat) {
  TGameGraphics& g = Load(D3DFMT_R5G6B5);
  EXPECT_TRUE(g.PointRenderer->Additive);
  D3DSURFACE_DESC desc;
  ASSERT_EQ(g.Images[TGameGraphics::imTitle]->GetDesc(&desc), D3D_OK);
  EXPECT_EQ(desc.Format, D3DFMT_R5G6B5);
  EXPECT_EQ(desc.Width, 800u);
  EXPECT_EQ(desc.Height, 600u);
}

TEST_F(GameGraphicsFake, SpriteTablesMatchTheContent) {
  TGameGraphics& g = Load();
  for (int n = 0; n < 53; ++n) {
    const TRow& r = kExpectedSprites[n];
    ExpectCut(g, g.GetSprite(n), r.Texture, r.L, r.T, r.R, r.B, r.Layer, r.Px * float(r.R - r.L),
              r.Py * float(r.B - r.T), "sprite " + std::to_string(n));
  }
  const int widths[67] = {34, 34, 33, 34, 32, 32, 34, 34, 18, 34, 33, 31, 35, 33, 35, 34, 35,
                          33, 34, 34, 34, 34, 35, 35, 34, 33, 21, 34, 34, 34, 34, 35, 34, 34,
                          35, 17, 19, 19, 20, 19, 20, 18, 17, 1,  1,  27, 1,  1,  1,  16, 20,
                          20, 21, 25, 19, 21, 33, 20, 21, 18, 35, 35, 35, 31, 18, 1,  1};
  for (int c = 0; c < 67; ++c) {
    const int x = (c % 7) * 36, y = ((c / 7) % 5) * 50;
    ExpectCut(g, g.Glyphs[size_t(c)], c < 35 ? 0 : 1, x, y, x + widths[c], y + 49, 5000000, 0, 0,
              "glyph " + std::to_string(c));
  }
  for (int f = 0; f < 4; ++f)
    for (int j = 0; j < 9; ++j)
      ExpectCut(g, g.GetSmokerFrame(f, j), 24 + f, j % 3 * 77, j / 3 * 77, j % 3 * 77 + 76, j / 3 * 77 + 76, 0,
                38, 38, "smoker " + std::to_string(f) + "." + std::to_string(j));
  for (int j = 0; j < 9; ++j)
    ExpectCut(g, g.GetSmokerShadow(j), 28, j % 3 * 73, j / 3 * 75, j % 3 * 73 + 72, j / 3 * 75 + 74, 45500, 35,
              36, "smoker shadow " + std::to_string(j));
  const int lengths[10] = {40, 38, 33, 29, 25, 21, 17, 12, 6, 2};
  for (int k = 0; k < 10; ++k) {
    ExpectCut(g, g.GetCigaretteShadow(k), 29, 0, 11 * k, lengths[k] + 25, 11 * k + 10, 0, 0, 5, "cig shadow");
    ExpectCut(g, g.GetCigaretteTip(k), 2, 16 * k, 163, 16 * k + 15, 173, 0, 0, 5, "cig tip");
  }
  for (int i = 0; i < 18; ++i) {
    const int x = i / 3 % 3 * 85, y = i % 3 * 85;
    if (i < 16) ExpectCut(g, g.GetWallFrame(0, i), 6 + i / 9, x, y, x + 84, y + 84, 0, 0, 0, "wall");
    ExpectCut(g, g.GetWallShadow(0, i), 8 + i / 9, x, y, x + 84, y + 84, i < 16 ? 45000 : 3000050, 0, 0,
              "wall shadow " + std::to_string(i));
    if (i < 8) ExpectCut(g, g.GetDoorFrame(0, i), 10, x, y, x + 84, y + 84, 0, 0, 0, "door");
  }
  for (int i = 0; i < 16; ++i)
    ExpectCut(g, g.GetFireFrame(i), 31, i % 4 * 64 + 2, i / 4 * 64, i % 4 * 64 + 63, i / 4 * 64 + 63, 3001000, 0,
              47, "fire " + std::to_string(i));
  struct Set {
    int Tex, W, H, Cols, Rows, Layer;
    float P;
  } sets[4] = {{4, 16, 22, 2, 6, 3500000, 0}, {17, 84, 84, 3, 3, 1000, 0}, {2, 58, 52, 4, 2, 0, .5}, {3, 33, 32, 5, 3, 0, .5}};
  const int firstX[4] = {213, 0, 0, 0};
  for (int s = 0; s < 4; ++s) {
    ASSERT_EQ(g.SpriteSets[size_t(s)].size(), size_t(sets[s].Cols * sets[s].Rows));
    for (int f = 0; f < sets[s].Cols * sets[s].Rows; ++f) {
      const int x = firstX[s] + (sets[s].W + 1) * (f % sets[s].Cols), y = (sets[s].H + 1) * (f / sets[s].Cols);
      ExpectCut(g, g.GetSetFrame(s, f), sets[s].Tex, x, y, x + sets[s].W, y + sets[s].H, sets[s].Layer,
                sets[s].P * float(sets[s].W), sets[s].P * float(sets[s].H), "set " + std::to_string(s));
    }
  }

  // Decor and its shadows, read from decorb.dat here on their own.
  TResourceData data;
  ASSERT_TRUE(FindResourceData("GFX", "decorb", data));
  ASSERT_EQ(data.Size, 1632u);
  int decor = 0, shadows = 0;
  for (int k = 0; k < 48; ++k) {
    const uint8_t* d = data.Data + 17 * k;
    const uint8_t* e = data.Data + 17 * (48 + k);
    if (d[0] == 0) {
      EXPECT_EQ(g.GetDecorSprite(k), g.BlankSprite());
      continue;
    }
    ++decor;
    ExpectCut(g, g.GetDecorSprite(k), d[0] + 10, I32(d + 1), I32(d + 5), I32(d + 9), I32(d + 13), 0x7F0000, 0,
              0, "decor " + std::to_string(k));
    if (e[0] == 0) {
      EXPECT_EQ(g.GetDecorShadow(k), g.BlankSprite()) << k;
      continue;
    }
    ++shadows;
    const int h = I32(e + 13) - I32(e + 5), decorH = I32(d + 13) - I32(d + 5);
    ExpectCut(g, g.GetDecorShadow(k), e[0] + 17, I32(e + 1), I32(e + 5), I32(e + 9), I32(e + 13), 0x7F0000,
              -std::trunc(kShadowOffsets[k][0]), float(h - decorH) - std::trunc(kShadowOffsets[k][1]),
              "decor shadow " + std::to_string(k));
  }
  EXPECT_EQ(decor, 48);
  EXPECT_GT(shadows, 20);
}

TEST_F(GameGraphicsFake, LookupsStayInsideTheirTables) {
  TGameGraphics& g = Load();
  TzrD3DSprite* blank = g.BlankSprite();
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(g.GetSprite(130), g.GetSprite(2));
  EXPECT_EQ(g.GetSmokerFrame(129, 4), g.GetSmokerFrame(1, 4));
  EXPECT_EQ(g.GetSetFrame(129, 0), g.GetSetFrame(1, 0));
  EXPECT_EQ(g.GetTexture(128), g.GetTexture(0));
  EXPECT_EQ(g.GetTexture(37), nullptr);
  EXPECT_EQ(g.GetTexture(-1), nullptr);  // wraps to 127
  // Indexes as a level file may hold them.
  const std::vector<TzrD3DSprite*> outside = {
      g.GetSprite(53),          g.GetSprite(127),         g.GetSetFrame(1, 9),     g.GetSetFrame(1, 255),
      g.GetSetFrame(1, -1),     g.GetSetFrame(4, 0),      g.GetSetFrame(255, 0),   g.GetDecorSprite(48),
      g.GetDecorSprite(255),    g.GetDecorSprite(-1),     g.GetDecorShadow(48),    g.GetDecorShadow(-7),
      g.GetWallFrame(1, 0),     g.GetWallFrame(0, 16),    g.GetWallFrame(-1, 17),  g.GetWallFrame(255, 255),
      g.GetWallShadow(0, 18),   g.GetWallShadow(1, 0),    g.GetDoorFrame(0, 8),    g.GetDoorFrame(1, 0),
      g.GetDoorFrame(0, -1),    g.GetFireFrame(16),       g.GetCigaretteTip(10),   g.GetCigaretteShadow(-1),
      g.GetSmokerShadow(9),     g.GetSmokerFrame(4, 0),   g.GetSmokerFrame(0, 9),
  };
  for (size_t i = 0; i < outside.size(); ++i) EXPECT_EQ(outside[i], blank) << i;
  // The blank draws nothing.
  G->QuadRenderer->Reset();
  const TzrVector2 scale{3, 3};
  blank->Draw(&scale, {100, 100}, 0, nullptr);
  blank->Draw(nullptr, {100, 100}, 1, nullptr, 5);
  EXPECT_EQ(Quads(), 0);
  // Freed textures take every sprite with them; lookups give nothing rather than stale sprites.
  g.FreeTextures();
  EXPECT_EQ(g.GetSprite(2), nullptr);
  EXPECT_EQ(g.GetDecorSprite(3), nullptr);
  EXPECT_TRUE(g.QuadRenderer->Sprites.empty());
}

TEST_F(GameGraphicsFake, ATextureThatCannotBeMadeIsLoggedAndPassedOn) {
  MakeDevice();
  G = std::make_unique<TGameGraphics>(Dev.get(), 5000, 1000);
  Fake.Failures["CreateTexture"] = D3DERR_OUTOFVIDEOMEMORY;
  EXPECT_THROW(G->LoadAll(), EDirect3DError);
  EXPECT_TRUE(GetLogText().find("Error loading texture files") != std::string::npos) << GetLogText();
  Fake.Failures.clear();
  EXPECT_NO_THROW(G->LoadAll());
}

TEST_F(GameGraphicsFake, APictureSurfaceThatCannotBeMadeNamesItsSizeAndFormat) {
  MakeDevice();
  G = std::make_unique<TGameGraphics>(Dev.get(), 5000, 1000);
  Fake.Failures["CreateImageSurface"] = D3DERR_OUTOFVIDEOMEMORY;
  EXPECT_THROW(G->LoadAll(), EDirect3DError);
  EXPECT_TRUE(GetLogText().find("Failed to create image surface 800;600;X8R8G8B8") != std::string::npos)
      << GetLogText();
}

TEST_F(GameGraphicsFake, TextWidthCountsGlyphsGapsAndMissingGlyphs) {
  struct Case {
    const char* Text;
    float Spacing, Scale;
    int Width;
  } cases[] = {
      {"A", 5, 1, 34},           // one letter: no gap
      {"AB", 2, 1, 70},          // 34 + 34 + one gap of 2
      {"A B", 0, 1, 98},         // the space counts 30
      {"HI", 1, 0.5f, 26},       // (34 + 18) * 0.5 + 1 * 0.5 = 26.5, truncated
      {"\xC4\xDF;<", 0, 1, 85},  // Ä 35, ß 31, ; 18, < 1
      {"", 4, 1, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TGameGraphics::TextWidth(c.Text, c.Spacing, c.Scale), c.Width) << c.Text;
}

TEST_F(GameGraphicsFake, CharacterMapFoldsCaseAndDrawsZeroAsO) {
  EXPECT_EQ(TGameGraphics::GetGlyphIndex('0'), TGameGraphics::GetGlyphIndex('O'));
  for (int c = 0; c < 26; ++c) {
    EXPECT_EQ(TGameGraphics::GetGlyphIndex(uint8_t('a' + c)), c);
    EXPECT_EQ(TGameGraphics::GetGlyphIndex(uint8_t('A' + c)), c);
  }
  const std::string order = "123456789+-*/=!,.@#$%^&:\"()_[]?{}~";
  for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(TGameGraphics::GetGlyphIndex(uint8_t(order[i])), int(26 + i)) << order[i];
  EXPECT_EQ(TGameGraphics::GetGlyphIndex(0xE4), 60);
  EXPECT_EQ(TGameGraphics::GetGlyphIndex(0xD6), 61);
  EXPECT_EQ(TGameGraphics::GetGlyphIndex(0xFC), 62);
  EXPECT_EQ(TGameGraphics::GetGlyphIndex(0xDF), 63);
  EXPECT_EQ(TGameGraphics::GetGlyphIndex(';'), 64);
  EXPECT_EQ(TGameGraphics::GetGlyphIndex('>'), 66);
  for (int c : {32, 39, 92, 96, 124, 0, 0x80, 0xFF, 0xE9}) EXPECT_EQ(TGameGraphics::GetGlyphIndex(uint8_t(c)), -1) << c;
}

TEST_F(GameGraphicsFake, DrawTextPlacesGlyphsAlignsAndClipsAtBothEdges) {
  TGameGraphics& g = Load();
  G->QuadRenderer->Reset();
  const uint32_t colours[4] = {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0};
  // "A B" at scale 1, spacing 2: A at 100, the space moves by 32, B at 100 + 36 + 32.
  g.DrawText("A B", {100, 200}, 0, colours, 1, 2);
  ASSERT_EQ(Quads(), 2);
  EXPECT_FLOAT_EQ(Corner(0).x, 99.5f);  // half a pixel up and left onto pixel centres
  EXPECT_FLOAT_EQ(Corner(0).y, 175.5f);
  EXPECT_FLOAT_EQ(Corner(1).x, 167.5f);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(Corner(0, c).color, colours[c]);
  EXPECT_FLOAT_EQ(Corner(0, 2).x - Corner(0).x, 34);
  EXPECT_FLOAT_EQ(Corner(0, 2).y - Corner(0).y, 49);
  EXPECT_EQ(G->QuadRenderer->BucketIndex.GetKey(0), 5000000 << 8 | 0);

  struct Case {
    int Align;
    float Scale, FirstX;
  } cases[] = {{1, 1, 400 - 68}, {2, 1, 400 - 34}, {2, 0.5f, 400 - 17}, {0, 2, 400}};
  for (const Case& c : cases) {
    G->QuadRenderer->Reset();
    g.DrawText("AB", {400, 300}, c.Align, nullptr, c.Scale, 0);
    ASSERT_EQ(Quads(), 2);
    EXPECT_FLOAT_EQ(Corner(0).x, c.FirstX - 0.5f) << c.Align << " " << c.Scale;
    EXPECT_FLOAT_EQ(Corner(0).y, 300 - 24 * c.Scale - 0.5f);
    EXPECT_FLOAT_EQ(Corner(1).x, c.FirstX + 34 * c.Scale - 0.5f);
    EXPECT_EQ(Corner(0).color, 0xFFFFFFFFu);
  }

  // W is 35 wide: the 23rd brings x to 805 and is the last drawn.
  G->QuadRenderer->Reset();
  g.DrawText(std::string(30, 'W'), {0, 300}, 0, nullptr, 1, 0);
  EXPECT_EQ(Quads(), 23);
  EXPECT_FLOAT_EQ(Corner(22).x, 770 - 0.5f);
  // Spaces past the edge stop the text too.
  G->QuadRenderer->Reset();
  g.DrawText(std::string(30, ' ') + "W", {0, 300}, 0, nullptr, 1, 0);
  EXPECT_EQ(Quads(), 0);
  // Glyphs that end left of the screen are skipped.
  G->QuadRenderer->Reset();
  g.DrawText("WWWWW", {-100, 300}, 0, nullptr, 1, 0);
  ASSERT_EQ(Quads(), 3);
  EXPECT_FLOAT_EQ(Corner(0).x, -30 - 0.5f);
}

TEST_F(GameGraphicsFake, TextEffectsMoveAndZoomTheLetters) {
  TGameGraphics& g = Load();
  auto firstXs = [&]() {
    std::vector<float> xs;
    for (int i = 0; i < Quads(); ++i) xs.push_back(Corner(i).x);
    return xs;
  };
  // K 33, E 32, S 34, T 34 wide.
  G->QuadRenderer->Reset();
  g.DrawText("KEST", {100, 300}, 0, nullptr, 0.9f, 5);
  const std::vector<float> plain = firstXs();
  ASSERT_EQ(plain.size(), 4u);

  // Zoom: settled letters stand where DrawText puts them; letters not yet due are missing; a
  // letter that just started is ten times its size.
  G->QuadRenderer->Reset();
  g.DrawTextZoom("KEST", {100, 300}, 0, nullptr, 100, 0.25f, 0.9f, 5);
  std::vector<float> zoomed = firstXs();
  ASSERT_EQ(zoomed.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(zoomed[i], plain[i], 1e-3) << i;
  G->QuadRenderer->Reset();
  g.DrawTextZoom("KEST", {100, 300}, 2, nullptr, 100, 0.25f, 1, 0);
  ASSERT_EQ(Quads(), 4);
  EXPECT_NEAR(Corner(0).x, 100 - 66.5f - 0.5f, 1e-3);  // centred on the width at scale 1
  G->QuadRenderer->Reset();
  g.DrawTextZoom("KEST", {100, 300}, 0, nullptr, 0.25f, 0.25f, 1, 0);
  ASSERT_EQ(Quads(), 2);
  EXPECT_NEAR(Corner(1, 2).x - Corner(1).x, 320, 1e-3);
  EXPECT_NEAR(Corner(1).x, 100 + 33 * 10 - 0.5f, 1e-3);
  EXPECT_NEAR(Corner(0, 2).x - Corner(0).x, 330 / std::pow(1.0026, 250), 1e-2);
  // In the bounce the size runs from 0.75 up to the full size.
  G->QuadRenderer->Reset();
  g.DrawTextZoom("K", {400, 300}, 0, nullptr, 0.9f, 0, 0.8f, 0);
  ASSERT_EQ(Quads(), 1);
  EXPECT_NEAR(Corner(0, 2).x - Corner(0).x, 33 * 0.8f * 0.875f, 1e-3);

  // Slide, centred: the text is 133 wide at scale 0.9 and spacing 5, so it starts at 333.5 + shift;
  // it swings in from the left, rests, then leaves to the right.
  struct Slide {
    float Time, FirstX;  // -1: nothing on screen
  } slides[] = {{-3, -1}, {-1, -1}, {-0.5f, float(333.5 - std::cos(0.5 * 7.853981633974483) * 800 * 0.0625)},
                {0, 333.5f}, {0.5f, 733.5f}, {1, -1}, {7, -1}};
  for (const Slide& s : slides) {
    G->QuadRenderer->Reset();
    g.DrawTextSlide("KEST", {400, 300}, 2, nullptr, s.Time, 800, 0.9f, 5);
    const std::vector<float> xs = firstXs();
    if (s.FirstX < 0) {
      EXPECT_TRUE(xs.empty()) << s.Time;
    } else {
      ASSERT_FALSE(xs.empty()) << s.Time;
      EXPECT_NEAR(xs[0], s.FirstX - 0.5f, 1e-2) << s.Time;
    }
  }

  // Drop: letters follow one another by their truncated widths plus the spacing; before the
  // first start nothing moves, from 1.0 on everything has fallen the whole distance, and in
  // between letter i of n starts at i * 0.3 / n.
  const float xs[4] = {333.5f, 333.5f + 29 + 4.5f, 333.5f + 29 + 4.5f + 28 + 4.5f, 333.5f + 29 + 4.5f + 28 + 4.5f + 30 + 4.5f};
  const float y = 300 - 24 * 0.9f - 0.5f;
  struct Drop {
    float Time;
    float Dy[4];
  } drops[] = {{0, {0, 0, 0, 0}},
               {1, {-170, -170, -170, -170}},
               {0.5f, {(0.5f - 0.075f) / 0.7f * -170, (0.5f - 0.15f) / 0.7f * -170,
                       (0.5f - 0.225f) / 0.7f * -170, (0.5f - 0.3f) / 0.7f * -170}},
               {0.1f, {(0.1f - 0.075f) / 0.7f * -170, 0, 0, 0}}};
  for (const Drop& d : drops) {
    G->QuadRenderer->Reset();
    g.DrawTextDrop("KEST", {400, 300}, 2, nullptr, d.Time, -170, 0.9f, 5);
    ASSERT_EQ(Quads(), 4);
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(Corner(i).x, xs[i] - 0.5f, 1e-3) << d.Time << " " << i;
      EXPECT_NEAR(Corner(i).y, y + d.Dy[i], 1e-2) << d.Time << " " << i;
    }
  }
}

TEST_F(GameGraphicsFake, ColourFillsScaleTheirBytes) {
  uint32_t out[4];
  struct Case {
    bool Faded;
    bool HasColour;
    uint32_t Colour;
    float Factor;
    uint32_t Want;
  } cases[] = {
      {false, true, 0x80FF4020, 0.5f, 0x407F2010},   // all four bytes, alpha too
      {false, true, 0x80FF4020, 1, 0x80FF4020},
      {false, true, 0x80FF4020, 3, 0x80FF4020},
      {false, true, 0x80FF4020, -2, 0},              // no wrap-around below zero
      {true, true, 0x80FF4020, 0.5f, 0x807F2010},    // alpha kept
      {true, true, 0x80FF4020, 1, 0x80FF4020},
      {true, true, 0x80FF4020, 2, 0x80FF4020},       // no carry into the next byte
      {true, false, 0, 0.5f, 0x7F7F7F7F},            // grey 127 in every byte
      {true, false, 0, 1, 0xFFFFFFFF},
      {true, false, 0, -1, 0},
      {true, false, 0, 5, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    std::memset(out, 0xAB, sizeof out);
    if (c.Faded) TGameGraphics::FadeColors(c.HasColour ? &c.Colour : nullptr, out, c.Factor);
    else TGameGraphics::ScaledColors(c.Colour, out, c.Factor);
    for (uint32_t v : out) EXPECT_EQ(v, c.Want) << std::hex << c.Colour << " " << c.Factor;
  }
}

TEST_F(GameGraphicsFake, OverlayAndLoadingScreen) {
  TGameGraphics& g = Load();
  G->QuadRenderer->Reset();
  g.DrawOverlay(1);
  g.DrawOverlay(2);
  EXPECT_EQ(Quads(), 0);
  g.DrawOverlay(0.25f);
  ASSERT_EQ(Quads(), 1);
  EXPECT_EQ(Corner(0).color, 0xC0000000u);  // alpha 255 - 63, black
  EXPECT_FLOAT_EQ(Corner(0).x, -0.5f);
  EXPECT_FLOAT_EQ(Corner(0).y, -0.5f);
  EXPECT_FLOAT_EQ(Corner(0, 2).x, 799.5f);
  EXPECT_FLOAT_EQ(Corner(0, 2).y, 599.5f);
  EXPECT_EQ(G->QuadRenderer->BucketIndex.GetKey(0), 0 << 8 | 2);  // layer 0, Misc1
  G->QuadRenderer->Reset();
  g.DrawOverlay(-1);
  EXPECT_EQ(Corner(0).color, 0xFF000000u);

  // Loading screen at half way: the picture, then filter, paper and glowing tip.
  G->QuadRenderer->Reset();
  Fake.ClearRecords();
  g.DrawLoadingScreen(0.5f, 400);
  EXPECT_EQ(Fake.CountCalls("CopyRects"), 1);
  ASSERT_EQ(Quads(), 3);
  struct Quad {
    float X, W, U0, U1;
  } quads[] = {{289, 48, 0.625f, 0.71875f}, {336, 75, 0.80859375f, 0.8125f}, {409, 30, 0.25f, 0.30859375f}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_FLOAT_EQ(Corner(i).x, quads[i].X) << i;
    EXPECT_FLOAT_EQ(Corner(i).y, 400) << i;
    EXPECT_FLOAT_EQ(Corner(i, 2).x, quads[i].X + quads[i].W) << i;
    EXPECT_FLOAT_EQ(Corner(i, 2).y, 420) << i;
    EXPECT_FLOAT_EQ(Corner(i).u, quads[i].U0) << i;
    EXPECT_FLOAT_EQ(Corner(i, 2).u, quads[i].U1) << i;
    EXPECT_FLOAT_EQ(Corner(i).v, 0.63671875f) << i;
    EXPECT_FLOAT_EQ(Corner(i, 2).v, 0.67578125f) << i;
  }
  EXPECT_EQ(G->QuadRenderer->BucketIndex.GetKey(0), 0x7F0000 << 8 | 2);
  // Burnt down: the tip sits on the filter's end with the last tip frame.
  G->QuadRenderer->Reset();
  g.DrawLoadingScreen(1, 400);
  EXPECT_FLOAT_EQ(Corner(2).x, 334);
  EXPECT_FLOAT_EQ(Corner(2).u, 9 * 16 / 256.0f);
}

TEST_F(GameGraphicsFake, PicturesAreCopiedWholeOrByRectangle) {
  TGameGraphics& g = Load();
  const TBitmap title = Jpeg("title.jpg"), credits = Jpeg("credits.jpg"), jump = Jpeg("leveljump.jpg"),
                end = Jpeg("leveljumpend.jpg"), loading = Jpeg("loading.jpg");
  g.DrawTitleImage(nullptr);
  EXPECT_EQ(BackBufferPixel(10, 50), title.PixelRGB(10, 50));
  EXPECT_EQ(BackBufferPixel(790, 590), title.PixelRGB(790, 590));
  const RECT strip{0, 100, 800, 120};
  g.DrawCreditsImage(&strip);
  EXPECT_EQ(BackBufferPixel(10, 110), credits.PixelRGB(10, 110));
  EXPECT_EQ(BackBufferPixel(10, 50), title.PixelRGB(10, 50));
  EXPECT_EQ(BackBufferPixel(10, 120), title.PixelRGB(10, 120));
  g.DrawLevelJumpImage(false);
  EXPECT_EQ(BackBufferPixel(400, 300), jump.PixelRGB(400, 300));
  g.DrawLevelJumpImage(true);
  EXPECT_EQ(BackBufferPixel(400, 300), end.PixelRGB(400, 300));
  g.DrawLoadingScreen(0, 0);
  EXPECT_EQ(BackBufferPixel(123, 456), loading.PixelRGB(123, 456));
  // A failed copy is a Direct3D error.
  const RECT outside{700, 0, 900, 10};
  EXPECT_THROW(g.DrawCreditsImage(&outside), EDirect3DError);
}

}  // namespace

// ---- the real backend --------------------------------------------------------------------------

namespace {

class GameGraphicsGL : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    SetLogFile(TestDir() + "qv.log");
    Window = D3DCreateDeviceWindow("Kestrune test", 800, 600, SDL_WINDOW_HIDDEN);
    ASSERT_NE(Window, nullptr) << SDL_GetError();
    D3D = std::make_unique<TzrD3D8>();
    D3D->EnumAdapters();
  }
  void TearDown() override {
    G.reset();
    Dev.reset();
    D3D.reset();
    if (Window) {
      D3DWindowClosed(Window);
      SDL_DestroyWindow(Window);
    }
    SetLogFile("");
  }
  std::vector<uint32_t> ReadBack() {
    TComPtr<IDirect3DSurface8> bb = Dev->GetBackBuffer();
    D3DSURFACE_DESC desc;
    bb->GetDesc(&desc);
    D3DLOCKED_RECT lr;
    EXPECT_EQ(bb->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<uint32_t> px(size_t(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y)
      std::memcpy(&px[size_t(y) * desc.Width], static_cast<const uint8_t*>(lr.pBits) + y * lr.Pitch, desc.Width * 4);
    bb->UnlockRect();
    for (uint32_t& v : px) v &= 0xFFFFFF;
    return px;
  }
  void SaveFrame(const std::vector<uint32_t>& px, const std::string& name) {
    const std::string dir = std::string(KT_BINARY_DIR) + "/test-frames/";
    ForceDirectories(dir);
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(800, 600);
    for (int y = 0; y < 600; ++y)
      for (int x = 0; x < 800; ++x) b.SetPixelRGB(x, y, px[size_t(y) * 800 + x]);
    b.SaveToFile(dir + name);
  }
  static std::unique_ptr<TBitmap> Png(const char* name) {
    std::unique_ptr<TStream> s = OpenGfxResource("GFX", name);
    return LoadPNGFromStream(s.get());
  }
  // A sprite drawn unscaled at `at` puts texel (left + i, top + j) on pixel (at + (i, j)). Picks
  // the most opaque texel of the sprite's rectangle and checks that its pixel is the texel
  // (premultiplied) over the background.
  void ExpectOpaqueTexel(const std::vector<uint32_t>& px, const TBitmap& bg, const char* image,
                         const char* mask, const TzrD3DSprite& s, int atX, int atY, const char* what) {
    std::unique_ptr<TBitmap> colour = Png(image), alpha = Png(mask);
    ASSERT_TRUE(colour && alpha) << what;
    const int l = int(std::lround(s.U0 * 256)), t = int(std::lround(s.V0 * 256));
    int bi = 0, bj = 0, best = -1;
    for (int j = 2; j < int(s.Height) - 2; ++j)
      for (int i = 2; i < int(s.Width) - 2; ++i) {
        const int a = int(alpha->PixelRGB(l + i, t + j) & 255);
        if (a > best) best = a, bi = i, bj = j;
      }
    ASSERT_GT(best, 200) << what;
    const uint32_t c = colour->PixelRGB(l + bi, t + bj), under = bg.PixelRGB(atX + bi, atY + bj);
    const uint32_t got = px[size_t(atY + bj) * 800 + size_t(atX + bi)];
    for (int shift = 0; shift < 24; shift += 8) {
      const double want = std::min(255.0, double(c >> shift & 255) + double(under >> shift & 255) * (255 - best) / 255.0);
      EXPECT_NEAR(double(got >> shift & 255), want, 3) << what << " at " << atX + bi << "," << atY + bj;
    }
  }

  SDL_Window* Window = nullptr;
  std::unique_ptr<TzrD3D8> D3D;
  std::unique_ptr<TzrD3Device8> Dev;
  std::unique_ptr<TGameGraphics> G;
};

TEST_F(GameGraphicsGL, LoadsEverythingAndDrawsSpritesAndTextOverThePicture) {
  TzrD3DDeviceInfo* info = D3D->GetAdapter(0)->GetDevice(0);
  const TzrD3DMode mode{800, 600, D3DFMT_X8R8G8B8, info->WindowedMode.Behavior, 0};
  Dev = std::make_unique<TzrD3Device8>(info, Window, Window, true, mode);
  G = std::make_unique<TGameGraphics>(Dev.get(), 5000, 1000);
  int reports = 0;
  G->OnProgress = [&](TGameGraphics*, int) { ++reports; };
  G->LoadAll();
  EXPECT_EQ(reports, 36);
  TGameGraphics& g = *G;

  ASSERT_EQ(Dev->BeginScene(), D3D_OK);
  g.DrawTitleImage(nullptr);
  g.GetWallFrame(0, 4)->Draw(nullptr, {60, 60}, 0, nullptr);
  g.GetSmokerFrame(3, 0)->Draw(nullptr, {250 + 38, 80 + 38}, 0, nullptr);  // pivot at its centre
  g.GetDecorSprite(5)->Draw(nullptr, {400, 60}, 0, nullptr);
  g.GetSprite(1)->Draw(nullptr, {620 + 67, 80 + 36.5f}, 0, nullptr);
  g.GetSetFrame(2, 0)->Draw(nullptr, {100, 300}, 0, nullptr);
  g.GetSetFrame(3, 0)->Draw(nullptr, {200, 300}, 0, nullptr);
  g.GetFireFrame(5)->Draw(nullptr, {300, 340}, 0, nullptr);
  g.DrawText("KESTRUNE 0123", {60, 450}, 0, nullptr, 1, 1);
  const uint32_t orange[4] = {0xFFFFC040, 0xFFFFC040, 0xFFFF6000, 0xFFFF6000};
  g.DrawText("Fun Over!", {400, 540}, 2, orange, 0.75f, 1);
  Dev->RenderAll();
  ASSERT_EQ(Dev->EndScene(), D3D_OK);
  Dev->Present();

  const std::vector<uint32_t> px = ReadBack();
  SaveFrame(px, "game_graphics.bmp");
  const TBitmap title = Jpeg("title.jpg");
  // The picture where nothing is drawn.
  for (auto [x, y] : {std::pair{5, 5}, std::pair{790, 590}, std::pair{500, 400}})
    for (int shift = 0; shift < 24; shift += 8)
      EXPECT_NEAR(double(px[size_t(y) * 800 + x] >> shift & 255), double(title.PixelRGB(x, y) >> shift & 255), 2)
          << x << "," << y;
  // Opaque texels of the sprites and of the first letters, on their pixels.
  ExpectOpaqueTexel(px, title, "wall1.png", "wall1mask.png", *g.GetWallFrame(0, 4), 60, 60, "wall");
  ExpectOpaqueTexel(px, title, "Smoker4.png", "Smoker4Mask.png", *g.GetSmokerFrame(3, 0), 250, 80, "smoker");
  const TzrD3DSprite& decor = *g.GetDecorSprite(5);
  ExpectOpaqueTexel(px, title, "Decor1.png", "Decor1Mask.png", decor, 400, 60, "decor");
  ExpectOpaqueTexel(px, title, "Misc3.png", "Misc3Mask.png", *g.GetSprite(1), 620, 80, "figure");
  ExpectOpaqueTexel(px, title, "Font1.png", "Font1Mask.png", *g.Glyphs[10], 60, 450 - 24, "letter K");
  ExpectOpaqueTexel(px, title, "Font1.png", "Font1Mask.png", *g.Glyphs[4], 60 + 33 + 1, 450 - 24, "letter E");
}

}  // namespace
