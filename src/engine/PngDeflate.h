#pragma once
// One-way streams over zlib: TZCompressionStream deflates what is written to it into a
// destination stream, TZDecompressionStream inflates what it reads from a source stream.
// Both re-seek the underlying stream to where they left it before each use, so others may
// move it in between. Any other operation raises "Invalid ZStream operation!".
#include <cstdint>
#include <functional>
#include <memory>

#include <zlib.h>

#include "base/Exceptions.h"
#include "base/Streams.h"

KT_DECLARE_EXCEPTION(EZLibError, Exception)
KT_DECLARE_EXCEPTION(EZCompressionError, EZLibError)
KT_DECLARE_EXCEPTION(EZDecompressionError, EZLibError)

enum TCompressionLevel { clNone, clFastest, clDefault, clMax };

// zlib's message for a result code ("data error" for -3, ...).
std::string ZLibErrorText(int code);

class TCustomZStream : public TStream {
public:
  static constexpr int kBufferSize = 65536;
  TCustomZStream(const TCustomZStream&) = delete;
  TCustomZStream& operator=(const TCustomZStream&) = delete;

  // Raised after each buffer exchange with the underlying stream.
  std::function<void(TCustomZStream&)> OnProgress;

protected:
  explicit TCustomZStream(TStream& strm);
  void Progress() {
    if (OnProgress) OnProgress(*this);
  }
  void Reseek();

  TStream* Strm;
  int64_t StrmPos;
  z_stream ZRec{};
  std::unique_ptr<uint8_t[]> Buffer;
};

class TZCompressionStream : public TCustomZStream {
public:
  TZCompressionStream(TCompressionLevel level, TStream& dest);
  // Finishes the stream when Finish was not called; errors are lost there, so callers that
  // care call Finish themselves.
  ~TZCompressionStream() override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // Only Seek(0, soFromCurrent): the number of bytes written so far.
  int64_t Seek(int64_t offset, int origin) override;
  // Flushes everything into the destination; the destination then holds a complete zlib
  // stream. Writing afterwards raises.
  void Finish();

private:
  void Check(int code);
  bool Finished = false;
};

class TZDecompressionStream : public TCustomZStream {
public:
  explicit TZDecompressionStream(TStream& source);
  ~TZDecompressionStream() override;
  // Fewer bytes than asked once the compressed data ends (or the source runs dry).
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // Seek(0, soFromBeginning) starts over; forward seeks inflate and discard. Returns the
  // number of bytes inflated so far.
  int64_t Seek(int64_t offset, int origin) override;

private:
  void Check(int code);
  int64_t StartPos;  // where the compressed data begins in the source
  bool Ended = false;
};
