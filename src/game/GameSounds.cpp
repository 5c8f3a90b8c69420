#include "game/GameSounds.h"

#include <algorithm>
#include <cmath>

#include "base/PasMath.h"
#include "base/SysUtils.h"
#include "engine/tools.h"

const TSoundRow SoundTable[kSoundRows] = {
    {"KTGame", 0, true, 0, 16616494, 0},
    {"KTMenu", 0, true, 0, 7842862, 0},
    {"KTHighScore", 0, true, 0, 3138094, 0},
    {"GameOver", 2, false, 1, 0, 0},
    {"LvlCompleted", 2, false, 1, 0, 0},
    {"LvlFinished", 2, false, 1, 0, 0},
    {"Delete", 2, false, 1, 0, 0},
    {"Write", 2, false, 1, 0, 0},
    {"BigTime", 2, false, 1, 0, 0},
    {"LvlStart", 2, false, 1, 0, 0},
    {"ShootWater", 2, false, 1, 0, 0},
    {"ShootHeart", 2, false, 1, 0, 0},
    {"ShootSuper", 2, false, 1, 0, 0},
    {"WaterSplash", 2, false, 1, 0, 0},
    {"HeartHit", 2, false, 1, 0, 0},
    {"HeartConvert", 2, false, 1, 0, 0},
    {"PlayerHit", 2, false, 1, 0, 0},
    {"PlayerFire", 2, false, 1, 0, 0},
    {"PlayerLaser", 2, false, 1, 0, 0},
    {"SmokerConvert", 2, false, 1, 0, 0},
    {"SuperHit", 2, false, 1, 0, 0},
    {"SmokerRest1", 2, false, 1, 0, 0},
    {"SmokerRest2", 2, false, 1, 0, 0},
    {"SmokerRest3", 2, false, 1, 0, 0},
    {"SmokerRest4", 2, false, 1, 0, 0},
    {"SmokerRest5", 2, false, 1, 0, 0},
    {"SmokingIn", 2, false, 1, 0, 3},
    {"SmokingOut", 2, false, 1, 0, 3},
    {"DoorMove", 2, false, 1, 0, 1},
    {"DoorUnlock", 2, false, 1, 0, 0},
    {"CatchOption", 2, false, 1, 0, 0},
    {"ToolActivate", 2, false, 1, 0, 0},
    {"Energy", 2, false, 1, 0, 0},
    {"Fire", 2, false, 1, 0, 0},
    {"Laser", 2, false, 1, 0, 0},
    {"Bonus", 2, false, 1, 0, 0},
    {"Diamond", 2, false, 1, 0, 0},
    {"NonSmokerHit", 2, false, 1, 0, 0},
    {"Firework", 2, false, 1, 0, 1},
};

int32_t VolumeToDB(float f) {
  // Beyond the buffer's range the volume would be refused; the ends of the range are what a
  // factor that small or that large means.
  if (!(f > 0.0f)) return DSBVOLUME_MIN;
  const int64_t v = PasRound(std::log10(static_cast<double>(f)) * 2000.0);
  return static_cast<int32_t>(std::clamp<int64_t>(v, DSBVOLUME_MIN, DSBVOLUME_MAX));
}

TGameSounds::TGameSounds(TzrDSound* sound, TGameSoundsSetup setup) : Sound(sound), Setup(std::move(setup)) {}

bool TGameSounds::RowOn(uint8_t row) const {
  if (row >= kSoundRows) return false;
  return SoundTable[row].Class == 0 ? Setup.MusicVolume >= 1 : Setup.SoundFXVolume > 0;
}

int32_t TGameSounds::ClassVolume(uint8_t row) const {
  return SoundTable[row].Class == 0 ? Setup.MusicVolume : Setup.SoundFXVolume;
}

std::string MusicCacheFileName(uint8_t row) {
  if (row >= kSoundRows || SoundTable[row].Mode != 0) return "";
  return std::string(SoundTable[row].Name) + ".wav";
}

std::vector<std::string> MusicCacheFileNames() {
  std::vector<std::string> names;
  for (uint8_t row = 0; row < kSoundRows; ++row)
    if (std::string name = MusicCacheFileName(row); !name.empty()) names.push_back(name);
  return names;
}

std::string TGameSounds::CacheFile(uint8_t row) const { return Setup.CommonDataDir + MusicCacheFileName(row); }

void TGameSounds::Progress(int32_t percent) {
  if (OnProgress) OnProgress(this, percent);
}

bool IsWholeMusicCache(const std::string& fileName, uint32_t expectedSize) {
  if (expectedSize == 0 || FileSize(fileName) != static_cast<int64_t>(expectedSize)) return false;
  // The header must say so too: "RIFF" with the file's length, "WAVE", a PCM "fmt " chunk and a
  // "data" chunk that runs to the end. Garbage of the right size fails here.
  std::string h;
  if (!ReadFileBytes(fileName, h, 256) || h.size() < 44) return false;
  auto u32 = [&h](std::size_t o) {
    return static_cast<uint32_t>(static_cast<uint8_t>(h[o])) | static_cast<uint32_t>(static_cast<uint8_t>(h[o + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(h[o + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(h[o + 3])) << 24;
  };
  if (h.compare(0, 4, "RIFF") != 0 || u32(4) != expectedSize - 8 || h.compare(8, 4, "WAVE") != 0) return false;
  if (h.compare(12, 4, "fmt ") != 0) return false;
  const uint32_t fmtSize = u32(16);
  if (fmtSize < 16 || fmtSize > 64 || (static_cast<uint8_t>(h[20]) | static_cast<uint8_t>(h[21]) << 8) != 1) return false;
  const std::size_t data = 20 + fmtSize + (fmtSize & 1);
  if (data + 8 > h.size() || h.compare(data, 4, "data") != 0) return false;
  return u32(data + 4) == expectedSize - (data + 8);
}

void TGameSounds::PrepareMusicFiles() {
  if (Sound->Failed || Setup.MusicVolume == 0) return;
  for (uint8_t i = 0; i < kSoundRows; ++i) {
    const TSoundRow& r = SoundTable[i];
    if (r.Mode != 0 || !RowOn(i)) continue;
    const std::string file = CacheFile(i);
    if (IsWholeMusicCache(file, r.CachedSize)) continue;
    // One row's failure (a folder in the cache's place, a full disk) leaves that track silent;
    // the others are still prepared.
    try {
      Log(std::string("Decompressing sound file \"") + r.Name + "\"", ltInfo);
      TResourceWaveReadStream source(Setup.Module, "SND", r.Name);
      // Written beside the cache and renamed over it when whole, so an interrupted run never
      // leaves a file of the right size with an unfinished header ("-uninstall" knows the name).
      const std::string temp = file + ".tmp";
      try {
        Sound->WriteWaveFile(&source, temp);
      } catch (...) {
        DeleteFile(temp);
        throw;
      }
      if (!RenameFile(temp, file)) {
        DeleteFile(temp);
        throw Exception("Cannot write " + file);
      }
    } catch (const Exception& e) {
      Log("Failed to decompress music files: " + e.Message, ltWarning);
    }
  }
}

void TGameSounds::LoadSounds() {
  PrepareMusicFiles();
  Progress(10);
  for (uint8_t i = 0; i < kSoundRows; ++i) {
    const TSoundRow& r = SoundTable[i];
    if (RowOn(i)) {
      TSlot& slot = Slots[i];
      try {
        if (r.Mode == 0) slot.Buffer = TzrDSoundFile::CreateFromFile(Sound, 2000, 0, CacheFile(i));
        else slot.Buffer = TzrDSoundFile::CreateFromResource(Sound, 2000, r.Mode, "SND", r.Name, Setup.Module);
        for (uint32_t c = 0; c < r.Copies && c < 4; ++c) slot.Copies[c] = TzrDSoundFile::CreateDuplicate(slot.Buffer);
        const int32_t volume = VolumeToDB(static_cast<float>(ClassVolume(i)) / 100.0f);
        slot.Buffer->Loop = r.Loop;
        slot.Buffer->SetVolume(volume);
        for (uint32_t c = 0; c < r.Copies && c < 4; ++c) {
          slot.Copies[c]->Loop = r.Loop;
          slot.Copies[c]->SetVolume(volume);
        }
      } catch (const Exception& e) {
        Log(std::string("Failed to load sound ") + r.Name + ":" + e.Message, ltWarning);
        for (TzrDSoundFile*& c : slot.Copies) {
          delete c;
          c = nullptr;
        }
        delete slot.Buffer;
        slot = TSlot{};
      }
    }
    Progress(static_cast<int32_t>(PasRound(i * 90.0 / 38.0)) + 10);
  }
}

void TGameSounds::PlaySound(uint8_t row, float factor) {
  if (!RowOn(row) || !Slots[row].Buffer) return;
  TSlot& slot = Slots[row];
  TzrDSoundFile* b = slot.Current == 0 ? slot.Buffer : slot.Copies[slot.Current - 1];
  if (!b) b = slot.Buffer;
  if (factor != -1.0f) b->SetVolume(VolumeToDB(static_cast<float>(ClassVolume(row)) * factor / 100.0f));
  b->Stop();
  b->Play();
  const uint32_t copies = std::min<uint32_t>(SoundTable[row].Copies, 4);
  if (copies > 0) slot.Current = (slot.Current + 1) % static_cast<int32_t>(copies + 1);
}

void TGameSounds::StartSound(uint8_t row) {
  if (RowOn(row) && Slots[row].Buffer) Slots[row].Buffer->Play();
}

void TGameSounds::PauseSound(uint8_t row) {
  if (RowOn(row) && Slots[row].Buffer) Slots[row].Buffer->Pause();
}

void TGameSounds::ResumeIfPaused(uint8_t row) {
  if (RowOn(row) && Slots[row].Buffer && Slots[row].Buffer->Paused) Slots[row].Buffer->Play();
}

void TGameSounds::StopSound(uint8_t row) {
  if (RowOn(row) && Slots[row].Buffer) Slots[row].Buffer->Stop();
}

void TGameSounds::StopMusic() {
  for (uint8_t i = 0; i < kSoundRows; ++i)
    if (SoundTable[i].Class == 0) StopSound(i);
}

void TGameSounds::SetSoundVolume(uint8_t row, float factor) {
  if (RowOn(row) && Slots[row].Buffer)
    Slots[row].Buffer->SetVolume(VolumeToDB(static_cast<float>(ClassVolume(row)) * factor / 100.0f));
}

void TGameSounds::UpdateStreams() { Sound->UpdateStreams(); }
