#pragma once
// The folder chooser of the export: the shell's folder browser on Windows, the
// toolkit's folder dialog elsewhere.

#include <string>

// Shows the folder chooser modally with the given title, opened on
// initialFolder when it is not empty. Returns the chosen folder's full path,
// or an empty string when the user cancelled or chose something that is not a
// file-system folder. allowNewFolder offers the New Folder button.
std::string BrowseForFolder(const std::string& title, const std::string& initialFolder, bool allowNewFolder);
