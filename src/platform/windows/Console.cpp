#include "platform/Console.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "platform/AnsiText.h"

namespace corvane::console {
namespace {

HANDLE Handle(TStream stream) {
    return ::GetStdHandle(stream == TStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

void Prepare() {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
}

bool IsTerminal(TStream stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(Handle(stream), &mode) != 0;
}

int TerminalWidth(TStream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(Handle(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// The system hands arguments over in the ANSI code page already.
std::string ArgumentToAnsi(const std::string& argument) { return argument; }

// Arguments come in the ANSI code page.
std::string ArgumentToUtf8(const std::string& argument) { return corvane::ansi::ToUtf8(argument); }

// Paths are in the ANSI code page.
std::string PathToUtf8(const std::string& path, bool* exact) {
    if (exact != nullptr) *exact = true;
    return corvane::ansi::ToUtf8(path);
}

std::string PathFromUtf8(const std::string& utf8) { return corvane::ansi::FromUtf8(utf8); }

}  // namespace corvane::console

namespace corvane::console {
namespace {
volatile LONG g_stopSignal = 0;
BOOL WINAPI NoteStopEvent(DWORD event) {
    InterlockedExchange(&g_stopSignal, event == CTRL_C_EVENT ? 2 : 15);
    return TRUE;
}
}  // namespace

void CatchStopSignals() { SetConsoleCtrlHandler(NoteStopEvent, TRUE); }

int StopSignal() { return static_cast<int>(InterlockedCompareExchange(&g_stopSignal, 0, 0)); }

}  // namespace corvane::console
