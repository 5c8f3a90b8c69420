#include "shell/frmPleaseWait.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "base/Win1252.h"
#include "shell/MenuServices.h"

TfrmPleaseWait* TfrmPleaseWait::FCurrent = nullptr;

TfrmPleaseWait::TfrmPleaseWait(QWidget* owner)
    : QDialog(owner, Qt::Tool), imgWindow(new QLabel(this)), lblForm(new QLabel(this)),
      animForm(new QLabel(this)), btnCancel(new QPushButton("Cancel", this)), FAnimTimer(new QTimer(this)) {
  setObjectName("frmPleaseWait");
  setWindowTitle("Kestrune");
  setFixedSize(360, 124);
  // in front of the dialogs while the request runs, only Cancel can be pressed (over the menu
  // itself MenuOnlineUI makes it modeless, leaving the menu its Close)
  setWindowModality(Qt::ApplicationModal);
  imgWindow->setObjectName("imgWindow");
  imgWindow->setGeometry(0, 0, 360, 124);
  imgWindow->setPixmap(LoadMenuPicture("MenuBack.jpg"));
  imgWindow->setScaledContents(true);
  animForm->setObjectName("animForm");
  animForm->setGeometry(16, 24, 48, 48);
  lblForm->setObjectName("lblForm");
  lblForm->setGeometry(80, 16, 264, 64);
  lblForm->setWordWrap(true);
  lblForm->setTextFormat(Qt::PlainText);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setGeometry(140, 88, 80, 26);
  connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });
  // the search animation: a strip of 48 x 48 frames
  const QPixmap strip = LoadMenuPicture("AnimSearch.png");
  for (int x = 0; x + 48 <= strip.width(); x += 48) FFrames.push_back(strip.copy(x, 0, 48, 48));
  if (!FFrames.empty()) animForm->setPixmap(FFrames[0]);
  FAnimTimer->setInterval(80);
  connect(FAnimTimer, &QTimer::timeout, this, &TfrmPleaseWait::NextFrame);
}

TfrmPleaseWait::~TfrmPleaseWait() {
  if (FCurrent == this) FCurrent = nullptr;
}

void TfrmPleaseWait::SetMessage(const std::string& text) {
  FMessage = "Please wait while Kestrune " + text;
  lblForm->setText(QString::fromStdString(Cp1252ToUtf8(FMessage)));
}

void TfrmPleaseWait::ShowNow() {
  if (parentWidget()) {
    const QRect owner = parentWidget()->frameGeometry();
    move(owner.center() - rect().center());
  }
  show();
  // a menu the user opened meanwhile (File > Close) stays on top of it
  if (QWidget* popup = QApplication::activePopupWidget()) popup->raise();
  repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TfrmPleaseWait::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FCurrent = this;
  FFrame = 0;
  if (!FFrames.empty()) FAnimTimer->start();
}

void TfrmPleaseWait::reject() {
  // the window stays until the request has ended; its owner frees it then
  btnCancel->setEnabled(false);
  if (OnCancel) OnCancel();
}

void TfrmPleaseWait::NextFrame() {
  FFrame = (FFrame + 1) % FFrames.size();
  animForm->setPixmap(FFrames[FFrame]);
}
