#pragma once
// The interface between the audio compression manager (platform/MSACM) and a codec driver
// module. A driver module is a shared object exporting
//   extern "C" intptr_t DriverProc(uintptr_t driverId, void* driver, uint32_t message,
//                                  intptr_t lParam1, intptr_t lParam2);
// that answers the messages below. Header-only, so the codec module can be built on its own.
#include <cstdint>

#pragma pack(push, 2)
// Wave format header as it stands in a WAVE file's "fmt " chunk (18 bytes), followed by
// cbSize extra bytes that belong to the encoding.
struct WAVEFORMATEX {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
// The part of the header every encoding has (14 bytes).
struct WAVEFORMAT {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "wave format header is 18 bytes");
static_assert(sizeof(WAVEFORMAT) == 14, "wave format base is 14 bytes");

constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;

using DRIVERPROC = intptr_t (*)(uintptr_t driverId, void* driver, uint32_t message, intptr_t lParam1,
                                intptr_t lParam2);

// Messages. Results are MMRESULT codes (0 = success) unless said otherwise.
enum : uint32_t {
  DRV_LOAD = 0x0001,     // once, when the driver is added; nonzero result = loaded
  DRV_OPEN = 0x0003,     // result: a nonzero driver instance id, 0 = refused
  DRV_CLOSE = 0x0004,    // driverId = the instance id; nonzero result = closed
  DRV_FREE = 0x0006,     // once, when the driver is removed
  ACMDM_FORMAT_MAXSIZE = 0x6001,  // lParam1: uint32_t*, the largest format (with extra bytes) it handles
  ACMDM_FORMAT_SUGGEST = 0x6002,  // lParam1: ACMDRVFORMATSUGGEST*
  ACMDM_STREAM_OPEN = 0x6003,     // lParam1: ACMDRVSTREAMINSTANCE*
  ACMDM_STREAM_CLOSE = 0x6004,    // lParam1: ACMDRVSTREAMINSTANCE*
  ACMDM_STREAM_SIZE = 0x6005,     // lParam1: ACMDRVSTREAMINSTANCE*, lParam2: ACMDRVSTREAMSIZE*
  ACMDM_STREAM_CONVERT = 0x6006,  // lParam1: ACMDRVSTREAMINSTANCE*, lParam2: ACMDRVSTREAMHEADER*
};

// MMRESULT values shared by the manager and the drivers.
constexpr uint32_t ACM_OK = 0;
constexpr uint32_t ACM_MMSYSERR_ERROR = 1;
constexpr uint32_t ACM_MMSYSERR_INVALHANDLE = 5;
constexpr uint32_t ACM_MMSYSERR_NOMEM = 7;
constexpr uint32_t ACM_MMSYSERR_NOTSUPPORTED = 8;
constexpr uint32_t ACM_MMSYSERR_INVALFLAG = 10;
constexpr uint32_t ACM_MMSYSERR_INVALPARAM = 11;
constexpr uint32_t ACMERR_NOTPOSSIBLE = 512;
constexpr uint32_t ACMERR_BUSY = 513;
constexpr uint32_t ACMERR_UNPREPARED = 514;

// Format suggestion: fill pwfxDst (cbwfxDst bytes) with a format the driver can convert pwfxSrc to.
// With ACM_FORMATSUGGESTF_WFORMATTAG the caller fixed pwfxDst->wFormatTag.
constexpr uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
struct ACMDRVFORMATSUGGEST {
  uint32_t fdwSuggest;
  const WAVEFORMATEX* pwfxSrc;
  uint32_t cbwfxSrc;
  WAVEFORMATEX* pwfxDst;
  uint32_t cbwfxDst;
};

// One conversion stream. The driver keeps its own state in dwDriver.
struct ACMDRVSTREAMINSTANCE {
  const WAVEFORMATEX* pwfxSrc;
  const WAVEFORMATEX* pwfxDst;
  uint32_t fdwOpen;
  void* dwDriver;
};

// Size query: ACM_STREAMSIZEF_SOURCE asks for the destination size that cbSrcLength source bytes
// need; ACM_STREAMSIZEF_DESTINATION for the source size that fills cbDstLength.
constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr uint32_t ACM_STREAMSIZEF_DESTINATION = 0x00000001;
struct ACMDRVSTREAMSIZE {
  uint32_t fdwSize;
  uint32_t cbSrcLength;
  uint32_t cbDstLength;
};

// Conversion flags: whole blocks only; first conversion of the stream; last one.
constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr uint32_t ACM_STREAMCONVERTF_START = 0x00000010;
constexpr uint32_t ACM_STREAMCONVERTF_END = 0x00000020;
struct ACMDRVSTREAMHEADER {
  uint32_t fdwConvert;
  const uint8_t* pbSrc;
  uint32_t cbSrcLength;
  uint32_t cbSrcLengthUsed;
  uint8_t* pbDst;
  uint32_t cbDstLength;
  uint32_t cbDstLengthUsed;
};
