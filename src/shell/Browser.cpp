#include "shell/Browser.h"

#include <signal.h>
#include <unistd.h>

#include <QChildEvent>
#include <QCoreApplication>
#include <QKeyEvent>
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
// How long a click or key of the player may wait for the address it lets out (a page under load
// takes a while to answer it); one click lets out at most one address.
constexpr int64_t kUserActionMs = 10000;
constexpr int kMemoryWatchMs = 500;

std::string ProcFile(int64_t pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Resident bytes of a process; -1 when it cannot be read (gone).
int64_t ResidentBytes(int64_t pid) {
  long long size = 0, resident = 0;
  if (std::sscanf(ProcFile(pid, "statm").c_str(), "%lld %lld", &size, &resident) != 2) return -1;
  return resident * sysconf(_SC_PAGESIZE);
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
      if (!FArea->NewWindowAllowed(request.isUserInitiated())) {
        FArea->NoteOnce("leave", "Browser: a window the page opened without a click is not opened: " +
                                     Str(request.requestedUrl()));
        return;  // not taken: the engine drops it (createWindow makes none)
      }
      TBrowserArea* area = FArea;
      request.openIn(new TThrowAwayPage(profile, area, [area](const std::string& url) {
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
  FProfile = new QWebEngineProfile(this);  // no storage name: off the record
  FProfile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  FProfile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  QWebEngineSettings* settings = FProfile->settings();
  settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  FPage = new TBrowserPage(FProfile, this);
  // The load's own report, not loadFinished: a navigation we cancel also ends in
  // loadFinished(false) while the old page stays, and loadFinished names no address of its own.
  connect(FPage, &QWebEnginePage::loadingChanged, this, &TBrowserArea::LoadingChanged);
  connect(FPage, &QWebEnginePage::renderProcessTerminated, this,
          [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
            RendererEnded(int(status), exitCode);
          });
  FView = new QWebEngineView(this);
  FView->setObjectName("MainBrowserView");
  FView->setContextMenuPolicy(Qt::NoContextMenu);
  // the player's clicks and keys reach the widget the view makes for its pages
  FView->installEventFilter(this);
  FView->setPage(FPage);
  for (QObject* child : FView->children()) WatchInput(child);
  layout()->addWidget(FView);
  FMemoryWatch = new QTimer(this);
  FMemoryWatch->setInterval(kMemoryWatchMs);
  connect(FMemoryWatch, &QTimer::timeout, this, &TBrowserArea::WatchMemory);
  FMemoryWatch->start();
}

void TBrowserArea::Navigate(const std::string& url) {
  FLastURL = url;
  CreateView();
  if (!FPage) return;
  if (url != FFailedURL) Log("Browser: " + url, ltInfo);  // retries of a failing page: no new line
  FLoading = true;
  FRendererGone = false;
  FPage->load(QUrl(QString::fromStdString(url)));
}

std::string TBrowserArea::CurrentURL() const { return FPage ? Str(FPage->url()) : std::string(); }

bool TBrowserArea::BeforeNavigate(const std::string& url, int type, bool mainFrame) {
  bool mayLeave = false;
  if (mainFrame) {
    switch (type) {
      case QWebEnginePage::NavigationTypeTyped:  // the program's own load
        mayLeave = true;
        FUserNavigation = false;
        break;
      case QWebEnginePage::NavigationTypeRedirect:  // as the load it redirects
        mayLeave = FUserNavigation;
        break;
      default:  // links, forms, history, scripts: only with a click of the player
        mayLeave = FUserNavigation = TakeUserAction();
        break;
    }
  }
  bool cancel = false;
  if (OnBeforeNavigate) OnBeforeNavigate(url, mainFrame, mayLeave, cancel);
  if (!cancel) return true;
  if (!mainFrame) {
    NoteOnce("frame", "Browser: frame not shown: " + url);
  } else {
    if (!mayLeave) NoteOnce("leave", "Browser: the page went to another address without a click; not opened: " + url);
    FUserNavigation = false;  // the click is used up
  }
  return false;
}

bool TBrowserArea::NewWindowAllowed(bool userInitiated) { return userInitiated && TakeUserAction(); }

bool TBrowserArea::TakeUserAction() {
  const int64_t now = FClock.elapsed();
  while (!FUserActions.empty() && now - FUserActions.front() > kUserActionMs) FUserActions.pop_front();
  if (FUserActions.empty()) return false;
  FUserActions.pop_front();
  return true;
}

void TBrowserArea::WatchInput(QObject* widget) {
  if (widget && widget->isWidgetType()) widget->installEventFilter(this);
}

bool TBrowserArea::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FView) {
    if (event->type() == QEvent::ChildAdded) WatchInput(static_cast<QChildEvent*>(event)->child());
    return false;
  }
  // A click counts when the button comes up: the page acts on it then (a link opens on the
  // release), and a script racing the click between press and release gets nothing from it.
  bool action = false;
  switch (event->type()) {
    case QEvent::MouseButtonRelease:
    case QEvent::TouchEnd:
      action = true;
      break;
    case QEvent::KeyPress: {
      const auto* key = static_cast<QKeyEvent*>(event);
      action = !key->isAutoRepeat() &&
               (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space);
      break;
    }
    default:
      break;
  }
  if (action) {
    if (FUserActions.size() >= 8) FUserActions.pop_front();
    FUserActions.push_back(FClock.elapsed());
  }
  return false;
}

void TBrowserArea::NoteOnce(const std::string& kind, const std::string& line) {
  // Once per run, not per page: a page that reloads or changes its address would make each a new one.
  LogPageNote(kind, line + " (said once for the run)");
}

void TBrowserArea::WatchMemory() {
  if (!FPage || FEndingRenderer) return;
  const int64_t pid = FPage->renderProcessPid();
  if (pid <= 0) return;
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

void TBrowserArea::RendererEnded(int status, int exitCode) {
  FLoading = false;
  FUserNavigation = false;
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
      FUserNavigation = false;
      FFailedURL.clear();
      Log("Browser: loaded " + url, ltInfo);
      if (OnDocumentComplete) OnDocumentComplete(url);
      break;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
      // cancelled (by us or by a newer navigation): the old page stays, nothing completed
      FLoading = false;
      FUserNavigation = false;
      break;
    case QWebEngineLoadingInfo::LoadFailedStatus: {
      FLoading = false;
      FUserNavigation = false;
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
