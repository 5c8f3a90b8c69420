#include "shell/VersInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/Streams.h"
#include "support/TestSupport.h"

namespace {

// Builds blocks in the documented layout, independently of the build's generator.
struct BlockSpec {
  uint32_t FileMS = 0x00010000, FileLS = 0, ProductMS = 0x00010000, ProductLS = 0;
  uint32_t Mask = 0x3F, Flags = 0;
  std::vector<std::pair<uint16_t, uint16_t>> Translations{{0x0409, 0x04E4}};
  struct Table {
    uint16_t Language, CodePage;
    std::vector<std::pair<std::string, std::string>> Values;
  };
  std::vector<Table> Tables{{0x0409, 0x04E4, {{"CompanyName", "Orvalent"}}}};

  static void U16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
  }
  static void U32(std::string& s, uint32_t v) {
    U16(s, v & 0xFFFF);
    U16(s, v >> 16);
  }
  std::string Build() const {
    std::string body;
    for (const auto& t : Translations) {
      U16(body, t.first);
      U16(body, t.second);
    }
    for (const Table& t : Tables) {
      U16(body, t.Language);
      U16(body, t.CodePage);
      U16(body, static_cast<uint32_t>(t.Values.size()));
      for (const auto& kv : t.Values) {
        U16(body, static_cast<uint32_t>(kv.first.size()));
        body += kv.first;
        U16(body, static_cast<uint32_t>(kv.second.size()));
        body += kv.second;
      }
    }
    std::string b(kVersionInfoMagic, sizeof kVersionInfoMagic);
    U16(b, 1);
    U16(b, static_cast<uint32_t>(Translations.size()));
    U16(b, static_cast<uint32_t>(Tables.size()));
    U16(b, 0);
    U32(b, static_cast<uint32_t>(44 + body.size()));
    for (uint32_t v : {FileMS, FileLS, ProductMS, ProductLS, Mask, Flags}) U32(b, v);
    return b + body;
  }
};

// A reader over a file that holds `bytes`.
struct FileReader {
  explicit FileReader(const std::string& bytes, const std::string& name = "prog.bin")
      : Path(TestDir() + name) {
    WriteAll(Path, bytes);
    Reader.SetFilename(Path);
  }
  std::string Path;
  TdfsVersionInfoResource Reader;
};

void ExpectEmpty(const TdfsVersionInfoResource& r) {
  EXPECT_FALSE(r.HasVersionInfo());
  EXPECT_TRUE(r.Translations().empty());
  EXPECT_TRUE(r.VersionInfoData().empty());
  EXPECT_EQ(r.FileVersion.GetAsString(), "");
  EXPECT_EQ(r.ProductVersion.GetAsString(), "");
  EXPECT_EQ(r.GetBuildFlags(), "");
  for (int i = 0; i < viCount; ++i) EXPECT_EQ(r.GetVersionInfoString(i), "") << i;
}

std::string Junk(std::size_t n, char fill = 'x') { return std::string(n, fill); }

}  // namespace

TEST(VersInfo, TranslationTextIsUpperCaseHexAndSelectsItsTable) {
  BlockSpec spec;
  spec.Translations = {{0x0407, 0x04B0}, {0x0409, 0x04E4}};
  spec.Tables = {{0x0409, 0x04E4, {{"CompanyName", "English"}}},
                 {0x0407, 0x04B0, {{"CompanyName", "Deutsch"}, {"productname", "Produkt"}}}};
  FileReader f(spec.Build());
  ASSERT_TRUE(f.Reader.HasVersionInfo());
  EXPECT_EQ(f.Reader.Translations(), (std::vector<std::string>{"040704B0", "040904E4"}));
  EXPECT_EQ(f.Reader.GetVersionInfoString(viCompanyName), "Deutsch");
  // keys compare without case, as lookups of the platform's version values do
  EXPECT_EQ(f.Reader.GetVersionInfoString(viProductName), "Produkt");
  f.Reader.TranslationIndex = 1;
  EXPECT_EQ(f.Reader.GetVersionInfoString(viCompanyName), "English");
  EXPECT_EQ(f.Reader.GetVersionInfoString(viProductName), "");
}

TEST(VersInfo, WithoutTranslationTableTheDefaultTranslationIsQueried) {
  BlockSpec spec;
  spec.Translations.clear();
  spec.Tables = {{0x0407, 0x04B0, {{"CompanyName", "Deutsch"}}},
                 {0x0409, 0x04E4, {{"CompanyName", "Orvalent"}}}};
  FileReader f(spec.Build());
  ASSERT_TRUE(f.Reader.HasVersionInfo());
  EXPECT_TRUE(f.Reader.Translations().empty());
  EXPECT_EQ(f.Reader.GetVersionInfoString(viCompanyName), "Orvalent");
  // an index past the list falls back the same way
  spec.Translations = {{0x0407, 0x04B0}};
  FileReader g(spec.Build());
  g.Reader.TranslationIndex = 3;
  EXPECT_EQ(g.Reader.GetVersionInfoString(viCompanyName), "Orvalent");
  for (int bad : {-1, int{viCount}, 99}) EXPECT_EQ(g.Reader.GetVersionInfoString(bad), "");
}

TEST(VersInfo, BuildFlagsNameTheSetBitsInListOrder) {
  const struct {
    uint32_t Mask, Flags;
    const char* Text;
  } cases[] = {
      {0x3F, 33, "Debug, Special"},
      {0x3F, 0, ""},
      {0x3F, 0x12, "Info Inferred, Pre-Release"},
      {0x3F, 0x3F, "Debug, Info Inferred, Patched, Pre-Release, Private, Special"},
      {0, 1, "Debug"},              // the mask is not applied
      {0x3F, 0xFFC0, ""},           // bits without a name
  };
  for (const auto& c : cases) {
    BlockSpec spec;
    spec.Mask = c.Mask;
    spec.Flags = c.Flags;
    FileReader f(spec.Build());
    EXPECT_EQ(f.Reader.GetBuildFlags(), c.Text) << c.Flags;
    EXPECT_EQ(f.Reader.FixedInfo().FileFlags, c.Flags);
  }
}

TEST(VersInfo, VersionNumbersReadAsFourParts) {
  BlockSpec spec;
  spec.FileMS = 65538;
  spec.FileLS = 196612;
  spec.ProductMS = 0xFFFF0000;
  spec.ProductLS = 0x0000FFFF;
  FileReader f(spec.Build());
  EXPECT_EQ(f.Reader.FileVersion.GetAsString(), "1.2.3.4");
  EXPECT_EQ(f.Reader.ProductVersion.GetAsString(), "65535.0.0.65535");
  EXPECT_EQ(f.Reader.FileVersion.Major(), 1);
  EXPECT_EQ(f.Reader.FileVersion.Build(), 4);

  TVersionNumberInformation v;
  EXPECT_EQ(v.GetAsString(), "");
  v.Text = "2.0 beta";
  EXPECT_EQ(v.GetAsString(), "");  // no numbers yet: not valid
  v.SetValues(65538, 196612);
  EXPECT_EQ(v.GetAsString(), "2.0 beta");
  v.Text.clear();
  EXPECT_EQ(v.GetAsString(), "1.2.3.4");
}

TEST(VersInfo, RunningProgramHasTheBuildsVersion) {
  TdfsVersionInfoResource own;
  ASSERT_TRUE(own.HasVersionInfo());
  EXPECT_EQ(own.GetVersionInfoString(viCompanyName), "Orvalent");
  EXPECT_EQ(own.GetVersionInfoString(viProductName), "Kestrune");
  EXPECT_EQ(own.GetVersionInfoString(viFileVersion), KT_PROGRAM_VERSION);
  EXPECT_EQ(own.GetVersionInfoString(viProductVersion), KT_PROGRAM_VERSION);
  EXPECT_FALSE(own.GetVersionInfoString(viOriginalFilename).empty());
  EXPECT_FALSE(own.GetVersionInfoString(viLegalCopyright).empty());
  EXPECT_EQ(own.FileVersion.GetAsString(), KT_PROGRAM_VERSION);
  EXPECT_EQ(own.ProductVersion.GetAsString(), KT_PROGRAM_VERSION);
  EXPECT_EQ(own.Translations(), std::vector<std::string>{"040904E4"});
  EXPECT_EQ(own.GetVersion(), "TdfsVersionInfoResource v2.36");

  // The program file itself carries the same block, found by searching the file.
  TdfsVersionInfoResource file;
  file.SetFilename("/proc/self/exe");
  ASSERT_TRUE(file.HasVersionInfo());
  EXPECT_EQ(file.VersionInfoData(), own.VersionInfoData());
  EXPECT_EQ(file.FileVersion.GetAsString(), KT_PROGRAM_VERSION);

  // Back to the running program after naming another file.
  file.SetFilename(TestDir() + "missing.exe");
  EXPECT_FALSE(file.HasVersionInfo());
  file.SetFilename("");
  EXPECT_EQ(file.GetVersionInfoString(viCompanyName), "Orvalent");
}

TEST(VersInfo, FilesWithoutVersionInformationGiveTheEmptyReader) {
  const std::string dir = TestDir();
  TdfsVersionInfoResource r;
  r.SetFilename(dir + "missing.exe");
  ExpectEmpty(r);
  r.SetFilename(dir);  // a folder
  ExpectEmpty(r);
  WriteAll(dir + "empty.bin", "");
  r.SetFilename(dir + "empty.bin");
  ExpectEmpty(r);
  WriteAll(dir + "text.bin", Junk(3 << 20, 'K'));  // magic's first byte everywhere
  r.SetFilename(dir + "text.bin");
  ExpectEmpty(r);
}

TEST(VersInfo, DamagedBlocksAreRefused) {
  BlockSpec spec;
  spec.Tables = {{0x0409, 0x04E4, {{"CompanyName", "Orvalent"}, {"ProductName", "Kestrune"}}}};
  const std::string good = spec.Build();
  auto with = [&](std::size_t at, std::string bytes) {
    std::string b = good;
    b.replace(at, bytes.size(), bytes);
    return b;
  };
  auto le32 = [](uint32_t v) {
    std::string s;
    BlockSpec::U32(s, v);
    return s;
  };
  const std::size_t firstKey = 44 + 4 + 6;  // length of "CompanyName"
  const struct {
    const char* What;
    std::string Bytes;
  } cases[] = {
      {"size past the end", with(16, le32(static_cast<uint32_t>(good.size() + 1)))},
      {"size below the header", with(16, le32(43))},
      {"size over the limit", with(16, le32(70000)) + Junk(70000)},
      {"trailing byte inside the size", with(16, le32(static_cast<uint32_t>(good.size() + 1))) + "z"},
      {"layout version", with(8, "\x02")},
      {"reserved field", with(14, "\x01")},
      {"translation count", with(10, "\xFF\xFF")},
      {"table count", with(12, "\x02")},
      {"entry count", with(52, "\x03")},
      {"key length zero", with(firstKey, std::string("\0\0", 2))},
      {"key length past the end", with(firstKey, "\xF0\x00")},
      {"value length past the end", with(firstKey + 2 + 11, "\xFF\xFF")},
      {"magic", with(0, "KTVERINX")},
  };
  for (const auto& c : cases) {
    TVersionInfoBlock b;
    EXPECT_FALSE(ParseVersionInfoBlock(reinterpret_cast<const uint8_t*>(c.Bytes.data()),
                                       c.Bytes.size(), b))
        << c.What;
    FileReader f(c.Bytes);
    ExpectEmpty(f.Reader);
  }
  // every cut-short block, alone in its file
  for (std::size_t n = 0; n < good.size(); ++n) {
    TVersionInfoBlock b;
    EXPECT_FALSE(ParseVersionInfoBlock(reinterpret_cast<const uint8_t*>(good.data()), n, b)) << n;
    FileReader f(good.substr(0, n));
    EXPECT_FALSE(f.Reader.HasVersionInfo()) << n;
  }
  // a damaged candidate does not hide a sound block after it
  FileReader f(cases[0].Bytes.substr(0, 30) + good + "tail");
  EXPECT_EQ(f.Reader.GetVersionInfoString(viProductName), "Kestrune");
}

TEST(VersInfo, BlockIsFoundAnywhereInAFile) {
  BlockSpec spec;
  spec.FileMS = 0x00020003;
  const std::string block = spec.Build();
  // Across the reader's 1 MiB windows: before, on and after a window boundary.
  for (std::size_t at : {std::size_t{0}, std::size_t{(1 << 20) - 20}, std::size_t{(1 << 20)},
                         std::size_t{(3 << 20) + 7}}) {
    FileReader f(Junk(at, 'K') + block + Junk(100));
    EXPECT_EQ(f.Reader.FileVersion.GetAsString(), "2.3.0.0") << at;
  }
  // Small windows over a stream: every placement around several boundaries, also of the
  // smallest block (header only) at the very end of the stream.
  BlockSpec bare;
  bare.Translations.clear();
  bare.Tables.clear();
  for (const std::string& b : {block, bare.Build()}) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{64}}) {
      for (std::size_t at = 0; at < 3 * chunk + 50; ++at) {
        const std::string bytes = Junk(at) + b + Junk(at % 3);
        TStringStream s(bytes);
        std::vector<uint8_t> found;
        ASSERT_TRUE(FindVersionInfoBlock(s, found, chunk)) << b.size() << " " << chunk << " " << at;
        EXPECT_EQ(std::string(found.begin(), found.end()), b);
      }
    }
  }
  // The first of two blocks wins.
  BlockSpec other;
  other.FileMS = 0x00090000;
  FileReader f(Junk(5) + other.Build() + block);
  EXPECT_EQ(f.Reader.FileVersion.GetAsString(), "9.0.0.0");
}
