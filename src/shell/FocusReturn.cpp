#include "shell/FocusReturn.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "platform/X11Focus.h"

void GiveFocusTo(QWidget* window) {
  if (!window || !window->isVisible() || window->isMinimized()) return;
  window->raise();
  // a modeless wait window over it stays in front
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != window && w->isVisible() && w->windowType() == Qt::Tool && w->parentWidget() &&
        w->parentWidget()->window() == window)
      w->raise();
  window->activateWindow();
  if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>())
    X11SetInputFocus(x11->display(), window->winId());
}

namespace {
class TFocusReturn : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Hide || !watched->isWidgetType()) return false;
    auto* w = static_cast<QWidget*>(watched);
    if (!w->isWindow() || w->windowType() != Qt::Dialog) return false;
    QPointer<QWidget> owner = w->parentWidget() ? w->parentWidget()->window() : nullptr;
    // Once the code that showed the dialog has gone on: it may open the next one.
    QTimer::singleShot(0, this, [owner] {
      QWidget* target = QApplication::activeModalWidget();
      if (!target) target = owner;
      if (!target)  // a box without an owner: the menu
        for (QWidget* w : QApplication::topLevelWidgets())
          if (!target && w->isVisible() && qobject_cast<QMainWindow*>(w)) target = w;
      if (target && !target->isEnabled()) return;  // a game or a request holds it
      GiveFocusTo(target);
    });
    return false;
  }
};
}  // namespace

void InstallFocusReturn() {
  static TFocusReturn* filter = nullptr;
  if (filter || !qApp) return;
  filter = new TFocusReturn(qApp);
  qApp->installEventFilter(filter);
}
