#include "frmMainWindow/win32/Wide.h"

#include <windows.h>

namespace corvane::win32 {

namespace {

std::wstring Widen(std::string_view text, UINT codePage) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Narrow(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    const int n =
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr, nullptr);
    return narrow;
}

}  // namespace

std::wstring FromUtf8(std::string_view utf8) { return Widen(utf8, CP_UTF8); }
std::string ToUtf8(std::wstring_view wide) { return Narrow(wide, CP_UTF8); }
std::wstring FromAnsi(std::string_view ansi) { return Widen(ansi, CP_ACP); }
std::string ToAnsi(std::wstring_view wide) { return Narrow(wide, CP_ACP); }

}  // namespace corvane::win32
