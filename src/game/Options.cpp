#include "game/Options.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <cstring>

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/SaveQueue.h"

const char* const kEnvironmentKey = "CAPRICCIOSOX?WUWpe$B1947~(3)DF/&hmTOQEwt@qzxq6u*re517gb-d";
const char* const kEnvironmentFileName = "env.dat";
const char* const kDamagedSuffix = ".damaged";
TGameEnvironment GameEnvironment;

namespace {

constexpr char kMagic[] = "zrc2e";
constexpr int32_t kMagicSize = 5;

// Little-endian field access on the record image.
void Put32(uint8_t* b, int off, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(u >> (8 * i));
}
void Put16(uint8_t* b, int off, uint16_t v) {
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}
int32_t Get32(const uint8_t* b, int off) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(b[off + i]) << (8 * i);
  return static_cast<int32_t>(u);
}
uint16_t Get16(const uint8_t* b, int off) { return static_cast<uint16_t>(b[off] | (b[off + 1] << 8)); }

// string[capacity]: a length byte, then `capacity` bytes.
void PutStr(uint8_t* b, int off, int capacity, const std::string& s) {
  size_t n = s.size() < static_cast<size_t>(capacity) ? s.size() : static_cast<size_t>(capacity);
  b[off] = static_cast<uint8_t>(n);
  std::memcpy(b + off + 1, s.data(), n);
}
std::string GetStr(const uint8_t* b, int off, int capacity) {
  int n = b[off] < capacity ? b[off] : capacity;
  return std::string(reinterpret_cast<const char*>(b + off + 1), static_cast<size_t>(n));
}

void PutStats(uint8_t* b, int off, const TLevelStats* stats) {
  for (int l = 0; l < kStatLevels; ++l)
    for (int k = 0; k < 7; ++k) Put16(b, off + 14 * l + 2 * k, stats[l].Counts[k]);
}
void GetStats(const uint8_t* b, int off, TLevelStats* stats) {
  for (int l = 0; l < kStatLevels; ++l)
    for (int k = 0; k < 7; ++k) stats[l].Counts[k] = Get16(b, off + 14 * l + 2 * k);
}

}  // namespace

TLevelStats* TGameEnvironment::LevelStatsOf(int32_t level) {
  return level >= 1 && level <= kStatLevels ? &LevelStats[level - 1] : nullptr;
}

TLevelStats* TGameEnvironment::BestLevelStatsOf(int32_t level) {
  return level >= 1 && level <= kStatLevels ? &BestLevelStats[level - 1] : nullptr;
}

void TGameEnvironment::SaveToBytes(uint8_t b[kEnvironmentSize]) const {
  std::memset(b, 0, kEnvironmentSize);
  Put32(b, 0, MusicVolume);
  Put32(b, 4, SoundFXVolume);
  Put32(b, 8, AdapterNumber);
  Put32(b, 12, DeviceType);
  b[16] = DisplayMode;
  b[17] = GraphicsDetail;
  Put32(b, 20, SmokeDensity);
  Put32(b, 24, StartScore);
  Put32(b, 28, StartLevel);
  Put32(b, 32, StartOptions[0]);
  Put32(b, 36, StartOptions[1]);
  PutStats(b, 40, LevelStats);
  Put32(b, 460, GamesStarted);
  Put32(b, 464, LevelsFinished);
  for (int i = 0; i < kHighscoreCount; ++i) {
    PutStr(b, 468 + 16 * i, 10, Highscores[i].Name);
    Put32(b, 468 + 16 * i + 12, Highscores[i].Score);
  }
  PutStr(b, 628, 32, UserID);
  PutStr(b, 661, 15, Alias);
  PutStr(b, 677, 100, City);
  PutStr(b, 778, 40, State);
  Put16(b, 820, Country);
  PutStr(b, 822, 100, ErrorReportEmail);
  b[923] = Sex;
  PutStr(b, 924, 80, Email);
  Put32(b, 1008, Age);
  PutStr(b, 1012, 100, Comment);
  PutStats(b, 1114, BestLevelStats);
  PutStr(b, 1534, 30, WorldBestFile);
  PutStr(b, 1565, 150, HighScoreHost);
  PutStr(b, 1716, 150, HighScoreBase);
  PutStr(b, 1867, 150, InternalHost);
  PutStr(b, 2018, 150, InternalBase);
  PutStr(b, 2169, 150, SupportURL);
}

void TGameEnvironment::LoadFromBytes(const uint8_t b[kEnvironmentSize]) {
  MusicVolume = Get32(b, 0);
  SoundFXVolume = Get32(b, 4);
  AdapterNumber = Get32(b, 8);
  DeviceType = Get32(b, 12);
  DisplayMode = b[16];
  GraphicsDetail = b[17];
  SmokeDensity = Get32(b, 20);
  StartScore = Get32(b, 24);
  StartLevel = Get32(b, 28);
  StartOptions[0] = Get32(b, 32);
  StartOptions[1] = Get32(b, 36);
  GetStats(b, 40, LevelStats);
  GamesStarted = Get32(b, 460);
  LevelsFinished = Get32(b, 464);
  for (int i = 0; i < kHighscoreCount; ++i) {
    Highscores[i].Name = GetStr(b, 468 + 16 * i, 10);
    Highscores[i].Score = Get32(b, 468 + 16 * i + 12);
  }
  UserID = GetStr(b, 628, 32);
  Alias = GetStr(b, 661, 15);
  City = GetStr(b, 677, 100);
  State = GetStr(b, 778, 40);
  Country = Get16(b, 820);
  if (Country >= Countries.size()) Country = 0;  // an index into the country table
  ErrorReportEmail = GetStr(b, 822, 100);
  Sex = b[923];
  Email = GetStr(b, 924, 80);
  Age = Get32(b, 1008);
  Comment = GetStr(b, 1012, 100);
  GetStats(b, 1114, BestLevelStats);
  WorldBestFile = GetStr(b, 1534, 30);
  HighScoreHost = GetStr(b, 1565, 150);
  HighScoreBase = GetStr(b, 1716, 150);
  InternalHost = GetStr(b, 1867, 150);
  InternalBase = GetStr(b, 2018, 150);
  SupportURL = GetStr(b, 2169, 150);
}

bool LoadEnvironmentStream(TStream& source, TGameEnvironment& env) {
  try {
    // The plain content is 2,325 bytes; more is never needed.
    std::string plain = DecipherStream(kEnvironmentKey, source, kMagicSize + kEnvironmentSize);
    if (plain.size() < static_cast<size_t>(kMagicSize) || plain.compare(0, kMagicSize, kMagic) != 0)
      return false;
    if (plain.size() < static_cast<size_t>(kMagicSize + kEnvironmentSize))
      throw EReadError("Size of environment file different from structure");
    // Decode into a fresh record so that a failure leaves nothing half-filled.
    TGameEnvironment loaded;
    loaded.LoadFromBytes(reinterpret_cast<const uint8_t*>(plain.data()) + kMagicSize);
    env = std::move(loaded);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool LoadEnvironmentFile(const std::string& fileName, TGameEnvironment& env) {
  // Read whole in one call, never more than the record needs: a huge file costs nothing.
  std::string bytes;
  if (!ReadFileBytes(fileName, bytes, 4096)) return false;
  TReadOnlyMemoryStream file(bytes.data(), bytes.size());
  return LoadEnvironmentStream(file, env);
}

bool SaveEnvironmentFile(const std::string& fileName, const TGameEnvironment& env, std::string& error) {
  try {
    std::string plain(kMagic, kMagicSize);
    plain.resize(kMagicSize + kEnvironmentSize);
    env.SaveToBytes(reinterpret_cast<uint8_t*>(plain.data()) + kMagicSize);
    std::string cipher = EncipherBytes(kEnvironmentKey, plain);
    if (!SaveFileAtomically(fileName, cipher)) {
      error = "Cannot create file \"" + fileName + "\". " + std::strerror(errno);
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

void ResetProgress(TGameEnvironment& env) {
  env.StartLevel = 1;
  env.StartScore = 0;
  env.StartOptions[0] = 0;
  env.StartOptions[1] = 0;
}

void ClearHighscores(TGameEnvironment& env) {
  ResetProgress(env);
  for (THighscoreEntry& h : env.Highscores) h = THighscoreEntry{};
  for (TLevelStats& s : env.LevelStats) s = TLevelStats{};
}

void ResetEnvironment(TGameEnvironment& env) {
  env = TGameEnvironment{};  // every field zero or empty
  env.MusicVolume = 60;
  env.SoundFXVolume = 100;
  env.AdapterNumber = 0;
  env.DeviceType = 1;
  env.DisplayMode = 2;
  env.GraphicsDetail = 1;
  env.SmokeDensity = 2;
  env.StartLevel = 1;
  ClearHighscores(env);
}

namespace {
// Set when a damaged env.dat could not be moved aside: the defaults are then never saved over it.
bool KeepDamagedEnvironment = false;

// A file that is there but does not load holds the player's highscores and progress in some
// form: it is kept beside as env.dat.damaged (one copy, the newest) before the defaults take over.
void KeepDamagedEnvironmentFile(const std::string& fileName) {
  struct stat st {};
  // A symbolic link goes aside too (the link itself, never what it leads to; it is never read).
  if (::lstat(fileName.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) return;
  const std::string kept = fileName + kDamagedSuffix;
  if (RenameFile(fileName, kept)) {
    Log("Damaged environment file kept as " + ExtractFileName(kept) + "; the settings start from the defaults",
        ltWarning);
    return;
  }
  KeepDamagedEnvironment = true;
  Log("Damaged environment file could not be kept (" + std::string(std::strerror(errno)) +
          "); the settings start from the defaults and are not saved over it",
      ltWarning);
}
}  // namespace

void LoadSettings() {
  const std::string fileName = UserDataDir + kEnvironmentFileName;
  KeepDamagedEnvironment = false;
  if (!LoadEnvironmentFile(fileName, GameEnvironment)) {
    ResetSettings();
    KeepDamagedEnvironmentFile(fileName);
    return;
  }
  Log("Levels finished: " + std::to_string(GameEnvironment.LevelsFinished), ltInfo);
}

void SaveSettings() {
  if (KeepDamagedEnvironment) {
    Log("Unable to save environment file: the damaged file in its place is kept", ltWarning);
    return;
  }
  const std::string fileName = UserDataDir + kEnvironmentFileName;
  // A snapshot of the record now; the file is written at once, or after the running
  // simulation steps when saves are deferred (see SaveQueue.h).
  auto snapshot = std::make_shared<TGameEnvironment>(GameEnvironment);
  RunOrQueueSave([fileName, snapshot] {
    std::string error;
    if (!SaveEnvironmentFile(fileName, *snapshot, error)) Log("Unable to save environment file: " + error, ltWarning);
  });
}

void ResetSettings() { ResetEnvironment(GameEnvironment); }
void ClearHighscores() { ClearHighscores(GameEnvironment); }
void ResetProgress() { ResetProgress(GameEnvironment); }
