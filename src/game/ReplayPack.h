#pragma once
// Replay packs (*.gmp): one enciphered file holding one recorded level per level number, level n
// at index n - 1. Plain content: "zrc2p", u32 N, then per level i = 1..N: int32 i, int32 size S,
// S bytes of the level record (TReplayLevelRecord). Packs are untrusted (the world's best comes
// from the server): counts and sizes are checked against the bytes that remain, and any fault
// reads as an empty pack.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "game/KTInput.h"

class TStream;
class TMemoryStream;

KT_DECLARE_EXCEPTION(EReplayError, Exception)

extern const char* const kReplayPackKey;  // the cipher key text of the packs
extern const char* const kLastReplayName;       // "last.gmp"
extern const char* const kMyBestReplayName;     // "mybest.gmp"
extern const char* const kWorldBestReplayName;  // "worldbest.gmp"
extern const char* const kDemoReplayName;       // "demo.gmp", a "LVL" resource

// No game makes a pack this large (a level's input is at most a few hundred KB); a larger file
// reads as damaged without being read whole.
constexpr std::size_t kMaxReplayPackBytes = 64u << 20;

// Replay modes of the game logic.
enum : int32_t { rmNone = 0, rmLastGame = 1, rmDemo = 2, rmWorldBest = 3 };

// One recorded level: "zrc2r", then int32 GameTime (ms at the level's end), RandomSeed (at the
// level's start), LevelNumber, StartScore, StartOptions[0], StartOptions[1], then the input.
struct TReplayLevelRecord {
  int32_t GameTime = 0;
  int32_t RandomSeed = 0;
  int32_t LevelNumber = 0;
  int32_t StartScore = 0;
  int32_t StartOptions[2] = {};
  TKTInput Input;

  void WriteToStream(TStream& stream) const;
  // A wrong magic is logged and raised as "Invalid recorded game data file"; a short record
  // raises the stream's read error.
  void ReadFromStream(TStream& stream);
};

class TReplayPack {
public:
  // Reads the file when it exists, else starts empty; saving goes to this file.
  explicit TReplayPack(const std::string& fileName);
  // Reads a stream (nullptr: empty); such a pack has no file.
  explicit TReplayPack(TStream* stream);

  // Any failure leaves the pack empty, silently.
  void LoadFromStream(TStream* stream);
  int32_t Count() const { return static_cast<int32_t>(Levels.size()); }
  const std::string& FileName() const { return FFileName; }
  // Copies record `level` (1..Count) into dest and rewinds dest; else "Level doesn't exist in
  // file".
  void GetLevelReplay(TStream& dest, int32_t level) const;
  // Stores the level's record, written by writeRecord, as record levelNumber, dropping every
  // later level, and saves the file. Raises "Invalid level id" unless 1 <= levelNumber <=
  // Count + 1, "Error adding replay" when writing the record fails (both leave the file as it
  // was), and "Error saving replay file" when the file cannot be saved.
  void AddReplay(int32_t levelNumber, const std::function<void(TStream&)>& writeRecord);
  // Writes the file through a temporary file renamed over the old one: a failed save leaves the
  // old file intact. Raises "Error saving replay file".
  void SaveToFile() const;
  std::string PlainContent() const;  // the unenciphered file content

private:
  std::string FFileName;
  std::vector<std::unique_ptr<TMemoryStream>> Levels;
};

// What a pack from outside (the world's best) must be before it is kept or played: every record
// a level record in its place (record i is level i) with input in it, sizes and counts that agree
// with the bytes, no byte left over, and no level the program does not have.
enum class TReplayPackCheck { Playable, LevelsMissing, Invalid };
struct TReplayPackVerdict {
  TReplayPackCheck Check = TReplayPackCheck::Invalid;
  int32_t Levels = 0;  // the record count (when the records are sound)
  std::string Fault;   // why it cannot be played, for the trace log; "" when Playable
};
// `fileBytes` is the enciphered file; `levelsPresent` the levels the program has (CountUserLevels).
TReplayPackVerdict CheckReplayPackBytes(const std::string& fileBytes, int32_t levelsPresent);
// The same for a file, read without following a link; a missing file is Invalid.
TReplayPackVerdict CheckReplayPackFile(const std::string& fileName, int32_t levelsPresent);

// Copies the pack `from` over `to` ("last.gmp" over "mybest.gmp") through a temporary file and a
// rename, as a save (see SaveQueue.h). When the copy fails, the warning "Error copying my best
// replay file" is logged and `to` no longer counts as the best game: it holds the game of an
// older score. It is moved aside to BestReplayAsideName(to), replacing an older one there, or
// deleted where that fails; where it cannot be removed either (a read-only folder) it stays, and
// BestReplayMissing tells the publication not to send it.
void CopyBestReplay(const std::string& from, const std::string& to);
// "mybest.old.gmp" beside "mybest.gmp": the best game of an older score, kept for the player.
std::string BestReplayAsideName(const std::string& to);
extern const char* const kOlderBestReplayName;  // "mybest.old.gmp"
// True when this run's last copy to `to` failed: whatever is there is not the best game (and
// for a pack written by AddReplay, when its last AddReplay failed: it holds another game). A
// restart cannot meet such a file with a newer score: the folder that refused to move or delete
// it refused the save of the settings with that score too.
bool BestReplayMissing(const std::string& to);
// What a new run knows: no failed copy.
void ForgetBestReplayFailures();

// The record that a replay in `mode` plays next, copied into `record` (rewound):
// last game: the pack's last level; demo: level nextReplayLevel (1 when 0) of the demo resource;
// world's best: level nextReplayLevel (replayLevel, or 1, when 0). Afterwards nextReplayLevel is
// the level to play after this one, or 0 for none. Raises on a missing level, and on a world's
// best pack that CheckReplayPackFile does not find playable.
void OpenReplayRecord(int32_t mode, int32_t& nextReplayLevel, int32_t replayLevel, TMemoryStream& record);
