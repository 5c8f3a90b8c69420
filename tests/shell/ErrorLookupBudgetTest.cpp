// The error lookup as the program runs it, with hostile error lists from the server over trace
// logs of a megabyte: every search and the whole walk end with an answer or the budget's error,
// and the cancel flag ends the walk of any list. The tests assert what ended the walk and the
// units it charged; times are printed, and a watchdog fails a walk that runs on by name.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

#include "OnlineTestSupport.h"
#include "shell/ErrorSolutions.h"
#include "shell/RegularExpressions.h"

namespace {

// 30,000 lines, "error" and "x" on many of them, never "notavailable" nor "z".
std::string TraceLogOfAMegabyte() {
  std::string s;
  std::mt19937 rng(3);
  const char* words[] = {"texture", "loaded", "error", "device", "mode", "800x600", "frame", "TGameLogic.DoFrame",
                         "Error:", "queue", "x", "aaaa", "1234567", "TGameLogic.Reset"};
  for (int line = 0; line < 30000; ++line) {
    s += "* Info:";
    const int n = 4 + static_cast<int>(rng() % 8);
    for (int w = 0; w < n; ++w) {
      s += ' ';
      s += words[rng() % std::size(words)];
    }
    s += "\r\n";
  }
  return s;
}

// Sets Cancel once `seconds` have passed (a walk that looks at it then ends as cancelled, which
// its test does not expect), and ends the process with the test's name should even that not
// end it. Far above what the walks take on a loaded machine under the sanitizers.
class TWatchdog {
public:
  explicit TWatchdog(int seconds = 120) : FThread([this, seconds] { Watch(seconds); }) {}
  ~TWatchdog() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FDone = true;
    }
    FWake.notify_all();
    FThread.join();
  }
  std::atomic<bool> Cancel{false};
  bool Fired() const { return Cancel.load(); }

private:
  void Watch(int seconds) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::unique_lock<std::mutex> lock(FMutex);
    if (FWake.wait_for(lock, std::chrono::seconds(seconds), [this] { return FDone; })) return;
    std::fprintf(stderr, "watchdog: %s.%s still runs after %d s: cancelling\n", test ? test->test_suite_name() : "?",
                 test ? test->name() : "?", seconds);
    Cancel = true;
    if (FWake.wait_for(lock, std::chrono::seconds(seconds), [this] { return FDone; })) return;
    std::fprintf(stderr, "watchdog: %s.%s did not end when cancelled\n", test ? test->test_suite_name() : "?",
                 test ? test->name() : "?");
    std::abort();
  }
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FDone = false;
  std::thread FThread;
};

// A list of the server's size limit whose every line has `expression`.
std::vector<TErrorListEntry> ListOf(const std::string& expression) {
  std::vector<TErrorListEntry> entries;
  size_t bytes = 0;
  for (int n = 0;; ++n) {
    const std::string line = "p" + std::to_string(n) + ".htm,N," + expression;
    bytes += line.size() + 2;
    if (bytes > kMaxErrorListBytes) break;
    TErrorListEntry e;
    EXPECT_TRUE(ParseErrorListLine(line, e));
    entries.push_back(std::move(e));
  }
  return entries;
}

// Lists that held the program for minutes, each over the log it was hostile on: searches that
// never try a start (the first set passes everywhere and the prefix nowhere, or the sets are
// too large for the vector scan) and a literal that is missing, over a megabyte; and one that
// backtracks within its own budget over a short log (over a long one its first search spends
// that budget and ends the walk as a failing expression).
struct THostile {
  const char* Expression;
  bool LongLog;
};
const THostile kHostiles[] = {
    {".{15}[\\x01-\\x05]", true},
    {"[r-z][r-z][r-z][r-z][r-z][r-z][r-z][r-z]", true},
    {"D3DERR_NEVERSEEN", true},
    {"(.*.)*#", false},
};

std::string ShortLog() {
  std::string s;
  for (int i = 0; i < 30; ++i) s += "* Info: Frame " + std::to_string(i) + ": textures, sounds and the level are ready\r\n";
  return s + "* Error: Direct3D device lost\r\n";
}

struct TWalkEnd {
  int Code = 0;  // 0: the walk ended without an error
  TErrorListWalk Walk;
  double Seconds = 0;
};

TWalkEnd Walk(const std::vector<TErrorListEntry>& entries, const std::string& log, const std::atomic<bool>* cancel,
              int64_t budget = kErrorLookupUnits) {
  TWalkEnd end;
  const auto t0 = std::chrono::steady_clock::now();
  try {
    WalkErrorList(entries, log, cancel, end.Walk, budget);
  } catch (const ERegularExpression& e) {
    end.Code = e.ErrorCode;
  }
  end.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return end;
}

TEST(ErrorListWalk, EveryHostileListEndsByTheWalksBudget) {
  const std::string longLog = TraceLogOfAMegabyte(), shortLog = ShortLog();
  for (const THostile& h : kHostiles) {
    const char* const expression = h.Expression;
    SCOPED_TRACE(expression);
    const std::string& log = h.LongLog ? longLog : shortLog;
    const std::vector<TErrorListEntry> entries = ListOf(expression);
    TWatchdog watchdog;
    const TWalkEnd end = Walk(entries, log, &watchdog.Cancel);
    std::printf("  walk %6.2f s  %6d of %zu lines  %11lld units  %s\n", end.Seconds, end.Walk.LinesSearched,
                entries.size(), static_cast<long long>(end.Walk.UnitsUsed), expression);
    EXPECT_FALSE(watchdog.Fired());
    EXPECT_EQ(end.Code, reeStepLimitExceeded);
    EXPECT_EQ(end.Walk.Matched, -1);
    // each line costs little: it is the walk's budget that ends it, well before the list's end
    EXPECT_GE(end.Walk.UnitsUsed, kErrorLookupUnits);
    EXPECT_GT(end.Walk.LinesSearched, 1);
    EXPECT_LT(static_cast<size_t>(end.Walk.LinesSearched), entries.size());
  }
}

// The flag ends the walk of every list: set before it, at the first line; set while it runs
// (a budget ten times the program's keeps it going meanwhile, and ends it with the budget's
// error should the flag go unread).
TEST(ErrorListWalk, TheCancelFlagEndsTheWalkOfEveryHostileList) {
  const std::string longLog = TraceLogOfAMegabyte(), shortLog = ShortLog();
  for (const THostile& h : kHostiles) {
    const char* const expression = h.Expression;
    SCOPED_TRACE(expression);
    const std::string& log = h.LongLog ? longLog : shortLog;
    const std::vector<TErrorListEntry> entries = ListOf(expression);
    std::atomic<bool> cancel{true};
    TWalkEnd end = Walk(entries, log, &cancel);
    EXPECT_EQ(end.Code, reeSearchCancelled);
    EXPECT_EQ(end.Walk.LinesSearched, 0);

    cancel = false;
    std::thread later([&cancel] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      cancel = true;
    });
    end = Walk(entries, log, &cancel, 10 * kErrorLookupUnits);
    later.join();
    std::printf("  cancelled after %5.2f s, %6d lines, %11lld units  %s\n", end.Seconds, end.Walk.LinesSearched,
                static_cast<long long>(end.Walk.UnitsUsed), expression);
    EXPECT_EQ(end.Code, reeSearchCancelled);
    EXPECT_LT(end.Walk.UnitsUsed, 10 * kErrorLookupUnits);
  }
}

class ErrorLookupBudget : public OnlineTest {};

TEST_F(ErrorLookupBudget, HostileListOverAMegabyteLogEndsEverySearchQuickly) {
  const char* const kFirst =
      "An error occurred during the execution of the program. Would you like the program to look at our "
      "errors&&solutions internet page if the error already is known and if there is a way to fix it?";
  const char* const kUnknown = "Sorry, this error is unknown. Would you like to send us an error report?";
  const std::string log = TraceLogOfAMegabyte();
  ASSERT_GT(log.size(), 1000000u);
  // What ends each search over that log: no match found, or the budget of one search.
  struct Case {
    const char* expression;
    bool budget;
  } const cases[] = {
      {"error.*notavailable", false},
      {".*x.*z", false},
      {"((a|a)+)+[bc]", true},
      {"(.+)*z", true},
      {"(.*)\\1\\1q", true},
      {"(a+)\\1*b", false},
      {"(\\w+)\\s\\1\\s\\1Q", true},
      {"^(.*?,){11}P", false},
      {"[a-z]*[a-z]*[a-z]*[a-z]*[a-z]*1q", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    WriteAll(Dir + "qv.log", log);
    Log("Boom", ltError);
    Serve("int/errors.txt", std::string("page.html,Y,") + c.expression + "\r\n");
    TErrorSolutions solutions;  // a fresh list for each expression
    Questions.clear();
    Pages.clear();
    Answers = {true, false};
    bool armed = true;
    const auto t0 = std::chrono::steady_clock::now();
    solutions.LookUpErrorSolution(armed, true, Ui);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    const std::string text = GetLogText();
    const bool budget = text.find("Error searching for a solution: TRegularExpression(exec): Step Limit Exceeded") !=
                        std::string::npos;
    std::printf("  lookup %8.1f ms  %-13s %s\n", ms, budget ? "step budget" : "no match", c.expression);
    EXPECT_EQ(budget, c.budget);
    EXPECT_EQ(text.find("Error searching for a solution: TRegularExpression(exec): Search Cancelled"),
              std::string::npos);
    EXPECT_LT(ms, 120000.0);  // hang guard only: each takes well under a second when quiet
    EXPECT_EQ(Questions, (std::vector<std::string>{kFirst, kUnknown}));
    EXPECT_TRUE(Pages.empty());
  }
}

}  // namespace
