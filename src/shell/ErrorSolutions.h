#pragma once
// The lookup of a logged error in the server's list of known errors, and the error-report
// dialog. The entry points are in shell/OnlineServices.h.
#include <QDialog>
#include <string>

#include "game/ServerReplies.h"
#include "shell/OnlineServices.h"

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
