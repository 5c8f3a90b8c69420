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

namespace {
inline void Copy8(uint8_t* d, const uint8_t* s) {
  uint64_t t;
  std::memcpy(&t, s, 8);
  std::memcpy(d, &t, 8);
}
inline void Copy16(uint8_t* d, const uint8_t* s) {
  uint8_t t[16];
  std::memcpy(t, s, 16);
  std::memcpy(d, t, 16);
}

// Copies len (3..18) bytes from op - offset to op; an overlapping copy repeats the pattern. With
// 24 bytes of room it copies in whole 8-byte pieces and may write past len (still before `end`):
// each piece reads only bytes already in place, so the first len bytes come out right. A
// pattern shorter than 8 is first widened so that the source lies 8 or more bytes back.
template <bool Roomy>
inline void CopyMatch(uint8_t* op, std::size_t offset, std::size_t len, const uint8_t* end) {
  const uint8_t* from = op - offset;
  if (!Roomy && end - op < 24) {
    for (std::size_t k = 0; k < len; ++k) op[k] = from[k];
    return;
  }
  if (offset >= 8) {
    Copy8(op, from);
    from += 8;
  } else {
    static const int kInc[8] = {0, 1, 2, 1, 0, 4, 4, 4};
    static const int kDec[8] = {0, 0, 0, -1, -4, 1, 2, 3};
    op[0] = from[0];
    op[1] = from[1];
    op[2] = from[2];
    op[3] = from[3];
    from += kInc[offset];
    std::memcpy(op + 4, from, 4);
    from -= kDec[offset];
  }
  // `from` is now the source of op + 8, at least 8 bytes behind it. 8-byte pieces only: the
  // source is often output just stored in 8-byte pieces, and a wider load across them stalls.
  Copy8(op + 8, from);
  if (len > 16) Copy8(op + 16, from + 8);
}

// Input that a whole group of 16 items can take at most (16 runs) and the next control word,
// plus room for a 16-byte read of literals anywhere in the group.
constexpr std::ptrdiff_t kGroupInput = 16 * 4 + 2 + 16;
// Output that a group without runs can take at most (16 copies of 18), plus the widest piece.
constexpr std::ptrdiff_t kGroupOutput = 16 * 18 + 24;

// Decodes the `left` items of a group whose flags are `c` (from bit 31 down) and whose input is
// there in full (kGroupInput). Roomy: the output has room for all of them but runs
// (kGroupOutput), so only runs are checked. Returns false for a damaged group: a copy from
// before the start, or output past the end.
template <bool Roomy>
bool DecodeGroup(uint32_t c, int left, const uint8_t*& ipRef, uint8_t*& opRef, uint8_t* const dest,
                 uint8_t* const oend) {
  const uint8_t* ip = ipRef;
  uint8_t* op = opRef;
  for (;;) {
    // The literals up to the next copy or run item, in one piece (also when there are none:
    // the bytes past them are overwritten before anything reads them).
    int lits = c ? __builtin_clz(c) : 32;
    if (lits > left) lits = left;
    if (Roomy || oend - op >= 16) {
      Copy16(op, ip);
    } else {
      if (lits > oend - op) return false;
      std::memcpy(op, ip, static_cast<std::size_t>(lits));
    }
    op += lits;
    ip += lits;
    left -= lits;
    if (left == 0) break;
    c <<= lits;
    const uint32_t v = (static_cast<uint32_t>(ip[0]) << 8) | ip[1];
    ip += 2;
    const std::size_t offset = v >> 4;
    if (offset != 0) {
      const std::size_t len = (v & 15) + 3;
      if (offset > static_cast<std::size_t>(op - dest)) return false;
      if (!Roomy && static_cast<std::ptrdiff_t>(len) > oend - op) return false;
      CopyMatch<Roomy>(op, offset, len, oend);
      op += len;
    } else {
      const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(((v & 0xFF) << 8) | ip[0]) + 16;
      const uint8_t value = ip[1];
      ip += 2;
      if (count > oend - op) return false;
      std::memset(op, value, static_cast<std::size_t>(count));
      op += count;
      // A run may use up the room the group started with: the rest goes the careful way.
      if (Roomy && left > 1 && oend - op < kGroupOutput) {
        ipRef = ip;
        opRef = op;
        return DecodeGroup<false>(c << 1, left - 1, ipRef, opRef, dest, oend);
      }
    }
    if (--left == 0) break;
    c <<= 1;
  }
  ipRef = ip;
  opRef = op;
  return true;
}
}  // namespace

int32_t TLZR::Decompress(const uint8_t* source, uint8_t* dest, int32_t sourceSize, int32_t destCapacity) {
  const int32_t n = sourceSize;
  if (n < 2) return 0;
  if (source[0] == kStored) {
    if (n - 1 > destCapacity) return -1;
    std::memcpy(dest, source + 1, static_cast<std::size_t>(n - 1));
    return n - 1;
  }
  if (n < 4) return 0;
  const uint8_t* ip = source + 3;
  const uint8_t* const iend = source + n;
  uint8_t* op = dest;
  uint8_t* const oend = dest + (destCapacity > 0 ? destCapacity : 0);
  uint32_t ctrl = (static_cast<uint32_t>(source[1]) << 8) | source[2];

  // Whole groups while no item of the group can run out of input: only the output is checked.
  while (iend - ip >= kGroupInput) {
    const bool ok = oend - op >= kGroupOutput ? DecodeGroup<true>(ctrl << 16, 16, ip, op, dest, oend)
                                              : DecodeGroup<false>(ctrl << 16, 16, ip, op, dest, oend);
    if (!ok) return -1;
    ctrl = (static_cast<uint32_t>(ip[0]) << 8) | ip[1];
    ip += 2;
  }

  // The rest, item by item, with every input check.
  int32_t bits = 16;
  while (ip < iend) {
    if (bits == 0) {
      if (iend - ip < 2) return -1;
      ctrl = (static_cast<uint32_t>(ip[0]) << 8) | ip[1];
      ip += 2;
      bits = 16;
      if (ip >= iend) break;
    }
    if ((ctrl & 0x8000) == 0) {
      if (op >= oend) return -1;
      *op++ = *ip++;
    } else {
      if (iend - ip < 2) return -1;
      const uint32_t b0 = ip[0], b1 = ip[1];
      ip += 2;
      const std::size_t offset = (b0 << 4) | (b1 >> 4);
      if (offset != 0) {
        const std::size_t len = (b1 & 15) + 3;
        if (offset > static_cast<std::size_t>(op - dest) || static_cast<std::ptrdiff_t>(len) > oend - op) return -1;
        CopyMatch<false>(op, offset, len, oend);
        op += len;
      } else {
        if (iend - ip < 2) return -1;
        const std::ptrdiff_t count = static_cast<std::ptrdiff_t>((b1 << 8) | ip[0]) + 16;
        const uint8_t value = ip[1];
        ip += 2;
        if (count > oend - op) return -1;
        std::memset(op, value, static_cast<std::size_t>(count));
        op += count;
      }
    }
    ctrl <<= 1;
    --bits;
  }
  return static_cast<int32_t>(op - dest);
}
