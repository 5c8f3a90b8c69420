#include "platform/MMIO.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <limits>

#include "base/SysUtils.h"

struct TMMIOFile {
  bool Memory = false;
  // memory
  const uint8_t* Data = nullptr;
  int64_t Size = 0;
  int64_t Pos = 0;
  // file
  std::FILE* File = nullptr;
  bool Writable = false;
};

namespace {
constexpr int64_t kMaxPos = std::numeric_limits<int32_t>::max();

int64_t Tell(HMMIO h) {
  if (h->Memory) return h->Pos;
  off_t p = ::ftello(h->File);
  return p < 0 ? -1 : static_cast<int64_t>(p);
}

bool SeekTo(HMMIO h, int64_t pos) {
  if (pos < 0 || pos > kMaxPos) return false;
  if (h->Memory) {
    h->Pos = pos;
    return true;
  }
  return ::fseeko(h->File, static_cast<off_t>(pos), SEEK_SET) == 0;
}

bool ReadExact(HMMIO h, void* buf, int32_t n) { return mmioRead(h, buf, n) == n; }

uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
}  // namespace

HMMIO mmioOpen(const char* fileName, MMIOINFO* info, uint32_t flags) {
  auto fail = [info](MMRESULT r) -> HMMIO {
    if (info) info->wErrorRet = r;
    return nullptr;
  };
  if (info && info->fccIOProc == FOURCC_MEM) {
    // Memory files are read-only here: the callers only parse embedded content through them.
    if ((flags & (MMIO_WRITE | MMIO_READWRITE | MMIO_CREATE)) != 0) return fail(MMSYSERR_INVALPARAM);
    if (info->cchBuffer < 0 || (info->cchBuffer > 0 && !info->pchBuffer)) return fail(MMSYSERR_INVALPARAM);
    auto* h = new TMMIOFile;
    h->Memory = true;
    h->Data = info->pchBuffer;
    h->Size = info->cchBuffer;
    info->wErrorRet = MMSYSERR_NOERROR;
    return h;
  }
  if (!fileName || !*fileName) return fail(MMIOERR_CANNOTOPEN);
  const bool create = (flags & MMIO_CREATE) != 0;
  const bool write = (flags & (MMIO_WRITE | MMIO_READWRITE)) != 0;
  const char* mode = create ? "w+b" : write ? "r+b" : "rb";
  // Regular files only: a FIFO in place of a cache file would block the game's start. A file
  // is created new (never written through a link in its place).
  const int fd = create ? CreateNewFile(fileName, O_RDWR) : OpenRegularFile(fileName, write ? O_RDWR : O_RDONLY);
  std::FILE* f = fd >= 0 ? ::fdopen(fd, mode) : nullptr;
  if (!f && fd >= 0) ::close(fd);
  if (!f) return fail(create ? MMIOERR_CANNOTOPEN : MMIOERR_FILENOTFOUND);
  auto* h = new TMMIOFile;
  h->File = f;
  h->Writable = create || write;
  if (info) info->wErrorRet = MMSYSERR_NOERROR;
  return h;
}

MMRESULT mmioClose(HMMIO h, uint32_t) {
  if (!h) return MMSYSERR_INVALHANDLE;
  MMRESULT r = MMSYSERR_NOERROR;
  if (h->File && std::fclose(h->File) != 0) r = MMIOERR_CANNOTCLOSE;
  delete h;
  return r;
}

int32_t mmioRead(HMMIO h, void* buffer, int32_t count) {
  if (!h || count < 0) return -1;
  if (count == 0) return 0;
  if (h->Memory) {
    int64_t left = h->Size - h->Pos;
    if (left <= 0) return 0;
    int32_t n = static_cast<int32_t>(count < left ? count : left);
    std::memcpy(buffer, h->Data + h->Pos, static_cast<std::size_t>(n));
    h->Pos += n;
    return n;
  }
  std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(count), h->File);
  if (n == 0 && std::ferror(h->File)) {
    std::clearerr(h->File);
    return -1;
  }
  return static_cast<int32_t>(n);
}

int32_t mmioWrite(HMMIO h, const void* buffer, int32_t count) {
  if (!h || count < 0 || h->Memory || !h->Writable) return -1;
  if (count == 0) return 0;
  if (Tell(h) + count > kMaxPos) return -1;
  std::size_t n = std::fwrite(buffer, 1, static_cast<std::size_t>(count), h->File);
  if (n != static_cast<std::size_t>(count)) {
    std::clearerr(h->File);
    return n == 0 ? -1 : static_cast<int32_t>(n);
  }
  return count;
}

int32_t mmioSeek(HMMIO h, int32_t offset, int origin) {
  if (!h) return -1;
  int64_t base;
  switch (origin) {
    case MMIO_SEEK_SET: base = 0; break;
    case MMIO_SEEK_CUR: base = Tell(h); break;
    case MMIO_SEEK_END:
      if (h->Memory) base = h->Size;
      else {
        if (::fseeko(h->File, 0, SEEK_END) != 0) return -1;
        base = Tell(h);
      }
      break;
    default: return -1;
  }
  if (base < 0) return -1;
  int64_t target = base + offset;
  if (!SeekTo(h, target)) return -1;
  return static_cast<int32_t>(target);
}

MMRESULT mmioFlush(HMMIO h, uint32_t) {
  if (!h) return MMSYSERR_INVALHANDLE;
  if (h->File && h->Writable && std::fflush(h->File) != 0) return MMIOERR_CANNOTWRITE;
  return MMSYSERR_NOERROR;
}

MMRESULT mmioGetInfo(HMMIO h, MMIOINFO* info, uint32_t) {
  if (!h) return MMSYSERR_INVALHANDLE;
  if (!info) return MMSYSERR_INVALPARAM;
  int64_t pos = Tell(h);
  if (pos < 0) return MMIOERR_CANNOTSEEK;
  info->fccIOProc = h->Memory ? FOURCC_MEM : FOURCC_DOS;
  info->pchBuffer = h->Memory ? h->Data : nullptr;
  info->cchBuffer = h->Memory ? static_cast<int32_t>(h->Size) : 0;
  info->lDiskOffset = static_cast<int32_t>(pos);
  info->wErrorRet = MMSYSERR_NOERROR;
  return MMSYSERR_NOERROR;
}

MMRESULT mmioDescend(HMMIO h, MMCKINFO* ck, const MMCKINFO* parent, uint32_t flags) {
  if (!h || !ck) return MMSYSERR_INVALPARAM;
  const int64_t end = parent ? static_cast<int64_t>(parent->dwDataOffset) + parent->cksize : kMaxPos;
  for (;;) {
    int64_t pos = Tell(h);
    if (pos < 0) return MMIOERR_CANNOTSEEK;
    if (pos + 8 > end) return MMIOERR_CHUNKNOTFOUND;
    uint8_t hdr[8];
    if (!ReadExact(h, hdr, 8)) return MMIOERR_CHUNKNOTFOUND;
    const FOURCC id = U32(hdr);
    const uint32_t size = U32(hdr + 4);
    const int64_t dataOffset = pos + 8;
    FOURCC type = 0;
    const bool container = id == FOURCC_RIFF || id == FOURCC_LIST;
    if (container) {
      uint8_t t[4];
      if (!ReadExact(h, t, 4)) return MMIOERR_CHUNKNOTFOUND;
      type = U32(t);
    }
    bool match = false;
    if (flags & MMIO_FINDCHUNK) match = id == ck->ckid;
    else if (flags & MMIO_FINDRIFF) match = id == FOURCC_RIFF && type == ck->fccType;
    else if (flags & MMIO_FINDLIST) match = id == FOURCC_LIST && type == ck->fccType;
    else match = true;
    if (match) {
      ck->ckid = id;
      ck->cksize = size;
      ck->fccType = type;
      ck->dwDataOffset = static_cast<uint32_t>(dataOffset);
      ck->dwFlags = 0;
      return MMSYSERR_NOERROR;
    }
    const int64_t next = dataOffset + size + (size & 1);
    if (next > end || !SeekTo(h, next)) return MMIOERR_CHUNKNOTFOUND;
  }
}

MMRESULT mmioAscend(HMMIO h, MMCKINFO* ck, uint32_t) {
  if (!h || !ck) return MMSYSERR_INVALPARAM;
  int64_t size = ck->cksize;
  if (ck->dwFlags & MMIO_DIRTY) {
    int64_t pos = Tell(h);
    if (pos < ck->dwDataOffset) return MMIOERR_CANNOTSEEK;
    size = pos - ck->dwDataOffset;
    if (size != ck->cksize) {
      uint8_t b[4];
      PutU32(b, static_cast<uint32_t>(size));
      if (!SeekTo(h, static_cast<int64_t>(ck->dwDataOffset) - 4)) return MMIOERR_CANNOTSEEK;
      if (mmioWrite(h, b, 4) != 4) return MMIOERR_CANNOTWRITE;
      ck->cksize = static_cast<uint32_t>(size);
    }
    if (size & 1) {
      const uint8_t pad = 0;
      if (!SeekTo(h, ck->dwDataOffset + size)) return MMIOERR_CANNOTSEEK;
      if (mmioWrite(h, &pad, 1) != 1) return MMIOERR_CANNOTWRITE;
    }
    ck->dwFlags &= ~MMIO_DIRTY;
  }
  if (!SeekTo(h, ck->dwDataOffset + size + (size & 1))) return MMIOERR_CANNOTSEEK;
  return MMSYSERR_NOERROR;
}

MMRESULT mmioCreateChunk(HMMIO h, MMCKINFO* ck, uint32_t flags) {
  if (!h || !ck) return MMSYSERR_INVALPARAM;
  int64_t pos = Tell(h);
  if (pos < 0) return MMIOERR_CANNOTSEEK;
  if (flags & MMIO_CREATERIFF) ck->ckid = FOURCC_RIFF;
  else if (flags & MMIO_CREATELIST) ck->ckid = FOURCC_LIST;
  const bool container = ck->ckid == FOURCC_RIFF || ck->ckid == FOURCC_LIST;
  uint8_t hdr[12];
  PutU32(hdr, ck->ckid);
  PutU32(hdr + 4, ck->cksize);
  PutU32(hdr + 8, ck->fccType);
  const int32_t n = container ? 12 : 8;
  if (mmioWrite(h, hdr, n) != n) return MMIOERR_CANNOTWRITE;
  ck->dwDataOffset = static_cast<uint32_t>(pos + 8);
  ck->dwFlags = MMIO_DIRTY;
  return MMSYSERR_NOERROR;
}
