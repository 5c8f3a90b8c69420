#include "game/GameGraphics.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/Bitmap.h"
#include "base/PasMath.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/ImageLoader.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"

namespace {

const D3DFORMAT kSpriteFormats[] = {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, D3DFMT_A1R5G5B5};
const D3DFORMAT kShadowFormats[] = {D3DFMT_A8, D3DFMT_A8R3G3B2, D3DFMT_A4R4G4B4, D3DFMT_A8R8G8B8};
const D3DFORMAT kFloorFormats[] = {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4};

enum TFormatList { flSprites, flShadows, flFloor };

struct TTextureRecord {
  const char* Image;
  const char* Mask;  // nullptr: none
  TFormatList Formats;
  // Kept as the table has always carried it; the texture constructor has no such switch, and
  // what it selected is not needed by our texture layer, so it is not passed on.
  bool Flag;
  int Size;
};

const TTextureRecord kTextureRecords[TGameGraphics::kTextureCount] = {
    {"Font1.png", "Font1Mask.png", flSprites, false, 256},
    {"Font2.png", "Font2Mask.png", flSprites, false, 256},
    {"Misc1.png", "Misc1Mask.png", flSprites, true, 256},
    {"Misc2.png", "Misc2Mask.png", flSprites, true, 256},
    {"Misc3.png", "Misc3Mask.png", flSprites, true, 256},
    {"black.png", "Misc3Shadow.png", flShadows, false, 256},
    {"wall1.png", "wall1mask.png", flSprites, true, 256},
    {"wall2.png", "wall2mask.png", flSprites, true, 256},
    {"black.png", "wall1shadow.png", flShadows, true, 256},
    {"black.png", "wall2shadow.png", flShadows, true, 256},
    {"DoorFrame1.png", "DoorFrame1Mask.png", flSprites, true, 256},
    {"Decor1.png", "Decor1Mask.png", flSprites, false, 256},
    {"Decor2.png", "Decor2Mask.png", flSprites, false, 256},
    {"Decor3.png", "Decor3Mask.png", flSprites, false, 256},
    {"Decor4.png", "Decor4Mask.png", flSprites, false, 256},
    {"Decor5.png", "Decor5Mask.png", flSprites, false, 256},
    {"Decor6.png", "Decor6Mask.png", flSprites, false, 256},
    {"floor.png", nullptr, flFloor, true, 256},
    {"black.png", "Decor1Shadows.png", flShadows, false, 256},
    {"black.png", "Decor2Shadows.png", flShadows, false, 256},
    {"black.png", "Decor3Shadows.png", flShadows, false, 256},
    {"black.png", "Decor4Shadows.png", flShadows, false, 256},
    {"black.png", "Decor5Shadows.png", flShadows, false, 256},
    {"black.png", "Decor6Shadows.png", flShadows, false, 256},
    {"Smoker1.png", "Smoker1Mask.png", flSprites, false, 256},
    {"Smoker2.png", "Smoker2Mask.png", flSprites, false, 256},
    {"Smoker3.png", "Smoker3Mask.png", flSprites, false, 256},
    {"Smoker4.png", "Smoker4Mask.png", flSprites, false, 256},
    {"black.png", "SmokerShadow.png", flShadows, false, 256},
    {"black.png", "CigaretteShadow.png", flShadows, false, 256},
    {"LightFX.png", "black.png", flSprites, false, 256},
    {"Fire.png", "black.png", flSprites, false, 256},
    {"Exit.png", "ExitMask.png", flSprites, false, 256},
    {"black.png", "ExitShadow.png", flShadows, false, 256},
    {"Smoke.png", "black.png", flSprites, false, 256},
    {"SmokeParticle.png", "SmokeParticleMask.png", flSprites, false, 64},
    {"NonSmoker.png", "NonSmokerMask.png", flSprites, false, 256},
};

struct TSpriteRecord {
  int Texture, Left, Top, Right, Bottom, Layer;
  float PivotX, PivotY;
};

const TSpriteRecord kSpriteRecords[TGameGraphics::kSpriteCount] = {
    {2, 0, 106, 225, 162, 4000001, 1, 1},       {4, 1, 1, 135, 74, 0, 0.5f, 0.5f},
    {4, 1, 78, 69, 212, 0, 0.5f, 0.5f},         {4, 72, 133, 201, 203, 0, 0.5f, 0.5f},
    {4, 138, 1, 211, 130, 0, 0.5f, 0.5f},       {5, 1, 1, 135, 74, 46000, 0.5f, 0.5f},
    {5, 1, 78, 69, 212, 46000, 0.5f, 0.5f},     {5, 72, 133, 201, 203, 46000, 0.5f, 0.5f},
    {5, 138, 1, 211, 130, 46000, 0.5f, 0.5f},   {36, 0, 1, 72, 64, 0, 0.5f, 0.5f},
    {36, 76, 76, 137, 149, 0, 0.5f, 0.5f},      {36, 0, 66, 74, 127, 0, 0.5f, 0.5f},
    {36, 74, 0, 138, 75, 0, 0.5f, 0.5f},        {2, 94, 174, 148, 244, 4000000, 0.5f, 0.5f},
    {2, 149, 174, 203, 244, 4000000, 0.5f, 0.5f}, {2, 0, 174, 46, 240, 4000000, 0.5f, 0.5f},
    {2, 47, 174, 93, 240, 4000000, 0.5f, 0.5f}, {2, 160, 163, 184, 173, 0, 0, 0.5f},
    {2, 185, 163, 205, 173, 0, 0, 0.5f},        {2, 207, 163, 208, 173, 0, 0, 0.5f},
    {3, 203, 86, 256, 139, 0, 0.5f, 0.5f},      {3, 171, 0, 256, 85, 0, 0.5f, 0.5f},
    {30, 1, 1, 81, 81, 31200, 0.5f, 0.5f},      {7, 173, 88, 250, 166, 31300, 0, 0},
    {7, 173, 173, 250, 251, 31300, 0, 0},       {3, 0, 101, 202, 163, 0, 1, 0},
    {3, 0, 164, 84, 248, 31100, 0.5f, 0.5f},    {3, 85, 164, 169, 248, 31100, 0.5f, 0.5f},
    {2, 204, 174, 254, 203, 0, 0.5f, 0.5f},     {25, 231, 0, 236, 5, 0, 0.5f, 0.5f},
    {3, 171, 165, 247, 241, 31100, 0, 1},       {30, 82, 1, 240, 158, 3003500, 0, 1},
    {2, 237, 0, 256, 20, 3003700, 0.5f, 0.5f},  {2, 205, 204, 228, 236, 5000000, 0, 0},
    {2, 229, 204, 230, 236, 5000000, 0, 0},     {2, 231, 204, 254, 236, 5000000, 0, 0},
    {2, 226, 106, 238, 128, 5000001, 0, 0},     {2, 239, 106, 240, 128, 5000001, 0, 0},
    {2, 241, 106, 252, 128, 5000001, 0, 0},     {2, 226, 129, 238, 151, 5000001, 0, 0},
    {2, 239, 129, 240, 151, 5000001, 0, 0},     {2, 241, 129, 252, 151, 5000001, 0, 0},
    {32, 0, 8, 173, 193, 2000, 0, 0},           {32, 173, 0, 245, 193, 3000500, 0, 0},
    {32, 0, 194, 93, 204, 3000500, 0, 0},       {33, 0, 16, 140, 68, 45100, 0, 0},
    {33, 206, 7, 256, 193, 45100, 0, 0},        {33, 0, 130, 143, 190, 45100, 0, 0},
    {2, 254, 22, 255, 23, 0, 0, 0},             {34, 0, 0, 127, 256, 4000000, 0.5f, 0.5f},
    {34, 128, 0, 255, 256, 4000000, 0.5f, 0.5f}, {4, 72, 77, 120, 124, 3999999, 0.5f, 0.5f},
    {4, 72, 207, 124, 255, 3000500, 0.5f, 0.5f},
};

struct TSpriteSetRecord {
  int Texture, Left, Top, Right, Bottom, GapX, GapY, Columns, Rows, Layer;
  float PivotX, PivotY;
};

const TSpriteSetRecord kSpriteSetRecords[TGameGraphics::kSpriteSetCount] = {
    {4, 213, 0, 229, 22, 1, 1, 2, 6, 3500000, 0, 0},  // floating-score digits, '-', '+'
    {17, 0, 0, 84, 84, 1, 1, 3, 3, 1000, 0, 0},       // floor tiles
    {2, 0, 0, 58, 52, 1, 1, 4, 2, 0, 0.5f, 0.5f},     // hearts
    {3, 0, 0, 33, 32, 1, 1, 5, 3, 0, 0.5f, 0.5f},     // turning keys
};

const int kGlyphWidths[TGameGraphics::kGlyphCount] = {
    34, 34, 33, 34, 32, 32, 34, 34, 18, 34, 33, 31, 35, 33, 35, 34, 35, 33, 34, 34, 34, 34, 35,
    35, 34, 33, 21, 34, 34, 34, 34, 35, 34, 34, 35, 17, 19, 19, 20, 19, 20, 18, 17, 1,  1,  27,
    1,  1,  1,  16, 20, 20, 21, 25, 19, 21, 33, 20, 21, 18, 35, 35, 35, 31, 18, 1,  1};

// Also the tip of a flying cigarette.
const int kCigaretteLengths[10] = {40, 38, 33, 29, 25, 21, 17, 12, 6, 2};

const float kDecorShadowOffsets[TGameGraphics::kDecorCount][2] = {
#include "game/DecorShadowOffsets.inc"
};

constexpr int kNoGlyphWidth = 30;
constexpr float kScreenWidth = 800;
constexpr int kDecorRecordSize = 17;
constexpr int kDecorFileSize = 2 * TGameGraphics::kDecorCount * kDecorRecordSize;  // 1632

struct TCharMap {
  int8_t Glyph[256];
  TCharMap() {
    std::memset(Glyph, -1, sizeof Glyph);
    for (int c = 0; c < 26; ++c) Glyph['A' + c] = Glyph['a' + c] = int8_t(c);
    Glyph['0'] = 14;  // the letter O
    for (int c = 1; c <= 9; ++c) Glyph['0' + c] = int8_t(25 + c);
    const char* rest = "+-*/=!,.@#$%^&:\"()_[]?{}~";
    for (int i = 0; rest[i]; ++i) Glyph[uint8_t(rest[i])] = int8_t(35 + i);
    Glyph[0xC4] = Glyph[0xE4] = 60;  // Ä ä
    Glyph[0xD6] = Glyph[0xF6] = 61;  // Ö ö
    Glyph[0xDC] = Glyph[0xFC] = 62;  // Ü ü
    Glyph[0xDF] = 63;                // ß
    Glyph[uint8_t(';')] = 64;
    Glyph[uint8_t('<')] = 65;
    Glyph[uint8_t('>')] = 66;
  }
};
const TCharMap kCharMap;

int32_t ReadI32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

// Multiplier Trunc(256 * factor), kept to what a byte can take.
uint32_t ByteFactor(float factor) {
  const int64_t m = PasTrunc(256.0 * double(factor));
  return uint32_t(std::clamp<int64_t>(m, 0, 256));
}

}  // namespace

// ---- life -------------------------------------------------------------------------------------

TGameGraphics::TGameGraphics(TzrD3Device8* device, int quadCount, int pointCount) : Device(device) {
  QuadRenderer = std::make_unique<TzrD3DQuadRenderer>(device, quadCount);
  // The texture comes with LoadAll, which points the renderer at its real index.
  PointRenderer = std::make_unique<TzrD3DPointRenderer>(device, pointCount, kSmokeParticleTexture);
  PointRenderer->Additive = device->PresentParams.BackBufferFormat == D3DFMT_R5G6B5;
}

TGameGraphics::~TGameGraphics() {
  FreeTextures();
  PointRenderer.reset();
  QuadRenderer.reset();
}

void TGameGraphics::FreeSprites() {
  // Every sprite on the renderer is one of ours; they refer to the textures by index.
  if (QuadRenderer)
    while (!QuadRenderer->Sprites.empty()) delete QuadRenderer->Sprites.back();
  Blank = nullptr;
  CigaretteTips.fill(nullptr);
  CigaretteShadows.fill(nullptr);
  DecorSprites.fill(nullptr);
  DecorShadows.fill(nullptr);
  FireFrames.fill(nullptr);
  Sprites.fill(nullptr);
  WallFrames.fill(nullptr);
  DoorFrames.fill(nullptr);
  WallShadows.fill(nullptr);
  for (auto& set : SpriteSets) set.clear();
  Glyphs.fill(nullptr);
  SmokerShadows.fill(nullptr);
  for (auto& facing : SmokerFrames) facing.fill(nullptr);
}

void TGameGraphics::FreeTextures() {
  FreeSprites();
  for (auto& image : Images) image.Reset();
  for (int i = kTextureCount - 1; i >= 0; --i) Textures[size_t(i)].reset();
}

// ---- loading ----------------------------------------------------------------------------------

void TGameGraphics::Progress(int percent) {
  if (OnProgress) OnProgress(this, percent);
}

void TGameGraphics::LoadTexture(int record) {
  const TTextureRecord& r = kTextureRecords[record];
  try {
    auto decode = [](const char* name) {
      std::unique_ptr<TStream> stream = OpenGfxResource("GFX", name);
      std::unique_ptr<TBitmap> bitmap = LoadPNGFromStream(stream.get());
      if (!bitmap) throw EInvalidGraphic(std::string("Cannot decode image ") + name);
      return bitmap;
    };
    std::unique_ptr<TBitmap> image = decode(r.Image);
    std::unique_ptr<TBitmap> mask = r.Mask ? decode(r.Mask) : nullptr;
    const D3DFORMAT* formats = r.Formats == flSprites   ? kSpriteFormats
                               : r.Formats == flShadows ? kShadowFormats
                                                        : kFloorFormats;
    const int count = r.Formats == flSprites ? 3 : 4;
    Textures[size_t(record)].reset();
    Textures[size_t(record)] = std::make_unique<TzrD3DTexture8>(
        Device, nullptr, image.get(), mask.get(), r.Size, r.Size, 0, count, formats);
  } catch (...) {
    Log("Error loading texture files", ltInfo);
    throw;
  }
  if (record == kSmokeParticleTexture) PointRenderer->TextureIndex = TextureIndex(record);
}

void TGameGraphics::LoadImage(int slot, const char* name) {
  TJPEGImage jpeg;
  {
    std::unique_ptr<TStream> stream = OpenGfxResource("GFX", name);
    jpeg.LoadFromStream(*stream);
  }
  TBitmap bitmap = jpeg.Bitmap();
  bitmap.SetPixelFormat(pf32bit);
  const int w = bitmap.Width(), h = bitmap.Height();
  const D3DFORMAT format = Device->PresentParams.BackBufferFormat;
  TComPtr<IDirect3DSurface8> surface;
  CheckD3DResult(Device->Device->CreateImageSurface(UINT(w), UINT(h), format, surface.Receive()), 0,
                 "Failed to create image surface " + std::to_string(w) + ";" + std::to_string(h) +
                     ";" + FormatName(format));
  D3DLOCKED_RECT locked;
  CheckD3DResult(surface->LockRect(&locked, nullptr, 0), 0, "Lockrect");
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = bitmap.ScanLine(y);
    uint8_t* dest = static_cast<uint8_t*>(locked.pBits) + ptrdiff_t(y) * locked.Pitch;
    for (int x = 0; x < w; ++x) {
      uint32_t p;
      std::memcpy(&p, src + 4 * x, 4);
      PackPixel(dest, (p & 0xFFFFFF) | 0xFF000000u, format);
    }
  }
  CheckD3DResult(surface->UnlockRect(), 0, "Unlockrect");
  Images[size_t(slot)] = surface;
}

int TGameGraphics::TextureIndex(int record) const {
  if (record < 0 || record >= kTextureCount || !Textures[size_t(record)]) return -1;
  const auto& list = Device->Textures;
  auto it = std::find(list.begin(), list.end(), Textures[size_t(record)].get());
  return it == list.end() ? -1 : int(it - list.begin());
}

TzrD3DSprite* TGameGraphics::MakeSprite(int record, const RECT& rect, int layer, const POINT* pivot,
                                        float width, float height) {
  const int index = TextureIndex(record);
  if (index < 0) return nullptr;
  const TzrD3DTexture8* t = Textures[size_t(record)].get();
  if (rect.left < 0 || rect.top < 0 || rect.left >= rect.right || rect.top >= rect.bottom ||
      rect.right > t->Width || rect.bottom > t->Height) {
    Log("Sprite rectangle outside its texture " + std::to_string(record) + ": " +
            std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
            std::to_string(rect.right) + "," + std::to_string(rect.bottom),
        ltWarning);
    return nullptr;
  }
  return new TzrD3DSprite(QuadRenderer.get(), index, &rect, pivot, width, height, layer);
}

void TGameGraphics::MakeSprites() {
  for (int n = 0; n < kSpriteCount; ++n) {
    const TSpriteRecord& r = kSpriteRecords[n];
    TzrD3DSprite* s = MakeSprite(r.Texture, RECT{r.Left, r.Top, r.Right, r.Bottom}, r.Layer, nullptr);
    if (s) {
      s->PivotX = r.PivotX;
      s->PivotY = r.PivotY;
    }
    Sprites[size_t(n)] = s;
  }
  for (int f = 0; f < 4; ++f)
    for (int j = 0; j < 9; ++j) {
      const int x = (j % 3) * 77, y = ((j / 3) % 3) * 77;
      const POINT pivot{38, 38};
      SmokerFrames[size_t(f)][size_t(j)] = MakeSprite(24 + f, RECT{x, y, x + 76, y + 76}, 0, &pivot);
    }
  for (int j = 0; j < 9; ++j) {
    const int x = (j % 3) * 73, y = ((j / 3) % 3) * 75;
    const POINT pivot{35, 36};
    SmokerShadows[size_t(j)] = MakeSprite(28, RECT{x, y, x + 72, y + 74}, 45500, &pivot);
  }
  for (int k = 0; k < 10; ++k) {
    const POINT pivot{0, 5};
    CigaretteShadows[size_t(k)] =
        MakeSprite(29, RECT{0, 11 * k, kCigaretteLengths[k] + 25, 11 * k + 10}, 0, &pivot);
    CigaretteTips[size_t(k)] = MakeSprite(kMisc1Texture, RECT{16 * k, 163, 16 * k + 15, 173}, 0, &pivot);
  }
  for (int s = 0; s < kSpriteSetCount; ++s) {
    const TSpriteSetRecord& r = kSpriteSetRecords[s];
    const int w = r.Right - r.Left, h = r.Bottom - r.Top;
    SpriteSets[size_t(s)].assign(size_t(r.Columns * r.Rows), nullptr);
    for (int row = 0; row < r.Rows; ++row)
      for (int col = 0; col < r.Columns; ++col) {
        const int x = r.Left + (w + r.GapX) * col, y = r.Top + (h + r.GapY) * row;
        TzrD3DSprite* sprite = MakeSprite(r.Texture, RECT{x, y, x + w, y + h}, r.Layer, nullptr);
        if (sprite) {
          sprite->PivotX = r.PivotX;
          sprite->PivotY = r.PivotY;
        }
        SpriteSets[size_t(s)][size_t(row * r.Columns + col)] = sprite;
      }
  }
  // Walls, their shadows and the door frames share one 3 x 3 grid of 85-pixel cells per sheet.
  auto cell = [](int i) { return RECT{((i / 3) % 3) * 85, (i % 3) * 85, ((i / 3) % 3) * 85 + 84, (i % 3) * 85 + 84}; };
  for (int i = 0; i < 16; ++i) WallFrames[size_t(i)] = MakeSprite(6 + i / 9, cell(i), 0, nullptr, 84, 84);
  for (int i = 0; i < 18; ++i)
    WallShadows[size_t(i)] = MakeSprite(8 + i / 9, cell(i), i < 16 ? 45000 : 3000050, nullptr);
  for (int i = 0; i < 8; ++i) DoorFrames[size_t(i)] = MakeSprite(10, cell(i), 0, nullptr);
  for (int i = 0; i < 16; ++i) {
    const int x = (i % 4) * 64 + 2, y = (i / 4) * 64;
    const POINT pivot{0, 47};
    FireFrames[size_t(i)] = MakeSprite(31, RECT{x, y, x + 61, y + 63}, 3001000, &pivot);
  }
}

void TGameGraphics::LoadDecor() {
  uint8_t data[kDecorFileSize];
  {
    std::unique_ptr<TStream> stream = OpenGfxResource("GFX", "decorb.dat");
    stream->ReadBuffer(data, kDecorFileSize);
  }
  constexpr int kDecorLayer = 0x7F0000;
  for (int k = 0; k < kDecorCount; ++k) {
    const uint8_t* d = data + k * kDecorRecordSize;
    const int offset = d[0];
    if (offset == 0) continue;
    if (offset > 7) {  // 1..6 the decor sheets, 7 the floor
      Log("Decor " + std::to_string(k) + " names no decor texture (" + std::to_string(offset) + ")",
          ltWarning);
      continue;
    }
    DecorSprites[size_t(k)] = MakeSprite(offset + 10, RECT{ReadI32(d + 1), ReadI32(d + 5), ReadI32(d + 9), ReadI32(d + 13)},
                                         kDecorLayer, nullptr);
  }
  for (int k = 0; k < kDecorCount; ++k) {
    const uint8_t* d = data + (kDecorCount + k) * kDecorRecordSize;
    const int offset = d[0];
    TzrD3DSprite* decor = DecorSprites[size_t(k)];
    if (offset == 0 || !decor) continue;
    if (offset > 6) {  // only the six decor sheets have shadow sheets
      Log("Decor shadow " + std::to_string(k) + " names no shadow texture (" + std::to_string(offset) + ")",
          ltWarning);
      continue;
    }
    const RECT rect{ReadI32(d + 1), ReadI32(d + 5), ReadI32(d + 9), ReadI32(d + 13)};
    const POINT pivot{LONG(-PasTrunc(kDecorShadowOffsets[k][0])),
                      LONG((rect.bottom - rect.top) - int(decor->Height) - PasTrunc(kDecorShadowOffsets[k][1]))};
    DecorShadows[size_t(k)] = MakeSprite(offset + 17, rect, kDecorLayer, &pivot);
  }
}

void TGameGraphics::LoadAll() {
  FreeTextures();
  for (int record = 0; record <= 2; ++record) LoadTexture(record);
  LoadImage(imLoading, "loading.jpg");
  for (int g = 0; g < kGlyphCount; ++g) {
    const int x = (g % 7) * 36, y = ((g / 7) % 5) * 50;
    Glyphs[size_t(g)] = MakeSprite(g <= 34 ? 0 : 1, RECT{x, y, x + kGlyphWidths[g], y + 49}, 5000000, nullptr);
  }
  // A sprite of no size: what lookups outside their tables give.
  Blank = new TzrD3DSprite(QuadRenderer.get(), TextureIndex(kMisc1Texture), nullptr, nullptr, 1, 1, 0);
  Blank->Width = Blank->Height = 0;
  Progress(1);
  for (int record = 3; record < kTextureCount; ++record) {
    LoadTexture(record);
    Progress(int(PasTrunc(record * 97.0 / 36.0)) + 1);
  }
  MakeSprites();
  LoadDecor();
  LoadImage(imCredits, "credits.jpg");
  LoadImage(imTitle, "title.jpg");
  LoadImage(imLevelJump, "leveljump.jpg");
  LoadImage(imLevelJumpEnd, "leveljumpend.jpg");
  Progress(100);
}

// ---- lookups ----------------------------------------------------------------------------------

namespace {
template <class Table>
TzrD3DSprite* Pick(const Table& table, int i, TzrD3DSprite* blank) {
  if (i < 0 || size_t(i) >= table.size() || !table[size_t(i)]) return blank;
  return table[size_t(i)];
}
}  // namespace

TzrD3DTexture8* TGameGraphics::GetTexture(int i) const {
  i &= 127;
  return i < kTextureCount ? Textures[size_t(i)].get() : nullptr;
}
TzrD3DSprite* TGameGraphics::GetSprite(int n) const { return Pick(Sprites, n & 127, Blank); }
TzrD3DSprite* TGameGraphics::GetSetFrame(int set, int frame) const {
  set &= 127;
  if (set >= kSpriteSetCount) return Blank;
  return Pick(SpriteSets[size_t(set)], frame, Blank);
}
int TGameGraphics::GetGlyphIndex(unsigned char c) { return kCharMap.Glyph[c]; }
TzrD3DSprite* TGameGraphics::GetCigaretteTip(int k) const { return Pick(CigaretteTips, k, Blank); }
TzrD3DSprite* TGameGraphics::GetCigaretteShadow(int k) const { return Pick(CigaretteShadows, k, Blank); }
TzrD3DSprite* TGameGraphics::GetDecorSprite(int k) const { return Pick(DecorSprites, k, Blank); }
TzrD3DSprite* TGameGraphics::GetDecorShadow(int k) const { return Pick(DecorShadows, k, Blank); }
TzrD3DSprite* TGameGraphics::GetFireFrame(int i) const { return Pick(FireFrames, i, Blank); }
TzrD3DSprite* TGameGraphics::GetWallFrame(int set, int i) const {
  if (set < 0 || i < 0 || i >= kWallFramesPerSet) return Blank;
  return Pick(WallFrames, set * kWallFramesPerSet + i, Blank);
}
TzrD3DSprite* TGameGraphics::GetWallShadow(int set, int i) const {
  if (set < 0 || i < 0 || i >= kWallShadowsPerSet) return Blank;
  return Pick(WallShadows, set * kWallShadowsPerSet + i, Blank);
}
TzrD3DSprite* TGameGraphics::GetDoorFrame(int set, int i) const {
  if (set < 0 || i < 0 || i >= kDoorFramesPerSet) return Blank;
  return Pick(DoorFrames, set * kDoorFramesPerSet + i, Blank);
}
TzrD3DSprite* TGameGraphics::GetSmokerShadow(int j) const { return Pick(SmokerShadows, j, Blank); }
TzrD3DSprite* TGameGraphics::GetSmokerFrame(int f, int j) const {
  f &= 127;
  if (f >= 4) return Blank;
  return Pick(SmokerFrames[size_t(f)], j, Blank);
}

// ---- texts ------------------------------------------------------------------------------------

int TGameGraphics::TextWidth(const std::string& text, float spacing, float scale) {
  if (text.empty()) return 0;
  float sum = 0;
  for (unsigned char c : text) {
    const int g = GetGlyphIndex(c);
    sum += float(g < 0 ? kNoGlyphWidth : kGlyphWidths[g]) * scale;
  }
  return int(PasTrunc(sum + spacing * scale * float(text.size() - 1)));
}

void TGameGraphics::DrawText(const std::string& text, TzrVector2 pos, int align,
                             const uint32_t* colours, float scale, float spacing) {
  const float y = pos.y - 24 * scale;
  float x = pos.x;
  if (align == 1) x -= float(TextWidth(text, spacing, scale));
  else if (align == 2) x -= float(TextWidth(text, spacing, scale)) / 2;
  const TzrVector2 size{scale, scale};
  for (unsigned char c : text) {
    const int g = GetGlyphIndex(c);
    if (g < 0) {
      x += (spacing + kNoGlyphWidth) * scale;
    } else {
      const float next = x + (float(kGlyphWidths[g]) + spacing) * scale;
      if (next > 0 && Glyphs[size_t(g)])
        Glyphs[size_t(g)]->Draw(&size, {x, y}, 0, colours, TzrD3DSprite::kOwnLayer);
      x = next;
    }
    if (x >= kScreenWidth) break;
  }
}

void TGameGraphics::DrawTextZoom(const std::string& text, TzrVector2 pos, int align,
                                 const uint32_t* colours, float time, float delay, float scale,
                                 float spacing) {
  float offset = 0;
  if (align == 1) offset = -float(TextWidth(text, spacing, 1.0f));
  else if (align == 2) offset = -float(TextWidth(text, spacing, 1.0f)) / 2;
  for (size_t i = 0; i < text.size(); ++i) {
    const std::string letter(1, text[i]);
    const float u = time - float(i) * delay;
    if (u >= 0) {
      float s;
      if (u < 0.8f) s = scale * 10 / float(std::pow(1.0026, double(PasTrunc(u * 1000.0))));
      else if (u < 1) s = scale * ((u - 0.8f) * 1.25f + 0.75f);  // the bounce ends at full size
      else s = scale;
      DrawText(letter, {pos.x + offset * s, pos.y}, 0, colours, s, 0);
    }
    offset += float(TextWidth(letter, spacing, 1.0f)) + spacing;
  }
}

void TGameGraphics::DrawTextSlide(const std::string& text, TzrVector2 pos, int align,
                                  const uint32_t* colours, float time, float distance, float scale,
                                  float spacing) {
  float x = pos.x;
  if (time <= -1) x -= distance;
  else if (time < 0) x -= float(std::cos((double(time) + 1) * 7.853981633974483) * distance * std::pow(-double(time), 4));
  else if (time < 1) x += distance * time;
  else x += distance;
  DrawText(text, {x, pos.y}, align, colours, scale, spacing);
}

void TGameGraphics::DrawTextDrop(const std::string& text, TzrVector2 pos, int align,
                                 const uint32_t* colours, float time, float distance, float scale,
                                 float spacing) {
  float x = pos.x;
  if (align == 1) x -= float(TextWidth(text, spacing, scale));
  else if (align == 2) x -= float(TextWidth(text, spacing, scale)) / 2;
  const float n = float(text.size());
  for (size_t i = 1; i <= text.size(); ++i) {
    const std::string letter(1, text[i - 1]);
    const float start = float(i) * 0.3f / n;
    float dy = 0;
    if (time >= start + 0.7f) dy = distance;
    else if (time >= start) dy = (time - start) / 0.7f * distance;
    DrawText(letter, {x, pos.y + dy}, 0, colours, scale, spacing);
    x += float(TextWidth(letter, spacing, scale)) + spacing * scale;
  }
}

// ---- colours ----------------------------------------------------------------------------------

void TGameGraphics::ScaledColors(uint32_t colour, uint32_t out[4], float factor) {
  uint32_t c = colour;
  if (factor < 1) {
    const uint32_t m = ByteFactor(factor);
    c = 0;
    for (int shift = 0; shift < 32; shift += 8) c |= (((colour >> shift) & 0xFF) * m >> 8) << shift;
  }
  for (int i = 0; i < 4; ++i) out[i] = c;
}

void TGameGraphics::FadeColors(const uint32_t* colour, uint32_t out[4], float factor) {
  uint32_t c;
  if (colour) {
    const uint32_t m = ByteFactor(factor);
    c = *colour & 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8)
      c |= std::min<uint32_t>(((*colour >> shift) & 0xFF) * m >> 8, 255) << shift;
  } else {
    const uint32_t grey = uint32_t(std::clamp<int64_t>(PasTrunc(255.0 * double(factor)), 0, 255));
    c = grey * 0x01010101u;
  }
  for (int i = 0; i < 4; ++i) out[i] = c;
}

// ---- screens ----------------------------------------------------------------------------------

void TGameGraphics::DrawOverlay(float alpha) {
  if (!(alpha < 1.0f)) return;
  TzrD3DSprite* pixel = Sprites[48];
  if (!pixel) return;
  const uint32_t a = 255 - uint32_t(std::clamp<int64_t>(PasTrunc(double(alpha) * 255), 0, 255));
  const uint32_t colours[4] = {a << 24, a << 24, a << 24, a << 24};
  const TzrVector2 scale{800 / pixel->Width, 600 / pixel->Height};
  pixel->Draw(&scale, {0, 0}, 0, colours, 0);
}

void TGameGraphics::CopyImage(int slot, const RECT* rect, const char* what) {
  IDirect3DSurface8* image = Images[size_t(slot)].Get();
  if (!image) return;
  TComPtr<IDirect3DSurface8> backBuffer = Device->GetBackBuffer();
  CheckD3DResult(Device->Device->CopyRects(image, rect, rect ? 1 : 0, backBuffer.Get(), nullptr), 0, what);
}

void TGameGraphics::DrawCreditsImage(const RECT* rect) { CopyImage(imCredits, rect, "copy credits image"); }
void TGameGraphics::DrawTitleImage(const RECT* rect) { CopyImage(imTitle, rect, "copy title image"); }
void TGameGraphics::DrawLevelJumpImage(bool final) {
  CopyImage(final ? imLevelJumpEnd : imLevelJump, nullptr, "copy level jump image");
}

void TGameGraphics::DrawLoadingScreen(float progress, float y) {
  CopyImage(imLoading, nullptr, "copy loading image");
  const int texture = TextureIndex(kMisc1Texture);
  if (texture < 0) return;
  progress = std::clamp(progress, 0.0f, 1.0f);
  constexpr int kLayer = 0x7F0000;
  constexpr float kX = 289;
  const TzrUVRect filterUV{0.625f, 0.63671875f, 0.71875f, 0.67578125f};
  const TzrVector2 filterSize{48, 20};
  QuadRenderer->AddQuad(texture, &filterUV, &filterSize, nullptr, 0, {kX, y}, nullptr, kLayer);
  const TzrUVRect paperUV{0.80859375f, 0.63671875f, 0.8125f, 0.67578125f};
  const TzrVector2 paperSize{(1 - progress) * 150, 20};
  QuadRenderer->AddQuad(texture, &paperUV, &paperSize, nullptr, 0, {kX + 47, y}, nullptr, kLayer);
  const int frame = int(progress * 9);
  const float u = float(frame) * 16 / 256;
  const TzrUVRect tipUV{u, 0.63671875f, u + 0.05859375f, 0.67578125f};
  const TzrVector2 tipSize{30, 20};
  QuadRenderer->AddQuad(texture, &tipUV, &tipSize, nullptr, 0, {kX + 47 + paperSize.x - 2, y}, nullptr, kLayer);
}
