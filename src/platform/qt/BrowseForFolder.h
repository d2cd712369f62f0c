#pragma once
// The system's folder chooser behind BrowseForFolder (BrowseForFolderU). One
// implementation per system: BrowseForFolder_win.cpp and BrowseForFolder_other.cpp.

#include <string>

namespace corvane::gui {

// Shows the chooser modally over the application's top-level window, titled
// title and opened on initialFolder when that is not empty. Returns the
// chosen folder's path as the file layer takes it, or an empty string on
// cancel or when the choice has no file-system path.
std::string RunFolderBrowser(const std::string& title, const std::string& initialFolder, bool allowNewFolder);

}  // namespace corvane::gui
