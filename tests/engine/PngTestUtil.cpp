#include "PngTestUtil.h"

#include <cmath>
#include <cstring>

#include <png.h>
#include <zlib.h>

namespace pngtest {

std::string Signature() { return std::string("\x89PNG\r\n\x1a\n", 8); }

std::string Be32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[std::size_t(i)] = char(v >> (24 - 8 * i));
  return s;
}

std::string Chunk(const std::string& type, const std::string& data) {
  const std::string body = type + data;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
  return Be32(uint32_t(data.size())) + body + Be32(uint32_t(crc));
}

std::string Ihdr(uint32_t w, uint32_t h, int depth, int colorType, int interlace) {
  std::string d = Be32(w) + Be32(h);
  d += char(depth);
  d += char(colorType);
  d += '\0';
  d += '\0';
  d += char(interlace);
  return Chunk("IHDR", d);
}

std::string Zlib(const std::string& raw, int level) {
  uLongf len = compressBound(uLong(raw.size()));
  std::string out(len, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &len, reinterpret_cast<const Bytef*>(raw.data()),
            uLong(raw.size()), level);
  out.resize(len);
  return out;
}

std::string Inflate(const std::string& z) {
  z_stream s{};
  inflateInit(&s);
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(z.data()));
  s.avail_in = uInt(z.size());
  std::string out;
  char buf[16384];
  int r;
  do {
    s.next_out = reinterpret_cast<Bytef*>(buf);
    s.avail_out = sizeof buf;
    r = inflate(&s, Z_NO_FLUSH);
    out.append(buf, sizeof buf - s.avail_out);
  } while (r == Z_OK);
  inflateEnd(&s);
  return out;
}

namespace {
uint32_t ReadBe32(const std::string& s, std::size_t at) {
  return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) |
         (uint32_t(uint8_t(s[at + 2])) << 8) | uint8_t(s[at + 3]);
}
}  // namespace

std::string ChunkData(const std::string& png, const std::string& type) {
  std::string out;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const uint32_t len = ReadBe32(png, at);
    if (png.compare(at + 4, 4, type) == 0) out += png.substr(at + 8, len);
    at += 12 + len;
  }
  return out;
}

std::vector<std::string> ChunkTypes(const std::string& png) {
  std::vector<std::string> out;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    out.push_back(png.substr(at + 4, 4));
    at += 12 + ReadBe32(png, at);
  }
  return out;
}

namespace {
struct Source {
  const std::string* Data;
  std::size_t Pos;
};

void ReadFn(png_structp p, png_bytep out, png_size_t n) {
  auto* s = static_cast<Source*>(png_get_io_ptr(p));
  if (s->Pos + n > s->Data->size()) png_error(p, "read past the end");
  std::memcpy(out, s->Data->data() + s->Pos, n);
  s->Pos += n;
}

void ErrorFn(png_structp p, png_const_charp msg) {
  auto* r = static_cast<Reference*>(png_get_error_ptr(p));
  r->Error = msg;
  png_longjmp(p, 1);
}
void WarnFn(png_structp, png_const_charp) {}

// Everything that lives across the setjmp is plain.
void Decode(const std::string& png, Reference& r, png_bytep image) {
  Source src{&png, 0};
  png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, ErrorFn, WarnFn);
  png_infop info = png_create_info_struct(p);
  png_bytep* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(p))) {
    png_destroy_read_struct(&p, &info, nullptr);
    delete[] rows;
    r.Ok = false;
    return;
  }
  png_set_read_fn(p, &src, ReadFn);
  png_read_info(p, info);
  const png_uint_32 w = png_get_image_width(p, info), h = png_get_image_height(p, info);
  png_fixed_point g;
  if (png_get_gAMA_fixed(p, info, &g)) {
    r.HasGamma = true;
    r.Gamma = uint32_t(g);
  }
  png_set_strip_16(p);
  png_set_strip_alpha(p);
  png_set_palette_to_rgb(p);
  png_set_expand_gray_1_2_4_to_8(p);
  png_set_gray_to_rgb(p);
  png_set_interlace_handling(p);
  png_read_update_info(p, info);
  if (png_get_rowbytes(p, info) != w * 3) png_error(p, "unexpected row size");
  r.Width = int(w);
  r.Height = int(h);
  rows = new png_bytep[h];
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = image + std::size_t(y) * w * 3;
  png_read_image(p, rows);
  png_read_end(p, nullptr);
  png_destroy_read_struct(&p, &info, nullptr);
  delete[] rows;
  r.Ok = true;
}
}  // namespace

Reference DecodeWithLibpng(const std::string& png) {
  Reference r;
  // Size first (the fixtures are small), then the decode into a buffer of that size.
  if (png.size() < 24) return r;
  const uint32_t w = ReadBe32(png, 16), h = ReadBe32(png, 20);
  if (uint64_t(w) * h > (1u << 24)) return r;
  std::vector<png_byte> image(std::size_t(w) * h * 3);
  Decode(png, r, image.data());
  if (!r.Ok) return r;
  r.Pixels.resize(std::size_t(w) * h);
  for (std::size_t i = 0; i < r.Pixels.size(); ++i)
    r.Pixels[i] = (uint32_t(image[3 * i]) << 16) | (uint32_t(image[3 * i + 1]) << 8) | image[3 * i + 2];
  return r;
}

std::vector<uint8_t> GammaCurve(uint32_t gamma) {
  std::vector<uint8_t> t(256);
  for (int i = 0; i < 256; ++i)
    t[std::size_t(i)] = uint8_t(std::nearbyint(255.0 * std::pow(i / 255.0, 1.0 / (gamma / 100000.0 * 2.2))));
  return t;
}

}  // namespace pngtest
