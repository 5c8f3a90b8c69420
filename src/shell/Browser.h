#pragma once
// The embedded browser of the main window's browser area: a web view on an off-the-record
// profile (no cookies or cache on disk), without context menu and without the engine's own
// error pages. The main window decides through the events below which addresses it shows;
// new windows never open inside: their first address is handed on and the window dropped.
#include <QWidget>
#include <functional>
#include <string>

class QWebEngineLoadingInfo;
class QWebEngineProfile;
class QWebEngineView;
class TBrowserPage;

class TBrowserArea : public QWidget {
  Q_OBJECT
public:
  explicit TBrowserArea(QWidget* parent);
  ~TBrowserArea() override;

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

  // Before every navigation of the view (links, forms, redirects, scripts, frames); setting
  // `cancel` keeps the page as it is.
  std::function<void(const std::string& url, bool mainFrame, bool& cancel)> OnBeforeNavigate;
  // The first address a new window (target=_blank, window.open) wanted; the window is gone.
  std::function<void(const std::string& url)> OnNewWindow;
  // A page has loaded completely.
  std::function<void(const std::string& url)> OnDocumentComplete;
  // A page could not be loaded (no connection, refused, an HTTP error); `reason` for the log.
  // A navigation cancelled by OnBeforeNavigate is neither complete nor failed.
  std::function<void(const std::string& url, const std::string& reason)> OnLoadFailed;

private:
  friend class TBrowserPage;
  bool BeforeNavigate(const std::string& url, bool mainFrame);  // true: proceed
  void LoadingChanged(const QWebEngineLoadingInfo& info);

  std::string FLastURL;
  QWebEngineProfile* FProfile = nullptr;
  TBrowserPage* FPage = nullptr;
  QWebEngineView* FView = nullptr;
  bool FLoading = false;
  bool FUnavailable = false;  // the engine cannot run here
  std::string FFailedURL;      // the last page that failed, until one loads
};
