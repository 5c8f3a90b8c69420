#include "engine/WaveRead.h"

#include <algorithm>
#include <cstring>

#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "engine/tools.h"

namespace {
constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
// A format header is 18 bytes plus at most 65,535 extra bytes.
constexpr uint32_t kMaxFormatChunk = sizeof(WAVEFORMATEX) + 0xFFFF;
// Half a second of any real encoding is far below this; a larger figure comes from a bad header.
constexpr int64_t kMaxSourceBlock = 16 * 1024 * 1024;

int64_t StreamEnd(HMMIO h) {
  int32_t cur = mmioSeek(h, 0, MMIO_SEEK_CUR);
  int32_t end = mmioSeek(h, 0, MMIO_SEEK_END);
  mmioSeek(h, cur, MMIO_SEEK_SET);
  return end;
}

uint32_t AlignOf(const WAVEFORMATEX* f) { return f && f->nBlockAlign > 0 ? f->nBlockAlign : 1; }

[[noreturn]] void Fail(const char* message) { throw Exception(message); }
}  // namespace

TWaveReadStream::~TWaveReadStream() { Detach(); }

void TWaveReadStream::SetHandle(HMMIO handle) {
  if (Handle) {
    mmioSeek(Handle, 0, MMIO_SEEK_END);
    if (mmioAscend(Handle, &Chunk, 0) != MMSYSERR_NOERROR || mmioAscend(Handle, &RiffChunk, 0) != MMSYSERR_NOERROR)
      Fail("Cannot ascend chunk.");
    if (mmioFlush(Handle, 0) != MMSYSERR_NOERROR) Fail("Cannot flush.");
    FormatBytes.clear();
    Format = nullptr;
  }
  Handle = handle;
  if (Handle) {
    Parse();
    SeekToData();
  }
}

void TWaveReadStream::Parse() {
  RiffChunk = MMCKINFO{};
  if (mmioDescend(Handle, &RiffChunk, nullptr, 0) != MMSYSERR_NOERROR) Fail("Invalid multimedia file!");
  if (RiffChunk.ckid != FOURCC_RIFF || RiffChunk.fccType != kWave) Fail("Not a wave file!");

  Chunk = MMCKINFO{};
  Chunk.ckid = kFmt;
  if (mmioDescend(Handle, &Chunk, &RiffChunk, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) Fail("Couldn't find 'fmt' chunk!");
  const int64_t fileEnd = StreamEnd(Handle);
  const uint32_t size = Chunk.cksize;
  // A size the file cannot hold is a damaged header: refuse it before allocating anything.
  if (size > kMaxFormatChunk || static_cast<int64_t>(Chunk.dwDataOffset) + size > fileEnd)
    Fail("Error reading 'fmt' chunk!");
  FormatBytes.assign(std::max<uint32_t>(sizeof(WAVEFORMATEX), size), 0);
  Format = reinterpret_cast<WAVEFORMATEX*>(FormatBytes.data());
  Format->cbSize = 0;
  if (mmioRead(Handle, FormatBytes.data(), static_cast<int32_t>(size)) != static_cast<int32_t>(size))
    Fail("Error reading 'fmt' chunk!");
  // The extra size must not promise more bytes than the chunk holds.
  const uint32_t room = static_cast<uint32_t>(FormatBytes.size() - sizeof(WAVEFORMATEX));
  if (Format->cbSize > room) Format->cbSize = static_cast<uint16_t>(room);
  if (mmioAscend(Handle, &Chunk, 0) != MMSYSERR_NOERROR) Fail("Error ascending from 'fmt' chunk!");

  if (mmioSeek(Handle, static_cast<int32_t>(RiffChunk.dwDataOffset + 4), MMIO_SEEK_SET) == -1)
    Fail("Error seeking data!");
  MMCKINFO data{};
  data.ckid = kData;
  const bool found = mmioDescend(Handle, &data, &RiffChunk, MMIO_FINDCHUNK) == MMSYSERR_NOERROR;
  if (found) Chunk = data;

  MMIOINFO info{};
  if (mmioGetInfo(Handle, &info, 0) != MMSYSERR_NOERROR) Fail("Error getting info!");
  DataStart = Chunk.dwDataOffset;
  // Without a "data" chunk there is no sound; a size past the end of the file is cut to it.
  int64_t avail = fileEnd - static_cast<int64_t>(DataStart);
  if (!found || avail < 0) avail = 0;
  DataSize = static_cast<uint32_t>(std::min<int64_t>(found ? Chunk.cksize : 0, avail));
}

int32_t TWaveReadStream::Read(void* buffer, int32_t count) {
  const int32_t align = static_cast<int32_t>(AlignOf(Format));
  count -= count % align;
  if (count <= 0 || !Handle) return 0;
  const int64_t pos = mmioSeek(Handle, 0, MMIO_SEEK_CUR);
  if (pos < 0) Fail("Error reading from file.");
  int64_t left = static_cast<int64_t>(DataStart) + DataSize - pos;
  left -= left % align;
  if (left <= 0) return 0;
  if (left < count) count = static_cast<int32_t>(left);
  const int32_t n = mmioRead(Handle, buffer, count);
  if (n < 0) Fail("Error reading from file.");
  return n;
}

void TWaveReadStream::SeekToData() {
  if (Handle) mmioSeek(Handle, static_cast<int32_t>(DataStart), MMIO_SEEK_SET);
}

void TWaveReadStream::Attach(HMMIO own) {
  try {
    SetHandle(own);
  } catch (...) {
    Handle = nullptr;
    mmioClose(own, 0);
    throw;
  }
}

void TWaveReadStream::Detach() noexcept {
  try {
    SetHandle(nullptr);
  } catch (...) {
    // A damaged file may not let us ascend; the handle is closed anyway.
    Handle = nullptr;
  }
}

TCustomMemoryWaveReadStream::TCustomMemoryWaveReadStream(const void* data, uint32_t size) {
  MMIOINFO info{};
  info.fccIOProc = FOURCC_MEM;
  info.pchBuffer = static_cast<const uint8_t*>(data);
  info.cchBuffer = static_cast<int32_t>(size);
  MemHandle = size > 0x7FFFFFFFu ? nullptr : mmioOpen(nullptr, &info, MMIO_READ);
  if (!MemHandle) Fail("Can't open memory stream.");
  Attach(MemHandle);
}

TCustomMemoryWaveReadStream::~TCustomMemoryWaveReadStream() {
  Detach();
  mmioClose(MemHandle, 0);
}

TFileWaveReadStream::TFileWaveReadStream(const std::string& fileName) : FileName(fileName) {
  MemHandle = mmioOpen(fileName.c_str(), nullptr, MMIO_READ | MMIO_ALLOCBUF);
  if (!MemHandle) Fail("Can't open file stream.");
  Attach(MemHandle);
}

TFileWaveReadStream::~TFileWaveReadStream() {
  Detach();
  mmioClose(MemHandle, 0);
}

namespace {
TResourceData LocateResource(HMODULE module, const std::string& type, const std::string& name) {
  TResourceData r;
  if (!FindResource(module, type, name, r)) {
    Log("Resource not found", ltError);
    throw EResNotFound("Resource not found");
  }
  return r;
}
}  // namespace

TResourceWaveReadStream::TResourceWaveReadStream(HMODULE module, const std::string& resourceType,
                                                 const std::string& resourceName)
    : TResourceWaveReadStream(LocateResource(module, resourceType, resourceName)) {}

TResourceWaveReadStream::TResourceWaveReadStream(const TResourceData& r)
    : TCustomMemoryWaveReadStream(r.Data, static_cast<uint32_t>(std::min<std::size_t>(r.Size, 0xFFFFFFFFu))),
      Resource(r) {}

// ---------------------------------------------------------------------------------------------

TWavePCMReader::TWavePCMReader(TWaveReadStream* source, HACMDRIVER driver) : Source(source) {
  uint32_t maxSize = 0;
  MMRESULT r = acmMetrics(driver, ACM_METRIC_MAX_SIZE_FORMAT, &maxSize);
  if (r != 0) throw Exception("AcmAppChooserFormatSuggest() acmMetrics failed (" + IntToStr(r) + ")");
  const WAVEFORMATEX* src = Source->Format;
  PCMFormatBytes.assign(std::max<std::size_t>(maxSize, src->cbSize + sizeof(WAVEFORMATEX)), 0);
  PCMFormat = reinterpret_cast<WAVEFORMATEX*>(PCMFormatBytes.data());
  First = true;
  if (src->wFormatTag == WAVE_FORMAT_PCM) {
    std::memcpy(PCMFormat, src, sizeof(WAVEFORMATEX));
    PCMSize = Source->DataSize;
    return;
  }
  try {
    PCMFormat->wFormatTag = WAVE_FORMAT_PCM;
    r = acmFormatSuggest(driver, src, PCMFormat, static_cast<uint32_t>(PCMFormatBytes.size()),
                         ACM_FORMATSUGGESTF_WFORMATTAG);
    if (r != 0)
      throw Exception("Can't suggest pcm format (" + IntToStr(r) + "). format=" + IntToStr(src->wFormatTag) +
                      " cbSize=" + IntToStr(src->cbSize));
    r = acmStreamOpen(&Stream, driver, src, PCMFormat, nullptr, 0, 0, 0);
    if (r != 0) throw Exception("Can't open acm stream (" + IntToStr(r) + "). ");
    SizeBuffers();
    Header.cbStruct = sizeof(ACMSTREAMHEADER);
    Header.pbSrc = SrcBuffer.data();
    Header.cbSrcLength = SrcBytes;
    Header.pbDst = DstBuffer.data();
    Header.cbDstLength = DstBytes;
    if (acmStreamPrepareHeader(Stream, &Header, 0) != 0) throw Exception("Can't prepare headers.");
    PCMSize = static_cast<int64_t>(Source->DataSize) * DstBytes / SrcBytes;
  } catch (...) {
    Close();
    throw;
  }
}

TWavePCMReader::~TWavePCMReader() { Close(); }

void TWavePCMReader::Close() noexcept {
  if (!Stream) return;
  if (Header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
    Header.cbSrcLength = SrcBytes;
    Header.cbDstLength = DstBytes;
    acmStreamUnprepareHeader(Stream, &Header, 0);
  }
  acmStreamClose(Stream, 0);
  Stream = nullptr;
}

void TWavePCMReader::SizeBuffers() {
  const WAVEFORMATEX* src = Source->Format;
  uint32_t d = 0, s = 0;
  if (acmStreamSize(Stream, AlignOf(src), &d, ACM_STREAMSIZEF_SOURCE) != 0 ||
      acmStreamSize(Stream, d, &s, ACM_STREAMSIZEF_DESTINATION) != 0 || s == 0)
    throw Exception("Can't recommend an acm stream size.");
  const int64_t blocks = (static_cast<int64_t>(src->nAvgBytesPerSec) * 500 - 1) / (1000 * static_cast<int64_t>(s)) + 1;
  const int64_t srcBytes = blocks * s;
  if (srcBytes > kMaxSourceBlock) throw Exception("Can't recommend an acm stream size.");
  SrcBytes = static_cast<uint32_t>(srcBytes);
  if (acmStreamSize(Stream, SrcBytes, &DstBytes, ACM_STREAMSIZEF_SOURCE) != 0 ||
      static_cast<int64_t>(DstBytes) > 8 * kMaxSourceBlock)
    throw Exception("Can't recommend an acm stream size.");
  SrcBuffer.assign(SrcBytes, 0);
  DstBuffer.assign(DstBytes, 0);
}

bool TWavePCMReader::ConvertNext() {
  const int32_t n = Source->Read(SrcBuffer.data(), static_cast<int32_t>(SrcBytes));
  const bool full = n == static_cast<int32_t>(SrcBytes);
  Header.cbSrcLength = static_cast<uint32_t>(std::max(n, 0));
  uint32_t flags = full ? ACM_STREAMCONVERTF_BLOCKALIGN : 0;
  if (First) {
    flags |= ACM_STREAMCONVERTF_START;
    First = false;
  }
  if (acmStreamConvert(Stream, &Header, flags) != 0) throw Exception("Unable to convert sample.");
  DstStart += DstAvail;
  DstAvail = Header.cbDstLengthUsed;
  return full;
}

int32_t TWavePCMReader::Read(void* buffer, int32_t count) {
  const int32_t align = static_cast<int32_t>(AlignOf(PCMFormat));
  const int32_t n = count - count % align;
  if (n <= 0) return 0;
  if (!Stream) {
    const int32_t got = Source->Read(buffer, n);
    Position += got;
    return got;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t copied = 0;
  if (Position >= DstStart && Position < DstStart + DstAvail) {
    const int64_t k = std::min<int64_t>(n, DstStart + DstAvail - Position);
    std::memcpy(out, DstBuffer.data() + (Position - DstStart), static_cast<std::size_t>(k));
    copied = static_cast<int32_t>(k);
  }
  while (copied < n) {
    const bool full = ConvertNext();
    if (DstAvail == 0) {
      // A whole block that gave no PCM (a tag, a damaged stretch) is not yet the end.
      if (full) continue;
      break;
    }
    const int32_t k = std::min<int32_t>(n - copied, static_cast<int32_t>(DstAvail));
    std::memcpy(out + copied, DstBuffer.data(), static_cast<std::size_t>(k));
    copied += k;
  }
  Position += copied;
  return copied;
}

void TWavePCMReader::Rewind() {
  Source->SeekToData();
  Position = 0;
  DstStart = 0;
  DstAvail = 0;
  First = true;
}
