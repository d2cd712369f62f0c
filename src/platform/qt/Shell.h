#pragma once
// The shell side of the main window: opening a web page in the user's browser
// and the folder the open dialog starts in. One implementation per system:
// Shell_win.cpp and Shell_other.cpp.

#include <QString>

#include <string>

namespace corvane::gui {

// Hands the address to the user's default web browser (the shell's "open"
// verb on Windows, the toolkit's URL opener elsewhere). Raises ECorvaneError
// with the system's explanation when that fails.
void OpenWebPage(const std::string& url);

// The folder the open dialog for folder files starts in: c:\ on Windows, the
// file system's root elsewhere.
QString OpenDialogStartFolder();

}  // namespace corvane::gui
