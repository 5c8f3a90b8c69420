#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include <zlib.h>

#include "engine/PngDeflate.h"

namespace {
std::vector<uint8_t> MixedData(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = (i / 300) % 2 ? uint8_t(rng()) : uint8_t(i / 7);
  return v;
}

std::vector<uint8_t> Inflate(const std::vector<uint8_t>& z, std::size_t expected) {
  std::vector<uint8_t> out(expected + 16);
  uLongf len = uLongf(out.size());
  EXPECT_EQ(uncompress(out.data(), &len, z.data(), uLong(z.size())), Z_OK);
  out.resize(len);
  return out;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& v) {
  uLongf len = compressBound(uLong(v.size()));
  std::vector<uint8_t> out(len);
  compress(out.data(), &len, v.data(), uLong(v.size()));
  out.resize(len);
  return out;
}
}  // namespace

TEST(ZCompressionStream, WritesWholeBuffersThenTheRestOnFinish) {
  const auto data = MixedData(600000, 1);  // compresses to well over 65,536 bytes
  TMemoryStream dest;
  dest.WriteString("head");  // the stream starts where the destination stands
  int progress = 0;
  {
    TZCompressionStream z(clFastest, dest);
    z.OnProgress = [&](TCustomZStream&) { ++progress; };
    for (std::size_t at = 0; at < data.size(); at += 10000)
      EXPECT_EQ(z.Write(data.data() + at, int32_t(std::min<std::size_t>(10000, data.size() - at))),
                int32_t(std::min<std::size_t>(10000, data.size() - at)));
    EXPECT_EQ(z.Seek(0, soFromCurrent), int64_t(data.size()));
    EXPECT_GT(progress, 0);
    EXPECT_EQ((dest.GetSize() - 4) % TCustomZStream::kBufferSize, 0);
    EXPECT_THROW(z.Seek(5, soFromBeginning), EZCompressionError);
    char c;
    EXPECT_THROW(z.Read(&c, 1), EZCompressionError);
    dest.SetPosition(0);  // moved by someone else: the stream re-seeks before writing
    z.Finish();
  }
  std::vector<uint8_t> z(dest.Data.begin() + 4, dest.Data.end());
  EXPECT_EQ(Inflate(z, data.size()), data);
  // Destruction alone finishes too; an empty stream is still a complete zlib stream.
  TMemoryStream empty;
  { TZCompressionStream e(clDefault, empty); }
  EXPECT_EQ(Inflate(empty.Data, 0).size(), 0u);
}

TEST(ZCompressionStream, InvalidOperationMessage) {
  TMemoryStream dest;
  TZCompressionStream z(clMax, dest);
  try {
    z.Seek(5, soFromBeginning);
    FAIL();
  } catch (const EZCompressionError& e) {
    EXPECT_EQ(e.Message, "Invalid ZStream operation!");
  }
}

TEST(ZDecompressionStream, ReadsSeeksAndEndsShort) {
  const auto data = MixedData(200000, 2);
  TMemoryStream src;
  src.WriteString("xyz");
  const auto z = Deflate(data);
  src.WriteBuffer(z.data(), int32_t(z.size()));
  src.WriteString("trailing bytes that are not part of the stream");
  src.SetPosition(3);
  TZDecompressionStream d(src);
  std::vector<uint8_t> got(data.size());
  // Reads of odd sizes, with the source moved in between.
  std::size_t at = 0;
  while (at < data.size()) {
    const int32_t n = int32_t(std::min<std::size_t>(7777, data.size() - at));
    ASSERT_EQ(d.Read(got.data() + at, n), n);
    at += std::size_t(n);
    src.SetPosition(0);
  }
  EXPECT_EQ(got, data);
  EXPECT_EQ(d.Seek(0, soFromCurrent), int64_t(data.size()));
  uint8_t extra[10];
  EXPECT_EQ(d.Read(extra, 10), 0);  // past the end: fewer than asked, no hang on the trailer
  // Back to the start of the compressed data (not of the source), then forward seeks.
  EXPECT_EQ(d.Seek(0, soFromBeginning), 0);
  EXPECT_EQ(d.Seek(100, soFromCurrent), 100);
  EXPECT_EQ(d.Seek(50000, soFromBeginning), 50000);
  uint8_t b[4];
  ASSERT_EQ(d.Read(b, 4), 4);
  EXPECT_EQ(std::memcmp(b, data.data() + 50000, 4), 0);
  EXPECT_EQ(d.Seek(int64_t(data.size()) + 1000, soFromBeginning), int64_t(data.size()));
  EXPECT_THROW(d.Seek(10, soFromBeginning), EZDecompressionError);  // backwards
  EXPECT_THROW(d.Seek(0, soFromEnd), EZDecompressionError);
  EXPECT_THROW(d.Write(b, 1), EZDecompressionError);
}

TEST(ZDecompressionStream, DamagedDataRaisesZlibMessages) {
  auto z = Deflate(MixedData(5000, 3));
  z[z.size() / 2] ^= 0x55;
  z[z.size() / 2 + 1] ^= 0xAA;
  z[3] = 0xFF;
  TMemoryStream src;
  src.WriteBuffer(z.data(), int32_t(z.size()));
  src.SetPosition(0);
  TZDecompressionStream d(src);
  std::vector<uint8_t> out(5000);
  try {
    d.Read(out.data(), 5000);
    FAIL() << "damaged data decoded";
  } catch (const EZDecompressionError& e) {
    EXPECT_EQ(e.Message, "data error");
  }
  // A stream asking for a preset dictionary cannot be read; it must not spin.
  const uint8_t dict[] = {0x78, 0xBB, 0, 0, 0, 1, 0x03, 0x00};
  TReadOnlyMemoryStream s2(dict, sizeof dict);
  TZDecompressionStream d2(s2);
  EXPECT_THROW(d2.Read(out.data(), 10), EZDecompressionError);
  EXPECT_EQ(ZLibErrorText(-6), "incompatible version");
  EXPECT_EQ(ZLibErrorText(-4), "insufficient memory");
}
