#include "base/Bitmap.h"

#include <csetjmp>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "base/Streams.h"
#include "base/SysUtils.h"

int TBitmap::BitsPerPixel(TPixelFormat f) {
  switch (f) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf24bit: return 24;
    case pf32bit: return 32;
  }
  return 24;
}

namespace {
constexpr std::size_t kSpareMin = std::size_t(64) << 10, kSpareMax = std::size_t(64) << 20;
// Plain thread-local values (no destructor), so bitmaps freed late in a thread's life still
// find them; the release object frees the kept memory when the thread ends.
thread_local uint8_t* SparePtr = nullptr;
thread_local std::size_t SpareSize = 0;
struct TSpareRelease {
  ~TSpareRelease() {
    ::operator delete(SparePtr);
    SparePtr = nullptr;
    SpareSize = 0;
  }
};
thread_local TSpareRelease SpareRelease;
}  // namespace

void TPixelBuffer::Resize(std::size_t n) {
  if (n <= Cap) {
    N = n;
    return;
  }
  Release();
  // The kept memory serves a request it holds without wasting more than half of it.
  if (SparePtr && SpareSize >= n && SpareSize / 2 <= n) {
    P = SparePtr;
    Cap = SpareSize;
    SparePtr = nullptr;
    SpareSize = 0;
  } else {
    P = static_cast<uint8_t*>(::operator new(n));
    Cap = n;
  }
  N = n;
}

void TPixelBuffer::Release() noexcept {
  if (!P) return;
  if (Cap >= kSpareMin && Cap <= kSpareMax && Cap >= SpareSize) {
    (void)&SpareRelease;  // constructs it on the thread's first use
    ::operator delete(SparePtr);
    SparePtr = P;
    SpareSize = Cap;
  } else {
    ::operator delete(P);
  }
  P = nullptr;
  N = Cap = 0;
}

TPixelBuffer::TPixelBuffer(const TPixelBuffer& other) {
  Resize(other.N);
  if (N) std::memcpy(P, other.P, N);
}

TPixelBuffer::TPixelBuffer(TPixelBuffer&& other) noexcept : P(other.P), N(other.N), Cap(other.Cap) {
  other.P = nullptr;
  other.N = other.Cap = 0;
}

TPixelBuffer& TPixelBuffer::operator=(const TPixelBuffer& other) {
  if (this != &other) {
    Resize(other.N);
    if (N) std::memcpy(P, other.P, N);
  }
  return *this;
}

TPixelBuffer& TPixelBuffer::operator=(TPixelBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    P = other.P;
    N = other.N;
    Cap = other.Cap;
    other.P = nullptr;
    other.N = other.Cap = 0;
  }
  return *this;
}

void TBitmap::SetSize(int width, int height) {
  Resize(width, height);
  if (Bits.size()) std::memset(Bits.data(), 0, Bits.size());
}

void TBitmap::SetSizeForOverwrite(int width, int height) { Resize(width, height); }

void TBitmap::Resize(int width, int height) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide ||
      int64_t(width) * height > kMaxPixels)
    throw EInvalidGraphic("Bitmap size " + std::to_string(width) + " x " + std::to_string(height) + " is too large");
  W = width;
  H = height;
  Stride = ((W * BitsPerPixel(Format) + 31) / 32) * 4;
  Bits.Resize(static_cast<std::size_t>(Stride) * static_cast<std::size_t>(H));
}

uint8_t* TBitmap::ScanLine(int y) {
  if (y < 0 || y >= H) throw EInvalidGraphic("Scan line index out of range");
  return Bits.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Stride);
}

const uint8_t* TBitmap::ScanLine(int y) const { return const_cast<TBitmap*>(this)->ScanLine(y); }

uint32_t TBitmap::PixelRGB(int x, int y) const {
  const uint8_t* row = ScanLine(y);
  int index;
  switch (Format) {
    case pf24bit: return (uint32_t(row[x * 3 + 2]) << 16) | (uint32_t(row[x * 3 + 1]) << 8) | row[x * 3];
    case pf32bit: return (uint32_t(row[x * 4 + 2]) << 16) | (uint32_t(row[x * 4 + 1]) << 8) | row[x * 4];
    case pf8bit: index = row[x]; break;
    case pf4bit: index = (x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4); break;
    default: index = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
  }
  if (index >= static_cast<int>(Palette.size())) return 0;
  const TPaletteEntry& e = Palette[static_cast<std::size_t>(index)];
  return (uint32_t(e.Red) << 16) | (uint32_t(e.Green) << 8) | e.Blue;
}

void TBitmap::SetPixelRGB(int x, int y, uint32_t rgb) {
  uint8_t* row = ScanLine(y);
  if (Format == pf24bit) {
    row[x * 3] = uint8_t(rgb);
    row[x * 3 + 1] = uint8_t(rgb >> 8);
    row[x * 3 + 2] = uint8_t(rgb >> 16);
  } else if (Format == pf32bit) {
    row[x * 4] = uint8_t(rgb);
    row[x * 4 + 1] = uint8_t(rgb >> 8);
    row[x * 4 + 2] = uint8_t(rgb >> 16);
    row[x * 4 + 3] = 0;
  } else {
    throw EInvalidGraphic("SetPixelRGB needs a colour bitmap");
  }
}

void TBitmap::SetPixelFormat(TPixelFormat f) {
  if (f == Format) return;
  TBitmap src = *this;
  Format = f;
  SetSize(src.W, src.H);
  const bool fromIndexed = src.Format == pf1bit || src.Format == pf4bit || src.Format == pf8bit;
  const bool toIndexed = f == pf1bit || f == pf4bit || f == pf8bit;
  if (toIndexed && fromIndexed) {
    // Index formats: keep indices that fit.
    int maxIndex = (1 << BitsPerPixel(f)) - 1;
    for (int y = 0; y < H; ++y) {
      const uint8_t* s = src.ScanLine(y);
      uint8_t* d = ScanLine(y);
      for (int x = 0; x < W; ++x) {
        int v = src.Format == pf8bit ? s[x] : src.Format == pf4bit ? ((x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4))
                                                                  : ((s[x >> 3] >> (7 - (x & 7))) & 1);
        if (v > maxIndex) v = maxIndex;
        if (f == pf8bit) d[x] = uint8_t(v);
        else if (f == pf4bit) d[x >> 1] |= uint8_t((x & 1) ? v : (v << 4));
        else d[x >> 3] |= uint8_t(v << (7 - (x & 7)));
      }
    }
    if (static_cast<int>(Palette.size()) > maxIndex + 1) Palette.resize(static_cast<std::size_t>(maxIndex + 1));
    return;
  }
  if (toIndexed) {
    int levels = 1 << BitsPerPixel(f);
    Palette.assign(static_cast<std::size_t>(levels), {});
    for (int i = 0; i < levels; ++i) {
      uint8_t g = uint8_t(i * 255 / (levels - 1));
      Palette[static_cast<std::size_t>(i)] = {g, g, g, 0};
    }
    for (int y = 0; y < H; ++y) {
      uint8_t* d = ScanLine(y);
      for (int x = 0; x < W; ++x) {
        uint32_t p = src.PixelRGB(x, y);
        int grey = int(((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255)) / 3;
        int v = grey * (levels - 1) / 255;
        if (f == pf8bit) d[x] = uint8_t(v);
        else if (f == pf4bit) d[x >> 1] |= uint8_t((x & 1) ? v : (v << 4));
        else d[x >> 3] |= uint8_t(v << (7 - (x & 7)));
      }
    }
    return;
  }
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) SetPixelRGB(x, y, src.PixelRGB(x, y));
  if (!fromIndexed) return;
  Palette.clear();
}

// --- BMP

namespace {
[[noreturn]] void BadBmp() { throw EInvalidGraphic("Bitmap image is not valid"); }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
void Put32(std::string& s, uint32_t v) { for (int i = 0; i < 4; ++i) s += char(v >> (8 * i)); }
void Put16(std::string& s, uint16_t v) { s += char(v); s += char(v >> 8); }
}  // namespace

void TBitmap::LoadFromStream(TStream& stream) {
  const int64_t start = stream.GetPosition();
  const int64_t avail = stream.GetSize() - start;
  if (avail < 14 + 40) BadBmp();
  uint8_t fh[14];
  stream.ReadBuffer(fh, 14);
  if (fh[0] != 'B' || fh[1] != 'M') BadBmp();
  const uint32_t offBits = Le32(fh + 10);
  uint8_t ih[40];
  stream.ReadBuffer(ih, 40);
  const uint32_t hdrSize = Le32(ih);
  if (hdrSize < 40 || hdrSize > avail - 14) BadBmp();
  const int32_t w = int32_t(Le32(ih + 4));
  int32_t h = int32_t(Le32(ih + 8));
  const uint16_t bpp = Le16(ih + 14);
  const uint32_t compression = Le32(ih + 16);
  uint32_t clrUsed = Le32(ih + 32);
  const bool topDown = h < 0;
  if (h == INT32_MIN) BadBmp();  // has no positive counterpart
  if (topDown) h = -h;
  if (w <= 0 || h <= 0 || h > kMaxSide || w > kMaxSide) BadBmp();
  if (!(compression == 0 || (compression == 3 && bpp == 32))) BadBmp();
  TPixelFormat f;
  switch (bpp) {
    case 1: f = pf1bit; break;
    case 4: f = pf4bit; break;
    case 8: f = pf8bit; break;
    case 24: f = pf24bit; break;
    case 32: f = pf32bit; break;
    default: BadBmp();
  }
  std::vector<TPaletteEntry> pal;
  if (bpp <= 8) {
    uint32_t n = clrUsed == 0 ? (1u << bpp) : clrUsed;
    if (n > (1u << bpp)) BadBmp();
    stream.SetPosition(start + 14 + hdrSize);
    if (stream.Remaining() < int64_t(n) * 4) BadBmp();
    pal.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t q[4];
      stream.ReadBuffer(q, 4);
      pal[i] = {q[2], q[1], q[0], 0};
    }
  }
  TBitmap b;
  b.Format = f;
  b.SetSize(w, h);
  b.Palette = pal;
  if (offBits < 14 + hdrSize) BadBmp();
  stream.SetPosition(start + offBits);
  if (stream.Remaining() < int64_t(b.Stride) * h) BadBmp();
  for (int y = 0; y < h; ++y) stream.ReadBuffer(b.ScanLine(topDown ? y : h - 1 - y), b.Stride);
  *this = std::move(b);
}

void TBitmap::SaveToStream(TStream& stream) const {
  const int bpp = BitsPerPixel(Format);
  const uint32_t palBytes = bpp <= 8 ? uint32_t(1u << bpp) * 4 : 0;
  const uint32_t offBits = 14 + 40 + palBytes;
  const uint32_t imageBytes = uint32_t(Stride) * uint32_t(H);
  std::string s;
  s += "BM";
  Put32(s, offBits + imageBytes);
  Put32(s, 0);
  Put32(s, offBits);
  Put32(s, 40);
  Put32(s, uint32_t(W));
  Put32(s, uint32_t(H));
  Put16(s, 1);
  Put16(s, uint16_t(bpp));
  Put32(s, 0);
  Put32(s, imageBytes);
  Put32(s, 2835);
  Put32(s, 2835);
  Put32(s, 0);
  Put32(s, 0);
  for (uint32_t i = 0; i < palBytes / 4; ++i) {
    TPaletteEntry e = i < Palette.size() ? Palette[i] : TPaletteEntry{};
    s += char(e.Blue);
    s += char(e.Green);
    s += char(e.Red);
    s += char(0);
  }
  for (int y = H - 1; y >= 0; --y) s.append(reinterpret_cast<const char*>(ScanLine(y)), static_cast<std::size_t>(Stride));
  stream.WriteString(s);
}

void TBitmap::SaveToFile(const std::string& fileName) const {
  TStringStream s;
  SaveToStream(s);
  if (!SaveFileAtomically(fileName, s.DataString)) throw EFCreateError("Cannot create file \"" + fileName + "\"");
}

// --- JPEG

namespace {
struct JpegError {
  jpeg_error_mgr Mgr;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr cinfo) {
  JpegError* e = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->Message);
  std::longjmp(e->Jump, 1);
}

void OnJpegMessage(j_common_ptr, int) {}
}  // namespace

namespace {
// Holds the setjmp: only plain locals live here, so nothing can be clobbered by the longjmp.
void DecodeJpeg(const std::vector<uint8_t>& data, TBitmap& Image) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.Mgr);
  err.Mgr.error_exit = OnJpegError;
  err.Mgr.emit_message = OnJpegMessage;
  err.Message[0] = 0;
  // Objects with destructors must not live across the longjmp: decode into plain buffers.
  TBitmap* out = new TBitmap();
  unsigned char* volatile row = nullptr;
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&cinfo);
    delete out;
    std::free(row);
    throw EJPEG(std::string("JPEG error: ") + err.Message);
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
    std::strcpy(err.Message, "CMYK pictures are not supported");
    std::longjmp(err.Jump, 1);
  }
  cinfo.out_color_space = JCS_RGB;
  if (int64_t(cinfo.image_width) * cinfo.image_height > TBitmap::kMaxPixels ||
      cinfo.image_width > unsigned(TBitmap::kMaxSide) || cinfo.image_height > unsigned(TBitmap::kMaxSide)) {
    std::strcpy(err.Message, "picture too large");
    std::longjmp(err.Jump, 1);
  }
  jpeg_start_decompress(&cinfo);
  out->SetSize(int(cinfo.output_width), int(cinfo.output_height));
  row = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(cinfo.output_width) * 3));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rp = row;
    int y = int(cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, &rp, 1);
    uint8_t* d = out->ScanLine(y);
    for (unsigned x = 0; x < cinfo.output_width; ++x) {
      d[x * 3] = row[x * 3 + 2];
      d[x * 3 + 1] = row[x * 3 + 1];
      d[x * 3 + 2] = row[x * 3];
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::free(row);
  Image = std::move(*out);
  delete out;
}
}  // namespace

void TJPEGImage::LoadFromStream(TStream& stream) {
  int64_t left = stream.Remaining();
  if (left <= 0) throw EJPEG("JPEG error #42: empty input");
  std::vector<uint8_t> data(static_cast<std::size_t>(left));
  stream.ReadBuffer(data.data(), static_cast<int32_t>(left));
  DecodeJpeg(data, Image);
}
