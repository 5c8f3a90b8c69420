#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "game/KTGlobal.h"
#include "game/SaveQueue.h"
#include "support/TestSupport.h"

// The leak check of a sanitizer build cannot stop the parent's threads from a forked child and
// says so: the child of the single-instance test ends without it.
namespace {
volatile int InForkedChild = 0;
}
extern "C" int __lsan_is_turned_off() { return InForkedChild; }

namespace {

// Initialises the module with its folders under the test's scratch folder.
struct GlobalsFixture : ::testing::Test {
  std::string Dir;
  void SetUp() override {
    Dir = TestDir();
    setenv("XDG_DATA_HOME", (Dir + "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (Dir + "cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", Dir.c_str(), 1);
    UninstallDone = false;
  }
  void TearDown() override { DoneGlobals(); }
};

const float kPi = static_cast<float>(M_PI);

}  // namespace

TEST_F(GlobalsFixture, FoldersFollowXdgAndFallBackToTheProgramFolder) {
  InitGlobals("");
  EXPECT_EQ(UserDataDir, Dir + "data/Orvalent/QV/");
  EXPECT_EQ(CommonDataDir, Dir + "cache/Orvalent/");
  EXPECT_TRUE(DirectoryExists(UserDataDir));
  EXPECT_FALSE(FileExists(CommonDataDir + "test.txt"));  // the write test leaves nothing behind
  EXPECT_NE(HostsListThread, nullptr);
  DoneGlobals();

  // A folder that cannot be made (its parent is a file) gives the program folder.
  WriteAll(Dir + "file", "x");
  setenv("XDG_CACHE_HOME", (Dir + "file/cache").c_str(), 1);
  setenv("XDG_DATA_HOME", (Dir + "file/data").c_str(), 1);
  InitGlobals("");
  EXPECT_EQ(CommonDataDir, ProgramDir());
  EXPECT_EQ(UserDataDir, ProgramDir());
}

TEST_F(GlobalsFixture, UninstallDeletesTheUsersFilesAndStartsNoFetch) {
  std::string user = Dir + "data/Orvalent/QV/", common = Dir + "cache/Orvalent/";
  ForceDirectories(user);
  ForceDirectories(common);
  for (const char* f : {"11.lvl", "12.lvl", "14.lvl", "11.scn", "env.dat", "last.gmp", "mybest.gmp",
                        "worldbest.gmp", "dip.dat", "qv.log"})
    WriteAll(user + f, "x");
  for (const char* f : CommonDataFileNames) WriteAll(common + f, "x");
  WriteAll(common + "other.wav", "x");

  InitGlobals("-UNINSTALL");
  EXPECT_TRUE(UninstallDone);
  EXPECT_EQ(HostsListThread, nullptr);
  for (const char* f : {"11.lvl", "12.lvl", "11.scn", "env.dat", "last.gmp", "mybest.gmp", "worldbest.gmp", "dip.dat"})
    EXPECT_FALSE(FileExists(user + f)) << f;
  EXPECT_TRUE(FileExists(user + "14.lvl"));  // the numbered run ends at the first gap
  EXPECT_FALSE(FileExists(user + "qv.log"));  // the trace log goes with the rest
  for (const char* f : CommonDataFileNames) EXPECT_FALSE(FileExists(common + f)) << f;
  EXPECT_TRUE(FileExists(common + "other.wav"));
}

TEST_F(GlobalsFixture, CountUserLevelsStopsAtTheFirstGap) {
  InitGlobals("");
  EXPECT_EQ(CountUserLevels(), 10);
  for (const char* f : {"11.lvl", "12.lvl", "14.lvl"}) WriteAll(UserDataDir + f, "x");
  EXPECT_EQ(CountUserLevels(), 12);
  WriteAll(UserDataDir + "13.lvl", "x");
  EXPECT_EQ(CountUserLevels(), 14);
}

TEST_F(GlobalsFixture, SecondInstanceShowsTheMessageAndEnds) {
  InitGlobals("");
  {
    // The save worker's thread waits while the child is forked: the child's exit must not hang.
    TDeferredSaves deferred;
    RunOrQueueSave([] {});
  }
  WaitForSaves();
  ASSERT_TRUE(AcquireSingleInstance());
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child is the second instance: its own lock attempt must fail.
    InForkedChild = 1;
    ReleaseSingleInstance();  // drops only the child's copy of the descriptor
    close(fds[0]);
    ErrorMessageHook = [&](const std::string& text) { (void)!write(fds[1], text.data(), text.size()); };
    CheckSingleInstance();
    _exit(3);  // not reached when the guard works
  }
  close(fds[1]);
  std::string message;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) message.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(message, "Another instance of Kestrune is already running.\rApplication will close.");
  ReleaseSingleInstance();
}

TEST(KTGlobalMath, FalloffOfVectorAndDistance) {
  InitGlobals("");
  struct { float dx, dy, want; } cases[] = {
      {6, 8, 0},     {3, 4, 0.625f}, {0, 0, 1},      {1, 1, 1},  {-3, -4, 0.625f},
      {9.98f, 0, 0}, {0, 7, 0.375f}, {1e30f, 0, 0},  {NAN, 0, 0},
  };
  for (auto& c : cases) EXPECT_FLOAT_EQ(FalloffOfVector(c.dx, c.dy), c.want) << c.dx << "," << c.dy;
  EXPECT_FLOAT_EQ(FalloffOfDistance(2), 1);
  EXPECT_FLOAT_EQ(FalloffOfDistance(6), 0.5f);
  EXPECT_FLOAT_EQ(FalloffOfDistance(10), 0);
  DoneGlobals();
}

TEST(KTGlobalMath, PingPongRunsUpAndDown) {
  EXPECT_EQ(PingPong(7, 5), 2);
  EXPECT_EQ(PingPong(10, 5), 0);
  const int want[] = {0, 1, 2, 2, 1, 0, 0, 1};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(PingPong(i, 3), want[i]) << i;
  EXPECT_EQ(PingPong(-1, 3), 0);  // never outside 0..N-1
  EXPECT_EQ(PingPong(5, 0), 0);
}

TEST(KTGlobalMath, FastCosAndSinTakeNegativeAndLargeAngles) {
  InitGlobals("");
  struct { float a; float cos, sin; } cases[] = {
      {0, 1, 0},           {kPi / 2, 0, 1},   {-kPi / 2, 0, -1},  {-kPi, -1, 0},
      {-3 * kPi / 2, 0, 1}, {2 * kPi, 1, 0},   {-0.01f, 1, 0},     {100 * kPi, 1, 0},
  };
  for (auto& c : cases) {
    EXPECT_NEAR(FastCos(c.a), c.cos, 2e-2) << c.a;
    EXPECT_NEAR(FastSin(c.a), c.sin, 2e-2) << c.a;
  }
  // -0.01 rad is -0.57 degrees: entry 359.
  EXPECT_FLOAT_EQ(FastSin(-0.01f), SinTable[359]);
  EXPECT_FLOAT_EQ(FastCos(-kPi / 3), CosTable[300]);
  EXPECT_FLOAT_EQ(FastCos(1e30f), FastCos(1e30f));  // huge angles stay inside the table
  DoneGlobals();
}

TEST(KTGlobalMath, AngleOfMeasuresFromPlusYTowardsPlusX) {
  struct { float dx, dy, want; } cases[] = {
      {0, 1, 2 * kPi},  // dy > 0, dx <= 0: 2 pi - arctan(0)
      {1, 1, kPi / 4},
      {1, 0, kPi / 2},
      {-1, 0, -kPi / 2},
      {0, -1, kPi},
      {-1, -1, 5 * kPi / 4},
      {1, -1, 3 * kPi / 4},
      {-1, 1, 7 * kPi / 4},
  };
  for (auto& c : cases) EXPECT_NEAR(AngleOf(c.dx, c.dy), c.want, 1e-5) << c.dx << "," << c.dy;
}

TEST(KTGlobal, ScanCodesErrorTextsAndResources) {
  struct { int code; char want; } keys[] = {{2, '1'}, {11, '0'}, {16, 'Q'}, {25, 'P'}, {30, 'A'}, {38, 'L'},
                                            {44, 'Z'}, {50, 'M'}, {57, ' '}, {1, 0},   {12, 0},   {26, 0},
                                            {39, 0},   {51, 0},   {58, 0},   {255, 0}, {-1, 0}};
  for (auto& k : keys) EXPECT_EQ(ScanCodeChar(k.code), k.want) << k.code;
  EXPECT_EQ(DirectXErrorText(0x81020002u), "Could not find any 3D hardware accelerated DirectX 8 device.");
  EXPECT_EQ(DirectXErrorText(0), "Unrecognized Error");
  EXPECT_THROW(OpenGfxResource("GFX", "no_such_image.png"), EResNotFound);
  EXPECT_STREQ(Countries[0], "World");
  EXPECT_STREQ(Countries[207], "Switzerland");
  EXPECT_STREQ(Countries[243], "Zimbabwe");
}

TEST(KTGlobal, SpriteListKeepsRecordsInPlace) {
  TSimpleSpriteList list;
  EXPECT_EQ(list.Add(), 0);
  TSimpleSprite* first = list.Get(0);
  first->X = 4;
  for (int i = 1; i < 100; ++i) EXPECT_EQ(list.Add(), i);
  EXPECT_EQ(list.Get(0), first);  // growing the list does not move a record
  EXPECT_EQ(list.Get(99)->X, 0);  // new records are zeroed
  list.Delete(0);
  EXPECT_EQ(list.Count(), 99);
  EXPECT_THROW(list.Get(99), EListError);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}
