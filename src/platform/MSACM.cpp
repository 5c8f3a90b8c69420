#include "platform/MSACM.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

struct TAcmDriverId {
  HMODULE Module = nullptr;
  DRIVERPROC Proc = nullptr;
  uint32_t Priority = 0;
  int OpenCount = 0;
};

struct TAcmDriver {
  TAcmDriverId* Id = nullptr;
  uintptr_t InstanceId = 0;
  int StreamCount = 0;
};

struct TAcmStream {
  TAcmDriver* Driver = nullptr;
  bool OwnsDriver = false;  // opened by acmStreamOpen itself (no driver was given)
  std::vector<uint8_t> Src, Dst;  // copies of the formats with their extra bytes
  ACMDRVSTREAMINSTANCE Instance{};
};

namespace {
std::recursive_mutex& Lock() {
  static std::recursive_mutex m;
  return m;
}
std::vector<TAcmDriverId*>& Drivers() {
  static std::vector<TAcmDriverId*> list;
  return list;
}

bool Known(TAcmDriverId* id) {
  auto& d = Drivers();
  return std::find(d.begin(), d.end(), id) != d.end();
}

MMRESULT Send(TAcmDriver* had, uint32_t msg, intptr_t p1, intptr_t p2) {
  return static_cast<MMRESULT>(had->Id->Proc(had->InstanceId, had, msg, p1, p2));
}

std::vector<uint8_t> CopyFormat(const WAVEFORMATEX* f) {
  std::size_t n = sizeof(WAVEFORMATEX) + (f->wFormatTag == WAVE_FORMAT_PCM ? 0 : f->cbSize);
  std::vector<uint8_t> v(n);
  std::memcpy(v.data(), f, n);
  if (f->wFormatTag == WAVE_FORMAT_PCM) reinterpret_cast<WAVEFORMATEX*>(v.data())->cbSize = 0;
  return v;
}

// Every driver by priority (lower first), for the calls that take no driver.
std::vector<TAcmDriverId*> ByPriority() {
  std::vector<TAcmDriverId*> v = Drivers();
  std::stable_sort(v.begin(), v.end(), [](auto* a, auto* b) { return a->Priority < b->Priority; });
  return v;
}
}  // namespace

MMRESULT acmDriverAdd(HACMDRIVERID* id, HMODULE module, DRIVERPROC proc, uint32_t priority, uint32_t flags) {
  if (!id) return ACM_MMSYSERR_INVALPARAM;
  *id = nullptr;
  if ((flags & ACM_DRIVERADDF_FUNCTION) != ACM_DRIVERADDF_FUNCTION || !proc) return ACM_MMSYSERR_INVALFLAG;
  std::lock_guard<std::recursive_mutex> g(Lock());
  if (proc(0, nullptr, DRV_LOAD, 0, 0) == 0) return ACM_MMSYSERR_ERROR;
  auto* d = new TAcmDriverId;
  d->Module = module;
  d->Proc = proc;
  d->Priority = priority;
  Drivers().push_back(d);
  *id = d;
  return ACM_OK;
}

MMRESULT acmDriverRemove(HACMDRIVERID id, uint32_t) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  if (!Known(id)) return ACM_MMSYSERR_INVALHANDLE;
  if (id->OpenCount > 0) return ACMERR_BUSY;
  id->Proc(0, nullptr, DRV_FREE, 0, 0);
  auto& d = Drivers();
  d.erase(std::find(d.begin(), d.end(), id));
  delete id;
  return ACM_OK;
}

MMRESULT acmDriverOpen(HACMDRIVER* had, HACMDRIVERID id, uint32_t) {
  if (!had) return ACM_MMSYSERR_INVALPARAM;
  *had = nullptr;
  std::lock_guard<std::recursive_mutex> g(Lock());
  if (!Known(id)) return ACM_MMSYSERR_INVALHANDLE;
  auto* drv = new TAcmDriver;
  drv->Id = id;
  intptr_t inst = id->Proc(0, drv, DRV_OPEN, 0, 0);
  if (inst == 0) {
    delete drv;
    return ACM_MMSYSERR_ERROR;
  }
  drv->InstanceId = static_cast<uintptr_t>(inst);
  ++id->OpenCount;
  *had = drv;
  return ACM_OK;
}

MMRESULT acmDriverClose(HACMDRIVER had, uint32_t) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  if (!had || !Known(had->Id)) return ACM_MMSYSERR_INVALHANDLE;
  if (had->StreamCount > 0) return ACMERR_BUSY;
  had->Id->Proc(had->InstanceId, had, DRV_CLOSE, 0, 0);
  --had->Id->OpenCount;
  delete had;
  return ACM_OK;
}

MMRESULT acmMetrics(HACMDRIVER had, uint32_t metric, void* out) {
  if (!out) return ACM_MMSYSERR_INVALPARAM;
  if (metric != ACM_METRIC_MAX_SIZE_FORMAT) return ACM_MMSYSERR_NOTSUPPORTED;
  std::lock_guard<std::recursive_mutex> g(Lock());
  uint32_t size = 0;
  if (had) {
    MMRESULT r = Send(had, ACMDM_FORMAT_MAXSIZE, reinterpret_cast<intptr_t>(&size), 0);
    if (r != ACM_OK) return r;
  } else {
    size = sizeof(WAVEFORMATEX);  // plain PCM is always there
    for (TAcmDriverId* id : ByPriority()) {
      HACMDRIVER d = nullptr;
      if (acmDriverOpen(&d, id, 0) != ACM_OK) continue;
      uint32_t s = 0;
      if (Send(d, ACMDM_FORMAT_MAXSIZE, reinterpret_cast<intptr_t>(&s), 0) == ACM_OK) size = std::max(size, s);
      acmDriverClose(d, 0);
    }
  }
  std::memcpy(out, &size, sizeof(size));
  return ACM_OK;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* src, WAVEFORMATEX* dst, uint32_t cbDst,
                          uint32_t flags) {
  if (!src || !dst || cbDst < sizeof(WAVEFORMAT)) return ACM_MMSYSERR_INVALPARAM;
  if (flags & ~ACM_FORMATSUGGESTF_WFORMATTAG) return ACM_MMSYSERR_INVALFLAG;
  ACMDRVFORMATSUGGEST s{flags, src, static_cast<uint32_t>(sizeof(WAVEFORMATEX) + src->cbSize), dst, cbDst};
  std::lock_guard<std::recursive_mutex> g(Lock());
  if (had) return Send(had, ACMDM_FORMAT_SUGGEST, reinterpret_cast<intptr_t>(&s), 0);
  for (TAcmDriverId* id : ByPriority()) {
    HACMDRIVER d = nullptr;
    if (acmDriverOpen(&d, id, 0) != ACM_OK) continue;
    MMRESULT r = Send(d, ACMDM_FORMAT_SUGGEST, reinterpret_cast<intptr_t>(&s), 0);
    acmDriverClose(d, 0);
    if (r == ACM_OK) return ACM_OK;
  }
  return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmStreamOpen(HACMSTREAM* has, HACMDRIVER had, const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                       const void* filter, uintptr_t callback, uintptr_t, uint32_t flags) {
  if (!has) return ACM_MMSYSERR_INVALPARAM;
  *has = nullptr;
  if (!src || !dst) return ACM_MMSYSERR_INVALPARAM;
  if (filter || callback || flags) return ACM_MMSYSERR_NOTSUPPORTED;
  std::lock_guard<std::recursive_mutex> g(Lock());
  auto* s = new TAcmStream;
  s->Src = CopyFormat(src);
  s->Dst = CopyFormat(dst);
  s->Instance.pwfxSrc = reinterpret_cast<const WAVEFORMATEX*>(s->Src.data());
  s->Instance.pwfxDst = reinterpret_cast<const WAVEFORMATEX*>(s->Dst.data());
  auto tryOpen = [s](HACMDRIVER d) {
    return Send(d, ACMDM_STREAM_OPEN, reinterpret_cast<intptr_t>(&s->Instance), 0);
  };
  MMRESULT r = ACMERR_NOTPOSSIBLE;
  if (had) {
    r = tryOpen(had);
    if (r == ACM_OK) s->Driver = had;
  } else {
    for (TAcmDriverId* id : ByPriority()) {
      HACMDRIVER d = nullptr;
      if (acmDriverOpen(&d, id, 0) != ACM_OK) continue;
      r = tryOpen(d);
      if (r == ACM_OK) {
        s->Driver = d;
        s->OwnsDriver = true;
        break;
      }
      acmDriverClose(d, 0);
    }
  }
  if (r != ACM_OK) {
    delete s;
    return r;
  }
  ++s->Driver->StreamCount;
  *has = s;
  return ACM_OK;
}

MMRESULT acmStreamClose(HACMSTREAM has, uint32_t) {
  if (!has) return ACM_MMSYSERR_INVALHANDLE;
  std::lock_guard<std::recursive_mutex> g(Lock());
  Send(has->Driver, ACMDM_STREAM_CLOSE, reinterpret_cast<intptr_t>(&has->Instance), 0);
  --has->Driver->StreamCount;
  if (has->OwnsDriver) acmDriverClose(has->Driver, 0);
  delete has;
  return ACM_OK;
}

MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t* cbOutput, uint32_t flags) {
  if (!has) return ACM_MMSYSERR_INVALHANDLE;
  if (!cbOutput) return ACM_MMSYSERR_INVALPARAM;
  if (flags != ACM_STREAMSIZEF_SOURCE && flags != ACM_STREAMSIZEF_DESTINATION) return ACM_MMSYSERR_INVALFLAG;
  ACMDRVSTREAMSIZE sz{flags, 0, 0};
  if (flags == ACM_STREAMSIZEF_SOURCE) sz.cbSrcLength = cbInput;
  else sz.cbDstLength = cbInput;
  MMRESULT r = Send(has->Driver, ACMDM_STREAM_SIZE, reinterpret_cast<intptr_t>(&has->Instance),
                    reinterpret_cast<intptr_t>(&sz));
  if (r != ACM_OK) return r;
  *cbOutput = flags == ACM_STREAMSIZEF_SOURCE ? sz.cbDstLength : sz.cbSrcLength;
  return *cbOutput == 0 ? ACMERR_NOTPOSSIBLE : ACM_OK;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* hdr, uint32_t) {
  if (!has) return ACM_MMSYSERR_INVALHANDLE;
  if (!hdr || hdr->cbStruct < sizeof(ACMSTREAMHEADER) || !hdr->pbSrc || !hdr->pbDst) return ACM_MMSYSERR_INVALPARAM;
  if (hdr->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) return ACM_OK;
  hdr->dwReservedDriver[0] = reinterpret_cast<uintptr_t>(hdr->pbSrc);
  hdr->dwReservedDriver[1] = hdr->cbSrcLength;
  hdr->dwReservedDriver[2] = reinterpret_cast<uintptr_t>(hdr->pbDst);
  hdr->dwReservedDriver[3] = hdr->cbDstLength;
  hdr->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  return ACM_OK;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* hdr, uint32_t flags) {
  if (!has) return ACM_MMSYSERR_INVALHANDLE;
  if (!hdr || hdr->cbStruct < sizeof(ACMSTREAMHEADER)) return ACM_MMSYSERR_INVALPARAM;
  if (!(hdr->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (flags & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
    return ACM_MMSYSERR_INVALFLAG;
  // The buffers must lie inside the prepared ones.
  if (hdr->pbSrc != reinterpret_cast<uint8_t*>(hdr->dwReservedDriver[0]) || hdr->cbSrcLength > hdr->dwReservedDriver[1] ||
      hdr->pbDst != reinterpret_cast<uint8_t*>(hdr->dwReservedDriver[2]) || hdr->cbDstLength > hdr->dwReservedDriver[3])
    return ACM_MMSYSERR_INVALPARAM;
  hdr->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  ACMDRVSTREAMHEADER d{flags, hdr->pbSrc, hdr->cbSrcLength, 0, hdr->pbDst, hdr->cbDstLength, 0};
  MMRESULT r = Send(has->Driver, ACMDM_STREAM_CONVERT, reinterpret_cast<intptr_t>(&has->Instance),
                    reinterpret_cast<intptr_t>(&d));
  hdr->cbSrcLengthUsed = std::min(d.cbSrcLengthUsed, hdr->cbSrcLength);
  hdr->cbDstLengthUsed = std::min(d.cbDstLengthUsed, hdr->cbDstLength);
  hdr->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return r;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* hdr, uint32_t) {
  if (!has) return ACM_MMSYSERR_INVALHANDLE;
  if (!hdr || hdr->cbStruct < sizeof(ACMSTREAMHEADER)) return ACM_MMSYSERR_INVALPARAM;
  if (!(hdr->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (hdr->pbSrc != reinterpret_cast<uint8_t*>(hdr->dwReservedDriver[0]) || hdr->cbSrcLength != hdr->dwReservedDriver[1] ||
      hdr->pbDst != reinterpret_cast<uint8_t*>(hdr->dwReservedDriver[2]) || hdr->cbDstLength != hdr->dwReservedDriver[3])
    return ACM_MMSYSERR_INVALPARAM;
  hdr->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return ACM_OK;
}
