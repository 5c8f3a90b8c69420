#include "shell/ErrorSolutions.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "base/Classes.h"
#include "base/SysUtils.h"
#include "base/Win1252.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "shell/DialogFrame.h"
#include "shell/RegularExpressions.h"

namespace {
constexpr int kRefusedPagesLogged = 10;

// Units charged for a line beside its search: compiling its expression. The search charges its
// own scans of the log.
int64_t LineCharge(const TErrorListEntry& entry) { return 16 + static_cast<int64_t>(entry.Expression.size()); }

}  // namespace

void WalkErrorList(const std::vector<TErrorListEntry>& entries, const std::string& subject,
                   const std::atomic<bool>* cancel, TErrorListWalk& walk, int64_t budget) {
  walk = TErrorListWalk{};
  TRegularExpression re;
  re.CancelFlag = cancel;
  re.SetModifier(1, true);
  re.SetModifier(5, true);
  re.SetModifier(2, false);
  int64_t left = budget;
  for (size_t i = 0; i < entries.size(); ++i) {
    // a list of lines that each cost little still ends at once when the user stops it
    if (cancel && cancel->load(std::memory_order_relaxed)) re.RaiseError(reeSearchCancelled);
    const int64_t charge = LineCharge(entries[i]);
    left -= charge;
    walk.UnitsUsed += charge;
    if (left <= 0) re.RaiseError(reeStepLimitExceeded);
    ++walk.LinesSearched;
    re.StepLimit = std::min(left, kErrorExpressionUnits);
    bool hit = false;
    try {
      if (!entries[i].Expression.empty()) re.SetExpression(entries[i].Expression);
      hit = re.Exec(subject);
    } catch (...) {
      walk.UnitsUsed += re.StepsUsed();
      throw;
    }
    left -= re.StepsUsed();
    walk.UnitsUsed += re.StepsUsed();
    if (hit) {
      walk.Matched = static_cast<int>(i);
      return;
    }
  }
}

namespace {
QString FromAnsi(const std::string& text) { return QString::fromStdString(Cp1252ToUtf8(text)); }
std::string ToAnsi(const QString& text) { return Utf8ToCp1252(text.toStdString()); }
}  // namespace

TErrorSolutions::~TErrorSolutions() = default;

bool TErrorSolutions::LoadErrorList(const TOnlineUI& ui) {
  if (FErrorList) return true;
  try {
    if (!CheckInternet(true)) Abort();
    auto list = std::make_unique<TStringList>();
    std::vector<TErrorListEntry> entries;
    ui.DoBeginWait("downloads the solutions listing.");
    try {
      const TGameEnvironment& env = GameEnvironment;
      std::string url = "http://" + env.InternalHost + env.InternalBase + "errors.txt";
      // the reading too runs off the GUI thread: a list of a megabyte has many lines
      ui.DoRunRequest([&] {
        bool cut = false;
        std::string text = HttpGetTextCut(url, kMaxErrorListBytes, cut);
        if (cut) {
          DropCutErrorListLine(text);
          Log("The errors list is longer than " + std::to_string(kMaxErrorListBytes) +
                  " bytes; its lines after byte " + std::to_string(text.size()) + " are left out",
              ltWarning);
        }
        // The list was cut once, as sent; its lines are read as they are (their CR LF ends
        // make it longer than it came, which is no reason to cut it again).
        list->SetText(text);
        for (const std::string& line : list->Strings) {
          TErrorListEntry entry;
          if (ParseErrorListLine(line, entry)) entries.push_back(std::move(entry));
        }
        // Read once per run, so a page that would lead elsewhere is logged once (a few of them,
        // then their count). Its line stays in the walk: its expression can still end it, as
        // unknown.
        int refused = 0;
        for (const TErrorListEntry& entry : entries)
          if (entry.PageRefused && ++refused <= kRefusedPagesLogged)
            Log("A page of the errors list leads out of its folder and is left out: " + TextExcerpt(entry.Page, 80),
                ltWarning);
        if (refused > kRefusedPagesLogged)
          Log("Further pages of the errors list that lead out of its folder are left out: " +
                  std::to_string(refused - kRefusedPagesLogged),
              ltWarning);
      });
    } catch (...) {
      ui.DoEndWait();
      throw;
    }
    ui.DoEndWait();
    FEntries = std::move(entries);
    FErrorList = std::move(list);
    return true;
  } catch (const ERequestCancelled&) {
    FErrorList.reset();
    FEntries.clear();
    FCancelled = true;
    return false;
  } catch (const std::exception& e) {
    Log(std::string("The errors list could not be fetched: ") + TextExcerpt(e.what(), 200), ltInfo);
    FErrorList.reset();
    FEntries.clear();
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
  FCancelled = false;
  if (!LoadErrorList(ui)) {
    if (FCancelled) return;  // the user stopped it: nothing to tell
    ui.DoMessage("Unable to get errors list from internet. Maybe your internet connection is not established.",
                 TBoxKind::Critical);
    return;
  }
  bool found = false;
  try {
    // The search runs off the GUI thread behind the wait window: the server's expressions over
    // a large log can take long, and Cancel or the program's end stop it.
    const std::string subject = GetLogText();
    const std::vector<TErrorListEntry>& entries = FEntries;
    int matched = -1;
    const bool waitWindow = static_cast<bool>(ui.RunRequest);
    if (waitWindow) ui.DoBeginWait("looks up the error in the solutions listing.");
    try {
      ui.DoRunRequest([&] {
        TErrorListWalk walk;
        try {
          WalkErrorList(entries, subject, ThreadCancelFlag(), walk);
        } catch (const ERegularExpression& e) {
          if (e.ErrorCode == reeSearchCancelled)
            Log("The search for a solution was stopped after " + std::to_string(walk.LinesSearched) + " of " +
                    std::to_string(entries.size()) + " lines",
                ltInfo);
          throw;
        }
        matched = walk.Matched;
      });
    } catch (...) {
      if (waitWindow) ui.DoEndWait();
      throw;
    }
    if (waitWindow) ui.DoEndWait();
    // A line whose page was refused ends the walk as unknown (logged when the list was read).
    if (matched >= 0 && !entries[static_cast<size_t>(matched)].PageRefused) {
      const TErrorListEntry& entry = entries[static_cast<size_t>(matched)];
      found = true;
      ApplyHostsList();
      const TGameEnvironment& env = GameEnvironment;
      ui.DoOpenPage("http://" + env.InternalHost + env.InternalBase + "errors/" + entry.PagePath);
      if (entry.OffersReport && ui.DoAsk("Would you like to send us an error report?") && ui.SendErrorReport)
        ui.SendErrorReport();
    }
  } catch (const ERequestCancelled&) {
    return;
  } catch (const std::exception& e) {
    Log(std::string("Error searching for a solution: ") + TextExcerpt(e.what(), 200), ltError);
    found = false;
  }
  if (!found && ui.DoAsk("Sorry, this error is unknown. Would you like to send us an error report?") &&
      ui.SendErrorReport)
    ui.SendErrorReport();
}

void SendErrorReport(const std::string& description, const std::string& email, const std::string& logText,
                     const TOnlineUI& ui) {
  std::string attachment = UserDataDir + "last.gmp";
  if (!FileExists(attachment) || IsSymbolicLink(attachment)) attachment.clear();  // a link is not our replay
  std::string body = description + "\r*****Log file *****\r" + logText;
  TRequestRun run;
  if (ui.RunRequest) {
    run = [&ui](const std::function<void()>& request) {
      ui.DoBeginWait("sends your error report.");
      try {
        ui.DoRunRequest(request);
      } catch (...) {
        ui.DoEndWait();
        throw;
      }
      ui.DoEndWait();
    };
  }
  // the report's boxes stand over the caller's window, as every other box of the menu
  TTellUser tell;
  if (ui.Message || ui.Notify)
    tell = [&ui](const std::string& text, TMessageKind kind) {
      ui.DoMessage(text, kind == TMessageKind::Error ? TBoxKind::Critical : TBoxKind::Information);
    };
  SendErrorReportMail(email, body, attachment, run, tell);
}

TfrmErrorReportPublish::TfrmErrorReportPublish(const std::string& logText, QWidget* parent, const TOnlineUI& ui)
    : QDialog(parent), FLogText(logText), FUi(ui) {
  setWindowTitle("Send Errorreport");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Error Description (What happened? How can we reproduce the error?):"));
  Memo1 = new QPlainTextEdit;
  const int line = Memo1->fontMetrics().lineSpacing();
  Memo1->setFixedHeight(7 * line);
  layout->addWidget(Memo1);
  layout->addWidget(new QLabel("Additionally, this logfile will be attached to your report:"));
  memLogFile = new QPlainTextEdit;
  memLogFile->setReadOnly(true);
  memLogFile->setLineWrapMode(QPlainTextEdit::NoWrap);
  memLogFile->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memLogFile->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // wide enough for the log's lines, not so tall that the dialog leaves a small screen
  memLogFile->setFixedHeight(12 * line);
  memLogFile->setMinimumWidth(84 * memLogFile->fontMetrics().averageCharWidth());
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
  UseFixedDialogFrame(this);
}

void TfrmErrorReportPublish::showEvent(QShowEvent* event) {
  memLogFile->setPlainText(FromAnsi(FLogText));
  edtEmail->setText(FromAnsi(GameEnvironment.ErrorReportEmail));
  QDialog::showEvent(event);
}

namespace {
// The reply address as typed, by the settings' own rule for it.
std::string ReportAddress(const QLineEdit* edit) {
  return SettingsTextFromUtf8(TTextField::ErrorReportEmail, edit->text().toStdString());
}
}  // namespace

void TfrmErrorReportPublish::Button1Click() {
  TOnlineUI ui = FUi;
  if (!ui.Message) ui.Notify = WidgetOnlineUI(this).Notify;  // "Thanks for your help!" over this dialog
  SendErrorReport(ToAnsi(Memo1->toPlainText().replace('\n', '\r')),
                  ReportAddress(edtEmail), FLogText, ui);
  accept();
}

void TfrmErrorReportPublish::done(int r) {
  GameEnvironment.ErrorReportEmail = ReportAddress(edtEmail);
  QDialog::done(r);
}

void ShowErrorReportDialog(QWidget* parent, const TOnlineUI& ui) {
  TfrmErrorReportPublish form(GetLogText(), parent, ui);
  form.exec();
}
