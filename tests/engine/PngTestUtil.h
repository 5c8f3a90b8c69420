#pragma once
// Helpers for the PNG tests: building PNG files chunk by chunk, and decoding with libpng as an
// independent reference.
#include <cstdint>
#include <string>
#include <vector>

namespace pngtest {

std::string Signature();
std::string Chunk(const std::string& type, const std::string& data);
std::string Ihdr(uint32_t w, uint32_t h, int depth, int colorType, int interlace = 0);
std::string Be32(uint32_t v);
std::string Zlib(const std::string& raw, int level = 9);
std::string Inflate(const std::string& z);
// Data bytes of every chunk of `type` in the file, joined.
std::string ChunkData(const std::string& png, const std::string& type);
std::vector<std::string> ChunkTypes(const std::string& png);

struct Reference {
  bool Ok = false;
  std::string Error;
  int Width = 0, Height = 0;
  bool HasGamma = false;
  uint32_t Gamma = 0;            // gamma * 100000 from gAMA
  std::vector<uint32_t> Pixels;  // 0x00RRGGBB, 8 bits a channel, alpha dropped, no gamma applied
};
// libpng decode: 16-bit samples cut to their high byte, palettes and grey expanded to RGB.
Reference DecodeWithLibpng(const std::string& png);

// The gamma curve the codec applies for a gAMA value.
std::vector<uint8_t> GammaCurve(uint32_t gamma);

}  // namespace pngtest
