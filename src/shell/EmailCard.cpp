#include "shell/EmailCard.h"

#include <QApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/SysUtils.h"
#include "base/Win1252.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "shell/DialogFrame.h"
#include "shell/SimpleMapi.h"

bool ValidCardSenderAddress(const std::string& address) {
  std::string a = Trim(address);
  size_t at = a.find('@');
  return !a.empty() && at != std::string::npos && at > 0 && a.find('.') != std::string::npos &&
         a.find(' ') == std::string::npos;
}

namespace {
std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size()) s.replace(p, from.size(), to);
  return s;
}
std::string Field(const std::string& s) { return (s.empty() ? std::string(" ") : s) + "|"; }
QString FromAnsi(const std::string& text) { return QString::fromStdString(Cp1252ToUtf8(text)); }
std::string ToAnsi(const QString& text) { return Utf8ToCp1252(text.toStdString()); }
}  // namespace

std::string BuildCardRecord(const std::string& recipients, const std::string& comment, const std::string& name,
                            const std::string& address, const std::string& userID) {
  std::string c = ReplaceAll(ReplaceAll(ReplaceAll(comment, "|", "!"), "<", "&lt;"), "\r", "<br>");
  return Field(ReplaceAll(recipients, "|", "!")) + Field(c) + Field(Trim(ReplaceAll(name, "|", "!"))) +
         Field(Trim(ReplaceAll(address, "|", "!"))) +
         Field(Trim(ReplaceAll(userID, "|", "!")));
}

std::string AppendRecipients(std::string addresses, const std::vector<TMapiRecipient>& chosen) {
  for (const TMapiRecipient& r : chosen) {
    if (r.Address.empty()) continue;
    if (!addresses.empty() && addresses.back() != ',') addresses += ", ";
    addresses += r.Address;
  }
  return addresses;
}

bool SendEmailCard(const std::string& recipients, const std::string& comment, const std::string& name,
                   const std::string& address, const TOnlineUI& ui) {
  if (!ValidCardSenderAddress(address)) {
    ui.DoMessage("Please enter a valid email address to give your recipients the ability to reply to your card",
                 TBoxKind::Warning);
    return false;
  }
  if (!CheckInternet(true)) return false;
  std::string record = BuildCardRecord(recipients, comment, name, address, GameEnvironment.UserID);
  try {
    ui.DoBeginWait("sends the email card.");
    try {
      std::string host = GameEnvironment.HighScoreHost;
      std::string form = "cs=" + ScrambleFormField(record);
      ui.DoRunRequest([&] { HttpPostForm(host, "/card.php", form); });
    } catch (...) {
      ui.DoEndWait();
      throw;
    }
    ui.DoEndWait();
    return true;
  } catch (const ERequestCancelled&) {
    Log("Sending the card email was cancelled", ltInfo);
    return false;
  } catch (const std::exception& e) {
    Log(std::string("There was an error sending the card email. (") + TextExcerpt(e.what(), 200) + ")", ltWarning);
    ui.DoMessage("There was an error sending the card email.", TBoxKind::Critical);
    return false;
  }
}

TfrmEmailCard::TfrmEmailCard(const TOnlineUI& ui, QWidget* parent) : QDialog(parent), FUi(ui) {
  setWindowTitle("Send Email Card");
  auto* layout = new QVBoxLayout(this);
  auto* recipientsBox = new QGroupBox("Recipients: ");
  auto* recipientsRow = new QHBoxLayout(recipientsBox);
  edtAddresses = new QLineEdit;
  btnTo = new QPushButton("To...");
  btnTo->setObjectName("btnTo");
  if (!AddressBookAvailable()) {
    btnTo->setEnabled(false);
    btnTo->setToolTip(kNoAddressBookText);
  }
  recipientsRow->addWidget(edtAddresses);
  recipientsRow->addWidget(btnTo);
  layout->addWidget(recipientsBox);
  auto* commentBox = new QGroupBox("Your comment:");
  auto* commentLayout = new QVBoxLayout(commentBox);
  memComments = new QPlainTextEdit;
  commentLayout->addWidget(memComments);
  layout->addWidget(commentBox);
  auto* senderBox = new QGroupBox("Sender:");
  auto* senderForm = new QFormLayout(senderBox);
  edtSender = new QLineEdit(FromAnsi(GameEnvironment.Alias));
  edtSenderEmail = new QLineEdit(FromAnsi(GameEnvironment.Email));
  senderForm->addRow("Name:", edtSender);
  senderForm->addRow("Email:", edtSenderEmail);
  layout->addWidget(senderBox);
  auto* buttons = new QHBoxLayout;
  btnSend = new QPushButton("Send");
  auto* btnCancel = new QPushButton("Cancel");
  buttons->addWidget(btnSend);
  buttons->addWidget(btnCancel);
  layout->addLayout(buttons);
  connect(edtAddresses, &QLineEdit::textChanged, this, [this] { actSendUpdate(); });
  connect(btnSend, &QPushButton::clicked, this, [this] { actSendExecute(); });
  connect(btnTo, &QPushButton::clicked, this, [this] { actToExecute(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  actSendUpdate();
  UseFixedDialogFrame(this);
}

void TfrmEmailCard::actSendUpdate() { btnSend->setEnabled(!edtAddresses->text().trimmed().isEmpty()); }

void TfrmEmailCard::actSendExecute() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // The card keeps the comment's line breaks as CR LF.
  // Pasted control characters go as they would from the settings; the comment keeps its lines.
  auto line = [](const QLineEdit* edit) { return TypedText(edit->text().toStdString(), false); };
  bool sent = SendEmailCard(line(edtAddresses), TypedText(memComments->toPlainText().replace("\n", "\r\n").toStdString(), true),
                            line(edtSender), line(edtSenderEmail), FUi);
  QApplication::restoreOverrideCursor();
  if (sent) accept();
}

void TfrmEmailCard::actToExecute() {
  try {
    TMapiEmail mail;
    mail.LogOn("", "");
    if (mail.Address("", 1))
      edtAddresses->setText(FromAnsi(AppendRecipients(ToAnsi(edtAddresses->text()), mail.Recipients)));
  } catch (const EMapiError& e) {
    if (e.ErrorCode != kMapiUserAbort) FUi.DoMessage(e.Message, TBoxKind::Critical);
  }
}

void ShowEmailCardDialog(QWidget* parent, const TOnlineUI& ui) {
  TfrmEmailCard form(ui, parent);
  form.exec();
}
