#pragma once
// The embedded browser of the main window's browser area: a web view on an off-the-record
// profile (no cookies or cache on disk), without context menu and without the engine's own
// error pages. The main window decides through the events below which addresses it shows;
// new windows never open inside: their first address is handed on and the window dropped.
//
// Pages are untrusted. Nothing a page's script does on its own leaves the program: only the
// player's click (or key) on the view lets one address go out. Script dialogs, file choosers and
// permission requests get their default answer without a box. A renderer past its memory limit
// is ended.
#include <QElapsedTimer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>

class QTimer;
class QWebEngineLoadingInfo;
class QWebEngineProfile;
class QWebEngineView;
class TBrowserPage;

class TBrowserArea : public QWidget {
  Q_OBJECT
public:
  explicit TBrowserArea(QWidget* parent);
  ~TBrowserArea() override;

  // Limits for the engine's processes, through its command-line flags (a script heap limit);
  // flags the user set are left alone. Call before the first web view is made.
  static void SetEngineLimits();

  // Loads the address into the view (created first if needed).
  void Navigate(const std::string& url);
  // The last address given to Navigate.
  const std::string& LastURL() const { return FLastURL; }
  // Creates the web view and so starts the web engine; until then the area is an empty widget.
  // Run as root, the engine needs its sandbox switched off (QTWEBENGINE_DISABLE_SANDBOX=1):
  // without that the area stays empty and Navigate does nothing.
  void CreateView();
  QWebEngineView* View() const { return FView; }
  // The address of the page shown (or being loaded); empty before the first load.
  std::string CurrentURL() const;
  // A main-frame load is under way.
  bool Loading() const { return FLoading; }
  // The page's renderer process is ended once its resident memory passes this many bytes.
  int64_t MaxRendererBytes = int64_t(1) << 30;

  // Before every navigation of the view (links, forms, redirects, scripts, frames); setting
  // `cancel` keeps the page as it is. `mayLeave`: the player's click or key (or the program's
  // own load) asked for it, so a cancelled address may go to the external browser; false for
  // what a page's script does on its own.
  std::function<void(const std::string& url, bool mainFrame, bool mayLeave, bool& cancel)> OnBeforeNavigate;
  // The first address a new window (target=_blank, window.open) wanted; the window is gone.
  // Only for windows the player's click opened.
  std::function<void(const std::string& url)> OnNewWindow;
  // A page has loaded completely.
  std::function<void(const std::string& url)> OnDocumentComplete;
  // A page could not be loaded (no connection, refused, an HTTP error), or its renderer ended
  // (crashed, killed, over its memory limit); `reason` for the log. A navigation cancelled by
  // OnBeforeNavigate is neither complete nor failed.
  std::function<void(const std::string& url, const std::string& reason)> OnLoadFailed;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  friend class TBrowserPage;
  friend class TQuietPage;
  bool BeforeNavigate(const std::string& url, int type, bool mainFrame);  // true: proceed
  bool NewWindowAllowed(bool userInitiated);
  void LoadingChanged(const QWebEngineLoadingInfo& info);
  void RendererEnded(int status, int exitCode);
  void WatchMemory();
  // Logs `line` once per kind of event and run.
  void NoteOnce(const std::string& kind, const std::string& line);
  void PageDialog(const std::string& kind, const QString& text);
  bool TakeUserAction();
  void WatchInput(QObject* widget);

  std::string FLastURL;
  QWebEngineProfile* FProfile = nullptr;
  TBrowserPage* FPage = nullptr;
  QWebEngineView* FView = nullptr;
  QTimer* FMemoryWatch = nullptr;
  bool FLoading = false;
  bool FUnavailable = false;  // the engine cannot run here
  std::string FFailedURL;      // the last page that failed, until one loads
  QElapsedTimer FClock;
  std::deque<int64_t> FUserActions;  // times of the player's clicks and keys not yet used
  bool FUserNavigation = false;      // the main-frame load under way comes from one of them
  int64_t FCheckedPid = 0;           // the renderer whose command line was checked
  bool FEndingRenderer = false;      // we ended it: said so in the log already
  bool FRendererGone = false;        // the page's process ended; until the next Navigate
};
