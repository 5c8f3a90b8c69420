#include "game/ReplayPack.h"

#include <cstring>

#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/SaveQueue.h"

const char* const kReplayPackKey = "MORVANTqelx4ubr8p2hwRKDe!71c&jzq#mvt%3kbo5j~vpe+ucr=9t645";
const char* const kLastReplayName = "last.gmp";
const char* const kMyBestReplayName = "mybest.gmp";
const char* const kWorldBestReplayName = "worldbest.gmp";
const char* const kDemoReplayName = "demo.gmp";

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

void TReplayPack::AddReplay(int32_t levelNumber, const std::function<void(TStream&)>& writeRecord) {
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
    ok = !FFileName.empty() && SaveFileAtomically(FFileName, EncipherBytes(kReplayPackKey, PlainContent()));
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) throw EReplayError("Error saving replay file");
}

void CopyBestReplay(const std::string& from, const std::string& to) {
  RunOrQueueSave([from, to] {
    // Through a temporary file and a rename: a failed copy leaves the old best game whole.
    std::string bytes;
    if (!ReadFileBytes(from, bytes, kMaxReplayPackBytes) || !SaveFileAtomically(to, bytes))
      Log("Error copying my best replay file", ltWarning);
  });
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
    case rmWorldBest:
      pack = std::make_unique<TReplayPack>(UserDataDir + kWorldBestReplayName);
      if (nextReplayLevel == 0) nextReplayLevel = replayLevel != 0 ? replayLevel : 1;
      break;
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
