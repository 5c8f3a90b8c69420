#include "game/Options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "base/Win1252.h"
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

enum class TTextKind { Typed, Comment, ID, ServerFile, Host, Base, SupportURL };
struct TTextRule {
  TTextKind Kind;
  size_t Capacity;
};

TTextRule RuleOf(TTextField field) {
  using F = TTextField;
  using K = TTextKind;
  switch (field) {
    case F::HighscoreName: return {K::Typed, 10};
    case F::UserID: return {K::ID, 32};
    case F::Alias: return {K::Typed, 15};
    case F::City: return {K::Typed, 100};
    case F::State: return {K::Typed, 40};
    case F::ErrorReportEmail: return {K::Typed, 100};
    case F::Email: return {K::Typed, 80};
    case F::Comment: return {K::Comment, 100};
    case F::WorldBestFile: return {K::ServerFile, 30};
    case F::HighScoreHost:
    case F::InternalHost: return {K::Host, 150};
    case F::HighScoreBase:
    case F::InternalBase: return {K::Base, 150};
    case F::SupportURL: break;
  }
  return {K::SupportURL, 150};
}

// Which control characters typed text keeps: none (one-line fields), line breaks (the highscore
// comment) or line breaks and tabs (the e-mail card's message).
enum class TKeptControls { None, LineBreaks, LineBreaksAndTabs };

// A character of text the player typed, in Windows-1252: no control character beyond the kept
// ones and none of the five bytes the code page leaves undefined.
bool IsTypedChar(unsigned char c, TKeptControls kept) {
  if (kept != TKeptControls::None && (c == '\r' || c == '\n')) return true;
  if (kept == TKeptControls::LineBreaksAndTabs && c == '\t') return true;
  return !(c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D);
}

// The characters of `s` that typed text can hold, at most `capacity` of them.
std::string KeepTypedChars(const std::string& s, TKeptControls kept, size_t capacity) {
  std::string out;
  for (char ch : s) {
    if (out.size() >= capacity) break;
    if (IsTypedChar(static_cast<unsigned char>(ch), kept)) out += ch;
  }
  return out;
}

// U+0080..U+009F are control characters; the conversion would give them bytes of their own.
std::string Utf8ToWindows1252(const std::string& utf8) {
  std::string text;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
    if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      ++i;
      continue;
    }
    text += utf8[i];
  }
  return Utf8ToCp1252(text);
}

bool IsTypedKind(TTextKind kind) { return kind == TTextKind::Typed || kind == TTextKind::Comment; }

std::string Empty() { return {}; }
std::string BuiltInHighScoreHost() { return SettingsText(TTextField::HighScoreHost, DefaultHighScoreHost()); }
std::string BuiltInInternalHost() { return SettingsText(TTextField::InternalHost, DefaultInternalHost()); }
std::string BuiltInSupportURL() { return SettingsText(TTextField::SupportURL, DefaultSupportURL()); }

struct TStringField {
  const char* Name;
  int Offset;
  TTextField Text;
  std::string TGameEnvironment::*Field;
  std::string (*Default)();
};

// The server addresses fall back to the built-in ones, as when the hosts list cannot be fetched.
const TStringField kStringFields[] = {
    {"UserID", 628, TTextField::UserID, &TGameEnvironment::UserID, Empty},
    {"Alias", 661, TTextField::Alias, &TGameEnvironment::Alias, Empty},
    {"City", 677, TTextField::City, &TGameEnvironment::City, Empty},
    {"State", 778, TTextField::State, &TGameEnvironment::State, Empty},
    {"ErrorReportEmail", 822, TTextField::ErrorReportEmail, &TGameEnvironment::ErrorReportEmail, Empty},
    {"Email", 924, TTextField::Email, &TGameEnvironment::Email, Empty},
    {"Comment", 1012, TTextField::Comment, &TGameEnvironment::Comment, Empty},
    {"WorldBestFile", 1534, TTextField::WorldBestFile, &TGameEnvironment::WorldBestFile, Empty},
    {"HighScoreHost", 1565, TTextField::HighScoreHost, &TGameEnvironment::HighScoreHost, BuiltInHighScoreHost},
    {"HighScoreBase", 1716, TTextField::HighScoreBase, &TGameEnvironment::HighScoreBase, DefaultHighScoreBase},
    {"InternalHost", 1867, TTextField::InternalHost, &TGameEnvironment::InternalHost, BuiltInInternalHost},
    {"InternalBase", 2018, TTextField::InternalBase, &TGameEnvironment::InternalBase, DefaultInternalBase},
    {"SupportURL", 2169, TTextField::SupportURL, &TGameEnvironment::SupportURL, BuiltInSupportURL},
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

std::string SettingsText(TTextField field, const std::string& value) {
  const TTextRule rule = RuleOf(field);
  const std::string cut = value.substr(0, rule.Capacity);
  switch (rule.Kind) {
    case TTextKind::Typed:
    case TTextKind::Comment:
      return KeepTypedChars(value, rule.Kind == TTextKind::Comment ? TKeptControls::LineBreaks : TKeptControls::None,
                            rule.Capacity);
    case TTextKind::ID: return IsUserIDValue(cut) ? cut : std::string();
    case TTextKind::ServerFile: return IsUploadFileName(cut) ? cut : std::string();
    // A long host name is cut as the hosts list's values are; a port never is (the cut would leave
    // a bare ':' or half a port). A cut base would lack its final '/'.
    case TTextKind::Host:
      if (value.size() <= rule.Capacity) return IsHostValue(value) ? value : std::string();
      return value.find(':') == std::string::npos && IsHostValue(cut) ? cut : std::string();
    case TTextKind::Base: return value.size() <= rule.Capacity && IsBaseValue(value) ? value : std::string();
    case TTextKind::SupportURL: break;
  }
  return IsSupportURLValue(cut) ? cut : std::string();
}

std::string SettingsTextFromUtf8(TTextField field, const std::string& utf8) {
  return SettingsText(field, Utf8ToWindows1252(utf8));
}

std::string TypedText(const std::string& utf8, bool lineBreaks) {
  return KeepTypedChars(Utf8ToWindows1252(utf8), lineBreaks ? TKeptControls::LineBreaksAndTabs : TKeptControls::None,
                        std::string::npos);
}

std::vector<std::string> CheckEnvironmentRecord(const uint8_t raw[kEnvironmentSize], TGameEnvironment& env,
                                                std::vector<std::string>* cleaned) {
  TGameEnvironment d;
  ResetEnvironment(d);
  std::vector<std::string> defaulted;
  auto check = [&defaulted](const std::string& name, bool ok, auto& field, const auto& def) {
    if (ok) return;
    field = def;
    defaulted.push_back(name);
  };
  auto within = [](int64_t v, int64_t lo, int64_t hi) { return v >= lo && v <= hi; };
  // Typed text keeps what the rule keeps of it: characters it cannot hold are left out, which is
  // no damage. A length byte beyond the field the program never writes: that is damage, but the
  // text in the field is kept.
  auto typed = [&](const std::string& name, int offset, TTextField field, std::string& value) {
    const bool overLength = raw[offset] > RuleOf(field).Capacity;
    std::string kept = SettingsText(field, value);
    if (kept != value && !overLength && cleaned) cleaned->push_back(name);
    value = std::move(kept);
    if (overLength) defaulted.push_back(name);
  };

  check("MusicVolume", within(env.MusicVolume, 0, kVolumeMax), env.MusicVolume, d.MusicVolume);
  check("SoundFXVolume", within(env.SoundFXVolume, 0, kVolumeMax), env.SoundFXVolume, d.SoundFXVolume);
  check("AdapterNumber", within(env.AdapterNumber, 0, kMaxAdapters - 1), env.AdapterNumber, d.AdapterNumber);
  // The options dialog lists hardware devices only; no other device type can be chosen.
  check("DeviceType", env.DeviceType == int32_t(D3DDEVTYPE_HAL), env.DeviceType, d.DeviceType);
  // 0 (none) is stored when the device cannot do the chosen mode.
  check("DisplayMode", within(env.DisplayMode, dmNone, dmFullscreen32), env.DisplayMode, d.DisplayMode);
  check("GraphicsDetail", within(env.GraphicsDetail, 0, kGraphicsDetailMax), env.GraphicsDetail, d.GraphicsDetail);
  check("SmokeDensity", within(env.SmokeDensity, 0, kSmokeDensityMax), env.SmokeDensity, d.SmokeDensity);
  // Scores only grow from their start; counts only from zero. A start level beyond the levels
  // there are stays: a download can bring its level back, and the game lowers it until then.
  check("StartScore", env.StartScore >= 0, env.StartScore, d.StartScore);
  check("StartLevel", env.StartLevel >= 1, env.StartLevel, d.StartLevel);
  for (int i = 0; i < 2; ++i)
    check("StartOptions[" + std::to_string(i) + "]", env.StartOptions[i] >= 0, env.StartOptions[i], d.StartOptions[i]);
  check("GamesStarted", env.GamesStarted >= 0, env.GamesStarted, d.GamesStarted);
  check("LevelsFinished", env.LevelsFinished >= 0, env.LevelsFinished, d.LevelsFinished);

  // A highscore's name comes from the alias; its score is never negative, and an empty entry
  // has no name. A score out of range takes the entry.
  for (int i = 0; i < kHighscoreCount; ++i) {
    THighscoreEntry& h = env.Highscores[i];
    const std::string entry = "Highscores[" + std::to_string(i) + "]";
    typed(entry + ".Name", 468 + 16 * i, TTextField::HighscoreName, h.Name);
    const bool empty = h.Score == kEmptyHighscore && h.Name.empty();
    check(entry + ".Score", empty || h.Score >= 0, h, THighscoreEntry{});
  }
  if (OrderHighscores(env.Highscores)) defaulted.push_back("Highscores order");

  // The server's values are whole or not at all: one that the rule does not keep as it stands
  // takes its default (the empty value included: nothing handed out or fetched yet).
  for (const TStringField& f : kStringFields) {
    std::string& value = env.*f.Field;
    if (IsTypedKind(RuleOf(f.Text).Kind)) {
      typed(f.Name, f.Offset, f.Text, value);
      continue;
    }
    const bool kept = raw[f.Offset] <= RuleOf(f.Text).Capacity && SettingsText(f.Text, value) == value;
    check(f.Name, kept, value, f.Default());
  }
  // The decoder already gives 0 for a country beyond the table.
  check("Country", Get16(raw, 820) < Countries.size(), env.Country, d.Country);
  check("Sex", env.Sex <= 2, env.Sex, d.Sex);
  // LevelStats and BestLevelStats are 16-bit counters that wrap; every value is one. Age is
  // whatever the player typed.
  return defaulted;
}

bool LoadEnvironmentStream(TStream& source, TGameEnvironment& env, std::vector<std::string>* defaulted,
                           std::vector<std::string>* cleaned) {
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
    std::vector<std::string> lostCharacters;
    std::vector<std::string> reset = CheckEnvironmentRecord(raw, loaded, &lostCharacters);
    env = std::move(loaded);
    if (defaulted) *defaulted = std::move(reset);
    if (cleaned) *cleaned = std::move(lostCharacters);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool LoadEnvironmentFile(const std::string& fileName, TGameEnvironment& env, std::vector<std::string>* defaulted,
                         std::string* asRead, std::vector<std::string>* cleaned) {
  // Read whole in one call, never more than the record needs: a huge file costs nothing.
  std::string bytes;
  if (!ReadFileBytes(fileName, bytes, 4096)) return false;
  TReadOnlyMemoryStream file(bytes.data(), bytes.size());
  const bool loaded = LoadEnvironmentStream(file, env, defaulted, cleaned);
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

std::string DamagedCopyName(int n) {
  return std::string(kEnvironmentFileName) + kDamagedSuffix + (n > 1 ? "." + std::to_string(n) : std::string());
}

namespace {
// Set when a damaged env.dat could not be kept: the defaults are then never saved over it.
bool KeepDamagedEnvironment = false;

// Where a damaged env.dat goes: the first free copy's name, never one that is there (whatever
// it is), so the copies of earlier damage stay. `put` moves or writes the file under a new name
// and fails with EEXIST when the name is taken. Returns the name used; "" with errno EEXIST when
// all the copies are there.
template <typename Put>
std::string KeepUnderFreeName(const std::string& dir, Put put) {
  for (int n = 1; n <= kDamagedCopies; ++n) {
    const std::string name = dir + DamagedCopyName(n);
    if (put(name)) return name;
    if (errno != EEXIST) return {};
  }
  errno = EEXIST;
  return {};
}

// What the log says when the copy could not be made. With every copy there already, the older
// copies are kept and this file is not; the settings are saved over it as usual.
void LogCopyNotKept(const std::string& why) {
  if (errno == EEXIST) {
    Log("Damaged environment file not kept: the " + std::to_string(kDamagedCopies) + " copies " + DamagedCopyName(1) +
            " to " + DamagedCopyName(kDamagedCopies) + " of earlier damage are kept instead; " + why,
        ltWarning);
    return;
  }
  KeepDamagedEnvironment = true;
  Log("Damaged environment file could not be kept (" + std::string(std::strerror(errno)) + "); " + why +
          "; the settings are not saved over it",
      ltWarning);
}

// The kept copy that holds these very bytes, or "": the same damage is kept once, however often
// a start meets it.
std::string KeptCopyOf(const std::string& dir, const std::string& bytes) {
  for (int n = 1; n <= kDamagedCopies; ++n) {
    std::string kept;
    if (ReadFileBytes(dir + DamagedCopyName(n), kept, bytes.size() + 1) && kept == bytes) return DamagedCopyName(n);
  }
  return {};
}

// Writes `bytes` into a new file of that name, flushed; nothing under the name on failure.
bool WriteNewFile(const std::string& fileName, const std::string& bytes) {
  const int fd = CreateNewFile(fileName, O_WRONLY);
  if (fd < 0) return false;
  bool ok = true;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    const int e = errno;
    DeleteFile(fileName);
    errno = e;
  }
  return ok;
}

// A file that is there but does not load holds the player's highscores and progress in some
// form: it is moved aside under a copy's name before the defaults take over.
void KeepDamagedEnvironmentFile(const std::string& fileName, const std::string& asRead) {
  struct stat st {};
  // A symbolic link goes aside too (the link itself, never what it leads to; it is never read).
  if (::lstat(fileName.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) return;
  const std::string dir = ExtractFilePath(fileName);
  if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) == asRead.size()) {
    const std::string same = KeptCopyOf(dir, asRead);
    if (!same.empty() && DeleteFile(fileName)) {
      Log("Damaged environment file removed: it is kept as " + same + " already; the settings start from the defaults",
          ltWarning);
      return;
    }
  }
  const std::string kept = KeepUnderFreeName(dir, [&](const std::string& name) { return RenameNoReplace(fileName, name); });
  if (!kept.empty()) {
    Log("Damaged environment file kept as " + ExtractFileName(kept) + "; the settings start from the defaults",
        ltWarning);
    return;
  }
  LogCopyNotKept("the settings start from the defaults");
}

// A record with fields out of range loads with their defaults; the file as read is kept beside
// under a copy's name (once: not when a kept copy holds the same bytes). True when the mended
// record may be saved over it now.
bool KeepCopyOfDamagedEnvironment(const std::string& fileName, const std::string& asRead,
                                  const std::vector<std::string>& defaulted) {
  std::string fields;
  for (const std::string& f : defaulted) fields += (fields.empty() ? "" : ", ") + f;
  const std::string why = "out of range, these took their defaults or lost what their field cannot hold: " + fields;
  const std::string dir = ExtractFilePath(fileName);
  const std::string same = KeptCopyOf(dir, asRead);
  if (!same.empty()) {
    Log("Damaged environment file kept as " + same + " already; " + why, ltWarning);
    return true;
  }
  // Written whole under one temporary name the start-up sweep knows, then given the copy's name
  // without replacing.
  const std::string tmp = dir + DamagedCopyName(1) + ".tmp" + std::to_string(::getpid());
  std::string kept;
  if (WriteNewFile(tmp, asRead)) {
    kept = KeepUnderFreeName(dir, [&](const std::string& name) { return RenameNoReplace(tmp, name); });
    const int e = errno;
    if (kept.empty()) DeleteFile(tmp);
    errno = e;
  }
  if (!kept.empty()) {
    Log("Damaged environment file kept as " + ExtractFileName(kept) + "; " + why, ltWarning);
    return true;
  }
  LogCopyNotKept(why);
  return !KeepDamagedEnvironment;
}

// Characters a text field cannot hold came with the file (written before the rule, or pasted
// in): the field keeps the rest. Worth a line, not a copy of the file.
void LogCleanedText(const std::vector<std::string>& cleaned) {
  std::string fields;
  for (const std::string& f : cleaned) fields += (fields.empty() ? "" : ", ") + f;
  Log("Characters these settings cannot hold were left out: " + fields, ltInfo);
}
}  // namespace

void LoadSettings() {
  const std::string fileName = UserDataDir + kEnvironmentFileName;
  KeepDamagedEnvironment = false;
  std::vector<std::string> defaulted, cleaned;
  std::string asRead;
  if (!LoadEnvironmentFile(fileName, GameEnvironment, &defaulted, &asRead, &cleaned)) {
    ResetSettings();
    KeepDamagedEnvironmentFile(fileName, asRead);
    return;
  }
  if (!cleaned.empty()) LogCleanedText(cleaned);
  Log("Levels finished: " + std::to_string(GameEnvironment.LevelsFinished), ltInfo);
  // The mended record goes over the damaged file at once: a start that ends before any save
  // (a kill, a crash) must not meet the same damage again.
  if (!defaulted.empty() && KeepCopyOfDamagedEnvironment(fileName, asRead, defaulted)) SaveSettings();
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
