#pragma once
// The system's dialogs the main window uses, modal over owner. Paths in
// UTF-16; an empty result means the user cancelled.

#include <windows.h>

#include <string>

namespace corvane::win32 {

// "Open Dbx File": one file type, "DBX Mail File" (*.dbx), starting in
// startFolder; resizable; neither the typed file nor its folder need exist.
std::wstring RunOpenDbxDialog(HWND owner, const std::wstring& startFolder);
// "Recover From Disk Image": disk images (patterns separated by ';') or any
// file, starting in startFolder; the file must exist.
std::wstring RunOpenImageDialog(HWND owner, const std::wstring& startFolder, const std::string& patterns);
// The mbox export's save dialog, proposing name in folder.
std::wstring RunSaveMboxDialog(HWND owner, const std::wstring& folder, const std::wstring& name);
// The shell's folder browser (SHBrowseForFolderW) titled title, opened on
// initialFolder when it is not empty, with the New Folder button when
// allowNewFolder; empty also when the choice has no file-system path.
std::wstring RunFolderBrowser(HWND owner, const std::wstring& title, const std::wstring& initialFolder,
                              bool allowNewFolder);

}  // namespace corvane::win32
