// PNG decode time of our codec against libpng on the game's image sizes: 256 x 256 textures
// (RGBA and RGB) and 800 x 600 pictures (RGB), written by libpng with its default filter
// heuristics. Both decoders produce 24-bit blue-green-red rows with alpha dropped; ours also
// passes samples through its gamma table (the game's images carry gAMA). Ratios at the end.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <png.h>

#include "base/Streams.h"
#include "engine/PngCodec.h"

namespace {
struct Sample {
  const char* Name;
  int W, H, ColorType;
};
const Sample kSamples[] = {
    {"texture256_rgba", 256, 256, PNG_COLOR_TYPE_RGB_ALPHA},
    {"texture256_rgb", 256, 256, PNG_COLOR_TYPE_RGB},
    {"picture800x600_rgb", 800, 600, PNG_COLOR_TYPE_RGB},
};

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

const std::string& File(int i) {
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

// libpng into 24-bit BGR rows padded like the bitmap's.
void LibpngDecode(const std::string& file, std::vector<png_byte>& image, std::vector<png_bytep>& rows) {
  Source src{&file, 0};
  png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  if (setjmp(png_jmpbuf(p))) std::abort();
  png_set_read_fn(p, &src, ReadFn);
  png_read_info(p, info);
  const png_uint_32 w = png_get_image_width(p, info), h = png_get_image_height(p, info);
  png_set_strip_16(p);
  png_set_strip_alpha(p);
  png_set_bgr(p);
  png_read_update_info(p, info);
  const std::size_t stride = (std::size_t(w) * 3 + 3) & ~std::size_t(3);
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
  state.SetLabel(kSamples[state.range(0)].Name);
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
  state.SetLabel(kSamples[state.range(0)].Name);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()));
}

BENCHMARK(BM_Ours)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libpng)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// Collects the times so the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration || r.aggregate_name == "mean")
        Times[r.benchmark_name()] = r.GetAdjustedRealTime();
  }
  std::map<std::string, double> Times;
};
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  std::printf("\nPNG decode, ours / libpng (goal <= 1.2):\n");
  for (int i = 0; i < 3; ++i) {
    const std::string arg = "/" + std::to_string(i);
    auto o = rep.Times.find("BM_Ours" + arg), l = rep.Times.find("BM_Libpng" + arg);
    if (o == rep.Times.end() || l == rep.Times.end()) continue;
    std::printf("  %-20s %8.1f us vs %8.1f us  ratio %.2f  (file %zu bytes)\n", kSamples[i].Name, o->second,
                l->second, o->second / l->second, File(i).size());
  }
  return 0;
}
