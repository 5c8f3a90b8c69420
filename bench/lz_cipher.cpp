// LZ coders and cipher streams against their peers, on the same data in the same run:
//   TLZR (LZRW1/KH) decode vs zlib inflate, encode vs deflate level 1; TLZH through the
//   container; the cipher streams vs a plain memory copy.
// Data: a level-sized record (a 48 x 36 grid of 37-byte cells with decor, ~66 KB) and 4 MB of
// mixed data (text, binary records, runs, noise). Ratios are printed after the table.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "base/Streams.h"
#include "engine/Cryptography.h"
#include "engine/LZRW1.h"
#include "engine/StreamFilters.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes LevelData() {
  std::mt19937 gen(7);
  const std::string magic = "zrc2l";
  Bytes d(magic.begin(), magic.end());
  d.reserve(80000);
  d.resize(d.size() + 42, 0);
  const int w = 48, h = 36;
  std::vector<Bytes> cells;
  for (int i = 0; i < w * h; ++i) {
    Bytes c(37, 0);
    const unsigned kind = gen() % 10;
    c[0] = static_cast<uint8_t>(kind < 7 ? 1 : kind);  // floor mostly, walls and doors
    c[1] = static_cast<uint8_t>(0x80 + (kind < 7 ? 0 : gen() % 4));
    for (int k = 2; k < 6; ++k) c[k] = static_cast<uint8_t>(kind < 7 ? 0x40 : gen());
    if (kind == 9) c[20] = static_cast<uint8_t>(gen() % 13);
    cells.push_back(c);
  }
  for (const auto& c : cells) d.insert(d.end(), c.begin(), c.begin() + 17);
  for (const auto& c : cells) d.insert(d.end(), c.begin() + 17, c.end());
  for (int i = 0; i < 120; ++i) {  // decor records
    for (int k = 0; k < 16; ++k) d.push_back(static_cast<uint8_t>(gen() % 64));
    d.resize(d.size() + 48, 0);
  }
  for (char c : magic) d.push_back(static_cast<uint8_t>(c));
  return d;
}

Bytes MixedData(std::size_t n) {
  std::mt19937 gen(11);
  const std::string words[] = {"smoker ", "oxygen ", "the ", "level ", "wall ", "door ", "and ", "\r\n"};
  Bytes d;
  while (d.size() < n) {
    switch (gen() % 8) {
      case 0:
      case 1:
      case 2:
        for (int i = 0; i < 40; ++i) {
          const std::string& s = words[gen() % 8];
          d.insert(d.end(), s.begin(), s.end());
        }
        break;
      case 3:
      case 4:
        for (int i = 0; i < 64; ++i) {  // binary records: small ints
          const uint32_t v = gen() % 1000;
          d.insert(d.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), 0, 0});
        }
        break;
      case 5:
        d.insert(d.end(), 20 + gen() % 600, static_cast<uint8_t>(gen()));
        break;
      default:
        for (int i = 0; i < 256; ++i) d.push_back(static_cast<uint8_t>(gen()));
    }
  }
  d.resize(n);
  return d;
}

const Bytes& Data(int which) {
  static const Bytes level = LevelData();
  static const Bytes mixed = MixedData(4 << 20);
  return which == 0 ? level : mixed;
}

const char* DataName(int which) { return which == 0 ? "level" : "mixed4MB"; }

// The LZRW1/KH payload as the container lays it out: 32 KB blocks, each coded on its own.
struct TBlocks {
  std::vector<Bytes> Coded;
  std::vector<int32_t> Sizes;
};

TBlocks CodeBlocks(TLZR& lzr, const Bytes& in) {
  TBlocks b;
  for (std::size_t at = 0; at < in.size(); at += TLZR::MaxBlock) {
    const int32_t n = static_cast<int32_t>(std::min<std::size_t>(TLZR::MaxBlock, in.size() - at));
    Bytes out(static_cast<std::size_t>(n) + TLZR::DestSlack);
    out.resize(lzr.Compress(in.data() + at, out.data(), n));
    b.Coded.push_back(std::move(out));
    b.Sizes.push_back(n);
  }
  return b;
}

Bytes Deflate(const Bytes& in, int level) {
  uLongf len = compressBound(static_cast<uLong>(in.size()));
  Bytes out(len);
  compress2(out.data(), &len, in.data(), static_cast<uLong>(in.size()), level);
  out.resize(len);
  return out;
}

void SetBytes(benchmark::State& state, const Bytes& in, std::size_t packed) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
  state.counters["ratio%"] = 100.0 * static_cast<double>(packed) / static_cast<double>(in.size());
}

void BM_LZR_Encode(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  TLZR lzr;
  Bytes out(TLZR::MaxBlock + TLZR::DestSlack);
  std::size_t packed = 0;
  for (auto _ : state) {
    packed = 0;
    for (std::size_t at = 0; at < in.size(); at += TLZR::MaxBlock) {
      const int32_t n = static_cast<int32_t>(std::min<std::size_t>(TLZR::MaxBlock, in.size() - at));
      packed += 2 + lzr.Compress(in.data() + at, out.data(), n);
    }
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, in, packed);
}

void BM_Deflate1(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  std::size_t packed = 0;
  for (auto _ : state) {
    Bytes out = Deflate(in, 1);
    packed = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, in, packed);
}

void BM_LZR_Decode(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  TLZR lzr;
  const TBlocks blocks = CodeBlocks(lzr, in);
  std::size_t packed = 0;
  for (const auto& b : blocks.Coded) packed += 2 + b.size();
  Bytes out(in.size());
  for (auto _ : state) {
    std::size_t at = 0;
    for (const auto& b : blocks.Coded) {
      const auto room = static_cast<int32_t>(std::min<std::size_t>(TLZR::MaxBlock, out.size() - at));
      at += static_cast<std::size_t>(lzr.Decompress(b.data(), out.data() + at, static_cast<int32_t>(b.size()), room));
    }
    benchmark::DoNotOptimize(out.data());
  }
  if (out != in) state.SkipWithError("TLZR round trip differs");
  SetBytes(state, in, packed);
}

void BM_Inflate(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  const Bytes packed = Deflate(in, 1);
  Bytes out(in.size());
  for (auto _ : state) {
    uLongf len = static_cast<uLongf>(out.size());
    uncompress(out.data(), &len, packed.data(), static_cast<uLong>(packed.size()));
    benchmark::DoNotOptimize(out.data());
  }
  if (out != in) state.SkipWithError("inflate round trip differs");
  SetBytes(state, in, packed.size());
}

std::string Container(const Bytes& in, uint8_t method) {
  TReadOnlyMemoryStream src(in.data(), in.size());
  TStringStream out;
  Tlzrw1 lz;
  lz.UseStreams = true;
  lz.InputStream = &src;
  lz.OutputStream = &out;
  lz.Method = method;
  lz.Compress();
  return out.DataString;
}

void BM_LZH_Encode(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  std::size_t packed = 0;
  for (auto _ : state) packed = Container(in, Tlzrw1::MethodLZH).size();
  SetBytes(state, in, packed);
}

void BM_LZH_Decode(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  const std::string packed = Container(in, Tlzrw1::MethodLZH);
  TMemoryStream out;
  for (auto _ : state) {
    TReadOnlyMemoryStream src(packed.data(), packed.size());
    out.Clear();
    Tlzrw1 lz;
    lz.UseStreams = true;
    lz.InputStream = &src;
    lz.OutputStream = &out;
    lz.Decompress();
  }
  if (out.Data != in) state.SkipWithError("LZH round trip differs");
  SetBytes(state, in, packed.size());
}

void BM_Container_LZRW1KH_Decode(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  const std::string packed = Container(in, Tlzrw1::MethodLZRW1KH);
  TMemoryStream out;
  for (auto _ : state) {
    TReadOnlyMemoryStream src(packed.data(), packed.size());
    out.Clear();
    Tlzrw1 lz;
    lz.UseStreams = true;
    lz.InputStream = &src;
    lz.OutputStream = &out;
    lz.Decompress();
  }
  if (out.Data != in) state.SkipWithError("container round trip differs");
  SetBytes(state, in, packed.size());
}

const char* const kKey = "MORVANTqelx4ubr8p2hwRKDe!71c&jzq#mvt%3kbo5j~vpe+ucr=9t645";

void BM_EncryptStream(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  TBlowfish bf(kKey);
  TMemoryStream out;
  for (auto _ : state) {
    out.Clear();
    TEncryptionStream enc(&out, false, &bf, false);
    enc.WriteBuffer(in.data(), static_cast<int32_t>(in.size()));
    enc.Flush();
  }
  SetBytes(state, in, static_cast<std::size_t>(out.GetSize()));
}

void BM_DecryptStream(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  TBlowfish bf(kKey);
  TMemoryStream enciphered;
  {
    TEncryptionStream enc(&enciphered, false, &bf, false);
    enc.WriteBuffer(in.data(), static_cast<int32_t>(in.size()));
  }
  Bytes out(static_cast<std::size_t>(enciphered.GetSize()));
  for (auto _ : state) {
    enciphered.SetPosition(0);
    TDecryptionStream dec(&enciphered, false, &bf, false);
    dec.ReadBuffer(out.data(), static_cast<int32_t>(out.size()));
  }
  if (!std::equal(in.begin(), in.end(), out.begin())) state.SkipWithError("cipher round trip differs");
  SetBytes(state, in, out.size());
}

void BM_PlainStreamCopy(benchmark::State& state) {
  const Bytes& in = Data(static_cast<int>(state.range(0)));
  TMemoryStream out;
  for (auto _ : state) {
    out.Clear();
    out.WriteBuffer(in.data(), static_cast<int32_t>(in.size()));
    benchmark::DoNotOptimize(out.Memory());
  }
  SetBytes(state, in, in.size());
}

#define KT_BENCH(f) BENCHMARK(f)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)
KT_BENCH(BM_LZR_Decode);
KT_BENCH(BM_Inflate);
KT_BENCH(BM_LZR_Encode);
KT_BENCH(BM_Deflate1);
KT_BENCH(BM_Container_LZRW1KH_Decode);
KT_BENCH(BM_LZH_Decode);
KT_BENCH(BM_LZH_Encode);
KT_BENCH(BM_EncryptStream);
KT_BENCH(BM_DecryptStream);
KT_BENCH(BM_PlainStreamCopy);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kt_bench::TMedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto t = [&](const std::string& name, int arg) { return reporter.Seconds(name + "/" + std::to_string(arg)); };
  std::printf("\nRatios (peer time / our time; above 1 = we are faster):\n");
  for (int arg : {0, 1}) {
    auto ratio = [&](const char* label, const std::string& ours, const std::string& peer) {
      const double a = t(ours, arg), b = t(peer, arg);
      if (a > 0 && b > 0) std::printf("  %-9s %-44s %6.2f\n", DataName(arg), label, b / a);
    };
    ratio("LZRW1/KH decode vs inflate", "BM_LZR_Decode", "BM_Inflate");
    ratio("LZRW1/KH encode vs deflate level 1", "BM_LZR_Encode", "BM_Deflate1");
    ratio("container LZRW1/KH decode vs inflate", "BM_Container_LZRW1KH_Decode", "BM_Inflate");
    ratio("LZH decode vs inflate", "BM_LZH_Decode", "BM_Inflate");
    ratio("LZH encode vs deflate level 1", "BM_LZH_Encode", "BM_Deflate1");
    // The cipher has no peer library here; the plain stream copy shows what the stream costs.
    auto slower = [&](const char* label, const std::string& ours) {
      const double a = t(ours, arg), b = t("BM_PlainStreamCopy", arg);
      if (a > 0 && b > 0) std::printf("  %-9s %-44s %6.0f x slower, %.0f MB/s\n", DataName(arg), label, a / b,
                                      static_cast<double>(Data(arg).size()) / a / 1e6);
    };
    slower("encrypting stream vs plain stream copy", "BM_EncryptStream");
    slower("decrypting stream vs plain stream copy", "BM_DecryptStream");
  }
  const double ours = t("BM_LZR_Decode", 1), peer = t("BM_Inflate", 1);
  if (ours > 0 && peer > 0) {
    const double size = static_cast<double>(Data(1).size()), gbs = size / ours / 1e9;
    std::printf("  mixed4MB  LZRW1/KH decode %.2f GB/s (goal >= 2 GB/s), inflate %.2f GB/s\n", gbs, size / peer / 1e9);
    kt_bench::PrintResult("LZRW1/KH decode, 4 MB mixed data (ratio: x inflate)", kt_bench::Fixed(gbs, 2) + " GB/s",
                          kt_bench::Fixed(size / peer / 1e9, 2) + " GB/s", kt_bench::Fixed(peer / ours, 2),
                          ">= 2 GB/s", gbs >= 2.0);
  }
  benchmark::Shutdown();
  return 0;
}
