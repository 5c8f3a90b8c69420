#include "shell/Browser.h"

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "engine/Inet.h"
#include "engine/tools.h"

namespace {
std::string Str(const QUrl& url) { return url.toString(QUrl::FullyEncoded).toStdString(); }

// The script heap of a page, in MB: far above what the game server's pages need.
constexpr int kScriptHeapMB = 512;
// How long the report of a click on a link waits for the navigation or window the click starts
// (it comes right after the report); one click lets out at most one address.
constexpr int64_t kClickMs = 1000;
constexpr int kMemoryWatchMs = 500;
// The off-the-record profile keeps its HTTP cache in our memory: far above what the menu's
// pages need.
constexpr int kHttpCacheBytes = 16 << 20;
// A page ended this often is not loaded again in the run.
constexpr int kEndsPerPage = 2;

// Runs in a world of its own in every frame (the page's scripts share the document but not this
// script's globals, nor its console): reports the player's clicks on links and form buttons,
// with the address they go to, on the console, marked with a secret of the run. `isTrusted` holds
// only for the engine's own events, never for a script's click(); but a key (Enter, Space) makes
// a trusted click on whatever has the focus, and a page's script can put the focus anywhere. So
// a pointer's click counts (detail > 0), a key's click only on what the player moved the focus
// to: a trusted focus change that came from an input device (Tab, Shift+Tab, a pointer) names
// it, one a script made (no input device) clears it. The click's composed path reaches links in
// open shadow roots. Listening on the window in the capture phase, from the document's creation
// on, it sees each event before any listener of the page.
const char* const kClickScript = R"js((function() {
  var key = '%1';
  var chosen = null;  // what the player moved the focus to
  function pathOf(e) {
    var path = e.composedPath ? e.composedPath() : [];
    return path.length ? path : [e.target];
  }
  function find(path, selector) {
    for (var i = 0; i < path.length; ++i)
      if (path[i] && path[i].nodeType === 1 && path[i].matches(selector)) return path[i];
    return null;
  }
  window.addEventListener('focusin', function(e) {
    chosen = e.isTrusted && e.sourceCapabilities ? pathOf(e)[0] : null;
  }, true);
  function byPlayer(e, path, element) {
    if (e.detail > 0) return true;  // a pointer's click
    if (!chosen || !chosen.isConnected) return false;
    // the focused element itself, or Enter in a field of the button's form
    return path.indexOf(chosen) >= 0 || (element.form && chosen.form === element.form);
  }
  function report(e) {
    if (!e.isTrusted) return;
    var path = pathOf(e);
    var link = find(path, 'a[href], area[href]');
    if (link) {
      if (!byPlayer(e, path, link)) return;
      var href = typeof link.href === 'string' ? link.href : new URL(link.href.baseVal, document.baseURI).href;
      console.debug(key + 'a ' + href);
      return;
    }
    var button = find(path, 'button, input[type=submit], input[type=image]');
    if (button && button.form && (button.type === 'submit' || button.type === 'image') && byPlayer(e, path, button))
      console.debug(key + 'f ' + (button.hasAttribute('formaction') ? button.formAction : button.form.action));
  }
  window.addEventListener('click', report, true);
  window.addEventListener('auxclick', report, true);
})();)js";

// An address without its fragment, and for a form without its query, in the form the engine
// reports addresses.
std::string Comparable(const std::string& url, bool form) {
  QUrl u(QString::fromStdString(url));
  u.setFragment(QString());
  if (form) u.setQuery(QString());
  return Str(u);
}

std::string ProcFile(int64_t pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int64_t ResidentOf(const std::string& statm) {
  long long size = 0, resident = 0;
  if (std::sscanf(statm.c_str(), "%lld %lld", &size, &resident) != 2) return -1;
  return resident * sysconf(_SC_PAGESIZE);
}
// Resident bytes of a process; -1 when it cannot be read (gone).
int64_t ResidentBytes(int64_t pid) { return ResidentOf(ProcFile(pid, "statm")); }
int64_t OwnResidentBytes() {
  std::ifstream in("/proc/self/statm", std::ios::binary);
  return ResidentOf(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

// The parent of a process; 0 when it cannot be read.
int64_t ParentOf(int64_t pid) {
  const std::string stat = ProcFile(pid, "stat");
  const size_t end = stat.rfind(')');  // the name in brackets may hold anything
  long long parent = 0;
  if (end == std::string::npos || std::sscanf(stat.c_str() + end + 1, " %*c %lld", &parent) != 1) return 0;
  return parent;
}

std::string MB(int64_t bytes) { return std::to_string(bytes >> 20) + " MB"; }
}  // namespace

// A page of the area: its boxes, file choosers and permission requests are answered without
// asking anybody (pages are untrusted, and a box would hold the menu).
class TQuietPage : public QWebEnginePage {
public:
  TQuietPage(QWebEngineProfile* profile, TBrowserArea* area) : QWebEnginePage(profile, area), FArea(area) {
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl& origin, Feature feature) {
      setFeaturePermission(origin, feature, PermissionDeniedByUser);
      Refused("permission request " + std::to_string(int(feature)));
    });
    connect(this, &QWebEnginePage::fullScreenRequested, this, [this](QWebEngineFullScreenRequest request) {
      request.reject();
      Refused("full screen");
    });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [this](QWebEngineRegisterProtocolHandlerRequest request) {
              request.reject();
              Refused("protocol handler");
            });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this, [this](QWebEngineFileSystemAccessRequest request) {
      request.reject();
      Refused("file access");
    });
  }

protected:
  void javaScriptAlert(const QUrl&, const QString& text) override { Dialog("alert", text); }
  bool javaScriptConfirm(const QUrl&, const QString& text) override {
    // The engine asks this way, too, whether a page with an unload handler may be left: it may.
    if (text == QCoreApplication::translate("QWebEnginePage", "Are you sure you want to leave this page? "
                                                              "Changes that you made may not be saved.")) {
      FArea->NoteOnce("leave question", "Browser: the page may be left, its unload handler is not asked: " + Str(url()));
      return true;
    }
    Dialog("confirm", text);
    return false;  // as if cancelled
  }
  bool javaScriptPrompt(const QUrl&, const QString& text, const QString&, QString*) override {
    Dialog("prompt", text);
    return false;  // as if cancelled: the script gets null
  }
  QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override {
    Dialog("file chooser", QString());
    return {};
  }
  // Never the engine's own handling, which prints every line on stderr: a page may write to its
  // console without end. Like its boxes, a note for the run.
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int, const QString&) override {
    if (FArea->ClickReport(message)) return;
    FArea->NoteOnce("console", "Browser: the page's console is not shown (\"" +
                                   TextExcerpt(message.left(120).toStdString(), 60) + "\"): " + Str(url()));
  }

  TBrowserArea* FArea;

private:
  void Dialog(const char* kind, const QString& text) {
    std::string what = kind;
    if (!text.isEmpty()) what += " \"" + TextExcerpt(text.toStdString(), 60) + "\"";
    FArea->NoteOnce("dialog", "Browser: boxes of the page are not shown (" + what + "): " + Str(url()));
  }
  void Refused(const std::string& what) { FArea->NoteOnce(what, "Browser: " + what + " refused: " + Str(url())); }
};

namespace {
// A window the player's click opened: it never shows anything. Its first navigation names the
// address the page wanted to open; that goes to the browser area and the page is dropped.
class TThrowAwayPage : public TQuietPage {
public:
  TThrowAwayPage(QWebEngineProfile* profile, TBrowserArea* area, std::function<void(const std::string&)> onAddress)
      : TQuietPage(profile, area), FOnAddress(std::move(onAddress)) {}

protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    if (!isMainFrame || FDone) return false;
    FDone = true;
    if (FOnAddress) FOnAddress(Str(url));
    deleteLater();
    return false;
  }

private:
  std::function<void(const std::string&)> FOnAddress;
  bool FDone = false;
};
}  // namespace

class TBrowserPage : public TQuietPage {
public:
  TBrowserPage(QWebEngineProfile* profile, TBrowserArea* area) : TQuietPage(profile, area) {
    connect(this, &QWebEnginePage::newWindowRequested, this, [this, profile](QWebEngineNewWindowRequest& request) {
      if (!FArea->NewWindowAllowed(request.isUserInitiated(), Str(request.requestedUrl()))) {
        FArea->NoteOnce("leave", "Browser: a window the page opened without a click is not opened: " +
                                     Str(request.requestedUrl()));
        return;  // not taken: the engine drops it (createWindow makes none)
      }
      TBrowserArea* area = FArea;
      const std::string clicked = Str(request.requestedUrl());
      request.openIn(new TThrowAwayPage(profile, area, [area, clicked](const std::string& url) {
        // only the address the click was for, not one a script gave the window since
        if (Comparable(url, false) != Comparable(clicked, false)) {
          area->NoteOnce("leave", "Browser: a window the page opened without a click is not opened: " + url);
          return;
        }
        if (area->OnNewWindow) area->OnNewWindow(url);
      }));
    });
  }

protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
    return FArea->BeforeNavigate(Str(url), type, isMainFrame);
  }
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
};

TBrowserArea::TBrowserArea(QWidget* parent) : QWidget(parent) {
  setObjectName("MainBrowser");
  setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  FClock.start();
  if (const char* mb = getenv("KESTRUNE_PAGE_MEMORY_MB"); mb && std::atoll(mb) > 0)
    MaxRendererBytes = MaxOwnGrowthBytes = int64_t(std::atoll(mb)) << 20;
  // 128 bits the pages never see
  for (int i = 0; i < 4; ++i) FClickKey += QString::number(QRandomGenerator::system()->generate(), 16).toStdString() + '.';
}

TBrowserArea::~TBrowserArea() {
  // the pages go before their profile, the view before its page
  delete FView;
  FView = nullptr;
  for (QWebEnginePage* page : findChildren<QWebEnginePage*>(Qt::FindDirectChildrenOnly)) delete page;
  FPage = nullptr;
  delete FProfile;
}

void TBrowserArea::SetEngineLimits() {
  // The engine's start sets this for the GL driver on the GUI thread while request threads read
  // the environment (proxy variables, the resolver's): a variable new then would move the whole
  // environment under them. Already there, it is only replaced in place.
  setenv("force_s3tc_enable", "true", 0);
  const char* flags = getenv("QTWEBENGINE_CHROMIUM_FLAGS");
  if (flags && *flags) return;  // the user's own
  const std::string own = "--js-flags=--max-old-space-size=" + std::to_string(kScriptHeapMB);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", own.c_str(), 1);
}

namespace {
// The web engine will not run as root with its sandbox on: it ends the whole process.
bool EngineRefusesToRun() {
  if (geteuid() != 0) return false;
  const char* off = getenv("QTWEBENGINE_DISABLE_SANDBOX");
  const char* flags = getenv("QTWEBENGINE_CHROMIUM_FLAGS");
  return !(off && *off && std::strcmp(off, "0") != 0) && !(flags && std::strstr(flags, "--no-sandbox"));
}
}  // namespace

void TBrowserArea::CreateView() {
  if (FView || FUnavailable) return;
  if (EngineRefusesToRun()) {
    FUnavailable = true;
    Log("Browser: the web engine does not run as root unless QTWEBENGINE_DISABLE_SANDBOX=1 is set; "
        "the embedded browser stays off",
        ltWarning);
    return;
  }
  FView = new QWebEngineView(this);
  FView->setObjectName("MainBrowserView");
  FView->setContextMenuPolicy(Qt::NoContextMenu);
  MakeProfileAndPage();
  layout()->addWidget(FView);
  FMemoryWatch = new QTimer(this);
  FMemoryWatch->setInterval(kMemoryWatchMs);
  connect(FMemoryWatch, &QTimer::timeout, this, &TBrowserArea::WatchMemory);
  FMemoryWatch->start();
}

void TBrowserArea::MakeProfileAndPage(bool newProfile) {
  if (newProfile) MakeProfile();
  FPage = new TBrowserPage(FProfile, this);
  // The load's own report, not loadFinished: a navigation we cancel also ends in
  // loadFinished(false) while the old page stays, and loadFinished names no address of its own.
  connect(FPage, &QWebEnginePage::loadingChanged, this, &TBrowserArea::LoadingChanged);
  connect(FPage, &QWebEnginePage::renderProcessTerminated, this,
          [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
            RendererEnded(int(status), exitCode);
          });
  FView->setPage(FPage);
}

void TBrowserArea::MakeProfile() {
  FProfile = new QWebEngineProfile(this);  // no storage name: off the record
  FProfile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  FProfile->setHttpCacheMaximumSize(kHttpCacheBytes);
  FProfile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  QWebEngineSettings* settings = FProfile->settings();
  settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  QWebEngineScript clicks;
  clicks.setName("kestrune-clicks");
  clicks.setSourceCode(QString(kClickScript).arg(QString::fromStdString(FClickKey)));
  clicks.setWorldId(QWebEngineScript::ApplicationWorld);
  clicks.setInjectionPoint(QWebEngineScript::DocumentCreation);
  clicks.setRunsOnSubFrames(true);
  FProfile->scripts()->insert(clicks);
}

void TBrowserArea::DropPageAndStorage(const std::string& why) {
  const std::string url = CurrentURL();
  CountEnded(url);
  const QList<QWebEnginePage*> pages = findChildren<QWebEnginePage*>(Qt::FindDirectChildrenOnly);
  QWebEngineProfile* profile = FProfile;
  // The engine ends the program when it runs its pages inside it and gets a second profile:
  // then the page goes, with the script heap it had in our process, and the cache.
  const bool newProfile = !PagesRunInside();
  MakeProfileAndPage(newProfile);  // the view lets the old page go
  // the pages before their profile: with the profile goes all it stored (in our memory)
  for (QWebEnginePage* page : pages) delete page;
  if (newProfile) delete profile;
  else FProfile->clearHttpCache();
  FClicks.clear();
  FLoading = false;
  FUserNavigationUntil = -1;
  FEndingRenderer = false;
  FCheckedPid = 0;
  // The engine frees the storage on threads of its own, much of it in small blocks the C
  // library keeps for later: handed back to the system once they are free.
  for (int ms : {500, 2000, 5000}) QTimer::singleShot(ms, this, [] { malloc_trim(0); });
  FRendererGone = true;  // until the next Navigate
  FFailedURL = url;
  if (OnLoadFailed) OnLoadFailed(url, why);
}

void TBrowserArea::CountEnded(const std::string& url) {
  ++FEnded[url];
  if (!FLeftByClick && !FLastURL.empty() && FLastURL != url) ++FEnded[FLastURL];
}

bool TBrowserArea::EndedTooOften(const std::string& url) {
  const auto it = FEnded.find(url);
  if (it == FEnded.end() || it->second < kEndsPerPage) return false;
  if (FNotAgain.insert(url).second)
    Log("Browser: the page was ended " + std::to_string(it->second) + " times; it is not loaded again in this run: " +
            url,
        ltWarning);
  return true;
}

void TBrowserArea::Navigate(const std::string& url) {
  FLastURL = url;
  CreateView();
  if (!FPage) return;
  FLeftByClick = false;
  if (EndedTooOften(url)) return;  // the logo stays
  if (url != FFailedURL) Log("Browser: " + url, ltInfo);  // retries of a failing page: no new line
  FLoading = true;
  FRendererGone = false;
  FPage->load(QUrl(QString::fromStdString(url)));
}

std::string TBrowserArea::CurrentURL() const { return FPage ? Str(FPage->url()) : std::string(); }

bool TBrowserArea::BeforeNavigate(const std::string& url, int type, bool mainFrame) {
  bool mayLeave = false;
  bool clicked = false;
  if (mainFrame) {
    switch (type) {
      case QWebEnginePage::NavigationTypeTyped:  // the program's own load
        mayLeave = true;
        FUserNavigationUntil = -1;
        break;
      case QWebEnginePage::NavigationTypeRedirect:
        // A server's redirect, and also a script's move while the page still loads (an image
        // that never ends keeps it loading): as the click's navigation only within the click's
        // window; never for the program's own load.
        mayLeave = FUserNavigationUntil >= 0 && FClock.elapsed() <= FUserNavigationUntil;
        break;
      default: {  // links, forms, history, scripts: only the player's click on a link to it
        const int64_t at = TakeClick(url);
        clicked = mayLeave = at >= 0;
        FUserNavigationUntil = clicked ? at + kClickMs : -1;
        break;
      }
    }
    if (EndedTooOften(url)) {
      FUserNavigationUntil = -1;
      return false;
    }
  }
  bool cancel = false;
  if (OnBeforeNavigate) OnBeforeNavigate(url, mainFrame, mayLeave, cancel);
  if (!cancel) {
    if (clicked) FLeftByClick = true;
    return true;
  }
  if (!mainFrame) {
    NoteOnce("frame", "Browser: frame not shown: " + url);
  } else {
    if (!mayLeave) NoteOnce("leave", "Browser: the page went to another address without a click; not opened: " + url);
    FUserNavigationUntil = -1;  // the click is used up
  }
  return false;
}

bool TBrowserArea::NewWindowAllowed(bool userInitiated, const std::string& url) {
  return userInitiated && TakeClick(url) >= 0;
}

bool TBrowserArea::ClickReport(const QString& message) {
  if (!message.startsWith(QLatin1String(FClickKey.data(), qsizetype(FClickKey.size())))) return false;
  const std::string rest = message.mid(qsizetype(FClickKey.size())).toStdString();
  if (rest.size() < 2 || (rest[0] != 'a' && rest[0] != 'f') || rest[1] != ' ') return true;
  if (FClicks.size() >= 8) FClicks.pop_front();
  FClicks.push_back({FClock.elapsed(), rest.substr(2), rest[0] == 'f'});
  return true;
}

int64_t TBrowserArea::TakeClick(const std::string& url) {
  const int64_t now = FClock.elapsed();
  while (!FClicks.empty() && now - FClicks.front().at > kClickMs) FClicks.pop_front();
  for (auto it = FClicks.begin(); it != FClicks.end(); ++it) {
    if (Comparable(it->url, it->form) != Comparable(url, it->form)) continue;
    const int64_t at = it->at;
    FClicks.erase(it);
    return at;
  }
  return -1;
}

void TBrowserArea::NoteOnce(const std::string& kind, const std::string& line) {
  // Once per run, not per page: a page that reloads or changes its address would make each a new one.
  LogPageNote(kind, line + " (said once for the run)");
}

bool TBrowserArea::PagesRunInside() {
  const char* flags = getenv("QTWEBENGINE_CHROMIUM_FLAGS");
  const bool inside = (FPage && FPage->renderProcessPid() == getpid()) || (flags && std::strstr(flags, "single-process"));
  if (inside && !FOwnRenderer)
    Log("Browser: the pages run in the program's own process; their process is not watched, the program's memory is",
        ltInfo);
  FOwnRenderer = FOwnRenderer || inside;
  return FOwnRenderer;
}

void TBrowserArea::WatchMemory() {
  if (!FPage) return;
  // never the renderer's process when it is ours: ending it would end the program
  const bool inside = PagesRunInside();
  WatchOwnMemory();
  if (inside || !FPage || FEndingRenderer) return;
  const int64_t pid = FPage->renderProcessPid();
  if (pid <= 1 || pid == getpid()) return;
  const int64_t resident = ResidentBytes(pid);
  if (resident <= MaxRendererBytes) return;
  // A number the system may have given to another process since: ours are the engine's
  // renderers, forked by its zygote, which we started (with the sandbox, through a reaper).
  if (FCheckedPid != pid) {
    int64_t ancestor = pid;
    for (int i = 0; i < 4 && ancestor > 1 && ancestor != getpid(); ++i) ancestor = ParentOf(ancestor);
    if (ancestor != getpid()) return;
    FCheckedPid = pid;
  }
  Log("Browser: the page's process uses " + MB(resident) + " (the limit is " + MB(MaxRendererBytes) +
          "); it is ended: " + CurrentURL(),
      ltWarning);
  FEndingRenderer = true;
  kill(pid_t(pid), SIGKILL);
}

void TBrowserArea::WatchOwnMemory() {
  if (!FPage) return;
  const int64_t own = OwnResidentBytes();
  if (own < 0) return;
  if (FOwnIdle < 0 || own < FOwnIdle) FOwnIdle = own;
  // only while a page shows or loads: what the program does without pages is not theirs
  if (CurrentURL().empty() || FRendererGone || own - FOwnIdle <= MaxOwnGrowthBytes) return;
  Log("Browser: the program uses " + MB(own) + ", " + MB(own - FOwnIdle) + " more than without pages (the limit is " +
          MB(MaxOwnGrowthBytes) + "); the page and all it stored are dropped: " + CurrentURL(),
      ltWarning);
  DropPageAndStorage("what it stored was dropped for the program's memory");
}

void TBrowserArea::RendererEnded(int status, int exitCode) {
  FLoading = false;
  FUserNavigationUntil = -1;
  std::string reason;
  if (FEndingRenderer) {
    reason = "its process was ended for its memory";
  } else {
    switch (status) {
      case QWebEnginePage::NormalTerminationStatus: reason = "its process ended"; break;
      case QWebEnginePage::CrashedTerminationStatus: reason = "its process crashed"; break;
      case QWebEnginePage::KilledTerminationStatus: reason = "its process was killed"; break;
      default: reason = "its process ended abnormally"; break;
    }
    reason += " (" + std::to_string(exitCode) + ")";
  }
  FEndingRenderer = false;
  FCheckedPid = 0;
  FRendererGone = true;
  const std::string url = CurrentURL();
  CountEnded(url);
  FFailedURL = url;
  if (OnLoadFailed) OnLoadFailed(url, reason);
}

void TBrowserArea::LoadingChanged(const QWebEngineLoadingInfo& info) {
  const std::string url = Str(info.url());
  switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
      FLoading = true;
      break;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
      FLoading = false;
      FUserNavigationUntil = -1;
      FFailedURL.clear();
      Log("Browser: loaded " + url, ltInfo);
      if (OnDocumentComplete) OnDocumentComplete(url);
      break;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
      // cancelled (by us or by a newer navigation): the old page stays, nothing completed
      FLoading = false;
      FUserNavigationUntil = -1;
      break;
    case QWebEngineLoadingInfo::LoadFailedStatus: {
      FLoading = false;
      FUserNavigationUntil = -1;
      if (FRendererGone) break;  // the load its process took with it: said already
      const std::string reason =
          info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain
              ? "HTTP status " + std::to_string(info.errorCode())
              : info.errorString().toStdString() + " (" + std::to_string(info.errorCode()) + ")";
      FFailedURL = url;
      if (OnLoadFailed) OnLoadFailed(url, reason);
      break;
    }
  }
}
