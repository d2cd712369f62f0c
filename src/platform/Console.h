#pragma once
// The text console of a command-line program: whether a standard stream is a
// terminal, how wide the terminal is, and the character sets on either side.

#include <string>

namespace corvane::console {

enum class TStream { Output, Error };

// Readies the standard streams: standard output in binary mode (raw message
// bytes pass unchanged) and, on Windows, a console that shows UTF-8.
void Prepare();

// Whether the stream goes to a terminal (not a file or a pipe).
bool IsTerminal(TStream stream);

// The width of the terminal the stream goes to in characters, or 0 when it
// goes to none or the width cannot be told.
int TerminalWidth(TStream stream);

// A command-line argument, as the system hands it over, in the ANSI code page
// of the mail texts (so that a keyword compares with the messages' bytes).
std::string ArgumentToAnsi(const std::string& argument);
// A command-line argument as UTF-8 text (so that a keyword compares with
// decoded texts).
std::string ArgumentToUtf8(const std::string& argument);

// A path, as the system names it, as UTF-8 text for output in UTF-8 formats.
// Windows names are in the ANSI code page and converted from it. Elsewhere
// names are bytes: one that is UTF-8 is given as it is; in one that is not,
// each ill-formed stretch becomes U+FFFD, and exact (when given) is set to
// false, since the text then no longer names the file.
std::string PathToUtf8(const std::string& path, bool* exact = nullptr);
// UTF-8 text as a name the system takes for a file: on Windows in the ANSI
// code page (characters it cannot hold become '?'), elsewhere as it is.
std::string PathFromUtf8(const std::string& utf8);

// From now on SIGINT, SIGTERM and SIGHUP (Windows: Ctrl+C, Ctrl+Break and
// the console's closing) no longer end the program at once: they are noted, for
// the program's long work to stop at its next step and clean up.
void CatchStopSignals();
// The number of the signal that asked the program to stop (SIGHUP 1,
// SIGINT 2, SIGTERM 15), or 0 when none came.
int StopSignal();

}  // namespace corvane::console
