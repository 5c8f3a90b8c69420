#include "shell/DialogFrame.h"

#include <QBoxLayout>
#include <QDialog>
#include <QFontMetrics>

namespace {
// The title bar's icon and buttons beside the caption: some window managers draw minimise and
// maximise even for a fixed dialog.
constexpr int kTitleBarButtonsWidth = 160;
}  // namespace

int CaptionWidth(const QDialog* dialog) {
  QFont font = dialog->font();
  font.setBold(true);  // title bars mostly draw the caption in bold
  return QFontMetrics(font).horizontalAdvance(dialog->windowTitle()) + kTitleBarButtonsWidth;
}

void UseFixedDialogFrame(QDialog* dialog) {
  // No resize grip or maximise button: window managers draw a grip as a strip under the
  // buttons, and a dialog has nothing to show in more room.
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint);
  QLayout* layout = dialog->layout();
  if (!layout) return;
  if (auto* box = qobject_cast<QBoxLayout*>(layout); box && box->direction() == QBoxLayout::TopToBottom) {
    const QMargins m = box->contentsMargins();
    box->addStrut(CaptionWidth(dialog) - m.left() - m.right());
  }
  layout->setSizeConstraint(QLayout::SetFixedSize);  // the size the layout needs, always
}
