// The program's own files: only regular files are opened (a FIFO or a folder in a file's place
// must neither block nor be taken for the file), and what interrupted saves leave is cleared.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "support/TestSupport.h"

TEST(OwnFiles, AFifoOrAFolderInAFilesPlaceIsRefusedAtOnce) {
  const std::string dir = TestDir();
  ASSERT_EQ(mkfifo((dir + "fifo").c_str(), 0644), 0);
  ASSERT_TRUE(ForceDirectories(dir + "folder"));
  WithWatchdog(120, [&] {  // a blocked open never returns: the watchdog names the test
    for (const char* name : {"fifo", "folder"}) {
      SCOPED_TRACE(name);
      const std::string path = dir + name;
      std::string bytes;
      EXPECT_FALSE(ReadFileBytes(path, bytes));
      EXPECT_THROW(TFileStream(path, fmOpenRead), EFOpenError);
      EXPECT_THROW(TFileStream(path, fmOpenReadWrite), EFOpenError);
      EXPECT_THROW(TFileStream(path, fmCreate), EFCreateError);
      TStringList l;
      EXPECT_THROW(l.LoadFromFile(path), EFOpenError);
      EXPECT_LT(OpenRegularFile(path, O_WRONLY), 0);
    }
  });
  // A save replaces a FIFO with the file, and fails (leaving it) on a folder.
  EXPECT_TRUE(SaveFileAtomically(dir + "fifo", "data"));
  EXPECT_EQ(ReadAll(dir + "fifo"), "data");
  EXPECT_FALSE(SaveFileAtomically(dir + "folder", "data"));
  EXPECT_TRUE(DirectoryExists(dir + "folder"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);  // no temporary file left
}

TEST(OwnFiles, ReadFileBytesStopsAtItsLimit) {
  const std::string dir = TestDir();
  WriteAll(dir + "f", std::string(100000, 'x'));
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(dir + "f", bytes, 70000));
  EXPECT_EQ(bytes.size(), 70000u);
  ASSERT_TRUE(ReadFileBytes(dir + "f", bytes));
  EXPECT_EQ(bytes.size(), 100000u);
}

TEST(OwnFiles, StaleTemporaryFilesOfOurSavesAreRemovedOnlyWhenTheirProcessIsGone) {
  const std::string dir = TestDir();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);  // a process id that is gone
  const std::string dead = std::to_string(child), alive = std::to_string(getppid());
  const std::string mine = std::to_string(getpid());
  struct Case { std::string name; bool removed; } cases[] = {
      {"env.dat.tmp" + dead, true},
      {"ENV.DAT.tmp" + dead, true},
      {"14.lvl.tmp" + dead, true},
      {"env.dat.tmp" + alive, false},     // its save may still be under way
      {"env.dat.tmp" + mine, false},      // this process's own
      {"notes.txt.tmp" + dead, false},    // not one of ours
      {"env.dat.tmp", false},             // no process number
      {"env.dat.tmp12x", false},
      {"env.dat", false},
  };
  for (const Case& c : cases) WriteAll(dir + c.name, "x");
  ASSERT_TRUE(ForceDirectories(dir + "last.gmp.tmp" + dead));  // a folder is left alone
  EXPECT_EQ(RemoveStaleTempFiles(dir, {"env.dat", "last.gmp"}, {".lvl"}), 2 + 1);
  for (const Case& c : cases) EXPECT_EQ(FileExists(dir + c.name), !c.removed) << c.name;
  EXPECT_TRUE(DirectoryExists(dir + "last.gmp.tmp" + dead));
  EXPECT_EQ(RemoveStaleTempFiles(dir + "missing/", {"env.dat"}, {}), 0);
}

// A link in place of one of our files: a symbolic link (to a file with known bytes, or to
// nothing) is never followed, and a save replaces the link, never writing its target. A hard
// link is a second name of the same file: a save gives our name a new file and leaves the other
// name's bytes as they were.
TEST(OwnFiles, ALinkInAFilesPlaceIsNeverFollowed) {
  const std::string dir = TestDir();
  const std::string target = dir + "target";
  WriteAll(target, "the other file");
  struct stat before {};
  ASSERT_EQ(stat(target.c_str(), &before), 0);
  ASSERT_EQ(symlink(target.c_str(), (dir + "link").c_str()), 0);
  ASSERT_EQ(symlink((dir + "nothing").c_str(), (dir + "dangling").c_str()), 0);
  for (const char* name : {"link", "dangling"}) {
    SCOPED_TRACE(name);
    const std::string path = dir + name;
    std::string bytes;
    EXPECT_FALSE(ReadFileBytes(path, bytes));
    EXPECT_THROW(TFileStream(path, fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(path, fmOpenReadWrite), EFOpenError);
    EXPECT_THROW(TFileStream(path, fmCreate), EFCreateError);
    for (int flags : {O_RDONLY, O_WRONLY | O_APPEND, O_WRONLY | O_CREAT, O_RDWR | O_CREAT | O_TRUNC}) {
      EXPECT_LT(OpenRegularFile(path, flags), 0) << flags;
      EXPECT_EQ(errno, ELOOP);
    }
    EXPECT_TRUE(IsSymbolicLink(path));
  }
  EXPECT_FALSE(FileExists(dir + "nothing"));  // no open made the dangling link's target

  // A save replaces each link; a link planted at the save's temporary name is not written
  // through either.
  ASSERT_EQ(symlink(target.c_str(), (dir + "saved.tmp" + std::to_string(getpid())).c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), (dir + "saved").c_str()), 0);
  for (const char* name : {"link", "dangling", "saved"}) {
    EXPECT_TRUE(SaveFileAtomically(dir + name, std::string("ours")));
    EXPECT_FALSE(IsSymbolicLink(dir + name));
    EXPECT_EQ(ReadAll(dir + name), "ours");
  }
  const int fresh = CreateNewFile(dir + "link", O_WRONLY);
  EXPECT_GE(fresh, 0);
  close(fresh);
  EXPECT_EQ(FileSize(dir + "link"), 0);
  EXPECT_FALSE(FileExists(dir + "nothing"));
  EXPECT_EQ(ReadAll(target), "the other file");
  struct stat after {};
  ASSERT_EQ(stat(target.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_nlink, 1u);

  // Files that are not ours are read through a link when asked for.
  ASSERT_EQ(symlink(target.c_str(), (dir + "foreign").c_str()), 0);
  TFileStream foreign(dir + "foreign", fmOpenRead | fmFollowLinks);
  EXPECT_EQ(foreign.GetSize(), 14);

  // A hard link: our save gives our name a new file; the other name keeps its bytes.
  ASSERT_EQ(link(target.c_str(), (dir + "hard").c_str()), 0);
  EXPECT_TRUE(SaveFileAtomically(dir + "hard", std::string("ours")));
  EXPECT_EQ(ReadAll(dir + "hard"), "ours");
  EXPECT_EQ(ReadAll(target), "the other file");
}
