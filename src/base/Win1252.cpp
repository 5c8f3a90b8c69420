#include "base/Win1252.h"

#include <cstdint>

namespace {
// Code points of 0x80..0x9F; 0 where the code page leaves the byte undefined (kept as C1).
const uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void PutUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}
}  // namespace

std::string Cp1252ToUtf8(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    uint32_t cp = c;
    if (c >= 0x80 && c < 0xA0 && kHigh[c - 0x80] != 0) cp = kHigh[c - 0x80];
    PutUtf8(out, cp);
  }
  return out;
}

std::string Utf8ToCp1252(const std::string& s) {
  std::string out;
  std::size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    int len;
    if (c < 0x80) { cp = c; len = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; len = 4; }
    else { out += '?'; ++i; continue; }
    if (i + static_cast<std::size_t>(len) > n) { out += '?'; break; }
    bool bad = false;
    for (int k = 1; k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((d & 0xC0) != 0x80) { bad = true; break; }
      cp = (cp << 6) | (d & 0x3F);
    }
    if (bad) { out += '?'; ++i; continue; }
    i += static_cast<std::size_t>(len);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) { out += static_cast<char>(cp); continue; }
    char mapped = '?';
    for (int k = 0; k < 32; ++k)
      if (kHigh[k] == cp && cp != 0) mapped = static_cast<char>(0x80 + k);
    if (cp >= 0x80 && cp < 0xA0) mapped = static_cast<char>(cp);
    out += mapped;
  }
  return out;
}
