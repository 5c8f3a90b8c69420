// MP3 codec driver: converts MPEG audio stored in WAVE files (format tag 0x55) to 16-bit PCM of
// the same rate and channel count. Every decoded sample is delivered: no gapless trimming, so
// the PCM length is the frame count times the samples per frame.
#include <mpg123.h>

#include <atomic>
#include <cstring>

#include "platform/AcmDriver.h"

namespace {
constexpr uint32_t kExtraSize = 12;  // wID, fdwFlags, nBlockSize, nFramesPerBlock, nCodecDelay
constexpr uint32_t kMaxFormatSize = sizeof(WAVEFORMATEX) + kExtraSize;
// MPEG-1 layer III tops out at 320 kbit/s; anything claiming far more is not MP3.
constexpr uint32_t kMaxAvgBytesPerSec = 320000 / 8;

bool KnownRate(uint32_t r) {
  switch (r) {
    case 8000: case 11025: case 12000: case 16000: case 22050: case 24000: case 32000: case 44100: case 48000:
      return true;
    default:
      return false;
  }
}

bool ValidSource(const WAVEFORMATEX* f) {
  return f && f->wFormatTag == WAVE_FORMAT_MPEGLAYER3 && (f->nChannels == 1 || f->nChannels == 2) &&
         KnownRate(f->nSamplesPerSec) && f->nAvgBytesPerSec > 0 && f->nAvgBytesPerSec <= kMaxAvgBytesPerSec;
}

bool MatchingPcm(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) {
  return dst && dst->wFormatTag == WAVE_FORMAT_PCM && dst->wBitsPerSample == 16 &&
         dst->nChannels == src->nChannels && dst->nSamplesPerSec == src->nSamplesPerSec &&
         dst->nBlockAlign == 2 * src->nChannels;
}

uint32_t SamplesPerFrame(const WAVEFORMATEX* f) { return f->nSamplesPerSec >= 32000 ? 1152 : 576; }

// The nominal size of one MPEG frame in bytes: the one the file states, else from the bit rate.
uint32_t FrameBytes(const WAVEFORMATEX* f) {
  if (f->cbSize >= kExtraSize) {
    uint16_t block;
    std::memcpy(&block, reinterpret_cast<const uint8_t*>(f) + sizeof(WAVEFORMATEX) + 6, 2);
    if (block > 0) return block;
  }
  uint64_t b = static_cast<uint64_t>(f->nAvgBytesPerSec) * SamplesPerFrame(f) / f->nSamplesPerSec;
  return b > 0 ? static_cast<uint32_t>(b) : 1;
}

struct TStreamState {
  mpg123_handle* Handle = nullptr;
};

bool Restart(TStreamState* s) {
  mpg123_close(s->Handle);
  return mpg123_open_feed(s->Handle) == MPG123_OK;
}

intptr_t StreamOpen(ACMDRVSTREAMINSTANCE* si) {
  if (!si || !ValidSource(si->pwfxSrc)) return ACMERR_NOTPOSSIBLE;
  if (!MatchingPcm(si->pwfxSrc, si->pwfxDst)) return ACMERR_NOTPOSSIBLE;
  int err = MPG123_OK;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (!h) return ACM_MMSYSERR_NOMEM;
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_format_none(h);
  const WAVEFORMATEX* src = si->pwfxSrc;
  if (mpg123_format(h, static_cast<long>(src->nSamplesPerSec), src->nChannels == 1 ? MPG123_MONO : MPG123_STEREO,
                    MPG123_ENC_SIGNED_16) != MPG123_OK ||
      mpg123_open_feed(h) != MPG123_OK) {
    mpg123_delete(h);
    return ACMERR_NOTPOSSIBLE;
  }
  auto* s = new TStreamState;
  s->Handle = h;
  si->dwDriver = s;
  return ACM_OK;
}

intptr_t StreamClose(ACMDRVSTREAMINSTANCE* si) {
  auto* s = static_cast<TStreamState*>(si->dwDriver);
  if (!s) return ACM_MMSYSERR_INVALHANDLE;
  mpg123_delete(s->Handle);
  delete s;
  si->dwDriver = nullptr;
  return ACM_OK;
}

// Destination sizes are counted in whole frames with one frame to spare, since a block of
// source bytes may finish a frame begun in the block before it.
intptr_t StreamSize(ACMDRVSTREAMINSTANCE* si, ACMDRVSTREAMSIZE* sz) {
  if (!si || !sz) return ACM_MMSYSERR_INVALPARAM;
  const WAVEFORMATEX* src = si->pwfxSrc;
  const uint64_t frameIn = FrameBytes(src);
  const uint64_t frameOut = static_cast<uint64_t>(SamplesPerFrame(src)) * src->nChannels * 2;
  uint64_t r;
  if (sz->fdwSize == ACM_STREAMSIZEF_SOURCE) {
    uint64_t frames = (sz->cbSrcLength + frameIn - 1) / frameIn + 1;
    r = frames * frameOut;
    if (r > 0x7FFFFFFF) return ACMERR_NOTPOSSIBLE;
    sz->cbDstLength = static_cast<uint32_t>(r);
  } else {
    uint64_t frames = sz->cbDstLength / frameOut;
    if (frames == 0) frames = 1;
    r = frames * frameIn;
    if (r > 0x7FFFFFFF) return ACMERR_NOTPOSSIBLE;
    sz->cbSrcLength = static_cast<uint32_t>(r);
  }
  return ACM_OK;
}

// Feeds the whole source block and decodes as much as fits. Decoded samples that do not fit
// stay in the decoder and come first in the next call, so nothing is lost when a block holds
// more frames than its nominal size suggests.
intptr_t StreamConvert(ACMDRVSTREAMINSTANCE* si, ACMDRVSTREAMHEADER* h) {
  auto* s = static_cast<TStreamState*>(si ? si->dwDriver : nullptr);
  if (!s || !h) return ACM_MMSYSERR_INVALPARAM;
  h->cbSrcLengthUsed = 0;
  h->cbDstLengthUsed = 0;
  if ((h->fdwConvert & ACM_STREAMCONVERTF_START) && !Restart(s)) return ACM_MMSYSERR_ERROR;
  if (h->cbSrcLength > 0 && mpg123_feed(s->Handle, h->pbSrc, h->cbSrcLength) != MPG123_OK)
    return ACM_MMSYSERR_NOMEM;
  h->cbSrcLengthUsed = h->cbSrcLength;
  std::size_t out = 0;
  while (out < h->cbDstLength) {
    std::size_t done = 0;
    int r = mpg123_read(s->Handle, h->pbDst + out, h->cbDstLength - out, &done);
    out += done;
    if (r == MPG123_NEW_FORMAT) continue;
    if (r == MPG123_OK) {
      if (done == 0) break;
      continue;
    }
    if (r == MPG123_NEED_MORE || r == MPG123_DONE) break;
    // A damaged stream: deliver what was decoded; the decoder resynchronises on the next frame.
    if (out > 0) break;
    return ACM_MMSYSERR_ERROR;
  }
  h->cbDstLengthUsed = static_cast<uint32_t>(out);
  return ACM_OK;
}

intptr_t FormatSuggest(ACMDRVFORMATSUGGEST* fs) {
  if (!fs || !fs->pwfxSrc || !fs->pwfxDst) return ACM_MMSYSERR_INVALPARAM;
  if (!ValidSource(fs->pwfxSrc)) return ACMERR_NOTPOSSIBLE;
  if ((fs->fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) && fs->pwfxDst->wFormatTag != WAVE_FORMAT_PCM)
    return ACMERR_NOTPOSSIBLE;
  if (fs->cbwfxDst < sizeof(WAVEFORMAT) + 2) return ACM_MMSYSERR_INVALPARAM;
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = fs->pwfxSrc->nChannels;
  f.nSamplesPerSec = fs->pwfxSrc->nSamplesPerSec;
  f.wBitsPerSample = 16;
  f.nBlockAlign = static_cast<uint16_t>(2 * f.nChannels);
  f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
  f.cbSize = 0;
  std::memcpy(fs->pwfxDst, &f, fs->cbwfxDst < sizeof(f) ? fs->cbwfxDst : sizeof(f));
  return ACM_OK;
}

std::atomic<uintptr_t> NextInstance{1};
}  // namespace

extern "C" __attribute__((visibility("default"))) intptr_t DriverProc(uintptr_t, void*, uint32_t message,
                                                                      intptr_t lParam1, intptr_t lParam2) {
  switch (message) {
    case DRV_LOAD: return mpg123_init() == MPG123_OK ? 1 : 0;
    case DRV_FREE: return 1;
    case DRV_OPEN: return static_cast<intptr_t>(NextInstance++);
    case DRV_CLOSE: return 1;
    case ACMDM_FORMAT_MAXSIZE:
      if (!lParam1) return ACM_MMSYSERR_INVALPARAM;
      *reinterpret_cast<uint32_t*>(lParam1) = kMaxFormatSize;
      return ACM_OK;
    case ACMDM_FORMAT_SUGGEST: return FormatSuggest(reinterpret_cast<ACMDRVFORMATSUGGEST*>(lParam1));
    case ACMDM_STREAM_OPEN: return StreamOpen(reinterpret_cast<ACMDRVSTREAMINSTANCE*>(lParam1));
    case ACMDM_STREAM_CLOSE: return StreamClose(reinterpret_cast<ACMDRVSTREAMINSTANCE*>(lParam1));
    case ACMDM_STREAM_SIZE:
      return StreamSize(reinterpret_cast<ACMDRVSTREAMINSTANCE*>(lParam1), reinterpret_cast<ACMDRVSTREAMSIZE*>(lParam2));
    case ACMDM_STREAM_CONVERT:
      return StreamConvert(reinterpret_cast<ACMDRVSTREAMINSTANCE*>(lParam1),
                           reinterpret_cast<ACMDRVSTREAMHEADER*>(lParam2));
    default: return ACM_MMSYSERR_NOTSUPPORTED;
  }
}
