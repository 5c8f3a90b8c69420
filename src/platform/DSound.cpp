#include "platform/DSound.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

namespace {
std::atomic<TSoundOutput> Output{TSoundOutput::SDL};

bool ValidPcm(const WAVEFORMATEX* f, uint32_t minRate, uint32_t maxRate) {
  if (!f || f->wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f->nChannels != 1 && f->nChannels != 2) return false;
  if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return false;
  if (f->nSamplesPerSec < minRate || f->nSamplesPerSec > maxRate) return false;
  if (f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8) return false;
  return f->nAvgBytesPerSec == f->nSamplesPerSec * f->nBlockAlign;
}

int32_t GainFor(int32_t volume) {
  if (volume <= DSBVOLUME_MIN) return 0;
  return static_cast<int32_t>(std::lround(65536.0 * std::pow(10.0, volume / 2000.0)));
}

// One secondary buffer as the mixer sees it. Guarded by the mixer's lock.
struct TVoice {
  std::shared_ptr<std::vector<uint8_t>> Data;
  uint32_t Size = 0;
  uint32_t Frames = 0;
  uint16_t Channels = 2;
  uint16_t Bits = 16;
  uint32_t Rate = 44100;
  uint32_t FrameBytes = 4;
  uint32_t Caps = 0;
  bool Playing = false;
  bool Looping = false;
  bool Lost = false;
  uint64_t Pos = 0;  // frames, 32.32 fixed point
  int32_t Volume = 0;
  int32_t Gain = 65536;  // 16.16
};

template <int Bits>
inline int32_t SampleAt(const uint8_t* d, uint32_t i) {
  if constexpr (Bits == 16) {
    int16_t s;
    std::memcpy(&s, d + 2 * static_cast<std::size_t>(i), 2);
    return s;
  } else {
    return (static_cast<int32_t>(d[i]) - 128) << 8;
  }
}

// Mixes n frames of v into acc. Same rate: straight copy; otherwise linear interpolation.
// Returns false when a buffer played once has reached its end.
template <int Bits, int SrcCh, int OutCh>
bool MixVoice(TVoice& v, int32_t* acc, uint32_t n, uint64_t step) {
  const uint8_t* d = v.Data->data();
  const int64_t g = v.Gain;
  const uint64_t end = static_cast<uint64_t>(v.Frames) << 32;
  uint64_t pos = v.Pos;
  auto put = [&](int32_t l, int32_t r) {
    if constexpr (OutCh == 2) {
      acc[0] += static_cast<int32_t>((l * g) >> 16);
      acc[1] += static_cast<int32_t>((r * g) >> 16);
      acc += 2;
    } else {
      acc[0] += static_cast<int32_t>((((l + r) >> 1) * g) >> 16);
      acc += 1;
    }
  };
  if (step == (uint64_t{1} << 32)) {
    uint32_t idx = static_cast<uint32_t>(pos >> 32);
    while (n > 0) {
      if (idx >= v.Frames) {
        if (!v.Looping) return false;
        idx = 0;
      }
      uint32_t run = std::min(n, v.Frames - idx);
      for (uint32_t k = 0; k < run; ++k) {
        const uint32_t i = (idx + k) * SrcCh;
        const int32_t l = SampleAt<Bits>(d, i);
        const int32_t r = SrcCh == 2 ? SampleAt<Bits>(d, i + 1) : l;
        put(l, r);
      }
      idx += run;
      n -= run;
    }
    if (idx >= v.Frames) {
      if (!v.Looping) return false;
      idx = 0;
    }
    v.Pos = static_cast<uint64_t>(idx) << 32;
    return true;
  }
  for (; n > 0; --n) {
    if (pos >= end) {
      if (!v.Looping) return false;
      pos %= end;
    }
    const uint32_t i = static_cast<uint32_t>(pos >> 32);
    uint32_t j = i + 1;
    if (j >= v.Frames) j = v.Looping ? 0 : i;
    const int32_t f = static_cast<int32_t>((pos >> 16) & 0xFFFF);
    auto lerp = [f](int32_t a, int32_t b) { return a + static_cast<int32_t>((static_cast<int64_t>(b - a) * f) >> 16); };
    const int32_t l = lerp(SampleAt<Bits>(d, i * SrcCh), SampleAt<Bits>(d, j * SrcCh));
    const int32_t r = SrcCh == 2 ? lerp(SampleAt<Bits>(d, i * SrcCh + 1), SampleAt<Bits>(d, j * SrcCh + 1)) : l;
    put(l, r);
    pos += step;
  }
  if (pos >= end) {
    if (!v.Looping) return false;
    pos %= end;
  }
  v.Pos = pos;
  return true;
}

using TMixFn = bool (*)(TVoice&, int32_t*, uint32_t, uint64_t);
TMixFn PickMix(int bits, int srcCh, int outCh) {
  static const TMixFn table[2][2][2] = {
      {{MixVoice<8, 1, 1>, MixVoice<8, 1, 2>}, {MixVoice<8, 2, 1>, MixVoice<8, 2, 2>}},
      {{MixVoice<16, 1, 1>, MixVoice<16, 1, 2>}, {MixVoice<16, 2, 1>, MixVoice<16, 2, 2>}}};
  return table[bits == 16][srcCh == 2][outCh == 2];
}

// The state a device shares with its buffers and its output.
struct TMixer {
  std::mutex M;
  WAVEFORMATEX Primary{WAVE_FORMAT_PCM, 2, 22050, 44100, 2, 8, 0};
  std::vector<TVoice*> Voices;
  std::vector<int32_t> Acc;
  uint32_t Level = 0;  // cooperative level, 0 until set
  bool Clocked = false;
  SDL_AudioDeviceID Device = 0;

  // Caller holds M.
  void Mix(uint8_t* out, uint32_t frames) {
    const int outCh = Primary.nChannels;
    Acc.assign(static_cast<std::size_t>(frames) * outCh, 0);
    for (TVoice* v : Voices) {
      if (!v->Playing || v->Lost || v->Frames == 0) continue;
      const uint64_t step = (static_cast<uint64_t>(v->Rate) << 32) / Primary.nSamplesPerSec;
      if (!PickMix(v->Bits, v->Channels, outCh)(*v, Acc.data(), frames, step)) {
        v->Playing = false;
        v->Pos = 0;
      }
    }
    const std::size_t n = Acc.size();
    if (Primary.wBitsPerSample == 16) {
      for (std::size_t i = 0; i < n; ++i) {
        int16_t s = static_cast<int16_t>(std::clamp(Acc[i], -32768, 32767));
        std::memcpy(out + 2 * i, &s, 2);
      }
    } else {
      for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>((std::clamp(Acc[i], -32768, 32767) >> 8) + 128);
    }
  }

  static void Callback(void* user, Uint8* stream, int len) {
    auto* m = static_cast<TMixer*>(user);
    std::lock_guard<std::mutex> g(m->M);
    const uint32_t frameBytes = m->Primary.nBlockAlign;
    m->Mix(stream, static_cast<uint32_t>(len) / frameBytes);
  }

  // Opens the SDL output in the primary format; SDL converts to whatever the hardware takes.
  bool OpenOutput() {
    SDL_AudioSpec want{}, have{};
    want.freq = static_cast<int>(Primary.nSamplesPerSec);
    want.format = Primary.wBitsPerSample == 16 ? AUDIO_S16SYS : AUDIO_U8;
    want.channels = static_cast<Uint8>(Primary.nChannels);
    want.samples = 1024;
    want.callback = &TMixer::Callback;
    want.userdata = this;
    Device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (Device == 0) return false;
    SDL_PauseAudioDevice(Device, 0);
    return true;
  }
  void CloseOutput() {
    if (Device) SDL_CloseAudioDevice(Device);  // waits for a running callback
    Device = 0;
  }
};

class TSecondaryBuffer : public IDirectSoundBuffer {
public:
  TSecondaryBuffer(std::shared_ptr<TMixer> mixer, const TVoice& v) : Mixer(std::move(mixer)), V(v) {
    std::lock_guard<std::mutex> g(Mixer->M);
    Mixer->Voices.push_back(&V);
  }
  ~TSecondaryBuffer() override {
    std::lock_guard<std::mutex> g(Mixer->M);
    auto& vs = Mixer->Voices;
    vs.erase(std::remove(vs.begin(), vs.end(), &V), vs.end());
  }

  HRESULT GetCurrentPosition(uint32_t* play, uint32_t* write) override {
    std::lock_guard<std::mutex> g(Mixer->M);
    if (V.Lost) return DSERR_BUFFERLOST;
    uint32_t p = static_cast<uint32_t>(V.Pos >> 32) * V.FrameBytes;
    if (play) *play = p;
    if (write) *write = p;
    return DS_OK;
  }
  HRESULT GetFormat(WAVEFORMATEX* format, uint32_t size, uint32_t* written) override {
    WAVEFORMATEX f{WAVE_FORMAT_PCM, V.Channels, V.Rate, V.Rate * V.FrameBytes, static_cast<uint16_t>(V.FrameBytes),
                   V.Bits, 0};
    return CopyFormat(f, format, size, written);
  }
  HRESULT GetStatus(uint32_t* status) override {
    if (!status) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> g(Mixer->M);
    *status = (V.Playing ? DSBSTATUS_PLAYING : 0) | (V.Playing && V.Looping ? DSBSTATUS_LOOPING : 0) |
              (V.Lost ? DSBSTATUS_BUFFERLOST : 0);
    return DS_OK;
  }
  HRESULT GetVolume(int32_t* volume) override {
    if (!volume) return DSERR_INVALIDPARAM;
    if (!(V.Caps & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    std::lock_guard<std::mutex> g(Mixer->M);
    *volume = V.Volume;
    return DS_OK;
  }
  HRESULT Lock(uint32_t offset, uint32_t bytes, void** p1, uint32_t* n1, void** p2, uint32_t* n2,
               uint32_t flags) override {
    if (!p1 || !n1) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> g(Mixer->M);
    if (V.Lost) return DSERR_BUFFERLOST;
    if (flags & DSBLOCK_FROMWRITECURSOR) offset = static_cast<uint32_t>(V.Pos >> 32) * V.FrameBytes;
    if (flags & DSBLOCK_ENTIREBUFFER) bytes = V.Size;
    if (offset >= V.Size || bytes == 0 || bytes > V.Size) return DSERR_INVALIDPARAM;
    uint8_t* base = V.Data->data();
    const uint32_t first = std::min(bytes, V.Size - offset);
    *p1 = base + offset;
    *n1 = first;
    if (p2) *p2 = bytes > first ? base : nullptr;
    if (n2) *n2 = p2 && bytes > first ? bytes - first : 0;
    return DS_OK;
  }
  HRESULT Play(uint32_t, uint32_t, uint32_t flags) override {
    std::lock_guard<std::mutex> g(Mixer->M);
    if (V.Lost) return DSERR_BUFFERLOST;
    V.Playing = true;
    V.Looping = (flags & DSBPLAY_LOOPING) != 0;
    return DS_OK;
  }
  HRESULT SetCurrentPosition(uint32_t position) override {
    std::lock_guard<std::mutex> g(Mixer->M);
    if (V.Lost) return DSERR_BUFFERLOST;
    if (position >= V.Size) return DSERR_INVALIDPARAM;
    V.Pos = static_cast<uint64_t>(position / V.FrameBytes) << 32;
    return DS_OK;
  }
  HRESULT SetFormat(const WAVEFORMATEX*) override { return DSERR_INVALIDCALL; }
  HRESULT SetVolume(int32_t volume) override {
    if (!(V.Caps & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> g(Mixer->M);
    V.Volume = volume;
    V.Gain = GainFor(volume);
    return DS_OK;
  }
  HRESULT Stop() override {
    std::lock_guard<std::mutex> g(Mixer->M);
    V.Playing = false;
    return DS_OK;
  }
  HRESULT Unlock(void* p1, uint32_t n1, void* p2, uint32_t n2) override {
    const uint8_t* base = V.Data->data();
    auto inside = [&](void* p, uint32_t n) {
      const uint8_t* b = static_cast<uint8_t*>(p);
      return b >= base && b + n <= base + V.Size;
    };
    if (!p1 || !inside(p1, n1) || (p2 && !inside(p2, n2))) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> g(Mixer->M);
    return V.Lost ? DSERR_BUFFERLOST : DS_OK;
  }
  HRESULT Restore() override {
    std::lock_guard<std::mutex> g(Mixer->M);
    V.Lost = false;
    return DS_OK;
  }

  static HRESULT CopyFormat(const WAVEFORMATEX& f, WAVEFORMATEX* format, uint32_t size, uint32_t* written) {
    if (!format && !written) return DSERR_INVALIDPARAM;
    if (!format) {
      *written = sizeof(WAVEFORMATEX);
      return DS_OK;
    }
    if (size < sizeof(WAVEFORMAT) + 2) return DSERR_INVALIDPARAM;
    const uint32_t n = std::min<uint32_t>(size, sizeof(WAVEFORMATEX));
    std::memcpy(format, &f, n);
    if (written) *written = n;
    return DS_OK;
  }

  std::shared_ptr<TMixer> Mixer;
  TVoice V;
};

class TPrimaryBuffer : public IDirectSoundBuffer {
public:
  explicit TPrimaryBuffer(std::shared_ptr<TMixer> mixer) : Mixer(std::move(mixer)) {}
  HRESULT GetCurrentPosition(uint32_t* play, uint32_t* write) override {
    if (play) *play = 0;
    if (write) *write = 0;
    return DS_OK;
  }
  HRESULT GetFormat(WAVEFORMATEX* format, uint32_t size, uint32_t* written) override {
    WAVEFORMATEX f;
    {
      std::lock_guard<std::mutex> g(Mixer->M);
      f = Mixer->Primary;
    }
    return TSecondaryBuffer::CopyFormat(f, format, size, written);
  }
  HRESULT GetStatus(uint32_t* status) override {
    if (!status) return DSERR_INVALIDPARAM;
    *status = DSBSTATUS_PLAYING | DSBSTATUS_LOOPING;
    return DS_OK;
  }
  HRESULT GetVolume(int32_t*) override { return DSERR_CONTROLUNAVAIL; }
  HRESULT Lock(uint32_t, uint32_t, void**, uint32_t*, void**, uint32_t*, uint32_t) override {
    return DSERR_PRIOLEVELNEEDED;
  }
  HRESULT Play(uint32_t, uint32_t, uint32_t) override { return DS_OK; }
  HRESULT SetCurrentPosition(uint32_t) override { return DSERR_INVALIDCALL; }
  HRESULT SetFormat(const WAVEFORMATEX* format) override {
    if (!ValidPcm(format, 8000, 192000)) return DSERR_BADFORMAT;
    std::unique_lock<std::mutex> l(Mixer->M);
    if (Mixer->Level < DSSCL_PRIORITY) return DSERR_PRIOLEVELNEEDED;
    if (std::memcmp(&Mixer->Primary, format, sizeof(WAVEFORMAT) + 2) == 0) return DS_OK;
    if (Mixer->Clocked) {
      Mixer->Primary = *format;
      Mixer->Primary.cbSize = 0;
      return DS_OK;
    }
    l.unlock();
    Mixer->CloseOutput();  // without the lock: the callback takes it
    WAVEFORMATEX old;
    {
      std::lock_guard<std::mutex> g(Mixer->M);
      old = Mixer->Primary;
      Mixer->Primary = *format;
      Mixer->Primary.cbSize = 0;
    }
    if (Mixer->OpenOutput()) return DS_OK;
    {
      std::lock_guard<std::mutex> g(Mixer->M);
      Mixer->Primary = old;
    }
    Mixer->OpenOutput();
    return DSERR_BADFORMAT;
  }
  HRESULT SetVolume(int32_t) override { return DSERR_CONTROLUNAVAIL; }
  HRESULT Stop() override { return DS_OK; }
  HRESULT Unlock(void*, uint32_t, void*, uint32_t) override { return DSERR_INVALIDCALL; }
  HRESULT Restore() override { return DS_OK; }

  std::shared_ptr<TMixer> Mixer;
};

class TDirectSound : public IDirectSound {
public:
  explicit TDirectSound(std::shared_ptr<TMixer> mixer) : Mixer(std::move(mixer)) {}
  ~TDirectSound() override {
    if (!Mixer->Clocked) {
      Mixer->CloseOutput();
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
  }
  HRESULT SetCooperativeLevel(void* window, uint32_t level) override {
    if (!window || level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> g(Mixer->M);
    Mixer->Level = level;
    return DS_OK;
  }
  HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, std::unique_ptr<IDirectSoundBuffer>* out) override {
    if (!out) return DSERR_INVALIDPARAM;
    out->reset();
    if (!desc || desc->dwSize != sizeof(DSBUFFERDESC)) return DSERR_INVALIDPARAM;
    {
      std::lock_guard<std::mutex> g(Mixer->M);
      if (Mixer->Level == 0) return DSERR_PRIOLEVELNEEDED;
    }
    if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) {
      if (desc->dwBufferBytes != 0 || desc->lpwfxFormat) return DSERR_INVALIDPARAM;
      *out = std::make_unique<TPrimaryBuffer>(Mixer);
      return DS_OK;
    }
    const WAVEFORMATEX* f = desc->lpwfxFormat;
    if (!f) return DSERR_INVALIDPARAM;
    if (!ValidPcm(f, 100, 200000)) return DSERR_BADFORMAT;
    if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX) return DSERR_INVALIDPARAM;
    TVoice v;
    try {
      v.Data = std::make_shared<std::vector<uint8_t>>(desc->dwBufferBytes, f->wBitsPerSample == 8 ? 0x80 : 0);
    } catch (const std::bad_alloc&) {
      return DSERR_OUTOFMEMORY;
    }
    v.Size = desc->dwBufferBytes;
    v.Channels = f->nChannels;
    v.Bits = f->wBitsPerSample;
    v.Rate = f->nSamplesPerSec;
    v.FrameBytes = f->nBlockAlign;
    v.Frames = v.Size / v.FrameBytes;
    v.Caps = desc->dwFlags;
    *out = std::make_unique<TSecondaryBuffer>(Mixer, v);
    return DS_OK;
  }
  HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original, std::unique_ptr<IDirectSoundBuffer>* out) override {
    if (!out) return DSERR_INVALIDPARAM;
    out->reset();
    auto* src = dynamic_cast<TSecondaryBuffer*>(original);
    if (!src) return DSERR_INVALIDCALL;
    TVoice v;
    {
      std::lock_guard<std::mutex> g(Mixer->M);
      if (src->V.Lost) return DSERR_BUFFERLOST;
      v = src->V;
    }
    v.Playing = false;
    v.Looping = false;
    v.Pos = 0;
    *out = std::make_unique<TSecondaryBuffer>(src->Mixer, v);
    return DS_OK;
  }

  std::shared_ptr<TMixer> Mixer;
};
}  // namespace

HRESULT DirectSoundCreate(const void* device, std::unique_ptr<IDirectSound>* out) {
  if (!out) return DSERR_INVALIDPARAM;
  out->reset();
  if (device) return DSERR_NODRIVER;  // only the default output exists
  auto mixer = std::make_shared<TMixer>();
  if (Output.load() == TSoundOutput::Clocked) {
    mixer->Clocked = true;
  } else {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return DSERR_NODRIVER;
    if (!mixer->OpenOutput()) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return DSERR_NODRIVER;
    }
  }
  *out = std::make_unique<TDirectSound>(std::move(mixer));
  return DS_OK;
}

const char* DSResultText(HRESULT r) {
  switch (r) {
    case DS_OK: return "The call succeeded.";
    case DSERR_ALLOCATED: return "The resources are in use by another caller.";
    case DSERR_CONTROLUNAVAIL: return "The buffer was not created with the control this call needs.";
    case DSERR_INVALIDPARAM: return "An invalid parameter was passed to the returning function.";
    case DSERR_INVALIDCALL: return "This call is not valid for the current state of this object.";
    case DSERR_GENERIC: return "An undetermined error occurred inside the sound subsystem.";
    case DSERR_PRIOLEVELNEEDED: return "The caller does not have the priority level this call needs.";
    case DSERR_OUTOFMEMORY: return "Not enough memory to complete the call.";
    case DSERR_BADFORMAT: return "The wave format is not supported.";
    case DSERR_UNSUPPORTED: return "The function called is not supported.";
    case DSERR_NODRIVER: return "No sound driver is available for use.";
    case DSERR_BUFFERLOST: return "The buffer memory has been lost and must be restored.";
    default: return "Unknown sound error.";
  }
}

void SetSoundOutput(TSoundOutput output) { Output = output; }
TSoundOutput GetSoundOutput() { return Output.load(); }

HRESULT DSoundAdvance(IDirectSound* device, uint32_t frames, std::vector<uint8_t>* out) {
  auto* ds = dynamic_cast<TDirectSound*>(device);
  if (!ds || !ds->Mixer->Clocked) return DSERR_INVALIDCALL;
  TMixer& m = *ds->Mixer;
  std::lock_guard<std::mutex> g(m.M);
  std::vector<uint8_t> local;
  std::vector<uint8_t>& buf = out ? *out : local;
  const std::size_t at = buf.size();
  buf.resize(at + static_cast<std::size_t>(frames) * m.Primary.nBlockAlign);
  m.Mix(buf.data() + at, frames);
  return DS_OK;
}

void DSoundLoseBuffers(IDirectSound* device) {
  auto* ds = dynamic_cast<TDirectSound*>(device);
  if (!ds) return;
  std::lock_guard<std::mutex> g(ds->Mixer->M);
  for (TVoice* v : ds->Mixer->Voices) {
    v->Lost = true;
    v->Playing = false;
    std::fill(v->Data->begin(), v->Data->end(), v->Bits == 8 ? 0x80 : 0);
  }
}
