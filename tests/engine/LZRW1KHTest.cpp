#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/LZRW1KH.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Code(const Bytes& in) {
  TLZR lzr;
  Bytes out(in.size() + TLZR::DestSlack);
  out.resize(lzr.Compress(in.data(), out.data(), static_cast<int32_t>(in.size())));
  return out;
}

int32_t Decode(const Bytes& coded, Bytes& out, int32_t capacity = TLZR::MaxBlock) {
  TLZR lzr;
  out.assign(static_cast<std::size_t>(capacity), 0);
  const int32_t n = lzr.Decompress(coded.data(), out.data(), static_cast<int32_t>(coded.size()), capacity);
  if (n >= 0) out.resize(static_cast<std::size_t>(n));
  return n;
}

// Text-like data with repeats, runs and noise: exercises every item kind.
Bytes Mixed(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  const std::string words[] = {"wall ", "door ", "key ", "smoker ", "oxygen ", "level ", "\r\n"};
  Bytes out;
  while (out.size() < n) {
    switch (gen() % 4) {
      case 0:
        out.insert(out.end(), 16 + gen() % 200, static_cast<uint8_t>(gen()));
        break;
      case 1:
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(gen()));
        break;
      default: {
        const std::string& w = words[gen() % 7];
        out.insert(out.end(), w.begin(), w.end());
      }
    }
  }
  out.resize(n);
  return out;
}
}  // namespace

TEST(LZRW1KH, ZeroBlockCodesToRunsALiteralAndACopy) {
  const Bytes zeros(32768, 0);
  const Bytes coded = Code(zeros);
  Bytes expected = {0x40, 0xFF, 0x40};  // 8 runs, a literal, a copy: 1111111101 then padding
  for (int i = 0; i < 8; ++i) expected.insert(expected.end(), {0x00, 0x0F, 0xEF, 0x00});
  expected.insert(expected.end(), {0x00, 0x00, 0x14});  // literal 0, copy offset 1 length 7
  EXPECT_EQ(coded, expected);
  EXPECT_EQ(coded.size(), 38u);
  Bytes back;
  EXPECT_EQ(Decode(coded, back), 32768);
  EXPECT_EQ(back, zeros);
}

TEST(LZRW1KH, SmallAndIncompressibleBlocksAreStored) {
  std::mt19937 gen(1);
  Bytes random(32768);
  for (auto& b : random) b = static_cast<uint8_t>(gen());
  for (const Bytes& in : {random, Bytes{0x42}, Bytes{}}) {
    const Bytes coded = Code(in);
    ASSERT_EQ(coded.size(), in.size() + 1);
    EXPECT_EQ(coded[0], 0x80);
    EXPECT_TRUE(std::equal(in.begin(), in.end(), coded.begin() + 1));
    Bytes back;
    EXPECT_EQ(Decode(coded, back), static_cast<int32_t>(in.size()));
    EXPECT_EQ(back, in);
  }
}

TEST(LZRW1KH, RepeatedTripleCodesAsLiteralsAndCopies) {
  Bytes in;
  for (int i = 0; i < 7; ++i) in.insert(in.end(), {'a', 'b', 'c'});
  EXPECT_EQ(Code(in), (Bytes{0x40, 0x10, 0x00, 'a', 'b', 'c', 0x00, 0x3F}));
  // Longer: the hash keeps the start of the last copy, so later copies reach 18 back.
  for (int i = 0; i < 6; ++i) in.insert(in.end(), {'a', 'b', 'c'});
  EXPECT_EQ(Code(in), (Bytes{0x40, 0x18, 0x00, 'a', 'b', 'c', 0x00, 0x3F, 0x01, 0x2F}));
  Bytes back;
  Decode(Code(in), back);
  EXPECT_EQ(back, in);
}

TEST(LZRW1KH, RoundTripsAtBlockEdges) {
  for (std::size_t n : {2u, 3u, 4u, 15u, 16u, 17u, 18u, 19u, 100u, 4095u, 4096u, 4097u, 32767u, 32768u}) {
    for (unsigned seed = 0; seed < 3; ++seed) {
      const Bytes in = Mixed(n, seed * 1000 + static_cast<unsigned>(n));
      const Bytes coded = Code(in);
      EXPECT_LE(coded.size(), n + 1);
      Bytes back;
      EXPECT_EQ(Decode(coded, back), static_cast<int32_t>(n));
      EXPECT_TRUE(back == in) << n << " seed " << seed;
    }
  }
  // Runs at the longest, and right at the end of the block.
  Bytes runs(4095 * 3 + 20, 'r');
  runs[4095] = 's';
  Bytes back;
  Decode(Code(runs), back);
  EXPECT_EQ(back, runs);
}

TEST(LZRW1KH, DamagedBlocksAreRejected) {
  struct {
    const char* what;
    Bytes block;
    int32_t capacity;
  } cases[] = {
      {"copy before the start", {0x40, 0x80, 0x00, 0x00, 0x54}, 100},
      {"copy reaching back too far", {0x40, 0x40, 0x00, 'a', 0x00, 0x20}, 100},
      {"run past the capacity", {0x40, 0x80, 0x00, 0x00, 0x0F, 0xEF, 'x'}, 100},
      {"literals past the capacity", {0x40, 0x00, 0x00, 'a', 'b', 'c', 'd'}, 3},
      {"copy past the capacity", {0x40, 0x40, 0x00, 'a', 0x00, 0x1F}, 10},
      {"stored past the capacity", Bytes(40, 0x80), 32},
      {"copy item cut short", {0x40, 0x40, 0x00, 'a', 0x00}, 100},
      {"run item cut short", {0x40, 0x80, 0x00, 0x00, 0x00, 0x01}, 100},
      {"control word cut short", {0x40, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l',
                                  'm', 'n', 'o', 'p', 0x00},
       100},
  };
  for (const auto& c : cases) {
    Bytes out;
    EXPECT_EQ(Decode(c.block, out, c.capacity), -1) << c.what;
  }
  // Too short to hold anything: nothing decoded, nothing rejected.
  Bytes out;
  EXPECT_EQ(Decode(Bytes{0x40}, out), 0);
  EXPECT_EQ(Decode(Bytes{0x40, 0x00, 0x00}, out), 0);
}

namespace {
// The block format decoded the plain way, byte by byte, with the same checks: the reference
// for the decoder's whole-group and wide-copy paths.
int32_t ReferenceDecode(const Bytes& in, Bytes& out, int32_t cap) {
  const int32_t n = static_cast<int32_t>(in.size());
  out.assign(static_cast<std::size_t>(cap), 0);
  if (n < 2) return 0;
  if (in[0] == 0x80) {
    if (n - 1 > cap) return -1;
    std::copy(in.begin() + 1, in.end(), out.begin());
    return n - 1;
  }
  if (n < 4) return 0;
  uint32_t ctrl = (in[1] << 8) | in[2];
  int32_t bits = 16, ip = 3, op = 0;
  while (ip < n) {
    if (bits == 0) {
      if (n - ip < 2) return -1;
      ctrl = (in[ip] << 8) | in[ip + 1];
      ip += 2;
      bits = 16;
      if (ip >= n) break;
    }
    if (!(ctrl & 0x8000)) {
      if (op >= cap) return -1;
      out[op++] = in[ip++];
    } else {
      if (n - ip < 2) return -1;
      const int32_t b0 = in[ip], b1 = in[ip + 1];
      ip += 2;
      const int32_t offset = (b0 << 4) | (b1 >> 4);
      if (offset) {
        const int32_t len = (b1 & 15) + 3;
        if (offset > op || len > cap - op) return -1;
        for (int32_t k = 0; k < len; ++k, ++op) out[op] = out[op - offset];
      } else {
        if (n - ip < 2) return -1;
        const int32_t count = ((b1 << 8) | in[ip]) + 16;
        const uint8_t v = in[ip + 1];
        ip += 2;
        if (count > cap - op) return -1;
        for (int32_t k = 0; k < count; ++k) out[op++] = v;
      }
    }
    ctrl <<= 1;
    --bits;
  }
  return op;
}

// A coded block of random items: literals, copies of every offset and length that fits, runs.
Bytes RandomItems(std::mt19937& gen, int items) {
  Bytes b{0x40};
  std::size_t ctrlAt = 0;
  uint32_t flags = 0;
  int32_t produced = 0;
  for (int i = 0; i < items; ++i) {
    if (i % 16 == 0) {
      if (i) b[ctrlAt] = static_cast<uint8_t>(flags >> 8), b[ctrlAt + 1] = static_cast<uint8_t>(flags);
      ctrlAt = b.size();
      b.insert(b.end(), {0, 0});
      flags = 0;
    }
    const unsigned kind = gen() % 10;
    flags <<= 1;
    if (kind < 4 || produced < 1) {
      b.push_back(static_cast<uint8_t>(gen()));
      produced += 1;
    } else if (kind < 9) {
      const int32_t offset = 1 + static_cast<int32_t>(gen() % std::min<uint32_t>(4095, static_cast<uint32_t>(produced)));
      const int32_t len = 3 + static_cast<int32_t>(gen() % 16);
      const uint32_t v = (static_cast<uint32_t>(offset) << 4) | static_cast<uint32_t>(len - 3);
      b.insert(b.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
      flags |= 1;
      produced += len;
    } else {
      const int32_t count = 16 + static_cast<int32_t>(gen() % 100);
      b.insert(b.end(), {0, static_cast<uint8_t>((count - 16) >> 8), static_cast<uint8_t>(count - 16),
                         static_cast<uint8_t>(gen())});
      flags |= 1;
      produced += count;
    }
  }
  flags <<= (16 - (items - 1) % 16 - 1);
  b[ctrlAt] = static_cast<uint8_t>(flags >> 8);
  b[ctrlAt + 1] = static_cast<uint8_t>(flags);
  return b;
}
}  // namespace

TEST(LZRW1KH, DecodesEveryItemMixLikeThePlainDecoderAndRejectsTheSameDamage) {
  std::mt19937 gen(11);
  for (int round = 0; round < 400; ++round) {
    const Bytes block = RandomItems(gen, 1 + static_cast<int>(gen() % 700));
    Bytes damaged = block;
    switch (round % 4) {
      case 1: damaged.resize(damaged.size() - 1 - gen() % std::min<std::size_t>(damaged.size() - 1, 40)); break;
      case 2: damaged[1 + gen() % (damaged.size() - 1)] ^= static_cast<uint8_t>(1 + gen() % 255); break;
      case 3: damaged[1 + gen() % (damaged.size() - 1)] = 0xFF; break;
    }
    Bytes want;
    const int32_t full = ReferenceDecode(block, want, 1 << 20);
    ASSERT_GT(full, 0);
    // Room for all, exactly enough, and too little (copies, runs and literals at the edge).
    for (int32_t cap : {1 << 20, full, full - 1, full / 2, 40}) {
      if (cap < 0) continue;
      Bytes ref, got(static_cast<std::size_t>(cap) + 1, 0xEE);
      const int32_t r = ReferenceDecode(damaged, ref, cap);
      TLZR lzr;
      const int32_t n = lzr.Decompress(damaged.data(), got.data(), static_cast<int32_t>(damaged.size()), cap);
      ASSERT_EQ(n, r) << "round " << round << " capacity " << cap;
      EXPECT_EQ(got[static_cast<std::size_t>(cap)], 0xEE) << "wrote past the capacity";
      if (n > 0) {
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, ref.begin())) << "round " << round;
      }
    }
  }
}
