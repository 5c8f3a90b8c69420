#pragma once
// The lookup of a logged error in the server's list of known errors, and the error-report
// dialog. The entry points are in shell/OnlineServices.h.
#include <QDialog>
#include <string>

#include "shell/OnlineServices.h"

class QPlainTextEdit;
class QLineEdit;

// One line of errors.txt: page, flag, expression; false for a line without two commas.
struct TErrorListEntry {
  std::string Page;
  bool OffersReport = false;
  std::string Expression;
};
bool ParseErrorListLine(const std::string& line, TErrorListEntry& entry);

class TfrmErrorReportPublish : public QDialog {
  Q_OBJECT
public:
  TfrmErrorReportPublish(const std::string& logText, QWidget* parent = nullptr);
  QPlainTextEdit* Memo1;
  QLineEdit* edtEmail;
  QPlainTextEdit* memLogFile;
  void Button1Click();

protected:
  void showEvent(QShowEvent* event) override;
  void done(int r) override;

private:
  std::string FLogText;
};
