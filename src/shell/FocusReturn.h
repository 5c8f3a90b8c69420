#pragma once
// The keyboard focus when a window of the program goes away. A window manager gives it to the
// window below; with none (a plain X server, as testers run the program) the focus falls to the
// root window and the menu takes no keys, nor counts as active, until it is clicked.

class QWidget;

// Raises and activates `window` and, on X, asks for the focus with the server's current time
// (the toolkit's request carries an older time, which the server ignores after another
// window's focus change). Does nothing for a hidden or minimised window.
void GiveFocusTo(QWidget* window);

// From now on a closing dialog hands the focus to the modal window still open, else to the
// window it belongs to.
void InstallFocusReturn();
