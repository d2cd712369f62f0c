#pragma once
// Texts between the engine and the Windows controls. The controls take
// UTF-16 (the W functions); the session's cells, preview and keyword are
// UTF-8, while paths and the texts of errors and message boxes are in the
// system's ANSI code page, as the platform layer names files.

#include <string>
#include <string_view>

namespace corvane::win32 {

std::wstring FromUtf8(std::string_view utf8);
std::string ToUtf8(std::wstring_view wide);
// Paths and engine texts (the ANSI code page). A character the code page
// cannot hold becomes '?', so such a path cannot be opened: the file layer
// reports it.
std::wstring FromAnsi(std::string_view ansi);
std::string ToAnsi(std::wstring_view wide);

}  // namespace corvane::win32
