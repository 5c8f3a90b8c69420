#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "PngTestUtil.h"
#include "engine/PngCodec.h"
#include "engine/PngDeflate.h"
#include "support/TestSupport.h"

using namespace pngtest;

namespace {
std::string Iend() { return Chunk("IEND", ""); }

// An 8-bit grey image from unfiltered rows (each row gets filter byte `filter` = 0).
std::string GreyPng(uint32_t w, uint32_t h, const std::string& pixels, int interlace = 0) {
  std::string raw;
  for (uint32_t y = 0; y < h; ++y) raw += '\0' + pixels.substr(y * w, w);
  return Signature() + Ihdr(w, h, 8, 0, interlace) + Chunk("IDAT", Zlib(raw)) + Iend();
}

std::string Noise(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = char(rng() % 256);
  return s;
}

void Load(TPNGImage& img, const std::string& bytes) {
  TStringStream s(bytes);
  img.LoadFromStream(s);
}

std::string Save(TPNGImage& img) {
  TStringStream s;
  img.SaveToStream(s);
  return s.DataString;
}

// 0x00RRGGBB of every pixel.
std::vector<uint32_t> Pixels(const TBitmap& b) {
  std::vector<uint32_t> v;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) v.push_back(b.PixelRGB(x, y));
  return v;
}

std::vector<std::filesystem::path> Fixtures() {
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(std::string(KT_FIXTURES) + "/png"))
    if (e.path().extension() == ".png") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}
}  // namespace

TEST(PngCodec, FixturesDecodeLikeLibpng) {
  const auto files = Fixtures();
  ASSERT_FALSE(files.empty());
  for (int pass = 0; pass < 2; ++pass)
  for (const auto& f : files) {
    // The second pass without SSE4.1: both unfilter paths give libpng's pixels.
    PNGUseSse41(pass == 0);
    SCOPED_TRACE(f.filename().string() + (pass ? " without SSE4.1" : ""));
    const std::string bytes = ReadAll(f.string());
    const Reference ref = DecodeWithLibpng(bytes);
    ASSERT_TRUE(ref.Ok) << ref.Error;
    TPNGImage img;
    ASSERT_NO_THROW(Load(img, bytes));
    ASSERT_EQ(img.Width(), ref.Width);
    ASSERT_EQ(img.Height(), ref.Height);
    const int depth = uint8_t(bytes[24]), colorType = uint8_t(bytes[25]);
    const TPixelFormat want = colorType == 2 || colorType == 6 ? pf24bit
                              : depth == 1                     ? pf1bit
                              : depth <= 4                     ? pf4bit
                                                               : pf8bit;
    EXPECT_EQ(img.PixelFormat(), want);
    EXPECT_EQ(img.Interlaced, bytes[28] == 1);
    const std::vector<uint8_t> g = ref.HasGamma ? GammaCurve(ref.Gamma) : GammaCurve(45455);
    const auto ours = Pixels(img);
    int bad = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
      const uint32_t p = ref.Pixels[i];
      const uint32_t expect = (uint32_t(g[p >> 16]) << 16) | (uint32_t(g[(p >> 8) & 255]) << 8) | g[p & 255];
      if (ours[i] != expect && bad++ < 3)
        ADD_FAILURE() << "pixel " << i % std::size_t(ref.Width) << "," << i / std::size_t(ref.Width) << ": "
                      << std::hex << ours[i] << " != " << expect;
    }
    EXPECT_EQ(bad, 0);
    // RGB fixtures carry a tRNS chunk naming pixel (0, 0): the key matches the stored pixel.
    const bool keyed = colorType == 2 && !ChunkData(bytes, "tRNS").empty();
    EXPECT_EQ(img.Transparent, keyed);
    if (keyed) {
      const uint32_t p = ours[0];
      EXPECT_EQ(img.TransparentColor, ((p >> 16) & 255) | (p & 0xFF00) | ((p & 255) << 16));
    }
  }
  PNGUseSse41(true);
}

TEST(PngCodec, Adam7DecodesLikeTheNonInterlacedForm) {
  // 9 x 9 gives pass widths 2, 1, 3, 2, 5, 4, 9; the tiny sizes leave passes empty.
  for (const char* base : {"grey9x9", "small9x9", "small1x1", "small2x3", "small5x1"}) {
    SCOPED_TRACE(base);
    const std::string dir = std::string(KT_FIXTURES) + "/png/";
    TPNGImage plain, laced;
    Load(plain, ReadAll(dir + base + "n.png"));
    Load(laced, ReadAll(dir + base + "i.png"));
    EXPECT_FALSE(plain.Interlaced);
    EXPECT_TRUE(laced.Interlaced);
    EXPECT_EQ(Pixels(plain), Pixels(laced));
  }
}

TEST(PngCodec, BrokenFilesRaiseTheirMessages) {
  const std::string grey = GreyPng(4, 2, "abcdefgh");
  const std::string body = grey.substr(8);
  const std::string idat = Chunk("IDAT", Zlib(std::string("\0abcd\0efgh", 10)));
  std::string badCrc = grey;
  badCrc[8 + 25 + 8 + 2] ^= 1;  // a byte of the IDAT data
  auto withRow = [&](const std::string& raw, int depth, int colorType, int interlace = 0) {
    return Signature() + Ihdr(4, 2, depth, colorType, interlace) + Chunk("IDAT", Zlib(raw)) + Iend();
  };
  const std::string rows = std::string("\0abcd\0efgh", 10);
  // Every row present in the zlib stream but the stream stops after the first row.
  const std::string halfRows = Signature() + Ihdr(4, 2, 8, 0) + Chunk("IDAT", Zlib(rows.substr(0, 5))) + Iend();
  // The compressed data itself cut short (valid chunk around it).
  std::string noiseRows;
  for (int y = 0; y < 20; ++y) noiseRows += '\0' + Noise(20, unsigned(y));
  const std::string z = Zlib(noiseRows, 9);
  const std::string cutStream =
      Signature() + Ihdr(20, 20, 8, 0) + Chunk("IDAT", z.substr(0, z.size() / 2)) + Iend();
  struct Case {
    const char* Name;
    std::string Bytes;
    int Id;
  } cases[] = {
      {"empty", "", PNGInvalidSignature},
      {"wrong signature", "\x89PNG\r\n\x1a\r" + body, PNGInvalidSignature},
      {"gAMA first", Signature() + Chunk("gAMA", Be32(45455)) + body, PNGNoHeader},
      {"no IDAT", Signature() + Ihdr(4, 2, 8, 0) + Iend(), PNGNoImageData},
      {"bad CRC", badCrc, PNGCorruptedData},
      {"unknown critical chunk", Signature() + Ihdr(4, 2, 8, 0) + Chunk("ABCD", "x") + idat + Iend(),
       PNGUnknownCriticalChunk},
      {"filter type 5", withRow(std::string("\x05" "abcd\0efgh", 10), 8, 0), PNGUnknownFilterType},
      {"interlace 2", withRow(rows, 8, 0, 2), PNGUnknownInterlace},
      {"colour type 5", withRow(rows, 8, 5), PNGUnknownColorType},
      {"bit depth 3", withRow(rows, 3, 0), PNGCorruptedData},
      {"palette image without PLTE", withRow(rows, 8, 3), PNGMissingPalette},
      {"PLTE of 10 bytes",
       Signature() + Ihdr(4, 2, 8, 3) + Chunk("PLTE", std::string(10, 'p')) + idat + Iend(), PNGInvalidPalette},
      {"file cut inside IDAT", grey.substr(0, grey.size() - 20), PNGCorruptedData},
      {"zlib stream ends after one row", halfRows, PNGCorruptedData},
      {"compressed data cut short", cutStream, PNGCorruptedData},
      {"absurd chunk length", Signature() + Ihdr(4, 2, 8, 0) + Be32(0xFFFFFFF0u) + "IDAT" + "xxxx", PNGCorruptedData},
      {"huge image from a few bytes", Signature() + Ihdr(16000, 4000, 8, 2) + idat + Iend(), PNGCorruptedData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TPNGImage img;
    try {
      Load(img, c.Bytes);
      ADD_FAILURE() << "loaded";
    } catch (const EPNGImageException& e) {
      EXPECT_EQ(e.Message, PNGErrorMessage(c.Id));
    }
  }
  EXPECT_EQ(PNGErrorMessage(PNGCorruptedData),
            "Portable Network Graphics format handler error\r\n\r\nCan't read the PNG image, it has corrupted data. ");
}

TEST(PngCodec, TruncatedFilesFailCleanlyOrDecodeWhole) {
  for (const char* name : {"c2d8n.png", "c3d4i.png"}) {
    SCOPED_TRACE(name);
    const std::string bytes = ReadAll(std::string(KT_FIXTURES) + "/png/" + name);
    TPNGImage full;
    Load(full, bytes);
    const auto want = Pixels(full);
    for (std::size_t cut = 0; cut < bytes.size(); cut += 3) {
      TPNGImage img;
      try {
        Load(img, bytes.substr(0, cut));
      } catch (const EPNGImageException&) {
        continue;
      }
      // Decoded: every row was there, so every pixel is right.
      EXPECT_EQ(Pixels(img), want) << cut;
    }
  }
}

TEST(PngCodec, DamagedImageDataRaisesTheDeflateError) {
  std::string z = Zlib(Noise(400, 2), 9);
  z[2] = char(0xFF);  // an invalid block type
  const std::string bytes = Signature() + Ihdr(20, 20, 8, 0) + Chunk("IDAT", z) + Iend();
  TPNGImage img;
  EXPECT_THROW(Load(img, bytes), EZDecompressionError);
}

// Rows are inflated many at a time into a bitmap whose memory is not cleared first (and may
// hold an earlier image): damage keeps the rows before it, as rows read one by one do, and
// leaves zeros, never old pixels, in the rest and in the row padding.
TEST(PngCodec, DamagedImageDataKeepsTheRowsBeforeItAndClearsTheRest) {
  const uint32_t w = 301, h = 200;  // RGB rows of 903 bytes padded to 904
  std::string raw;
  std::mt19937 rng(5);
  for (uint32_t y = 0; y < h; ++y) {
    raw += char(y % 5);
    for (uint32_t x = 0; x < w * 3; ++x) raw += char((x / 7 + y) % 50 + (rng() % 4 == 0 ? rng() % 8 : 0));
  }
  const std::string z = Zlib(raw, 9);
  const auto png = [&](const std::string& data) {
    return Signature() + Ihdr(w, h, 8, 2) + Chunk("IDAT", data) + Iend();
  };
  TPNGImage good;
  Load(good, png(z));
  const auto rowOf = [](TBitmap& b, int y) {
    return std::string(reinterpret_cast<const char*>(b.ScanLine(y)), std::size_t(b.RowBytes()));
  };
  const std::string white(std::size_t(good.RowBytes()), char(0xFF));
  int tried = 0;
  for (std::size_t at = z.size() / 3; at < z.size() * 2 / 3 && tried < 5; at += 97) {
    {
      // Memory full of 0xFF for the next bitmap to take.
      TBitmap stale;
      stale.SetSize(int(w), int(h));
      for (int y = 0; y < int(h); ++y) std::memset(stale.ScanLine(y), 0xFF, std::size_t(stale.RowBytes()));
    }
    std::string bad = z;
    bad[at] = char(bad[at] ^ 0x5A);
    TPNGImage img;
    try {
      Load(img, png(bad));
      continue;  // this change happened to decode
    } catch (const EZDecompressionError&) {
    } catch (const EPNGImageException&) {
    }
    ++tried;
    SCOPED_TRACE(at);
    ASSERT_EQ(img.Height(), int(h));
    int kept = 0;
    while (kept < int(h) && rowOf(img, kept) == rowOf(good, kept)) ++kept;
    EXPECT_GT(kept, 0);
    for (int y = kept; y < int(h); ++y) {
      const std::string r = rowOf(img, y);
      EXPECT_NE(r, white.substr(0, r.size())) << y;
      // Past the damage a row is cleared, or decoded from the damaged data in order; its
      // padding byte is always 0.
      EXPECT_EQ(r.back(), '\0') << y;
    }
    EXPECT_EQ(rowOf(img, int(h) - 1), std::string(white.size(), '\0'));
  }
  EXPECT_GT(tried, 0);
}

TEST(PngCodec, SplitImageDataDecodesLikeOneChunk) {
  const std::string pixels = Noise(400, 3);
  std::string raw;
  for (int y = 0; y < 20; ++y) raw += '\0' + pixels.substr(std::size_t(y) * 20, 20);
  std::string z = Zlib(raw, 0);  // stored: 157 bytes and more
  ASSERT_GT(z.size(), 157u);
  const std::string head = Signature() + Ihdr(20, 20, 8, 0);
  const std::string one = head + Chunk("IDAT", z) + Iend();
  const std::string three = head + Chunk("IDAT", z.substr(0, 100)) + Chunk("tEXt", std::string("a\0b", 3)) +
                            Chunk("IDAT", z.substr(100, 50)) + Chunk("IDAT", z.substr(150)) + Iend();
  TPNGImage a, b;
  Load(a, one);
  Load(b, three);
  EXPECT_EQ(Pixels(a), Pixels(b));
  EXPECT_EQ(b.ScanLine(7)[3], uint8_t(pixels[7 * 20 + 3]));
  ASSERT_EQ(b.Chunks.IndexOfClass(&TChunkIDAT::Class), 1);
  EXPECT_EQ(b.Chunks.Item(1)->Data.GetSize(), int64_t(z.size()));
}

TEST(PngCodec, UnknownChunksAreKeptAndOnlyCopySafeOnesDropped) {
  const std::string bytes = Signature() + Ihdr(2, 1, 8, 2) + Chunk("tIME", "1234567") + Chunk("abcd", "zz") +
                            Chunk("IDAT", Zlib(std::string("\0abcdef", 7))) + Iend();
  TPNGImage img;
  Load(img, bytes);
  ASSERT_EQ(img.Chunks.Count(), 5);
  EXPECT_EQ(img.Chunks.Item(1)->ClassType(), &TChunk::Class);
  EXPECT_EQ(img.Chunks.Item(1)->ChunkType, ChunkCode("tIME"));
  EXPECT_EQ(img.Chunks.Item(2)->Data.GetSize(), 2);
  EXPECT_FALSE(img.Transparent);
  EXPECT_EQ(img.PixelRGB(1, 0), 0x646566u);
  const auto types = ChunkTypes(Save(img));
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "tIME", "IDAT", "IEND"}));
}

TEST(PngCodec, SampleLayoutsAndPalettes) {
  // 16-bit RGB: the high bytes, stored blue, green, red.
  {
    TPNGImage img;
    Load(img, Signature() + Ihdr(1, 1, 16, 2) +
                  Chunk("IDAT", Zlib(std::string("\0\x12\x34\x56\x78\x9A\xBC", 7))) + Iend());
    EXPECT_EQ(img.ScanLine(0)[0], 0x9A);
    EXPECT_EQ(img.ScanLine(0)[1], 0x56);
    EXPECT_EQ(img.ScanLine(0)[2], 0x12);
  }
  // 2-bit grey: levels 0, 85, 170, 255 through a 16-entry palette, entries 0-3 repeated.
  {
    TPNGImage img;
    Load(img, Signature() + Ihdr(4, 1, 2, 0) + Chunk("IDAT", Zlib(std::string("\0\x1B", 2))) + Iend());
    EXPECT_EQ(img.PixelFormat(), pf4bit);
    ASSERT_EQ(img.Palette.size(), 16u);
    EXPECT_EQ(Pixels(img), (std::vector<uint32_t>{0, 0x555555, 0xAAAAAA, 0xFFFFFF}));
    EXPECT_EQ(img.ScanLine(0)[0], 0x05);  // samples 0 and 1 as 0 and 5
    for (std::size_t i = 4; i < 16; ++i) EXPECT_EQ(img.Palette[i], img.Palette[i % 4]);
  }
  // Grey with an identity gAMA: the palette is the plain ramp.
  {
    TPNGImage img;
    Load(img, Signature() + Ihdr(2, 1, 4, 0) + Chunk("gAMA", Be32(45455)) +
                  Chunk("IDAT", Zlib(std::string("\0\x0F", 2))) + Iend());
    EXPECT_EQ(Pixels(img), (std::vector<uint32_t>{0, 0xFFFFFF}));
    EXPECT_EQ(img.Palette[1].Red, 17);
  }
}

TEST(PngCodec, GammaTables) {
  TPNGImage img;
  auto* g = static_cast<TChunkGAMA*>(img.Chunks.AddNew(&TChunkGAMA::Class));
  EXPECT_EQ(g->Gamma(), 1u);
  g->SetGamma(45455);
  g->Decode();
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(g->GammaTable[i], i);
    EXPECT_EQ(g->InverseTable[i], i);
  }
  g->SetGamma(100000);
  g->Decode();
  const auto curve = GammaCurve(100000);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(g->GammaTable[i], curve[std::size_t(i)]);
  // Every value maps back to a level at or below the one that produced it, never to black.
  for (int v = 1; v < 256; ++v) EXPECT_LE(g->GammaTable[g->InverseTable[v]], v);
  EXPECT_GT(g->InverseTable[255], 0);
}

TEST(PngCodec, ProgressPerRowOrPass) {
  std::vector<int> seen;
  TPNGImage img;
  img.OnProgress = [&](TPNGImage&, int p) { seen.push_back(p); };
  Load(img, GreyPng(3, 4, "abcdefghijkl"));
  EXPECT_EQ(seen, (std::vector<int>{0, 25, 50, 75}));
  seen.clear();
  Load(img, ReadAll(std::string(KT_FIXTURES) + "/png/grey9x9i.png"));
  EXPECT_EQ(seen, (std::vector<int>{0, 16, 33, 50, 66, 83, 100}));
}

TEST(PngCodec, ChunkListAndClassTable) {
  TPNGImage img;
  ASSERT_EQ(img.Chunks.Count(), 3);  // defaults: IHDR, IDAT, IEND
  auto* h = img.Chunks.Item(0)->Header();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->BitDepth(), 2);
  EXPECT_EQ(h->ColorType(), 3);
  EXPECT_EQ(img.Chunks.Item(2)->Index(), 2);
  EXPECT_EQ(img.Filters, 27);
  EXPECT_EQ(TChunkClasses::IndexOfType(ChunkCode("IEND")), 0);
  EXPECT_EQ(TChunkClasses::IndexOfType(ChunkCode("tRNS")), 6);
  EXPECT_EQ(TChunkClasses::IndexOfType(ChunkCode("tIME")), -1);
  EXPECT_EQ(TChunkClasses::Item(3).Class, &TChunkIDAT::Class);
  EXPECT_EQ(TChunkClasses::IndexOfClass(&TChunk::Class), -1);
  auto raises = [](auto fn, int id) {
    try {
      fn();
      ADD_FAILURE() << id;
    } catch (const EPNGImageException& e) {
      EXPECT_EQ(e.Message, PNGErrorMessage(id));
    }
  };
  raises([&] { TChunkClasses::Item(-1); }, PNGChunkClassIndex);
  raises([&] { img.Chunks.Item(3); }, PNGChunkIndex);
  raises([&] { img.Chunks.Move(3, 0); }, PNGChunkIndex);
  TPNGImage other;
  raises([&] { img.Chunks.Remove(other.Chunks.Item(0)); }, PNGChunkNotInList);
  raises([&] { static_cast<TChunkTRNS*>(img.Chunks.AddNew(&TChunkTRNS::Class))->TransparentColor(); },
         PNGTransparencyNotRGB);
  img.Chunks.Move(2, 0);
  EXPECT_EQ(img.Chunks.Item(0)->ChunkType, ChunkCode("IEND"));
  EXPECT_EQ(img.Chunks.Item(1)->Header(), nullptr);
  EXPECT_EQ(img.Chunks.IndexOfClass(&TChunkPLTE::Class), -1);
  EXPECT_NE(img.Chunks.AddNew(&TChunkGAMA::Class)->GammaChunk(), nullptr);
  EXPECT_EQ(img.Chunks.AddNew(&TChunkTEXT::Class)->Data.GetSize(), 2);
}

// --- writing

namespace {
void Gradient(TPNGImage& img, TPixelFormat f, int w, int h) {
  TBitmap b;
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixelRGB(x, y, uint32_t(x * 0x010101 + y * 0x000301) & 0xFFFFFF);
  b.SetPixelFormat(f);
  img.Assign(b);
}

std::string FilterBytes(const std::string& png, std::size_t rowBytes) {
  const std::string raw = Inflate(ChunkData(png, "IDAT"));
  std::string f;
  for (std::size_t at = 0; at < raw.size(); at += rowBytes + 1) f += char('0' + raw[at]);
  return f;
}
}  // namespace

TEST(PngWriter, RoundTripsEveryPixelFormatAndLibpngAgrees) {
  for (TPixelFormat f : {pf1bit, pf4bit, pf8bit, pf24bit, pf32bit}) {
    SCOPED_TRACE(int(f));
    TPNGImage img;
    Gradient(img, f, 29, 7);
    const auto want = Pixels(img);
    const std::string file = Save(img);
    TPNGImage back;
    Load(back, file);
    EXPECT_EQ(Pixels(back), want);
    EXPECT_EQ(back.PixelFormat(), f == pf32bit ? pf24bit : f);
    const Reference ref = DecodeWithLibpng(file);
    ASSERT_TRUE(ref.Ok) << ref.Error;
    EXPECT_EQ(ref.Pixels, want);
  }
}

TEST(PngWriter, FilterChoice) {
  // Each pixel one step brighter than its left neighbour, every row alike.
  TPNGImage img;
  img.SetSize(40, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 40; ++x) img.SetPixelRGB(x, y, uint32_t(x) * 0x010101);
  // Row 0: Sub and Paeth tie, Sub comes first; below, Paeth predicts the row above exactly.
  EXPECT_EQ(FilterBytes(Save(img), 120), "144");
  img.Filters = 31;  // with Up, which ties with Paeth and comes first
  EXPECT_EQ(FilterBytes(Save(img), 120), "122");
  img.Filters = 1;
  EXPECT_EQ(FilterBytes(Save(img), 120), "000");
  // Noise has no runs: None.
  TPNGImage noise;
  noise.SetSize(30, 2);
  const std::string n = Noise(180, 4);
  for (int y = 0; y < 2; ++y) std::copy(n.begin() + y * 90, n.begin() + y * 90 + 90, noise.ScanLine(y));
  EXPECT_EQ(FilterBytes(Save(noise), 90), "00");
  TPNGImage back;
  Load(back, Save(img));
  EXPECT_EQ(Pixels(back), Pixels(img));
}

TEST(PngWriter, HeaderTransparencyAndEdgeSizes) {
  // An image loaded interlaced is written in row order, and the header says so.
  TPNGImage img;
  Load(img, ReadAll(std::string(KT_FIXTURES) + "/png/c2d8i.png"));
  ASSERT_TRUE(img.Interlaced);
  const auto want = Pixels(img);
  const std::string file = Save(img);
  EXPECT_FALSE(img.Interlaced);
  EXPECT_EQ(ChunkData(file, "IHDR")[12], '\0');
  EXPECT_EQ(ChunkData(file, "tRNS").size(), 6u);  // the fixture is transparent
  TPNGImage back;
  Load(back, file);
  EXPECT_EQ(Pixels(back), want);
  EXPECT_TRUE(back.Transparent);
  EXPECT_EQ(back.TransparentColor, img.TransparentColor);
  // Not transparent: no tRNS. Palette images get a PLTE after the header.
  TPNGImage pal;
  Gradient(pal, pf8bit, 5, 5);
  pal.Transparent = true;  // a key on an indexed image is not written
  EXPECT_EQ(ChunkTypes(Save(pal)), (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
  img.Transparent = false;
  EXPECT_EQ(ChunkData(Save(img), "tRNS"), "");
  // Zero width: rows of only a filter byte.
  TPNGImage empty;
  empty.SetSize(0, 3);
  const std::string e = Save(empty);
  EXPECT_EQ(Inflate(ChunkData(e, "IDAT")), std::string(3, '\0'));
  TPNGImage eb;
  Load(eb, e);
  EXPECT_EQ(eb.Width(), 0);
  EXPECT_EQ(eb.Height(), 3);
}

TEST(PngWriter, AssignCopiesChunksAndSettings) {
  TPNGImage a;
  Load(a, ReadAll(std::string(KT_FIXTURES) + "/png/c3d8n.png"));
  a.Filters = 3;
  TPNGImage b;
  b.Assign(a);
  ASSERT_EQ(b.Chunks.Count(), a.Chunks.Count());
  for (int i = 0; i < a.Chunks.Count(); ++i) {
    EXPECT_EQ(b.Chunks.Item(i)->ClassType(), a.Chunks.Item(i)->ClassType());
    EXPECT_EQ(b.Chunks.Item(i)->Data.Data, a.Chunks.Item(i)->Data.Data);
    EXPECT_EQ(&b.Chunks.Item(i)->Image(), &b);
  }
  EXPECT_EQ(b.Filters, 3);
  EXPECT_EQ(Pixels(b), Pixels(a));
  EXPECT_EQ(Save(b), Save(a));
}
