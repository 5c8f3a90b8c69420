#include <gtest/gtest.h>

#include <cstdio>

#include <jpeglib.h>

#include "engine/ImageLoader.h"
#include "engine/PngCodec.h"
#include "support/TestSupport.h"

namespace {
std::string JpegBytes(int w, int h) {
  std::vector<uint8_t> rgb(std::size_t(w) * h * 3);
  for (int i = 0; i < w * h; ++i) rgb[std::size_t(i) * 3] = i % w < w / 2 ? 250 : 5;
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = rgb.data() + std::size_t(c.next_scanline) * std::size_t(w) * 3;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::string out(reinterpret_cast<char*>(mem), size);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}

std::string BmpBytes() {
  TBitmap b;
  b.SetPixelFormat(pf8bit);
  b.SetSize(6, 4);
  b.Palette.assign(256, {});
  b.Palette[7] = {1, 2, 3, 0};
  b.ScanLine(2)[5] = 7;
  TStringStream s;
  b.SaveToStream(s);
  return s.DataString;
}
}  // namespace

TEST(ImageLoader, PngThenJpegThenBmpFromWhereTheStreamStands) {
  const std::string prefix = "some bytes before the picture";
  const std::string png = ReadAll(std::string(KT_FIXTURES) + "/png/c3d8n.png");
  struct Case {
    const char* Name;
    std::string Bytes;
    bool IsPng;
    int W, H;
  } cases[] = {
      {"png", png, true, 37, 23},
      {"jpeg", JpegBytes(24, 10), false, 24, 10},
      {"bmp", BmpBytes(), false, 6, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TStringStream s(prefix + c.Bytes);
    s.SetPosition(int64_t(prefix.size()));
    std::unique_ptr<TBitmap> b = LoadPNGFromStream(&s);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(dynamic_cast<TPNGImage*>(b.get()) != nullptr, c.IsPng);
    EXPECT_EQ(b->Width(), c.W);
    EXPECT_EQ(b->Height(), c.H);
  }
  TStringStream j(JpegBytes(24, 10));
  auto jb = LoadPNGFromStream(&j);
  ASSERT_NE(jb, nullptr);
  EXPECT_EQ(jb->PixelFormat(), pf24bit);
  EXPECT_GT(jb->PixelRGB(2, 5) >> 16, 200u);  // red on the left
  EXPECT_LT(jb->PixelRGB(20, 5) >> 16, 50u);
  TStringStream bm(BmpBytes());
  auto bb = LoadPNGFromStream(&bm);
  ASSERT_NE(bb, nullptr);
  EXPECT_EQ(bb->PixelFormat(), pf8bit);
  EXPECT_EQ(bb->PixelRGB(5, 2), 0x010203u);
}

TEST(ImageLoader, NothingForNoStreamOrForeignOrBrokenData) {
  EXPECT_EQ(LoadPNGFromStream(nullptr), nullptr);
  std::string png = ReadAll(std::string(KT_FIXTURES) + "/png/c2d8n.png");
  for (const std::string& bytes : {std::string(), std::string("plain text, no picture"), png.substr(0, 200),
                                   std::string("BM") + std::string(60, '\x7f')}) {
    TStringStream s(bytes);
    EXPECT_EQ(LoadPNGFromStream(&s), nullptr);
  }
}
