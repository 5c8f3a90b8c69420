#include "game/ReplayPack.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/SaveQueue.h"
#include "game/UserFiles.h"

const char* const kReplayPackKey = "MORVANTqelx4ubr8p2hwRKDe!71c&jzq#mvt%3kbo5j~vpe+ucr=9t645";
const char* const kLastReplayName = "last.gmp";
const char* const kMyBestReplayName = "mybest.gmp";
const char* const kWorldBestReplayName = "worldbest.gmp";
const char* const kDemoReplayName = "demo.gmp";
const char* const kOlderBestReplayName = "mybest.old.gmp";

namespace {
constexpr char kPackMagic[] = "zrc2p";
constexpr char kRecordMagic[] = "zrc2r";
}  // namespace

void TReplayLevelRecord::WriteToStream(TStream& s) const {
  s.WriteBuffer(kRecordMagic, 5);
  s.WriteI32(GameTime);
  s.WriteI32(RandomSeed);
  s.WriteI32(LevelNumber);
  s.WriteI32(StartScore);
  s.WriteI32(StartOptions[0]);
  s.WriteI32(StartOptions[1]);
  Input.SaveToStream(s);
}

void TReplayLevelRecord::ReadFromStream(TStream& s) {
  char magic[5];
  s.ReadBuffer(magic, 5);
  if (std::memcmp(magic, kRecordMagic, 5) != 0) {
    Log("Invalid recorded game data file", ltError);
    throw EReplayError("Invalid recorded game data file");
  }
  GameTime = s.ReadI32();
  RandomSeed = s.ReadI32();
  LevelNumber = s.ReadI32();
  StartScore = s.ReadI32();
  StartOptions[0] = s.ReadI32();
  StartOptions[1] = s.ReadI32();
  Input.LoadFromStream(s);
}

TReplayPack::TReplayPack(const std::string& fileName) : FFileName(fileName) {
  // The whole file in one read (no regular file or none: an empty pack); a pack larger than
  // any game makes reads as damaged without being read whole.
  std::string bytes;
  if (!ReadFileBytes(fileName, bytes, kMaxReplayPackBytes + 1) || bytes.size() > kMaxReplayPackBytes) return;
  TReadOnlyMemoryStream file(bytes.data(), bytes.size());
  LoadFromStream(&file);
}

TReplayPack::TReplayPack(TStream* stream) { LoadFromStream(stream); }

void TReplayPack::LoadFromStream(TStream* stream) {
  Levels.clear();
  if (!stream) return;
  try {
    std::string plain = DecipherStream(kReplayPackKey, *stream);
    TReadOnlyMemoryStream s(plain.data(), plain.size());
    char magic[5];
    if (s.Read(magic, 5) != 5 || std::memcmp(magic, kPackMagic, 5) != 0) return;
    uint32_t n = s.ReadU32();
    if (static_cast<int64_t>(n) * 8 > s.Remaining()) throw EReadError("Stream read error");
    for (uint32_t i = 1; i <= n; ++i) {
      if (s.ReadI32() != static_cast<int32_t>(i)) throw EReadError("Stream read error");
      int32_t size = s.ReadI32();
      if (size < 0 || size > s.Remaining()) throw EReadError("Stream read error");
      auto level = std::make_unique<TMemoryStream>();
      if (size > 0) level->CopyFrom(s, size);  // CopyFrom(s, 0) would copy the whole stream
      Levels.push_back(std::move(level));
    }
  } catch (const std::exception&) {
    Levels.clear();  // a damaged or foreign pack reads as empty
  }
}

void TReplayPack::GetLevelReplay(TStream& dest, int32_t level) const {
  if (level < 1 || level > Count()) throw EReplayError("Level doesn't exist in file");
  TMemoryStream& src = *Levels[static_cast<size_t>(level - 1)];
  if (src.GetSize() > 0) dest.WriteBuffer(src.Memory(), static_cast<int32_t>(src.GetSize()));
  dest.SetPosition(0);
}

namespace {
void SetBestReplayStale(const std::string& to, bool stale);
}

void TReplayPack::AddReplay(int32_t levelNumber, const std::function<void(TStream&)>& writeRecord) {
  // Until a level is added again, the file holds another game than the one being played: a
  // best game copied from it would be that other game.
  SetBestReplayStale(FFileName, true);
  if (levelNumber < 1 || levelNumber > Count() + 1) throw EReplayError("Invalid level id");
  try {
    auto record = std::make_unique<TMemoryStream>();
    writeRecord(*record);
    Levels.resize(static_cast<size_t>(levelNumber - 1));
    Levels.push_back(std::move(record));
  } catch (const std::exception&) {
    throw EReplayError("Error adding replay");  // the pack and its file stay as they were
  }
  SaveToFile();
  SetBestReplayStale(FFileName, false);
}

std::string TReplayPack::PlainContent() const {
  TStringStream s;
  s.WriteBuffer(kPackMagic, 5);
  s.WriteU32(static_cast<uint32_t>(Levels.size()));
  for (size_t i = 0; i < Levels.size(); ++i) {
    s.WriteI32(static_cast<int32_t>(i + 1));
    s.WriteI32(static_cast<int32_t>(Levels[i]->GetSize()));
    if (Levels[i]->GetSize() > 0) s.WriteBuffer(Levels[i]->Memory(), static_cast<int32_t>(Levels[i]->GetSize()));
  }
  return s.DataString;
}

void TReplayPack::SaveToFile() const {
  bool ok = false;
  try {
    ok = !FFileName.empty() && SaveUserFile(FFileName, EncipherBytes(kReplayPackKey, PlainContent()));
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) throw EReplayError("Error saving replay file");
}

namespace {
// The packs that do not hold the game they should in this run: a best game whose copy failed, a
// last game whose level could not be added. Any thread, under the lock.
struct TStalePacks {
  std::mutex Lock;
  std::set<std::string> Files;
};
TStalePacks& StalePacks() {
  static TStalePacks* packs = new TStalePacks;  // savers may run until the very end
  return *packs;
}

void SetBestReplayStale(const std::string& to, bool stale) {
  TStalePacks& p = StalePacks();
  std::lock_guard<std::mutex> g(p.Lock);
  if (stale) p.Files.insert(to);
  else p.Files.erase(to);
}

bool StillThere(const std::string& fileName) {
  struct stat st {};
  return ::lstat(fileName.c_str(), &st) == 0 || errno != ENOENT;
}
}  // namespace

std::string BestReplayAsideName(const std::string& to) { return ExtractFilePath(to) + kOlderBestReplayName; }

bool BestReplayMissing(const std::string& to) {
  TStalePacks& p = StalePacks();
  std::lock_guard<std::mutex> g(p.Lock);
  return p.Files.count(to) > 0;
}

void ForgetBestReplayFailures() {
  TStalePacks& p = StalePacks();
  std::lock_guard<std::mutex> g(p.Lock);
  p.Files.clear();
}

void CopyBestReplay(const std::string& from, const std::string& to) {
  RunOrQueueSave([from, to] {
    std::string bytes;
    if (BestReplayMissing(from)) {
      Log("The last game's replay file holds another game: its last level could not be added", ltWarning);
    } else if (!ReadFileBytes(from, bytes, kMaxReplayPackBytes)) {
      NoteSaveFailure(from, std::strerror(errno), TFileOp::Read);
    } else if (SaveUserFile(to, bytes)) {
      SetBestReplayStale(to, false);
      return;
    }
    // The old best game belongs to another score: left in its place it would be published as
    // the replay of the new best score. The player keeps it under another name where possible.
    SetBestReplayStale(to, true);
    Log("Error copying my best replay file", ltWarning);
    if (!StillThere(to)) return;
    const std::string aside = BestReplayAsideName(to);
    if (RenameFile(to, aside)) {
      Log("The best game of the older score was kept as " + ExtractFileName(aside), ltInfo);
    } else if (!DeleteFile(to) && StillThere(to)) {
      Log("The best game of the older score could not be moved or deleted (" + std::string(std::strerror(errno)) +
              "); it is not published",
          ltWarning);
    }
  });
}

namespace {
// "zrc2r", six int32, the run count and at least one run.
constexpr int64_t kMinRecordBytes = 5 + 6 * 4 + 4 + 4;

// Why record `level` cannot be played ("" when it can).
std::string RecordFault(TReadOnlyMemoryStream& s, int32_t level, int64_t size) {
  const int64_t end = s.GetPosition() + size;
  char magic[5];
  s.ReadBuffer(magic, 5);
  if (std::memcmp(magic, kRecordMagic, 5) != 0) return "no level record";
  const int32_t gameTime = s.ReadI32();
  s.Seek(4, soFromCurrent);  // the seed: any value
  if (s.ReadI32() != level) return "a record of another level";
  s.Seek(12, soFromCurrent);  // start score and option counts: any value
  const uint32_t runs = s.ReadU32();
  if (runs == 0) return "no input";
  if (static_cast<int64_t>(runs) * 4 != end - s.GetPosition()) return "input sizes that do not agree";
  int64_t steps = 0;
  for (uint32_t i = 0; i < runs; ++i) steps += s.ReadU32() & kInputCountMask;
  if (steps == 0 || gameTime <= 0) return "no input";
  return "";
}
}  // namespace

TReplayPackVerdict CheckReplayPackBytes(const std::string& fileBytes, int32_t levelsPresent) {
  TReplayPackVerdict v;
  auto fault = [&v](const std::string& why) {
    v.Check = TReplayPackCheck::Invalid;
    v.Fault = why;
    return v;
  };
  if (fileBytes.size() > kMaxReplayPackBytes) return fault("larger than any game");
  if (fileBytes.size() % 8 != 0) return fault("cut short");  // not whole cipher blocks
  try {
    TReadOnlyMemoryStream file(fileBytes.data(), fileBytes.size());
    const std::string plain = DecipherStream(kReplayPackKey, file);
    TReadOnlyMemoryStream s(plain.data(), plain.size());
    char magic[5];
    if (s.Read(magic, 5) != 5 || std::memcmp(magic, kPackMagic, 5) != 0) return fault("not a replay pack");
    if (s.Remaining() < 4) return fault("cut short");
    const uint32_t n = s.ReadU32();
    if (n == 0) return fault("no level records");
    if (static_cast<int64_t>(n) * (8 + kMinRecordBytes) > s.Remaining()) return fault("more records than bytes");
    for (uint32_t i = 1; i <= n; ++i) {
      const std::string where = "record " + std::to_string(i) + ": ";
      if (s.ReadI32() != static_cast<int32_t>(i)) return fault(where + "out of order");
      const int32_t size = s.ReadI32();
      if (size < kMinRecordBytes || size > s.Remaining()) return fault(where + "a size that does not agree");
      const std::string why = RecordFault(s, static_cast<int32_t>(i), size);
      if (!why.empty()) return fault(where + why);
    }
    // The cipher works in whole blocks of 8: what follows the last record is the zero padding
    // of its block, nothing else.
    for (int64_t left = s.Remaining(); left > 0; --left)
      if (left >= 8 || s.ReadU8() != 0) return fault("bytes after the last record");
    v.Levels = static_cast<int32_t>(n);
  } catch (const std::exception&) {
    return fault("cut short");
  }
  v.Check = v.Levels <= levelsPresent ? TReplayPackCheck::Playable : TReplayPackCheck::LevelsMissing;
  if (v.Check == TReplayPackCheck::LevelsMissing)
    v.Fault = std::to_string(v.Levels) + " levels, " + std::to_string(levelsPresent) + " here";
  return v;
}

TReplayPackVerdict CheckReplayPackFile(const std::string& fileName, int32_t levelsPresent) {
  std::string bytes;
  if (!ReadFileBytes(fileName, bytes, kMaxReplayPackBytes + 1)) {
    TReplayPackVerdict v;
    v.Fault = "no file";
    return v;
  }
  return CheckReplayPackBytes(bytes, levelsPresent);
}

void OpenReplayRecord(int32_t mode, int32_t& nextReplayLevel, int32_t replayLevel, TMemoryStream& record) {
  WaitForSaves();  // a level end just saved may still be on its way to "last.gmp"
  std::unique_ptr<TReplayPack> pack;
  switch (mode) {
    case rmLastGame:
      pack = std::make_unique<TReplayPack>(UserDataDir + kLastReplayName);
      nextReplayLevel = pack->Count();
      break;
    case rmDemo: {
      std::unique_ptr<TStream> res = OpenGfxResource("LVL", kDemoReplayName);
      pack = std::make_unique<TReplayPack>(res.get());
      if (nextReplayLevel == 0) nextReplayLevel = 1;
      break;
    }
    case rmWorldBest: {
      // Downloaded, or put there by anyone: played only when sound, else a clear error. None
      // (or none that may be read) is an empty pack, as for the other modes.
      std::string bytes;
      if (ReadFileBytes(UserDataDir + kWorldBestReplayName, bytes, kMaxReplayPackBytes + 1)) {
        const TReplayPackVerdict v = CheckReplayPackBytes(bytes, CountUserLevels());
        if (v.Check != TReplayPackCheck::Playable)
          throw EReplayError("The world's best game file cannot be played: " + v.Fault);
        TReadOnlyMemoryStream file(bytes.data(), bytes.size());
        pack = std::make_unique<TReplayPack>(&file);
      } else {
        pack = std::make_unique<TReplayPack>(static_cast<TStream*>(nullptr));
      }
      if (nextReplayLevel == 0) nextReplayLevel = replayLevel != 0 ? replayLevel : 1;
      break;
    }
    default:
      throw EReplayError("Invalid replay mode " + std::to_string(mode));
  }
  record.Clear();
  pack->GetLevelReplay(record, nextReplayLevel);
  if (pack->Count() != nextReplayLevel && !(mode == rmWorldBest && nextReplayLevel == replayLevel))
    ++nextReplayLevel;
  else
    nextReplayLevel = 0;
}
