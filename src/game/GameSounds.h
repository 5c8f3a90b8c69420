#pragma once
// The game's 39 sounds by row number: three music tracks streamed from a PCM cache in the common
// folder (made once from the MP3 resources) and 36 effects held whole, some with extra copies
// so that they can sound several times at once.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/zrDSound.h"
#include "platform/Modules.h"

struct TSoundRow {
  const char* Name;
  uint8_t Mode;   // 0 streamed from the cached file, 2 static from the "SND" resource
  bool Loop;
  uint8_t Class;  // 0 music (MusicVolume), 1 effect (SoundFXVolume)
  uint32_t CachedSize;  // expected size of the cached wave file; 0: not cached
  uint32_t Copies;
};
constexpr int kSoundRows = 39;
extern const TSoundRow SoundTable[kSoundRows];

// The file a streamed row is cached in, in the common folder: the row's name + ".wav"; "" for
// rows held whole. While it is being written it is this name + ".tmp".
std::string MusicCacheFileName(uint8_t row);
// Every cache file name the table writes (for the uninstall clean-up).
std::vector<std::string> MusicCacheFileNames();

// Hundredths of a decibel for a linear factor: 0 (or less) is -10000, others Round(log10(f) x 2000),
// kept within -10000..0.
int32_t VolumeToDB(float f);

// True when a music cache file is whole: the expected size and a PCM wave header that agrees.
bool IsWholeMusicCache(const std::string& fileName, uint32_t expectedSize);

// What the sound table takes from the game module and the settings record.
struct TGameSoundsSetup {
  std::string CommonDataDir;   // the common data folder, with its trailing '/'
  int32_t MusicVolume = 100;   // 0..100
  int32_t SoundFXVolume = 100; // 0..100
  HMODULE Module = nullptr;    // where the "SND" resources are: nullptr, the program itself
};

class TGameSounds {
public:
  TGameSounds(TzrDSound* sound, TGameSoundsSetup setup);
  // The buffers belong to the sound device, which frees them.
  ~TGameSounds() = default;

  std::function<void(TGameSounds* sender, int32_t percent)> OnProgress;

  void LoadSounds();
  // factor: of the class volume (1 = the class volume); -1 keeps the buffer's volume.
  void PlaySound(uint8_t row, float factor);
  void StartSound(uint8_t row);  // the main buffer, from where it stands
  void PauseSound(uint8_t row);
  void ResumeIfPaused(uint8_t row);
  void StopSound(uint8_t row);
  void StopMusic();
  void SetSoundVolume(uint8_t row, float factor);  // main buffer only
  void UpdateStreams();

  struct TSlot {
    TzrDSoundFile* Buffer = nullptr;
    TzrDSoundFile* Copies[4] = {};
    int32_t Current = 0;  // 0 Buffer, 1..4 the copies: the one that plays next
  };
  TzrDSound* Sound;
  TGameSoundsSetup Setup;
  TSlot Slots[kSoundRows];

private:
  bool RowOn(uint8_t row) const;
  int32_t ClassVolume(uint8_t row) const;
  std::string CacheFile(uint8_t row) const;
  void PrepareMusicFiles();
  void Progress(int32_t percent);
};
