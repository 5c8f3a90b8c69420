#pragma once
// Desktop services that the engine needs without knowing the GUI toolkit: opening an address
// in the user's browser, the clipboard and simple message boxes. Each is a hook; the menu
// application installs its own, and the defaults below serve tools, tests and a bare session:
// the browser through xdg-open (started directly, no shell), messages on stderr, and a
// clipboard that reports it could not take the text.
#include <functional>
#include <string>

enum class TMessageKind { Information, Error };

using TShellOpenHook = std::function<bool(const std::string& url)>;
using TClipboardHook = std::function<bool(const std::string& text)>;
using TMessageBoxHook = std::function<void(const std::string& text, TMessageKind kind)>;

// Installing an empty function restores the default.
void SetShellOpenHook(TShellOpenHook hook);
void SetClipboardHook(TClipboardHook hook);
void SetMessageBoxHook(TMessageBoxHook hook);

// Whether an address may leave the program for the user's browser: an http or https address
// with a host, free of blanks and control characters. Everything else (file:, javascript:,
// mailto:, custom schemes) stays inside.
bool IsWebAddress(const std::string& url);

// Opens the address with the desktop's handler; false when that could not be started.
bool ShellOpenURL(const std::string& url);
// Puts text on the clipboard; false when there is no clipboard to take it.
bool SetClipboardText(const std::string& text);
// Shows a message with an OK button and returns when it is closed.
void ShowMessageBox(const std::string& text, TMessageKind kind = TMessageKind::Information);

// The defaults, for hooks that add to them.
bool DefaultShellOpenURL(const std::string& url);
