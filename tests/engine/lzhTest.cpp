#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/lzh.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& in, int32_t* textSize = nullptr) {
  TLZH lzh;
  Bytes out;
  std::size_t at = 0;
  int32_t size = -1;
  lzh.Encode(
      size, [&](const uint8_t* b, int32_t n, int32_t& w) { out.insert(out.end(), b, b + n), w = n; },
      [&](uint8_t* b, int32_t, int32_t& d) {
        d = at < in.size() ? 1 : 0;
        if (d) *b = in[at++];
      });
  if (textSize) *textSize = size;
  return out;
}

struct TDecoded {
  Bytes Out;
  int32_t Produced = 0;
  std::size_t Reads = 0;
};

TDecoded Decode(const Bytes& coded, int32_t textSize) {
  TLZH lzh;
  TDecoded r;
  std::size_t at = 0;
  r.Produced = lzh.Decode(
      textSize, [&](const uint8_t* b, int32_t n, int32_t& w) { r.Out.insert(r.Out.end(), b, b + n), w = n; },
      [&](uint8_t* b, int32_t, int32_t& d) {
        ++r.Reads;
        d = at < coded.size() ? 1 : 0;
        *b = d ? coded[at++] : 0;
      });
  return r;
}

Bytes FromText(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Mixed(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  const std::string words[] = {"wall ", "door ", "key ", "smoker ", "oxygen ", "level ", "\r\n", "    "};
  Bytes out;
  while (out.size() < n) {
    switch (gen() % 4) {
      case 0:
        out.insert(out.end(), 1 + gen() % 100, static_cast<uint8_t>(gen()));
        break;
      case 1:
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(gen()));
        break;
      default: {
        const std::string& w = words[gen() % 8];
        out.insert(out.end(), w.begin(), w.end());
      }
    }
  }
  out.resize(n);
  return out;
}

void ExpectRoundTrip(const Bytes& in, const char* what) {
  int32_t size = -1;
  const Bytes coded = Encode(in, &size);
  EXPECT_EQ(size, static_cast<int32_t>(in.size())) << what;
  const TDecoded d = Decode(coded, size);
  EXPECT_EQ(d.Produced, size) << what;
  EXPECT_TRUE(d.Out == in) << what << " (" << in.size() << " bytes)";
}
}  // namespace

TEST(LZH, RoundTrips) {
  std::mt19937 gen(4);
  Bytes random(70000);
  for (auto& b : random) b = static_cast<uint8_t>(gen());
  ExpectRoundTrip(random, "random");
  for (std::size_t n : {1u, 2u, 3u, 59u, 60u, 61u, 4035u, 4036u, 4096u, 4097u, 32768u, 200000u})
    ExpectRoundTrip(Mixed(n, static_cast<unsigned>(n)), "mixed");
  // Long enough for the tree to be rebuilt many times.
  ExpectRoundTrip(Mixed(1 << 20, 99), "1 MB mixed");
}

TEST(LZH, EmptyInput) {
  int32_t size = -1;
  const Bytes coded = Encode({}, &size);
  EXPECT_EQ(size, 0);
  EXPECT_FALSE(coded.empty());  // one literal and the padding
  EXPECT_LE(coded.size(), 2u);
  const TDecoded d = Decode(coded, 0);
  EXPECT_EQ(d.Produced, 0);
  EXPECT_EQ(d.Reads, 0u);
}

TEST(LZH, RepeatedByteCodesAsLongMatches) {
  const Bytes in(60000, 'x');
  const Bytes coded = Encode(in);
  // 60-byte matches at position 0: about 1,000 short codes.
  EXPECT_LT(coded.size(), 2500u);
  EXPECT_TRUE(Decode(coded, 60000).Out == in);
}

TEST(LZH, LeadingSpacesMatchThePrefilledWindow) {
  // The window starts as spaces, so 60 leading spaces are one match.
  const Bytes spaces(60, ' ');
  EXPECT_LE(Encode(spaces).size(), 3u);
  ExpectRoundTrip(FromText("            indented text, then     more spaces"), "spaces");
  ExpectRoundTrip(spaces, "only spaces");
}

TEST(LZH, TruncatedStreamStopsEarly) {
  const Bytes in = Mixed(50000, 5);
  Bytes coded = Encode(in);
  coded.resize(coded.size() / 2);
  const TDecoded d = Decode(coded, 50000);
  EXPECT_LT(d.Produced, 50000);
  // What was decoded is the true prefix.
  EXPECT_TRUE(std::equal(d.Out.begin(), d.Out.begin() + d.Produced / 2, in.begin()));
  // An absurd stated size does not spin on zero bits.
  const TDecoded huge = Decode(Bytes{0x12, 0x34}, 0x7FFFFFFF);
  EXPECT_LT(huge.Produced, 1000);
}
