#pragma once
// The lookup of a logged error in the server's list of known errors, and the error-report
// dialog. The entry points are in shell/OnlineServices.h.
#include <QDialog>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "game/ServerReplies.h"
#include "shell/OnlineServices.h"

// The server's list and expressions are untrusted: one runaway search gives up after
// kErrorExpressionUnits units of the engine, and the whole walk over the list after
// kErrorLookupUnits, either as a failing expression does. The slowest units found run at some 30
// million a second, the scans of the log at about 100 million: under a second for one search,
// at most about 3 seconds for the walk.
constexpr int64_t kErrorExpressionUnits = 20'000'000;
constexpr int64_t kErrorLookupUnits = 90'000'000;

// What the walk over the list did: the first line whose expression matched (-1: none, yet), the
// units charged (compiles and searches) and the lines searched.
struct TErrorListWalk {
  int Matched = -1;
  int64_t UnitsUsed = 0;
  int LinesSearched = 0;
};
// Searches `subject` with each line's expression in turn (modifiers i and m) until one matches,
// under one budget. Raises ERegularExpression when the budget is spent (reeStepLimitExceeded),
// when `cancel` is set (reeSearchCancelled, looked at per line and within each compile and
// search) or for an expression that cannot compile; `walk` tells how far it got. `budget`: the
// walk's units (the program's own by default).
void WalkErrorList(const std::vector<TErrorListEntry>& entries, const std::string& subject,
                   const std::atomic<bool>* cancel, TErrorListWalk& walk, int64_t budget = kErrorLookupUnits);

class QPlainTextEdit;
class QLineEdit;

class TfrmErrorReportPublish : public QDialog {
  Q_OBJECT
public:
  // `logText` is Windows-1252, as the trace log is.
  TfrmErrorReportPublish(const std::string& logText, QWidget* parent = nullptr, const TOnlineUI& ui = {});
  QPlainTextEdit* Memo1;
  QLineEdit* edtEmail;
  QPlainTextEdit* memLogFile;
  void Button1Click();

protected:
  void showEvent(QShowEvent* event) override;
  void done(int r) override;

private:
  std::string FLogText;
  TOnlineUI FUi;
};
