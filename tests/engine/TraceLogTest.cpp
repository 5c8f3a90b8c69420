#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <set>
#include <thread>
#include <filesystem>
#include <vector>

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "support/Mounts.h"
#include "support/TestSupport.h"

namespace {
class TraceLog : public ::testing::Test {
protected:
  void SetUp() override {
    File = TestDir() + "qv.log";
    SetLogFile(File);
  }
  void TearDown() override { SetLogFile(""); }
  std::vector<std::string> Lines() {
    TStringList l;
    l.LoadFromFile(File);
    return l.Strings;
  }
  std::string File;
};
}  // namespace

TEST_F(TraceLog, SetLogFileCreatesEmptyFileAndKeepsExisting) {
  EXPECT_TRUE(FileExists(File));
  EXPECT_EQ(ReadAll(File), "");
  Log("x", ltInfo);
  SetLogFile(File);
  EXPECT_EQ(ReadAll(File), "* Info: x\r\n");
}

TEST_F(TraceLog, KindsAreMaskedAndCodesUnmasked) {
  struct Case { bool code; uint32_t kind; const char* line; } cases[] = {
      {false, 1, "* Info: t"},         {false, 2, "* Warning: t"},    {false, 0x83, "* Error: t"},
      {false, 4, "* Checkpoint: t"},   {false, 5, "* Note: t"},       {false, 6, "* Entering: t"},
      {false, 7, "* Exiting: t"},      {false, 8, "* Separator: t"},  {false, 9, "* Unknown: t"},
      {false, 0, "* Unknown: t"},      {false, 0x181, "* Unknown: t"}, // 0x181 & 0x7F = 1? no: 0x01 -> Info
      {true, 0x81060001, "* Msg 81060001: t"}, {true, 255, "* Unknown: t"}, {true, 256, "* Msg 00000100: t"},
      {true, 3, "* Error: t"},
  };
  cases[10].line = "* Info: t";  // Log masks with 0x7F: 0x181 becomes 1
  for (const Case& c : cases) {
    if (c.code) LogCode("t", c.kind);
    else Log("t", c.kind);
  }
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), std::size(cases));
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], cases[i].line) << i;
  EXPECT_NE(ReadAll(File).find("\r\n"), std::string::npos);
}

TEST_F(TraceLog, LogPlainJoinsPiecesUntilNextLineOrEnd) {
  LogPlain("1");
  LogPlain("2");
  Log("x", ltInfo);
  LogPlain("3");
  LogEnd();
  EXPECT_EQ(ReadAll(File), "! 12 !\r\n* Info: x\r\n! 3 !\r\n<*** End ***>\r\n");
}

TEST_F(TraceLog, LogBeginKeepsOnlyTheLastRun) {
  WriteAll(File, "old\r\n<*** Begin ***>\r\nA\r\n<*** End ***>\r\n<*** begin ***>\r\nB\r\n<*** End ***>\r\n");
  LogBegin();
  EXPECT_EQ(Lines(), (std::vector<std::string>{"<*** begin ***>", "B", "<*** End ***>", "<*** Begin ***>"}));
  // A file without a Begin line loses nothing.
  WriteAll(File, "a\r\nb\r\n");
  LogBegin();
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "b", "<*** Begin ***>"}));
}

TEST_F(TraceLog, ErrorsAndUnfinishedRunsAreFoundAndMarked) {
  // Clean runs: no errors.
  WriteAll(File, "<*** Begin ***>\r\n* Info: a\r\n<*** End ***>\r\n<*** Begin ***>\r\n");
  EXPECT_FALSE(LogHasErrors());
  // An Error line with leading blanks does not count; a lower-case "* msg" does.
  WriteAll(File, "<*** Begin ***>\r\n  * Error: a\r\n<*** End ***>\r\n");
  EXPECT_FALSE(LogHasErrors());
  WriteAll(File, "<*** Begin ***>\r\n* msg 81010003: a\r\n<*** End ***>\r\n");
  EXPECT_TRUE(LogHasErrors());
  MarkLogReported();
  EXPECT_FALSE(LogHasErrors());
  EXPECT_EQ(Lines()[1], "> msg 81010003: a");
  // A run without its End, then the new Begin.
  WriteAll(File, "<*** Begin ***>\r\n* Info: a\r\n<*** BEGIN ***>\r\n");
  EXPECT_TRUE(LogHasErrors());
  MarkLogReported();
  EXPECT_EQ(Lines(), (std::vector<std::string>{"<*** Begin ***>", "* Info: a", "<*** End ***>", "<*** BEGIN ***>"}));
  EXPECT_FALSE(LogHasErrors());
}

TEST_F(TraceLog, MarkingCutsLongLinesAndLongLinesElsewhereSurvive) {
  std::string longText(25000, 'q');
  Log(longText, ltError);
  Log(longText, ltInfo);
  EXPECT_EQ(Lines()[1], "* Info: " + longText);
  MarkLogReported();
  std::vector<std::string> l = Lines();
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].size(), 10001u);
  EXPECT_EQ(l[0].substr(0, 9), "> Error: ");
  EXPECT_EQ(l[1], "* Info: " + longText);
  EXPECT_EQ(GetLogText(), l[0] + "\r\n" + l[1] + "\r\n");
}

TEST_F(TraceLog, LogAndRaiseLogsContextButRaisesMessageAlone) {
  try {
    LogAndRaise("Failed", 0, "");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Failed");
  }
  try {
    LogAndRaise("Failed", 0x81010003, "Load");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Failed");
  }
  EXPECT_EQ(Lines(), (std::vector<std::string>{"* Error: Failed", "* Msg 81010003: Failed (Load)"}));
}

TEST_F(TraceLog, UnwritableLogDropsWritesSilently) {
  // No file name, a folder in the file's place, a full disk: nothing reaches the caller.
  SetLogFile("");
  EXPECT_NO_THROW(Log("x", ltInfo));
  std::string dir = TestDir();
  SetLogFile(dir);
  EXPECT_NO_THROW(Log("x", ltInfo));
  EXPECT_NO_THROW(LogBegin());
  EXPECT_NO_THROW(MarkLogReported());
  EXPECT_FALSE(LogHasErrors());
  EXPECT_EQ(GetLogText(), "");
  SetLogFile("/dev/full");
  EXPECT_NO_THROW(Log("x", ltInfo));
  EXPECT_NO_THROW(LogPlain("x"));
  EXPECT_NO_THROW(LogEnd());
  if (!RunningAsRoot()) {
    SetLogFile(File);
    Log("kept", ltInfo);
    chmod(File.c_str(), 0444);
    EXPECT_NO_THROW(Log("dropped", ltInfo));
    EXPECT_NO_THROW(LogBegin());
    chmod(File.c_str(), 0644);
    EXPECT_EQ(ReadAll(File), "* Info: kept\r\n");
  }
}

TEST_F(TraceLog, ConcurrentWritersLoseAndTearNoLine) {
  const int kThreads = 8, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) Log("thread " + std::to_string(t) + " line " + std::to_string(i), ltNote);
    });
  for (auto& th : threads) th.join();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  std::set<std::string> seen(lines.begin(), lines.end());
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kLines; ++i)
      EXPECT_TRUE(seen.count("* Note: thread " + std::to_string(t) + " line " + std::to_string(i)));
}

TEST_F(TraceLog, LogBeginKeepsAHugeLogBoundedAndDropsTheOldestLines) {
  SetLogKeepBytes(64 * 1024);
  // One run of 1 MB without an end: only its last lines are kept, cut at a line start.
  std::string big = "<*** Begin ***>\r\n";
  for (int i = 0; big.size() < (1u << 20); ++i) big += "* Info: line " + std::to_string(i) + "\r\n";
  big += "* Error: the last thing that went wrong\r\n";
  WriteAll(File, big);
  LogBegin();
  const std::string kept = ReadAll(File);
  EXPECT_LE(kept.size(), 64u * 1024 + 32);
  EXPECT_GT(kept.size(), 60u * 1024);
  EXPECT_EQ(kept.rfind("* Info: line ", 0), 0u);  // a whole line first
  EXPECT_NE(kept.find("* Error: the last thing that went wrong\r\n<*** Begin ***>\r\n"), std::string::npos);
  EXPECT_TRUE(LogHasErrors());
  const std::string text = GetLogText();  // read bounded too: the tail, from a line start
  EXPECT_GT(text.size(), 60u * 1024);
  EXPECT_TRUE(kept.size() >= text.size() && kept.compare(kept.size() - text.size(), text.size(), text) == 0);
  // Nothing is rewritten when nothing is dropped.
  WriteAll(File, "<*** Begin ***>\r\nB\r\n<*** End ***>\r\n");
  struct stat before {}, after {};
  ASSERT_EQ(stat(File.c_str(), &before), 0);
  LogBegin();
  ASSERT_EQ(stat(File.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"<*** Begin ***>", "B", "<*** End ***>", "<*** Begin ***>"}));
  SetLogKeepBytes(4u << 20);
}

TEST_F(TraceLog, WhatIsNoReadableFileIsNeverRewrittenNorWaitedFor) {
  // A FIFO without a reader: every call returns at once (it used to block for ever).
  const std::string fifo = TestDir() + "qv.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  WithWatchdog(120, [&] {  // a blocked open never returns: the watchdog names the test
    SetLogFile(fifo);
    LogBegin();
    Log("x", ltError);
    LogPlain("p");
    LogEnd();
    EXPECT_FALSE(LogHasErrors());
    EXPECT_EQ(GetLogText(), "");
    MarkLogReported();
  });
  struct stat st {};
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // An unreadable log keeps the previous run: the new run is only appended.
  if (!RunningAsRoot()) {
    SetLogFile(File);
    WriteAll(File, "<*** Begin ***>\r\nA\r\n<*** Begin ***>\r\nB\r\n");
    chmod(File.c_str(), 0200);
    LogBegin();
    chmod(File.c_str(), 0644);
    EXPECT_EQ(ReadAll(File), "<*** Begin ***>\r\nA\r\n<*** Begin ***>\r\nB\r\n<*** Begin ***>\r\n");
  }
}

TEST_F(TraceLog, KilledDuringTheRewriteTheLogHoldsTheOldOrTheNewRuns) {
  // 2 MB of old runs so that the rewrite takes a while; each child cuts the log once.
  std::string old = "<*** Begin ***>\r\nold run\r\n<*** End ***>\r\n<*** Begin ***>\r\n";
  for (int i = 0; old.size() < (2u << 20); ++i) old += "* Info: previous run line " + std::to_string(i) + "\r\n";
  old += "<*** End ***>\r\n";
  const std::string cut = old.substr(old.find("<*** Begin ***>", 10)) + "<*** Begin ***>\r\n";
  WriteAll(File, old);
  const std::string dir = ExtractFilePath(File);
  KillDuringSaves(
      20, 30000,
      [&](int i) {
        if (i > 0) ::pause();  // one rewrite per child
        SetLogFile(File);
        LogBegin();
      },
      [&] {
        const std::string now = ReadAll(File);
        EXPECT_TRUE(now == old || now == cut) << now.size();
        RemoveStaleTempFiles(dir, {"qv.log"}, {});
        WriteAll(File, old);
      });
  int left = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) left += e.path().filename() != "qv.log";
  EXPECT_EQ(left, 0) << "temporary files of the killed rewrites stay behind";
}

// The log is the one file written in place: a link in its place, symbolic or a second (hard)
// name of another file, is replaced by a new log at the start; one that turns up during the run
// takes no line and gives no line to a report.
TEST_F(TraceLog, ALinkInTheLogsPlaceIsReplacedAndNeverWrittenThrough) {
  const std::string dir = ExtractFilePath(File);
  const std::string other = dir + "other.txt";
  const std::string secret = "<*** Begin ***>\r\n* Error: the other file's line\r\n";
  for (const char* kind : {"symbolic", "hard"}) {
    SCOPED_TRACE(kind);
    SetLogFile("");
    std::remove(File.c_str());
    WriteAll(other, secret);
    ASSERT_EQ(std::string(kind) == "hard" ? link(other.c_str(), File.c_str()) : symlink(other.c_str(), File.c_str()), 0);
    SetLogFile(File);
    LogBegin();
    Log("ours", ltInfo);
    LogEnd();
    EXPECT_EQ(ReadAll(File),
              "<*** Begin ***>\r\n* Warning: The trace log was a link to another file; a new log was started\r\n"
              "* Info: ours\r\n<*** End ***>\r\n");
    EXPECT_EQ(ReadAll(other), secret);

    // Planted while the program runs.
    std::remove(File.c_str());
    ASSERT_EQ(std::string(kind) == "hard" ? link(other.c_str(), File.c_str()) : symlink(other.c_str(), File.c_str()), 0);
    Log("dropped", ltError);
    LogPlain("p");
    LogEnd();
    EXPECT_FALSE(LogHasErrors());
    EXPECT_EQ(GetLogText(), "");
    MarkLogReported();
    EXPECT_EQ(ReadAll(other), secret);
    std::remove(File.c_str());
  }
}

namespace {
// The run limits of a test, the program's own again afterwards.
struct TRunLimits {
  TRunLimits(std::size_t cap, std::size_t ceiling) { SetLogRunLimits(cap, ceiling); }
  ~TRunLimits() { SetLogRunLimits(1u << 20, 2u << 20); }
};

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }
bool IsWarningOrError(const std::string& s) {
  return StartsWith(s, "* Warning: ") || StartsWith(s, "* Error: ") || StartsWith(s, "* Msg ");
}
}  // namespace

// A run that logs on and on: past the cap only warnings and errors, past the ceiling nothing but
// its end; each limit said once, and the next start keeps the whole run.
TEST_F(TraceLog, ARunsLogStopsAtItsCapAndItsWarningsAtTheCeiling) {
  struct Case {
    std::size_t cap, ceiling;  // 0: the program's own
    const char *capLine, *ceilingLine;
  } cases[] = {
      {4096, 8192, "* Warning: This run's log has reached 4 KB: from here on only its warnings and errors are written",
       "* Warning: This run's log has reached 8 KB: nothing more is written until it ends"},
      {0, 0, "* Warning: This run's log has reached 1 MB: from here on only its warnings and errors are written",
       "* Warning: This run's log has reached 2 MB: nothing more is written until it ends"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.capLine);
    std::optional<TRunLimits> limits;
    if (c.cap) limits.emplace(c.cap, c.ceiling);
    const std::size_t cap = c.cap ? c.cap : 1u << 20, ceiling = c.ceiling ? c.ceiling : 2u << 20;
    WriteAll(File, "<*** Begin ***>\r\n* Info: the previous run\r\n<*** End ***>\r\n");
    const std::size_t previous = ReadAll(File).size();
    LogBegin();
    // Each round: a state trace, an info line, a warning, an error code, a page note.
    const std::string filler(cap / 64, 'f');
    for (int i = 0; i < 400; ++i) {
      LogPlain(std::to_string(i % 10));
      Log("info " + std::to_string(i) + " " + filler, ltInfo);
      Log("warning " + std::to_string(i) + " " + filler, ltWarning);
      LogCode("code " + std::to_string(i), 0x81010003);
      LogPageNote("dialog", "note " + std::to_string(i));
    }
    LogPlain("open");
    LogEnd();
    const std::string text = ReadAll(File);
    EXPECT_LE(text.size() - previous, ceiling + 400);
    std::vector<std::string> lines = Lines();
    const auto at = [&](const char* line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
    const std::size_t capAt = at(c.capLine), ceilingAt = at(c.ceilingLine);
    ASSERT_LT(ceilingAt, lines.size());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), c.capLine), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), c.ceilingLine), 1);
    // before the cap: every kind, within the cap
    std::size_t before = 0;
    for (std::size_t i = 3; i < capAt; ++i) before += lines[i].size() + 2;
    EXPECT_LE(before, cap);
    EXPECT_GT(before, cap - cap / 16);
    EXPECT_EQ(lines[4], "! 0 !");  // the trace piece closed by the next line, as ever
    EXPECT_EQ(lines[8], "* Note: note 0");
    // between the limits: warnings and errors only, and they fill the room
    ASSERT_LT(capAt + 1, ceilingAt);
    for (std::size_t i = capAt + 1; i < ceilingAt; ++i) EXPECT_TRUE(IsWarningOrError(lines[i])) << lines[i];
    std::size_t between = 0;
    for (std::size_t i = capAt; i < ceilingAt; ++i) between += lines[i].size() + 2;
    EXPECT_GT(before + between, ceiling - cap / 16);
    // after the ceiling: the left-out notes and the end, always
    EXPECT_EQ(std::vector<std::string>(lines.begin() + std::ptrdiff_t(ceilingAt) + 1, lines.end()),
              (std::vector<std::string>{"* Note: 399 further page notes were left out (each kind is noted once per run)",
                                        "<*** End ***>"}));
    EXPECT_TRUE(LogHasErrors());
    // the next start keeps the whole run
    LogBegin();
    EXPECT_EQ(ReadAll(File), text.substr(previous) + "<*** Begin ***>\r\n");
  }
}

TEST_F(TraceLog, PageNotesAreWrittenOncePerKindAndRunAndTheRestCounted) {
  LogBegin();
  for (int i = 0; i < 50; ++i) {
    LogPageNote("dialog", "dialog " + std::to_string(i));
    if (i < 3) LogPageNote("leave", "leave " + std::to_string(i));
  }
  for (int k = 0; k < 100; ++k) LogPageNote("kind " + std::to_string(k), "kind " + std::to_string(k));
  LogEnd();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u + 64u + 2u);
  EXPECT_EQ(lines[1], "* Note: dialog 0");
  EXPECT_EQ(lines[2], "* Note: leave 0");
  EXPECT_EQ(lines[3], "* Note: kind 0");
  EXPECT_EQ(lines[64], "* Note: kind 61");  // a bounded number of kinds
  EXPECT_EQ(lines[65], "* Note: 89 further page notes were left out (each kind is noted once per run)");
  EXPECT_EQ(lines[66], "<*** End ***>");
  // a new run notes again; a run that refused none says nothing of it
  LogBegin();
  LogPageNote("dialog", "again");
  LogEnd();
  lines = Lines();
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"<*** Begin ***>", "* Note: again", "<*** End ***>"}));
}

namespace {
bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}
}  // namespace

// Every cut the log makes falls between characters: one huge line, a line joined from LogPlain
// pieces, and the short excerpts of outside text (alerts, page names, download errors).
TEST_F(TraceLog, EveryCutFallsOnAWholeCharacter) {
  const std::string euro = "\xE2\x82\xAC";
  // `lead`: one-byte characters before the others
  auto expectCut = [](const std::string& kept, const std::string& text, size_t max, size_t charBytes, size_t lead = 0) {
    ASSERT_GE(kept.size(), 3u);
    EXPECT_EQ(kept.substr(kept.size() - 3), "...");
    const std::string body = kept.substr(0, kept.size() - 3);
    EXPECT_TRUE(IsUtf8(kept));
    ASSERT_GE(body.size(), std::min(lead, max));
    EXPECT_EQ((body.size() - std::min(lead, body.size())) % charBytes, 0u);
    EXPECT_LE(body.size(), max);
    EXPECT_GT(body.size() + charBytes, max);  // no more than the one character is left out
    EXPECT_EQ(text.compare(0, body.size(), body), 0);
  };
  {
    SCOPED_TRACE("one line");
    std::string text;
    while (text.size() < 200 * 1024) text += euro;
    Log(text, ltWarning);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    expectCut(lines[0].substr(std::strlen("* Warning: ")), text, 64 * 1024, 3);
  }
  {
    SCOPED_TRACE("joined pieces");
    WriteAll(File, "");
    std::string piece;
    while (piece.size() < 40 * 1024) piece += euro;
    for (int i = 0; i < 5; ++i) LogPlain(piece);
    Log("after", ltInfo);
    LogPlain("1");
    LogPlain("2");
    LogEnd();
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    ASSERT_EQ(lines[0].rfind("! ", 0), 0u);
    ASSERT_EQ(lines[0].substr(lines[0].size() - 2), " !");
    std::string joined;
    for (int i = 0; i < 5; ++i) joined += piece;
    expectCut(lines[0].substr(2, lines[0].size() - 4), joined, 64 * 1024, 3);
    EXPECT_EQ(lines[1], "* Info: after");
    EXPECT_EQ(lines[2], "! 12 !");  // the next line starts afresh
    EXPECT_EQ(lines[3], "<*** End ***>");
  }
  for (const std::string ch : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
    SCOPED_TRACE("excerpt of " + std::to_string(ch.size()) + "-byte characters");
    std::string text;
    for (int i = 0; i < 40; ++i) text += ch;
    for (size_t max : {1u, 2u, 3u, 5u, 59u, 60u, 61u}) {
      SCOPED_TRACE(max);
      expectCut(TextExcerpt(text, max), text, max, ch.size());
      expectCut(TextExcerpt("a" + text, max), "a" + text, max, ch.size(), 1);
    }
  }
}

TEST_F(TraceLog, WritersOnManyThreadsShareOneCapAndOneNotePerKind) {
  TRunLimits limits(16 * 1024, 32 * 1024);
  LogBegin();
  const int kThreads = 8, kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        const std::string id = std::to_string(t) + "." + std::to_string(i);
        Log("info " + id, ltInfo);
        Log("warning " + id, ltWarning);
        LogPageNote(std::to_string(i % 3), "note " + id);
      }
    });
  for (auto& th : threads) th.join();
  LogEnd();
  EXPECT_LE(ReadAll(File).size(), 32u * 1024 + 400);
  const std::vector<std::string> lines = Lines();
  int capLines = 0, ceilingLines = 0, notes = 0;
  bool capped = false;
  for (const std::string& s : lines) {
    capLines += s.find("has reached 16 KB") != std::string::npos;
    ceilingLines += s.find("has reached 32 KB") != std::string::npos;
    if (StartsWith(s, "* Note: note ")) ++notes;
    if (capped && s != "<*** End ***>" && s.find("further page notes") == std::string::npos) {
      EXPECT_TRUE(IsWarningOrError(s)) << s;
    }
    capped = capped || capLines > 0;
    EXPECT_TRUE(s == "<*** Begin ***>" || s == "<*** End ***>" || StartsWith(s, "* ")) << s;  // none torn
  }
  EXPECT_EQ(capLines, 1);
  EXPECT_EQ(ceilingLines, 1);
  EXPECT_EQ(notes, 3);
  EXPECT_EQ(lines[lines.size() - 2], "* Note: " + std::to_string(kThreads * kLines - 3) +
                                         " further page notes were left out (each kind is noted once per run)");
  EXPECT_EQ(lines.back(), "<*** End ***>");
  EXPECT_FALSE(LogHasErrors());  // the limits' own lines are no errors of the run
}

// A disk that fills up during a run cannot keep the run from ending: the lines that would take
// the end's room are dropped, the end marker is written, and the next start finds no crash.
TEST_F(TraceLog, ARunOnADiskThatFillsUpStillEnds) {
  const std::string disk = TestDir() + "small/";
  ForceDirectories(disk);
  std::string why;
  auto small = TScopedMount::SmallDisk(disk, 64 * 1024, why);
  if (!small) GTEST_SKIP() << why;
  File = disk + "qv.log";
  SetLogFile(File);
  LogBegin();
  Log("a run", ltInfo);
  ASSERT_TRUE(TScopedMount::Fill(disk + "filler"));
  for (int i = 0; i < 200; ++i) Log("a line on a full disk " + std::to_string(i), ltWarning);
  LogPlain("7");
  LogPageNote("kind", "a page note");
  LogPageNote("kind", "left out");
  LogEnd();
  DeleteFile(disk + "filler");  // the space comes back
  const std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "<*** End ***>");
  EXPECT_FALSE(LogHasErrors());
  LogBegin();
  EXPECT_FALSE(LogHasErrors()) << GetLogText();
  SetLogFile("");
}
