// Corvane Recovery on Windows: answers --help and --version, builds the search
// routines' upper-case table, shows the main window (Windows controls),
// opens the folder files given as arguments and runs the message loop until
// the window is closed.

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "FastStrings/FastStrings.h"
#include "frmMainWindow/win32/Wide.h"
#include "frmMainWindow/win32/frmMainWindow.h"
#include "mailsession/SessionTexts.h"
#include "mailsession/StartArguments.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

namespace {

// The arguments after the program's name, in the ANSI code page of the
// file layer.
std::vector<std::string> Arguments() {
    int count = 0;
    LPWSTR* given = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(corvane::win32::ToAnsi(given[i]));
    ::LocalFree(given);
    return arguments;
}

// A window program has no console of its own: the text goes to the one it
// was started from, to where its output was sent, or into a message box.
void Tell(const std::string& text, bool error) {
    ::AttachConsole(ATTACH_PARENT_PROCESS);
    const HANDLE out = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE &&
        ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return;
    ::MessageBoxW(nullptr, corvane::win32::FromUtf8(text).c_str(),
                  corvane::win32::FromUtf8(corvane::session::texts::kApplicationTitle).c_str(),
                  MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int showCommand) {
    const corvane::session::TStartArguments arguments = corvane::session::ParseStartArguments(Arguments());
    if (arguments.Help || arguments.Version) {
        Tell(arguments.Help ? corvane::session::StartHelpText() : corvane::session::StartVersionText(CORVANE_VERSION),
             false);
        return 0;
    }
    if (!arguments.Error.empty()) {
        Tell("corvane-recovery: " + arguments.Error + "\nTry 'corvane-recovery --help'.\n", true);
        return 2;
    }

    (void)TUpperTable::Data();  // built before anything searches
    // The folder browser's new dialog style wants a single-threaded apartment.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES |
                                      ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    int status = 0;
    {
        TfrmMain frmMain;
        frmMain.QuitOnDestroy = true;
        frmMain.Show(showCommand);
        if (!arguments.Files.empty()) frmMain.Guarded([&] { frmMain.OpenDbxFiles(arguments.Files); });
        status = TfrmMain::RunMessageLoop(frmMain);
    }
    ::CoUninitialize();
    return status;
}
