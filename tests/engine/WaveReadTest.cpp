#include <gtest/gtest.h>

#include <cstring>

#include "support/SoundTestSupport.h"
#include "base/Exceptions.h"
#include "engine/WaveRead.h"
#include "platform/MSACM.h"

using namespace soundtest;
using fixtures::FormatBytes;
using fixtures::PcmFormat;
using fixtures::Riff;

namespace {
class WaveRead : public SoundTest {};

std::string Raised(const std::string& bytes) {
  try {
    TCustomMemoryWaveReadStream s(bytes.data(), static_cast<uint32_t>(bytes.size()));
  } catch (const Exception& e) {
    return e.Message;
  }
  return "";
}

std::string ReadAll(TWavePCMReader& r, int piece) {
  std::string out, buf(static_cast<std::size_t>(piece), '\0');
  for (int n; (n = r.Read(buf.data(), piece)) > 0;) out.append(buf.data(), static_cast<std::size_t>(n));
  return out;
}

// A codec for tests: format tag 0x7777 "decodes" every source byte b into the 16-bit sample
// b * 256, in blocks of 418 source bytes; bytes 0xFF are filler that yields nothing.
constexpr uint16_t kFakeTag = 0x7777;
int StartFlags = 0;
int Conversions = 0;
intptr_t FakeDriverProc(uintptr_t, void*, uint32_t msg, intptr_t p1, intptr_t p2) {
  switch (msg) {
    case DRV_LOAD: case DRV_FREE: case DRV_CLOSE: return 1;
    case DRV_OPEN: return 7;
    case ACMDM_FORMAT_MAXSIZE: *reinterpret_cast<uint32_t*>(p1) = 18; return 0;
    case ACMDM_FORMAT_SUGGEST: {
      auto* s = reinterpret_cast<ACMDRVFORMATSUGGEST*>(p1);
      if (s->pwfxSrc->wFormatTag != kFakeTag) return ACMERR_NOTPOSSIBLE;
      WAVEFORMATEX f{1, 1, 8000, 16000, 2, 16, 0};
      std::memcpy(s->pwfxDst, &f, sizeof(f));
      return 0;
    }
    case ACMDM_STREAM_OPEN:
      return reinterpret_cast<ACMDRVSTREAMINSTANCE*>(p1)->pwfxSrc->wFormatTag == kFakeTag ? 0 : ACMERR_NOTPOSSIBLE;
    case ACMDM_STREAM_CLOSE: return 0;
    case ACMDM_STREAM_SIZE: {
      auto* z = reinterpret_cast<ACMDRVSTREAMSIZE*>(p2);
      if (z->fdwSize == ACM_STREAMSIZEF_SOURCE) z->cbDstLength = (z->cbSrcLength + 417) / 418 * 418 * 2;
      else z->cbSrcLength = z->cbDstLength / 2 / 418 * 418;
      return 0;
    }
    case ACMDM_STREAM_CONVERT: {
      auto* h = reinterpret_cast<ACMDRVSTREAMHEADER*>(p2);
      ++Conversions;
      if (h->fdwConvert & ACM_STREAMCONVERTF_START) ++StartFlags;
      uint32_t out = 0;
      for (uint32_t i = 0; i < h->cbSrcLength && out + 2 <= h->cbDstLength; ++i) {
        if (h->pbSrc[i] == 0xFF) continue;
        h->pbDst[out++] = 0;
        h->pbDst[out++] = h->pbSrc[i];
      }
      h->cbSrcLengthUsed = h->cbSrcLength;
      h->cbDstLengthUsed = out;
      return 0;
    }
    default: return ACM_MMSYSERR_NOTSUPPORTED;
  }
}

class FakeCodec : public WaveRead {
protected:
  void SetUp() override {
    WaveRead::SetUp();
    ASSERT_EQ(acmDriverAdd(&Id, nullptr, &FakeDriverProc, 0, ACM_DRIVERADDF_FUNCTION), 0u);
    ASSERT_EQ(acmDriverOpen(&Driver, Id, 0), 0u);
    StartFlags = Conversions = 0;
  }
  void TearDown() override {
    EXPECT_EQ(acmDriverClose(Driver, 0), 0u);
    EXPECT_EQ(acmDriverRemove(Id, 0), 0u);
    WaveRead::TearDown();
  }
  static std::string Wave(const std::string& data, uint32_t avg = 11025) {
    return Riff(FormatBytes(kFakeTag, 1, 8000, avg, 1, 8), data);
  }
  static std::string Decoded(const std::string& data) {
    std::string out;
    for (char c : data)
      if (static_cast<uint8_t>(c) != 0xFF) out += std::string{'\0', c};
    return out;
  }
  HACMDRIVERID Id = nullptr;
  HACMDRIVER Driver = nullptr;
};
}  // namespace

TEST_F(WaveRead, ParseFailuresCarryTheirMessages) {
  std::string fmtOnly = "RIFF";
  fixtures::PutU32(fmtOnly, 4);
  fmtOnly += "WAVE";
  std::string hugeFmt = "RIFF";
  fixtures::PutU32(hugeFmt, 100);
  hugeFmt += "WAVEfmt ";
  fixtures::PutU32(hugeFmt, 0xFFFFFFF0u);  // claims 4 GB; must not be allocated or read
  hugeFmt += PcmFormat(8000, 1, 8);
  struct Case { std::string bytes; const char* message; } cases[] = {
      {"RIFF", "Invalid multimedia file!"},
      {"", "Invalid multimedia file!"},
      {Riff(PcmFormat(8000, 1, 8), "x").replace(8, 4, "AVI "), "Not a wave file!"},
      {std::string("LIST") + Riff(PcmFormat(8000, 1, 8), "x").substr(4), "Not a wave file!"},
      {fmtOnly, "Couldn't find 'fmt' chunk!"},
      {hugeFmt, "Error reading 'fmt' chunk!"},
  };
  for (const Case& c : cases) EXPECT_EQ(Raised(c.bytes), c.message) << c.message;
}

TEST_F(WaveRead, FormatOfSixteenBytesReadsAsEighteenWithNoExtra) {
  std::string w = Riff(PcmFormat(22050, 2, 16, /*withCbSize=*/false), fixtures::Pattern(400));
  TCustomMemoryWaveReadStream s(w.data(), static_cast<uint32_t>(w.size()));
  EXPECT_EQ(s.FormatBytes.size(), 18u);
  EXPECT_EQ(s.Format->cbSize, 0);
  EXPECT_EQ(s.Format->nBlockAlign, 4);
  EXPECT_EQ(s.DataSize, 400u);
  EXPECT_EQ(s.DataStart, 12u + 8 + 16 + 8);
}

TEST_F(WaveRead, ReadsWholeBlocksAndStopsAtTheEndOfTheData) {
  const std::string pcm = fixtures::Pattern(1000);
  // A trailing chunk after "data" is not sound.
  std::string w = Riff(PcmFormat(44100, 2, 16), pcm, "LIST\x04\0\0\0INFO");
  TCustomMemoryWaveReadStream s(w.data(), static_cast<uint32_t>(w.size()));
  char buf[2000];
  EXPECT_EQ(s.Read(buf, 3), 0);
  EXPECT_EQ(s.Read(buf, 7), 4);
  EXPECT_EQ(std::string(buf, 4), pcm.substr(0, 4));
  EXPECT_EQ(s.Read(buf, 2000), 996);
  EXPECT_EQ(std::string(buf, 996), pcm.substr(4));
  EXPECT_EQ(s.Read(buf, 2000), 0);
  s.SeekToData();
  EXPECT_EQ(s.Read(buf, 8), 8);
  EXPECT_EQ(std::string(buf, 8), pcm.substr(0, 8));
}

TEST_F(WaveRead, DataSizeBeyondTheFileIsCutToTheFile) {
  std::string w = Riff(PcmFormat(8000, 1, 8), fixtures::Pattern(100));
  w.replace(w.size() - 100 - 4, 4, std::string("\xF0\xFF\xFF\x7F", 4));  // "data" claims 2 GB
  TCustomMemoryWaveReadStream s(w.data(), static_cast<uint32_t>(w.size()));
  EXPECT_EQ(s.DataSize, 100u);
  TWavePCMReader r(&s, nullptr);
  EXPECT_EQ(r.PCMSize, 100);
  EXPECT_EQ(ReadAll(r, 64), fixtures::Pattern(100));

  // And without any "data" chunk there is nothing to play.
  std::string noData = "RIFF";
  const std::string fmt = PcmFormat(8000, 1, 8);
  fixtures::PutU32(noData, static_cast<uint32_t>(4 + 8 + fmt.size()));
  noData += "WAVEfmt ";
  fixtures::PutU32(noData, static_cast<uint32_t>(fmt.size()));
  noData += fmt;
  TCustomMemoryWaveReadStream n(noData.data(), static_cast<uint32_t>(noData.size()));
  EXPECT_EQ(n.DataSize, 0u);
}

TEST_F(WaveRead, FileAndResourceSources) {
  const std::string pcm = fixtures::Pattern(64);
  const std::string w = fixtures::PcmWave(8000, 1, 16, pcm);
  fixtures::WriteFile(Dir + "a.wav", w);
  {
    TFileWaveReadStream f(Dir + "a.wav");
    char buf[64];
    EXPECT_EQ(f.Read(buf, 64), 64);
    EXPECT_EQ(std::string(buf, 64), pcm);
  }
  try {
    TFileWaveReadStream missing(Dir + "missing.wav");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Can't open file stream.");
  }
  TMemoryModule module;
  module.AddResource("SND", "Bleep", w);
  TResourceWaveReadStream r(&module, "snd", "bleep.wav");
  EXPECT_EQ(r.DataSize, 64u);
  EXPECT_THROW(TResourceWaveReadStream(&module, "SND", "Nothing"), EResNotFound);
  EXPECT_TRUE(LogHas("* Error: Resource not found"));
}

TEST_F(WaveRead, PcmReaderPassesPcmThroughInWholeBlocks) {
  const std::string pcm = fixtures::Pattern(4000);
  const std::string w = fixtures::PcmWave(44100, 2, 16, pcm);
  TCustomMemoryWaveReadStream s(w.data(), static_cast<uint32_t>(w.size()));
  TWavePCMReader r(&s, nullptr);
  EXPECT_EQ(r.Stream, nullptr);
  EXPECT_EQ(r.PCMSize, 4000);
  char buf[8];
  EXPECT_EQ(r.Read(buf, 3), 0);  // less than one block: nothing is read
  EXPECT_EQ(r.Position, 0);
  EXPECT_EQ(ReadAll(r, 1000), pcm);
  r.Rewind();
  EXPECT_EQ(ReadAll(r, 999), pcm);  // 996-byte pieces
}

TEST_F(WaveRead, UnknownEncodingCannotBeSuggested) {
  std::string w = Riff(FormatBytes(0x1234, 1, 8000, 8000, 1, 8), "abcd");
  TCustomMemoryWaveReadStream s(w.data(), static_cast<uint32_t>(w.size()));
  try {
    TWavePCMReader r(&s, nullptr);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Can't suggest pcm format (512). format=4660 cbSize=0");
  }
}

TEST_F(FakeCodec, BuffersHoldHalfASecondOfWholeSourceBlocks) {
  const std::string w = Wave("abc");
  TCustomMemoryWaveReadStream s(w.data(), static_cast<uint32_t>(w.size()));
  TWavePCMReader r(&s, Driver);
  // (11025 * 500 - 1) div (1000 * 418) + 1 = 14 blocks of 418 bytes.
  EXPECT_EQ(r.SrcBytes, 5852u);
  EXPECT_EQ(r.DstBytes, 11704u);
  EXPECT_EQ(r.PCMSize, 6);
}

TEST_F(FakeCodec, PiecesRewindAndBlocksWithoutPcm) {
  std::string data;
  for (int i = 0; i < 20000; ++i) data += static_cast<char>(i % 251);
  // A stretch longer than a whole source block that yields nothing is not the end of the sound.
  data.insert(3000, std::string(12000, '\xFF'));
  const std::string w = Wave(data);
  TCustomMemoryWaveReadStream s(w.data(), static_cast<uint32_t>(w.size()));
  TWavePCMReader r(&s, Driver);
  const std::string whole = ReadAll(r, 1 << 20);
  EXPECT_EQ(whole, Decoded(data));
  EXPECT_EQ(StartFlags, 1);
  r.Rewind();
  EXPECT_EQ(r.First, true);
  EXPECT_EQ(ReadAll(r, 1000), whole);
  EXPECT_EQ(StartFlags, 2);  // the first conversion after the rewind is flagged as the start
  r.Rewind();
  char buf[10];
  ASSERT_EQ(r.Read(buf, 10), 10);
  EXPECT_EQ(std::string(buf, 10), whole.substr(0, 10));
}
