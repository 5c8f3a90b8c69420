#pragma once
// TBitmap: the device-independent bitmap of the class library, as the image code needs it.
// Rows are stored top-down, each padded to a multiple of 4 bytes. Pixel layouts per row:
//   pf1bit  8 pixels a byte, most significant bit first (palette index)
//   pf4bit  2 pixels a byte, high nibble first (palette index)
//   pf8bit  one palette index a byte
//   pf24bit blue, green, red
//   pf32bit blue, green, red, reserved (a row read as 32-bit words gives 0x00RRGGBB)
// Changing the pixel format converts the pixels. Colours (TColor) are 0x00BBGGRR.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Exceptions.h"

class TStream;

KT_DECLARE_EXCEPTION(EInvalidGraphic, Exception)

// The pixel memory of a bitmap. A new size leaves the bytes unset (rows that are written whole
// right away need no clearing first), and the memory of the last large buffer freed on the
// thread is kept for the next one: images are loaded one after another, and memory handed back
// to the system costs a page fault per page when the next image takes it again.
class TPixelBuffer {
public:
  TPixelBuffer() = default;
  TPixelBuffer(const TPixelBuffer& other);
  TPixelBuffer(TPixelBuffer&& other) noexcept;
  TPixelBuffer& operator=(const TPixelBuffer& other);
  TPixelBuffer& operator=(TPixelBuffer&& other) noexcept;
  ~TPixelBuffer() { Release(); }
  // n bytes, all unset.
  void Resize(std::size_t n);
  uint8_t* data() { return P; }
  const uint8_t* data() const { return P; }
  std::size_t size() const { return N; }

private:
  void Release() noexcept;
  uint8_t* P = nullptr;
  std::size_t N = 0, Cap = 0;
};

enum TPixelFormat { pf1bit, pf4bit, pf8bit, pf24bit, pf32bit };

struct TPaletteEntry {
  uint8_t Red = 0, Green = 0, Blue = 0, Flags = 0;
  bool operator==(const TPaletteEntry&) const = default;
};

class TBitmap {
public:
  // Largest image we accept; larger sizes raise EInvalidGraphic instead of allocating.
  static constexpr int kMaxSide = 16384;
  static constexpr int64_t kMaxPixels = int64_t(1) << 26;

  TBitmap() = default;
  // Picture classes derive from the bitmap and may be owned through it.
  virtual ~TBitmap() = default;
  TBitmap(const TBitmap&) = default;
  TBitmap(TBitmap&&) = default;
  TBitmap& operator=(const TBitmap&) = default;
  TBitmap& operator=(TBitmap&&) = default;
  int Width() const { return W; }
  int Height() const { return H; }
  TPixelFormat PixelFormat() const { return Format; }
  static int BitsPerPixel(TPixelFormat f);
  int RowBytes() const { return Stride; }

  // New size; the pixels are cleared to 0.
  void SetSize(int width, int height);
  // New size with the pixels left unset, for decoders that write every byte of every row
  // (padding included) before anyone reads them.
  void SetSizeForOverwrite(int width, int height);
  void SetWidth(int width) { SetSize(width, H); }
  void SetHeight(int height) { SetSize(W, height); }
  // Converts the pixels. Indexed to colour goes through the palette; colour to 8 bits gives a
  // grey palette (index = (red + green + blue) / 3); colour to 1 or 4 bits thresholds that grey.
  void SetPixelFormat(TPixelFormat f);

  uint8_t* ScanLine(int y);  // EInvalidGraphic for a row outside the image
  const uint8_t* ScanLine(int y) const;

  // 0x00RRGGBB of pixel (x, y), through the palette for indexed formats.
  uint32_t PixelRGB(int x, int y) const;
  void SetPixelRGB(int x, int y, uint32_t rgb);  // colour formats only

  std::vector<TPaletteEntry> Palette;  // indexed formats; up to 2^bits entries
  bool Transparent = false;
  uint32_t TransparentColor = 0;  // TColor 0x00BBGGRR

  virtual void Assign(const TBitmap& other) { *this = other; }

  // BMP files: 1, 4, 8, 24 and 32 bits, uncompressed (32-bit bit fields accepted), either row
  // order. Damaged data raises EInvalidGraphic "Bitmap image is not valid".
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void SaveToFile(const std::string& fileName) const;

private:
  int W = 0, H = 0;
  TPixelFormat Format = pf24bit;
  int Stride = 0;
  TPixelBuffer Bits;
  void Resize(int width, int height);
};

// A JPEG picture decoded with libjpeg. Errors raise EJPEG with the library's message.
KT_DECLARE_EXCEPTION(EJPEG, EInvalidGraphic)

class TJPEGImage {
public:
  // Decodes from the stream's position to its end.
  void LoadFromStream(TStream& stream);
  int Width() const { return Image.Width(); }
  int Height() const { return Image.Height(); }
  // The picture as a 24-bit bitmap.
  void AssignTo(TBitmap& dest) const { dest = Image; }
  const TBitmap& Bitmap() const { return Image; }

private:
  TBitmap Image;
};
