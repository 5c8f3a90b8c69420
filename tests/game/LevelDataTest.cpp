#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "base/Streams.h"
#include "game/LevelData.h"
#include "LevelFixture.h"

namespace {

std::unique_ptr<TQVGameLevel> LoadPlain(const std::string& bytes) {
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  TLevelFile file;
  ReadLevelFile(s, file);
  return std::make_unique<TQVGameLevel>(nullptr, std::move(file), nullptr);
}

std::string LoadError(const std::string& bytes) {
  try {
    LoadPlain(bytes);
  } catch (const ELevelError& e) {
    return e.Message;
  } catch (const EReadError& e) {
    return "read: " + e.Message;
  }
  return "";
}

// A 6 x 6 level with something of every kind.
FixtureLevel SampleLevel() {
  FixtureLevel f(6, 6);
  FixtureLevel::Cell& c = f.At(1, 2);
  c[0] = 5;  // floor image
  const uint8_t colours[] = {0x44, 0x33, 0x22, 0x11};
  std::memcpy(&c[1], colours, 4);  // first floor colour 0x11223344
  std::memcpy(&c[17], colours, 4);  // first object colour
  c[35] = 9;  // image set
  f.Set(1, 2, caSwitch, 3, cfTurned);
  f.Set(2, 0, caFire);
  f.Set(3, 1, caDoor, 2);
  f.Set(0, 0, caWall, 9);
  f.Set(4, 4, caKey, 15);
  std::array<uint8_t, 64> d{};
  d[2] = 7;                                 // image 7
  const uint8_t x[] = {0x2C, 0x01, 0, 0};   // x = 300
  std::memcpy(&d[4], x, 4);
  const float scale = 0.5f;
  std::memcpy(&d[20], &scale, 4);
  d[60] = 0xFF;  // bottom bound low byte
  f.Decor.push_back(d);
  f.PX = 1;
  f.PY = 1;
  f.PDir = 3;
  f.Enemies.push_back({5, 5, 2, {0x00050003u, 0x00000000u}});
  f.Enemies.push_back({2, 3, 1, {}});
  std::array<uint8_t, 20> on{};
  on[16] = caWall;
  f.Groups.push_back({0, 5, on, 3});
  f.Groups.push_back({4, 0, on, 3});
  std::array<uint8_t, 20> open{};
  open[16] = caFloor;
  f.Groups.push_back({4, 0, open, 31});  // the same cell in another group
  f.ShadowAlpha = 0x80;
  return f;
}

}  // namespace

TEST(LevelData, FixtureLevelLoadsWithEverything) {
  FixtureLevel f = SampleLevel();
  f.Name = "A very long level name that goes on";
  f.NameLengthByte = 200;  // clamped to the 25 bytes of the field
  auto level = LoadPlain(f.Bytes());
  EXPECT_EQ(level->Name, std::string("A very long level name that goes on").substr(0, 25));
  EXPECT_EQ(level->TimeLimit, 90);
  ASSERT_EQ(level->Width, 6);
  ASSERT_EQ(level->Height, 6);

  const TLevelCell& c = level->Cell(1, 2);
  EXPECT_EQ(c.FloorImage, 5);
  EXPECT_EQ(c.FloorColors[0], 0x11223344u);
  EXPECT_EQ(c.ObjectColors[0], 0x11223344u);
  EXPECT_EQ(c.Action, caSwitch);
  EXPECT_EQ(c.Flags, cfTurned);
  EXPECT_EQ(c.ImageSet, 9);
  EXPECT_EQ(c.Param, 3);
  EXPECT_EQ(c.StateCounter, 0);
  EXPECT_EQ(level->Cell(0, 0).Param, 9);
  EXPECT_EQ(level->Cell(4, 4).Action, caKey);

  ASSERT_EQ(level->Decor.size(), 1u);
  EXPECT_EQ(level->Decor[0].Image, 7);
  EXPECT_EQ(level->Decor[0].X, 300);
  EXPECT_FLOAT_EQ(level->Decor[0].ScaleX, 0.5f);
  EXPECT_FLOAT_EQ(level->Decor[0].ScaleY, 0.0f);  // the record replaces the preset
  EXPECT_EQ(level->Decor[0].Bounds[3], 0xFF);

  EXPECT_EQ(level->PlayerStart.X, 1);
  EXPECT_EQ(level->PlayerStart.Direction, 3);
  ASSERT_EQ(level->EnemyStartCount(), 2);
  TEnemyStart& e = level->GetEnemyStart(0);
  EXPECT_EQ(e.X, 5);
  EXPECT_EQ(e.Direction, 2);
  ASSERT_EQ(e.Waypoints.size(), 2u);
  EXPECT_EQ(PointX(e.Waypoints[0]), 3);  // 0x00050003 is x = 3, y = 5
  EXPECT_EQ(PointY(e.Waypoints[0]), 5);
  EXPECT_TRUE(level->GetEnemyStart(1).Waypoints.empty());

  // Groups: file order within a group, both halves of the entry.
  ASSERT_EQ(level->Groups[3].Count, 2);
  EXPECT_EQ(level->Groups[3].Entries[0].Y, 5);
  EXPECT_EQ(level->Groups[3].Entries[1].X, 4);
  EXPECT_EQ(level->Groups[3].Entries[1].Switched[16], caWall);
  EXPECT_EQ(level->Groups[3].Entries[1].Loaded[16], caFloor);
  ASSERT_EQ(level->Groups[31].Count, 1);
  EXPECT_EQ(level->Groups[31].Entries[0].X, 4);
  EXPECT_EQ(level->Groups[0].Count, 0);

  // Switches, fires and doors, x outer and y inner.
  std::vector<uint32_t> active = {PackPoint(1, 2), PackPoint(2, 0), PackPoint(3, 1)};
  EXPECT_EQ(level->ActiveCells, active);
  EXPECT_EQ(level->ShadowColors[2], 0x80FFFFFFu);
  // Fire at (2, 0): phase (45 - 200) mod 160 made non-negative = 5.
  ASSERT_NE(level->FireLists[5], nullptr);
  EXPECT_EQ(*level->FireLists[5], std::vector<uint32_t>{PackPoint(2, 0)});
  int lists = 0;
  for (auto& l : level->FireLists) lists += l != nullptr;
  EXPECT_EQ(lists, 1);
}

TEST(LevelData, WriterGivesBackTheFixtureBytes) {
  std::string bytes = SampleLevel().Bytes();
  TReadOnlyMemoryStream in(bytes.data(), bytes.size());
  TLevelFile file;
  ReadLevelFile(in, file);
  TStringStream out;
  WriteLevelFile(out, file);
  EXPECT_EQ(out.DataString, bytes);
}

TEST(LevelData, WrongMagicIsRejectedEvenWhenTheRestIsSound) {
  FixtureLevel f = SampleLevel();
  f.Footer = "zrc2x";
  EXPECT_EQ(LoadError(f.Bytes()), "Invalid level data file");
  f = SampleLevel();
  f.Header = "zrc3l";
  EXPECT_EQ(LoadError(f.Bytes()), "Invalid level data file");
  std::string cut = SampleLevel().Bytes();
  cut.resize(cut.size() - 3);
  EXPECT_EQ(LoadError(cut), "read: Stream read error");
}

TEST(LevelData, UntrustedLimitsMakeTheFileInvalid) {
  struct Case {
    const char* what;
    std::function<void(FixtureLevel&)> damage;
  } cases[] = {
      {"group 32", [](FixtureLevel& f) { f.Groups[0].Group = 32; }},
      {"group -1", [](FixtureLevel& f) { f.Groups[0].Group = -1; }},
      {"101st cell of a group",
       [](FixtureLevel& f) {
         for (int i = 0; i < 99; ++i) f.Groups.push_back(f.Groups[0]);  // group 3 had 2
       }},
      {"key 16", [](FixtureLevel& f) { f.Set(4, 4, caKey, 16); }},
      {"door key 200", [](FixtureLevel& f) { f.Set(3, 1, caDoor, 200); }},
      {"switched key 16",
       [](FixtureLevel& f) {
         f.Groups[0].Bytes[16] = caDoor;
         f.Groups[0].Bytes[19] = 16;
       }},
      {"switch of group 32", [](FixtureLevel& f) { f.Set(1, 2, caSwitch, 32); }},
      {"action 13", [](FixtureLevel& f) { f.Set(2, 2, 13); }},
      {"wall shape 16", [](FixtureLevel& f) { f.Set(0, 0, caWall, 16); }},
      {"waypoint x outside", [](FixtureLevel& f) { f.Enemies[0].Waypoints.push_back(PackPoint(6, 0)); }},
      {"waypoint y outside", [](FixtureLevel& f) { f.Enemies[0].Waypoints.push_back(PackPoint(0, 6)); }},
      {"enemy outside", [](FixtureLevel& f) { f.Enemies[1].Y = -1; }},
      {"player outside", [](FixtureLevel& f) { f.PX = 6; }},
      {"player direction 4", [](FixtureLevel& f) { f.PDir = 4; }},
      {"enemy direction 9", [](FixtureLevel& f) { f.Enemies[0].Dir = 9; }},
      {"group cell outside", [](FixtureLevel& f) { f.Groups[1].X = 100; }},
      {"decor count beyond the file", [](FixtureLevel& f) { f.DecorCount = 1000000; }},
      {"negative decor count", [](FixtureLevel& f) { f.DecorCount = -1; }},
      {"grid larger than the file",
       [](FixtureLevel& f) {
         f.W = 4000;
         f.H = 4000;
       }},
      {"zero width", [](FixtureLevel& f) { f.W = 0; }},
      {"negative height", [](FixtureLevel& f) { f.H = -6; }},
  };
  for (const Case& c : cases) {
    FixtureLevel f = SampleLevel();
    c.damage(f);
    EXPECT_EQ(LoadError(f.Bytes()), "Invalid level data file") << c.what;
  }
  // Waypoint and enemy counts beyond the file, written by hand.
  std::string bytes = SampleLevel().Bytes();
  size_t enemyCount = bytes.size() - 5 - 4 - 4 - 3 * 32 - (13 + 8) - (13 + 0) - 4;
  ASSERT_EQ(bytes[enemyCount], 2);
  std::string big = bytes;
  big[enemyCount + 3] = 0x10;
  EXPECT_EQ(LoadError(big), "Invalid level data file") << "enemy count";
  big = bytes;
  big[enemyCount + 4 + 9 + 3] = 0x7F;  // first enemy's waypoint count
  EXPECT_EQ(LoadError(big), "Invalid level data file") << "waypoint count";
}

TEST(LevelData, OneCellLevelAndLaserDistances) {
  FixtureLevel one(1, 1);
  auto level = LoadPlain(one.Bytes());
  EXPECT_EQ(level->Cell(0, 0).LaserDistance, kFarFromLaser);  // a border cell
  one.Set(0, 0, caFloor, 0, cfLaserLeft);
  EXPECT_EQ(LoadPlain(one.Bytes())->Cell(0, 0).LaserDistance, 0);

  // A laser edge at (3, 3) of a 15 x 7 grid: distances grow by one per step up to 10, only
  // inside the border.
  FixtureLevel f(15, 7);
  f.PX = 3;
  f.PY = 3;
  f.Set(3, 3, caFloor, 0, cfLaserTop);
  level = LoadPlain(f.Bytes());
  EXPECT_EQ(level->Cell(3, 3).LaserDistance, 0);
  EXPECT_EQ(level->Cell(4, 3).LaserDistance, 1);
  EXPECT_EQ(level->Cell(5, 4).LaserDistance, 3);
  EXPECT_EQ(level->Cell(1, 1).LaserDistance, 4);
  EXPECT_EQ(level->Cell(13, 3).LaserDistance, 10);
  EXPECT_EQ(level->Cell(13, 1).LaserDistance, kFarFromLaser);  // 12 steps away
  EXPECT_EQ(level->Cell(0, 3).LaserDistance, kFarFromLaser);   // border
  EXPECT_EQ(level->Cell(3, 6).LaserDistance, kFarFromLaser);
}

TEST(LevelData, PathMapUsesTheCellCosts) {
  // Walls, an exit and a closed door stand between the start and the goal.
  FixtureLevel f(5, 3);
  f.Set(2, 0, caWall);
  f.Set(2, 1, caDoor);
  f.Set(2, 2, caExit);
  auto level = LoadPlain(f.Bytes());
  EXPECT_EQ(level->PathCost(2, 0), 255);
  EXPECT_EQ(level->PathCost(2, 1), 255);
  EXPECT_EQ(level->PathCost(2, 2), 255);
  EXPECT_EQ(level->Planner->FindPathBetween({0, 1}, {4, 1}), -1);
  // The door opens (counter 13 and more): the way is free.
  level->Cell(2, 1).StateCounter = 13;
  EXPECT_EQ(level->PathCost(2, 1), 0);
  EXPECT_GT(level->Planner->FindPathBetween({0, 1}, {4, 1}), 0);
  EXPECT_EQ(level->Planner->Path().Count(), 5);
  // Something standing in the door blocks it again; fire costs 15.
  level->Cell(2, 1).Occupant = reinterpret_cast<TGameElement*>(level.get());
  EXPECT_EQ(level->PathCost(2, 1), 255);
  EXPECT_EQ(level->Planner->FindPathBetween({0, 1}, {4, 1}), -1);
  f.Set(1, 1, caFire);
  EXPECT_EQ(LoadPlain(f.Bytes())->PathCost(1, 1), 15);
}

TEST(LevelData, LevelFileLoadsThroughTheContainer) {
  std::string plain = SampleLevel().Bytes();
  for (uint8_t method : {uint8_t(0), uint8_t(1)}) {
    TReadOnlyMemoryStream in(plain.data(), plain.size());
    TMemoryStream container;
    CompressLevelData(in, container, method);
    container.SetPosition(0);
    TQVGameLevel level(nullptr, container, nullptr);
    EXPECT_EQ(level.Width, 6) << int(method);
    EXPECT_EQ(level.Groups[3].Count, 2);
    EXPECT_EQ(level.GetEnemyStart(0).Waypoints.size(), 2u);
  }
  // A container whose stated size does not match its data: the container's own error.
  TReadOnlyMemoryStream in(plain.data(), plain.size());
  TMemoryStream container;
  CompressLevelData(in, container, 1);
  container.Memory()[4] ^= 1;
  container.SetPosition(0);
  EXPECT_THROW(TQVGameLevel(nullptr, container, nullptr), Exception);
  // A container that unpacks to more than the level-data bound is refused early.
  std::string zeros(static_cast<size_t>(kMaxLevelDataSize) + 1000, '\0');
  TReadOnlyMemoryStream z(zeros.data(), zeros.size());
  TMemoryStream bomb;
  CompressLevelData(z, bomb, 1);
  EXPECT_LT(bomb.GetSize(), 64 * 1024);
  bomb.SetPosition(0);
  try {
    TQVGameLevel level(nullptr, bomb, nullptr);
    ADD_FAILURE() << "loaded";
  } catch (const ELevelError& e) {
    EXPECT_EQ(e.Message, "Invalid level data file");
  }
  // The container writer for tools: a written level loads back the same.
  TMemoryStream written;
  TReadOnlyMemoryStream again(plain.data(), plain.size());
  TLevelFile file;
  ReadLevelFile(again, file);
  SaveLevelContainer(written, file);
  written.SetPosition(0);
  TMemoryStream back;
  LoadLevelContainer(written, back);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.Memory()), static_cast<size_t>(back.GetSize())), plain);
}
