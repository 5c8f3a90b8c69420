#pragma once
// SIGINT and SIGTERM close the program the way its Close item does: a running game ends as its
// close button would end it, open dialogs are dismissed, then the main window closes, so the
// settings are saved and the trace log gets its end marker. The handler only writes a byte to a
// pipe that the GUI thread watches; it also puts both signals back to their default action, so
// a second signal ends the program at once.
#include <functional>

class QWidget;

// Installs the handlers, as early as possible: a signal that comes before the main window is
// bound waits in the pipe. `onSignal` (optional) runs on the GUI thread at the first signal.
void InstallQuitSignals(std::function<void(int signal)> onSignal = nullptr);
// The window to close once nothing modal is left in front of it.
void SetQuitSignalsWindow(QWidget* mainWindow);
// Puts SIGINT and SIGTERM back to their default action and stops watching.
void RemoveQuitSignals();
