#include "engine/LZRW1KH.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {
constexpr uint8_t kCoded = 0x40;
constexpr uint8_t kStored = 0x80;
constexpr uint16_t kEmpty = 0xFFFF;
constexpr int32_t kMaxRun = 4095;
constexpr int32_t kMinRun = 16;
constexpr int32_t kMaxMatch = 18;
constexpr int32_t kWindow = 4096;

inline uint32_t HashOf(const uint8_t* p) {
  const uint32_t v = ((((static_cast<uint32_t>(p[0]) << 4) ^ p[1]) << 4) ^ p[2]);
  return ((v * 40543u) >> 4) & 0xFFF;
}
}  // namespace

TLZR::TLZR() {
  try {
    Hash.assign(4096, kEmpty);
  } catch (const std::bad_alloc&) {
    throw ELzrw1KHCompressor("LZRW1KH : no memory for HASH table");
  }
}

uint16_t TLZR::Compress(const uint8_t* source, uint8_t* dest, int32_t sourceSize) {
  const int32_t n = sourceSize < 0 ? 0 : (sourceSize > MaxBlock ? MaxBlock : sourceSize);
  std::fill(Hash.begin(), Hash.end(), kEmpty);
  uint16_t* const hash = Hash.data();
  dest[0] = kCoded;
  int32_t ctrlPos = 1, op = 3, items = 0, s = 0;
  uint32_t flags = 0;
  // An item writes at most 4 bytes after a 2-byte control word, so Dest never passes n + 6.
  while (s < n && op <= n) {
    if (items == 16) {
      dest[ctrlPos] = static_cast<uint8_t>(flags >> 8);
      dest[ctrlPos + 1] = static_cast<uint8_t>(flags);
      ctrlPos = op;
      op += 2;
      items = 0;
      flags = 0;
    }
    const uint8_t c = source[s];
    int32_t r = 1;
    while (r < kMaxRun && s + r < n && source[s + r] == c) ++r;
    if (r >= kMinRun) {
      const int32_t v = r - kMinRun;
      dest[op] = 0;
      dest[op + 1] = static_cast<uint8_t>(v >> 8);
      dest[op + 2] = static_cast<uint8_t>(v);
      dest[op + 3] = c;
      op += 4;
      flags = (flags << 1) | 1;
      s += r;
    } else {
      int32_t len = 0, p = 0;
      // Fewer than three bytes left can never match; hashing them would read past the block.
      if (s + 2 < n) {
        const uint32_t h = HashOf(source + s);
        p = hash[h];
        hash[h] = static_cast<uint16_t>(s);
        if (p != kEmpty && s - p < kWindow) {
          const int32_t limit = (n - s < kMaxMatch) ? n - s : kMaxMatch;
          while (len < limit && source[s + len] == source[p + len]) ++len;
        }
      }
      if (len >= 3) {
        const uint32_t v = (static_cast<uint32_t>(s - p) << 4) | static_cast<uint32_t>(len - 3);
        dest[op] = static_cast<uint8_t>(v >> 8);
        dest[op + 1] = static_cast<uint8_t>(v);
        op += 2;
        flags = (flags << 1) | 1;
        s += len;
      } else {
        dest[op++] = c;
        flags <<= 1;
        s += 1;
      }
    }
    ++items;
  }
  flags <<= (16 - items);
  dest[ctrlPos] = static_cast<uint8_t>(flags >> 8);
  dest[ctrlPos + 1] = static_cast<uint8_t>(flags);
  if (op > n) {
    dest[0] = kStored;
    if (n > 0) std::memcpy(dest + 1, source, static_cast<std::size_t>(n));
    return static_cast<uint16_t>(n + 1);
  }
  return static_cast<uint16_t>(op);
}

int32_t TLZR::Decompress(const uint8_t* source, uint8_t* dest, int32_t sourceSize, int32_t destCapacity) {
  const int32_t n = sourceSize;
  if (n < 2) return 0;
  if (source[0] == kStored) {
    if (n - 1 > destCapacity) return -1;
    std::memcpy(dest, source + 1, static_cast<std::size_t>(n - 1));
    return n - 1;
  }
  if (n < 4) return 0;
  uint32_t ctrl = (static_cast<uint32_t>(source[1]) << 8) | source[2];
  int32_t bits = 16, ip = 3, op = 0;
  const int32_t cap = destCapacity;
  while (ip < n) {
    if (bits == 0) {
      if (n - ip < 2) return -1;
      ctrl = (static_cast<uint32_t>(source[ip]) << 8) | source[ip + 1];
      ip += 2;
      bits = 16;
      if (ip >= n) break;
    }
    if ((ctrl & 0x8000) == 0) {
      if (op >= cap) return -1;
      dest[op++] = source[ip++];
    } else {
      if (n - ip < 2) return -1;
      const uint32_t b0 = source[ip], b1 = source[ip + 1];
      ip += 2;
      const int32_t offset = static_cast<int32_t>((b0 << 4) | (b1 >> 4));
      if (offset != 0) {
        const int32_t len = static_cast<int32_t>(b1 & 15) + 3;
        if (offset > op || len > cap - op) return -1;
        uint8_t* d = dest + op;
        const uint8_t* from = d - offset;
        if (offset >= len) {
          std::memcpy(d, from, static_cast<std::size_t>(len));
        } else {
          // Overlapping: repeats the pattern, byte by byte.
          for (int32_t k = 0; k < len; ++k) d[k] = from[k];
        }
        op += len;
      } else {
        if (n - ip < 2) return -1;
        const int32_t count = static_cast<int32_t>((b1 << 8) | source[ip]) + 16;
        const uint8_t value = source[ip + 1];
        ip += 2;
        if (count > cap - op) return -1;
        std::memset(dest + op, value, static_cast<std::size_t>(count));
        op += count;
      }
    }
    ctrl <<= 1;
    --bits;
  }
  return op;
}
