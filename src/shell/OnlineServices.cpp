#include "shell/OnlineServices.h"

#include <QMessageBox>
#include <QPointer>

#include "engine/Inet.h"
#include "game/KTGlobal.h"

bool TOnlineUI::DoAsk(const std::string& text) const { return Ask ? Ask(text) : false; }

void TOnlineUI::DoMessage(const std::string& text) const {
  if (Message) Message(text);
  else if (ErrorMessageHook) ErrorMessageHook(text);
}

void TOnlineUI::DoBeginWait(const std::string& text) const {
  if (BeginWait) BeginWait(text);
}

void TOnlineUI::DoEndWait() const {
  if (EndWait) EndWait();
}

void TOnlineUI::DoProcessMessages() const {
  if (ProcessMessages) ProcessMessages();
}

void TOnlineUI::DoOpenPage(const std::string& url) const {
  if (OpenPage) OpenPage(url);
  else OpenURLInBrowser(url);
}

void TOnlineUI::DoRunRequest(const std::function<void()>& request) const {
  if (RunRequest) RunRequest(request);
  else request();
}

TOnlineUI WidgetOnlineUI(QWidget* parent) {
  QPointer<QWidget> owner(parent);
  TOnlineUI ui;
  ui.Ask = [owner](const std::string& text) {
    return QMessageBox::question(owner, "Kestrune", QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  ui.Message = [owner](const std::string& text) {
    QMessageBox::information(owner, "Kestrune", QString::fromStdString(text));
  };
  return ui;
}
