#include "engine/PngDeflate.h"

#include <cstring>

namespace {
const char* const kInvalidOp = "Invalid ZStream operation!";

int ZLevel(TCompressionLevel level) {
  switch (level) {
    case clNone: return 0;
    case clFastest: return 1;
    case clDefault: return Z_DEFAULT_COMPRESSION;
    case clMax: return 9;
  }
  return Z_DEFAULT_COMPRESSION;
}
}  // namespace

std::string ZLibErrorText(int code) {
  // zlib's own message list, indexed by 2 - code.
  static const char* const kTexts[] = {"need dictionary", "stream end",   "",
                                       "file error",      "stream error", "data error",
                                       "insufficient memory", "buffer error", "incompatible version"};
  const int i = 2 - code;
  if (i < 0 || i >= int(sizeof kTexts / sizeof kTexts[0])) return "";
  return kTexts[i];
}

TCustomZStream::TCustomZStream(TStream& strm)
    : Strm(&strm), StrmPos(strm.GetPosition()), Buffer(new uint8_t[kBufferSize]) {}

void TCustomZStream::Reseek() {
  if (Strm->GetPosition() != StrmPos) Strm->SetPosition(StrmPos);
}

// --- compression

TZCompressionStream::TZCompressionStream(TCompressionLevel level, TStream& dest) : TCustomZStream(dest) {
  ZRec.next_out = Buffer.get();
  ZRec.avail_out = kBufferSize;
  Check(deflateInit(&ZRec, ZLevel(level)));
}

TZCompressionStream::~TZCompressionStream() {
  if (!Finished) {
    try {
      Finish();
    } catch (...) {
      // A destructor cannot report; Finish() is the checked way.
    }
  }
  deflateEnd(&ZRec);
}

void TZCompressionStream::Check(int code) {
  if (code < 0) throw EZCompressionError(ZLibErrorText(code));
}

int32_t TZCompressionStream::Read(void*, int32_t) { throw EZCompressionError(kInvalidOp); }

int32_t TZCompressionStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  if (Finished) throw EZCompressionError(kInvalidOp);
  ZRec.next_in = static_cast<Bytef*>(const_cast<void*>(buffer));
  ZRec.avail_in = uInt(count);
  Reseek();
  while (ZRec.avail_in > 0) {
    Check(deflate(&ZRec, Z_NO_FLUSH));
    if (ZRec.avail_out == 0) {
      Strm->WriteBuffer(Buffer.get(), kBufferSize);
      ZRec.next_out = Buffer.get();
      ZRec.avail_out = kBufferSize;
      StrmPos = Strm->GetPosition();
      Progress();
    }
  }
  return count;
}

void TZCompressionStream::Finish() {
  if (Finished) return;
  Finished = true;
  ZRec.next_in = nullptr;
  ZRec.avail_in = 0;
  Reseek();
  int r;
  do {
    r = deflate(&ZRec, Z_FINISH);
    Check(r);
    const uInt used = kBufferSize - ZRec.avail_out;
    if (used > 0 && (ZRec.avail_out == 0 || r == Z_STREAM_END)) {
      Strm->WriteBuffer(Buffer.get(), int32_t(used));
      ZRec.next_out = Buffer.get();
      ZRec.avail_out = kBufferSize;
      StrmPos = Strm->GetPosition();
      Progress();
    }
  } while (r != Z_STREAM_END);
}

int64_t TZCompressionStream::Seek(int64_t offset, int origin) {
  if (offset == 0 && origin == soFromCurrent) return int64_t(ZRec.total_in);
  throw EZCompressionError(kInvalidOp);
}

// --- decompression

TZDecompressionStream::TZDecompressionStream(TStream& source) : TCustomZStream(source), StartPos(StrmPos) {
  ZRec.next_in = Buffer.get();
  ZRec.avail_in = 0;
  Check(inflateInit(&ZRec));
}

TZDecompressionStream::~TZDecompressionStream() { inflateEnd(&ZRec); }

void TZDecompressionStream::Check(int code) {
  if (code < 0) throw EZDecompressionError(ZLibErrorText(code));
}

int32_t TZDecompressionStream::Write(const void*, int32_t) { throw EZDecompressionError(kInvalidOp); }

int32_t TZDecompressionStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  ZRec.next_out = static_cast<Bytef*>(buffer);
  ZRec.avail_out = uInt(count);
  Reseek();
  while (ZRec.avail_out > 0 && !Ended) {
    if (ZRec.avail_in == 0) {
      const int32_t n = Strm->Read(Buffer.get(), kBufferSize);
      if (n <= 0) break;
      ZRec.next_in = Buffer.get();
      ZRec.avail_in = uInt(n);
      StrmPos = Strm->GetPosition();
      Progress();
    }
    const int r = inflate(&ZRec, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      Ended = true;  // bytes after the stream's end are not data
    } else if (r == Z_NEED_DICT) {
      // No dictionary can be supplied; inflate would make no progress.
      throw EZDecompressionError(ZLibErrorText(Z_NEED_DICT));
    } else {
      Check(r);
    }
  }
  return count - int32_t(ZRec.avail_out);
}

int64_t TZDecompressionStream::Seek(int64_t offset, int origin) {
  if (offset == 0 && origin == soFromBeginning) {
    Check(inflateReset(&ZRec));
    ZRec.next_in = Buffer.get();
    ZRec.avail_in = 0;
    Ended = false;
    Strm->SetPosition(StartPos);
    StrmPos = StartPos;
    return 0;
  }
  int64_t skip;
  if (origin == soFromCurrent && offset >= 0)
    skip = offset;
  else if (origin == soFromBeginning && offset > int64_t(ZRec.total_out))
    skip = offset - int64_t(ZRec.total_out);
  else
    throw EZDecompressionError(kInvalidOp);
  uint8_t scrap[4096];
  while (skip > 0) {
    const int32_t piece = int32_t(skip < int64_t(sizeof scrap) ? skip : int64_t(sizeof scrap));
    const int32_t got = Read(scrap, piece);
    skip -= got;
    if (got < piece) break;  // end of the data
  }
  return int64_t(ZRec.total_out);
}
