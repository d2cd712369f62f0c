#include "platform/Console.h"

#include <atomic>
#include <csignal>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/AnsiText.h"
#include "utf8/Utf8.h"

namespace corvane::console {
namespace {

int Descriptor(TStream stream) { return stream == TStream::Output ? STDOUT_FILENO : STDERR_FILENO; }

}  // namespace

void Prepare() {}

bool IsTerminal(TStream stream) { return ::isatty(Descriptor(stream)) == 1; }

int TerminalWidth(TStream stream) {
    if (!IsTerminal(stream)) return 0;
    winsize size{};
    if (::ioctl(Descriptor(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

// Terminals here take UTF-8.
std::string ArgumentToAnsi(const std::string& argument) { return corvane::ansi::FromUtf8(argument); }

// Arguments are UTF-8 in a UTF-8 locale; others are read as the ANSI code page.
std::string ArgumentToUtf8(const std::string& argument) {
    return corvane::utf8::IsWellFormed(argument) ? argument : corvane::ansi::ToUtf8(argument);
}

// File names here are bytes, mostly UTF-8. Reading the others in some code
// page would name a file that does not exist: what is not UTF-8 is marked.
std::string PathToUtf8(const std::string& path, bool* exact) {
    const bool wellFormed = corvane::utf8::IsWellFormed(path);
    if (exact != nullptr) *exact = wellFormed;
    return wellFormed ? path : corvane::utf8::WellFormed(std::string_view(path));
}

std::string PathFromUtf8(const std::string& utf8) { return utf8; }

}  // namespace corvane::console

namespace corvane::console {
namespace {
// Written by the handler on whichever thread takes the signal, read by every
// thread of the run; a lock-free atomic is safe for both.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
extern "C" void NoteStopSignal(int signal) { g_stopSignal.store(signal, std::memory_order_relaxed); }
}  // namespace

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking call returns early
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);  // the terminal closed: clean up as for the others
}

int StopSignal() { return g_stopSignal.load(std::memory_order_relaxed); }

}  // namespace corvane::console
