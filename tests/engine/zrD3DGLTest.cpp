// The layer on the real backend (SDL2 + OpenGL), headless: SDL's offscreen driver with Mesa's
// software GL. Frames are read back from the back buffer and checked pixel by pixel; the main
// frame is also written to build/test-frames/ as a BMP for people to look at.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "base/Bitmap.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "engine/zrD3D.h"
#include "platform/D3D8GL.h"
#include "support/TestSupport.h"

// Counts the C++ allocations of this thread while asked to (the frame-loop test below); the
// standard library's operator delete frees with free, which matches. The sanitizers bring their
// own allocator: there the count is left out.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KT_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KT_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef KT_COUNTS_ALLOCATIONS
#define KT_COUNTS_ALLOCATIONS 1
#endif
namespace {
thread_local bool CountAllocations = false;
thread_local long Allocations = 0;
}  // namespace
#if KT_COUNTS_ALLOCATIONS
void* operator new(size_t n) {
  if (CountAllocations) ++Allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
#endif

namespace {

struct TRGB {
  int r, g, b;
};

class GLDevice : public ::testing::Test {
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
    Sprites.clear();
    Dev.reset();
    D3D.reset();
    if (Window) {
      D3DWindowClosed(Window);
      SDL_DestroyWindow(Window);
    }
    SetLogFile("");
  }

  TzrD3Device8& Open(D3DFORMAT format, bool windowed = false) {
    TzrD3DDeviceInfo* info = D3D->GetAdapter(0)->GetDevice(0);
    TzrD3DMode mode;
    bool found = false;
    for (const TzrD3DMode& m : info->Modes)
      if (m.Width == 800 && m.Height == 600 && m.Format == format) {
        mode = m;
        found = true;
      }
    EXPECT_TRUE(found) << "no 800 x 600 mode in " << FormatName(format);
    if (windowed) mode = TzrD3DMode{800, 600, format, info->WindowedMode.Behavior, 0};
    Dev = std::make_unique<TzrD3Device8>(info, Window, Window, windowed, mode);
    Dev->LostRetryDelayMs = 0;
    return *Dev;
  }

  // The whole back buffer as 0x00RRGGBB values.
  std::vector<uint32_t> ReadBack() {
    TComPtr<IDirect3DSurface8> bb = Dev->GetBackBuffer();
    D3DSURFACE_DESC desc;
    bb->GetDesc(&desc);
    D3DLOCKED_RECT lr;
    EXPECT_EQ(bb->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<uint32_t> px(size_t(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y)
      for (UINT x = 0; x < desc.Width; ++x) {
        const uint8_t* p = static_cast<const uint8_t*>(lr.pBits) + y * lr.Pitch;
        uint32_t v;
        if (desc.Format == D3DFMT_R5G6B5) {
          uint16_t s;
          std::memcpy(&s, p + x * 2, 2);
          uint32_t r = (s >> 11) & 31, g = (s >> 5) & 63, b = s & 31;
          v = (r * 255 / 31) << 16 | (g * 255 / 63) << 8 | (b * 255 / 31);
        } else {
          std::memcpy(&v, p + x * 4, 4);
          v &= 0xFFFFFF;
        }
        px[y * desc.Width + x] = v;
      }
    bb->UnlockRect();
    Width = int(desc.Width);
    return px;
  }
  static TRGB RGB(uint32_t v) { return TRGB{int(v >> 16 & 255), int(v >> 8 & 255), int(v & 255)}; }
  void ExpectPixel(const std::vector<uint32_t>& px, int x, int y, TRGB want, int tolerance, const char* what) {
    TRGB got = RGB(px[size_t(y) * Width + x]);
    EXPECT_TRUE(std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
                std::abs(got.b - want.b) <= tolerance)
        << what << " at " << x << "," << y << ": got " << got.r << "," << got.g << "," << got.b
        << " want " << want.r << "," << want.g << "," << want.b;
  }
  void SaveFrame(const std::vector<uint32_t>& px, const std::string& name) {
    std::string dir = std::string(KT_BINARY_DIR) + "/test-frames/";
    ForceDirectories(dir);
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(Width, int(px.size()) / Width);
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < Width; ++x) b.SetPixelRGB(x, y, px[size_t(y) * Width + x]);
    b.SaveToFile(dir + name);
  }

  // A texture from f(x, y) -> 0xAARRGGBB, the alpha given as the mask.
  template <class F>
  int Texture(int size, F f, D3DFORMAT format = D3DFMT_A8R8G8B8) {
    TBitmap img, mask;
    img.SetPixelFormat(pf32bit);
    img.SetSize(size, size);
    mask.SetPixelFormat(pf32bit);
    mask.SetSize(size, size);
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        uint32_t p = f(x, y);
        img.SetPixelRGB(x, y, p & 0xFFFFFF);
        mask.SetPixelRGB(x, y, (p >> 24) * 0x010101u);
      }
    new TzrD3DTexture8(Dev.get(), nullptr, &img, &mask, 0, 0, 0, 1, &format);
    return int(Dev->Textures.size()) - 1;
  }
  // An image surface in the back buffer's format from f(x, y) -> 0x00RRGGBB, copied to (x, y).
  template <class F>
  void Picture(int w, int h, F f, const POINT* at = nullptr) {
    D3DFORMAT fmt = Dev->PresentParams.BackBufferFormat;
    TComPtr<IDirect3DSurface8> s;
    ASSERT_EQ(Dev->Device->CreateImageSurface(UINT(w), UINT(h), fmt, s.Receive()), D3D_OK);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(s->LockRect(&lr, nullptr, 0), D3D_OK);
    for (int y = 0; y < h; ++y) {
      uint8_t* row = static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch;
      for (int x = 0; x < w; ++x) PackPixel(row, f(x, y), fmt);
    }
    ASSERT_EQ(s->UnlockRect(), D3D_OK);
    TComPtr<IDirect3DSurface8> bb = Dev->GetBackBuffer();
    RECT all{0, 0, w, h};
    ASSERT_EQ(Dev->Device->CopyRects(s.Get(), at ? &all : nullptr, at ? 1 : 0, bb.Get(), at), D3D_OK);
  }

  SDL_Window* Window = nullptr;
  std::unique_ptr<TzrD3D8> D3D;
  std::unique_ptr<TzrD3Device8> Dev;
  std::vector<TzrD3DSprite*> Sprites;
  int Width = 0;
};

// Four quadrants: red top-left, green top-right, blue bottom-left, white bottom-right.
uint32_t Quadrants(int x, int y) {
  static const uint32_t q[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
  return q[(y >= 32) * 2 + (x >= 32)];
}

class GLFrame : public GLDevice, public ::testing::WithParamInterface<D3DFORMAT> {};

TEST_P(GLFrame, TexturedColouredRotatedMirroredQuadsAndAdditivePoints) {
  const D3DFORMAT format = GetParam();
  TzrD3Device8& dev = Open(format);
  EXPECT_EQ(dev.PresentParams.BackBufferFormat, format);
  const int quads = Texture(64, Quadrants);
  const int white = Texture(16, [](int, int) { return 0xFFFFFFFFu; });
  // Colour with alpha 0 still adds its colour (premultiplied); half alpha halves the background.
  const int ghost = Texture(16, [](int x, int) { return x < 8 ? 0x00400000u : 0x80404040u; });
  const int dot = Texture(16, [](int, int) { return 0xFFFFFFFFu; });
  auto* qr = new TzrD3DQuadRenderer(&dev, 1000);
  auto* pr = new TzrD3DPointRenderer(&dev, 5000, dot);
  pr->Additive = true;
  auto* sprite = new TzrD3DSprite(qr, quads, nullptr, nullptr, 0, 0, 10);

  ASSERT_EQ(dev.BeginScene(), D3D_OK);
  // Background: an image surface copied to the back buffer, grey 0x60 with a blue band.
  Picture(800, 600, [](int, int y) { return y >= 560 ? 0x000080u : 0x606060u; });
  sprite->Draw(nullptr, {100, 100}, 0, nullptr);                       // plain at 100..164
  TzrVector2 mirror{-1, 1};
  sprite->Draw(&mirror, {300, 100}, 0, nullptr);                       // mirrored at 236..300
  sprite->Draw(nullptr, {500, 100}, float(M_PI / 2), nullptr);         // turned: pivot top-left
  TzrVector2 twice{2, 2};
  sprite->Draw(&twice, {600, 300}, 0, nullptr, 3);                     // 128 x 128, linear filter
  const uint32_t tint[4] = {0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF};
  const TzrVector2 size{40, 40};
  qr->AddQuad(white, nullptr, &size, nullptr, 0, {100, 300}, tint, 5); // blue by vertex colour
  const uint32_t half[4] = {0x80808080, 0x80808080, 0x80808080, 0x80808080};
  qr->AddQuad(white, nullptr, &size, nullptr, 0, {200, 300}, half, 5); // premultiplied half white
  const TzrVector2 ghostSize{64, 32};
  qr->AddQuad(ghost, nullptr, &ghostSize, nullptr, 0, {300, 300}, nullptr, 5);
  for (int i = 0; i < 2; ++i) pr->AddPoint(420, 420, 16, 0xFF400000);  // twice: adds 0x80 red
  pr->AddPoint(460, 420, 16, 0xFF004000);
  for (int i = 0; i < 200; ++i)
    pr->AddPoint(float(100 + (i * 37) % 600), float(480 + (i * 13) % 60), 6, 0xFF101010u * uint32_t(1 + i % 6));
  dev.RenderAll();
  ASSERT_EQ(dev.EndScene(), D3D_OK);
  dev.Present();
  EXPECT_FALSE(dev.Lost);

  std::vector<uint32_t> px = ReadBack();
  SaveFrame(px, std::string("d3d_frame_") + FormatName(format) + ".bmp");
  const int tol = format == D3DFMT_R5G6B5 ? 9 : 2;
  const TRGB bg{0x60, 0x60, 0x60}, red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, wh{255, 255, 255};
  ExpectPixel(px, 50, 50, bg, tol, "background");
  ExpectPixel(px, 400, 580, {0, 0, 0x80}, tol, "background band");
  // Plain sprite: texels land exactly on pixels (top-left at 100, 100).
  ExpectPixel(px, 100, 100, red, tol, "plain top-left texel");
  ExpectPixel(px, 131, 131, red, tol, "plain red edge");
  ExpectPixel(px, 132, 100, green, tol, "plain green");
  ExpectPixel(px, 100, 132, blue, tol, "plain blue");
  ExpectPixel(px, 163, 163, wh, tol, "plain white corner");
  ExpectPixel(px, 164, 164, bg, tol, "plain outside");
  ExpectPixel(px, 99, 99, bg, tol, "plain outside top-left");
  // Mirrored: red on the right, still drawn (not culled).
  ExpectPixel(px, 290, 110, red, tol, "mirrored red");
  ExpectPixel(px, 245, 110, green, tol, "mirrored green");
  // Turned a quarter clockwise around its top-left: red goes to the top-right of 436..500.
  ExpectPixel(px, 490, 110, red, tol, "turned red");
  ExpectPixel(px, 445, 110, blue, tol, "turned blue");
  ExpectPixel(px, 490, 150, green, tol, "turned green");
  // Scaled two times.
  ExpectPixel(px, 610, 310, red, tol, "scaled red");
  ExpectPixel(px, 715, 415, wh, tol, "scaled white");
  // Vertex colours modulate; half-alpha premultiplied white over grey: 0x80 + 0x60 / 2.
  ExpectPixel(px, 120, 320, blue, tol, "tinted");
  ExpectPixel(px, 220, 320, {0x80 + 0x30, 0x80 + 0x30, 0x80 + 0x30}, tol + 1, "half white");
  // Alpha 0 adds its colour; alpha 0x80 with 0x40 grey: 0x40 + 0x60 / 2.
  ExpectPixel(px, 310, 310, {0x60 + 0x40, 0x60, 0x60}, tol + 1, "alpha 0 adds");
  ExpectPixel(px, 350, 310, {0x40 + 0x30, 0x40 + 0x30, 0x40 + 0x30}, tol + 1, "half alpha");
  // Additive points: two of 0x40 red over grey.
  ExpectPixel(px, 420, 420, {0x60 + 0x80, 0x60, 0x60}, tol + 1, "additive point");
  ExpectPixel(px, 460, 420, {0x60, 0x60 + 0x40, 0x60}, tol + 1, "additive green point");
  ExpectPixel(px, 420, 430, bg, tol, "point edge");
  // Blending is back to normal after the points.
  DWORD destBlend = 0;
  dev.Device->GetRenderState(D3DRS_DESTBLEND, &destBlend);
  EXPECT_EQ(destBlend, DWORD(D3DBLEND_INVSRCALPHA));
}

INSTANTIATE_TEST_SUITE_P(BothFormats, GLFrame, ::testing::Values(D3DFMT_X8R8G8B8, D3DFMT_R5G6B5),
                         [](const auto& info) { return FormatName(info.param); });

TEST_F(GLDevice, EnumerationReportsWhatTheBackendDoes) {
  TzrD3DAdapterInfo* a = D3D->GetAdapter(0);
  TzrD3DDeviceInfo* info = a->GetDevice(0);
  EXPECT_TRUE(info->CanDoWindowed);
  EXPECT_TRUE(info->Caps.DevCaps & D3DDEVCAPS_DRAWPRIMTLVERTEX);
  EXPECT_TRUE(info->Caps.SrcBlendCaps & D3DPBLENDCAPS_ONE);
  EXPECT_TRUE(info->Caps.DestBlendCaps & D3DPBLENDCAPS_INVSRCALPHA);
  EXPECT_TRUE(info->Caps.TextureOpCaps & D3DTEXOPCAPS_MODULATE);
  EXPECT_GE(info->Caps.MaxTextureWidth, 2048u);
  for (const TzrD3DMode& m : info->Modes) {
    EXPECT_EQ(m.Behavior, DWORD(D3DCREATE_SOFTWARE_VERTEXPROCESSING));
    EXPECT_TRUE(m.Format == D3DFMT_X8R8G8B8 || m.Format == D3DFMT_R5G6B5);
  }
  EXPECT_EQ(a->MonitorInfo, D3D->GetMonitor(0));
  EXPECT_EQ(D3D->GetMonitor(0)->Monitor, 1u);
  for (D3DFORMAT f = D3DFMT_R8G8B8; f <= D3DFMT_X4R4G4B4; ++f) {
    Open(D3DFMT_X8R8G8B8);
    EXPECT_TRUE(Dev->SupportsTextureFormat(f)) << f;
    Dev.reset();
  }
}

TEST_F(GLDevice, EveryTextureFormatKeepsItsBytesAndDrawsItsColour) {
  TzrD3Device8& dev = Open(D3DFMT_X8R8G8B8, true);
  auto* qr = new TzrD3DQuadRenderer(&dev, 100);
  dev.TextureFilter = D3DTEXF_POINT;
  const uint32_t p = 0x9CC86432;  // a, r, g, b
  struct Case {
    D3DFORMAT f;
    int abits, rbits, gbits, bbits;  // channel widths as stored
  } cases[] = {{20, 0, 8, 8, 8}, {21, 8, 8, 8, 8}, {22, 0, 8, 8, 8}, {23, 0, 5, 6, 5}, {24, 0, 5, 5, 5},
               {25, 1, 5, 5, 5}, {26, 4, 4, 4, 4}, {27, 0, 3, 3, 2}, {28, 8, -1, -1, -1}, {29, 8, 3, 3, 2},
               {30, 0, 4, 4, 4}};
  std::vector<int> index;
  for (const Case& c : cases) {
    TBitmap img, mask;
    img.SetPixelFormat(pf32bit);
    img.SetSize(4, 4);
    mask.SetPixelFormat(pf32bit);
    mask.SetSize(4, 4);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) {
        img.SetPixelRGB(x, y, p & 0xFFFFFF);
        mask.SetPixelRGB(x, y, (p >> 24) * 0x010101u);
      }
    auto* t = new TzrD3DTexture8(&dev, nullptr, &img, &mask, 0, 0, 0, 1, &c.f);
    ASSERT_EQ(t->Format, c.f);
    // Memory holds exactly the packed pixel.
    D3DLOCKED_RECT lr;
    ASSERT_EQ(t->Texture->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint8_t want[4] = {}, *w = want;
    PackPixel(w, p, c.f);
    EXPECT_EQ(std::memcmp(static_cast<uint8_t*>(lr.pBits) + lr.Pitch * 3 + 3 * D3DFormatBytes(c.f), want,
                          size_t(D3DFormatBytes(c.f))), 0) << c.f;
    t->Texture->UnlockRect(0);
    index.push_back(int(dev.Textures.size()) - 1);
  }
  Dev->BeginScene();
  Picture(800, 600, [](int, int) { return 0x404040u; });
  const TzrVector2 size{20, 20};
  for (size_t i = 0; i < std::size(cases); ++i)
    qr->AddQuad(index[i], nullptr, &size, nullptr, 0, {float(40 * i + 10), 10}, nullptr, 0);
  dev.RenderAll();
  dev.EndScene();
  std::vector<uint32_t> px = ReadBack();
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    auto expand = [](uint32_t v8, int bits) {
      if (bits <= 0) return bits == 0 ? 255.0 : 0.0;  // missing alpha reads 1, A8 colour 0
      uint32_t v = v8 >> (8 - bits);
      return std::round(v * 255.0 / ((1 << bits) - 1));
    };
    double a = expand(p >> 24, c.abits) / 255.0;
    double r = expand(p >> 16 & 255, c.rbits), g = expand(p >> 8 & 255, c.gbits), b = expand(p & 255, c.bbits);
    // Premultiplied over the 0x40 grey background.
    TRGB want{int(std::lround(std::min(255.0, r + 0x40 * (1 - a)))),
              int(std::lround(std::min(255.0, g + 0x40 * (1 - a)))),
              int(std::lround(std::min(255.0, b + 0x40 * (1 - a))))};
    ExpectPixel(px, int(40 * i + 20), 20, want, 2, FormatName(c.f).c_str());
  }
}

TEST_F(GLDevice, BackBufferKeepsItsContentsAcrossPresents) {
  TzrD3Device8& dev = Open(D3DFMT_X8R8G8B8);
  auto* qr = new TzrD3DQuadRenderer(&dev, 10);
  const int white = Texture(4, [](int, int) { return 0xFFFFFFFFu; });
  const TzrVector2 size{50, 50};
  dev.BeginScene();
  qr->AddQuad(white, nullptr, &size, nullptr, 0, {10, 10}, nullptr, 0);
  dev.RenderAll();
  dev.EndScene();
  dev.Present();
  for (int frame = 0; frame < 2; ++frame) {
    dev.BeginScene();
    dev.RenderAll();
    dev.EndScene();
    dev.Present();
    dev.FlushScene();
  }
  std::vector<uint32_t> px = ReadBack();
  ExpectPixel(px, 30, 30, {255, 255, 255}, 0, "kept");
  ExpectPixel(px, 70, 70, {0, 0, 0}, 0, "untouched");

  // Writing through a lock lands in the back buffer.
  TComPtr<IDirect3DSurface8> bb = dev.GetBackBuffer();
  RECT r{700, 500, 702, 501};
  D3DLOCKED_RECT lr;
  ASSERT_EQ(bb->LockRect(&lr, &r, 0), D3D_OK);
  const uint32_t two[2] = {0x00123456, 0x00ABCDEF};
  std::memcpy(lr.pBits, two, 8);
  ASSERT_EQ(bb->UnlockRect(), D3D_OK);
  bb.Reset();
  px = ReadBack();
  ExpectPixel(px, 700, 500, RGB(0x123456), 0, "written");
  ExpectPixel(px, 701, 500, RGB(0xABCDEF), 0, "written");
  ExpectPixel(px, 702, 500, {0, 0, 0}, 0, "beside");
}

// Once the first frames have set everything up, a pass of the frame loop (draw quads and smoke
// points, present, then finish the frame with the one-pixel back-buffer read) allocates nothing.
TEST_F(GLDevice, TheFrameLoopAllocatesNothingPerFrame) {
  if (!KT_COUNTS_ALLOCATIONS) GTEST_SKIP() << "a sanitizer's allocator";
  for (D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
    SCOPED_TRACE(FormatName(format));
    TzrD3Device8& dev = Open(format);
    auto* qr = new TzrD3DQuadRenderer(&dev, 64);
    const int white = Texture(4, [](int, int) { return 0xFFFFFFFFu; });
    auto* pr = new TzrD3DPointRenderer(&dev, 64, white);
    const TzrVector2 size{20, 20};
    auto frame = [&](int n) {
      dev.BeginScene();
      for (int i = 0; i < 10; ++i) qr->AddQuad(white, nullptr, &size, nullptr, i % 3, {10.0f + 30 * i, 10.0f + n % 7}, nullptr, 0);
      for (int i = 0; i < 20; ++i) pr->AddPoint(100.0f + 7 * i, 300.0f, 4.0f + i, 0x80808080u);
      dev.RenderAll();
      dev.EndScene();
      dev.Present();
      dev.FlushScene();
    };
    for (int n = 0; n < 5; ++n) frame(n);
    Allocations = 0;
    CountAllocations = true;
    for (int n = 5; n < 25; ++n) frame(n);
    CountAllocations = false;
    EXPECT_EQ(Allocations, 0);
    Dev.reset();
  }
}

TEST_F(GLDevice, ImageSurfacesCopyRectanglesOfTheirOwnFormat) {
  TzrD3Device8& dev = Open(D3DFMT_R5G6B5);
  TComPtr<IDirect3DSurface8> img, wrong;
  ASSERT_EQ(dev.Device->CreateImageSurface(4, 4, D3DFMT_R5G6B5, img.Receive()), D3D_OK);
  ASSERT_EQ(dev.Device->CreateImageSurface(4, 4, D3DFMT_X8R8G8B8, wrong.Receive()), D3D_OK);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(img->LockRect(&lr, nullptr, 0), D3D_OK);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      uint8_t* d = static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 2;
      PackPixel(d, y < 2 ? 0xF80000 : 0x00FC00, D3DFMT_R5G6B5);
    }
  img->UnlockRect();
  TComPtr<IDirect3DSurface8> bb = dev.GetBackBuffer();
  RECT bottomHalf{0, 2, 4, 4};
  POINT at{600, 10};
  EXPECT_EQ(dev.Device->CopyRects(img.Get(), &bottomHalf, 1, bb.Get(), &at), D3D_OK);
  EXPECT_EQ(dev.Device->CopyRects(img.Get(), nullptr, 0, bb.Get(), nullptr), D3D_OK);
  EXPECT_EQ(dev.Device->CopyRects(wrong.Get(), nullptr, 0, bb.Get(), nullptr), D3DERR_INVALIDCALL);
  POINT outside{798, 0};
  EXPECT_EQ(dev.Device->CopyRects(img.Get(), &bottomHalf, 1, bb.Get(), &outside), D3DERR_INVALIDCALL);
  bb.Reset();
  std::vector<uint32_t> px = ReadBack();
  ExpectPixel(px, 0, 0, {255, 0, 0}, 0, "whole image top");
  ExpectPixel(px, 3, 3, {0, 255, 0}, 0, "whole image bottom");
  ExpectPixel(px, 600, 10, {0, 255, 0}, 0, "rectangle at its point");
  ExpectPixel(px, 603, 11, {0, 255, 0}, 0, "rectangle at its point");
  ExpectPixel(px, 600, 12, {0, 0, 0}, 0, "below the rectangle");
}

TEST_F(GLDevice, FullScreenDeviceIsLostWhileTheWindowIsInactive) {
  TzrD3Device8& dev = Open(D3DFMT_X8R8G8B8);
  auto* qr = new TzrD3DQuadRenderer(&dev, 10);
  const int white = Texture(4, [](int, int) { return 0xFFFFFFFFu; });
  const TzrVector2 size{20, 20};
  auto frame = [&] {
    dev.BeginScene();
    qr->AddQuad(white, nullptr, &size, nullptr, 0, {100, 100}, nullptr, 0);
    dev.RenderAll();
    dev.EndScene();
    dev.Present();
  };
  frame();
  EXPECT_EQ(dev.Device->TestCooperativeLevel(), D3D_OK);
  struct Case {
    bool focused, minimised;
  } inactive[] = {{false, false}, {true, true}};
  for (const Case& c : inactive) {
    D3DWindowFocusChanged(Window, c.focused);
    D3DWindowMinimizedChanged(Window, c.minimised);
    frame();  // the present finds the loss
    EXPECT_TRUE(dev.Lost);
    EXPECT_FALSE(qr->VertexBuffer);
    EXPECT_EQ(dev.Device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    frame();
    EXPECT_TRUE(dev.Lost);
    EXPECT_EQ(qr->QuadCount, 0);
    D3DWindowFocusChanged(Window, true);
    D3DWindowMinimizedChanged(Window, false);
    EXPECT_EQ(dev.Device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_TRUE(dev.CheckDevice());
    EXPECT_FALSE(dev.Lost);
    EXPECT_EQ(dev.Device->TestCooperativeLevel(), D3D_OK);
    frame();
    std::vector<uint32_t> px = ReadBack();
    ExpectPixel(px, 110, 110, {255, 255, 255}, 0, "drawn after the reset");
  }
}

TEST_F(GLDevice, WindowedDeviceIgnoresFocus) {
  TzrD3Device8& dev = Open(D3DFMT_X8R8G8B8, true);
  D3DWindowFocusChanged(Window, false);
  dev.BeginScene();
  dev.RenderAll();
  dev.EndScene();
  dev.Present();
  EXPECT_FALSE(dev.Lost);
  EXPECT_EQ(dev.Device->TestCooperativeLevel(), D3D_OK);
}

TEST_F(GLDevice, ResetRefusesWhileDefaultPoolBuffersLive) {
  TzrD3Device8& dev = Open(D3DFMT_X8R8G8B8);
  new TzrD3DQuadRenderer(&dev, 10);
  dev.RenderAll();  // creates the default-pool buffers
  EXPECT_EQ(dev.Device->Reset(&dev.PresentParams), D3DERR_INVALIDCALL);
  dev.ReleaseAll();
  EXPECT_EQ(dev.Device->Reset(&dev.PresentParams), D3D_OK);
}

}  // namespace
