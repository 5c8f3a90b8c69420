#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "engine/Cryptography.h"
#include "engine/StreamFilters.h"

namespace {
const char* const kKey = "MORVANTqelx4ubr8p2hwRKDe!71c&jzq#mvt%3kbo5j~vpe+ucr=9t645";

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

std::string Encipher(const std::string& plain) {
  TBlowfish bf(kKey);
  TStringStream inner;
  {
    TEncryptionStream enc(&inner, false, &bf, false);
    enc.WriteBuffer(plain.data(), static_cast<int32_t>(plain.size()));
  }
  return inner.DataString;
}

// Accepts `limit` bytes, then refuses.
class TLimitedStream : public TStringStream {
public:
  explicit TLimitedStream(int64_t limit) : Limit(limit) {}
  int32_t Write(const void* buffer, int32_t count) override {
    if (GetSize() + count > Limit) return 0;
    return TStringStream::Write(buffer, count);
  }
  int64_t Limit;
};

// Counts its own destruction, to check ownership.
struct TCountedStream : TStringStream {
  explicit TCountedStream(int* c) : Counter(c) {}
  ~TCountedStream() override { ++*Counter; }
  int* Counter;
};
struct TCountedCipher : TBlowfish {
  explicit TCountedCipher(int* c) : TBlowfish(kKey), Counter(c) {}
  ~TCountedCipher() override { ++*Counter; }
  int* Counter;
};
}  // namespace

TEST(CipherStreams, PartialLastBlockIsPaddedWithZeros) {
  const std::string plain = "0123456789abc";
  const std::string stored = Encipher(plain);
  ASSERT_EQ(stored.size(), 16u);
  // Each block on its own: the cipher's string operation gives the same bytes.
  TBlowfish bf(kKey);
  std::string viaString = plain;
  bf.EncryptString(viaString);
  EXPECT_EQ(stored, viaString);

  TStringStream inner(stored);
  TDecryptionStream dec(&inner, false, &bf, false);
  char buf[32];
  EXPECT_EQ(dec.Read(buf, 32), 16);
  EXPECT_EQ(std::string(buf, 16), plain + std::string(3, '\0'));
  EXPECT_EQ(dec.Read(buf, 32), 0);
}

TEST(CipherStreams, RoundTripsAtBlockEdges) {
  for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 4095u, 4096u, 4097u, 100000u}) {
    const std::string plain = RandomBytes(n, static_cast<unsigned>(n));
    const std::string stored = Encipher(plain);
    EXPECT_EQ(stored.size(), (n + 7) / 8 * 8) << n;
    TBlowfish bf(kKey);
    TStringStream inner(stored);
    TDecryptionStream dec(&inner, false, &bf, false);
    std::string back(stored.size(), '\0');
    dec.ReadBuffer(back.data(), static_cast<int32_t>(back.size()));
    EXPECT_TRUE(back.substr(0, n) == plain) << n;
    EXPECT_EQ(back.substr(n), std::string(stored.size() - n, '\0')) << n;
  }
}

TEST(CipherStreams, SmallReadsCrossBlocks) {
  TBlowfish bf(kKey);
  TStringStream inner(Encipher(RandomBytes(16, 5)));
  TDecryptionStream dec(&inner, false, &bf, false);
  char buf[3];
  std::vector<int32_t> got;
  for (int i = 0; i < 7; ++i) got.push_back(dec.Read(buf, 3));
  EXPECT_EQ(got, (std::vector<int32_t>{3, 3, 3, 3, 3, 1, 0}));
}

TEST(CipherStreams, SeekDiscardsIntoTheBlock) {
  const std::string plain = RandomBytes(40, 6);
  TBlowfish bf(kKey);
  TStringStream inner(Encipher(plain));
  TDecryptionStream dec(&inner, false, &bf, false);
  EXPECT_EQ(dec.Seek(10, soFromBeginning), 10);
  EXPECT_EQ(inner.GetPosition(), 16);  // block 8..15 read, 2 bytes of it discarded
  EXPECT_EQ(dec.ReadU8(), static_cast<uint8_t>(plain[10]));

  // Position is the deciphered bytes delivered, and size checks leave the reading undisturbed.
  EXPECT_EQ(dec.GetPosition(), 11);
  EXPECT_EQ(dec.GetSize(), 40);
  EXPECT_EQ(dec.Remaining(), 29);
  EXPECT_EQ(dec.ReadString(5), plain.substr(11, 5));

  EXPECT_EQ(dec.Seek(3, soFromCurrent), 19);
  EXPECT_EQ(dec.ReadU8(), static_cast<uint8_t>(plain[19]));
  EXPECT_EQ(dec.Seek(-5, soFromEnd), 35);
  EXPECT_EQ(dec.ReadString(5), plain.substr(35, 5));
  EXPECT_EQ(dec.Seek(0, soFromBeginning), 0);
  EXPECT_EQ(dec.ReadString(40), plain);
  try {
    dec.Seek(0, 7);
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message, "Invalid seek origin");
  }
}

TEST(CipherStreams, DamagedLengthEndsAtTheLastWholeBlock) {
  const std::string plain = RandomBytes(16, 8);
  std::string stored = Encipher(plain).substr(0, 13);
  TBlowfish bf(kKey);
  TStringStream inner(stored);
  TDecryptionStream dec(&inner, false, &bf, false);
  EXPECT_EQ(dec.GetSize(), 8);
  char buf[16];
  EXPECT_EQ(dec.Read(buf, 16), 8);
  EXPECT_EQ(std::string(buf, 8), plain.substr(0, 8));
  EXPECT_EQ(dec.Read(buf, 16), 0);
  EXPECT_EQ(dec.Read(buf, 1), 0);
  EXPECT_EQ(dec.GetPosition(), 8);
  EXPECT_EQ(dec.Seek(0, soFromEnd), 8);
  EXPECT_THROW(dec.ReadU32(), EReadError);
  // A seek back reads again.
  dec.Seek(4, soFromBeginning);
  EXPECT_EQ(dec.ReadString(4), plain.substr(4, 4));
}

TEST(CipherStreams, UnsupportedOperationsNameTheBaseFilter) {
  TBlowfish bf(kKey);
  TStringStream inner(Encipher("abcdefgh"));
  TDecryptionStream dec(&inner, false, &bf, false);
  TStringStream out;
  TEncryptionStream enc(&out, false, &bf, false);
  TBasicStreamFilter plainFilter(&out, false);
  char b[4] = {};
  auto message = [](auto&& op) {
    try {
      op();
    } catch (const EStreamError& e) {
      return e.Message;
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message([&] { dec.Write(b, 1); }), "Cannot write to this type of stream filter [TBasicStreamFilter]");
  EXPECT_EQ(message([&] { enc.Read(b, 1); }), "Cannot read from this type of stream filter [TBasicStreamFilter]");
  EXPECT_EQ(message([&] { enc.Seek(0, soFromCurrent); }),
            "Cannot seek on this type of stream filter [TBasicStreamFilter]");
  EXPECT_EQ(message([&] { plainFilter.Read(b, 1); }),
            "Cannot read from this type of stream filter [TBasicStreamFilter]");
}

TEST(CipherStreams, RefusedWritesAreReported) {
  TBlowfish bf(kKey);
  const std::string plain = RandomBytes(30, 10);
  {
    // Room for two blocks: the third is refused and WriteBuffer fails.
    TLimitedStream inner(16);
    TEncryptionStream enc(&inner, false, &bf, false);
    EXPECT_EQ(enc.Write(plain.data(), 30), 16);
    EXPECT_EQ(enc.Write(plain.data(), 1), 0);
    EXPECT_THROW(enc.Flush(), EWriteError);
  }
  {
    TLimitedStream inner(16);
    TEncryptionStream enc(&inner, false, &bf, false);
    EXPECT_THROW(enc.WriteBuffer(plain.data(), 30), EWriteError);
  }
  {
    // The padded last block refused: Flush says so.
    TLimitedStream inner(24);
    TEncryptionStream enc(&inner, false, &bf, false);
    enc.WriteBuffer(plain.data(), 30);
    EXPECT_THROW(enc.Flush(), EWriteError);
  }
  {
    TLimitedStream inner(32);
    TEncryptionStream enc(&inner, false, &bf, false);
    enc.WriteBuffer(plain.data(), 30);
    enc.Flush();
    EXPECT_EQ(inner.DataString.size(), 32u);
  }
}

TEST(CipherStreams, OwnedInnerAndCipherAreFreed) {
  int freed = 0;
  {
    TEncryptionStream enc(new TCountedStream(&freed), true, new TCountedCipher(&freed), true);
    enc.WriteBuffer("abc", 3);
  }
  EXPECT_EQ(freed, 2);
  auto* inner = new TCountedStream(&freed);
  {
    TBlowfish bf(kKey);
    TDecryptionStream dec(inner, false, &bf, false);
  }
  EXPECT_EQ(freed, 2);
  delete inner;
}

TEST(CipherStreams, WholeBlocksAreAskedOfTheInnerStreamInOneRead) {
  // A file below must not see one read per 8-byte block (a level end made ~2,600 of them).
  struct TCountingStream : TStringStream {
    using TStringStream::TStringStream;
    int32_t Read(void* buffer, int32_t count) override {
      ++Reads;
      return TStringStream::Read(buffer, count);
    }
    int Reads = 0;
  };
  const std::string plain = RandomBytes(20003, 9);
  TBlowfish bf(kKey);
  TCountingStream inner(Encipher(plain));
  TDecryptionStream dec(&inner, false, &bf, false);
  std::string got(plain.size() + 8, '\0');
  const int32_t n = dec.Read(got.data(), static_cast<int32_t>(got.size()));
  ASSERT_EQ(n, 20008);  // the zero padding of the last block is part of the stream
  EXPECT_EQ(got.substr(0, plain.size()), plain);
  EXPECT_LE(inner.Reads, 2);
  // A stored length that is no whole number of blocks still ends at the last whole block.
  TCountingStream cut(Encipher(plain).substr(0, 8 * 100 + 5));
  TDecryptionStream dec2(&cut, false, &bf, false);
  EXPECT_EQ(dec2.Read(got.data(), 4000), 800);
  EXPECT_EQ(got.substr(0, 800), plain.substr(0, 800));
  EXPECT_EQ(dec2.GetPosition(), 800);
}
