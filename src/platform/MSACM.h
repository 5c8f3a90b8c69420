#pragma once
// Audio compression manager: a process-wide list of codec drivers (function drivers living in
// modules loaded at run time, see platform/AcmDriver.h), driver instances, and conversion streams
// that turn one wave format into another in caller-sized blocks.
#include <cstdint>

#include "platform/AcmDriver.h"
#include "platform/Modules.h"

using MMRESULT = uint32_t;

struct TAcmDriverId;
struct TAcmDriver;
struct TAcmStream;
using HACMDRIVERID = TAcmDriverId*;
using HACMDRIVER = TAcmDriver*;
using HACMSTREAM = TAcmStream*;

constexpr uint32_t ACM_DRIVERADDF_FUNCTION = 0x00000003;
constexpr uint32_t ACM_METRIC_MAX_SIZE_FORMAT = 50;

// Status bits of a stream header.
constexpr uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

struct ACMSTREAMHEADER {
  uint32_t cbStruct;
  uint32_t fdwStatus;
  uintptr_t dwUser;
  uint8_t* pbSrc;
  uint32_t cbSrcLength;
  uint32_t cbSrcLengthUsed;
  uintptr_t dwSrcUser;
  uint8_t* pbDst;
  uint32_t cbDstLength;
  uint32_t cbDstLengthUsed;
  uintptr_t dwDstUser;
  uintptr_t dwReservedDriver[10];  // the manager keeps the prepared buffers here
};

// Adds a function driver (flags ACM_DRIVERADDF_FUNCTION): `proc` of `module`.
MMRESULT acmDriverAdd(HACMDRIVERID* id, HMODULE module, DRIVERPROC proc, uint32_t priority, uint32_t flags);
// ACMERR_BUSY while an instance of the driver is open.
MMRESULT acmDriverRemove(HACMDRIVERID id, uint32_t flags);
MMRESULT acmDriverOpen(HACMDRIVER* had, HACMDRIVERID id, uint32_t flags);
// ACMERR_BUSY while a stream of the instance is open.
MMRESULT acmDriverClose(HACMDRIVER had, uint32_t flags);

// ACM_METRIC_MAX_SIZE_FORMAT into a uint32_t: the largest format of `had`, or of every driver
// (and plain PCM) when had is nullptr.
MMRESULT acmMetrics(HACMDRIVER had, uint32_t metric, void* out);
// Asks `had` (nullptr: every driver in turn) for a destination format for src.
MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* src, WAVEFORMATEX* dst, uint32_t cbDst,
                          uint32_t flags);

// Opens a conversion from src to dst on `had` (nullptr: the first driver that accepts it).
// No filters and no callbacks: filter must be nullptr and callback 0.
MMRESULT acmStreamOpen(HACMSTREAM* has, HACMDRIVER had, const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                       const void* filter, uintptr_t callback, uintptr_t instance, uint32_t flags);
MMRESULT acmStreamClose(HACMSTREAM has, uint32_t flags);
// flags ACM_STREAMSIZEF_SOURCE or ACM_STREAMSIZEF_DESTINATION (see AcmDriver.h).
MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t* cbOutput, uint32_t flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* hdr, uint32_t flags);
// Converts hdr's source into its destination; the Used fields report what was taken and given.
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* hdr, uint32_t flags);
// The buffers and lengths must be those the header was prepared with.
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* hdr, uint32_t flags);
