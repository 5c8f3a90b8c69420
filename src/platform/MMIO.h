#pragma once
// Multimedia file I/O: buffered reading and writing of RIFF files on disk or in a memory block,
// with chunk descend, ascend and create. Chunk sizes are little-endian 32-bit; a chunk of odd
// size is followed by one pad byte. RIFF and LIST chunks carry a four-character form type after
// their size; their data offset points at that form type.
#include <cstdint>
#include <string>

using MMRESULT = uint32_t;
using FOURCC = uint32_t;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}
constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC FOURCC_MEM = mmioFOURCC('M', 'E', 'M', ' ');
constexpr FOURCC FOURCC_DOS = mmioFOURCC('D', 'O', 'S', ' ');

enum : MMRESULT {
  MMSYSERR_NOERROR = 0,
  MMSYSERR_INVALHANDLE = 5,
  MMSYSERR_INVALPARAM = 11,
  MMIOERR_FILENOTFOUND = 257,
  MMIOERR_OUTOFMEMORY = 258,
  MMIOERR_CANNOTOPEN = 259,
  MMIOERR_CANNOTCLOSE = 260,
  MMIOERR_CANNOTREAD = 261,
  MMIOERR_CANNOTWRITE = 262,
  MMIOERR_CANNOTSEEK = 263,
  MMIOERR_CANNOTEXPAND = 264,
  MMIOERR_CHUNKNOTFOUND = 265,
};

// mmioOpen flags
enum : uint32_t {
  MMIO_READ = 0x0000,
  MMIO_WRITE = 0x0001,
  MMIO_READWRITE = 0x0002,
  MMIO_CREATE = 0x1000,
  MMIO_ALLOCBUF = 0x10000,
};
// mmioDescend / mmioCreateChunk flags
enum : uint32_t {
  MMIO_FINDCHUNK = 0x0010,
  MMIO_FINDRIFF = 0x0020,
  MMIO_FINDLIST = 0x0040,
  MMIO_CREATERIFF = 0x0020,
  MMIO_CREATELIST = 0x0040,
};
// MMCKINFO.dwFlags: the chunk was created here and its size may need correcting on ascend.
constexpr uint32_t MMIO_DIRTY = 0x10000000;

enum : int { MMIO_SEEK_SET = 0, MMIO_SEEK_CUR = 1, MMIO_SEEK_END = 2 };

struct MMCKINFO {
  FOURCC ckid = 0;
  uint32_t cksize = 0;
  FOURCC fccType = 0;
  uint32_t dwDataOffset = 0;
  uint32_t dwFlags = 0;
};

// I/O information. For a memory file set fccIOProc to FOURCC_MEM, pchBuffer and cchBuffer.
struct MMIOINFO {
  uint32_t dwFlags = 0;
  FOURCC fccIOProc = 0;
  MMRESULT wErrorRet = 0;
  const uint8_t* pchBuffer = nullptr;
  int32_t cchBuffer = 0;
  int32_t lDiskOffset = 0;  // current position
};

struct TMMIOFile;
using HMMIO = TMMIOFile*;

// Opens a file (fileName) or, with info->fccIOProc == FOURCC_MEM, a read-only memory block
// (fileName is ignored). nullptr on failure, with the reason in info->wErrorRet when given.
HMMIO mmioOpen(const char* fileName, MMIOINFO* info, uint32_t flags);
MMRESULT mmioClose(HMMIO h, uint32_t flags);
// Bytes moved, or -1 on an error. Reading at or past the end gives 0.
int32_t mmioRead(HMMIO h, void* buffer, int32_t count);
int32_t mmioWrite(HMMIO h, const void* buffer, int32_t count);
// New position, or -1. Positions past the end are allowed; reads there give 0.
int32_t mmioSeek(HMMIO h, int32_t offset, int origin);
MMRESULT mmioFlush(HMMIO h, uint32_t flags);
MMRESULT mmioGetInfo(HMMIO h, MMIOINFO* info, uint32_t flags);

// Descends into the chunk at the current position (flags 0) or searches for one: ck->ckid
// (MMIO_FINDCHUNK), a RIFF or LIST chunk of form type ck->fccType (MMIO_FINDRIFF, MMIO_FINDLIST).
// A search stays inside `parent` when given. On success the position is the start of the data
// (after the form type for RIFF and LIST). MMIOERR_CHUNKNOTFOUND when there is none.
MMRESULT mmioDescend(HMMIO h, MMCKINFO* ck, const MMCKINFO* parent, uint32_t flags);
// Moves past the end of the chunk (and its pad byte). A chunk made by mmioCreateChunk gets its
// size written from the current position first, and a pad byte when the size is odd.
MMRESULT mmioAscend(HMMIO h, MMCKINFO* ck, uint32_t flags);
// Writes a chunk header at the current position (with ck->fccType for RIFF and LIST).
MMRESULT mmioCreateChunk(HMMIO h, MMCKINFO* ck, uint32_t flags);
