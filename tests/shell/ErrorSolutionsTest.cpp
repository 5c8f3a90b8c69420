#include "shell/ErrorSolutions.h"

#include <dirent.h>
#include <unistd.h>

#include "OnlineTestSupport.h"
#include "engine/Inet.h"

namespace {

const char* const kFirstQuestion =
    "An error occurred during the execution of the program. Would you like the program to look at our "
    "errors&&solutions internet page if the error already is known and if there is a way to fix it?";
const char* const kUnknown = "Sorry, this error is unknown. Would you like to send us an error report?";
const char* const kNoList = "Unable to get errors list from internet. Maybe your internet connection is not established.";

TEST(ErrorListLine, FieldsAndSkippedLines) {
  struct Case {
    const char* line;
    bool usable;
    const char* page;
    bool report;
    const char* expression;
  } cases[] = {
      {" disk.html , Y , Disk full", true, "disk.html", true, "Disk full"},
      {"a.html,yes,x", true, "a.html", true, "x"},
      {"a.html,N,x", true, "a.html", false, "x"},
      {"a.html,,x", true, "a.html", false, "x"},
      {"a.html,Y,one,two", true, "a.html", true, "one,two"},
      {"a.html,Y,", true, "a.html", true, ""},
      {"a.html,Y", false, "", false, ""},
      {"no commas", false, "", false, ""},
  };
  for (const Case& c : cases) {
    TErrorListEntry e;
    ASSERT_EQ(ParseErrorListLine(c.line, e), c.usable) << c.line;
    if (!c.usable) continue;
    EXPECT_EQ(e.Page, c.page) << c.line;
    EXPECT_EQ(e.OffersReport, c.report) << c.line;
    EXPECT_EQ(e.Expression, c.expression) << c.line;
  }
  TErrorListEntry e;
  ASSERT_TRUE(ParseErrorListLine("p,Y," + std::string(1500, 'a'), e));
  EXPECT_EQ(e.Expression.size(), 1000u);
  // a list of the limit is read whole; over it, it ends with its last whole line
  const std::string head = "a.html,N,x\r\n", tail = "\r\nb.html,N,cut here";
  const std::string list = head + std::string(kMaxErrorListBytes - head.size() - tail.size(), ' ') + tail;
  ASSERT_EQ(list.size(), kMaxErrorListBytes);
  EXPECT_EQ(ParseErrorList(list).size(), 2u);
  const std::vector<TErrorListEntry> entries = ParseErrorList(list + "!");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Page, "a.html");
}

class ErrorLookup : public OnlineTest {
protected:
  void LogError(const std::string& text) { Log(text, ltError); }
  void Lookup() {
    bool armed = true;
    Solutions.LookUpErrorSolution(armed, true, Ui);
    EXPECT_FALSE(armed);
  }
  // A lookup of `error` with a list of its own from the server, the answers given in turn;
  // returns the list as read.
  std::unique_ptr<TErrorSolutions> LookUpWithList(const std::string& list, const std::string& error) {
    auto solutions = std::make_unique<TErrorSolutions>();
    Serve("int/errors.txt", list);
    LogError(error);
    Questions.clear();
    Messages.clear();
    Pages.clear();
    Answers = {true, false};
    bool armed = true;
    solutions->LookUpErrorSolution(armed, true, Ui);
    return solutions;
  }
  TErrorSolutions Solutions;
};

TEST_F(ErrorLookup, NothingHappensWithoutAnErrorOrWhenNotArmedOrInactive) {
  Log("all fine", ltInfo);
  std::string before = GetLogText();
  Lookup();
  EXPECT_TRUE(Questions.empty());
  EXPECT_EQ(GetLogText(), before);

  LogError("Boom");
  bool armed = false;
  Solutions.LookUpErrorSolution(armed, true, Ui);
  armed = true;
  Solutions.LookUpErrorSolution(armed, false, Ui);
  EXPECT_TRUE(armed);
  EXPECT_TRUE(Questions.empty());
  EXPECT_TRUE(LogHasErrors());
}

TEST_F(ErrorLookup, AnsweringNoStillMarksTheErrorReported) {
  LogError("Boom");
  Lookup();
  EXPECT_EQ(Questions, std::vector<std::string>{kFirstQuestion});
  EXPECT_FALSE(LogHasErrors());
  EXPECT_TRUE(Requests().empty());
  Questions.clear();
  Lookup();
  EXPECT_TRUE(Questions.empty());
}

TEST_F(ErrorLookup, KnownErrorOpensItsPageAndOffersAReportOnceDownloaded) {
  Serve("int/errors.txt", "first.html,N,never seen here\r\n"
                          "broken line\r\n"
                          "disk.html, y ,texture .*not found\r\n"
                          "other.html,Y,.\r\n");
  LogError("TEXTURE grass NOT FOUND");
  Answers = {true, true};
  Lookup();
  EXPECT_EQ(Pages, std::vector<std::string>{"http://" + Host() + "/int/errors/disk.html"});
  EXPECT_EQ(Questions, (std::vector<std::string>{kFirstQuestion, "Would you like to send us an error report?"}));
  EXPECT_EQ(Reports, 1);
  EXPECT_EQ(Waits, std::vector<std::string>{"downloads the solutions listing."});
  EXPECT_EQ(WaitsEnded, 1);
  EXPECT_FALSE(LogHasErrors());

  // a later error in the same run uses the list already there
  LogError("texture sky not found");
  Answers = {true, false};
  Lookup();
  EXPECT_EQ(Requests(), std::vector<std::string>{"GET /int/errors.txt"});
  EXPECT_EQ(Waits.size(), 1u);
  EXPECT_EQ(Pages.size(), 2u);
  EXPECT_EQ(Reports, 1);
}

TEST_F(ErrorLookup, UnknownAndFailingExpressionsLeadToTheUnknownQuestion) {
  struct Case {
    const char* list;
    const char* logged;  // expected Error line, "" for none
  } cases[] = {
      {"a.html,Y,nothing like it\r\n", ""},
      // an empty expression as the first usable line has nothing to run
      {"a.html,Y,\r\nb.html,Y,Boom\r\n", "Error searching for a solution: "},
      {"a.html,Y,(unclosed\r\n", "Error searching for a solution: "},
      // a runaway backtracking search from the server gives up
      {"a.html,Y,(x+x+)+\\1y\r\n", "Error searching for a solution: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    TErrorSolutions solutions;
    Serve("int/errors.txt", c.list);
    auto searchErrors = [] {
      std::string log = GetLogText();
      int n = 0;
      for (size_t p = 0; (p = log.find("Error searching for a solution: ", p)) != std::string::npos; ++p) ++n;
      return n;
    };
    int before = searchErrors();
    Questions.clear();
    Pages.clear();
    Reports = 0;
    LogError("Boom " + std::string(40, 'x'));
    Answers = {true, true};
    bool armed = true;
    solutions.LookUpErrorSolution(armed, true, Ui);
    EXPECT_EQ(Questions, (std::vector<std::string>{kFirstQuestion, kUnknown}));
    EXPECT_TRUE(Pages.empty());
    EXPECT_EQ(Reports, 1);
    EXPECT_EQ(searchErrors(), before + (*c.logged ? 1 : 0));
    EXPECT_FALSE(LogHasErrors());
  }
}

// The walk stops at the first line whose expression matches, whether its page is kept or
// refused (a refused page is unknown); an empty expression runs the line before it again.
TEST_F(ErrorLookup, ARefusedPageTakesItsPlaceInTheWalk) {
  struct Case {
    const char* list;
    const char* opened;  // page under errors/, "" for the unknown question
  } cases[] = {
      {"../x.htm,N,Bar\r\np2.htm,N,Baz\r\n", ""},
      {"../x.htm,N,Nowhere\r\np2.htm,N,Baz\r\n", "p2.htm"},
      // the empty expression reuses the refused line's, which did not match: the walk goes on
      {"../x.htm,N,Nowhere\r\np1.htm,N,\r\np2.htm,N,Baz\r\n", "p2.htm"},
      {"p1.htm,N,Nowhere\r\n../x.htm,N,\r\np2.htm,N,Bar\r\n", "p2.htm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    LookUpWithList(c.list, "Bar and Baz");
    if (*c.opened) {
      EXPECT_EQ(Pages, std::vector<std::string>{"http://" + Host() + "/int/errors/" + c.opened});
      EXPECT_EQ(Questions, std::vector<std::string>{kFirstQuestion});
    } else {
      EXPECT_TRUE(Pages.empty());
      EXPECT_EQ(Questions, (std::vector<std::string>{kFirstQuestion, kUnknown}));
    }
    EXPECT_EQ(GetLogText().find("Error searching for a solution: "), std::string::npos);
  }
}

// A list longer than its limit is read up to its last whole line under the limit, whatever its
// line ends.
TEST_F(ErrorLookup, AListOverTheLimitIsCutAtItsLastWholeLine) {
  const std::string filler = "f.html,N,never in the log\r\n";
  auto listOf = [&](size_t bytes, const std::string& tail) {
    std::string list;
    while (list.size() + filler.size() + tail.size() <= bytes) list += filler;
    list += std::string(bytes - list.size() - tail.size(), ' ');  // blanks close up the size
    return list + tail;
  };
  const size_t limit = kMaxErrorListBytes;
  auto lfLines = [](size_t n) {  // 12 bytes each, with an expression the log does not have
    std::string list;
    for (size_t k = 0; k < n; ++k) list += "f.ht,N,zqxj\n";
    return list;
  };
  auto CutLines = [] {
    const std::string log = GetLogText();
    int n = 0;
    for (size_t p = 0; (p = log.find("The errors list is longer than 1048576 bytes", p)) != std::string::npos; ++p) ++n;
    return n;
  };
  struct Case {
    std::string list;
    const char* opened;  // "" for the unknown question
    bool cut;
  } cases[] = {
      {listOf(limit, "\r\nlast.html,N,Boom"), "last.html", false},           // exactly the limit
      {listOf(limit + 1, "\r\nlast.html,N,BoomX"), "", true},               // its cut line is dropped
      {listOf(limit, "\r\nlast.html,N,Boom\r\n") + "more.html,N,Boom\r\n", "last.html", true},
      {listOf(limit + 5000, "\r\nlast.html,N,Boom\r\n"), "", true},
      // LF line ends grow to CR LF as the list is read: cut once, on the list as sent
      {lfLines(limit / 12 - 1) + "l.ht,N,Boom\n", "l.ht", false},
      {lfLines(limit / 12 - 1) + "l.ht,N,Boom\n" + "m.ht,N,Boom\n" + lfLines(100), "l.ht", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.list.size()) + " bytes");
    const int cutBefore = CutLines();
    const auto solutions = LookUpWithList(c.list, "Boom");
    EXPECT_TRUE(Messages.empty());  // the list is there: no "Unable to get errors list"
    ASSERT_NE(solutions->ErrorList(), nullptr);
    if (*c.opened) {
      EXPECT_EQ(Pages, std::vector<std::string>{"http://" + Host() + "/int/errors/" + c.opened});
    } else {
      EXPECT_TRUE(Pages.empty());
      EXPECT_EQ(Questions, (std::vector<std::string>{kFirstQuestion, kUnknown}));
    }
    EXPECT_EQ(CutLines() - cutBefore, c.cut ? 1 : 0);
  }
}

TEST_F(ErrorLookup, ListDownloadFailuresAreToldAndRetriedLater) {
  ServeStatus("int/errors.txt", 500);
  LogError("Boom");
  Answers = {true};
  Lookup();
  EXPECT_EQ(Messages, std::vector<std::string>{kNoList});
  EXPECT_EQ(Solutions.ErrorList(), nullptr);
  EXPECT_EQ(Waits.size(), WaitsEnded + 0u);

  // offline: the connection message comes first
  ConnectionTestHook = [] { return false; };
  Messages.clear();
  LogError("Boom");
  Answers = {true};
  Lookup();
  EXPECT_EQ(Messages, (std::vector<std::string>{"Unable to connect to the internet", kNoList}));

  ConnectionTestHook = nullptr;
  std::remove((Root + "int/errors.txt.status").c_str());
  Serve("int/errors.txt", "boom.html,N,boom\r\n");
  LogError("Boom");
  Answers = {true};
  Lookup();
  ASSERT_NE(Solutions.ErrorList(), nullptr);
  EXPECT_EQ(Pages, std::vector<std::string>{"http://" + Host() + "/int/errors/boom.html"});
}

std::vector<std::string> MailFiles(const std::string& dir) {
  std::vector<std::string> out;
  for (int n = 0; n < 10; ++n)
    for (const std::string& name : {"mail-" + std::to_string(n) + ".eml"})
      if (FileExists(dir + name)) out.push_back(ReadAll(dir + name));
  return out;
}

TEST_F(ErrorLookup, ReportMailCarriesDescriptionLogAndLastGameWhenThere) {
  std::string sinkDir = Dir + "sink/";
  ForceDirectories(sinkDir);
  TTestServer sink("smtp_sink.py", {sinkDir});
  setenv("KESTRUNE_MAIL_SERVER", sink.HostPort().c_str(), 1);
  setenv("KESTRUNE_REPORT_ADDRESS", "reports@test.example", 1);

  SendErrorReport("It froze.", "me@home.example", "* Error: Boom\r\n");
  WriteAll(Dir + "last.gmp", "replay bytes");
  SendErrorReport("Again.", "me@home.example", "* Error: Boom\r\n");
  // A link in the last game's place: the report goes without it, and without what it leads to.
  WriteAll(Dir + "secret.txt", "SECRETSECRET");
  std::remove((Dir + "last.gmp").c_str());
  ASSERT_EQ(symlink((Dir + "secret.txt").c_str(), (Dir + "last.gmp").c_str()), 0);
  SendErrorReport("Linked.", "me@home.example", "* Error: Boom\r\n");
  unsetenv("KESTRUNE_MAIL_SERVER");
  unsetenv("KESTRUNE_REPORT_ADDRESS");

  std::vector<std::string> mails = MailFiles(sinkDir);
  ASSERT_EQ(mails.size(), 3u);
  EXPECT_EQ(mails[2].find("filename="), std::string::npos);
  EXPECT_EQ(mails[2].find("U0VDUkVUU0VDUkVU"), std::string::npos);  // the bytes in base64
  EXPECT_NE(mails[2].find("Linked."), std::string::npos);
  bool withFile[2] = {};
  for (size_t i = 0; i < 2; ++i) {
    withFile[i] = mails[i].find("filename=\"last.gmp\"") != std::string::npos;
    EXPECT_NE(mails[i].find("*****Log file *****"), std::string::npos);
    EXPECT_NE(mails[i].find("Error: Boom"), std::string::npos);
  }
  EXPECT_NE(withFile[0], withFile[1]) << "one mail without, one with the last game";
  EXPECT_EQ(Messages, (std::vector<std::string>{"Thanks for your help!", "Thanks for your help!", "Thanks for your help!"}));
}

}  // namespace
