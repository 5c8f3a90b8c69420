#pragma once
// Version information of a program file: fixed version numbers, build flags, translations and the
// string values (company, product, versions, ...). The build generates the program's own block
// (tools/versioninfo) and embeds it as the resource ("VERSION", "VERSIONINFO"); another file is
// searched for the same block. Pure C++ over src/base, so the fuzzers can link it without the GUI.
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

// Fixed information of the block in use.
class TFixedFileVersionInfo {
public:
  uint32_t FileVersionMS = 0, FileVersionLS = 0;
  uint32_t ProductVersionMS = 0, ProductVersionLS = 0;
  uint32_t FileFlagsMask = 0, FileFlags = 0;
};

// One four-part version number: major.minor from the high word, release.build from the low one.
class TVersionNumberInformation {
public:
  void SetValues(uint32_t high, uint32_t low);
  void Clear();  // no numbers; a replacing text stays
  uint32_t High() const { return FHigh; }
  uint32_t Low() const { return FLow; }
  bool Valid() const { return FValid; }
  uint16_t Major() const { return static_cast<uint16_t>(FHigh >> 16); }
  uint16_t Minor() const { return static_cast<uint16_t>(FHigh & 0xFFFF); }
  uint16_t Release() const { return static_cast<uint16_t>(FLow >> 16); }
  uint16_t Build() const { return static_cast<uint16_t>(FLow & 0xFFFF); }
  // Replaces the numbers in GetAsString when not empty.
  std::string Text;
  // Empty when not valid; else Text when set; else "%d.%d.%d.%d".
  std::string GetAsString() const;

private:
  uint32_t FHigh = 0, FLow = 0;
  bool FValid = false;
};

// Indexes of GetVersionInfoString.
enum : int {
  viCompanyName = 0,
  viFileDescription = 1,
  viFileVersion = 2,
  viInternalName = 3,
  viLegalCopyright = 4,
  viLegalTrademarks = 5,
  viOriginalFilename = 6,
  viProductName = 7,
  viProductVersion = 8,
  viComments = 9,
  viBuildFlags = 10,
  viCount = 11,
};

// String keys and their display labels, by index.
extern const char* const VersionInfoKeys[viCount];
extern const char* const VersionInfoLabels[viCount];

class TdfsVersionInfoResource {
public:
  TdfsVersionInfoResource();
  virtual ~TdfsVersionInfoResource() = default;
  TdfsVersionInfoResource(const TdfsVersionInfoResource&) = delete;
  TdfsVersionInfoResource& operator=(const TdfsVersionInfoResource&) = delete;

  // Empty = the running program (its embedded block). Setting it reads the block at once.
  void SetFilename(const std::string& fileName);
  const std::string& GetFilename() const { return FFilename; }
  // Kept for callers that set it; this program is never a loadable library, so the running
  // program's own block is always the one read for an empty name.
  bool ForceEXE = false;
  // Reads again after the reader's properties were set in a batch.
  void Loaded() { ReadVersionInfo(); }

  // Text of key `index` (0 .. 10) under the translation in use; empty for other indexes or
  // when the block or the value is missing.
  std::string GetVersionInfoString(int index) const;
  // Translations as "%.4X%.4X" (language, code page), in block order.
  const std::vector<std::string>& Translations() const { return FTranslations; }
  int TranslationIndex = 0;
  // Names of the set file flags, ", " between them; empty when none is set.
  virtual std::string GetBuildFlags() const;
  // True when a block was found and read.
  bool HasVersionInfo() const { return FHasBlock; }
  // The raw bytes of the block in use (empty when none).
  const std::vector<uint8_t>& VersionInfoData() const { return FData; }
  const TFixedFileVersionInfo& FixedInfo() const { return FFixed; }
  std::string GetVersion() const { return "TdfsVersionInfoResource v2.36"; }

  TVersionNumberInformation FileVersion;
  TVersionNumberInformation ProductVersion;

protected:
  void ReadVersionInfo();

private:
  void Reset();
  std::string FFilename;
  std::vector<uint8_t> FData;
  TVersionInfoBlock FBlock;
  bool FHasBlock = false;
  std::vector<std::string> FTranslations;
  TFixedFileVersionInfo FFixed;
};
