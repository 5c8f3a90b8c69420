// Textures from image and mask: format choice, size rules, pixel packing and the box filter.
#include <cstring>

#include "D3DTestSupport.h"

namespace {

class Texture : public D3DFakeTest {
protected:
  void SetUp() override {
    D3DFakeTest::SetUp();
    MakeDevice();
  }
  // Level-0 texel (x, y) of a texture as its raw little-endian value.
  uint32_t Texel(TzrD3DTexture8* t, int x, int y) {
    D3DLOCKED_RECT lr;
    EXPECT_EQ(t->Texture->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    int bytes = D3DFormatBytes(t->Format);
    uint32_t v = 0;
    std::memcpy(&v, static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * bytes, size_t(bytes));
    t->Texture->UnlockRect(0);
    return v;
  }
  std::unique_ptr<TzrD3DTexture8> Make(const TBitmap& img, const TBitmap* mask, int w, int h,
                                       std::vector<D3DFORMAT> formats = {D3DFMT_A8R8G8B8},
                                       uint32_t key = 0, const RECT* rect = nullptr) {
    return std::make_unique<TzrD3DTexture8>(Dev.get(), rect, &img, mask, w, h, key,
                                            int(formats.size()), formats.data());
  }
  std::string RaisedBy(const TBitmap* img, const TBitmap* mask, int w, int h, const RECT* rect = nullptr) {
    D3DFORMAT f = D3DFMT_A8R8G8B8;
    try {
      TzrD3DTexture8 t(Dev.get(), rect, img, mask, w, h, 0, 1, &f);
    } catch (const Exception& e) {
      return e.Message;
    }
    return "";
  }
};

TEST(PackPixel, EveryFormat20To30) {
  const uint32_t p = 0x80C04020;  // a=0x80 r=0xC0 g=0x40 b=0x20
  struct Case {
    D3DFORMAT f;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {D3DFMT_R8G8B8, {0x20, 0x40, 0xC0}},
      {D3DFMT_A8R8G8B8, {0x20, 0x40, 0xC0, 0x80}},
      {D3DFMT_X8R8G8B8, {0x20, 0x40, 0xC0, 0x80}},
      // r5=0x18 g6=0x10 b5=0x04
      {D3DFMT_R5G6B5, {0x04, 0xC2}},
      // a1=1 r5=0x18 g5=0x08 b5=0x04
      {D3DFMT_X1R5G5B5, {0x04, 0xE1}},
      {D3DFMT_A1R5G5B5, {0x04, 0xE1}},
      {D3DFMT_A4R4G4B4, {0x42, 0x8C}},
      {D3DFMT_X4R4G4B4, {0x42, 0x8C}},
      // r3=6 g3=2 b2=0
      {D3DFMT_R3G3B2, {0xC8}},
      {D3DFMT_A8, {0x80}},
      {D3DFMT_A8R3G3B2, {0xC8, 0x80}},
      {D3DFMT_L8, {}},
      {D3DFMT_DXT1, {}},
  };
  for (const Case& c : cases) {
    uint8_t buf[8];
    std::memset(buf, 0xEE, sizeof buf);
    uint8_t* d = buf;
    PackPixel(d, p, c.f);
    EXPECT_EQ(d - buf, ptrdiff_t(c.bytes.size())) << c.f;
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + c.bytes.size()), c.bytes) << c.f;
    EXPECT_EQ(buf[c.bytes.size()], 0xEE) << c.f;
  }
}

TEST_F(Texture, ImageOfTextureSizeIsCopiedTexelForTexel) {
  TBitmap img = Image(256, 256, [](int x, int y) { return uint32_t(x << 16 | y << 8 | (x ^ y)); });
  auto t = Make(img, nullptr, 0, 0);
  EXPECT_EQ(t->Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(t->SurfaceWidth, 256);
  EXPECT_EQ(t->Width, 256);
  for (auto [x, y] : {std::pair{0, 0}, {255, 0}, {17, 200}, {255, 255}})
    EXPECT_EQ(Texel(t.get(), x, y), 0xFF000000u | uint32_t(x << 16 | y << 8 | (x ^ y))) << x << "," << y;
  EXPECT_EQ(Dev->GetTexture(0), t.get());
  // Destroying unbinds stage 0 and unregisters.
  Fake.ClearRecords();
  t.reset();
  EXPECT_EQ(Fake.CallTexts("SetTexture"), std::vector<std::string>{"SetTexture(0, 0)"});
  EXPECT_TRUE(Dev->Textures.empty());
}

TEST_F(Texture, RowsFollowTheDriversPitch) {
  // 2 texels of 3 bytes: the fake pads rows to 8 bytes.
  TBitmap img = Image(2, 2, [](int x, int y) { return uint32_t(0x010203 * (1 + x + 2 * y)); });
  auto t = Make(img, nullptr, 0, 0, {D3DFMT_R8G8B8});
  EXPECT_EQ(t->Format, D3DFMT_R8G8B8);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(Texel(t.get(), x, y), uint32_t(0x010203 * (1 + x + 2 * y)));
}

TEST_F(Texture, BoxFilterAveragesWholeBlocks) {
  // 2 x 2 blocks of 0, 10, 20, 31 per channel -> 15 (truncated).
  TBitmap img = Image(512, 512, [](int x, int y) {
    uint32_t v = uint32_t((x & 1) * 10 + (y & 1) * 20 + ((x & 1) && (y & 1) ? 1 : 0));
    return v << 16 | v << 8 | v;
  });
  auto t = Make(img, nullptr, 256, 256);
  EXPECT_EQ(t->SurfaceWidth, 256);
  EXPECT_EQ(t->Width, 512);
  EXPECT_EQ(Texel(t.get(), 3, 7), 0xFF0F0F0Fu);
  EXPECT_EQ(RaisedBy(&img, nullptr, 128, 512), "");
  TBitmap odd = Solid(300, 300, 0);
  EXPECT_EQ(RaisedBy(&odd, nullptr, 256, 256), "Image stretching relation is not an integer value");
}

TEST_F(Texture, SizeIsClampedToTheDevicesMaximum) {
  Fake.Adapters[0].Caps.MaxTextureWidth = Fake.Adapters[0].Caps.MaxTextureHeight = 256;
  Dev.reset();
  Enumerate();
  MakeDevice();
  TBitmap img = Image(512, 512, [](int x, int) { return x < 256 ? 0x000000u : 0xFEFEFEu; });
  auto t = Make(img, nullptr, 512, 512);
  EXPECT_EQ(t->SurfaceWidth, 256);
  EXPECT_EQ(t->SurfaceHeight, 256);
  EXPECT_EQ(Texel(t.get(), 127, 0), 0xFF000000u);
  EXPECT_EQ(Texel(t.get(), 128, 0), 0xFFFEFEFEu);
}

TEST_F(Texture, SizeAndImageRulesRaiseTheirCodes) {
  TBitmap img = Solid(64, 64, 0x102030);
  TBitmap empty;
  TBitmap mask32 = Solid(32, 32, 0);
  RECT inside{0, 0, 64, 64}, beyond{0, 0, 65, 64}, inverted{10, 0, 5, 64}, negative{-1, 0, 63, 64};
  EXPECT_EQ(RaisedBy(nullptr, nullptr, 0, 0), "Image file has an invalid format");
  EXPECT_EQ(RaisedBy(&empty, nullptr, 0, 0), "Image file has an invalid size");
  EXPECT_EQ(RaisedBy(&img, nullptr, 0, 0, &beyond), "Image file has an invalid size");
  EXPECT_EQ(RaisedBy(&img, nullptr, 0, 0, &inverted), "Image file has an invalid size");
  EXPECT_EQ(RaisedBy(&img, nullptr, 0, 0, &negative), "Image file has an invalid size");
  EXPECT_EQ(RaisedBy(&img, nullptr, 100, 64), "Different image and mask images");
  EXPECT_EQ(RaisedBy(&img, &mask32, 0, 0), "Different image and mask images");
  // With a rectangle and size 0 the wanted size is the image's: only a full rectangle fits.
  EXPECT_EQ(RaisedBy(&img, nullptr, 0, 0, &inside), "");
  RECT half{0, 0, 32, 64};
  EXPECT_EQ(RaisedBy(&img, nullptr, 0, 0, &half), "Image stretching relation is not an integer value");
  EXPECT_TRUE(LogHas("* Msg 8100000D: Image file has an invalid format"));
  EXPECT_TRUE(Dev->Textures.empty());
  EXPECT_EQ(Fake.LiveObjects(), 2);  // Direct3D and device: failed textures were released
}

TEST_F(Texture, SourceRectangleSelectsThePixels) {
  TBitmap img = Image(8, 8, [](int x, int y) { return uint32_t(x * 16 + y); });
  RECT r{4, 2, 6, 4};
  std::vector<uint32_t> out(4);
  CopyImageToTexture(&r, img, nullptr, 2, 2, 0, D3DFMT_A8R8G8B8, 8, reinterpret_cast<uint8_t*>(out.data()));
  EXPECT_EQ(out, (std::vector<uint32_t>{0xFF000042, 0xFF000052, 0xFF000043, 0xFF000053}));
  // A 4 x 4 rectangle into 2 x 2 averages inside the rectangle only.
  RECT big{4, 4, 8, 8};
  CopyImageToTexture(&big, img, nullptr, 2, 2, 0, D3DFMT_A8R8G8B8, 8, reinterpret_cast<uint8_t*>(out.data()));
  EXPECT_EQ(out[0], 0xFF000000u | ((0x44 + 0x54 + 0x45 + 0x55) / 4));
}

TEST_F(Texture, ColourKeyIsActiveOnlyWithFullTopByte) {
  TBitmap img = Image(2, 1, [](int x, int) { return x == 0 ? 0x00FF00u : 0x00FE00u; });
  std::vector<uint32_t> out(2);
  auto copy = [&](uint32_t key) {
    CopyImageToTexture(nullptr, img, nullptr, 2, 1, key, D3DFMT_A8R8G8B8, 8, reinterpret_cast<uint8_t*>(out.data()));
  };
  copy(0xFF00FF00);
  EXPECT_EQ(out, (std::vector<uint32_t>{0x0000FF00, 0xFF00FE00}));
  copy(0x0000FF00);
  EXPECT_EQ(out, (std::vector<uint32_t>{0xFF00FF00, 0xFF00FE00}));
  // The box filter compares the averaged texel with the key.
  TBitmap green = Solid(2, 2, 0x00FF00);
  CopyImageToTexture(nullptr, green, nullptr, 1, 1, 0xFF00FF00, D3DFMT_A8R8G8B8, 4, reinterpret_cast<uint8_t*>(out.data()));
  EXPECT_EQ(out[0], 0x0000FF00u);
}

TEST_F(Texture, MaskGivesAlphaThroughItsPalette) {
  TBitmap img = Solid(4, 4, 0x336699);
  TBitmap grey = Solid(4, 4, 0x808080);  // grey 128
  auto argb = Make(img, &grey, 0, 0, {D3DFMT_A8R8G8B8});
  EXPECT_EQ(Texel(argb.get(), 1, 1), 0x80336699u);
  auto a1 = Make(img, &grey, 0, 0, {D3DFMT_A1R5G5B5});
  EXPECT_EQ(Texel(a1.get(), 1, 1) >> 15, 1u);
  TBitmap dark = Solid(4, 4, 0x7F7F7F);
  auto a1dark = Make(img, &dark, 0, 0, {D3DFMT_A1R5G5B5});
  EXPECT_EQ(Texel(a1dark.get(), 1, 1) >> 15, 0u);

  // An indexed mask: alpha = (red + green + blue) / 3 of its palette entry.
  TBitmap indexed;
  indexed.SetPixelFormat(pf8bit);
  indexed.SetSize(4, 4);
  indexed.Palette.assign(256, TPaletteEntry{});
  indexed.Palette[1] = TPaletteEntry{30, 60, 90, 0};
  indexed.ScanLine(2)[3] = 1;
  auto pal = Make(img, &indexed, 0, 0);
  EXPECT_EQ(Texel(pal.get(), 3, 2), 0x3C336699u);
  EXPECT_EQ(Texel(pal.get(), 0, 0), 0x00336699u);
}

TEST_F(Texture, MaskedBoxFilterWeighsColourByAlpha) {
  // Block: two red pixels alpha 255 and 85, two blue pixels alpha 0.
  TBitmap img = Image(2, 2, [](int, int y) { return y == 0 ? 0xFF0000u : 0x0000FFu; });
  TBitmap mask = Image(2, 2, [](int x, int y) { return y == 0 ? (x == 0 ? 0xFFFFFFu : 0x555555u) : 0u; });
  uint32_t out = 0;
  CopyImageToTexture(nullptr, img, &mask, 1, 1, 0, D3DFMT_A8R8G8B8, 4, reinterpret_cast<uint8_t*>(&out));
  EXPECT_EQ(out, uint32_t((255 + 85) / 4) << 24 | 0xFF0000u);
  // No coverage at all: the colour of the block's last pixel, alpha 0.
  TBitmap clear = Solid(2, 2, 0);
  CopyImageToTexture(nullptr, img, &clear, 1, 1, 0, D3DFMT_A8R8G8B8, 4, reinterpret_cast<uint8_t*>(&out));
  EXPECT_EQ(out, 0x000000FFu);
}

TEST_F(Texture, FormatChoiceFallsBackToTheBuiltInList) {
  Fake.Adapters[0].TextureFormats = {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4};
  TBitmap img = Solid(8, 8, 0);
  EXPECT_EQ(Make(img, nullptr, 0, 0, {})->Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(Make(img, nullptr, 0, 0, {D3DFMT_A8, D3DFMT_A4R4G4B4, D3DFMT_A8R8G8B8})->Format, D3DFMT_A4R4G4B4);
  Fake.Adapters[0].TextureFormats = {};
  EXPECT_EQ(RaisedBy(&img, nullptr, 0, 0), "There's no valid texture format available");
  Fake.Adapters[0].TextureFormats = {D3DFMT_A8R8G8B8};
  Fake.Failures["CreateTexture"] = D3DERR_OUTOFVIDEOMEMORY;
  EXPECT_EQ(RaisedBy(&img, nullptr, 0, 0), "Failed to create texture");
  EXPECT_TRUE(LogHas("* Msg 81000003: D3D $8876017C: " + D3DResultDescription(D3DERR_OUTOFVIDEOMEMORY) +
                     " - Failed to create texture 8;8;A8R8G8B8"));
  Fake.Failures = {{"Texture.LockRect", D3DERR_INVALIDCALL}};
  EXPECT_EQ(RaisedBy(&img, nullptr, 0, 0), D3DResultDescription(D3DERR_INVALIDCALL));
  EXPECT_TRUE(Dev->Textures.empty());
  EXPECT_EQ(Fake.LiveObjects(), 2);
}

}  // namespace
