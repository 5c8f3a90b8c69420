#pragma once
// Where a guarded call in message mode shows its failure. A console program writes the line to
// standard output; a GUI program installs a handler that shows a message box (caption "Error",
// error icon, OK button).
#include <functional>
#include <string>

using TErrorMessageHandler = std::function<void(const std::string& text, const std::string& caption)>;

// Installs the GUI handler; an empty handler returns to console output.
void SetErrorMessageHandler(TErrorMessageHandler handler);
bool IsConsole();
void ShowErrorMessage(const std::string& text);
