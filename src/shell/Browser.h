#pragma once
// The embedded browser of the main window's browser area: a web view on an off-the-record
// profile (no cookies or cache on disk), without context menu and without the engine's own
// error pages. The main window decides through the events below which addresses it shows;
// new windows never open inside: their first address is handed on and the window dropped.
//
// Pages are untrusted. Nothing a page's script does on its own leaves the program: only the
// navigation or window that the player's click on a link or a form's button starts at once, to
// that link's address, may go out, once; a key's click (Enter, Space) counts only on what the
// player moved the focus to. A script of ours in a world of its own, which the page's scripts
// cannot reach, reports those clicks. Script dialogs, file choosers and permission requests get
// their default answer without a box; the page's console goes to no terminal. A renderer past
// its memory limit is ended; when the program itself grows past its bound while pages show (what
// pages store is kept in the program's own process), the page and everything its profile stored
// are dropped. A page ended twice is not loaded again in the run.
#include <QElapsedTimer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
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
  // flags the user set are left alone. Also puts in place the variable the engine's start sets.
  // Changes the environment: call before any other thread starts.
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
  // The page and its profile's storage are dropped once the program's own resident memory is
  // this many bytes above its size without pages. KESTRUNE_PAGE_MEMORY_MB sets both limits.
  int64_t MaxOwnGrowthBytes = int64_t(1) << 30;
  // The program's own resident bytes with no page storage in it (the least seen in the run
  // while the web view exists).
  int64_t OwnIdleBytes() const { return FOwnIdle; }

  // Before every navigation of the view (links, forms, redirects, scripts, frames); setting
  // `cancel` keeps the page as it is. `mayLeave`: the program's own load, or the player's click
  // on a link to this very address started it just now (a redirect of the navigation such a
  // click started counts within the click's window), so a cancelled address may go to the
  // external browser; false for everything else, a redirect of the program's own load too.
  std::function<void(const std::string& url, bool mainFrame, bool mayLeave, bool& cancel)> OnBeforeNavigate;
  // The first address a new window (target=_blank, window.open) wanted; the window is gone.
  // Only for windows the player's click on a link to that address opened.
  std::function<void(const std::string& url)> OnNewWindow;
  // A page has loaded completely.
  std::function<void(const std::string& url)> OnDocumentComplete;
  // A page could not be loaded (no connection, refused, an HTTP error), or its renderer ended
  // (crashed, killed, over its memory limit); `reason` for the log. A navigation cancelled by
  // OnBeforeNavigate is neither complete nor failed.
  std::function<void(const std::string& url, const std::string& reason)> OnLoadFailed;

private:
  friend class TBrowserPage;
  friend class TQuietPage;
  bool BeforeNavigate(const std::string& url, int type, bool mainFrame);  // true: proceed
  bool NewWindowAllowed(bool userInitiated, const std::string& url);
  void LoadingChanged(const QWebEngineLoadingInfo& info);
  void RendererEnded(int status, int exitCode);
  void WatchMemory();
  void WatchOwnMemory();
  void MakeProfile();
  void MakeProfileAndPage(bool newProfile = true);
  // The engine runs the pages inside our own process (logged once).
  bool PagesRunInside();
  void DropPageAndStorage(const std::string& why);
  // The page was ended (its process, or its storage): counted for its address, and for the
  // address the program loaded when the page came from it without a click.
  void CountEnded(const std::string& url);
  bool EndedTooOften(const std::string& url);  // logs once per address
  // A console line of the page: true when it was our click script's report.
  bool ClickReport(const QString& message);
  // Logs `line` once per kind of event and run.
  void NoteOnce(const std::string& kind, const std::string& line);
  void PageDialog(const std::string& kind, const QString& text);
  // Takes the player's fresh click on a link to `url`: the time of its report; -1 when there is none.
  int64_t TakeClick(const std::string& url);

  std::string FLastURL;
  QWebEngineProfile* FProfile = nullptr;
  TBrowserPage* FPage = nullptr;
  QWebEngineView* FView = nullptr;
  QTimer* FMemoryWatch = nullptr;
  bool FLoading = false;
  bool FUnavailable = false;  // the engine cannot run here
  std::string FFailedURL;      // the last page that failed, until one loads
  QElapsedTimer FClock;
  struct TClick {
    int64_t at;       // FClock time
    std::string url;  // the link's address, or the form's action
    bool form;        // a form's button: the query of the address is the form's
  };
  std::deque<TClick> FClicks;     // the player's clicks on links, not yet used
  std::string FClickKey;          // the secret that marks our click script's reports
  int64_t FUserNavigationUntil = -1;  // the main-frame load under way comes from one of them: its
                                      // redirects may leave until this FClock time
  bool FLeftByClick = false;      // the page shown was reached by a click since Navigate
  int64_t FOwnIdle = -1;          // see OwnIdleBytes
  bool FOwnRenderer = false;      // pages run in our own process: said so in the log
  std::map<std::string, int> FEnded;   // page address: times it was ended
  std::set<std::string> FNotAgain;     // addresses said to be loaded no more
  int64_t FCheckedPid = 0;           // the renderer whose command line was checked
  bool FEndingRenderer = false;      // we ended it: said so in the log already
  bool FRendererGone = false;        // the page's process ended; until the next Navigate
};
