#include "engine/PngCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <zlib.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KT_PAETH_SSE41 1
#endif

#include "base/PasMath.h"
#include "engine/PngDeflate.h"

// --- messages

std::string PNGErrorMessage(int id) {
  const char* text = "";
  switch (id) {
    case PNGChunkClassIndex: text = "The chunk class index especified is  out of range."; break;
    case PNGCorruptedData: text = "Can't read the PNG image, it has corrupted data. "; break;
    case PNGNoHeader:
      text = "This PNG image is invalid, the IHDR chunk is either not present or it isn't the first chunk.";
      break;
    case PNGNoImageData: text = "The current image being loaded has no data and could not be loaded."; break;
    case PNGInvalidPalette: text = "The current image being loaded has an invalid palette!"; break;
    case PNGUnknownColorType: text = "Could not read the image because it has an unknown color type."; break;
    case PNGUnknownFilterType:
      text = "The image could not be loaded because it uses an unknown set of filter types.";
      break;
    case PNGUnknownInterlace: text = "The image has an unknown interlace method."; break;
    case PNGUnknownCriticalChunk:
      text = "The currently being loaded image contains critical(s) chunk(s) not reconized by the decoder.";
      break;
    case PNGMissingPalette: text = "The current image requeries a palette but it is not avaliable."; break;
    case PNGTransparencyNotRGB:
      text = "Can not get transparency information because the current image color type is not RGB (value 3)";
      break;
    case PNGChunkNotInList:
      text = "The especified chunk is not inside the chunk list containing the method being used. The funcion "
             "could not be completed.";
      break;
    case PNGInvalidSignature:
      text = "Invalid Portable Graphics Network image, it has an invalid file header.";
      break;
    case PNGChunkIndex: text = "The chunk index especified is out of the range."; break;
  }
  return std::string("Portable Network Graphics format handler error\r\n\r\n") + text;
}

void RaisePNGError(int id) { throw EPNGImageException(PNGErrorMessage(id)); }

namespace {
const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

struct IdentityTable {
  uint8_t T[256];
  IdentityTable() {
    for (int i = 0; i < 256; ++i) T[i] = uint8_t(i);
  }
};
const uint8_t* Identity() {
  static const IdentityTable t;
  return t.T;
}

// The gamma tables of the image, built if the gAMA chunk was not decoded yet; null without one.
TChunkGAMA* ReadyGamma(const TChunk& c) {
  TChunkGAMA* g = c.GammaChunk();
  if (g && !g->TablesBuilt()) g->Decode();
  return g;
}

template <class T>
T* FindChunk(const TChunkList& list) {
  int i = list.IndexOfClass(&T::Class);
  return i < 0 ? nullptr : static_cast<T*>(list.Item(i));
}

template <class T>
std::unique_ptr<TChunk> Make(TChunkList& owner) {
  return std::make_unique<T>(owner);
}
}  // namespace

// --- class table

const TChunkClassInfo TChunk::Class{&Make<TChunk>};
const TChunkClassInfo TChunkIHDR::Class{&Make<TChunkIHDR>};
const TChunkClassInfo TChunkPLTE::Class{&Make<TChunkPLTE>};
const TChunkClassInfo TChunkIDAT::Class{&Make<TChunkIDAT>};
const TChunkClassInfo TChunkGAMA::Class{&Make<TChunkGAMA>};
const TChunkClassInfo TChunkTRNS::Class{&Make<TChunkTRNS>};
const TChunkClassInfo TChunkTEXT::Class{&Make<TChunkTEXT>};
const TChunkClassInfo TChunkIEND::Class{&Make<TChunkIEND>};

namespace {
std::vector<TChunkClassRec>& ClassTable() {
  static std::vector<TChunkClassRec> table = {
      {ChunkCode("IEND"), &TChunkIEND::Class}, {ChunkCode("IHDR"), &TChunkIHDR::Class},
      {ChunkCode("gAMA"), &TChunkGAMA::Class}, {ChunkCode("IDAT"), &TChunkIDAT::Class},
      {ChunkCode("PLTE"), &TChunkPLTE::Class}, {ChunkCode("tEXt"), &TChunkTEXT::Class},
      {ChunkCode("tRNS"), &TChunkTRNS::Class},
  };
  return table;
}
}  // namespace

void RegisterChunkClass(uint32_t type, TChunkClass cls) { ClassTable().push_back({type, cls}); }

int TChunkClasses::Count() { return int(ClassTable().size()); }

TChunkClassRec TChunkClasses::Item(int index) {
  if (index < 0 || index >= Count()) RaisePNGError(PNGChunkClassIndex);
  return ClassTable()[std::size_t(index)];
}

int TChunkClasses::IndexOfClass(TChunkClass cls) {
  const auto& t = ClassTable();
  for (std::size_t i = 0; i < t.size(); ++i)
    if (t[i].Class == cls) return int(i);
  return -1;
}

int TChunkClasses::IndexOfType(uint32_t type) {
  const auto& t = ClassTable();
  for (std::size_t i = 0; i < t.size(); ++i)
    if (t[i].Type == type) return int(i);
  return -1;
}

// --- TChunk

TChunk::TChunk(TChunkList& owner, TChunkClass cls) : Owner(&owner) {
  const int i = TChunkClasses::IndexOfClass(cls);
  if (i >= 0 && cls != &TChunk::Class) ChunkType = TChunkClasses::Item(i).Type;
}

void TChunk::Assign(const TChunk& source) {
  Data.Data = source.Data.Data;
  Data.SetPosition(0);
  ChunkType = source.ChunkType;
}

void TChunk::SaveToStream(TStream& stream) {
  if ((ChunkType >> 24) & 0x20) return;  // fourth letter lower case
  const uint32_t len = uint32_t(Data.Data.size());
  uint8_t head[8];
  PutBe32(head, len);
  std::memcpy(head + 4, &ChunkType, 4);
  uLong crc = crc32(0L, head + 4, 4);
  if (len) crc = crc32(crc, Data.Memory(), uInt(len));
  uint8_t tail[4];
  PutBe32(tail, uint32_t(crc));
  stream.WriteBuffer(head, 8);
  if (len) stream.WriteBuffer(Data.Memory(), int32_t(len));
  stream.WriteBuffer(tail, 4);
}

TPNGImage& TChunk::Image() const { return *Owner->Owner; }

TChunkIHDR* TChunk::Header() const {
  if (Owner->Count() == 0) return nullptr;
  TChunk* first = Owner->Item(0);
  return first->ClassType() == &TChunkIHDR::Class ? static_cast<TChunkIHDR*>(first) : nullptr;
}

TChunkGAMA* TChunk::GammaChunk() const { return FindChunk<TChunkGAMA>(*Owner); }

int TChunk::Index() const { return Owner->IndexOf(this); }

// --- IHDR

TChunkIHDR::TChunkIHDR(TChunkList& owner) : TChunk(owner, &Class) { Data.SetSize(13); }

uint32_t TChunkIHDR::Get32(int at) const {
  return Data.Data.size() >= std::size_t(at + 4) ? Be32(Data.Memory() + at) : 0;
}
uint8_t TChunkIHDR::Get8(int at) const { return Data.Data.size() > std::size_t(at) ? Data.Data[std::size_t(at)] : 0; }
void TChunkIHDR::Set32(int at, uint32_t v) {
  if (Data.Data.size() < 13) Data.SetSize(13);
  PutBe32(Data.Memory() + at, v);
}
void TChunkIHDR::Set8(int at, uint8_t v) {
  if (Data.Data.size() < 13) Data.SetSize(13);
  Data.Data[std::size_t(at)] = v;
}

void TChunkIHDR::SaveToStream(TStream& stream) {
  TPNGImage& img = Image();
  Data.SetSize(13);
  SetCompressionMethod(0);
  SetFilterMethod(0);
  // The encoder writes rows in order only, so the header never claims interlacing.
  SetInterlaceMethod(0);
  switch (img.PixelFormat()) {
    case pf1bit: SetColorType(3); SetBitDepth(1); break;
    case pf4bit: SetColorType(3); SetBitDepth(4); break;
    case pf8bit: SetColorType(3); SetBitDepth(8); break;
    default:
      img.SetPixelFormat(pf24bit);
      SetColorType(2);
      SetBitDepth(8);
      break;
  }
  SetWidth(uint32_t(img.Width()));
  SetHeight(uint32_t(img.Height()));
  TChunk::SaveToStream(stream);
}

// --- gAMA

TChunkGAMA::TChunkGAMA(TChunkList& owner) : TChunk(owner, &Class) { SetGamma(1); }

uint32_t TChunkGAMA::Gamma() const { return Data.Data.size() == 4 ? Be32(Data.Memory()) : 0; }

void TChunkGAMA::SetGamma(uint32_t v) {
  Data.SetSize(4);
  PutBe32(Data.Memory(), v);
  Built = false;
}

void TChunkGAMA::Decode() {
  if (Data.Data.size() != 4) RaisePNGError(PNGCorruptedData);
  // Images come with the same gamma one after another: the tables of the last value are kept
  // (256 powers cost more than decoding a small image).
  struct TLast {
    uint32_t Gamma = 0;
    bool Valid = false;
    uint8_t Table[256], Inverse[256];
  };
  thread_local TLast last;
  if (last.Valid && last.Gamma == Gamma()) {
    std::memcpy(GammaTable, last.Table, 256);
    std::memcpy(InverseTable, last.Inverse, 256);
    Built = true;
    return;
  }
  const double g = double(Gamma()) / 100000.0 * 2.2;
  bool hit[256] = {};
  for (int i = 0; i < 256; ++i) {
    int64_t v = PasRound(255.0 * std::pow(i / 255.0, 1.0 / g));
    v = std::clamp<int64_t>(v, 0, 255);
    GammaTable[i] = uint8_t(v);
    InverseTable[v] = uint8_t(i);
    hit[v] = true;
  }
  // Values the curve never reaches take their nearest reached neighbour below (or above at
  // the start), so writing such a colour does not turn it black.
  int first = 0;
  while (first < 256 && !hit[first]) ++first;
  for (int v = 0; v < first && first < 256; ++v) InverseTable[v] = InverseTable[first];
  for (int v = first + 1; v < 256; ++v)
    if (!hit[v]) InverseTable[v] = InverseTable[v - 1];
  Built = true;
  last.Gamma = Gamma();
  std::memcpy(last.Table, GammaTable, 256);
  std::memcpy(last.Inverse, InverseTable, 256);
  last.Valid = true;
}

// --- PLTE

std::vector<TPaletteEntry> TChunkPLTE::Palette() const {
  const std::size_t n = Data.Data.size();
  if (n % 3 != 0 || n > 256 * 3) RaisePNGError(PNGInvalidPalette);
  TChunkGAMA* g = ReadyGamma(*this);
  const uint8_t* gt = g ? g->GammaTable : Identity();
  std::vector<TPaletteEntry> pal(n / 3);
  const uint8_t* p = Data.Memory();
  for (std::size_t i = 0; i < pal.size(); ++i) pal[i] = {gt[p[3 * i]], gt[p[3 * i + 1]], gt[p[3 * i + 2]], 0};
  TChunkIHDR* h = Header();
  if (h && h->BitDepth() == 2 && pal.size() < 16) {
    std::vector<TPaletteEntry> rep(16);
    for (std::size_t i = 0; i < 16; ++i)
      if (i % 4 < pal.size()) rep[i] = pal[i % 4];
    pal = std::move(rep);
  }
  return pal;
}

void TChunkPLTE::SaveToStream(TStream& stream) {
  TPNGImage& img = Image();
  const TPixelFormat f = img.PixelFormat();
  if (f != pf1bit && f != pf4bit && f != pf8bit) return;  // no palette to write
  TChunkGAMA* g = ReadyGamma(*this);
  const uint8_t* inv = g ? g->InverseTable : Identity();
  const std::size_t n = std::min<std::size_t>(img.Palette.size(), std::size_t(1) << TBitmap::BitsPerPixel(f));
  Data.SetSize(int64_t(n * 3));
  for (std::size_t i = 0; i < n; ++i) {
    Data.Data[3 * i] = inv[img.Palette[i].Red];
    Data.Data[3 * i + 1] = inv[img.Palette[i].Green];
    Data.Data[3 * i + 2] = inv[img.Palette[i].Blue];
  }
  TChunk::SaveToStream(stream);
}

// --- tRNS

uint32_t TChunkTRNS::TransparentColor() const {
  TChunkIHDR* h = Header();
  if (!h || h->ColorType() != 2) RaisePNGError(PNGTransparencyNotRGB);
  if (Data.Data.size() != 6) RaisePNGError(PNGCorruptedData);
  const uint8_t* p = Data.Memory();
  // The bitmap keeps the high byte of 16-bit samples and gamma-maps colours: the key follows.
  const bool wide = h->BitDepth() == 16;
  TChunkGAMA* g = ReadyGamma(*this);
  const uint8_t* gt = g ? g->GammaTable : Identity();
  const uint8_t r = gt[wide ? p[0] : p[1]], gr = gt[wide ? p[2] : p[3]], b = gt[wide ? p[4] : p[5]];
  return uint32_t(r) | (uint32_t(gr) << 8) | (uint32_t(b) << 16);
}

void TChunkTRNS::SaveToStream(TStream& stream) {
  TChunkIHDR* h = Header();
  if (!h || h->ColorType() != 2) return;
  TPNGImage& img = Image();
  TChunkGAMA* g = ReadyGamma(*this);
  const uint8_t* inv = g ? g->InverseTable : Identity();
  const uint32_t c = img.TransparentColor;
  const uint8_t rgb[3] = {inv[c & 255], inv[(c >> 8) & 255], inv[(c >> 16) & 255]};
  Data.SetSize(6);
  for (int i = 0; i < 3; ++i) {
    Data.Data[std::size_t(2 * i)] = 0;
    Data.Data[std::size_t(2 * i + 1)] = rgb[i];
  }
  TChunk::SaveToStream(stream);
}

// --- tEXt

TChunkTEXT::TChunkTEXT(TChunkList& owner) : TChunk(owner, &Class) { Data.SetSize(2); }

// --- IDAT: decoding

namespace {
int Paeth(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

template <std::size_t B>
void UnfilterScalar(int type, uint8_t* row, const uint8_t* prev, std::size_t n) {
  const std::size_t head = std::min(B, n);
  switch (type) {
    case 1:
      for (std::size_t i = B; i < n; ++i) row[i] = uint8_t(row[i] + row[i - B]);
      break;
    case 2:
      for (std::size_t i = 0; i < n; ++i) row[i] = uint8_t(row[i] + prev[i]);
      break;
    case 3:
      for (std::size_t i = 0; i < head; ++i) row[i] = uint8_t(row[i] + (prev[i] >> 1));
      for (std::size_t i = B; i < n; ++i) row[i] = uint8_t(row[i] + ((row[i - B] + prev[i]) >> 1));
      break;
    case 4:
      for (std::size_t i = 0; i < head; ++i) row[i] = uint8_t(row[i] + prev[i]);
      for (std::size_t i = B; i < n; ++i) row[i] = uint8_t(row[i] + Paeth(row[i - B], prev[i], prev[i - B]));
      break;
  }
}

#if defined(__SSE2__)
// Colour rows: one whole pixel (3 to 8 bytes) at a time in a vector register. Sub, Average
// and Paeth depend on the pixel to the left, so pixels go in order but channels in parallel.
// Loads read up to 8 bytes at p (the row buffers have slack behind the row); lanes past the
// pixel hold neighbours' bytes, which never reach memory: stores write B bytes.
template <std::size_t B>
inline __m128i LoadPixel(const uint8_t* p) {
  if constexpr (B <= 4) {
    uint32_t t;
    std::memcpy(&t, p, 4);
    return _mm_cvtsi32_si128(int(t));
  } else {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  }
}
template <std::size_t B>
inline void StorePixel(uint8_t* p, __m128i v) {
  if constexpr (B <= 4) {
    const uint32_t t = uint32_t(_mm_cvtsi128_si32(v));
    std::memcpy(p, &t, B);
  } else {
    const uint64_t t = uint64_t(_mm_cvtsi128_si64(v));
    std::memcpy(p, &t, B);
  }
}

#if defined(KT_PAETH_SSE41)
template <std::size_t B>
__attribute__((target("sse4.1"))) void PaethSse41(uint8_t* row, const uint8_t* prev, std::size_t n);
bool HasSse41();
#endif

template <std::size_t B>
void UnfilterFixed(int type, uint8_t* row, const uint8_t* prev, std::size_t n) {
  if (B < 3 || type == 2 || n % B != 0) return UnfilterScalar<B>(type, row, prev, n);
#if defined(KT_PAETH_SSE41)
  if (type == 4 && HasSse41()) return PaethSse41<B>(row, prev, n);
#endif
  const __m128i zero = _mm_setzero_si128();
  switch (type) {
    case 1: {
      __m128i a = zero;
      for (std::size_t i = 0; i < n; i += B) {
        a = _mm_add_epi8(LoadPixel<B>(row + i), a);
        StorePixel<B>(row + i, a);
      }
      break;
    }
    case 3: {
      const __m128i one = _mm_set1_epi8(1);
      __m128i a = zero;
      for (std::size_t i = 0; i < n; i += B) {
        const __m128i b = LoadPixel<B>(prev + i);
        // (a + b) >> 1 without overflow: the rounded-up average minus the odd bit.
        const __m128i avg = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        a = _mm_add_epi8(LoadPixel<B>(row + i), avg);
        StorePixel<B>(row + i, a);
      }
      break;
    }
    case 4: {
      // 16-bit lanes throughout: the pixel to the left feeds the next one without a pack and
      // unpack in between, and what does not depend on it (|b - c|) is off that chain.
      const __m128i low = _mm_set1_epi16(0xFF);
      __m128i a = zero, c = zero;
      for (std::size_t i = 0; i < n; i += B) {
        const __m128i b = _mm_unpacklo_epi8(LoadPixel<B>(prev + i), zero);
        const __m128i x = _mm_unpacklo_epi8(LoadPixel<B>(row + i), zero);
        const __m128i bc = _mm_sub_epi16(b, c);
        const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
        const __m128i ac = _mm_sub_epi16(a, c);
        const __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
        const __m128i sum = _mm_add_epi16(bc, ac);
        const __m128i pc = _mm_max_epi16(sum, _mm_sub_epi16(zero, sum));
        // a when pa <= pb and pa <= pc, else b when pb <= pc, else c.
        const __m128i useC = _mm_cmpgt_epi16(pb, pc);
        const __m128i bOrC = _mm_or_si128(_mm_andnot_si128(useC, b), _mm_and_si128(useC, c));
        const __m128i notA = _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc));
        const __m128i pred = _mm_or_si128(_mm_andnot_si128(notA, a), _mm_and_si128(notA, bOrC));
        a = _mm_and_si128(_mm_add_epi16(x, pred), low);
        StorePixel<B>(row + i, _mm_packus_epi16(a, zero));
        c = b;
      }
      break;
    }
  }
}

#if defined(KT_PAETH_SSE41)
// Paeth on processors with SSE4.1: absolute values and blends take one instruction each, which
// shortens the chain from one pixel to the next. Same results as above.
template <std::size_t B>
__attribute__((target("sse4.1"))) void PaethSse41(uint8_t* row, const uint8_t* prev, std::size_t n) {
  const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi16(0xFF);
  __m128i a = zero, c = zero;
  for (std::size_t i = 0; i < n; i += B) {
    const __m128i b = _mm_cvtepu8_epi16(LoadPixel<B>(prev + i));
    const __m128i x = _mm_cvtepu8_epi16(LoadPixel<B>(row + i));
    const __m128i bc = _mm_sub_epi16(b, c);
    const __m128i pa = _mm_abs_epi16(bc);
    const __m128i ac = _mm_sub_epi16(a, c);
    const __m128i pb = _mm_abs_epi16(ac);
    const __m128i pc = _mm_abs_epi16(_mm_add_epi16(bc, ac));
    // a when pa <= pb and pa <= pc, else b when pb <= pc, else c.
    const __m128i bOrC = _mm_blendv_epi8(b, c, _mm_cmpgt_epi16(pb, pc));
    const __m128i pred = _mm_blendv_epi8(a, bOrC, _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc)));
    a = _mm_and_si128(_mm_add_epi16(x, pred), low);
    StorePixel<B>(row + i, _mm_packus_epi16(a, zero));
    c = b;
  }
}

bool CpuHasSse41() {
  __builtin_cpu_init();  // may run before the runtime's own constructors
  return __builtin_cpu_supports("sse4.1");
}
bool UseSse41 = CpuHasSse41();
bool HasSse41() { return UseSse41; }
#endif
#else
template <std::size_t B>
void UnfilterFixed(int type, uint8_t* row, const uint8_t* prev, std::size_t n) {
  UnfilterScalar<B>(type, row, prev, n);
}
#endif

// Undoes one row's filter in place; `prev` is the previous unfiltered row (zeros for the first).
// Up: no dependency along the row, 16 bytes at a time (row and prev never overlap).
void UnfilterUp(uint8_t* row, const uint8_t* prev, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(a, b));
  }
#endif
  for (; i < n; ++i) row[i] = uint8_t(row[i] + prev[i]);
}

void Unfilter(int type, uint8_t* row, const uint8_t* prev, std::size_t n, std::size_t bpp) {
  if (type == 0) return;
  if (type > 4) RaisePNGError(PNGUnknownFilterType);
  if (type == 2) return UnfilterUp(row, prev, n);
  switch (bpp) {
    case 1: UnfilterFixed<1>(type, row, prev, n); break;
    case 2: UnfilterFixed<2>(type, row, prev, n); break;
    case 3: UnfilterFixed<3>(type, row, prev, n); break;
    case 4: UnfilterFixed<4>(type, row, prev, n); break;
    case 6: UnfilterFixed<6>(type, row, prev, n); break;
    default: UnfilterFixed<8>(type, row, prev, n); break;
  }
}

// Expands one byte of four 2-bit samples into two bytes of 4-bit values v * 5.
struct TwoBitTable {
  uint16_t T[256];
  TwoBitTable() {
    for (int b = 0; b < 256; ++b) {
      const int v0 = (b >> 6) & 3, v1 = (b >> 4) & 3, v2 = (b >> 2) & 3, v3 = b & 3;
      const uint8_t hi = uint8_t((v0 * 5) << 4 | (v1 * 5)), lo = uint8_t((v2 * 5) << 4 | (v3 * 5));
      T[b] = uint16_t(hi | (lo << 8));  // memory order: hi then lo
    }
  }
};

struct RowFormat {
  int ColorType, Depth;
  TPixelFormat Target;
  const uint8_t* Gamma;  // identity when the image has no gAMA
  bool Plain = false;    // Gamma maps every value to itself: colours are only reordered

  std::size_t RowBytes(std::size_t w) const {
    const std::size_t d = std::size_t(Depth);
    switch (ColorType) {
      case 0:
      case 3: return (d * w + 7) / 8;
      case 2: return d * w * 3 / 8;
      case 4: return d * w * 2 / 8;
      default: return d * w * 4 / 8;
    }
  }
  std::size_t FilterDistance() const {
    switch (ColorType) {
      case 0: return Depth == 16 ? 2 : 1;  // a 16-bit grey pixel is two bytes
      case 3: return 1;
      case 2: return std::size_t(Depth) * 3 / 8;
      case 4: return std::size_t(Depth) / 4;
      default: return std::size_t(Depth) * 4 / 8;
    }
  }

  // Bytes per pixel and offsets of red, green, blue for colour rows.
  void ColourLayout(std::size_t& stride, std::size_t& step) const {
    step = Depth == 16 ? 2 : 1;
    stride = (ColorType == 2 ? 3 : 4) * step;
  }

  // Index value of pixel i of an indexed row.
  uint8_t Sample(const uint8_t* src, std::size_t i) const {
    if (ColorType == 4) return src[i * (Depth == 16 ? 4 : 2)];
    switch (Depth) {
      case 1: return (src[i >> 3] >> (7 - (i & 7))) & 1;
      case 2: return uint8_t(((src[i >> 2] >> (6 - 2 * (i & 3))) & 3) * 5);
      case 4: return (src[i >> 1] >> ((i & 1) ? 0 : 4)) & 15;
      case 8: return src[i];
      default: return src[2 * i];
    }
  }

  // Whole row into a bitmap row.
  void Convert(const uint8_t* src, std::size_t w, uint8_t* dst) const {
    if (Target == pf24bit) {
      std::size_t stride, step;
      ColourLayout(stride, step);
      const uint8_t* g = Gamma;
      if (Plain && stride == 3) {
        // Whole pixels as words (the row buffers have slack behind the row); each store's
        // fourth byte is overwritten by the next pixel, and the last pixel goes byte by byte.
        std::size_t x = 0;
        for (; x + 1 < w; ++x, src += 3, dst += 3) {
          uint32_t v;
          std::memcpy(&v, src, 4);
          v = __builtin_bswap32(v) >> 8;  // red, green, blue, - becomes blue, green, red, 0
          std::memcpy(dst, &v, 4);
        }
        for (; x < w; ++x, src += 3, dst += 3) {
          const uint8_t r = src[0];
          dst[1] = src[1];
          dst[0] = src[2];
          dst[2] = r;
        }
      } else if (Plain) {
        for (std::size_t x = 0; x < w; ++x, src += stride, dst += 3) {
          const uint8_t r = src[0], gr = src[step], b = src[2 * step];
          dst[0] = b;
          dst[1] = gr;
          dst[2] = r;
        }
      } else if (stride == 3) {
        for (std::size_t x = 0; x < w; ++x, src += 3, dst += 3) {
          const uint8_t r = src[0], gr = src[1], b = src[2];
          dst[0] = g[b];
          dst[1] = g[gr];
          dst[2] = g[r];
        }
      } else {
        for (std::size_t x = 0; x < w; ++x, src += stride, dst += 3) {
          const uint8_t r = src[0], gr = src[step], b = src[2 * step];
          dst[0] = g[b];
          dst[1] = g[gr];
          dst[2] = g[r];
        }
      }
      return;
    }
    if (ColorType == 4 || Depth == 16) {
      const std::size_t s = ColorType == 4 ? (Depth == 16 ? 4 : 2) : 2;
      for (std::size_t x = 0; x < w; ++x) dst[x] = src[x * s];
      return;
    }
    if (Depth == 2) {
      static const TwoBitTable t;
      const std::size_t n = (w + 3) / 4;
      for (std::size_t k = 0; k < n; ++k) std::memcpy(dst + 2 * k, &t.T[src[k]], 2);
      return;
    }
    std::memcpy(dst, src, RowBytes(w));  // depths 1, 4 and 8 are stored as they come
  }

  // Pass row into the columns c0, c0 + step, ... of a bitmap row.
  void Scatter(const uint8_t* src, std::size_t w, uint8_t* dst, std::size_t c0, std::size_t step) const {
    if (Target == pf24bit) {
      std::size_t stride, s;
      ColourLayout(stride, s);
      for (std::size_t i = 0; i < w; ++i) {
        const uint8_t* p = src + i * stride;
        uint8_t* d = dst + 3 * (c0 + i * step);
        d[0] = Gamma[p[2 * s]];
        d[1] = Gamma[p[s]];
        d[2] = Gamma[p[0]];
      }
      return;
    }
    for (std::size_t i = 0; i < w; ++i) {
      const std::size_t c = c0 + i * step;
      const uint8_t v = Sample(src, i);
      switch (Target) {
        case pf1bit: {
          const uint8_t bit = uint8_t(0x80 >> (c & 7));
          dst[c >> 3] = uint8_t(v ? (dst[c >> 3] | bit) : (dst[c >> 3] & ~bit));
          break;
        }
        case pf4bit:
          dst[c >> 1] = (c & 1) ? uint8_t((dst[c >> 1] & 0xF0) | v) : uint8_t((dst[c >> 1] & 0x0F) | (v << 4));
          break;
        default: dst[c] = v; break;
      }
    }
  }
};

bool ValidDepth(int colorType, int depth) {
  switch (colorType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6: return depth == 8 || depth == 16;
  }
  return false;
}

// Deflate cannot expand data by more than this factor; image data that would need more is cut.
constexpr uint64_t kMaxInflateRatio = 1032;
// Rows inflated per read, in bytes (at least one row).
constexpr std::size_t kBatchBytes = 32768;
}  // namespace

void PNGUseSse41(bool use) {
#if defined(KT_PAETH_SSE41)
  UseSse41 = use && CpuHasSse41();
#else
  (void)use;
#endif
}


void TChunkIDAT::Decode() {
  TPNGImage& img = Image();
  TChunkIHDR* h = Header();
  if (!h) RaisePNGError(PNGNoHeader);
  if (h->Data.Data.size() != 13) RaisePNGError(PNGCorruptedData);
  const int colorType = h->ColorType(), depth = h->BitDepth();
  if (colorType != 0 && colorType != 2 && colorType != 3 && colorType != 4 && colorType != 6)
    RaisePNGError(PNGUnknownColorType);
  if (!ValidDepth(colorType, depth) || h->CompressionMethod() != 0) RaisePNGError(PNGCorruptedData);
  if (h->FilterMethod() != 0) RaisePNGError(PNGUnknownFilterType);
  const int interlace = h->InterlaceMethod();
  if (interlace > 1) RaisePNGError(PNGUnknownInterlace);
  const uint32_t w32 = h->Width(), h32 = h->Height();
  if (w32 > 0x7FFFFFFFu || h32 > 0x7FFFFFFFu) RaisePNGError(PNGCorruptedData);

  TChunkGAMA* gamma = ReadyGamma(*this);
  RowFormat rf{colorType, depth, pf24bit, gamma ? gamma->GammaTable : Identity()};
  rf.Plain = std::memcmp(rf.Gamma, Identity(), 256) == 0;
  if (colorType == 0 || colorType == 3 || colorType == 4)
    rf.Target = depth == 1 ? pf1bit : depth <= 4 ? pf4bit : pf8bit;

  // Cheap size check before any allocation: the data must be able to hold every row.
  const std::size_t W = w32, H = h32;
  uint64_t needed = 0;
  if (interlace == 0) {
    needed = uint64_t(H) * (rf.RowBytes(W) + 1);
  } else {
    static const int rs[7] = {0, 0, 4, 0, 2, 0, 1}, rstep[7] = {8, 8, 8, 4, 4, 2, 2};
    static const int cs[7] = {0, 4, 0, 2, 0, 1, 0}, cstep[7] = {8, 8, 4, 4, 2, 2, 1};
    for (int p = 0; p < 7; ++p) {
      const std::size_t pw = (W - std::min<std::size_t>(W, cs[p]) + cstep[p] - 1) / cstep[p];
      const std::size_t ph = (H - std::min<std::size_t>(H, rs[p]) + rstep[p] - 1) / rstep[p];
      if (pw && ph) needed += uint64_t(ph) * (rf.RowBytes(pw) + 1);
    }
  }
  if (needed > uint64_t(Data.Data.size()) * kMaxInflateRatio + 64) RaisePNGError(PNGCorruptedData);

  std::vector<TPaletteEntry> pal;
  if (colorType == 3) {
    TChunkPLTE* plte = FindChunk<TChunkPLTE>(*Owner);
    if (!plte) RaisePNGError(PNGMissingPalette);
    pal = plte->Palette();
  } else if (colorType == 0 || colorType == 4) {
    const int entries = depth == 16 ? 256 : (1 << depth);
    pal.resize(std::size_t(entries));
    for (int i = 0; i < entries; ++i) {
      const uint8_t v = rf.Gamma[(i * 255 + (entries - 1) / 2) / (entries - 1)];
      pal[std::size_t(i)] = {v, v, v, 0};
    }
    if (depth == 2) {
      pal.resize(16);
      for (std::size_t i = 4; i < 16; ++i) pal[i] = pal[i % 4];
    }
  }
  img.SetSize(0, 0);
  img.SetPixelFormat(rf.Target);
  img.Palette = std::move(pal);
  // Rows in order overwrite the whole bitmap (what the rows leave, and what a failure leaves
  // undecoded, is cleared below); passes scatter their pixels over a cleared one.
  if (interlace == 0)
    img.SetSizeForOverwrite(int(W), int(H));
  else
    img.SetSize(int(W), int(H));
  img.Interlaced = interlace == 1;

  Data.SetPosition(0);
  TZDecompressionStream z(Data);
  const std::size_t bpp = rf.FilterDistance();
  const std::size_t maxRow = rf.RowBytes(W) + 1;
  constexpr std::size_t kSlack = 8;  // pixel-wide loads may read past the row's end
  // Two row buffers (the second starts as zeros) and, for rows in order, the batch behind them.
  const std::size_t batch =
      interlace == 0 ? std::max<std::size_t>(1, std::min<std::size_t>(H, kBatchBytes / maxRow)) : 0;
  std::vector<uint8_t> buffers((2 + batch) * maxRow + kSlack);
  uint8_t* const bufA = buffers.data();
  uint8_t* const bufB = bufA + maxRow;
  uint8_t* cur = bufA;
  uint8_t* prev = bufB;

  auto readRow = [&](std::size_t rowBytes) {
    if (std::size_t(z.Read(cur, int32_t(rowBytes + 1))) != rowBytes + 1) RaisePNGError(PNGCorruptedData);
    Unfilter(cur[0], cur + 1, prev + 1, rowBytes, bpp);
  };

  if (interlace == 0) {
    // Many rows per read: inflate takes its fast path only with room for a whole match (258
    // bytes), which single rows of small images never give.
    const std::size_t rb = maxRow - 1, rowLen = maxRow;
    const std::size_t stride = std::size_t(img.RowBytes());
    const std::size_t used = (W * std::size_t(TBitmap::BitsPerPixel(rf.Target)) + 7) / 8;
    uint8_t* const rows = bufB + maxRow;
    const uint8_t* above = bufB;  // the row before the next one, unfiltered (bufB: zeros)
    std::size_t y = 0;
    // Unfilters and converts the first `count` rows of the batch.
    auto convert = [&](std::size_t count) {
      for (std::size_t k = 0; k < count; ++k, ++y) {
        uint8_t* r = rows + k * rowLen;
        Unfilter(r[0], r + 1, (k == 0 ? above : r - rowLen) + 1, rb, bpp);
        uint8_t* out = img.ScanLine(int(y));
        if (stride > used) std::memset(out + used, 0, stride - used);  // no padding (or no row): nothing
        rf.Convert(r + 1, W, out);
        if (img.OnProgress) img.OnProgress(img, int(y * 100 / H));
      }
      if (count > 0) {
        std::memcpy(bufA, rows + (count - 1) * rowLen, rowLen);
        above = bufA;
      }
    };
    try {
      try {
        while (y < H) {
          const std::size_t want = std::min(batch, H - y);
          const std::size_t got = std::size_t(z.Read(rows, int32_t(want * rowLen)));
          convert(got / rowLen);
          if (got != want * rowLen) RaisePNGError(PNGCorruptedData);
        }
      } catch (const EZDecompressionError&) {
        // Damaged data: decode again one row at a time from the start, so that the rows kept
        // are exactly those that reading row by row keeps.
        z.Seek(0, soFromBeginning);
        std::memset(bufB, 0, maxRow);
        cur = bufA;
        prev = bufB;
        const std::size_t done = y;
        for (std::size_t r = 0; r < H; ++r) {
          readRow(rb);
          if (r >= done) {
            uint8_t* out = img.ScanLine(int(r));
            if (stride > used) std::memset(out + used, 0, stride - used);
            rf.Convert(cur + 1, W, out);
            y = r + 1;
            if (img.OnProgress) img.OnProgress(img, int(r * 100 / H));
          }
          std::swap(cur, prev);
        }
      }
    } catch (...) {
      // The rows not decoded read as zeros, as in a cleared bitmap.
      if (y < H) std::memset(img.ScanLine(int(y)), 0, (H - y) * stride);
      throw;
    }
    return;
  }
  static const int rs[7] = {0, 0, 4, 0, 2, 0, 1}, rstep[7] = {8, 8, 8, 4, 4, 2, 2};
  static const int cs[7] = {0, 4, 0, 2, 0, 1, 0}, cstep[7] = {8, 8, 4, 4, 2, 2, 1};
  for (int p = 0; p < 7; ++p) {
    const std::size_t pw = (W - std::min<std::size_t>(W, cs[p]) + cstep[p] - 1) / cstep[p];
    // An empty pass has no bytes at all, not even filter bytes.
    if (pw > 0) {
      const std::size_t rb = rf.RowBytes(pw);
      std::memset(prev, 0, rb + 1);
      for (std::size_t y = std::size_t(rs[p]); y < H; y += std::size_t(rstep[p])) {
        readRow(rb);
        rf.Scatter(cur + 1, pw, img.ScanLine(int(y)), std::size_t(cs[p]), std::size_t(cstep[p]));
        std::swap(cur, prev);
      }
    }
    if (img.OnProgress) img.OnProgress(img, p * 100 / 6);
  }
}

// --- IDAT: encoding

namespace {
// Counts positions whose byte equals each of the four before it: long runs compress well.
int RunScore(const uint8_t* f, std::size_t n) {
  int count = 0;
  for (std::size_t x = 4; x < n; ++x)
    if (f[x] == f[x - 1] && f[x] == f[x - 2] && f[x] == f[x - 3] && f[x] == f[x - 4]) ++count;
  return count;
}

void FilterRow(int type, const uint8_t* raw, const uint8_t* prev, std::size_t n, std::size_t bpp, uint8_t* out) {
  for (std::size_t x = 0; x < n; ++x) {
    const int a = x >= bpp ? raw[x - bpp] : 0, b = prev[x], c = x >= bpp ? prev[x - bpp] : 0;
    int pred = 0;
    switch (type) {
      case 1: pred = a; break;
      case 2: pred = b; break;
      case 3: pred = (a + b) >> 1; break;
      case 4: pred = Paeth(a, b, c); break;
    }
    out[x] = uint8_t(raw[x] - pred);
  }
}
}  // namespace

void TChunkIDAT::SaveToStream(TStream& stream) {
  TPNGImage& img = Image();
  img.Interlaced = false;
  TPixelFormat f = img.PixelFormat();
  if (f == pf32bit) {
    img.SetPixelFormat(pf24bit);
    f = pf24bit;
  }
  const bool indexed = f != pf24bit;
  const std::size_t W = std::size_t(img.Width()), H = std::size_t(img.Height());
  const std::size_t rb = indexed ? (std::size_t(TBitmap::BitsPerPixel(f)) * W + 7) / 8 : 3 * W;
  const std::size_t bpp = indexed ? 1 : 3;
  TChunkGAMA* g = ReadyGamma(*this);
  const uint8_t* inv = g ? g->InverseTable : Identity();
  const uint8_t filters = uint8_t(img.Filters | 1);

  Data.Clear();
  TZCompressionStream z(clDefault, Data);
  std::vector<uint8_t> raw(rb), prev(rb, 0);
  std::vector<uint8_t> out[5];
  for (auto& o : out) o.resize(rb + 1);
  for (std::size_t y = 0; y < H; ++y) {
    const uint8_t* s = img.ScanLine(int(y));
    if (indexed) {
      if (rb) std::memcpy(raw.data(), s, rb);
    } else {
      for (std::size_t x = 0; x < W; ++x) {
        raw[3 * x] = inv[s[3 * x + 2]];
        raw[3 * x + 1] = inv[s[3 * x + 1]];
        raw[3 * x + 2] = inv[s[3 * x]];
      }
    }
    int best = 0;
    if (filters != 1) {
      int bestScore = 0;
      for (int t = 0; t < 5; ++t) {
        if (!(filters & (1 << t))) continue;
        FilterRow(t, raw.data(), prev.data(), rb, bpp, out[t].data() + 1);
        const int score = RunScore(out[t].data() + 1, rb);
        if (score > bestScore) {
          bestScore = score;
          best = t;
        }
      }
    } else if (rb) {
      std::memcpy(out[0].data() + 1, raw.data(), rb);
    }
    out[best][0] = uint8_t(best);
    z.WriteBuffer(out[best].data(), int32_t(rb + 1));
    std::swap(raw, prev);
  }
  z.Finish();
  TChunk::SaveToStream(stream);
}

// --- TChunkList

TChunk* TChunkList::Item(int index) const {
  if (index < 0 || index >= Count()) RaisePNGError(PNGChunkIndex);
  return Items[std::size_t(index)].get();
}

TChunk* TChunkList::Add(std::unique_ptr<TChunk> chunk) {
  chunk->Owner = this;
  Items.push_back(std::move(chunk));
  return Items.back().get();
}

TChunk* TChunkList::AddNew(TChunkClass cls) { return Add(cls->Create(*this)); }

int TChunkList::IndexOf(const TChunk* chunk) const {
  for (std::size_t i = 0; i < Items.size(); ++i)
    if (Items[i].get() == chunk) return int(i);
  return -1;
}

int TChunkList::IndexOfClass(TChunkClass cls) const {
  for (std::size_t i = 0; i < Items.size(); ++i)
    if (Items[i]->ClassType() == cls) return int(i);
  return -1;
}

void TChunkList::Move(int from, int to) {
  if (from < 0 || from >= Count() || to < 0 || to >= Count()) RaisePNGError(PNGChunkIndex);
  auto c = std::move(Items[std::size_t(from)]);
  Items.erase(Items.begin() + from);
  Items.insert(Items.begin() + to, std::move(c));
}

void TChunkList::Remove(TChunk* chunk) {
  const int i = IndexOf(chunk);
  if (i < 0) RaisePNGError(PNGChunkNotInList);
  Items.erase(Items.begin() + i);
}

void TChunkList::Clear() {
  while (!Items.empty()) Items.pop_back();
}

TChunk* TChunkList::ReadChunk(TStream& stream) {
  uint8_t head[8];
  if (stream.Read(head, 8) != 8) RaisePNGError(PNGCorruptedData);
  const uint32_t len = Be32(head);
  uint32_t type;
  std::memcpy(&type, head + 4, 4);
  const int cls = TChunkClasses::IndexOfType(type);
  if (cls < 0 && !(type & 0x20)) RaisePNGError(PNGUnknownCriticalChunk);
  if (int64_t(len) > stream.Remaining()) RaisePNGError(PNGCorruptedData);  // also catches len >= 2^31

  // IDAT data goes straight behind the list's IDAT data: all of them form one stream.
  TChunk* target = nullptr;
  std::unique_ptr<TChunk> fresh;
  const TChunkClass klass = cls < 0 ? &TChunk::Class : TChunkClasses::Item(cls).Class;
  if (klass == &TChunkIDAT::Class) target = FindChunk<TChunkIDAT>(*this);
  if (!target) {
    fresh = klass->Create(*this);
    fresh->ChunkType = type;
    fresh->Data.Clear();
    target = fresh.get();
  }
  std::vector<uint8_t>& d = target->Data.Data;
  const std::size_t at = d.size();
  // The image data of all IDAT chunks lies in the rest of the stream: room for it at once
  // spares the copies of a growing buffer.
  if (klass == &TChunkIDAT::Class && d.capacity() < at + len)
    d.reserve(at + std::size_t(std::max<int64_t>(int64_t(len), stream.Remaining())));
  d.resize(at + len);
  if (len && stream.Read(d.data() + at, int32_t(len)) != int32_t(len)) {
    d.resize(at);
    RaisePNGError(PNGCorruptedData);
  }
  uint8_t crcBytes[4];
  if (stream.Read(crcBytes, 4) != 4) {
    d.resize(at);
    RaisePNGError(PNGCorruptedData);
  }
  uLong crc = crc32(0L, head + 4, 4);
  if (len) crc = crc32(crc, d.data() + at, uInt(len));
  if (uint32_t(crc) != Be32(crcBytes)) {
    d.resize(at);
    RaisePNGError(PNGCorruptedData);
  }
  if (fresh) return Add(std::move(fresh));
  return target;
}

// --- TPNGImage

TPNGImage::TPNGImage() : Chunks(*this) { ResetDefaults(); }

TPNGImage::~TPNGImage() = default;

void TPNGImage::ResetDefaults() {
  Chunks.Clear();
  auto* h = static_cast<TChunkIHDR*>(Chunks.AddNew(&TChunkIHDR::Class));
  h->SetWidth(0);
  h->SetHeight(0);
  h->SetBitDepth(2);
  h->SetColorType(3);
  h->SetCompressionMethod(0);
  h->SetFilterMethod(0);
  h->SetInterlaceMethod(0);
  Palette.clear();
  Chunks.AddNew(&TChunkIDAT::Class);
  Chunks.AddNew(&TChunkIEND::Class);
}

void TPNGImage::Assign(const TBitmap& source) {
  if (const auto* png = dynamic_cast<const TPNGImage*>(&source)) {
    if (png == this) return;
    Chunks.Clear();
    for (int i = 0; i < png->Chunks.Count(); ++i) {
      const TChunk* src = png->Chunks.Item(i);
      const int k = TChunkClasses::IndexOfType(src->ChunkType);
      TChunk* c = Chunks.AddNew(k < 0 ? &TChunk::Class : TChunkClasses::Item(k).Class);
      c->Assign(*src);
    }
    Filters = png->Filters;
    Interlaced = png->Interlaced;
  }
  TBitmap::Assign(source);
}

void TPNGImage::LoadFromStream(TStream& stream) {
  // The defaults followed by an empty list: what is left of them is the cleared palette.
  Chunks.Clear();
  Palette.clear();
  uint8_t sig[8];
  if (stream.Read(sig, 8) != 8 || std::memcmp(sig, kSignature, 8) != 0) RaisePNGError(PNGInvalidSignature);
  for (;;) {
    TChunk* c = Chunks.ReadChunk(stream);
    if (c->ClassType() == &TChunkIEND::Class) break;
    if (stream.GetPosition() >= stream.GetSize()) break;
  }
  if (Chunks.Count() == 0 || Chunks.Item(0)->ClassType() != &TChunkIHDR::Class) RaisePNGError(PNGNoHeader);
  if (Chunks.IndexOfClass(&TChunkIDAT::Class) < 0) RaisePNGError(PNGNoImageData);
  for (int i = 0; i < Chunks.Count(); ++i) Chunks.Item(i)->Decode();
  if (TChunkTRNS* t = FindChunk<TChunkTRNS>(Chunks)) {
    if (static_cast<TChunkIHDR*>(Chunks.Item(0))->ColorType() == 2) {
      TransparentColor = t->TransparentColor();
      Transparent = true;
    }
  }
}

void TPNGImage::SaveToStream(TStream& stream) {
  stream.WriteBuffer(kSignature, 8);
  if (Chunks.Count() == 0) ResetDefaults();
  if (Chunks.Item(0)->ClassType() != &TChunkIHDR::Class) {
    int i = Chunks.IndexOfClass(&TChunkIHDR::Class);
    if (i < 0) {
      Chunks.AddNew(&TChunkIHDR::Class);
      i = Chunks.Count() - 1;
    }
    Chunks.Move(i, 0);
  }
  auto insertAt1 = [this](TChunkClass cls) {
    Chunks.AddNew(cls);
    Chunks.Move(Chunks.Count() - 1, 1);
  };
  const TPixelFormat f = PixelFormat();
  if ((f == pf1bit || f == pf4bit || f == pf8bit) && Chunks.IndexOfClass(&TChunkPLTE::Class) < 0)
    insertAt1(&TChunkPLTE::Class);
  if (Transparent) {
    if (Chunks.IndexOfClass(&TChunkTRNS::Class) < 0) insertAt1(&TChunkTRNS::Class);
  } else {
    for (int i; (i = Chunks.IndexOfClass(&TChunkTRNS::Class)) >= 0;) Chunks.Remove(Chunks.Item(i));
  }
  if (Chunks.IndexOfClass(&TChunkIEND::Class) < 0) Chunks.AddNew(&TChunkIEND::Class);
  if (Chunks.IndexOfClass(&TChunkIDAT::Class) < 0) insertAt1(&TChunkIDAT::Class);
  for (int i = 0; i < Chunks.Count(); ++i) Chunks.Item(i)->SaveToStream(stream);
}
