#pragma once
// The border of the menu's small dialogs: fixed in size, with only a close button, and as large
// as its content needs, so no control is ever cut off (a larger font or a longer text grows the
// dialog) and the caption shows whole beside the frame's buttons.
class QDialog;

// Call after the dialog's layout is complete and its caption set.
void UseFixedDialogFrame(QDialog* dialog);

// The width a caption needs in a window manager's title bar (its text in bold, the icon and the
// frame's buttons beside it).
int CaptionWidth(const QDialog* dialog);
