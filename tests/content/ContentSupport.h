#pragma once
// Helpers of the content checks: the embedded files, a reference PNG reader (libpng, no colour
// transforms) and the texture and sprite tables the game cuts its sprites by.
#include <cstdint>
#include <string>
#include <vector>

namespace content {

std::vector<uint8_t> Resource(const std::string& group, const std::string& name);

struct Png {
  int Width = 0, Height = 0, ColorType = -1, BitDepth = 0, Interlace = 0;
  uint32_t Gamma = 0;                // gAMA value, 0 when absent
  std::vector<std::string> Chunks;   // chunk types in file order
  std::vector<uint8_t> Rgb;          // decoded colour, 3 bytes a pixel (palette and grey expanded)
  std::vector<uint8_t> Grey;         // the first sample of every pixel (grey or red)
  uint8_t R(int x, int y, int c) const { return Rgb[(static_cast<size_t>(y) * Width + x) * 3 + c]; }
  uint8_t G(int x, int y) const { return Grey[static_cast<size_t>(y) * Width + x]; }
};
Png ReadPng(const std::vector<uint8_t>& bytes);
void WritePngRgb(const std::string& path, int w, int h, const std::vector<uint8_t>& rgb);

struct TextureRecord {
  const char* Image;
  const char* Mask;  // nullptr: none
  int Size;
};
extern const TextureRecord kTextures[37];

struct SpriteRow {
  int Texture, L, T, R, B;
};
extern const SpriteRow kSprites[53];

extern const int kGlyphWidths[67];
extern const int kCigaretteLengths[10];

// Every rectangle the game cuts from a texture record, with a label.
struct Cut {
  int Texture;
  int L, T, R, B;
  std::string Label;
  bool Margin;  // the rectangle keeps a transparent one-pixel border
};
std::vector<Cut> AllCuts();

}  // namespace content
