#pragma once
// What the compiler and the matcher of the regular-expression engine share: the node layout
// and the fixed character tables. Only the two engine sources include this.
#include <cstdint>

namespace regex_internal {

constexpr int kHeader = 5;  // opcode + next offset

// Windows-1252 single-character case pairs; a fixed table so results never depend on the locale.
struct CaseTable {
  unsigned char other[256];
  constexpr CaseTable() : other() {
    for (int c = 0; c < 256; ++c) other[c] = static_cast<unsigned char>(c);
    auto pair = [this](int lo, int up) {
      other[lo] = static_cast<unsigned char>(up);
      other[up] = static_cast<unsigned char>(lo);
    };
    for (int c = 'a'; c <= 'z'; ++c) pair(c, c - 32);
    for (int c = 0xE0; c <= 0xFE; ++c)
      if (c != 0xF7) pair(c, c - 32);
    pair(0x9A, 0x8A);
    pair(0x9C, 0x8C);
    pair(0x9E, 0x8E);
    pair(0xFF, 0x9F);
  }
};
inline constexpr CaseTable kCase;

inline unsigned char Other(unsigned char c) { return kCase.other[c]; }

inline bool InSet(const uint8_t* set, unsigned char c) { return (set[c >> 3] >> (c & 7)) & 1; }
inline void AddToSet(uint8_t* set, unsigned char c) { set[c >> 3] |= static_cast<uint8_t>(1u << (c & 7)); }

inline int32_t ReadLE32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

inline const uint8_t* NextNode(const uint8_t* p) {
  int32_t off = ReadLE32(p + 1);
  return off == 0 ? nullptr : p + off;
}

inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace regex_internal
