#include "shell/QuitSignals.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "engine/tools.h"
#include "game/GameWindow.h"
#include "shell/RequestRunner.h"

namespace {
int Pipe[2] = {-1, -1};
QSocketNotifier* Notifier = nullptr;
QPointer<QWidget> MainWindow;
std::function<void(int)> OnSignalSeen;
bool Closing = false;

void SetAction(void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

// Async-signal-safe only: the default action back for the next signal, one byte to the pipe.
void Handler(int signal) {
  const int saved = errno;
  SetAction(SIG_DFL);
  const unsigned char byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t n = write(Pipe[1], &byte, 1);
  errno = saved;
}

// Repeats until the main window could be closed: a game, a request or a dialog in front of it
// is ended first (each unwinds to the code that opened it, which may open another one).
void CloseStep() {
  TRequestRunner::CancelAll();
  bool waiting = TfrmGame::CloseRunning() || (MainWindow && !MainWindow->isEnabled());
  for (int i = 0; i < 20; ++i) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) break;
    waiting = true;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    else modal->close();
    if (QApplication::activeModalWidget() == modal) break;  // it would not go: try again later
  }
  if (!MainWindow) return;  // the start-up is not that far yet: SetQuitSignalsWindow goes on
  if (waiting) {
    QTimer::singleShot(50, MainWindow, CloseStep);
    return;
  }
  // As the Close item does; a window left open somewhere must not keep the program alive.
  if (MainWindow->close()) QCoreApplication::quit();
}

void SignalSeen() {
  unsigned char bytes[16];
  int signal = 0;
  ssize_t n;
  while ((n = read(Pipe[0], bytes, sizeof(bytes))) > 0) signal = bytes[n - 1];
  if (signal == 0 || Closing) return;
  Closing = true;
  Log("Closing on signal " + std::to_string(signal), ltInfo);
  if (OnSignalSeen) OnSignalSeen(signal);
  CloseStep();
}
}  // namespace

void InstallQuitSignals(std::function<void(int)> onSignal) {
  RemoveQuitSignals();
  if (pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    Log(std::string("Signals keep their default action: no pipe: ") + std::strerror(errno), ltWarning);
    Pipe[0] = Pipe[1] = -1;
    return;
  }
  OnSignalSeen = std::move(onSignal);
  Closing = false;
  Notifier = new QSocketNotifier(Pipe[0], QSocketNotifier::Read);
  QObject::connect(Notifier, &QSocketNotifier::activated, Notifier, [] { SignalSeen(); });
  SetAction(Handler);
}

void SetQuitSignalsWindow(QWidget* mainWindow) {
  MainWindow = mainWindow;
  if (Closing && MainWindow) QTimer::singleShot(0, MainWindow, CloseStep);
}

void RemoveQuitSignals() {
  SetAction(SIG_DFL);
  delete Notifier;
  Notifier = nullptr;
  for (int& fd : Pipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  MainWindow = nullptr;
  OnSignalSeen = nullptr;
  Closing = false;
}
