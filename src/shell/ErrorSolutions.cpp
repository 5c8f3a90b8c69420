#include "shell/ErrorSolutions.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/Classes.h"
#include "base/SysUtils.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "shell/RegularExpressions.h"

namespace {
// The server's expressions are untrusted: a runaway backtracking search gives up here.
constexpr int64_t kServerExpressionSteps = 20'000'000;
constexpr size_t kMaxExpressionLength = 1000;
// A list far beyond any real one is a damaged reply.
constexpr size_t kMaxErrorListBytes = 1024 * 1024;
}  // namespace

bool ParseErrorListLine(const std::string& line, TErrorListEntry& entry) {
  size_t first = line.find(',');
  if (first == std::string::npos) return false;
  size_t second = line.find(',', first + 1);
  if (second == std::string::npos) return false;
  entry.Page = Trim(line.substr(0, first));
  std::string flag = Trim(line.substr(first + 1, second - first - 1));
  entry.OffersReport = !flag.empty() && (flag[0] == 'Y' || flag[0] == 'y');
  entry.Expression = Trim(line.substr(second + 1, kMaxExpressionLength));
  return true;
}

TErrorSolutions::~TErrorSolutions() = default;

bool TErrorSolutions::LoadErrorList(const TOnlineUI& ui) {
  if (FErrorList) return true;
  try {
    if (!CheckInternet(true)) Abort();
    auto list = std::make_unique<TStringList>();
    ui.DoBeginWait("downloads the solutions listing.");
    std::string text;
    try {
      const TGameEnvironment& env = GameEnvironment;
      std::string url = "http://" + env.InternalHost + env.InternalBase + "errors.txt";
      ui.DoRunRequest([&] { text = HttpGetText(url); });
    } catch (...) {
      ui.DoEndWait();
      throw;
    }
    ui.DoEndWait();
    if (text.size() > kMaxErrorListBytes) throw Exception("The errors list is too large");
    list->SetText(text);
    FErrorList = std::move(list);
    return true;
  } catch (const std::exception&) {
    FErrorList.reset();
    return false;
  }
}

void TErrorSolutions::LookUpErrorSolution(bool& lookupArmed, bool mainWindowActive, const TOnlineUI& ui) {
  if (!lookupArmed || !mainWindowActive) return;
  lookupArmed = false;
  if (!LogHasErrors()) return;
  struct TMarkReported {
    ~TMarkReported() {
      try {
        MarkLogReported();
      } catch (...) {
        // a log that cannot be rewritten asks again next time; nothing else to do here
      }
    }
  } markReported;

  if (!ui.DoAsk("An error occurred during the execution of the program. Would you like the program to look at "
                "our errors&&solutions internet page if the error already is known and if there is a way to "
                "fix it?"))
    return;
  if (!LoadErrorList(ui)) {
    ui.DoMessage("Unable to get errors list from internet. Maybe your internet connection is not established.");
    return;
  }
  bool found = false;
  try {
    TRegularExpression re;
    re.StepLimit = kServerExpressionSteps;
    re.SetModifier(1, true);
    re.SetModifier(5, true);
    re.SetModifier(2, false);
    std::string subject = GetLogText();
    for (const std::string& line : FErrorList->Strings) {
      TErrorListEntry entry;
      if (!ParseErrorListLine(line, entry)) continue;
      if (!entry.Expression.empty()) re.SetExpression(entry.Expression);
      if (!re.Exec(subject)) continue;
      found = true;
      ApplyHostsList();
      const TGameEnvironment& env = GameEnvironment;
      ui.DoOpenPage("http://" + env.InternalHost + env.InternalBase + "errors/" + entry.Page);
      if (entry.OffersReport && ui.DoAsk("Would you like to send us an error report?") && ui.SendErrorReport)
        ui.SendErrorReport();
      break;
    }
  } catch (const std::exception& e) {
    Log(std::string("Error searching for a solution: ") + e.what(), ltError);
    found = false;
  }
  if (!found && ui.DoAsk("Sorry, this error is unknown. Would you like to send us an error report?") &&
      ui.SendErrorReport)
    ui.SendErrorReport();
}

void SendErrorReport(const std::string& description, const std::string& email, const std::string& logText) {
  std::string attachment = UserDataDir + "last.gmp";
  if (!FileExists(attachment)) attachment.clear();
  std::string body = description + "\r*****Log file *****\r" + logText;
  SendErrorReportMail(email, body, attachment);
}

TfrmErrorReportPublish::TfrmErrorReportPublish(const std::string& logText, QWidget* parent)
    : QDialog(parent), FLogText(logText) {
  setWindowTitle("Send Errorreport");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Error Description (What happened? How can we reproduce the error?):"));
  Memo1 = new QPlainTextEdit;
  layout->addWidget(Memo1);
  layout->addWidget(new QLabel("Additionally, this logfile will be attached to your report:"));
  memLogFile = new QPlainTextEdit;
  memLogFile->setReadOnly(true);
  memLogFile->setLineWrapMode(QPlainTextEdit::NoWrap);
  memLogFile->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memLogFile->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  layout->addWidget(memLogFile);
  auto* hint = new QLabel(
      "Probably we need additional help from you to find and eliminate the bug. Perhaps we have further "
      "questions or we want to send you a debug version of the program. We can only get in touch with you if "
      "you enter your email here:");
  hint->setWordWrap(true);
  layout->addWidget(hint);
  edtEmail = new QLineEdit(" ");
  layout->addWidget(edtEmail);
  auto* button = new QPushButton("Send Report to Orvalent Switzerland");
  layout->addWidget(button);
  connect(button, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TfrmErrorReportPublish::showEvent(QShowEvent* event) {
  memLogFile->setPlainText(QString::fromStdString(FLogText));
  edtEmail->setText(QString::fromStdString(GameEnvironment.ErrorReportEmail));
  QDialog::showEvent(event);
}

void TfrmErrorReportPublish::Button1Click() {
  SendErrorReport(Memo1->toPlainText().replace('\n', '\r').toStdString(), edtEmail->text().toStdString(),
                  FLogText);
  accept();
}

void TfrmErrorReportPublish::done(int r) {
  GameEnvironment.ErrorReportEmail = edtEmail->text().left(100).toStdString();
  QDialog::done(r);
}

void ShowErrorReportDialog(QWidget* parent) {
  TfrmErrorReportPublish form(GetLogText(), parent);
  form.exec();
}
