#pragma once
// PNG pictures: TPNGImage reads a PNG stream into its bitmap and writes the bitmap back as PNG.
// The file is kept as a list of chunk objects, one class per known chunk type.
// Decoded pixels: colour types 2 and 6 give 24-bit bitmaps (alpha dropped), types 0, 3 and 4
// give indexed bitmaps (1 bit for depth 1, 4 bits for depths 2 and 4, 8 bits for 8 and 16) with
// the file's palette or a grey one; samples go through the gamma table when a gAMA chunk is
// present. Every failure raises EPNGImageException.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Bitmap.h"
#include "base/Streams.h"

KT_DECLARE_EXCEPTION(EPNGImageException, EInvalidGraphic)

// Message ids of the handler's texts.
enum : int {
  PNGChunkClassIndex = 65264,
  PNGCorruptedData = 65265,
  PNGNoHeader = 65266,
  PNGNoImageData = 65267,
  PNGInvalidPalette = 65268,
  PNGUnknownColorType = 65269,
  PNGUnknownFilterType = 65270,
  PNGUnknownInterlace = 65271,
  PNGUnknownCriticalChunk = 65272,
  PNGMissingPalette = 65273,
  PNGTransparencyNotRGB = 65274,
  PNGChunkNotInList = 65275,
  PNGInvalidSignature = 65294,
  PNGChunkIndex = 65295,
};

// "Portable Network Graphics format handler error" + CR LF CR LF + the text of `id`.
std::string PNGErrorMessage(int id);
// Decoding uses SSE4.1 instructions where the processor has them; off, it takes the SSE2 path
// (tests check that both give the same pixels).
void PNGUseSse41(bool use);
[[noreturn]] void RaisePNGError(int id);

// The four type characters in file order, first character in the low byte.
constexpr uint32_t ChunkCode(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) | (uint32_t(uint8_t(s[2])) << 16) |
         (uint32_t(uint8_t(s[3])) << 24);
}

class TChunk;
class TChunkList;
class TChunkIHDR;
class TChunkGAMA;
class TPNGImage;

// A chunk class: how to make one. Compared by address.
struct TChunkClassInfo {
  std::unique_ptr<TChunk> (*Create)(TChunkList& owner);
};
using TChunkClass = const TChunkClassInfo*;

// The process-wide table of registered chunk types.
struct TChunkClassRec {
  uint32_t Type;
  TChunkClass Class;
};
void RegisterChunkClass(uint32_t type, TChunkClass cls);
class TChunkClasses {
public:
  static int Count();
  static TChunkClassRec Item(int index);  // 65264 when out of range
  static int IndexOfClass(TChunkClass cls);
  static int IndexOfType(uint32_t type);
};

class TChunk {
public:
  static const TChunkClassInfo Class;
  explicit TChunk(TChunkList& owner) : TChunk(owner, &Class) {}
  virtual ~TChunk() = default;
  TChunk(const TChunk&) = delete;
  TChunk& operator=(const TChunk&) = delete;
  virtual TChunkClass ClassType() const { return &Class; }

  // Called once the whole file is read.
  virtual void Decode() {}
  virtual void Assign(const TChunk& source);  // data and type
  // Writes length, type, data and CRC; chunks whose fourth type letter is lower case are
  // not written.
  virtual void SaveToStream(TStream& stream);

  TPNGImage& Image() const;
  TChunkIHDR* Header() const;      // the list's first chunk when it is an IHDR
  TChunkGAMA* GammaChunk() const;  // the list's gAMA chunk, or null
  int Index() const;

  TChunkList* Owner;
  TMemoryStream Data;
  uint32_t ChunkType = 0;

protected:
  TChunk(TChunkList& owner, TChunkClass cls);
};

class TChunkIHDR : public TChunk {
public:
  static const TChunkClassInfo Class;
  explicit TChunkIHDR(TChunkList& owner);
  TChunkClass ClassType() const override { return &Class; }
  void SaveToStream(TStream& stream) override;

  uint32_t Width() const { return Get32(0); }
  uint32_t Height() const { return Get32(4); }
  uint8_t BitDepth() const { return Get8(8); }
  uint8_t ColorType() const { return Get8(9); }
  uint8_t CompressionMethod() const { return Get8(10); }
  uint8_t FilterMethod() const { return Get8(11); }
  uint8_t InterlaceMethod() const { return Get8(12); }
  void SetWidth(uint32_t v) { Set32(0, v); }
  void SetHeight(uint32_t v) { Set32(4, v); }
  void SetBitDepth(uint8_t v) { Set8(8, v); }
  void SetColorType(uint8_t v) { Set8(9, v); }
  void SetCompressionMethod(uint8_t v) { Set8(10, v); }
  void SetFilterMethod(uint8_t v) { Set8(11, v); }
  void SetInterlaceMethod(uint8_t v) { Set8(12, v); }

private:
  uint32_t Get32(int at) const;
  uint8_t Get8(int at) const;
  void Set32(int at, uint32_t v);
  void Set8(int at, uint8_t v);
};

class TChunkPLTE : public TChunk {
public:
  static const TChunkClassInfo Class;
  explicit TChunkPLTE(TChunkList& owner) : TChunk(owner, &Class) {}
  TChunkClass ClassType() const override { return &Class; }
  // The palette from the data, through the gamma table; 65268 when the data is not whole
  // entries. Bit depth 2 repeats entries 0-3 to fill 16.
  std::vector<TPaletteEntry> Palette() const;
  void SaveToStream(TStream& stream) override;
};

class TChunkIDAT : public TChunk {
public:
  static const TChunkClassInfo Class;
  explicit TChunkIDAT(TChunkList& owner) : TChunk(owner, &Class) {}
  TChunkClass ClassType() const override { return &Class; }
  void Decode() override;                      // inflates and unfilters into the bitmap
  void SaveToStream(TStream& stream) override;  // encodes the bitmap first
};

class TChunkGAMA : public TChunk {
public:
  static const TChunkClassInfo Class;
  explicit TChunkGAMA(TChunkList& owner);
  TChunkClass ClassType() const override { return &Class; }
  uint32_t Gamma() const;  // gamma * 100000
  void SetGamma(uint32_t v);
  void Decode() override;  // builds the tables
  bool TablesBuilt() const { return Built; }
  uint8_t GammaTable[256] = {};
  uint8_t InverseTable[256] = {};

private:
  bool Built = false;
};

class TChunkTRNS : public TChunk {
public:
  static const TChunkClassInfo Class;
  explicit TChunkTRNS(TChunkList& owner) : TChunk(owner, &Class) {}
  TChunkClass ClassType() const override { return &Class; }
  // The transparent colour (TColor 0x00BBGGRR) of an RGB image; 65274 for other colour types.
  uint32_t TransparentColor() const;
  void SaveToStream(TStream& stream) override;  // nothing unless the image is RGB
};

class TChunkTEXT : public TChunk {
public:
  static const TChunkClassInfo Class;
  explicit TChunkTEXT(TChunkList& owner);
  TChunkClass ClassType() const override { return &Class; }
};

class TChunkIEND : public TChunk {
public:
  static const TChunkClassInfo Class;
  explicit TChunkIEND(TChunkList& owner) : TChunk(owner, &Class) {}
  TChunkClass ClassType() const override { return &Class; }
};

class TChunkList {
public:
  explicit TChunkList(TPNGImage& owner) : Owner(&owner) {}
  ~TChunkList() { Clear(); }
  TChunkList(const TChunkList&) = delete;
  TChunkList& operator=(const TChunkList&) = delete;

  int Count() const { return int(Items.size()); }
  TChunk* Item(int index) const;  // 65295 when out of range
  TChunk* Add(std::unique_ptr<TChunk> chunk);
  TChunk* AddNew(TChunkClass cls);
  int IndexOf(const TChunk* chunk) const;
  int IndexOfClass(TChunkClass cls) const;  // first chunk of exactly that class, -1 when none
  void Move(int from, int to);              // 65295 when an index is out of range
  void Remove(TChunk* chunk);               // 65275 when not in this list; frees it
  void Clear();                             // frees all, last first
  // Reads one chunk; IDAT data joins the list's IDAT chunk, which is then returned.
  TChunk* ReadChunk(TStream& stream);

  TPNGImage* Owner;

private:
  std::vector<std::unique_ptr<TChunk>> Items;
};

class TPNGImage : public TBitmap {
public:
  TPNGImage();
  ~TPNGImage() override;
  TPNGImage(const TPNGImage&) = delete;
  TPNGImage& operator=(const TPNGImage&) = delete;

  // From another TPNGImage the chunks, Filters and Interlaced come along; then the bitmap.
  void Assign(const TBitmap& source) override;
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream);

  // Filters the writer may choose from: bit 0 None (always), 1 Sub, 2 Up, 3 Average, 4 Paeth.
  uint8_t Filters = 27;
  bool Interlaced = false;
  TChunkList Chunks;
  // Raised after every row (non-interlaced) or pass (interlaced) with a percentage.
  std::function<void(TPNGImage&, int)> OnProgress;

  void ResetDefaults();
};
