#include "platform/Console.h"

#include <atomic>
#include <csignal>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/AnsiText.h"

namespace corvane::console {
namespace {

int Descriptor(TStream stream) { return stream == TStream::Output ? STDOUT_FILENO : STDERR_FILENO; }

// Whether the bytes are well-formed UTF-8 (no overlong forms or surrogates).
bool IsUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t n = 0;
        char32_t c = 0;
        if (b < 0x80) { ++i; continue; }
        if (b >= 0xC2 && b <= 0xDF) { n = 1; c = b & 0x1F; }
        else if (b >= 0xE0 && b <= 0xEF) { n = 2; c = b & 0x0F; }
        else if (b >= 0xF0 && b <= 0xF4) { n = 3; c = b & 0x07; }
        else return false;
        if (i + n >= text.size()) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            c = (c << 6) | (t & 0x3F);
        }
        if ((n == 2 && c < 0x800) || (n == 3 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

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
    return IsUtf8(argument) ? argument : corvane::ansi::ToUtf8(argument);
}

// File names here are bytes, mostly UTF-8; others are read as the ANSI code page.
std::string PathToUtf8(const std::string& path) { return IsUtf8(path) ? path : corvane::ansi::ToUtf8(path); }

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
