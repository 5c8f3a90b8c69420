#include "game/Options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/OptionsDialog.h"
#include "game/SaveQueue.h"
#include "game/ServerReplies.h"
#include "game/UserFiles.h"

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

namespace {

// No machine offers this many display adapters; a larger ordinal is a damaged record.
constexpr int32_t kMaxAdapters = 16;

// Text the player typed, in Windows-1252: no control characters and none of the five bytes the
// code page leaves undefined. The comment may hold line breaks and tabs.
bool IsTypedText(const std::string& s, bool lineBreaks) {
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (lineBreaks && (c == '\t' || c == '\r' || c == '\n')) continue;
    if (c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) return false;
  }
  return true;
}
bool IsPlainText(const std::string& s) { return IsTypedText(s, false); }
bool IsCommentText(const std::string& s) { return IsTypedText(s, true); }
// The server's values may also be empty: nothing was handed out or fetched yet.
bool IsUserIDOrEmpty(const std::string& s) { return s.empty() || IsUserIDValue(s); }
bool IsWorldBestFileOrEmpty(const std::string& s) { return s.empty() || IsUploadFileName(s); }
bool IsHostOrEmpty(const std::string& s) { return s.empty() || IsHostValue(s); }
bool IsBaseOrEmpty(const std::string& s) { return s.empty() || IsBaseValue(s); }
bool IsSupportURLOrEmpty(const std::string& s) { return s.empty() || IsSupportURLValue(s); }

struct TStringField {
  const char* Name;
  int Offset;
  int Capacity;
  std::string TGameEnvironment::*Field;
  bool (*Valid)(const std::string&);
  std::string (*Default)();
};

std::string Empty() { return {}; }
std::string BuiltInHighScoreHost() { return DefaultHighScoreHost().substr(0, 150); }
std::string BuiltInInternalHost() { return DefaultInternalHost().substr(0, 150); }
std::string BuiltInSupportURL() { return DefaultSupportURL().substr(0, 150); }

// The server addresses fall back to the built-in ones, as when the hosts list cannot be fetched.
const TStringField kStringFields[] = {
    {"UserID", 628, 32, &TGameEnvironment::UserID, IsUserIDOrEmpty, Empty},
    {"Alias", 661, 15, &TGameEnvironment::Alias, IsPlainText, Empty},
    {"City", 677, 100, &TGameEnvironment::City, IsPlainText, Empty},
    {"State", 778, 40, &TGameEnvironment::State, IsPlainText, Empty},
    {"ErrorReportEmail", 822, 100, &TGameEnvironment::ErrorReportEmail, IsPlainText, Empty},
    {"Email", 924, 80, &TGameEnvironment::Email, IsPlainText, Empty},
    {"Comment", 1012, 100, &TGameEnvironment::Comment, IsCommentText, Empty},
    {"WorldBestFile", 1534, 30, &TGameEnvironment::WorldBestFile, IsWorldBestFileOrEmpty, Empty},
    {"HighScoreHost", 1565, 150, &TGameEnvironment::HighScoreHost, IsHostOrEmpty, BuiltInHighScoreHost},
    {"HighScoreBase", 1716, 150, &TGameEnvironment::HighScoreBase, IsBaseOrEmpty, DefaultHighScoreBase},
    {"InternalHost", 1867, 150, &TGameEnvironment::InternalHost, IsHostOrEmpty, BuiltInInternalHost},
    {"InternalBase", 2018, 150, &TGameEnvironment::InternalBase, IsBaseOrEmpty, DefaultInternalBase},
    {"SupportURL", 2169, 150, &TGameEnvironment::SupportURL, IsSupportURLOrEmpty, BuiltInSupportURL},
};

// The highscores as the game keeps them, best first and the empty entries last (the insertion
// relies on it). Sorting loses no entry: of two entries out of order neither is known to be the
// damaged one. True when an entry moved.
bool OrderHighscores(THighscoreEntry (&hs)[kHighscoreCount]) {
  auto better = [](const THighscoreEntry& a, const THighscoreEntry& b) { return a.Score > b.Score; };
  if (std::is_sorted(std::begin(hs), std::end(hs), better)) return false;
  std::stable_sort(std::begin(hs), std::end(hs), better);
  return true;
}

}  // namespace

std::vector<std::string> CheckEnvironmentRecord(const uint8_t raw[kEnvironmentSize], TGameEnvironment& env) {
  TGameEnvironment d;
  ResetEnvironment(d);
  std::vector<std::string> defaulted;
  auto check = [&defaulted](const std::string& name, bool ok, auto& field, const auto& def) {
    if (ok) return;
    field = def;
    defaulted.push_back(name);
  };
  auto within = [](int64_t v, int64_t lo, int64_t hi) { return v >= lo && v <= hi; };

  check("MusicVolume", within(env.MusicVolume, 0, kVolumeMax), env.MusicVolume, d.MusicVolume);
  check("SoundFXVolume", within(env.SoundFXVolume, 0, kVolumeMax), env.SoundFXVolume, d.SoundFXVolume);
  check("AdapterNumber", within(env.AdapterNumber, 0, kMaxAdapters - 1), env.AdapterNumber, d.AdapterNumber);
  // The options dialog lists hardware devices only; no other device type can be chosen.
  check("DeviceType", env.DeviceType == int32_t(D3DDEVTYPE_HAL), env.DeviceType, d.DeviceType);
  // 0 (none) is stored when the device cannot do the chosen mode.
  check("DisplayMode", within(env.DisplayMode, dmNone, dmFullscreen32), env.DisplayMode, d.DisplayMode);
  check("GraphicsDetail", within(env.GraphicsDetail, 0, kGraphicsDetailMax), env.GraphicsDetail, d.GraphicsDetail);
  check("SmokeDensity", within(env.SmokeDensity, 0, kSmokeDensityMax), env.SmokeDensity, d.SmokeDensity);
  // Scores only grow from their start; counts only from zero.
  check("StartScore", env.StartScore >= 0, env.StartScore, d.StartScore);
  check("StartLevel", within(env.StartLevel, 1, CountUserLevels()), env.StartLevel, d.StartLevel);
  for (int i = 0; i < 2; ++i)
    check("StartOptions[" + std::to_string(i) + "]", env.StartOptions[i] >= 0, env.StartOptions[i], d.StartOptions[i]);
  check("GamesStarted", env.GamesStarted >= 0, env.GamesStarted, d.GamesStarted);
  check("LevelsFinished", env.LevelsFinished >= 0, env.LevelsFinished, d.LevelsFinished);

  // A highscore's name comes from the alias; its score is never negative, and an empty entry
  // has no name. A name out of range goes alone; a score out of range takes the entry.
  for (int i = 0; i < kHighscoreCount; ++i) {
    THighscoreEntry& h = env.Highscores[i];
    const std::string entry = "Highscores[" + std::to_string(i) + "]";
    check(entry + ".Name", raw[468 + 16 * i] <= 10 && IsPlainText(h.Name), h.Name, std::string());
    const bool empty = h.Score == kEmptyHighscore && h.Name.empty();
    check(entry + ".Score", empty || h.Score >= 0, h, THighscoreEntry{});
  }
  if (OrderHighscores(env.Highscores)) defaulted.push_back("Highscores order");

  for (const TStringField& f : kStringFields) {
    std::string& value = env.*f.Field;
    check(f.Name, raw[f.Offset] <= f.Capacity && f.Valid(value), value, f.Default());
  }
  // The decoder already gives 0 for a country beyond the table.
  check("Country", Get16(raw, 820) < Countries.size(), env.Country, d.Country);
  check("Sex", env.Sex <= 2, env.Sex, d.Sex);
  // LevelStats and BestLevelStats are 16-bit counters that wrap; every value is one. Age is
  // whatever the player typed.
  return defaulted;
}

bool LoadEnvironmentStream(TStream& source, TGameEnvironment& env, std::vector<std::string>* defaulted) {
  try {
    // The plain content is 2,325 bytes; more is never needed.
    std::string plain = DecipherStream(kEnvironmentKey, source, kMagicSize + kEnvironmentSize);
    if (plain.size() < static_cast<size_t>(kMagicSize) || plain.compare(0, kMagicSize, kMagic) != 0)
      return false;
    if (plain.size() < static_cast<size_t>(kMagicSize + kEnvironmentSize))
      throw EReadError("Size of environment file different from structure");
    // Decode into a fresh record so that a failure leaves nothing half-filled.
    const auto* raw = reinterpret_cast<const uint8_t*>(plain.data()) + kMagicSize;
    TGameEnvironment loaded;
    loaded.LoadFromBytes(raw);
    std::vector<std::string> reset = CheckEnvironmentRecord(raw, loaded);
    env = std::move(loaded);
    if (defaulted) *defaulted = std::move(reset);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool LoadEnvironmentFile(const std::string& fileName, TGameEnvironment& env, std::vector<std::string>* defaulted,
                         std::string* asRead) {
  // Read whole in one call, never more than the record needs: a huge file costs nothing.
  std::string bytes;
  if (!ReadFileBytes(fileName, bytes, 4096)) return false;
  TReadOnlyMemoryStream file(bytes.data(), bytes.size());
  const bool loaded = LoadEnvironmentStream(file, env, defaulted);
  if (asRead) *asRead = std::move(bytes);
  return loaded;
}

bool SaveEnvironmentFile(const std::string& fileName, const TGameEnvironment& env, std::string& error) {
  try {
    std::string plain(kMagic, kMagicSize);
    plain.resize(kMagicSize + kEnvironmentSize);
    env.SaveToBytes(reinterpret_cast<uint8_t*>(plain.data()) + kMagicSize);
    std::string cipher = EncipherBytes(kEnvironmentKey, plain);
    if (!SaveUserFile(fileName, cipher)) {
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

// A record with fields out of range loads with their defaults; the file as read is kept beside
// as env.dat.damaged (one copy, the newest), since the next save replaces env.dat.
void KeepCopyOfDamagedEnvironment(const std::string& fileName, const std::string& asRead,
                                  const std::vector<std::string>& defaulted) {
  std::string fields;
  for (const std::string& f : defaulted) fields += (fields.empty() ? "" : ", ") + f;
  const std::string kept = fileName + kDamagedSuffix;
  if (SaveFileAtomically(kept, asRead)) {
    Log("Damaged environment file kept as " + ExtractFileName(kept) + "; out of range, these took their defaults: " +
            fields,
        ltWarning);
    return;
  }
  KeepDamagedEnvironment = true;
  Log("Damaged environment file could not be kept (" + std::string(std::strerror(errno)) +
          "); out of range, these took their defaults: " + fields + "; the settings are not saved over it",
      ltWarning);
}
}  // namespace

void LoadSettings() {
  const std::string fileName = UserDataDir + kEnvironmentFileName;
  KeepDamagedEnvironment = false;
  std::vector<std::string> defaulted;
  std::string asRead;
  if (!LoadEnvironmentFile(fileName, GameEnvironment, &defaulted, &asRead)) {
    ResetSettings();
    KeepDamagedEnvironmentFile(fileName);
    return;
  }
  if (!defaulted.empty()) KeepCopyOfDamagedEnvironment(fileName, asRead, defaulted);
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
