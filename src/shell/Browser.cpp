#include "shell/Browser.h"

#include <unistd.h>

#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <cstdlib>
#include <cstring>

#include "engine/tools.h"

namespace {
std::string Str(const QUrl& url) { return url.toString(QUrl::FullyEncoded).toStdString(); }

// A window a page opened: it never shows anything. Its first navigation names the address the
// page wanted to open; that goes to the browser area and the page is dropped.
class TThrowAwayPage : public QWebEnginePage {
public:
  TThrowAwayPage(QWebEngineProfile* profile, QObject* parent, std::function<void(const std::string&)> onAddress)
      : QWebEnginePage(profile, parent), FOnAddress(std::move(onAddress)) {}

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

class TBrowserPage : public QWebEnginePage {
public:
  TBrowserPage(QWebEngineProfile* profile, TBrowserArea* area) : QWebEnginePage(profile, area), FArea(area) {}

protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    return FArea->BeforeNavigate(Str(url), isMainFrame);
  }
  QWebEnginePage* createWindow(WebWindowType) override {
    TBrowserArea* area = FArea;
    return new TThrowAwayPage(profile(), area, [area](const std::string& url) {
      if (area->OnNewWindow) area->OnNewWindow(url);
    });
  }

private:
  TBrowserArea* FArea;
};

TBrowserArea::TBrowserArea(QWidget* parent) : QWidget(parent) {
  setObjectName("MainBrowser");
  setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
}

TBrowserArea::~TBrowserArea() {
  // the pages go before their profile, the view before its page
  delete FView;
  FView = nullptr;
  for (QWebEnginePage* page : findChildren<QWebEnginePage*>(Qt::FindDirectChildrenOnly)) delete page;
  FPage = nullptr;
  delete FProfile;
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
  FView = new QWebEngineView(this);
  FView->setObjectName("MainBrowserView");
  FView->setContextMenuPolicy(Qt::NoContextMenu);
  FView->setPage(FPage);
  layout()->addWidget(FView);
}

void TBrowserArea::Navigate(const std::string& url) {
  FLastURL = url;
  CreateView();
  if (!FPage) return;
  if (url != FFailedURL) Log("Browser: " + url, ltInfo);  // retries of a failing page: no new line
  FLoading = true;
  FPage->load(QUrl(QString::fromStdString(url)));
}

std::string TBrowserArea::CurrentURL() const { return FPage ? Str(FPage->url()) : std::string(); }

bool TBrowserArea::BeforeNavigate(const std::string& url, bool mainFrame) {
  bool cancel = false;
  if (OnBeforeNavigate) OnBeforeNavigate(url, mainFrame, cancel);
  return !cancel;
}

void TBrowserArea::LoadingChanged(const QWebEngineLoadingInfo& info) {
  const std::string url = Str(info.url());
  switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
      FLoading = true;
      break;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
      FLoading = false;
      FFailedURL.clear();
      Log("Browser: loaded " + url, ltInfo);
      if (OnDocumentComplete) OnDocumentComplete(url);
      break;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
      // cancelled (by us or by a newer navigation): the old page stays, nothing completed
      FLoading = false;
      break;
    case QWebEngineLoadingInfo::LoadFailedStatus: {
      FLoading = false;
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
