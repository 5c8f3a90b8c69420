#pragma once
// The online services of the menu: the error-solution lookup and error report, the highscore
// publication, the e-mail card and the level and world's-best downloads. Each has a plain entry
// point for the main window's actions; the questions, messages and the wait window go through
// TOnlineUI, so the logic runs (and is tested) without a window.
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;
#include "base/Classes.h"
#include "game/ServerReplies.h"

// The kind of a message box, which gives its icon (and Yes/No to the questions).
enum class TBoxKind { Information, Question, Warning, Critical };

struct TOnlineUI {
  std::function<bool(const std::string& text)> Ask;         // Yes/No; unset: No
  std::function<void(const std::string& text)> Message;     // any kind; unset: Notify
  // A box of its kind (the program's UI); unset: ErrorMessageHook.
  std::function<void(const std::string& text, TBoxKind kind)> Notify;
  std::function<void(const std::string& text)> BeginWait;   // shows the wait window with the text
  std::function<void()> EndWait;                            // frees it
  std::function<void()> ProcessMessages;                    // lets the GUI see Cancel
  std::function<void(const std::string& url)> OpenPage;     // unset: OpenURLInBrowser
  std::function<void()> SendErrorReport;                    // the "Send &Errorreport..." action
  // Runs one blocking request. The wait window's runner puts it on a worker thread and waits in
  // a local event loop, rethrowing its exception here; unset: runs it inline. Requests never
  // touch the random generator (the scrambling is done before).
  std::function<void(const std::function<void()>& request)> RunRequest;
  // Aborts the request in progress (Cancel of a dialog, closing it); unset: nothing to abort.
  std::function<void()> CancelRequest;

  bool DoAsk(const std::string& text) const;
  void DoMessage(const std::string& text, TBoxKind kind = TBoxKind::Information) const;
  void DoBeginWait(const std::string& text) const;
  void DoEndWait() const;
  void DoProcessMessages() const;
  void DoOpenPage(const std::string& url) const;
  void DoRunRequest(const std::function<void()>& request) const;
  void DoCancelRequest() const;
};

// Message boxes and questions over `parent`, in plain text (server text is never markup);
// the texts are Windows-1252. The wait window and the request runner come from MenuOnlineUI
// (shell/MenuServices.h), the UI the program really uses.
TOnlineUI WidgetOnlineUI(QWidget* parent);

// Error-solution lookup. The error list lives for the run once a download succeeded.
class TErrorSolutions {
public:
  // Does nothing unless lookupArmed and mainWindowActive; clears lookupArmed.
  void LookUpErrorSolution(bool& lookupArmed, bool mainWindowActive, const TOnlineUI& ui);
  bool LoadErrorList(const TOnlineUI& ui);
  const TStringList* ErrorList() const { return FErrorList.get(); }
  // Drops the list, so the next lookup downloads it again.
  void Forget() {
    FErrorList.reset();
    FEntries.clear();
  }
  ~TErrorSolutions();

private:
  std::unique_ptr<TStringList> FErrorList;
  std::vector<TErrorListEntry> FEntries;  // its usable lines
  bool FCancelled = false;  // the last download was cancelled
};

// The error-report dialog, modal, over the whole trace-log text.
void ShowErrorReportDialog(QWidget* parent, const TOnlineUI& ui);
// Its send: the body and attachment rules, then SendErrorReportMail through the UI's runner.
// All three texts are Windows-1252.
void SendErrorReport(const std::string& description, const std::string& email, const std::string& logText,
                     const TOnlineUI& ui = {});

// Highscore publication dialog, modal.
void ShowHighscorePublishDialog(QWidget* parent, const TOnlineUI& ui);
// The new-highscore question ("A New Highscore!"): true for Yes.
bool AskNewHighscore(QWidget* parent, int score);

// E-mail card dialog, modal.
void ShowEmailCardDialog(QWidget* parent, const TOnlineUI& ui);

// Level download dialog, modal; the main window rebuilds its level menu afterwards.
void ShowDownloadLevelsDialog(QWidget* parent, const TOnlineUI& ui);
// World's-best dialog, modal: -1 for nothing to replay, 0 all levels, k level k.
int ExecuteDownloadWorldBest(QWidget* parent, const TOnlineUI& ui);
