// The dialogs of the online services over their logic: what they show after the work ran.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include "OnlineTestSupport.h"
#include "base/Win1252.h"
#include "game/SaveQueue.h"
#include "game/ReplayPack.h"
#include "shell/Downloads.h"
#include "shell/EmailCard.h"
#include "shell/ErrorSolutions.h"
#include "shell/HighscorePublish.h"

namespace {

void EnsureApp() {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name};
  if (!QApplication::instance()) new QApplication(argc, argv);  // lives to the end of the process
}

class OnlineDialogs : public OnlineTest {
protected:
  void SetUp() override {
    EnsureApp();
    OnlineTest::SetUp();
  }
};

TEST_F(OnlineDialogs, LevelsDialogEndsWithItsResultAndAnOkButton) {
  TfrmDownloadLevels form(Ui);
  EXPECT_EQ(form.btnOk->text().toStdString(), "Cancel");
  form.Work();
  EXPECT_FALSE(form.Running);
  EXPECT_EQ(form.Downloaded, 0);
  EXPECT_EQ(form.lblText->text().toStdString(), "No new levels available");
  EXPECT_EQ(form.btnOk->text().toStdString(), "OK");
}

TEST_F(OnlineDialogs, WorldBestDialogListsLevelsAndEnablesReplayOnlyWhenOk) {
  {
    TReplayPack pack(Dir + "worldbest.gmp");
    for (int level = 1; level <= 3; ++level) {
      TReplayLevelRecord r;
      r.LevelNumber = level;
      r.GameTime = 400;
      r.Input.AddInput(kInputRight | 20);
      pack.AddReplay(level, [&](TStream& s) { r.WriteToStream(s); });
    }
    pack.SaveToFile();
  }
  Serve("hs/firstplace.php", "ERR");
  TfrmDownloadWorldBest failed(Ui);
  failed.Work();
  EXPECT_EQ(failed.cbxLevel->count(), 4);
  EXPECT_FALSE(failed.btnReplay->isEnabled());
  EXPECT_FALSE(failed.pbx2->pixmap().isNull());

  Serve("hs/firstplace.php", "OK");
  TfrmDownloadWorldBest ok(Ui);
  ok.Work();
  EXPECT_TRUE(ok.btnReplay->isEnabled());
  ok.cbxLevel->setCurrentIndex(3);
  ok.btnReplay->click();
  EXPECT_EQ(ok.Result, 3);
}

TEST_F(OnlineDialogs, ErrorReportDialogKeepsTheAddressOnEveryClose) {
  GameEnvironment.ErrorReportEmail = "old@home.example";
  TfrmErrorReportPublish form("* Error: Boom\r\n");
  form.show();
  EXPECT_EQ(form.edtEmail->text().toStdString(), "old@home.example");
  EXPECT_NE(form.memLogFile->toPlainText().toStdString().find("Boom"), std::string::npos);
  EXPECT_TRUE(form.memLogFile->isReadOnly());
  form.edtEmail->setText(QString(120, 'a'));
  form.reject();
  EXPECT_EQ(GameEnvironment.ErrorReportEmail, std::string(100, 'a'));
}

TEST_F(OnlineDialogs, CardDialogSendEnablingAndTheMissingAddressBook) {
  GameEnvironment.Alias = "Zed";
  GameEnvironment.Email = "me@home.example";
  TfrmEmailCard form(Ui);
  EXPECT_EQ(form.edtSender->text().toStdString(), "Zed");
  EXPECT_EQ(form.edtSenderEmail->text().toStdString(), "me@home.example");
  EXPECT_FALSE(form.btnSend->isEnabled());
  form.edtAddresses->setText("  ");
  EXPECT_FALSE(form.btnSend->isEnabled());
  form.edtAddresses->setText("a@x.example");
  EXPECT_TRUE(form.btnSend->isEnabled());
  // No address book here: "To..." cannot be pressed and says why; the action itself tells it too.
  EXPECT_FALSE(form.btnTo->isEnabled());
  EXPECT_EQ(form.btnTo->text().toStdString(), "To...");
  EXPECT_NE(form.btnTo->toolTip().toStdString().find("addresses are typed"), std::string::npos);
  form.actToExecute();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("no address book"), std::string::npos);
  EXPECT_EQ(Messages[0].find("MAPI"), std::string::npos);
  EXPECT_EQ(form.edtAddresses->text().toStdString(), "a@x.example");
}

TEST_F(OnlineDialogs, PublishDialogFieldsShareOneWidth) {
  TfrmHighscorePublish form(Ui);
  form.show();
  for (QWidget* field : std::initializer_list<QWidget*>{form.Edit2, form.Edit3, form.cbxCountry, form.SpinEdit1,
                                                        form.Edit4, form.Edit5}) {
    SCOPED_TRACE(field->objectName().toStdString());
    EXPECT_EQ(field->width(), form.edtAlias->width());
    EXPECT_EQ(field->mapTo(&form, QPoint(0, 0)).x(), form.edtAlias->mapTo(&form, QPoint(0, 0)).x());
  }
}

// What a player types or pastes into the dialogs, and what the score server hands out, is stored
// so that the next start loads it as it stands: no field takes its default, nothing is cleaned on
// loading, no copy of env.dat is set aside.
TEST_F(OnlineDialogs, WhatTheDialogsStoreLoadsAgainAsItStands) {
  // What an edit of `maxLength` then the field keep, worked out on the Unicode side: control
  // characters (C0, DEL, C1) and tabs go, line breaks too unless the field keeps them.
  auto expected = [](const QString& typed, int maxLength, size_t capacity, bool lineBreaks) {
    QString kept;
    for (QChar ch : typed.left(maxLength)) {
      const char16_t u = ch.unicode();
      const bool control = u < 0x20 || (u >= 0x7F && u <= 0x9F);
      if (!control || (lineBreaks && (u == '\r' || u == '\n'))) kept += ch;
    }
    return Utf8ToCp1252(kept.toStdString()).substr(0, capacity);
  };
  const struct Case {
    const char* what;
    QString typed;
  } cases[] = {
      {"typed", "Zed Zurich"},
      {"pasted with a tab", "Ann\tBee"},
      {"pasted with CR LF", "Bern\r\nWest\r\n"},
      {"pasted U+0081 and U+009D", QString("a") + QChar(0x81) + "b" + QChar(0x9D) + "c"},
      {"full length, two bytes each in UTF-8", QString(120, QChar(0xE9))},
      {"full length, three bytes each in UTF-8", QString(120, QChar(0x20AC))},
      {"not in the code page", QString(3, QChar(0x3A9))},
      {"a bell and DEL", QString("x") + QChar(7) + QChar(0x7F) + "y"},
  };
  const std::string id(40, 'i');
  Serve("hs/score3.php", "SEITE=1\r\nID=" + id + "\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetEnvironment(GameEnvironment);
    GameEnvironment.HighScoreHost = GameEnvironment.InternalHost = Server->HostPort();
    GameEnvironment.HighScoreBase = "/hs/";
    GameEnvironment.InternalBase = "/int/";
    GameEnvironment.Highscores[0] = {"Zed", 900};
    TfrmHighscorePublish publish(Ui);
    publish.show();
    for (QLineEdit* edit : {publish.edtAlias, publish.Edit2, publish.Edit3, publish.Edit4, publish.Edit5})
      edit->setText(QString("Q") + c.typed);  // an alias never blank: the publication runs
    publish.btnPublishClick();  // stores the fields, publishes, saves
    TfrmErrorReportPublish report("* Error: Boom\r\n");
    report.show();
    report.edtEmail->setText(c.typed);
    report.reject();
    const TGameEnvironment stored = GameEnvironment;
    const QString q = QString("Q") + c.typed;
    EXPECT_EQ(stored.Alias, expected(q, publish.edtAlias->maxLength(), 15, false));
    EXPECT_EQ(stored.City, expected(q, publish.Edit2->maxLength(), 100, false));
    EXPECT_EQ(stored.State, expected(q, publish.Edit3->maxLength(), 40, false));
    EXPECT_EQ(stored.Email, expected(q, publish.Edit4->maxLength(), 80, false));
    EXPECT_EQ(stored.Comment, expected(q, publish.Edit5->maxLength(), 100, true));
    EXPECT_EQ(stored.ErrorReportEmail, expected(c.typed, report.edtEmail->maxLength(), 100, false));
    EXPECT_EQ(stored.UserID, id.substr(0, 32));
    SaveSettings();
    WaitForSaves();
    // The next start.
    const size_t logged = GetLogText().size();
    ResetEnvironment(GameEnvironment);
    LoadSettings();
    const std::string log = GetLogText().substr(logged);
    EXPECT_FALSE(FileExists(Dir + "env.dat.damaged"));
    EXPECT_EQ(log.find("* Warning:"), std::string::npos) << log;
    EXPECT_EQ(log.find("Characters these settings cannot hold"), std::string::npos) << log;
    EXPECT_EQ(GameEnvironment.Alias, stored.Alias);
    EXPECT_EQ(GameEnvironment.City, stored.City);
    EXPECT_EQ(GameEnvironment.State, stored.State);
    EXPECT_EQ(GameEnvironment.Email, stored.Email);
    EXPECT_EQ(GameEnvironment.Comment, stored.Comment);
    EXPECT_EQ(GameEnvironment.ErrorReportEmail, stored.ErrorReportEmail);
    EXPECT_EQ(GameEnvironment.UserID, stored.UserID);
    EXPECT_EQ(GameEnvironment.HighScoreHost, stored.HighScoreHost);
  }
}

TEST_F(OnlineDialogs, NewHighscoreDialog) {
  TfrmHighscoreNew form(12345);
  EXPECT_EQ(form.windowTitle().toStdString(), "A New Highscore!");
  EXPECT_EQ(form.Label4->text().toStdString(), "12345 Points,");
}

}  // namespace

namespace {

TEST_F(OnlineDialogs, NewHighscoreDialogLiesOnItsPicture) {
  TfrmHighscoreNew form(12345);
  EXPECT_EQ(form.windowTitle().toStdString(), "A New Highscore!");
  EXPECT_EQ(form.Label4->text().toStdString(), "12345 Points,");
  auto* picture = form.findChild<QLabel*>("imgWindow");
  ASSERT_NE(picture, nullptr);
  EXPECT_FALSE(picture->pixmap().isNull());
  EXPECT_EQ(picture->geometry(), QRect(0, 0, 400, 302));
  form.grab().save(QString::fromStdString(Dir + "new_highscore.png"));  // for people to look at
}

}  // namespace
