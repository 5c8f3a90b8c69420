#pragma once
// The game's sound layer: the sound device (TzrDSound) with its codec driver and WAVE writer,
// and the sound buffers (TzrDSoundFile), whole ("static") or refilled while they play
// ("streaming"). A device that could not be created is Failed and every buffer on it is inert,
// so a machine without sound runs the game silent.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "engine/ThdTimer.h"
#include "engine/WaveRead.h"
#include "platform/DSound.h"
#include "platform/MSACM.h"
#include "platform/Modules.h"

class EDirectXError : public Exception {
public:
  EDirectXError(std::string message, HRESULT code) : Exception(std::move(message)), ErrorCode(code) {}
  HRESULT ErrorCode;
};
// A lost buffer; silent (no message box reports it). TzrDSoundFile turns it into its Lost flag.
KT_DECLARE_EXCEPTION(EDirectXBufferLostError, EAbort)

// Own codes 0x81010001..0x81010009 and their messages; "Unrecognized Error" for others.
std::string DSoundErrorText(uint32_t code);
// Returns on success; otherwise logs and raises (EDirectXBufferLostError for a lost buffer).
void CheckDSResult(HRESULT result, uint32_t ownCode, const std::string& context);

// The clock the streaming refill limit counts with (milliseconds); nullptr: GetTickCount.
using TSoundTickSource = uint32_t (*)();
void SetSoundTickSource(TSoundTickSource source);

class TzrDSoundFile;

class TzrDSound {
public:
  // window: any non-null handle of the owning window. format: the primary format, or nullptr
  // for 44,100 Hz 16-bit stereo (not used at the normal cooperative level, 1).
  TzrDSound(void* window, uint32_t cooperativeLevel, const WAVEFORMATEX* format = nullptr);
  ~TzrDSound();
  TzrDSound(const TzrDSound&) = delete;
  TzrDSound& operator=(const TzrDSound&) = delete;

  void AddSound(TzrDSoundFile* soundFile);
  void RemoveSound(TzrDSoundFile* soundFile);
  // Loads the codec driver module and opens it; own codes 0x81010004..7 on failure.
  void LoadACMDriver(const std::string& fileName);
  void UnloadACMDriver();
  // Refills every streaming sound that is playing.
  void UpdateStreams();
  // Writes source as a PCM WAVE file (converting it when needed). Failures are logged as
  // Error lines and raised; a partly written file stays.
  void WriteWaveFile(TWaveReadStream* source, const std::string& fileName);

  std::unique_ptr<IDirectSound> DirectSound;
  std::unique_ptr<IDirectSoundBuffer> PrimaryBuffer;
  std::vector<TzrDSoundFile*> Sounds;  // destroyed by the device
  bool Silent = false;
  bool Failed = true;
  bool Enabled = true;
  std::unique_ptr<TThreadedTimer> StreamTimer;  // 250 ms, left disabled
  std::string ACMFileName;
  HMODULE ACMModule = nullptr;
  HACMDRIVER ACMDriver = nullptr;
  HACMDRIVERID ACMDriverID = nullptr;
};

// One playable sound. Created through the Create functions, registered with and destroyed by
// its device (or deleted earlier by its creator). Every operation does nothing unless State
// is 0.
class TzrDSoundFile {
public:
  // Modes: 0 streaming; 1 static in software; 2 static; 3 static in hardware; 4 static when
  // the sound lasts no longer than bufferMs, else streaming.
  static TzrDSoundFile* CreateFromResource(TzrDSound* owner, uint32_t bufferMs, uint8_t mode,
                                           const std::string& resourceType, const std::string& resourceName,
                                           HMODULE module = nullptr);
  // The file is fileName with its extension replaced by ".wav".
  static TzrDSoundFile* CreateFromFile(TzrDSound* owner, uint32_t bufferMs, uint8_t mode, const std::string& fileName);
  // A second buffer over a static sound's data. Streaming sounds: "Can't duplicate a streaming buffer".
  static TzrDSoundFile* CreateDuplicate(TzrDSoundFile* master);
  ~TzrDSoundFile();
  TzrDSoundFile(const TzrDSoundFile&) = delete;
  TzrDSoundFile& operator=(const TzrDSoundFile&) = delete;

  void Play();
  void Stop();
  void Pause();
  void SetVolume(int32_t volume);  // hundredths of a decibel: 0 full, -10000 silent
  void SetPosition(uint32_t offset);
  bool IsLost();
  bool Restore();
  void Update(bool restart);

  std::unique_ptr<IDirectSoundBuffer> Buffer;
  TzrDSound* Owner = nullptr;
  std::string Name;
  std::string ErrorText;
  uint32_t BufferBytes = 0;
  uint32_t WritePos = 0;
  int64_t EndPos = 0;        // stream offset just after the last real byte (counted from the prime)
  uint32_t SilenceEnd = 0;   // ring offset just after the last silence written
  int64_t WrittenTotal = 0;  // bytes written into the ring since the prime
  uint32_t LastUpdate = 0;
  uint8_t State = 0;
  bool Lost = false;
  bool Ended = false;
  bool Loop = false;
  bool Playing = false;
  bool Paused = false;
  bool Primed = false;
  uint8_t Mode = 0;
  std::unique_ptr<TWaveReadStream> Source;
  std::unique_ptr<TWavePCMReader> Reader;
  uint8_t SourceKind = 0;  // 0 file, 1 resource
  std::string SourcePath;
  HMODULE SourceModule = nullptr;
  std::string SourceName;
  std::string SourceType;
  WAVEFORMAT Format{};
  uint16_t BitsPerSample = 16;

private:
  TzrDSoundFile() = default;
  void SetUp(uint32_t bufferMs);
  std::unique_ptr<TWaveReadStream> OpenSource() const;
  void Prime();
  void Fill(uint8_t* region, uint32_t count);
  void Reload();
};
