// The level compiler: wall tiling, the checks that keep broken levels out of the game, and the
// ten levels of the game.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "ContentSupport.h"
#include "LevelCompiler.h"
#include "LevelFile.h"
#include "base/Streams.h"
#include "support/TestSupport.h"

using namespace levelc;

namespace {

std::vector<DecorImage> DecorTable() { return ReadDecorTable(content::Resource("GFX", "decorb.dat")); }

// A 22 x 22 room: the player in the top left, the exit on the right; rows can be replaced.
std::vector<std::string> Room() {
  std::vector<std::string> g(22, "#" + std::string(20, '.') + "#");
  g.front() = g.back() = std::string(22, '#');
  g[2][2] = '@';
  g[10][15] = 'E';
  return g;
}

// An `intro` level: the pace rule (a third of the time limit) is tested on its own.
std::string Text(const std::vector<std::string>& grid, const std::string& extra = "") {
  std::string t = "name \"Test\"\ntime 60\nintro\n" + extra + "\ngrid\n";
  for (auto& r : grid) t += r + "\n";
  return t + "end\n";
}

std::string Error(const std::string& text) {
  try {
    Compile(text, "t.txt", DecorTable());
  } catch (const ECompileError& e) {
    return e.what();
  }
  return "";
}

std::string ReadText(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string LevelText(int n) { return std::string(KT_SOURCE_DIR) + "/tools/levelc/levels/" + std::to_string(n) + ".txt"; }

}  // namespace

TEST(LevelCompiler, ShapesCoverEveryJunctionOnce) {
  std::set<int> masks(std::begin(ShapeMask), std::end(ShapeMask));
  EXPECT_EQ(masks.size(), 16u);
  for (int m = 0; m < 16; ++m) EXPECT_EQ(ShapeMask[ShapeOfMask(m)], m);
}

TEST(LevelCompiler, TilesWallsAndTurnsDoors) {
  auto g = Room();
  g[5] = "#.....#.............#";  // a wall piece with a door below it
  g[5] += "#";
  g[6] = "#.....d..............#";
  g[7] = "#.....#..............#";
  Level lv = Compile(Text(g, "legend d door 0"), "t.txt", DecorTable());
  // wall above the door joins down (S) only: shape 5; wall below joins up: shape 14
  EXPECT_EQ(lv.At(6, 5).Param, ShapeOfMask(4));
  EXPECT_EQ(lv.At(6, 7).Param, ShapeOfMask(1));
  EXPECT_EQ(lv.At(6, 6).Flags & 1, 0) << "a door between walls above and below";
  // the ring's corner joins east and south (its other sides run off the map)
  EXPECT_EQ(ShapeMask[lv.At(0, 0).Param], 15);
  // the exit's gate makes the cells right of it and below it solid
  EXPECT_EQ(lv.At(15, 10).ActionCode, acExit);
  for (auto [x, y] : {std::pair{16, 10}, {17, 10}, {15, 11}, {16, 11}, {17, 11}, {17, 9}})
    EXPECT_EQ(lv.At(x, y).ActionCode, acObstacle) << x << "," << y;
}

TEST(LevelCompiler, SwitchGroupsCarryTheRetiledNeighbours) {
  auto g = Room();
  g[5] = "#.....###............#";
  g[3][3] = 's';
  Level lv = Compile(Text(g, "legend s switch 2\ngroup 2 7 5 floor"), "t.txt", DecorTable());
  // the wall goes, and the two walls beside it lose their joint
  std::map<std::pair<int, int>, const GroupCell*> entries;
  for (auto& e : lv.GroupCells) entries[{e.X, e.Y}] = &e;
  ASSERT_EQ(entries.size(), 3u);
  const GroupCell* gap = entries[std::pair{7, 5}];
  const GroupCell* left = entries[std::pair{6, 5}];
  const GroupCell* right = entries[std::pair{8, 5}];
  ASSERT_TRUE(gap && left && right);
  EXPECT_EQ(gap->Switched.ActionCode, acFloor);
  EXPECT_EQ(ShapeMask[left->Switched.Param], 0);
  EXPECT_EQ(ShapeMask[right->Switched.Param], 0);
  EXPECT_EQ(gap->Group, 2);
}

TEST(LevelCompiler, RejectsBrokenLevels) {
  struct Case { std::string Name, Text, Message; };
  std::vector<Case> cases;
  {
    auto g = Room();
    g.pop_back();
    g.back() = std::string(22, '#');
    cases.push_back({"too small", Text(g), "at least 22 x 22"});
  }
  {
    auto g = Room();
    g[0][5] = 'h';
    cases.push_back({"usable ring", Text(g, "legend h heart"), "outer ring"});
  }
  {
    auto g = Room();
    g[8] = "#" + std::string(20, '#') + "#";
    cases.push_back({"walled off exit", Text(g), "exit cannot be reached"});
  }
  {
    auto g = Room();
    g[8] = "######R###############";
    cases.push_back({"locked without its key", Text(g, "legend R door 1"), "exit cannot be reached"});
    auto k = g;
    k[4][4] = '1';
    EXPECT_EQ(Error(Text(k, "legend R door 1\nlegend 1 key 1")), "") << "the key opens the way";
  }
  {
    auto g = Room();
    g[7] = "#......#.............#";
    g[8] = "######d###############";
    g[9] = "#......#.............#";
    cases.push_back({"door at a junction", Text(g, "legend d door 0"), "cannot join the wall junction"});
  }
  {
    auto g = Room();
    g[10] = "#...................E#";
    cases.push_back({"no room for the pad", Text(g), "no room for the exit's pad"});
  }
  {
    auto g = Room();
    g[11][16] = '#';
    cases.push_back({"pad on a wall", Text(g), "exit's pad needs floor"});
  }
  {
    auto g = Room();
    g[4] = "#......###########...#";
    g[5] = "#......#.........#...#";
    g[6] = "#......###########...#";
    g[5][10] = 'a';
    g[15][4] = 'b';
    cases.push_back({"waypoint out of reach", Text(g, "point a b\nsmoker b right a"), "cannot be reached from the smoker"});
  }
  {
    auto g = Room();
    cases.push_back({"two on one cell", Text(g, "smoker 5 5 up\nsmoker 5 5 down"), "two figures start on 5,5"});
    cases.push_back({"smoker in a wall", Text(g, "smoker 5 0 up"), "outer ring"});
  }
  {
    auto g = Room();
    g[3][3] = 's';
    cases.push_back({"switch without cells", Text(g, "legend s switch 4"), "group 4, which has no cells"});
    cases.push_back({"group without switch", Text(Room(), "group 3 5 5 wall"), "group 3 has no switch"});
  }
  {
    auto g = Room();
    g[10][15] = '.';
    g[5][8] = 'E';
    cases.push_back({"exit in sight of the start", Text(g), "exit at 8,5 is on the screen the player starts on"});
  }
  {
    auto g = Room();
    g[14] = "#.........###........#";
    g[15] = "#.........#1#........#";
    g[16] = "#.........###........#";
    cases.push_back({"key out of reach", Text(g, "legend 1 key 1"), "key at 11,15 cannot be reached"});
  }
  {
    // 21 cells to the exit: 4.2 s, a third of 12.6 s
    std::string fast = Text(Room());
    fast.replace(fast.find("time 60\nintro\n"), 14, "time 13\n");
    cases.push_back({"exit too near for the time", fast, "fastest run to the exit takes 4.2 s (21 cells), less than a third"});
    fast.replace(fast.find("time 13"), 7, "time 12");
    EXPECT_EQ(Error(fast), "") << "a run of a third of the time limit is enough";
  }
  cases.push_back({"unknown character", Text([] { auto g = Room(); g[4][4] = 'Q'; return g; }()), "'Q' is not in the legend"});
  cases.push_back({"two starts", Text([] { auto g = Room(); g[4][4] = '@'; return g; }()), "exactly one player start"});
  cases.push_back({"bad colour", Text(Room(), "wallcolor #12345"), "a colour is #RRGGBB"});
  cases.push_back({"no grid", "name \"x\"\ntime 60\n", "no grid"});
  for (auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string e = Error(c.Text);
    EXPECT_NE(e.find(c.Message), std::string::npos) << "got: " << e;
  }
}

// The fastest exit run takes the key on the way and opens the door from the cell before it.
TEST(LevelCompiler, FastestExitRunPlaysKeysAndDoorsOut) {
  auto g = Room();
  g[8] = "######R###############";
  g[4][4] = '1';
  Level lv = Compile(Text(g, "legend R door 1\nlegend 1 key 1"), "t.txt", DecorTable());
  const ExitRun run = FastestExitRun(lv);
  // start 2,2 -> key 4,4 (4) -> 6,7 above the door (5) -> through it to 6,9 (2) -> exit 15,10 (10)
  EXPECT_EQ(run.Moves, 21);
  ASSERT_EQ(run.Route.size(), 22u);
  EXPECT_EQ(run.Route.front(), std::make_pair(2, 2));
  EXPECT_EQ(run.Route.back(), std::make_pair(15, 10));
  std::vector<std::pair<int, int>> events;
  for (size_t i = 0; i < run.Route.size(); ++i)
    if (run.Events[i]) events.push_back(run.Route[i]);
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{4, 4}, {6, 7}, {15, 10}}));
  for (size_t i = 1; i < run.Route.size(); ++i)
    EXPECT_EQ(std::abs(run.Route[i].first - run.Route[i - 1].first) + std::abs(run.Route[i].second - run.Route[i - 1].second), 1);
}

TEST(LevelCompiler, SerializesTheLevelLayout) {
  auto g = Room();
  g[3][3] = 's';
  Level lv = Compile(Text(g, "smoker 5 5 left 6 6 7 3\ndecor 0 5.5 5.5\ngroup 1 9 9 wall\nlegend s switch 1"), "t.txt",
               DecorTable());
  auto b = Serialize(lv);
  size_t cells = 22 * 22;
  size_t groups = lv.GroupCells.size();
  EXPECT_EQ(b.size(), 5 + 4 + 26 + 12 + 37 * cells + 4 + 64 + 9 + 4 + (13 + 8) + 4 + 32 * groups + 4 + 5);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 5), "zrc2l");
  EXPECT_EQ(std::string(b.end() - 5, b.end()), "zrc2l");
  EXPECT_EQ(b[9], 4);  // the name's length byte
  // the second waypoint packs x in the low and y in the high half
  size_t enemy = 5 + 4 + 26 + 12 + 37 * cells + 4 + 64 + 9 + 4;
  size_t wp = enemy + 13 + 4;
  EXPECT_EQ(b[wp] | (b[wp + 1] << 8) | (b[wp + 2] << 16) | (b[wp + 3] << 24), 7 | (3 << 16));
}

TEST(LevelCompiler, TheTenLevelsCompileAndGrowInDifficulty) {
  auto decor = DecorTable();
  std::set<uint32_t> methods;
  std::vector<std::set<int>> features(11);
  int prevSmokers = 0;
  for (int n = 1; n <= 10; ++n) {
    SCOPED_TRACE("level " + std::to_string(n));
    std::string path = std::string(KT_SOURCE_DIR) + "/tools/levelc/levels/" + std::to_string(n) + ".txt";
    Level lv;
    ASSERT_NO_THROW(lv = Compile(ReadText(path), path, decor));
    methods.insert(lv.Method);
    for (auto& c : lv.Cells) {
      features[n].insert(c.ActionCode);
      if (c.Flags & 6) features[n].insert(100);  // lasers
    }
    EXPECT_GE(static_cast<int>(lv.Smokers.size()), prevSmokers - 1);
    prevSmokers = static_cast<int>(lv.Smokers.size());
    EXPECT_GE(lv.TimeLimit, 45);
    EXPECT_FALSE(lv.Decors.empty());
  }
  EXPECT_EQ(methods, (std::set<uint32_t>{0, 1})) << "both container methods in use";
  // the first level teaches walking, shooting, healing on an energy field and the exit
  for (int code : {int(acDoor), int(acKey), int(acSwitch), int(acFire), int(acSuper), 100}) EXPECT_FALSE(features[1].count(code)) << code;
  EXPECT_TRUE(features[1].count(acEnergy));
  // then doors, keys, switches, lasers, fires and energy come in
  EXPECT_TRUE(features[2].count(acDoor));
  EXPECT_TRUE(features[3].count(acKey));
  EXPECT_TRUE(features[4].count(acSwitch));
  EXPECT_TRUE(features[5].count(100));
  EXPECT_TRUE(features[6].count(acFire));
  EXPECT_TRUE(features[6].count(acEnergy));
  EXPECT_TRUE(features[7].count(acSuper));
  for (int code : {int(acDoor), int(acKey), int(acSwitch), int(acFire), int(acEnergy), int(acHeart), int(acSuper),
                   int(acDiamond), 100})
    EXPECT_TRUE(features[10].count(code)) << "the last level has everything: " << code;
}

// The committed level files are what the compiler makes of the descriptions today; the embedded
// "LVL" resources are those files.
TEST(LevelFiles, CommittedFilesAreTheCompiledDescriptions) {
  auto decor = DecorTable();
  std::set<std::string> tags;
  for (int n = 1; n <= 10; ++n) {
    SCOPED_TRACE("level " + std::to_string(n));
    const std::string path = LevelText(n);
    Level lv = Compile(ReadText(path), path, decor);
    std::vector<uint8_t> made = MakeLevelFile(Serialize(lv), lv.Method, path);
    const std::string committed = ReadAll(std::string(KT_SOURCE_DIR) + "/resources/lvl/" + std::to_string(n) + ".lvl");
    EXPECT_TRUE(std::string(made.begin(), made.end()) == committed)
        << "resources/lvl/" << n << ".lvl is stale (" << committed.size() << " bytes, compiled " << made.size()
        << "): cmake --build build --target levels";
    std::vector<uint8_t> embedded = content::Resource("LVL", std::to_string(n));
    EXPECT_TRUE(std::string(embedded.begin(), embedded.end()) == committed) << "the build embeds another file";
    ASSERT_GE(made.size(), 8u);
    const std::string tag(made.begin(), made.begin() + 4);
    EXPECT_EQ(tag, lv.Method == 1 ? "WRZL" : "!HZL");
    tags.insert(tag);
  }
  EXPECT_EQ(tags, (std::set<std::string>{"WRZL", "!HZL"})) << "both container methods across the levels";
}

// What the game loads from the resources: the size, start and exit the descriptions give, and a
// level the compiler's checks still pass (exit reachable with keys, doors and switches).
TEST(LevelFiles, TheGameLoadsEveryLevelResource) {
  auto decor = DecorTable();
  for (int n = 1; n <= 10; ++n) {
    SCOPED_TRACE("level " + std::to_string(n));
    const std::string path = LevelText(n);
    Level lv = Compile(ReadText(path), path, decor);
    TResourceStream stream(std::to_string(n), "LVL");
    std::unique_ptr<TQVGameLevel> game;
    ASSERT_NO_THROW(game = std::make_unique<TQVGameLevel>(nullptr, stream, nullptr));
    EXPECT_EQ(game->Name, lv.Name);
    EXPECT_EQ(game->TimeLimit, lv.TimeLimit);
    EXPECT_EQ(game->Width, lv.Width);
    EXPECT_EQ(game->Height, lv.Height);
    EXPECT_GE(game->Width, 22);
    EXPECT_GE(game->Height, 22);
    EXPECT_EQ(game->PlayerStart.X, lv.PlayerX);
    EXPECT_EQ(game->PlayerStart.Y, lv.PlayerY);
    EXPECT_EQ(game->PlayerStart.Direction, lv.PlayerDirection);
    const TLevelCell& start = game->Cell(game->PlayerStart.X, game->PlayerStart.Y);
    EXPECT_EQ(start.Action, caFloor);
    EXPECT_NE(start.FloorImage, 0);
    EXPECT_EQ(game->PathCost(game->PlayerStart.X, game->PlayerStart.Y), 0);
    int exits = 0;
    for (const TLevelCell& c : game->Cells) exits += c.Action == caExit;
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(game->EnemyStartCount(), static_cast<int32_t>(lv.Smokers.size()));
    EXPECT_EQ(game->Decor.size(), lv.Decors.size());
    int grouped = 0;
    for (const TSwitchGroup& g : game->Groups) grouped += g.Count;
    EXPECT_EQ(grouped, static_cast<int>(lv.GroupCells.size()));
    EXPECT_NO_THROW(Validate(FromGameLevel(*game), path + " (as loaded)"));
  }
}

// A file the game would refuse never becomes a level file, and the error says why.
TEST(LevelFiles, RefusedLevelsNameTheReason) {
  Level lv = Compile(Text(Room()), "t.txt", DecorTable());
  const std::vector<uint8_t> good = Serialize(lv);
  const size_t partB = 5 + 4 + 26 + 12 + 17 * static_cast<size_t>(lv.Width * lv.Height);
  auto action = [&](int x, int y) { return partB + 20 * static_cast<size_t>(y * lv.Width + x) + 16; };
  struct Case { std::string Name; std::vector<uint8_t> Payload; std::string Message; };
  std::vector<Case> cases;
  cases.push_back({"action code out of range", good, "Invalid level data file (action code in cell)"});
  cases.back().Payload[action(5, 5)] = 13;
  cases.push_back({"exit walled in after loading", good, "(as loaded): the exit cannot be reached"});
  for (int x = 1; x <= 20; ++x) cases.back().Payload[action(x, 6)] = acWall;  // a band between start and exit
  cases.push_back({"cut short", std::vector<uint8_t>(good.begin(), good.end() - 9), "Stream read error"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    for (uint32_t method : {0u, 1u}) {
      std::string error;
      try {
        MakeLevelFile(c.Payload, method, "bad.lvl");
      } catch (const ECompileError& e) {
        error = e.what();
      }
      EXPECT_EQ(error.rfind("bad.lvl", 0), 0u) << error;
      EXPECT_NE(error.find(c.Message), std::string::npos) << "got: " << error;
    }
  }
  // a damaged container
  std::vector<uint8_t> file = MakeLevelFile(good, 1, "t.lvl");
  file.resize(file.size() / 2);
  EXPECT_THROW(LoadLevelFile(file, "t.lvl"), ECompileError);
}

// The newcomer rules of a first area, on the level that broke them all and on the shipped levels
// that have one.
TEST(LevelCompiler, NewcomerRulesOfTheFirstArea) {
  auto decor = DecorTable();
  const std::string crowded = std::string(KT_FIXTURES) + "/levels/crowded_first.txt";
  const std::string err = Error(ReadText(crowded));
  for (const char* rule : {"spots the player on", "can throw from", "is not met alone", "no energy field", "no heart"})
    EXPECT_NE(err.find(rule), std::string::npos) << rule << " in: " << err;

  for (int n : {1, 2}) {
    SCOPED_TRACE("level " + std::to_string(n));
    const Level lv = Compile(ReadText(LevelText(n)), LevelText(n), decor);
    ASSERT_FALSE(lv.FirstArea.Empty()) << "the level keeps its first area";
    const NewcomerReport r = CheckNewcomer(lv);
    EXPECT_TRUE(r.Faults.empty());
    ASSERT_FALSE(r.Way.empty());
    EXPECT_EQ(r.Way.front(), std::make_pair(lv.PlayerX, lv.PlayerY));
    size_t most = 0;
    for (auto& e : r.Engaging) most = std::max(most, e.size());
    EXPECT_LE(most, 2u);
    EXPECT_GE(most, 1u) << "the first area has a smoker to meet";
  }
  // the first level's first area ends with a pair
  const Level one = Compile(ReadText(LevelText(1)), LevelText(1), decor);
  EXPECT_GT(CheckNewcomer(one).FirstPair, 0);
}

TEST(LevelCompiler, NewcomerRulesFollowTheScreen) {
  // a smoker patrolling the start's row of an open hall spots the way and throws along it from
  // beyond the screen
  auto grid = Room();
  grid[2][13] = 'a';
  const std::string err =
      Error(Text(grid, "point a\nfirst 0 0 21 21\nlegend h heart\nlegend o energy\n") + "smoker a left 18 2 a\n");
  EXPECT_NE(err.find("off the screen"), std::string::npos) << err;
  EXPECT_NE(err.find("can throw from"), std::string::npos) << err;
  // without a `first` area the same level compiles
  EXPECT_EQ(Error(Text(grid, "point a\n") + "smoker a left 18 2 a\n"), "");
}

// A smoker that spots the player chases it as long as a path is left: the first level as it
// shipped carried its first room's smoker into the second room, where two more wait. Counted
// on the cells, exactly three engage there; with one of the pair gone, exactly two.
TEST(LevelCompiler, NewcomerRulesFollowTheChase) {
  auto decor = DecorTable();
  const std::string fixture = ReadText(std::string(KT_FIXTURES) + "/levels/chased_into_second_room.txt");
  const std::string pairSmoker = "smoker 12 17 right 13 17 12 17\n";
  ASSERT_NE(fixture.find(pairSmoker), std::string::npos);
  std::string onePair = fixture;
  onePair.erase(onePair.find(pairSmoker), pairSmoker.size());
  struct Case {
    const char* name;
    std::string text;
    size_t most;
  } cases[] = {{"as it shipped", fixture, 3}, {"one of the pair gone", onePair, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string err = Error(c.text);
    EXPECT_EQ(err.find("smokers engage on") != std::string::npos, c.most > 2) << err;
    if (c.most > 2) {
      EXPECT_NE(err.find("3 smokers engage on 10,14: two at most"), std::string::npos) << err;
    }
    EXPECT_NE(err.find("the first smoker (line 43) is not met alone"), std::string::npos) << err;
    // chasing or fleeing it may stand on the exit run behind the player, and throw from there
    EXPECT_NE(err.find("the smoker of line 43 can throw from 4,3 at 4,7 on the main way, off the screen"),
              std::string::npos)
        << err;
    // the same level without its first area compiles; its report counts the chase
    std::string open = c.text;
    open.erase(open.find("first 0 0 21 18\n"), 16);
    Level lv = Compile(open, "t.txt", decor);
    lv.FirstArea = {0, 0, 21, 18};
    const NewcomerReport r = CheckNewcomer(lv);
    size_t most = 0, at = 0;
    for (size_t w = 0; w < r.Engaging.size(); ++w)
      if (r.Engaging[w].size() > most) most = r.Engaging[w].size(), at = w;
    EXPECT_EQ(most, c.most);
    // the first room's smoker (patrolling 8,9 .. 8,10) is among them, in the second room
    EXPECT_EQ(r.Engaging[at].front(), 0);
    EXPECT_GE(r.Way[at].second, 14);
  }
}

// Doors: a patrol leg through a closed door is one the game skips, and is named; once the
// player opens the door, a smoker that spotted it in the left room follows it into the right one.
TEST(LevelCompiler, NewcomerRulesOpenDoorsAsThePlayerDoes) {
  auto grid = Room();
  for (int y = 1; y <= 20; ++y) grid[y][11] = '#';
  grid[10][11] = 'd';
  grid[15][5] = 'a';  // the left room's smoker, out of sight of the door
  grid[10][15] = '.';
  grid[17][17] = 'E';  // round the corner from the door
  for (int x = 12; x <= 16; ++x) grid[12][x] = '#';
  const std::string head = "point a\nlegend d door 0\nlegend D floor\n";
  const std::string leg = "smoker a up 5 12 14 10\n";
  struct Case {
    const char* name;
    char door;
    bool skipped;
  } cases[] = {{"a leg through the door", 'd', true}, {"the same leg without a door", 'D', false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto g = grid;
    g[10][11] = c.door;
    const std::string err = Error(Text(g, head + "first 0 0 21 21\n") + leg);
    EXPECT_EQ(err.find("the smoker of line 33 cannot walk from 5,12 to 14,10 with the doors closed: the game skips that leg") !=
                  std::string::npos,
              c.skipped)
        << err;
  }
  Level lv = Compile(Text(grid, head) + "smoker a up 5 13 a\n", "t.txt", DecorTable());
  lv.FirstArea = {0, 0, 21, 21};
  const NewcomerReport r = CheckNewcomer(lv);
  bool left = false, right = false;
  for (size_t w = 0; w < r.Way.size(); ++w) {
    if (r.Engaging[w].empty()) continue;
    left |= r.Way[w].first < 11;
    right |= r.Way[w].first > 11 && r.Way[w].second >= 14;  // out of sight of the door's left side
  }
  EXPECT_TRUE(left);
  EXPECT_TRUE(right) << "the chase goes through the door the player opened";
}
