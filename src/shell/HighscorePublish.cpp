#include "shell/HighscorePublish.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cstdio>

#include "base/Classes.h"
#include "base/Random.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "base/Win1252.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/ReplayPack.h"
#include "game/ServerReplies.h"
#include "shell/DialogFrame.h"
#include "shell/MenuServices.h"
#include "platform/Http.h"

const std::array<const char*, 10> ScoreDigitLetters = {"oqtLMRV", "uyDHN", "fkpCX", "bEGQZ", "ejAUW",
                                                       "acisJ",   "dnwFP", "glvIT", "hmxBY", "rzKOS"};

// Agreed with the score server.
const std::array<uint16_t, 55> ScoreCodeOrder = {
    17, 42, 5,  33, 51, 28, 9,  46, 1,  38, 22, 55, 13, 30, 47, 4,  26, 40, 11,
    53, 19, 35, 2,  49, 24, 15, 44, 7,  31, 52, 20, 37, 10, 48, 27, 3,  41, 16,
    54, 23, 34, 8,  45, 29, 12, 50, 21, 39, 6,  32, 18, 43, 14, 36, 25};

const char* const kUploadBoundary = "------------------------------KTRulez";

char EncodeDigit(char digit) {
  const char* group = ScoreDigitLetters.at(static_cast<size_t>(digit - '0'));
  int n = static_cast<int>(std::char_traits<char>::length(group));
  return group[Random(n)];
}

std::string BuildScoreCode(const TLevelStats* counters, int highIndex) {
  std::string digits;
  for (int row = 0; row <= highIndex; ++row) {
    for (int i = 0; i < 7; ++i) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%.5d", static_cast<int>(counters[row].Counts[i]));
      digits += buf;
    }
    digits += "00000000000000000000";
  }
  std::string letters;
  letters.reserve(digits.size());
  for (char d : digits) letters += EncodeDigit(d);
  std::string code(letters.size(), ' ');
  for (size_t k = 0; k < letters.size(); ++k) code[k] = letters[ScoreCodeOrder[k % 55] - 1 + 55 * (k / 55)];
  return code;
}

namespace {
std::string BarsToSlash(std::string s) {
  for (char& c : s)
    if (c == '|') c = '/';
  return s;
}
}  // namespace

std::string BuildHighscoreRecord(const TGameEnvironment& env, bool newGameMail) {
  std::string r = "KTA|" + BarsToSlash(Trim(env.UserID));
  r += "|" + IntToStr(env.Highscores[0].Score);
  r += "|" + BarsToSlash(env.Alias);
  r += "|" + BarsToSlash(env.City.substr(0, 60));
  r += "|" + BarsToSlash(env.State);
  r += "|" + IntToStr(env.Country);
  r += "|" + BarsToSlash(env.Email);
  r += "|" + (env.Age == 0 ? std::string() : IntToStr(env.Age));
  r += std::string("|") + (env.Sex == 1 ? "m" : env.Sex == 2 ? "f" : " ");
  r += "|" + env.Comment;
  r += "|" + IntToStr(env.GamesStarted);
  r += "|" + IntToStr(env.LevelsFinished);
  r += "|" + BuildScoreCode(env.BestLevelStats, 29);
  r += std::string("|") + (newGameMail ? "1" : "0");
  r += "|KTA|";
  for (size_t p; (p = r.find("||")) != std::string::npos;) r.insert(p + 1, " ");
  return r;
}

std::string BuildUploadBody(const std::string& fieldName, const std::string& fileContent) {
  std::string b = std::string("--") + kUploadBoundary + "\r\n";
  b += "Content-Disposition: form-data; name=\"" + fieldName + "\" filename=\"t.t\"\r\n";
  b += "Content-type: application/octet-stream\r\n\r\n";
  b += fileContent;
  b += std::string("\r\n--") + kUploadBoundary + "--\r\n";
  return b;
}

namespace {
// The best game is a few hundred kilobytes at most.
constexpr int64_t kMaxUploadBytes = 16 * 1024 * 1024;

QString FromAnsi(const std::string& text) { return QString::fromStdString(Cp1252ToUtf8(text)); }

// What a failure says: an HTTP error's cause, not its address (which holds the record).
std::string FailureCause(const std::exception& e) {
  if (const auto* http = dynamic_cast<const EHttpError*>(&e)) return http->Cause;
  return TextExcerpt(e.what(), 200, true);
}
}  // namespace

TPublishResult PublishHighscore(bool newGameMail, const TOnlineUI& ui) {
  TGameEnvironment& env = GameEnvironment;
  if (Trim(env.Alias).empty()) {
    ui.DoMessage("Please enter a name before you upload your score.", TBoxKind::Warning);
    return TPublishResult::NoAlias;
  }
  std::string record = BuildHighscoreRecord(env, newGameMail);
  std::string reply;
  TPublishResult result = TPublishResult::Failed;
  try {
    if (!CheckInternet(true)) Abort();
    ui.DoBeginWait("publishes your highscore.");
    try {
      // scrambled here, on the GUI thread: the scrambler draws from the shared generator
      std::string url = "http://" + env.HighScoreHost + env.HighScoreBase + "score3.php?cs=" + ScrambleFormField(record);
      ui.DoRunRequest([&] { reply = HttpGetText(url, kMaxScoreReplyBytes); });
      if (reply.empty()) throw Exception("No response back");
      const TScoreReply answer = ParseScoreReply(reply);
      if (answer.Page.empty()) throw Exception(TextExcerpt(Trim(reply), 200, true));
      if (!answer.ID.empty()) env.UserID = SettingsText(TTextField::UserID, answer.ID);
      if (!answer.Upload.empty()) {
        const std::string fileName = UserDataDir + "mybest.gmp", field = answer.Upload, host = env.HighScoreHost;
        auto upload = [&fileName, &field, &host] {
          // A missing best game (its copy failed) ends the publication with the file's error:
          // no other game goes up under this score, not even one that could not be removed.
          if (BestReplayMissing(fileName))
            throw Exception("The best game is missing: it could not be saved as \"" + fileName + "\"");
          TFileStream file(fileName, fmOpenRead);
          if (file.GetSize() > kMaxUploadBytes) throw Exception("The best game file is too large to upload");
          std::string content(static_cast<size_t>(file.GetSize()), '\0');
          if (!content.empty()) file.ReadBuffer(content.data(), static_cast<int32_t>(content.size()));
          TStringStream body(BuildUploadBody(field, content));
          TMemoryStream response;
          HttpPostMultipart(host, "/xscore.php", kUploadBoundary, body, response);
        };
        // offline it only tells the user, which belongs on this thread
        if (IsConnected()) ui.DoRunRequest(upload);
        else upload();
      }
      ui.DoEndWait();
      ui.DoOpenPage("http://" + env.HighScoreHost + env.HighScoreBase + "competitions.php?uid=" +
                    QueryEscape(env.UserID) + "&sid=" + QueryEscape(answer.Page));
    } catch (...) {
      ui.DoEndWait();
      throw;
    }
    result = TPublishResult::Published;
  } catch (const ERequestCancelled& e) {
    Log(std::string("Publishing the highscore stopped: ") + e.what(), ltInfo);
  } catch (const std::exception& e) {
    // the log gets a short, cleaned excerpt of the reply; the query (the record) never
    Log(std::string("Error publishing highscore: ") + TextExcerpt(e.what(), 200) + " " + TextExcerpt(reply, 120),
        ltInfo);
    ui.DoMessage(std::string("Could not publish Highscore. Scoremaster says: ") + FailureCause(e), TBoxKind::Critical);
  }
  SaveSettings();
  return result;
}

TfrmHighscorePublish::TfrmHighscorePublish(const TOnlineUI& ui, QWidget* parent) : QDialog(parent), FUi(ui) {
  setWindowTitle("Publish Highscore");
  // the fields lie on the picture, which is stretched to the dialog (see resizeEvent)
  imgWindow = new QLabel(this);
  imgWindow->setObjectName("imgWindow");
  imgWindow->setPixmap(LoadMenuPicture("MenuBack.jpg"));
  imgWindow->setScaledContents(true);
  imgWindow->lower();
  auto* layout = new QVBoxLayout(this);
  auto* scoreRow = new QHBoxLayout;
  scoreRow->addWidget(new QLabel("Your highest score:"));
  Label2 = new QLabel;
  Label2->setObjectName("Label2");
  scoreRow->addWidget(Label2, 1);
  layout->addLayout(scoreRow);
  layout->addWidget(new QLabel("Additional data which will appear in the web highscore: "));
  auto edit = [](const char* name, int max) {
    auto* e = new QLineEdit;
    e->setObjectName(name);
    e->setMaxLength(max);
    return e;
  };
  edtAlias = edit("edtAlias", 20);
  Edit2 = edit("Edit2", 20);
  Edit3 = edit("Edit3", 20);
  cbxCountry = new QComboBox;
  cbxCountry->setObjectName("cbxCountry");
  for (size_t i = 1; i < Countries.size(); ++i) cbxCountry->addItem(QString::fromLatin1(Countries[i]));
  SpinEdit1 = new QSpinBox;
  SpinEdit1->setObjectName("SpinEdit1");
  SpinEdit1->setRange(INT32_MIN, INT32_MAX);
  rbtnMale = new QRadioButton("Male");
  rbtnFemale = new QRadioButton("Female");
  auto* sexRow = new QHBoxLayout;
  sexRow->addWidget(rbtnMale);
  sexRow->addWidget(rbtnFemale);
  Edit4 = edit("Edit4", 40);
  Edit5 = edit("Edit5", 80);
  // One grid for both groups, so every field has the same column and width; the long labels of
  // the second group stand on their own rows above their fields.
  auto* fields = new QGridLayout;
  int row = 0;
  auto add = [&](const char* label, QWidget* field, QLayout* fieldLayout = nullptr) {
    fields->addWidget(new QLabel(label), row, 0);
    if (field) fields->addWidget(field, row, 1);
    else fields->addLayout(fieldLayout, row, 1);
    ++row;
  };
  add("Alias:", edtAlias);
  add("City:", Edit2);
  add("State:", Edit3);
  add("Country:", cbxCountry);
  add("Age:", SpinEdit1);
  add("Sex:", nullptr, sexRow);
  auto above = [&](const char* label, QWidget* field) {
    fields->addWidget(new QLabel(label), row++, 0, 1, 2);
    fields->addWidget(field, row++, 1);
  };
  fields->addWidget(new QLabel("Additional data that will NOT appear in the highscore table:"), row++, 0, 1, 2);
  above("Email (If you want to win a prize):", Edit4);
  above("A comment which will be forwarded to us:", Edit5);
  fields->setColumnMinimumWidth(1, 240);
  layout->addLayout(fields);
  ckbNewGame = new QCheckBox("Send me a short email when a new game is available");
  layout->addWidget(ckbNewGame);
  auto* buttons = new QHBoxLayout;
  auto* btnPublish = new QPushButton("Publish");
  btnPublish->setObjectName("btnPublish");
  auto* btnCancel = new QPushButton("Cancel");
  btnCancel->setObjectName("btnCancel");
  buttons->addWidget(btnPublish);
  buttons->addWidget(btnCancel);
  layout->addLayout(buttons);
  connect(btnPublish, &QPushButton::clicked, this, [this] { btnPublishClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  UseFixedDialogFrame(this);
}

void TfrmHighscorePublish::resizeEvent(QResizeEvent* event) {
  imgWindow->setGeometry(rect());
  QDialog::resizeEvent(event);
}

void TfrmHighscorePublish::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TfrmHighscorePublish::FormShow() {
  const TGameEnvironment& env = GameEnvironment;
  Label2->setText(QString::number(env.Highscores[0].Score));
  edtAlias->setText(FromAnsi(env.Alias));
  Edit2->setText(FromAnsi(env.City));
  Edit3->setText(FromAnsi(env.State));
  Edit4->setText(FromAnsi(env.Email));
  if (env.Country >= 1 && env.Country < Countries.size()) cbxCountry->setCurrentIndex(env.Country - 1);
  else cbxCountry->setCurrentIndex(cbxCountry->findText("Switzerland"));
  SpinEdit1->setValue(env.Age);
  rbtnMale->setAutoExclusive(false);
  rbtnFemale->setAutoExclusive(false);
  rbtnMale->setChecked(env.Sex == 1);
  rbtnFemale->setChecked(env.Sex == 2);
  rbtnMale->setAutoExclusive(true);
  rbtnFemale->setAutoExclusive(true);
  Edit5->clear();
}

void TfrmHighscorePublish::FormToSettings() {
  TGameEnvironment& env = GameEnvironment;
  // What is typed or pasted is stored as the settings keep it: tabs and other control characters
  // left out, line breaks too except in the comment. The record sends the comment as stored.
  auto text = [](TTextField field, const QLineEdit* edit) { return SettingsTextFromUtf8(field, edit->text().toStdString()); };
  env.Alias = text(TTextField::Alias, edtAlias);
  env.City = text(TTextField::City, Edit2);
  env.State = text(TTextField::State, Edit3);
  env.Email = text(TTextField::Email, Edit4);
  env.Comment = text(TTextField::Comment, Edit5);
  env.Country = static_cast<uint16_t>(cbxCountry->currentIndex() + 1);
  env.Age = SpinEdit1->value();
  env.Sex = rbtnFemale->isChecked() ? 2 : rbtnMale->isChecked() ? 1 : 0;
}

void TfrmHighscorePublish::btnPublishClick() {
  FormToSettings();
  TPublishResult result = PublishHighscore(ckbNewGame->isChecked(), FUi);
  if (result == TPublishResult::NoAlias) edtAlias->setFocus();
  else if (result == TPublishResult::Published) accept();
}

void ShowHighscorePublishDialog(QWidget* parent, const TOnlineUI& ui) {
  TfrmHighscorePublish form(ui, parent);
  form.exec();
}

TfrmHighscoreNew::TfrmHighscoreNew(int score, QWidget* parent) : QDialog(parent) {
  setWindowTitle("A New Highscore!");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(400, 302);
  // the texts lie on the MenuBack.jpg picture, as in the about box
  auto* imgWindow = new QLabel(this);
  imgWindow->setObjectName("imgWindow");
  imgWindow->setGeometry(0, 0, 400, 302);
  imgWindow->setPixmap(LoadMenuPicture("MenuBack.jpg"));
  imgWindow->setScaledContents(true);
  auto text = [this](const QString& t, int y, int h, int pointSize) {
    auto* l = new QLabel(t, this);
    l->setGeometry(20, y, 360, h);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    l->setWordWrap(true);
    l->setTextFormat(Qt::PlainText);
    // dark text: the picture is pale
    l->setStyleSheet(QString("color: #0b2d55; background: transparent; font-weight: bold; font-size: %1pt;")
                         .arg(pointSize));
    return l;
  };
  text("Congratulations!", 40, 34, 16);
  Label4 = text(QString::number(score) + " Points,", 90, 34, 16);
  text("a new highscore!", 140, 30, 13);
  text("Do you want to upload it to the worldwide web ranking list?", 186, 44, 10);
  auto* yes = new QPushButton("Yes", this);
  auto* no = new QPushButton("No", this);
  yes->setGeometry(110, 252, 80, 28);
  no->setGeometry(210, 252, 80, 28);
  yes->setDefault(true);
  connect(yes, &QPushButton::clicked, this, &QDialog::accept);
  connect(no, &QPushButton::clicked, this, &QDialog::reject);
}

bool AskNewHighscore(QWidget* parent, int score) {
  TfrmHighscoreNew form(score, parent);
  return form.exec() == QDialog::Accepted;
}
