#include "shell/OnlineServices.h"

#include <QMessageBox>
#include <QPointer>

#include "engine/Inet.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "platform/ShellServices.h"
#include "shell/MenuServices.h"

bool TOnlineUI::DoAsk(const std::string& text) const { return Ask ? Ask(text) : false; }

void TOnlineUI::DoMessage(const std::string& text, TBoxKind kind) const {
  if (Message) Message(text);
  else if (Notify) Notify(text, kind);
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
  // addresses built from the server's values: only web pages leave the program
  if (!IsWebAddress(url)) {
    Log("Refused to open an address that is not a web page: " + TextExcerpt(url, 80), ltWarning);
    return;
  }
  if (OpenPage) OpenPage(url);
  else OpenURLInBrowser(url);
}

void TOnlineUI::DoRunRequest(const std::function<void()>& request) const {
  if (RunRequest) RunRequest(request);
  else request();
}

void TOnlineUI::DoCancelRequest() const {
  if (CancelRequest) CancelRequest();
}

TOnlineUI WidgetOnlineUI(QWidget* parent) {
  QPointer<QWidget> owner(parent);
  TOnlineUI ui;
  ui.Ask = [owner](const std::string& text) { return ShowPlainMessageBox(owner, TBoxKind::Question, text); };
  ui.Notify = [owner](const std::string& text, TBoxKind kind) { ShowPlainMessageBox(owner, kind, text); };
  return ui;
}
