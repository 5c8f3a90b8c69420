#pragma once
// Reading RIFF/WAVE data from memory, files and the program's resources, and delivering it as
// PCM: PCM data passes through, anything else (MP3 inside WAVE) is converted by a compression
// manager stream, about half a second of source data at a time.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/MMIO.h"
#include "platform/MSACM.h"
#include "platform/Modules.h"

// Parses the RIFF structure and reads raw wave data in whole blocks. Reads end at the end of
// the "data" chunk, which is never taken to reach past the end of the file.
class TWaveReadStream {
public:
  virtual ~TWaveReadStream();
  TWaveReadStream(const TWaveReadStream&) = delete;
  TWaveReadStream& operator=(const TWaveReadStream&) = delete;

  // Lets go of the current handle (ascending out of its chunks) and parses the new one.
  void SetHandle(HMMIO handle);
  void Parse();
  // Count rounded down to whole blocks; fewer at the end of the data. "Error reading from file."
  virtual int32_t Read(void* buffer, int32_t count);
  void SeekToData();

  WAVEFORMATEX* Format = nullptr;  // points into FormatBytes: at least 18 bytes
  std::vector<uint8_t> FormatBytes;
  uint32_t DataStart = 0;
  uint32_t DataSize = 0;
  HMMIO Handle = nullptr;
  MMCKINFO Chunk{};
  MMCKINFO RiffChunk{};

protected:
  TWaveReadStream() = default;
  // For constructors: parse `own`, or close it and pass the failure on.
  void Attach(HMMIO own);
  // For destructors: let go of the handle without raising.
  void Detach() noexcept;
};

class TCustomMemoryWaveReadStream : public TWaveReadStream {
public:
  TCustomMemoryWaveReadStream(const void* data, uint32_t size);
  ~TCustomMemoryWaveReadStream() override;
  HMMIO MemHandle = nullptr;
};

class TFileWaveReadStream : public TWaveReadStream {
public:
  explicit TFileWaveReadStream(const std::string& fileName);
  ~TFileWaveReadStream() override;
  HMMIO MemHandle = nullptr;
  std::string FileName;
};

// A resource of `module` (nullptr: the program's own). A missing one writes the Error line
// "Resource not found" and raises EResNotFound.
class TResourceWaveReadStream : public TCustomMemoryWaveReadStream {
public:
  TResourceWaveReadStream(HMODULE module, const std::string& resourceType, const std::string& resourceName);
  TResourceData Resource;

private:
  TResourceWaveReadStream(const TResourceData& r);
};

class TWavePCMReader {
public:
  // driver: the codec driver to convert with, or nullptr for any installed one.
  TWavePCMReader(TWaveReadStream* source, HACMDRIVER driver);
  ~TWavePCMReader();
  TWavePCMReader(const TWavePCMReader&) = delete;
  TWavePCMReader& operator=(const TWavePCMReader&) = delete;

  // Count rounded down to whole PCM blocks; 0 at the end.
  int32_t Read(void* buffer, int32_t count);
  void Rewind();

  TWaveReadStream* Source;
  int64_t Position = 0;
  int64_t PCMSize = 0;  // exact for PCM sources, an estimate for converted ones
  bool First = true;
  HACMSTREAM Stream = nullptr;
  ACMSTREAMHEADER Header{};
  WAVEFORMATEX* PCMFormat = nullptr;  // points into PCMFormatBytes
  std::vector<uint8_t> PCMFormatBytes;
  std::vector<uint8_t> SrcBuffer;
  uint32_t SrcBytes = 0;
  std::vector<uint8_t> DstBuffer;
  uint32_t DstBytes = 0;
  int64_t DstStart = 0;
  uint32_t DstAvail = 0;

private:
  void SizeBuffers();
  // Converts the next source block; true when a whole block was read.
  bool ConvertNext();
  void Close() noexcept;
};
