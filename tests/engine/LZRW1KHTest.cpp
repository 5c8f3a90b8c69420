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
