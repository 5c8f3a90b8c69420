#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "engine/LZRW1.h"
#include "support/TestSupport.h"

namespace {
std::string Mixed(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  const std::string words[] = {"wall ", "door ", "key ", "smoker ", "oxygen ", "level ", "\r\n", "zrc2l"};
  std::string out;
  while (out.size() < n) {
    switch (gen() % 4) {
      case 0:
        out.append(1 + gen() % 100, static_cast<char>(gen()));
        break;
      case 1:
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(gen()));
        break;
      default:
        out += words[gen() % 8];
    }
  }
  out.resize(n);
  return out;
}

std::string Random(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

std::string Pack(const std::string& plain, uint8_t method) {
  TStringStream in(plain), out;
  Tlzrw1 lz;
  lz.UseStreams = true;
  lz.InputStream = &in;
  lz.OutputStream = &out;
  lz.Method = method;
  const int32_t written = lz.Compress();
  EXPECT_EQ(written, static_cast<int32_t>(out.DataString.size()));
  return out.DataString;
}

std::string Unpack(const std::string& container) {
  TStringStream in(container), out;
  Tlzrw1 lz;
  lz.UseStreams = true;
  lz.InputStream = &in;
  lz.OutputStream = &out;
  const int32_t written = lz.Decompress();
  EXPECT_EQ(written, static_cast<int32_t>(out.DataString.size()));
  return out.DataString;
}

std::string UnpackError(const std::string& container) {
  try {
    Unpack(container);
  } catch (const ELzrw1Exception& e) {
    return e.Message;
  }
  return "no exception";
}

std::string Le32(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

const char* const kMismatchKH = "Lzrw1 (decompression LZRW1/KH) : Original and compressed sizes do not match !";
const char* const kMismatchLZH = "Lzrw1 (LZH decompression) : Original and compressed sizes do not match !";
const char* const kReadError = "Lzrw1 : Error reading from input stream !";
}  // namespace

TEST(Container, EmptyInput) {
  const std::string kh = Pack("", Tlzrw1::MethodLZRW1KH);
  EXPECT_EQ(kh, std::string("WRZL\0\0\0\0\x01\0\x80", 11));
  EXPECT_EQ(Unpack(kh), "");
  const std::string lzh = Pack("", Tlzrw1::MethodLZH);
  EXPECT_EQ(lzh.substr(0, 8), std::string("!HZL\0\0\0\0", 8));
  EXPECT_EQ(Unpack(lzh), "");
}

TEST(Container, WholeBlocksEndWithAnEmptyBlock) {
  const std::string plain = Mixed(65536, 1);
  const std::string c = Pack(plain, Tlzrw1::MethodLZRW1KH);
  EXPECT_EQ(c.substr(0, 8), "WRZL" + Le32(65536));
  std::size_t at = 8;
  std::vector<std::size_t> lengths;
  while (at + 2 <= c.size()) {
    const std::size_t len = static_cast<uint8_t>(c[at]) | (static_cast<uint8_t>(c[at + 1]) << 8);
    lengths.push_back(len);
    at += 2 + len;
  }
  EXPECT_EQ(at, c.size());
  ASSERT_EQ(lengths.size(), 3u);
  EXPECT_EQ(lengths[2], 1u);
  EXPECT_EQ(c.back(), '\x80');
  EXPECT_TRUE(Unpack(c) == plain);
}

TEST(Container, RoundTripsBothMethodsAtBlockEdges) {
  for (std::size_t n : {1u, 2u, 32767u, 32768u, 32769u, 65535u, 65537u, 98304u, 200000u}) {
    for (uint8_t method : {Tlzrw1::MethodLZH, Tlzrw1::MethodLZRW1KH}) {
      for (const std::string& plain : {Mixed(n, static_cast<unsigned>(n)), Random(n, static_cast<unsigned>(n))}) {
        const std::string c = Pack(plain, method);
        EXPECT_EQ(c.substr(0, 4), method == Tlzrw1::MethodLZH ? "!HZL" : "WRZL");
        EXPECT_TRUE(Unpack(c) == plain) << n << " method " << int(method);
      }
    }
  }
}

TEST(Container, FileMode) {
  const std::string dir = TestDir();
  const std::string plain = Mixed(70000, 2);
  WriteAll(dir + "in.bin", plain);
  for (uint8_t method : {Tlzrw1::MethodLZH, Tlzrw1::MethodLZRW1KH}) {
    Tlzrw1 lz;
    lz.Method = method;
    lz.InputFile = dir + "in.bin";
    lz.OutputFile = dir + "packed.lvl";
    const int32_t written = lz.Compress();
    EXPECT_EQ(written, static_cast<int32_t>(ReadAll(dir + "packed.lvl").size()));
    EXPECT_EQ(ReadAll(dir + "packed.lvl"), Pack(plain, method));
    lz.InputFile = dir + "packed.lvl";
    lz.OutputFile = dir + "out.bin";
    EXPECT_EQ(lz.Decompress(), 70000);
    EXPECT_TRUE(ReadAll(dir + "out.bin") == plain);
  }

  auto error = [&](auto&& op) {
    try {
      op();
    } catch (const ELzrw1Exception& e) {
      return e.Message;
    }
    return std::string("no exception");
  };
  Tlzrw1 lz;
  lz.InputFile = dir + "missing.bin";
  lz.OutputFile = dir + "x.bin";
  EXPECT_EQ(error([&] { lz.Compress(); }), "Lzrw1 compression : Failed to obtain the size of : " + dir + "missing.bin");
  EXPECT_EQ(error([&] { lz.Decompress(); }),
            "Lzrw1 (de)compression : Failed to open input file : " + dir + "missing.bin");
  lz.InputFile = dir + "in.bin";
  EXPECT_EQ(error([&] { lz.Decompress(); }), dir + "in.bin : Lzrw1 decompression : this file has no valid header !");
  // The output may not be the input: creating it would wipe the input before it is read.
  lz.OutputFile = dir + "in.bin";
  EXPECT_EQ(error([&] { lz.Compress(); }), "Lzrw1 (de)compression : Failed to open output file : " + dir + "in.bin");
  EXPECT_TRUE(ReadAll(dir + "in.bin") == plain);
  lz.OutputFile = dir + "no/such/folder/out.bin";
  EXPECT_EQ(error([&] { lz.Compress(); }),
            "Lzrw1 (de)compression : Failed to open output file : " + dir + "no/such/folder/out.bin");
  WriteAll(dir + "short.lvl", "WRZL" + Le32(10) + std::string("\x05\0", 2) + "abc");
  lz.InputFile = dir + "short.lvl";
  lz.OutputFile = dir + "x.bin";
  EXPECT_EQ(error([&] { lz.Decompress(); }), "Lzrw1 : Error reading from input file : " + dir + "short.lvl");
}

TEST(Container, SizeMismatchAndHeaderMessages) {
  const std::string plain = Mixed(40000, 3);
  for (uint8_t method : {Tlzrw1::MethodLZH, Tlzrw1::MethodLZRW1KH}) {
    const char* mismatch = method == Tlzrw1::MethodLZH ? kMismatchLZH : kMismatchKH;
    const std::string c = Pack(plain, method);
    // LZH has no end marker: a smaller stated size just stops early, so only KH sees it.
    std::vector<int32_t> sizes = {40001, -1, 0x7FFFFFFF};
    if (method == Tlzrw1::MethodLZRW1KH) sizes.insert(sizes.end(), {39999, 0});
    for (int32_t stated : sizes) {
      EXPECT_EQ(UnpackError(c.substr(0, 4) + Le32(static_cast<uint32_t>(stated)) + c.substr(8)), mismatch)
          << int(method) << " " << stated;
    }
  }
  EXPECT_EQ(UnpackError("LZRW" + Le32(0)), "Lzrw1 decompression : input stream contains no valid header !");
  EXPECT_EQ(UnpackError("WR"), kReadError);
  EXPECT_EQ(UnpackError(""), kReadError);
  EXPECT_EQ(UnpackError("WRZL" + Le32(5)), kReadError);
}

TEST(Container, HostileLzrwBlocksAreRejected) {
  struct {
    const char* what;
    std::string payload;
    uint32_t stated;
    const char* message;
  } cases[] = {
      // A block longer than the I/O buffer.
      {"block of 60000 bytes", std::string("\x60\xEA", 2) + std::string(60000, '\x80'), 59999, kMismatchKH},
      // A copy reaching before the start of the output.
      {"copy before start", std::string("\x05\0\x40\x80\0\x0F\xFF", 7), 18, kMismatchKH},
      // Runs beyond the 32,768-byte block.
      {"run past the block",
       std::string("\x28\0\x40\xFF\xFF", 5) + [] {
         std::string s;
         for (int i = 0; i < 9; ++i) s += std::string("\0\x0F\xEF\x01", 4);
         return s;
       }() + std::string("\0", 1),
       40000, kMismatchKH},
      // More output than stated: stopped before it is written.
      {"more than stated", std::string("\x05\0\x80" "abcd", 7), 3, kMismatchKH},
      // A full block, then the data ends.
      {"missing final block", std::string("\x26\0", 2) + [] {
         std::string s("\x40\xFF\x40", 3);
         for (int i = 0; i < 8; ++i) s += std::string("\0\x0F\xEF\0", 4);
         return s + std::string("\0\0\x14", 3);
       }(), 32768, kReadError},
  };
  for (const auto& c : cases) {
    TStringStream in("WRZL" + Le32(c.stated) + c.payload), out;
    Tlzrw1 lz;
    lz.UseStreams = true;
    lz.InputStream = &in;
    lz.OutputStream = &out;
    try {
      lz.Decompress();
      ADD_FAILURE() << c.what;
    } catch (const ELzrw1Exception& e) {
      EXPECT_EQ(e.Message, c.message) << c.what;
    }
    EXPECT_LE(out.DataString.size(), 32768u) << c.what;
  }
}

TEST(Container, AbsurdLzhSizeDoesNotSpin) {
  // Two coded bytes claiming 2 GB: decoding stops where the data ends, with next to nothing
  // written (a hang guard names the test should it spin on).
  WithWatchdog(120, [] {
    TStringStream in("!HZL" + Le32(0x7FFFFFFF) + "\x12\x34"), out;
    Tlzrw1 lz;
    lz.UseStreams = true;
    lz.InputStream = &in;
    lz.OutputStream = &out;
    std::string error = "no exception";
    try {
      lz.Decompress();
    } catch (const ELzrw1Exception& e) {
      error = e.Message;
    }
    EXPECT_EQ(error, kMismatchLZH);
    EXPECT_LE(out.DataString.size(), 65536u) << "decoded on past the end of its data";
  });
  // A cut-off stream: the size check reports it.
  const std::string c = Pack(Mixed(50000, 4), Tlzrw1::MethodLZH);
  EXPECT_EQ(UnpackError(c.substr(0, c.size() / 2)), kMismatchLZH);
}

TEST(Container, Advise) {
  const std::string zeros(200000, '\0');
  const std::string random = Random(200000, 5);
  struct {
    std::string data;
    uint8_t want;
  } cases[] = {
      {std::string(98303, '\0'), Tlzrw1::MethodLZH},  // small: no sampling
      {zeros.substr(0, 98304), Tlzrw1::MethodLZRW1KH},
      {zeros, Tlzrw1::MethodLZRW1KH},
      {random, Tlzrw1::MethodLZH},
  };
  for (const auto& c : cases) {
    TStringStream in(c.data), out;
    in.Seek(7, soFromBeginning);
    Tlzrw1 lz;
    lz.UseStreams = true;
    lz.InputStream = &in;
    lz.OutputStream = &out;
    lz.Method = Tlzrw1::MethodAdvise;
    EXPECT_EQ(lz.Advise(), c.want) << c.data.size();
    EXPECT_EQ(in.GetPosition(), 7);
    // Below the sampling size the method is settled for what follows; a sampled input leaves
    // it advising.
    EXPECT_EQ(lz.Method, c.data.size() < 98304 ? Tlzrw1::MethodLZH : Tlzrw1::MethodAdvise);
    in.Seek(0, soFromBeginning);
    lz.Compress();
    EXPECT_EQ(out.DataString.substr(0, 4), c.want == Tlzrw1::MethodLZH ? "!HZL" : "WRZL");
    EXPECT_TRUE(Unpack(out.DataString) == c.data);
  }
  Tlzrw1 lz;
  lz.UseStreams = true;
  EXPECT_THROW(lz.Advise(), ELzrw1Exception);
  lz.UseStreams = false;
  lz.InputFile = TestDir() + "missing";
  try {
    lz.Advise();
    FAIL();
  } catch (const ELzrw1Exception& e) {
    EXPECT_EQ(e.Message, "Lzrw1 advise : can not get the size of : " + lz.InputFile);
  }
}

TEST(Container, StreamFailures) {
  auto error = [](auto&& setup) {
    Tlzrw1 lz;
    lz.UseStreams = true;
    try {
      setup(lz);
    } catch (const ELzrw1Exception& e) {
      return e.Message;
    }
    return std::string("no exception");
  };
  TStringStream data("abc");
  EXPECT_EQ(error([&](Tlzrw1& lz) {
              lz.OutputStream = &data;
              lz.Decompress();
            }),
            "Lzrw1 (de)compression : Failed to initialize input stream !");
  EXPECT_EQ(error([&](Tlzrw1& lz) {
              lz.InputStream = &data;
              lz.Decompress();
            }),
            "Lzrw1 (de)compression : Failed to initialize output stream !");
  EXPECT_EQ(error([&](Tlzrw1& lz) { lz.Compress(); }),
            "Lzrw1 compression : Failed to obtain the size of the input stream !");
  TReadOnlyMemoryStream readOnly("", 0);
  EXPECT_EQ(error([&](Tlzrw1& lz) {
              lz.InputStream = &data;
              lz.OutputStream = &readOnly;
              lz.Method = Tlzrw1::MethodLZRW1KH;
              lz.Compress();
            }),
            "Lzrw1 : Error writing to output stream !");
}

TEST(Container, CompressesFromTheStreamPosition) {
  const std::string plain = Mixed(5000, 6);
  for (uint8_t method : {Tlzrw1::MethodLZH, Tlzrw1::MethodLZRW1KH, uint8_t{9}}) {
    TStringStream in(plain), out;
    in.Seek(1000, soFromBeginning);
    Tlzrw1 lz;
    lz.UseStreams = true;
    lz.InputStream = &in;
    lz.OutputStream = &out;
    lz.Method = method;
    lz.Compress();
    EXPECT_EQ(out.DataString.substr(0, 8), (method == Tlzrw1::MethodLZRW1KH ? "WRZL" : "!HZL") + Le32(4000));
    EXPECT_TRUE(Unpack(out.DataString) == plain.substr(1000));
  }
}
