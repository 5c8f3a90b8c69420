#pragma once
// DirectSound stand-in. A device has one primary buffer, whose format is the output format,
// and any number of secondary buffers (PCM, 8 or 16 bits, mono or stereo, 100 to 200,000 Hz)
// that our own mixer resamples, scales by their volume and adds up. The mix goes to SDL2 audio,
// or, for tests, to a hand-clocked output that moves the play cursors only when told to.
//
// Cursors: a buffer's play cursor is the byte offset of the next frame the mixer will take.
// Everything between the previous cursor and the current one has been mixed already and may
// be overwritten. A buffer played once stops at its end and returns to offset 0.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/AcmDriver.h"  // WAVEFORMATEX

using HRESULT = int32_t;

enum : HRESULT {
  DS_OK = 0,
  DSERR_ALLOCATED = static_cast<HRESULT>(0x8878000A),
  DSERR_CONTROLUNAVAIL = static_cast<HRESULT>(0x8878001E),
  DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057),
  DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032),
  DSERR_GENERIC = static_cast<HRESULT>(0x80004005),
  DSERR_PRIOLEVELNEEDED = static_cast<HRESULT>(0x88780046),
  DSERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E),
  DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064),
  DSERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001),
  DSERR_NODRIVER = static_cast<HRESULT>(0x88780078),
  DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096),
};

// Cooperative levels.
constexpr uint32_t DSSCL_NORMAL = 1, DSSCL_PRIORITY = 2, DSSCL_EXCLUSIVE = 3, DSSCL_WRITEPRIMARY = 4;

// Buffer description flags.
constexpr uint32_t DSBCAPS_PRIMARYBUFFER = 0x00000001;
constexpr uint32_t DSBCAPS_STATIC = 0x00000002;
constexpr uint32_t DSBCAPS_LOCHARDWARE = 0x00000004;
constexpr uint32_t DSBCAPS_LOCSOFTWARE = 0x00000008;
constexpr uint32_t DSBCAPS_CTRLFREQUENCY = 0x00000020;
constexpr uint32_t DSBCAPS_CTRLPAN = 0x00000040;
constexpr uint32_t DSBCAPS_CTRLVOLUME = 0x00000080;
constexpr uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;
constexpr uint32_t DSBPLAY_LOOPING = 0x00000001;
constexpr uint32_t DSBSTATUS_PLAYING = 0x00000001;
constexpr uint32_t DSBSTATUS_BUFFERLOST = 0x00000002;
constexpr uint32_t DSBSTATUS_LOOPING = 0x00000004;
constexpr uint32_t DSBLOCK_FROMWRITECURSOR = 0x00000001;
constexpr uint32_t DSBLOCK_ENTIREBUFFER = 0x00000002;
constexpr int32_t DSBVOLUME_MIN = -10000;
constexpr int32_t DSBVOLUME_MAX = 0;
constexpr uint32_t DSBSIZE_MIN = 4;
constexpr uint32_t DSBSIZE_MAX = 0x0FFFFFFF;

struct DSBUFFERDESC {
  uint32_t dwSize = sizeof(DSBUFFERDESC);
  uint32_t dwFlags = 0;
  uint32_t dwBufferBytes = 0;
  uint32_t dwReserved = 0;
  const WAVEFORMATEX* lpwfxFormat = nullptr;
};

class IDirectSoundBuffer {
public:
  virtual ~IDirectSoundBuffer() = default;
  virtual HRESULT GetCurrentPosition(uint32_t* play, uint32_t* write) = 0;
  virtual HRESULT GetFormat(WAVEFORMATEX* format, uint32_t size, uint32_t* written) = 0;
  virtual HRESULT GetStatus(uint32_t* status) = 0;
  virtual HRESULT GetVolume(int32_t* volume) = 0;
  // One region, or two when the range wraps past the end of the buffer (p2 may be nullptr
  // when the caller takes only the first region).
  virtual HRESULT Lock(uint32_t offset, uint32_t bytes, void** p1, uint32_t* n1, void** p2, uint32_t* n2,
                       uint32_t flags) = 0;
  virtual HRESULT Play(uint32_t reserved, uint32_t priority, uint32_t flags) = 0;
  virtual HRESULT SetCurrentPosition(uint32_t position) = 0;
  virtual HRESULT SetFormat(const WAVEFORMATEX* format) = 0;  // primary buffer only
  // Hundredths of a decibel, DSBVOLUME_MIN (silent) to DSBVOLUME_MAX (full).
  virtual HRESULT SetVolume(int32_t volume) = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Unlock(void* p1, uint32_t n1, void* p2, uint32_t n2) = 0;
  virtual HRESULT Restore() = 0;
};

class IDirectSound {
public:
  virtual ~IDirectSound() = default;
  virtual HRESULT SetCooperativeLevel(void* window, uint32_t level) = 0;
  virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, std::unique_ptr<IDirectSoundBuffer>* out) = 0;
  // A second buffer over the same sound data, with its own cursor, volume and play state.
  virtual HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original, std::unique_ptr<IDirectSoundBuffer>* out) = 0;
};

// device: nullptr for the default output. DSERR_NODRIVER when there is no audio output.
HRESULT DirectSoundCreate(const void* device, std::unique_ptr<IDirectSound>* out);
// The platform's description of a result code.
const char* DSResultText(HRESULT result);

// Where devices created from now on send their output. SDL by default.
enum class TSoundOutput { SDL, Clocked };
void SetSoundOutput(TSoundOutput output);
TSoundOutput GetSoundOutput();
// Clocked devices only: mixes `frames` output frames now, moving every playing buffer's cursor,
// and appends the bytes (in the primary format) to *out when given.
HRESULT DSoundAdvance(IDirectSound* device, uint32_t frames, std::vector<uint8_t>* out = nullptr);
// Every secondary buffer of the device becomes lost (its memory cleared), as when another
// program takes the sound hardware: calls report DSERR_BUFFERLOST until Restore.
void DSoundLoseBuffers(IDirectSound* device);
