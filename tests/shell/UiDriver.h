#pragma once
// A user at the program's own windows: from a 20 ms timer it answers every message box that the
// real UI shows (recording its text, text format, caption and icon) and hands every other modal
// window to the test, so services run through the UI the program installs, not a fake.
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/Win1252.h"
#include "shell/frmPleaseWait.h"

class TUiDriver {
public:
  struct TBox {
    std::string Text;  // Windows-1252, as the program passed it
    Qt::TextFormat Format;
    bool Question;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    std::string Title;  // UTF-8
  };
  std::vector<TBox> Boxes;
  // Answers to questions, in order; when none are left, `DefaultAnswer`.
  std::deque<bool> Answers;
  bool DefaultAnswer = false;
  // Every other modal window (a dialog, the wait window over one) and the wait window over the
  // menu (modeless there), at each poll while it is in front.
  std::function<void(QWidget* window)> OnWindow;
  // Each message box before it is answered.
  std::function<void(QMessageBox* box)> OnBox;

  TUiDriver() {
    Timer.setInterval(20);
    QObject::connect(&Timer, &QTimer::timeout, [this] { Poll(); });
    Timer.start();
  }

  bool Asked(const std::string& prefix) const {
    for (const TBox& b : Boxes)
      if (b.Question && b.Text.rfind(prefix, 0) == 0) return true;
    return false;
  }

private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w && TfrmPleaseWait::Current() && TfrmPleaseWait::Current()->isVisible()) w = TfrmPleaseWait::Current();
    if (!w) return;
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      if (!box->isVisible()) return;
      const bool question = box->button(QMessageBox::Yes) != nullptr;
      Boxes.push_back({Utf8ToCp1252(box->text().toStdString()), box->textFormat(), question, box->icon(),
                       box->windowTitle().toStdString()});
      if (OnBox) OnBox(box);
      bool yes = DefaultAnswer;
      if (question && !Answers.empty()) {
        yes = Answers.front();
        Answers.pop_front();
      }
      QAbstractButton* b = question ? box->button(yes ? QMessageBox::Yes : QMessageBox::No) : box->button(QMessageBox::Ok);
      if (b) b->click();
      return;
    }
    if (OnWindow) OnWindow(w);
  }
  QTimer Timer;
};

// The GUI thread's heartbeat: a 100 ms timer whose largest gap between ticks tells whether the
// event loop kept running.
class THeartbeat {
public:
  THeartbeat() {
    Timer.setInterval(100);
    QObject::connect(&Timer, &QTimer::timeout, [this] {
      const qint64 now = Clock.elapsed();
      if (Last >= 0 && now - Last > MaxGap) MaxGap = now - Last;
      Last = now;
      ++Ticks;
    });
    Clock.start();
    Timer.start();
  }
  // Ends the watch: the time since the last tick counts as a gap too.
  void Stop() {
    Timer.stop();
    const qint64 now = Clock.elapsed();
    if (now - (Last < 0 ? 0 : Last) > MaxGap) MaxGap = now - (Last < 0 ? 0 : Last);
  }
  qint64 MaxGap = 0;
  int Ticks = 0;

private:
  QTimer Timer;
  QElapsedTimer Clock;
  qint64 Last = -1;
};
