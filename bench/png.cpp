// PNG decode time of our codec against libpng: generated images of the game's sizes (256 x 256
// textures, RGBA and RGB, an 800 x 600 picture) and a large 2048 x 2048 RGB one, written by
// libpng with its default filter heuristics, and every PNG the game ships. Both decoders produce
// the bitmap's rows: 24-bit blue-green-red with alpha dropped for colour, the samples as stored
// for grey and palette images; ours also passes colours through its gamma table (the game's
// images carry gAMA). Ratios at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include <png.h>

#include "BenchReport.h"
#include "base/Streams.h"
#include "engine/PngCodec.h"

namespace {
struct Sample {
  const char* Name;
  int W, H, ColorType;
};
// The first two carry their own goal rows; the rest are "other sizes".
const Sample kSamples[] = {
    {"texture256_rgba", 256, 256, PNG_COLOR_TYPE_RGB_ALPHA},
    {"image2048_rgb", 2048, 2048, PNG_COLOR_TYPE_RGB},
    {"texture256_rgb", 256, 256, PNG_COLOR_TYPE_RGB},
    {"picture800x600_rgb", 800, 600, PNG_COLOR_TYPE_RGB},
};
constexpr int kGenerated = int(sizeof kSamples / sizeof kSamples[0]);

void WriteFn(png_structp p, png_bytep data, png_size_t n) {
  static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), n);
}
void FlushFn(png_structp) {}

// Artwork-like content: smooth shading, flat areas, edges and some grain.
std::string MakePng(const Sample& s) {
  const int ch = s.ColorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 3;
  std::vector<png_byte> pix(std::size_t(s.W) * s.H * ch);
  std::mt19937 rng(7);
  for (int y = 0; y < s.H; ++y)
    for (int x = 0; x < s.W; ++x) {
      png_byte* p = &pix[(std::size_t(y) * s.W + x) * ch];
      const double d = std::hypot(x - s.W / 2.0, y - s.H / 3.0);
      const bool flat = ((x / 40) + (y / 30)) % 3 == 0;
      const int grain = int(rng() % 9) - 4;
      for (int c = 0; c < 3; ++c) {
        int v = flat ? 60 + 50 * c : int(128 + 120 * std::sin(d / (17.0 + 9 * c)) + grain);
        p[c] = png_byte(std::clamp(v, 0, 255));
      }
      if (ch == 4) p[3] = png_byte(d < s.W / 2.2 ? 255 : std::max(0, 255 - int(d - s.W / 2.2) * 8));
    }
  std::string out;
  png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  if (setjmp(png_jmpbuf(p))) std::abort();
  png_set_write_fn(p, &out, WriteFn, FlushFn);
  png_set_IHDR(p, info, png_uint_32(s.W), png_uint_32(s.H), 8, s.ColorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_gAMA_fixed(p, info, 45455);
  png_write_info(p, info);
  for (int y = 0; y < s.H; ++y) png_write_row(p, &pix[std::size_t(y) * s.W * ch]);
  png_write_end(p, info);
  png_destroy_write_struct(&p, &info);
  return out;
}

// The shipped images, sorted by name.
const std::vector<std::pair<std::string, std::string>>& Shipped() {
  static const std::vector<std::pair<std::string, std::string>> files = [] {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : std::filesystem::directory_iterator(KT_SOURCE_DIR "/resources/gfx")) {
      if (e.path().extension() != ".png") continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::ostringstream data;
      data << in.rdbuf();
      out.emplace_back(e.path().filename().string(), data.str());
    }
    std::sort(out.begin(), out.end());
    return out;
  }();
  return files;
}

int FileCount() { return kGenerated + int(Shipped().size()); }

std::string Name(int i) { return i < kGenerated ? kSamples[i].Name : Shipped()[std::size_t(i - kGenerated)].first; }

const std::string& File(int i) {
  if (i >= kGenerated) return Shipped()[std::size_t(i - kGenerated)].second;
  static std::map<int, std::string> files;
  auto it = files.find(i);
  if (it == files.end()) it = files.emplace(i, MakePng(kSamples[i])).first;
  return it->second;
}

struct Source {
  const std::string* Data;
  std::size_t Pos;
};
void ReadFn(png_structp p, png_bytep out, png_size_t n) {
  auto* s = static_cast<Source*>(png_get_io_ptr(p));
  if (s->Pos + n > s->Data->size()) png_error(p, "short");
  std::memcpy(out, s->Data->data() + s->Pos, n);
  s->Pos += n;
}

// libpng into rows laid out like the bitmap's (padded to 4 bytes): colour as 24-bit BGR,
// grey and palette samples as stored.
void LibpngDecode(const std::string& file, std::vector<png_byte>& image, std::vector<png_bytep>& rows) {
  Source src{&file, 0};
  png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  if (setjmp(png_jmpbuf(p))) std::abort();
  png_set_read_fn(p, &src, ReadFn);
  png_read_info(p, info);
  const png_uint_32 h = png_get_image_height(p, info);
  png_set_strip_16(p);
  png_set_strip_alpha(p);
  png_set_bgr(p);
  png_read_update_info(p, info);
  const std::size_t stride = (png_get_rowbytes(p, info) + 3) & ~std::size_t(3);
  image.resize(stride * h);
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = image.data() + y * stride;
  png_read_image(p, rows.data());
  png_read_end(p, nullptr);
  png_destroy_read_struct(&p, &info, nullptr);
}

void BM_Ours(benchmark::State& state) {
  const std::string& f = File(int(state.range(0)));
  for (auto _ : state) {
    TReadOnlyMemoryStream s(f.data(), f.size());
    TPNGImage img;
    img.LoadFromStream(s);
    benchmark::DoNotOptimize(img.ScanLine(img.Height() - 1));
  }
  state.SetLabel(Name(int(state.range(0))));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()));
}

void BM_Libpng(benchmark::State& state) {
  const std::string& f = File(int(state.range(0)));
  std::vector<png_byte> image;
  std::vector<png_bytep> rows;
  for (auto _ : state) {
    LibpngDecode(f, image, rows);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetLabel(Name(int(state.range(0))));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()));
}

// Each file's pair runs back to back, so both see the same machine state.
void Register() {
  for (int i = 0; i < FileCount(); ++i) {
    benchmark::RegisterBenchmark("BM_Ours", BM_Ours)->Arg(i)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_Libpng", BM_Libpng)->Arg(i)->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  kt_bench::TMedianReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  std::printf("\nPNG decode, ours / libpng (goal <= 0.9):\n");
  double lo = 1e9, hi = 0, oursOther = 0, peerOther = 0;
  std::string worst;
  for (int i = 0; i < FileCount(); ++i) {
    const std::string arg = "/" + std::to_string(i);
    const double o = rep.Seconds("BM_Ours" + arg), l = rep.Seconds("BM_Libpng" + arg);
    if (o <= 0 || l <= 0) continue;
    const double r = o / l;
    std::printf("  %-22s %9.1f us vs %9.1f us  ratio %.2f  (file %zu bytes)\n", Name(i).c_str(), o * 1e6, l * 1e6,
                r, File(i).size());
    if (i < 2) {
      const Sample& s = kSamples[i];
      kt_bench::PrintResult("PNG decode, " + std::to_string(s.W) + " x " + std::to_string(s.H) +
                                (s.ColorType == PNG_COLOR_TYPE_RGB ? " RGB" : " RGBA") + ", ours / libpng",
                            kt_bench::Fixed(o * 1e6, 1) + " us", kt_bench::Fixed(l * 1e6, 1) + " us",
                            kt_bench::Fixed(r, 2), "<= 0.9", r <= 0.9);
      continue;
    }
    oursOther += o;
    peerOther += l;
    lo = std::min(lo, r);
    if (r > hi) hi = r, worst = Name(i);
  }
  if (hi > 0) {
    std::printf("  worst of the others: %s\n", worst.c_str());
    kt_bench::PrintResult("PNG decode, other sizes and all " + std::to_string(Shipped().size()) +
                              " shipped PNGs (sums; ratio: each file)",
                          kt_bench::Fixed(oursOther * 1e6, 0) + " us", kt_bench::Fixed(peerOther * 1e6, 0) + " us",
                          kt_bench::Fixed(lo, 2) + "-" + kt_bench::Fixed(hi, 2), "<= 0.9", hi <= 0.9);
  }
  benchmark::Shutdown();
  return 0;
}
