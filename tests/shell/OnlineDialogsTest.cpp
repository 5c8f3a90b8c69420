// The dialogs of the online services over their logic: what they show after the work ran.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include "OnlineTestSupport.h"
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
