#pragma once
// Version information of a program file: fixed version numbers, build flags, translations and the
// string values (company, product, versions, ...). The build generates the program's own block
// (tools/versioninfo) and embeds it as the resource ("VERSION", "VERSIONINFO"); another file is
// searched for the same block (layout: base/VersionBlock.h). Pure C++ over src/base, so the
// fuzzers can link it without the GUI.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/VersionBlock.h"

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
