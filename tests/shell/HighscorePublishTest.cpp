#include "shell/HighscorePublish.h"

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QClipboard>
#include <QComboBox>
#include <QPushButton>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

#include "OnlineTestSupport.h"
#include "support/Mounts.h"
#include "base/Random.h"
#include "game/ReplayPack.h"
#include "game/SaveQueue.h"

namespace {

std::vector<std::string> Fields(const std::string& record) {
  std::vector<std::string> out;
  size_t p = 0;
  for (size_t e; (e = record.find('|', p)) != std::string::npos; p = e + 1) out.push_back(record.substr(p, e - p));
  out.push_back(record.substr(p));
  return out;
}

// The server's side of the score code.
std::string DecodeScoreCode(const std::string& code) {
  std::string letters(code.size(), ' ');
  for (size_t k = 0; k < code.size(); ++k) letters[ScoreCodeOrder[k % 55] - 1 + 55 * (k / 55)] = code[k];
  std::string digits;
  for (char c : letters)
    for (int d = 0; d < 10; ++d)
      if (std::string(ScoreDigitLetters[d]).find(c) != std::string::npos) digits += static_cast<char>('0' + d);
  return digits;
}

TEST(ScoreCode, TableIsAPermutationAndTheCodeDecodes) {
  std::set<int> seen(ScoreCodeOrder.begin(), ScoreCodeOrder.end());
  ASSERT_EQ(seen.size(), 55u);
  EXPECT_EQ(*seen.begin(), 1);
  EXPECT_EQ(*seen.rbegin(), 55);

  TLevelStats stats[30] = {};
  stats[0].Counts[0] = 12345;
  stats[0].Counts[6] = 65535;
  stats[29].Counts[3] = 7;
  RandSeed = 42;
  std::string code = BuildScoreCode(stats, 29);
  ASSERT_EQ(code.size(), 1650u);
  std::string digits = DecodeScoreCode(code);
  ASSERT_EQ(digits.size(), 1650u);
  EXPECT_EQ(digits.substr(0, 55), "12345" + std::string(25, '0') + "65535" + std::string(20, '0'));
  EXPECT_EQ(digits.substr(29 * 55, 55), std::string(15, '0') + "00007" + std::string(35, '0'));
  // equal digits do not all encode alike
  std::set<char> zeros(code.begin(), code.end());
  EXPECT_GT(zeros.size(), 3u);
}

TEST(HighscoreRecord, FieldsBlanksAndBars) {
  TGameEnvironment env;
  ResetEnvironment(env);
  env.Highscores[0].Score = 4711;
  env.Alias = "A|b";
  env.City = std::string(70, 'c');
  env.State = "S|t";
  env.Country = 207;
  env.Email = "me|x@home.example";
  env.Comment = "a|b\r\nc";
  env.GamesStarted = 5;
  env.LevelsFinished = 3;
  std::string r = BuildHighscoreRecord(env, true);
  EXPECT_EQ(r.rfind("KTA| |4711|A/b|", 0), 0u) << r.substr(0, 40);
  EXPECT_EQ(r.substr(r.size() - 7), "|1|KTA|");
  std::vector<std::string> f = Fields(r);
  ASSERT_EQ(f.size(), 18u);  // the frame adds two fields, the trailing bar an empty one
  EXPECT_EQ(f[4], std::string(60, 'c'));
  EXPECT_EQ(f[5], "S/t");
  EXPECT_EQ(f[6], "207");
  EXPECT_EQ(f[7], "me/x@home.example");
  EXPECT_EQ(f[8], " ");  // age 0
  EXPECT_EQ(f[9], " ");  // no sex chosen
  EXPECT_EQ(f[10] + "|" + f[11], "a|b\r\nc");  // the comment as stored
  EXPECT_EQ(f[14].size(), 1650u);

  env.UserID = " id7 ";
  env.Age = 33;
  env.Sex = 2;
  env.Comment.clear();
  f = Fields(BuildHighscoreRecord(env, false));
  EXPECT_EQ(f[1], "id7");
  EXPECT_EQ(f[8], "33");
  EXPECT_EQ(f[9], "f");
  EXPECT_EQ(f[10], " ");
  EXPECT_EQ(f[14], "0");
}

class Publish : public OnlineTest {
protected:
  void SetUp() override {
    OnlineTest::SetUp();
    GameEnvironment.Alias = "Zed";
    GameEnvironment.Highscores[0].Score = 900;
  }
};

TEST_F(Publish, MainPathSendsTheRecordUploadsTheBestGameAndOpensTheRanking) {
  Serve("hs/score3.php", "SEITE=77\r\nid= u-1 \r\nUPLOAD=replayfile\r\n");
  WriteAll(Dir + "mybest.gmp", std::string("best\0game\r\n", 11));
  ASSERT_EQ(PublishHighscore(true, Ui), TPublishResult::Published);
  EXPECT_EQ(GameEnvironment.UserID, "u-1");
  std::vector<std::string> req = Requests();
  ASSERT_EQ(req.size(), 2u);
  EXPECT_EQ(req[0].rfind("GET /hs/score3.php?cs=", 0), 0u);
  EXPECT_GT(req[0].size(), 1650u);
  EXPECT_EQ(req[1], "POST /xscore.php");
  EXPECT_EQ(PostBody(0), BuildUploadBody("replayfile", std::string("best\0game\r\n", 11)));
  EXPECT_EQ(BuildUploadBody("f", "X"), "--------------------------------KTRulez\r\n"
                                       "Content-Disposition: form-data; name=\"f\" filename=\"t.t\"\r\n"
                                       "Content-type: application/octet-stream\r\n\r\nX\r\n"
                                       "--------------------------------KTRulez--\r\n");
  EXPECT_EQ(Pages, std::vector<std::string>{"http://" + Host() + "/hs/competitions.php?uid=u-1&sid=77"});
  EXPECT_EQ(Waits, std::vector<std::string>{"publishes your highscore."});
  EXPECT_EQ(WaitsEnded, 1);
  TGameEnvironment saved;
  ASSERT_TRUE(LoadEnvironmentFile(Dir + "env.dat", saved));
  EXPECT_EQ(saved.UserID, "u-1");
  EXPECT_TRUE(Messages.empty());
}

TEST_F(Publish, ReplyWithoutUploadPublishesWithoutOne) {
  Serve("hs/score3.php", "SEITE=5\r\n");
  GameEnvironment.UserID = "old";
  ASSERT_EQ(PublishHighscore(false, Ui), TPublishResult::Published);
  EXPECT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Pages, std::vector<std::string>{"http://" + Host() + "/hs/competitions.php?uid=old&sid=5"});
}

TEST_F(Publish, FailuresAreToldLoggedAndTheSettingsSavedAnyway) {
  const std::string says = "Could not publish Highscore. Scoremaster says: ";
  struct Case {
    const char* reply;  // nullptr: status 500
    std::string message;
  } cases[] = {
      {"", says + "No response back"},
      {"Database down\r\nID=9", says + "Database down\r\nID=9"},
      {"SEITE=1\r\nUpload=f", ""},  // no mybest.gmp to send
      {nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply ? c.reply : "500");
    std::remove((Dir + "env.dat").c_str());
    std::remove((Root + "hs/score3.php.status").c_str());
    Messages.clear();
    Pages.clear();
    if (c.reply) Serve("hs/score3.php", c.reply);
    else ServeStatus("hs/score3.php", 500);
    EXPECT_EQ(PublishHighscore(false, Ui), TPublishResult::Failed);
    ASSERT_EQ(Messages.size(), 1u);
    if (!c.message.empty()) {
      EXPECT_EQ(Messages[0], c.message);
    } else {
      EXPECT_EQ(Messages[0].rfind(says, 0), 0u) << Messages[0];
    }
    EXPECT_TRUE(Pages.empty());
    EXPECT_TRUE(FileExists(Dir + "env.dat"));
    EXPECT_NE(GetLogText().find("Error publishing highscore: "), std::string::npos);
  }
  EXPECT_EQ(GameEnvironment.UserID, "");
}

// A new best game whose copy failed leaves no "mybest.gmp": when the server asks for the replay,
// the publication fails with the file's error instead of sending an older game under this score.
TEST_F(Publish, AFailedCopyOfTheBestGameIsReportedAndNoOtherGameGoesUp) {
  WriteAll(Dir + "mybest.gmp", "the game of an older score");
  WriteAll(Dir + "last.gmp", "the game of the new score");
  const std::string temporary = Dir + "mybest.gmp.tmp" + std::to_string(getpid());
  ForceDirectories(temporary + "/inside");  // the copy cannot make its temporary file
  CopyBestReplay(Dir + "last.gmp", Dir + "mybest.gmp");
  WaitForSaves();
  std::filesystem::remove_all(temporary);
  EXPECT_FALSE(FileExists(Dir + "mybest.gmp"));
  EXPECT_EQ(ReadAll(Dir + "mybest.old.gmp"), "the game of an older score");  // kept for the player
  Serve("hs/score3.php", "SEITE=3\r\nUpload=f\r\n");
  EXPECT_EQ(PublishHighscore(false, Ui), TPublishResult::Failed);
  EXPECT_EQ(Messages, std::vector<std::string>{"Could not publish Highscore. Scoremaster says: The best game is "
                                               "missing: it could not be saved as \"" + Dir + "mybest.gmp\""});
  const std::vector<std::string> req = Requests();
  ASSERT_EQ(req.size(), 1u);  // the record, and no upload
  EXPECT_EQ(req[0].rfind("GET /hs/score3.php?cs=", 0), 0u);
  EXPECT_TRUE(Pages.empty());
  EXPECT_NE(GetLogText().find("* Info: Error publishing highscore: The best game is missing"), std::string::npos);
  // After a restart nothing is remembered, and nothing is there to send either.
  Messages.clear();
  ForgetBestReplayFailures();
  EXPECT_EQ(PublishHighscore(false, Ui), TPublishResult::Failed);
  EXPECT_EQ(Messages, std::vector<std::string>{"Could not publish Highscore. Scoremaster says: Cannot open file \"" +
                                               Dir + "mybest.gmp\". No such file or directory"});
  const std::vector<std::string> again = Requests();
  ASSERT_EQ(again.size(), 2u);  // one more record, still no upload
  EXPECT_EQ(again[1].rfind("GET /hs/score3.php?cs=", 0), 0u);
}

// On a read-only user folder the new best game cannot be copied and the older game cannot be
// removed: it stays, and is never sent as the game of the new score.
TEST_F(Publish, OnAReadOnlyFolderTheOlderGameStaysAndIsNeverUploaded) {
  const std::string user = Dir + "user/";
  ForceDirectories(user);
  WriteAll(user + "mybest.gmp", "the game of an older score");
  WriteAll(user + "last.gmp", "the game of the new score");
  std::string why;
  auto readOnly = TScopedMount::ReadOnly(user, why);
  if (!readOnly) GTEST_SKIP() << why;
  UserDataDir = user;
  CopyBestReplay(user + "last.gmp", user + "mybest.gmp");
  WaitForSaves();
  EXPECT_EQ(ReadAll(user + "mybest.gmp"), "the game of an older score");
  EXPECT_FALSE(FileExists(user + "mybest.old.gmp"));
  EXPECT_TRUE(BestReplayMissing(user + "mybest.gmp"));
  EXPECT_NE(GetLogText().find("* Warning: The best game of the older score could not be moved or deleted"),
            std::string::npos);
  Serve("hs/score3.php", "SEITE=3\r\nUpload=f\r\n");
  EXPECT_EQ(PublishHighscore(false, Ui), TPublishResult::Failed);
  EXPECT_EQ(Messages, std::vector<std::string>{"Could not publish Highscore. Scoremaster says: The best game is "
                                               "missing: it could not be saved as \"" + user + "mybest.gmp\""});
  const std::vector<std::string> req = Requests();
  ASSERT_EQ(req.size(), 1u);  // the record, and no upload
  EXPECT_EQ(req[0].rfind("GET /hs/score3.php?cs=", 0), 0u);
  EXPECT_TRUE(Pages.empty());
  readOnly.reset();
  // A copy that works again makes it the best game once more.
  CopyBestReplay(user + "last.gmp", user + "mybest.gmp");
  WaitForSaves();
  EXPECT_FALSE(BestReplayMissing(user + "mybest.gmp"));
  EXPECT_EQ(ReadAll(user + "mybest.gmp"), "the game of the new score");
}

TEST_F(Publish, BlankAliasOrOfflineSendsNothing) {
  GameEnvironment.Alias = "   ";
  EXPECT_EQ(PublishHighscore(false, Ui), TPublishResult::NoAlias);
  EXPECT_EQ(Messages, std::vector<std::string>{"Please enter a name before you upload your score."});
  GameEnvironment.Alias = "Zed";
  Messages.clear();
  ConnectionTestHook = [] { return false; };
  EXPECT_EQ(PublishHighscore(false, Ui), TPublishResult::Failed);
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_EQ(Messages[0], "Unable to connect to the internet");
  EXPECT_TRUE(Requests().empty());
}

TEST_F(Publish, DialogCopiesTheSettingsBothWays) {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name};
  if (!QApplication::instance()) new QApplication(argc, argv);  // lives to the end of the process
  GameEnvironment.City = "Bern";
  GameEnvironment.Country = 0;
  GameEnvironment.Sex = 1;
  GameEnvironment.Comment = "stored";
  TfrmHighscorePublish form(Ui);
  form.FormShow();
  EXPECT_EQ(form.cbxCountry->count(), 243);
  EXPECT_EQ(form.cbxCountry->currentText().toStdString(), "Switzerland");
  EXPECT_TRUE(form.rbtnMale->isChecked());
  EXPECT_TRUE(form.Edit5->text().isEmpty());
  form.edtAlias->setText("A-very-long-alias-x");
  form.rbtnFemale->setChecked(true);
  form.FormToSettings();
  EXPECT_EQ(GameEnvironment.Alias, "A-very-long-ali");
  EXPECT_EQ(GameEnvironment.Country, 207);
  EXPECT_EQ(GameEnvironment.Sex, 2);
  EXPECT_EQ(GameEnvironment.Comment, "");
}

}  // namespace

namespace {

// The wait window's kind of runner: the request on a thread of its own, its failure rethrown.
TEST_F(Publish, RequestsCanRunOnAWorkerThread) {
  int runs = 0;
  Ui.RunRequest = [&](const std::function<void()>& request) {
    ++runs;
    std::exception_ptr failure;
    std::thread worker([&] {
      try {
        request();
      } catch (...) {
        failure = std::current_exception();
      }
    });
    worker.join();
    if (failure) std::rethrow_exception(failure);
  };
  Serve("hs/score3.php", "SEITE=3\r\nUpload=f\r\n");
  WriteAll(Dir + "mybest.gmp", "best");
  EXPECT_EQ(PublishHighscore(false, Ui), TPublishResult::Published);
  EXPECT_EQ(runs, 2);
  ServeStatus("hs/score3.php", 503);
  EXPECT_EQ(PublishHighscore(false, Ui), TPublishResult::Failed);
  EXPECT_EQ(runs, 3);
  ASSERT_EQ(Messages.size(), 1u);
}

}  // namespace

namespace {

// The server's side of the scrambled record: percent escapes undone, then each 64-byte block
// put back in order by the permutation spelt before it.
std::string Unscramble(const std::string& field) {
  std::string raw;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '%' && i + 2 < field.size()) {
      raw += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      raw += field[i];
    }
  }
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-";
  std::string text;
  for (size_t k = 0; k + 128 <= raw.size(); k += 128)
    for (size_t i = 0; i < 64; ++i) text += raw[k + 64 + alphabet.find(raw[k + i])];
  return text;
}

// The comment field of the record the server got last.
std::string SentComment(const std::vector<std::string>& requests) {
  for (auto r = requests.rbegin(); r != requests.rend(); ++r) {
    const std::string prefix = "GET /hs/score3.php?cs=";
    if (r->rfind(prefix, 0) != 0) continue;
    const std::vector<std::string> f = Fields(Unscramble(r->substr(prefix.size())));
    return f.size() > 10 ? f[10] : "(no comment field)";
  }
  return "(no record sent)";
}

// The comment keeps its line breaks, but a tab goes like the other control characters: pasted
// into the dialog, and in an env.dat written before that rule.
TEST_F(Publish, TheCommentLosesItsTabsWhenPastedAndWhenLoaded) {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name};
  if (!QApplication::instance()) new QApplication(argc, argv);  // lives to the end of the process
  Serve("hs/score3.php", "SEITE=5\r\n");

  TfrmHighscorePublish form(Ui);
  form.FormShow();
  QApplication::clipboard()->setText(QString::fromUtf8("n\xc3\xa4h\tund\tfern"));
  form.Edit5->paste();
  ASSERT_TRUE(form.Edit5->text().contains('\t'));  // the edit holds what was pasted
  QPushButton* publish = nullptr;
  for (QPushButton* b : form.findChildren<QPushButton*>())
    if (b->text() == "Publish") publish = b;
  ASSERT_NE(publish, nullptr);
  publish->click();
  EXPECT_EQ(Pages.size(), 1u);
  EXPECT_EQ(GameEnvironment.Comment, "n\xe4hundfern");
  EXPECT_EQ(SentComment(Requests()), "n\xe4hundfern");
  TGameEnvironment saved;
  ASSERT_TRUE(LoadEnvironmentFile(Dir + "env.dat", saved));
  EXPECT_EQ(saved.Comment, "n\xe4hundfern");

  // An older file with tabs in the comment: they go on loading, the line break stays.
  TGameEnvironment older = GameEnvironment;
  older.Comment = "a\tb\r\nc\t";
  std::string error;
  ASSERT_TRUE(SaveEnvironmentFile(Dir + "env.dat", older, error)) << error;
  LoadSettings();
  EXPECT_EQ(GameEnvironment.Comment, "ab\r\nc");
  EXPECT_FALSE(FileExists(Dir + "env.dat.damaged"));  // losing a tab is no damage
  EXPECT_EQ(PublishHighscore(false, Ui), TPublishResult::Published);
  EXPECT_EQ(SentComment(Requests()), "ab\r\nc");
}

}  // namespace
