#pragma once
// The settings record and its file env.dat: all per-user state of the program in one
// fixed-layout record of 2,320 bytes, stored enciphered behind the magic "zrc2e".
// The record is read and written field by field; the offsets below are the file format.
// The options dialog and the shell call the operations at the end of this header.
#include <cstdint>
#include <string>
#include <vector>

class TStream;

constexpr int32_t kEnvironmentSize = 2320;
constexpr int32_t kStatLevels = 30;  // levels that keep statistics
constexpr int32_t kHighscoreCount = 10;
constexpr int32_t kEmptyHighscore = -100000;
extern const char* const kEnvironmentKey;  // the cipher key text of env.dat
extern const char* const kEnvironmentFileName;  // "env.dat"
extern const char* const kDamagedSuffix;        // ".damaged": where a damaged env.dat is kept
// A damaged env.dat is kept as env.dat.damaged, then env.dat.damaged.2, ... up to this many
// copies; a kept copy is never overwritten, so once they are all there a newer one is not kept.
constexpr int kDamagedCopies = 5;
// "env.dat.damaged" for n = 1, else "env.dat.damaged." + n.
std::string DamagedCopyName(int n);

// Seven 16-bit counters, one per score kind; 14 bytes on disk.
struct TLevelStats {
  uint16_t Counts[7] = {};
};

struct THighscoreEntry {
  std::string Name;  // string[10]
  int32_t Score = kEmptyHighscore;
};

struct TGameEnvironment {
  int32_t MusicVolume = 0;    // offset 0
  int32_t SoundFXVolume = 0;  // 4
  int32_t AdapterNumber = 0;  // 8
  int32_t DeviceType = 0;     // 12
  uint8_t DisplayMode = 0;    // 16: 0 none, 1 window, 2 full screen x 16, 3 full screen x 32
  uint8_t GraphicsDetail = 0; // 17: 0 min, 1 max
  int32_t SmokeDensity = 0;   // 20: 0 off .. 3 high
  int32_t StartScore = 0;     // 24
  int32_t StartLevel = 0;     // 28
  int32_t StartOptions[2] = {};  // 32
  TLevelStats LevelStats[kStatLevels];  // 40: level n at index n - 1
  int32_t GamesStarted = 0;   // 460
  int32_t LevelsFinished = 0; // 464
  THighscoreEntry Highscores[kHighscoreCount];  // 468: 16 bytes each, best first
  std::string UserID;         // 628 string[32]
  std::string Alias;          // 661 string[15]
  std::string City;           // 677 string[100]
  std::string State;          // 778 string[40]
  uint16_t Country = 0;       // 820: index in Countries, 0 none
  std::string ErrorReportEmail;  // 822 string[100]
  uint8_t Sex = 0;            // 923: 0 none, 1 male, 2 female
  std::string Email;          // 924 string[80]
  int32_t Age = 0;            // 1008
  std::string Comment;        // 1012 string[100]
  TLevelStats BestLevelStats[kStatLevels];  // 1114
  std::string WorldBestFile;  // 1534 string[30]
  std::string HighScoreHost;  // 1565 string[150]
  std::string HighScoreBase;  // 1716 string[150]
  std::string InternalHost;   // 1867 string[150]
  std::string InternalBase;   // 2018 string[150]
  std::string SupportURL;     // 2169 string[150]

  // Statistics of level 1..30; nullptr for any other level number (more levels can be
  // installed than the record keeps statistics for).
  TLevelStats* LevelStatsOf(int32_t level);
  TLevelStats* BestLevelStatsOf(int32_t level);

  // The 2,320-byte image. Strings longer than their field are cut; on reading, each length
  // byte is clamped to its field, and a country number outside the table becomes 0.
  void SaveToBytes(uint8_t out[kEnvironmentSize]) const;
  void LoadFromBytes(const uint8_t in[kEnvironmentSize]);
};

extern TGameEnvironment GameEnvironment;

// The text fields of the record. Every writer stores, and the load keeps, what SettingsText
// gives for the field: the one rule both sides share.
enum class TTextField {
  HighscoreName, UserID, Alias, City, State, ErrorReportEmail, Email, Comment, WorldBestFile,
  HighScoreHost, HighScoreBase, InternalHost, InternalBase, SupportURL
};
// What `field` keeps of `value` (Windows-1252). Text the player types loses the characters the
// field cannot hold (control characters, DEL and the five bytes Windows-1252 leaves undefined;
// the comment keeps its line breaks) and is cut to the field. A server's value is kept when
// it passes its check: whole, or cut to the field where the cut still passes (the ID, the
// world's best file, the support address, a host name without a port; never a port or a base);
// else it gives "".
std::string SettingsText(TTextField field, const std::string& value);
// The same for text as an edit holds it (UTF-8): converted to Windows-1252 first; the C1
// control characters go as the others do.
std::string SettingsTextFromUtf8(TTextField field, const std::string& utf8);
// Typed text that is sent, not stored (the e-mail card): the same characters left out, no cut;
// with `lineBreaks` (the card's message) line breaks and tabs stay.
std::string TypedText(const std::string& utf8, bool lineBreaks);

// Operations of the options dialog on GameEnvironment and UserDataDir + "env.dat".
// LoadSettings: a missing, foreign, short or damaged file gives the defaults and is kept under
// the first free name of DamagedCopyName; fields out of range take their defaults, the file as
// read kept the same way and the mended record saved over it at once. Bytes a kept copy already
// holds are not kept again. Text that only loses characters on loading (SettingsText) is no damage.
void LoadSettings();
// Writes a temporary file beside env.dat and renames it over the old one; a failure is logged
// as a warning and leaves the old file as it was.
void SaveSettings();
void ResetSettings();     // every field to its default, then ClearHighscores
void ClearHighscores();   // ResetProgress, empty highscores, zeroed LevelStats
void ResetProgress();     // StartLevel 1, StartScore 0, StartOptions 0, 0

// The same on any file and record. Load returns false (record untouched) when the file cannot
// be used; Save returns false with the reason in `error`. A record that loads has every field
// checked (CheckEnvironmentRecord); `defaulted` receives the names of the fields that took their
// defaults, `cleaned` those of the text fields that lost characters, `asRead` the file's bytes
// as they were read.
bool LoadEnvironmentFile(const std::string& fileName, TGameEnvironment& env,
                         std::vector<std::string>* defaulted = nullptr, std::string* asRead = nullptr,
                         std::vector<std::string>* cleaned = nullptr);
bool LoadEnvironmentStream(TStream& enciphered, TGameEnvironment& env,
                           std::vector<std::string>* defaulted = nullptr,
                           std::vector<std::string>* cleaned = nullptr);
// Checks every field of `env`, just decoded from the record image `raw`, against what the
// program itself can store there; a field out of range takes its default, the others stay. A
// text field keeps what SettingsText keeps of it (its name goes to `cleaned` when that is less;
// a length byte beyond the field is damage, the text in the field is kept all the same). A
// highscore out of the best-first order is sorted into its place. Returns the names of the
// fields that took their defaults.
std::vector<std::string> CheckEnvironmentRecord(const uint8_t raw[kEnvironmentSize], TGameEnvironment& env,
                                                std::vector<std::string>* cleaned = nullptr);
bool SaveEnvironmentFile(const std::string& fileName, const TGameEnvironment& env, std::string& error);
void ResetEnvironment(TGameEnvironment& env);
void ClearHighscores(TGameEnvironment& env);
void ResetProgress(TGameEnvironment& env);
