#pragma once
// The program's version-information block. The build generates it (tools/versioninfo) and embeds
// it as the resource ("VERSION", "VERSIONINFO"); a file is searched for the same block. Pure C++
// over the base layer, so every layer and the fuzzers can read it.
//
// Block layout (all numbers little-endian, strings Windows-1252 bytes without terminator):
//
//   offset size  header (44 bytes)
//        0    8  magic "KTVERINF"
//        8    2  layout version, 1
//       10    2  translation count T (0: the block has no translation table)
//       12    2  string-table count S
//       14    2  reserved, 0
//       16    4  block size in bytes, header included (44 .. 65536)
//       20    4  file version high word    (major << 16 | minor)
//       24    4  file version low word     (release << 16 | build)
//       28    4  product version high word
//       32    4  product version low word
//       36    4  file-flags mask
//       40    4  file flags (1 Debug, 2 Pre-Release, 4 Patched, 8 Private, 16 Info Inferred,
//                32 Special)
//   then T translations: u16 language, u16 code page
//   then S string tables: u16 language, u16 code page, u16 entry count N, then N entries of
//        u16 key length (1 .. 255), key bytes, u16 value length, value bytes
//
// The block ends exactly where the string tables end. Anything else (short, oversized, counts
// running past the size, trailing bytes) makes the block damaged; a damaged block reads as none.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TStream;

constexpr char kVersionInfoMagic[8] = {'K', 'T', 'V', 'E', 'R', 'I', 'N', 'F'};
constexpr uint16_t kVersionInfoLayout = 1;
constexpr std::size_t kVersionInfoHeaderSize = 44;
constexpr std::size_t kVersionInfoMaxSize = 65536;

// File-flag bits of the fixed information.
enum : uint32_t {
  VS_FF_DEBUG = 0x01,
  VS_FF_PRERELEASE = 0x02,
  VS_FF_PATCHED = 0x04,
  VS_FF_PRIVATEBUILD = 0x08,
  VS_FF_INFOINFERRED = 0x10,
  VS_FF_SPECIALBUILD = 0x20,
};

struct TVersionInfoTranslation {
  uint16_t Language = 0;
  uint16_t CodePage = 0;
};

struct TVersionInfoStringTable {
  TVersionInfoTranslation Translation;
  std::vector<std::pair<std::string, std::string>> Values;  // key, value; in block order
};

// A parsed block.
struct TVersionInfoBlock {
  uint32_t FileVersionMS = 0, FileVersionLS = 0;
  uint32_t ProductVersionMS = 0, ProductVersionLS = 0;
  uint32_t FileFlagsMask = 0, FileFlags = 0;
  std::vector<TVersionInfoTranslation> Translations;
  std::vector<TVersionInfoStringTable> StringTables;

  // The value of `key` in the string table whose translation text ("%.4X%.4X") is
  // `translation`; keys and translation texts compare without case. False when missing.
  bool QueryString(const std::string& translation, const std::string& key, std::string& value) const;
};

// Parses exactly `size` bytes as one block; reads nothing outside them. False when damaged.
bool ParseVersionInfoBlock(const uint8_t* data, std::size_t size, TVersionInfoBlock& out);
// The first well-formed block in `data` (a file's bytes, say) that starts before `searchLimit`
// (default: anywhere). On success `offset` and `length` locate its bytes.
bool FindVersionInfoBlock(const uint8_t* data, std::size_t size, std::size_t& offset,
                          std::size_t& length, std::size_t searchLimit = SIZE_MAX);
// Searches a stream from its start in windows of `chunkSize` bytes (plus room for one whole
// block), so a large file is never held in memory at once. Copies the block's bytes to `block`.
bool FindVersionInfoBlock(TStream& stream, std::vector<uint8_t>& block,
                          std::size_t chunkSize = 1 << 20);
// "%.4X%.4X" of a translation (language, code page), as QueryString takes it.
std::string TranslationText(const TVersionInfoTranslation& t);
// The block of a file: the running program's embedded one for an empty name, else the first one
// found in the file's bytes. False when there is none, it is damaged or the file cannot be read.
// `raw`, when given, receives the block's bytes.
bool LoadVersionInfoBlock(const std::string& fileName, TVersionInfoBlock& block,
                          std::vector<uint8_t>* raw = nullptr);
