#include "shell/VersInfo.h"

#include <algorithm>
#include <cstring>

#include "base/Streams.h"
#include "base/SysUtils.h"

const char* const VersionInfoKeys[viCount] = {
    "CompanyName",  "FileDescription",  "FileVersion", "InternalName",
    "LegalCopyright", "LegalTrademarks", "OriginalFilename", "ProductName",
    "ProductVersion", "Comments",        "BuildFlags"};

const char* const VersionInfoLabels[viCount] = {
    "Company Name",   "File Description", "File Version", "Internal Name",
    "Legal Copyright", "Legal Trademarks", "Original Filename", "Product Name",
    "Product Version", "Comments",         "Build Flags"};

void TVersionNumberInformation::SetValues(uint32_t high, uint32_t low) {
  FHigh = high;
  FLow = low;
  FValid = true;
}

void TVersionNumberInformation::Clear() {
  FHigh = FLow = 0;
  FValid = false;
}

std::string TVersionNumberInformation::GetAsString() const {
  if (!FValid) return {};
  if (!Text.empty()) return Text;
  return Format("%d.%d.%d.%d", Major(), Minor(), Release(), Build());
}

// --- TdfsVersionInfoResource

TdfsVersionInfoResource::TdfsVersionInfoResource() { ReadVersionInfo(); }

void TdfsVersionInfoResource::SetFilename(const std::string& fileName) {
  FFilename = fileName;
  ReadVersionInfo();
}

void TdfsVersionInfoResource::Reset() {
  FData.clear();
  FBlock = TVersionInfoBlock();
  FHasBlock = false;
  FTranslations.clear();
  FFixed = TFixedFileVersionInfo();
  FileVersion.Clear();
  ProductVersion.Clear();
}

void TdfsVersionInfoResource::ReadVersionInfo() {
  Reset();
  std::vector<uint8_t> data;
  TVersionInfoBlock block;
  if (!LoadVersionInfoBlock(FFilename, block, &data)) return;
  FData = std::move(data);
  FBlock = std::move(block);
  FHasBlock = true;
  FFixed.FileVersionMS = FBlock.FileVersionMS;
  FFixed.FileVersionLS = FBlock.FileVersionLS;
  FFixed.ProductVersionMS = FBlock.ProductVersionMS;
  FFixed.ProductVersionLS = FBlock.ProductVersionLS;
  FFixed.FileFlagsMask = FBlock.FileFlagsMask;
  FFixed.FileFlags = FBlock.FileFlags;
  FileVersion.SetValues(FFixed.FileVersionMS, FFixed.FileVersionLS);
  ProductVersion.SetValues(FFixed.ProductVersionMS, FFixed.ProductVersionLS);
  for (const TVersionInfoTranslation& t : FBlock.Translations) FTranslations.push_back(TranslationText(t));
}

std::string TdfsVersionInfoResource::GetVersionInfoString(int index) const {
  if (index < 0 || index >= viCount || !FHasBlock) return {};
  // An index past the list falls back like an empty list instead of failing the lookup.
  const std::string translation =
      TranslationIndex >= 0 && static_cast<std::size_t>(TranslationIndex) < FTranslations.size()
          ? FTranslations[static_cast<std::size_t>(TranslationIndex)]
          : std::string("040904E4");
  std::string value;
  if (!FBlock.QueryString(translation, VersionInfoKeys[index], value)) return {};
  return value;
}

std::string TdfsVersionInfoResource::GetBuildFlags() const {
  // Name order of the display; the mask is deliberately not applied.
  static const struct {
    uint32_t Bit;
    const char* Name;
  } kFlags[] = {{VS_FF_DEBUG, "Debug"},          {VS_FF_INFOINFERRED, "Info Inferred"},
                {VS_FF_PATCHED, "Patched"},      {VS_FF_PRERELEASE, "Pre-Release"},
                {VS_FF_PRIVATEBUILD, "Private"}, {VS_FF_SPECIALBUILD, "Special"}};
  std::string text;
  for (const auto& f : kFlags) {
    if ((FFixed.FileFlags & f.Bit) == 0) continue;
    if (!text.empty()) text += ", ";
    text += f.Name;
  }
  return text;
}
