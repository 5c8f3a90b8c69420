#include "ContentSupport.h"

#include <png.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "base/Resources.h"

namespace content {

std::vector<uint8_t> Resource(const std::string& group, const std::string& name) {
  TResourceData d;
  if (!FindResourceData(group, name, d)) return {};
  return std::vector<uint8_t>(d.Data, d.Data + d.Size);
}

namespace {
struct Reader {
  const std::vector<uint8_t>* Bytes;
  size_t Pos;
};
void ReadFn(png_structp p, png_bytep out, png_size_t n) {
  auto* r = static_cast<Reader*>(png_get_io_ptr(p));
  if (r->Pos + n > r->Bytes->size()) png_error(p, "truncated");
  std::memcpy(out, r->Bytes->data() + r->Pos, n);
  r->Pos += n;
}
uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
}  // namespace

Png ReadPng(const std::vector<uint8_t>& bytes) {
  Png out;
  if (bytes.size() < 8 || std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) != 0)
    throw std::runtime_error("not a PNG file");
  for (size_t i = 8; i + 8 <= bytes.size();) {
    uint32_t len = Be32(&bytes[i]);
    std::string type(reinterpret_cast<const char*>(&bytes[i + 4]), 4);
    out.Chunks.push_back(type);
    if (type == "gAMA" && len == 4) out.Gamma = Be32(&bytes[i + 8]);
    i += 12 + len;
  }
  png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  if (setjmp(png_jmpbuf(p))) {
    png_destroy_read_struct(&p, &info, nullptr);
    throw std::runtime_error("libpng could not decode the file");
  }
  Reader r{&bytes, 0};
  png_set_read_fn(p, &r, ReadFn);
  png_read_png(p, info, PNG_TRANSFORM_IDENTITY, nullptr);
  out.Width = static_cast<int>(png_get_image_width(p, info));
  out.Height = static_cast<int>(png_get_image_height(p, info));
  out.ColorType = png_get_color_type(p, info);
  out.BitDepth = png_get_bit_depth(p, info);
  out.Interlace = png_get_interlace_type(p, info);
  png_bytepp rows = png_get_rows(p, info);
  png_colorp pal = nullptr;
  int npal = 0;
  if (out.ColorType == PNG_COLOR_TYPE_PALETTE) png_get_PLTE(p, info, &pal, &npal);
  int ch = png_get_channels(p, info);
  out.Rgb.resize(static_cast<size_t>(out.Width) * out.Height * 3);
  out.Grey.resize(static_cast<size_t>(out.Width) * out.Height);
  for (int y = 0; y < out.Height; ++y)
    for (int x = 0; x < out.Width; ++x) {
      const uint8_t* s = rows[y] + static_cast<size_t>(x) * ch;
      uint8_t rgb[3];
      if (out.ColorType == PNG_COLOR_TYPE_PALETTE) {
        rgb[0] = pal[s[0]].red;
        rgb[1] = pal[s[0]].green;
        rgb[2] = pal[s[0]].blue;
      } else if (out.ColorType == PNG_COLOR_TYPE_GRAY || out.ColorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        rgb[0] = rgb[1] = rgb[2] = s[0];
      } else {
        rgb[0] = s[0];
        rgb[1] = s[1];
        rgb[2] = s[2];
      }
      size_t i = static_cast<size_t>(y) * out.Width + x;
      std::memcpy(&out.Rgb[i * 3], rgb, 3);
      out.Grey[i] = rgb[0];
    }
  png_destroy_read_struct(&p, &info, nullptr);
  return out;
}

void WritePngRgb(const std::string& path, int w, int h, const std::vector<uint8_t>& rgb) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  if (setjmp(png_jmpbuf(p))) {
    png_destroy_write_struct(&p, &info);
    std::fclose(f);
    throw std::runtime_error("cannot write " + path);
  }
  png_init_io(p, f);
  png_set_IHDR(p, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(p, info);
  for (int y = 0; y < h; ++y) png_write_row(p, const_cast<png_bytep>(&rgb[static_cast<size_t>(y) * w * 3]));
  png_write_end(p, nullptr);
  png_destroy_write_struct(&p, &info);
  std::fclose(f);
}

const TextureRecord kTextures[37] = {
    {"Font1.png", "Font1Mask.png", 256}, {"Font2.png", "Font2Mask.png", 256},
    {"Misc1.png", "Misc1Mask.png", 256}, {"Misc2.png", "Misc2Mask.png", 256},
    {"Misc3.png", "Misc3Mask.png", 256}, {"black.png", "Misc3Shadow.png", 256},
    {"wall1.png", "wall1mask.png", 256}, {"wall2.png", "wall2mask.png", 256},
    {"black.png", "wall1shadow.png", 256}, {"black.png", "wall2shadow.png", 256},
    {"DoorFrame1.png", "DoorFrame1Mask.png", 256}, {"Decor1.png", "Decor1Mask.png", 256},
    {"Decor2.png", "Decor2Mask.png", 256}, {"Decor3.png", "Decor3Mask.png", 256},
    {"Decor4.png", "Decor4Mask.png", 256}, {"Decor5.png", "Decor5Mask.png", 256},
    {"Decor6.png", "Decor6Mask.png", 256}, {"floor.png", nullptr, 256},
    {"black.png", "Decor1Shadows.png", 256}, {"black.png", "Decor2Shadows.png", 256},
    {"black.png", "Decor3Shadows.png", 256}, {"black.png", "Decor4Shadows.png", 256},
    {"black.png", "Decor5Shadows.png", 256}, {"black.png", "Decor6Shadows.png", 256},
    {"Smoker1.png", "Smoker1Mask.png", 256}, {"Smoker2.png", "Smoker2Mask.png", 256},
    {"Smoker3.png", "Smoker3Mask.png", 256}, {"Smoker4.png", "Smoker4Mask.png", 256},
    {"black.png", "SmokerShadow.png", 256}, {"black.png", "CigaretteShadow.png", 256},
    {"LightFX.png", "black.png", 256}, {"Fire.png", "black.png", 256},
    {"Exit.png", "ExitMask.png", 256}, {"black.png", "ExitShadow.png", 256},
    {"Smoke.png", "black.png", 256}, {"SmokeParticle.png", "SmokeParticleMask.png", 64},
    {"NonSmoker.png", "NonSmokerMask.png", 256},
};

const SpriteRow kSprites[53] = {
    {2, 0, 106, 225, 162},  {4, 1, 1, 135, 74},     {4, 1, 78, 69, 212},    {4, 72, 133, 201, 203},
    {4, 138, 1, 211, 130},  {5, 1, 1, 135, 74},     {5, 1, 78, 69, 212},    {5, 72, 133, 201, 203},
    {5, 138, 1, 211, 130},  {36, 0, 1, 72, 64},     {36, 76, 76, 137, 149}, {36, 0, 66, 74, 127},
    {36, 74, 0, 138, 75},   {2, 94, 174, 148, 244}, {2, 149, 174, 203, 244}, {2, 0, 174, 46, 240},
    {2, 47, 174, 93, 240},  {2, 160, 163, 184, 173}, {2, 185, 163, 205, 173}, {2, 207, 163, 208, 173},
    {3, 203, 86, 256, 139}, {3, 171, 0, 256, 85},   {30, 1, 1, 81, 81},     {7, 173, 88, 250, 166},
    {7, 173, 173, 250, 251}, {3, 0, 101, 202, 163}, {3, 0, 164, 84, 248},   {3, 85, 164, 169, 248},
    {2, 204, 174, 254, 203}, {25, 231, 0, 236, 5},  {3, 171, 165, 247, 241}, {30, 82, 1, 240, 158},
    {2, 237, 0, 256, 20},   {2, 205, 204, 228, 236}, {2, 229, 204, 230, 236}, {2, 231, 204, 254, 236},
    {2, 226, 106, 238, 128}, {2, 239, 106, 240, 128}, {2, 241, 106, 252, 128}, {2, 226, 129, 238, 151},
    {2, 239, 129, 240, 151}, {2, 241, 129, 252, 151}, {32, 0, 8, 173, 193},   {32, 173, 0, 245, 193},
    {32, 0, 194, 93, 204},  {33, 0, 16, 140, 68},   {33, 206, 7, 256, 193}, {33, 0, 130, 143, 190},
    {2, 254, 22, 255, 23},  {34, 0, 0, 127, 256},   {34, 128, 0, 255, 256}, {4, 72, 77, 120, 124},
    {4, 72, 207, 124, 255},
};

const int kGlyphWidths[67] = {34, 34, 33, 34, 32, 32, 34, 34, 18, 34, 33, 31, 35, 33, 35, 34, 35,
                              33, 34, 34, 34, 34, 35, 35, 34, 33, 21, 34, 34, 34, 34, 35, 34, 34,
                              35, 17, 19, 19, 20, 19, 20, 18, 17, 1,  1,  27, 1,  1,  1,  16, 20,
                              20, 21, 25, 19, 21, 33, 20, 21, 18, 35, 35, 35, 31, 18, 1,  1};
const int kCigaretteLengths[10] = {40, 38, 33, 29, 25, 21, 17, 12, 6, 2};

std::vector<Cut> AllCuts() {
  std::vector<Cut> c;
  // strips and the pieces that join them are open on the joining side; 48 is one texel
  const std::vector<int> open = {19, 33, 34, 35, 36, 37, 38, 39, 40, 41, 48};
  for (int s = 0; s < 53; ++s) {
    const auto& r = kSprites[s];
    bool margin = std::find(open.begin(), open.end(), s) == open.end();
    c.push_back({r.Texture, r.L, r.T, r.R, r.B, std::to_string(s), margin});
  }
  for (int g = 0; g < 67; ++g) {
    int x = (g % 7) * 36, y = ((g / 7) % 5) * 50;
    c.push_back({g <= 34 ? 0 : 1, x, y, x + kGlyphWidths[g], y + 49, "g" + std::to_string(g), kGlyphWidths[g] > 2});
  }
  for (int f = 0; f < 4; ++f)
    for (int j = 0; j < 9; ++j) {
      int x = (j % 3) * 77, y = ((j / 3) % 3) * 77;
      c.push_back({24 + f, x, y, x + 76, y + 76, "f" + std::to_string(f) + "." + std::to_string(j), true});
    }
  for (int j = 0; j < 9; ++j) {
    int x = (j % 3) * 73, y = ((j / 3) % 3) * 75;
    c.push_back({28, x, y, x + 72, y + 74, "s" + std::to_string(j), true});
  }
  for (int k = 0; k < 10; ++k) {
    c.push_back({29, 0, 11 * k, kCigaretteLengths[k] + 25, 11 * k + 10, "c" + std::to_string(k), true});
    c.push_back({2, 16 * k, 163, 16 * k + 15, 173, "t" + std::to_string(k), true});
  }
  auto frame = [](int i, int& x, int& y) {
    x = ((i / 3) % 3) * 85;
    y = (i % 3) * 85;
  };
  for (int i = 0; i < 16; ++i) {
    int x, y;
    frame(i, x, y);
    c.push_back({6 + i / 9, x, y, x + 84, y + 84, "w" + std::to_string(i), false});
  }
  for (int i = 0; i < 18; ++i) {
    int x, y;
    frame(i, x, y);
    c.push_back({8 + i / 9, x, y, x + 84, y + 84, "ws" + std::to_string(i), i >= 16});
  }
  for (int i = 0; i < 8; ++i) {
    int x, y;
    frame(i, x, y);
    c.push_back({10, x, y, x + 84, y + 84, "d" + std::to_string(i), true});
  }
  for (int i = 0; i < 16; ++i) {
    int x = (i % 4) * 64 + 2, y = (i / 4) * 64;
    c.push_back({31, x, y, x + 61, y + 63, "fire" + std::to_string(i), false});
  }
  struct Set { int Tex, L, T, R, B, Gx, Gy, Cols, Rows; bool Margin; };
  const Set sets[4] = {{4, 213, 0, 229, 22, 1, 1, 2, 6, true}, {17, 0, 0, 84, 84, 1, 1, 3, 3, false},
                       {2, 0, 0, 58, 52, 1, 1, 4, 2, true}, {3, 0, 0, 33, 32, 1, 1, 5, 3, true}};
  for (int s = 0; s < 4; ++s)
    for (int r = 0; r < sets[s].Rows; ++r)
      for (int col = 0; col < sets[s].Cols; ++col) {
        const Set& t = sets[s];
        int w = t.R - t.L, h = t.B - t.T;
        int x = t.L + (w + t.Gx) * col, y = t.T + (h + t.Gy) * r;
        c.push_back({t.Tex, x, y, x + w, y + h, "set" + std::to_string(s) + "." + std::to_string(r * t.Cols + col),
                     t.Margin});
      }
  return c;
}

}  // namespace content
