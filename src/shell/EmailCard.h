#pragma once
// The e-mail card: its record, the sender check, the send to the card script, and the dialog.
// The entry point is in shell/OnlineServices.h.
#include <QDialog>
#include <string>
#include <vector>

#include "shell/OnlineServices.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
struct TMapiRecipient;

bool ValidCardSenderAddress(const std::string& address);
std::string BuildCardRecord(const std::string& recipients, const std::string& comment, const std::string& name,
                            const std::string& address, const std::string& userID);
// Appends the chosen addresses to the recipients text.
std::string AppendRecipients(std::string addresses, const std::vector<TMapiRecipient>& chosen);
// Checks, sends; true when the dialog may close. Every failure tells the user.
bool SendEmailCard(const std::string& recipients, const std::string& comment, const std::string& name,
                   const std::string& address, const TOnlineUI& ui);

class TfrmEmailCard : public QDialog {
  Q_OBJECT
public:
  TfrmEmailCard(const TOnlineUI& ui, QWidget* parent = nullptr);
  QLineEdit* edtAddresses;
  QPushButton* btnTo;  // "To...": disabled where there is no address book
  QPlainTextEdit* memComments;
  QLineEdit* edtSender;
  QLineEdit* edtSenderEmail;
  QPushButton* btnSend;
  void actSendUpdate();
  void actSendExecute();
  void actToExecute();

private:
  const TOnlineUI& FUi;
};
