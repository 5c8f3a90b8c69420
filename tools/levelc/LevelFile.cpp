#include "LevelFile.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/Streams.h"
#include "engine/tools.h"

namespace levelc {

namespace {

// The last warning the trace log gained after `from` characters: the loader's reason.
std::string LastWarning(const std::string& log, size_t from) {
  const std::string tag = "* Warning: ";
  std::string reason;
  for (size_t i = log.find(tag, from); i != std::string::npos; i = log.find(tag, i + 1)) {
    size_t end = log.find_first_of("\r\n", i);
    reason = log.substr(i + tag.size(), end == std::string::npos ? std::string::npos : end - i - tag.size());
  }
  return reason;
}

}  // namespace

std::unique_ptr<TQVGameLevel> LoadLevelFile(const std::vector<uint8_t>& file, const std::string& name) {
  // Without a trace log the loader's reason would be lost; keep a scratch one for the load.
  std::string scratch;
  if (LogFile().empty()) {
    scratch = (std::filesystem::temp_directory_path() / ("levelc-" + std::to_string(getpid()) + ".log")).string();
    std::filesystem::remove(scratch);
    SetLogFile(scratch);
  }
  const size_t before = GetLogText().size();
  std::string failure;
  std::unique_ptr<TQVGameLevel> level;
  try {
    TReadOnlyMemoryStream s(file.data(), file.size());
    level = std::make_unique<TQVGameLevel>(nullptr, s, nullptr);
  } catch (const std::exception& e) {
    failure = e.what();
    const std::string reason = LastWarning(GetLogText(), before);
    if (!reason.empty() && reason != failure) failure += " (" + reason + ")";
  }
  if (!scratch.empty()) {
    SetLogFile("");
    std::filesystem::remove(scratch);
  }
  if (!failure.empty()) throw ECompileError(name + ": the game refuses the level file: " + failure);
  return level;
}

std::vector<uint8_t> MakeLevelFile(const std::vector<uint8_t>& payload, uint32_t method, const std::string& name) {
  TMemoryStream plain;
  plain.WriteBuffer(payload.data(), static_cast<int32_t>(payload.size()));
  plain.SetPosition(0);
  TMemoryStream container;
  CompressLevelData(plain, container, static_cast<uint8_t>(method));
  std::vector<uint8_t> file = std::move(container.Data);

  TMemoryStream back;
  try {
    TReadOnlyMemoryStream s(file.data(), file.size());
    LoadLevelContainer(s, back);
  } catch (const std::exception& e) {
    throw ECompileError(name + ": the container does not decompress: " + e.what());
  }
  if (back.Data != payload) throw ECompileError(name + ": the container does not give back the level data");

  std::unique_ptr<TQVGameLevel> level = LoadLevelFile(file, name);
  Validate(FromGameLevel(*level), name + " (as loaded)");
  return file;
}

void WriteLevelFile(const std::string& path, const std::vector<uint8_t>& payload, uint32_t method) {
  const std::vector<uint8_t> file = MakeLevelFile(payload, method, path);
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!f.flush()) throw ECompileError(path + ": cannot write");
  }
}

Level FromGameLevel(const TQVGameLevel& g) {
  Level lv;
  lv.Name = g.Name;
  lv.TimeLimit = g.TimeLimit;
  lv.Width = g.Width;
  lv.Height = g.Height;
  lv.ShadowAlpha = static_cast<int>(g.ShadowColors[0] >> 24);
  lv.Cells.resize(static_cast<size_t>(g.Width) * g.Height);
  auto fromBytes = [](Cell& c, const uint8_t* b) {
    for (int i = 0; i < 4; ++i)
      c.ObjectColors[i] = static_cast<uint32_t>(b[4 * i]) | static_cast<uint32_t>(b[4 * i + 1]) << 8 |
                          static_cast<uint32_t>(b[4 * i + 2]) << 16 | static_cast<uint32_t>(b[4 * i + 3]) << 24;
    c.ActionCode = b[16];
    c.Flags = b[17];
    c.ImageSet = b[18];
    c.Param = b[19];
  };
  for (int y = 0; y < g.Height; ++y)
    for (int x = 0; x < g.Width; ++x) {
      const TLevelCell& s = g.Cell(x, y);
      Cell& c = lv.At(x, y);
      c.Floor = s.FloorImage;
      std::memcpy(c.FloorColors, s.FloorColors, sizeof c.FloorColors);
      uint8_t b[kCellPartBSize];
      s.WritePartB(b);
      fromBytes(c, b);
    }
  for (const TDecorSprite& s : g.Decor) {
    Decor d;
    d.Image = s.Image;
    d.X = s.X;
    d.Y = s.Y;
    d.Layer = s.Layer;
    d.ShadowLayer = s.ShadowLayer;
    d.ScaleX = s.ScaleX;
    d.ScaleY = s.ScaleY;
    d.Rotation = s.Rotation;
    std::memcpy(d.Colors, s.Colors, sizeof d.Colors);
    std::memcpy(d.Bounds, s.Bounds, sizeof d.Bounds);
    lv.Decors.push_back(d);
  }
  lv.PlayerX = g.PlayerStart.X;
  lv.PlayerY = g.PlayerStart.Y;
  lv.PlayerDirection = g.PlayerStart.Direction;
  for (const TEnemyStart& e : g.EnemyStarts) {
    Smoker s;
    s.X = e.X;
    s.Y = e.Y;
    s.Direction = e.Direction;
    for (uint32_t p : e.Waypoints) s.Waypoints.emplace_back(PointX(p), PointY(p));
    lv.Smokers.push_back(s);
  }
  for (int32_t group = 0; group < kGroupCount; ++group) {
    const TSwitchGroup& sg = g.Groups[static_cast<size_t>(group)];
    for (int32_t i = 0; i < sg.Count; ++i) {
      GroupCell c;
      c.X = sg.Entries[static_cast<size_t>(i)].X;
      c.Y = sg.Entries[static_cast<size_t>(i)].Y;
      c.Group = group;
      c.Switched.Floor = lv.At(c.X, c.Y).Floor;
      fromBytes(c.Switched, sg.Entries[static_cast<size_t>(i)].Switched);
      lv.GroupCells.push_back(c);
    }
  }
  return lv;
}

}  // namespace levelc
