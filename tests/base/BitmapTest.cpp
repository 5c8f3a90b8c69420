#include <gtest/gtest.h>

#include <cstring>

#include "base/Bitmap.h"
#include "base/Streams.h"

TEST(Bitmap, FormatConversionsKeepColoursAndRowsArePadded) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(3, 2);
  EXPECT_EQ(b.RowBytes(), 12);  // 9 bytes padded to 12
  b.SetPixelRGB(0, 0, 0x102030);
  b.SetPixelRGB(2, 1, 0xFFFFFF);
  b.SetPixelFormat(pf32bit);
  EXPECT_EQ(b.RowBytes(), 12);
  uint32_t w0;
  std::memcpy(&w0, b.ScanLine(0), 4);
  EXPECT_EQ(w0, 0x00102030u);
  EXPECT_EQ(b.PixelRGB(2, 1), 0xFFFFFFu);
  // Colour to 8 bits: a grey palette, index = average of the channels.
  b.SetPixelFormat(pf8bit);
  EXPECT_EQ(b.Palette.size(), 256u);
  EXPECT_EQ(b.ScanLine(0)[0], (0x10 + 0x20 + 0x30) / 3);
  EXPECT_EQ(b.ScanLine(1)[2], 255);
  EXPECT_THROW(b.ScanLine(2), EInvalidGraphic);
  EXPECT_THROW(b.SetSize(TBitmap::kMaxSide + 1, 1), EInvalidGraphic);
}

TEST(Bitmap, IndexedPixelsAndBmpRoundTrip) {
  TBitmap b;
  b.SetPixelFormat(pf4bit);
  b.SetSize(5, 3);
  b.Palette = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}};
  b.ScanLine(1)[0] = 0x12;  // pixels (0,1)=1 (1,1)=2
  EXPECT_EQ(b.PixelRGB(0, 1), 0xFF0000u);
  EXPECT_EQ(b.PixelRGB(1, 1), 0x00FF00u);
  TMemoryStream m;
  b.SaveToStream(m);
  m.SetPosition(0);
  TBitmap c;
  c.LoadFromStream(m);
  EXPECT_EQ(c.Width(), 5);
  EXPECT_EQ(c.PixelFormat(), pf4bit);
  EXPECT_EQ(c.PixelRGB(1, 1), 0x00FF00u);
  c.SetPixelFormat(pf24bit);
  EXPECT_EQ(c.PixelRGB(0, 1), 0xFF0000u);
  // A height of -2^31 (top-down with no positive size) is rejected.
  {
    TMemoryStream t;
    t.WriteBuffer(m.Memory(), int32_t(m.GetSize()));
    const uint8_t minHeight[4] = {0, 0, 0, 0x80};
    std::memcpy(t.Memory() + 22, minHeight, 4);
    t.SetPosition(0);
    EXPECT_THROW(c.LoadFromStream(t), EInvalidGraphic);
  }
  // Truncated and foreign data are rejected, not read past.
  for (int64_t cut : {int64_t(10), int64_t(60), m.GetSize() - 1}) {
    TMemoryStream t;
    t.WriteBuffer(m.Memory(), int32_t(cut));
    t.SetPosition(0);
    EXPECT_THROW(c.LoadFromStream(t), EInvalidGraphic) << cut;
  }
}

TEST(Jpeg, DamagedDataRaises) {
  TStringStream s(std::string("\xFF\xD8\xFF\xE0garbage", 11));
  TJPEGImage j;
  EXPECT_THROW(j.LoadFromStream(s), EJPEG);
  TStringStream e;
  EXPECT_THROW(j.LoadFromStream(e), EJPEG);
}

#include <jpeglib.h>

TEST(Jpeg, DecodesToBgrBitmap) {
  // Encode a red/blue split picture with libjpeg, then decode it through TJPEGImage.
  const int w = 32, h = 16;
  std::vector<uint8_t> rgb(w * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(y * w + x) * 3];
      p[0] = x < 16 ? 255 : 0;
      p[2] = x < 16 ? 0 : 255;
    }
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = &rgb[c.next_scanline * w * 3];
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  TStringStream s(std::string("pre") + std::string(reinterpret_cast<char*>(mem), size));
  free(mem);
  s.SetPosition(3);  // decoding starts at the stream's position
  TJPEGImage j;
  j.LoadFromStream(s);
  ASSERT_EQ(j.Width(), w);
  ASSERT_EQ(j.Height(), h);
  TBitmap b;
  j.AssignTo(b);
  uint32_t left = b.PixelRGB(4, 8), right = b.PixelRGB(28, 8);
  EXPECT_GT((left >> 16) & 255, 200u);
  EXPECT_LT(left & 255, 60u);
  EXPECT_GT(right & 255, 200u);
  EXPECT_LT((right >> 16) & 255, 60u);
}

// Pixel memory is kept from one large bitmap to the next: a new size still reads as zeros,
// and a bitmap sized for overwriting gets the room without a copy of the old pixels' values
// mattering.
TEST(Bitmap, NewSizesAreClearedEvenOnReusedMemory) {
  for (int round = 0; round < 2; ++round) {
    {
      TBitmap old;
      old.SetPixelFormat(pf24bit);
      old.SetSize(300, 300);
      for (int y = 0; y < old.Height(); ++y) std::memset(old.ScanLine(y), 0xAB, std::size_t(old.RowBytes()));
      TBitmap copy = old;  // copies keep their own pixels
      EXPECT_EQ(copy.ScanLine(299)[899], 0xAB);
    }
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(300, 300);
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.RowBytes(); ++x) ASSERT_EQ(b.ScanLine(y)[x], 0) << x << "," << y;
    TBitmap o;
    o.SetSizeForOverwrite(17, 3);
    EXPECT_EQ(o.RowBytes(), 52);
    EXPECT_NO_THROW(o.ScanLine(2)[51] = 1);
  }
}
