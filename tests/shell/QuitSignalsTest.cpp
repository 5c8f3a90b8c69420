// SIGTERM in the menu application: the first one dismisses what is open in front of the main
// window and then closes it; the handlers are gone after it, so a second one ends the process.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <csignal>

#include "engine/tools.h"
#include "shell/QuitSignals.h"
#include "support/TestSupport.h"

namespace {
void EnsureApp() {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name};
  if (!QApplication::instance()) new QApplication(argc, argv);  // lives to the end of the process
}

// Runs the event loop until `done` (hang guard: 60 s); false on the guard.
template <class F>
bool RunUntil(F done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void (*Action(int signal))(int) {
  struct sigaction sa {};
  sigaction(signal, nullptr, &sa);
  return sa.sa_handler;
}
}  // namespace

TEST(QuitSignals, TheFirstSignalClosesThroughWhatIsOpenAndTheSecondKeepsItsDefault) {
  EnsureApp();
  SetLogFile(TestDir() + "qv.log");
  QWidget main;
  main.show();
  main.setEnabled(false);  // as while a game or a request runs
  int seen = 0, dialogResult = -1;
  InstallQuitSignals([&](int s) { seen = s; });
  SetQuitSignalsWindow(&main);
  EXPECT_NE(Action(SIGTERM), SIG_DFL);
  EXPECT_NE(Action(SIGINT), SIG_DFL);
  QTimer::singleShot(0, &main, [&] {
    QDialog dialog(&main);
    dialog.setModal(true);
    QTimer::singleShot(0, &dialog, [] { raise(SIGTERM); });
    dialogResult = dialog.exec();
  });
  ASSERT_TRUE(RunUntil([&] { return dialogResult != -1; }));
  EXPECT_EQ(seen, SIGTERM);
  EXPECT_EQ(dialogResult, QDialog::Rejected);
  // Back to the default at once: a second signal would end the process.
  EXPECT_EQ(Action(SIGTERM), SIG_DFL);
  EXPECT_EQ(Action(SIGINT), SIG_DFL);
  // The main window waits for the game or request in front of it, then closes.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  RunUntil([&] { return std::chrono::steady_clock::now() > until; });
  EXPECT_TRUE(main.isVisible());
  main.setEnabled(true);
  EXPECT_TRUE(RunUntil([&] { return !main.isVisible(); }));
  RemoveQuitSignals();
  SetLogFile("");
}
