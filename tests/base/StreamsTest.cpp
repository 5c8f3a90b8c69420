#include <gtest/gtest.h>

#include "base/Classes.h"
#include "base/Random.h"
#include "base/Resources.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "base/Win1252.h"
#include "base/PasMath.h"
#include "support/TestSupport.h"

TEST(Streams, MemoryStreamSeekOriginsReadWriteAndLittleEndian) {
  TMemoryStream m;
  m.WriteU32(0x11223344);
  m.WriteU16(0xABCD);
  m.WriteF32(1.5f);
  EXPECT_EQ(m.GetSize(), 10);
  EXPECT_EQ(m.Memory()[0], 0x44);
  EXPECT_EQ(m.Seek(-4, soFromEnd), 6);
  EXPECT_FLOAT_EQ(m.ReadF32(), 1.5f);
  m.Seek(4, soFromBeginning);
  EXPECT_EQ(m.Seek(1, soFromCurrent), 5);
  EXPECT_EQ(m.ReadU8(), 0xAB);
  m.SetPosition(0);
  EXPECT_EQ(m.ReadU32(), 0x11223344u);
  // A short read returns what is there; ReadBuffer insists and raises.
  m.SetPosition(8);
  char buf[4];
  EXPECT_EQ(m.Read(buf, 4), 2);
  m.SetPosition(8);
  EXPECT_THROW(m.ReadBuffer(buf, 4), EReadError);
  // Writing past the end after a seek grows the stream.
  m.Seek(12, soFromBeginning);
  m.WriteU8(7);
  EXPECT_EQ(m.GetSize(), 13);
}

TEST(Streams, CopyFromWholeSourceAndCount) {
  TStringStream src("abcdefgh");
  src.SetPosition(5);
  TMemoryStream dst;
  EXPECT_EQ(dst.CopyFrom(src, 0), 8);  // 0 copies everything from the start
  src.SetPosition(2);
  EXPECT_EQ(dst.CopyFrom(src, 3), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dst.Memory()), 11), "abcdefghcde");
  src.SetPosition(6);
  EXPECT_THROW(dst.CopyFrom(src, 5), EReadError);
}

TEST(Streams, FileStreamModesAndErrors) {
  std::string dir = TestDir();
  EXPECT_THROW(TFileStream(dir + "missing.bin", fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(dir + "no/such/dir.bin", fmCreate), EFCreateError);
  {
    TFileStream f(dir + "a.bin", fmCreate);
    f.WriteString("hello world");
    f.SetSize(5);
  }
  TFileStream f(dir + "a.bin", fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(f.GetSize(), 5);
  EXPECT_EQ(f.ReadString(5), "hello");
  EXPECT_THROW(f.ReadString(1), EReadError);
  EXPECT_THROW(TFileStream(dir, fmOpenRead), EFOpenError);  // a folder is no file
}

TEST(Streams, AtomicSaveKeepsOldFileWhenItFails) {
  std::string dir = TestDir();
  ASSERT_TRUE(SaveFileAtomically(dir + "s.dat", std::string("first")));
  ASSERT_TRUE(SaveFileAtomically(dir + "s.dat", std::string("second")));
  EXPECT_EQ(ReadAll(dir + "s.dat"), "second");
  // The target is a folder: the rename fails, nothing is left behind.
  ForceDirectories(dir + "d.dat");
  EXPECT_FALSE(SaveFileAtomically(dir + "d.dat", std::string("x")));
  EXPECT_TRUE(DirectoryExists(dir + "d.dat"));
  TMemoryStream m;
  m.WriteString("third");
  m.SaveToFile(dir + "s.dat");
  EXPECT_EQ(ReadAll(dir + "s.dat"), "third");
}

TEST(Resources, LookupIgnoresCaseAndExtension) {
  TResourceData r;
  ASSERT_TRUE(FindResourceData("test", "Hello.txt", r));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.Data), r.Size), ReadAll(KT_SOURCE_DIR "/resources/test/hello.txt"));
  ASSERT_TRUE(FindResourceData("TEST", "HELLO", r));
  TResourceStream s("hello.other", "Test");
  EXPECT_EQ(s.GetSize(), static_cast<int64_t>(r.Size));
  EXPECT_THROW(s.WriteU8(1), EStreamError);
  EXPECT_THROW(TResourceStream("nothere", "TEST"), EResNotFound);
  EXPECT_FALSE(FindResourceData("GFX", "hello", r));
}

TEST(StringList, CrLfTextValuesAndMixedLineEnds) {
  TStringList l;
  l.SetText("a=1\r\nb=2\nc\rd");
  ASSERT_EQ(l.Count(), 4);
  EXPECT_EQ(l.Text(), "a=1\r\nb=2\r\nc\r\nd\r\n");
  EXPECT_EQ(l.Value("B"), "2");
  EXPECT_EQ(l.Value("x"), "");
  l.SetValue("a", "9");
  EXPECT_EQ(l[0], "a=9");
  EXPECT_THROW(l[4], EListError);
  std::string dir = TestDir();
  l.SaveToFile(dir + "l.txt");
  TStringList m;
  m.LoadFromFile(dir + "l.txt");
  EXPECT_EQ(m.Strings, l.Strings);
  EXPECT_THROW(m.LoadFromFile(dir + "none.txt"), EFOpenError);
}

TEST(Random, LcgStepsAndRange) {
  RandSeed = 0;
  EXPECT_EQ(Random(100), 0u);  // seed 1: (1 * 100) >> 32
  EXPECT_EQ(RandSeed, 1u);
  EXPECT_EQ(Random(0x80000000u), (uint32_t)((uint64_t(134775814u) * 0x80000000u) >> 32));
  RandSeed = 0xFFFFFFFFu;
  Random(10);
  EXPECT_EQ(RandSeed, 0xFFFFFFFFu * 134775813u + 1u);
  RandSeed = 12345;
  double f = RandomFloat();
  EXPECT_DOUBLE_EQ(f, (12345u * 134775813u + 1u) / 4294967296.0);
}

TEST(SysUtils, TextAndNumberHelpers) {
  EXPECT_EQ(IntToHex(0x81060001u, 8), "81060001");
  EXPECT_EQ(IntToHex(0xAB, 1), "AB");
  EXPECT_EQ(StrToIntDef("$1F", 0), 31);
  EXPECT_EQ(StrToIntDef(" -12 ", 0), -12);
  EXPECT_EQ(StrToIntDef("12x", 7), 7);
  EXPECT_EQ(StrToIntDef("99999999999999999999", 7), 7);
  EXPECT_TRUE(SameText("Begin", "bEGIN"));
  EXPECT_EQ(ExtractFilePath("/a/b/c.txt"), "/a/b/");
  EXPECT_EQ(ChangeFileExt("/a/b.c/d.lvl", ".scn"), "/a/b.c/d.scn");
  EXPECT_EQ(PasRound(2.5), 2);
  EXPECT_EQ(PasRound(3.5), 4);
  EXPECT_EQ(PasRound(-2.5), -2);
  EXPECT_EQ(PasTrunc(-2.7), -2);
}

TEST(Win1252, RoundTripAndUnmappable) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(Utf8ToCp1252("\xE4\xB8\xAD"), "?");  // a CJK character has no byte
  EXPECT_EQ(Utf8ToCp1252("\xC3"), "?");           // truncated sequence
}
