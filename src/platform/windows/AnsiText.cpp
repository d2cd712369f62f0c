#include "platform/AnsiText.h"

#include <windows.h>

#include <vector>

namespace corvane::ansi {
namespace {
std::string Convert(const std::string& in, UINT from, UINT to) {
    if (in.empty()) return {};
    int wn = MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    std::vector<wchar_t> wide(static_cast<std::size_t>(wn));
    MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), wide.data(), wn);
    int n = WideCharToMultiByte(to, 0, wide.data(), wn, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wn, out.data(), n, nullptr, nullptr);
    return out;
}
}  // namespace

void UpperBuffer(unsigned char* bytes, std::size_t n) {
    CharUpperBuffA(reinterpret_cast<LPSTR>(bytes), static_cast<DWORD>(n));
}

std::string ToUtf8(const std::string& ansi) { return Convert(ansi, CP_ACP, CP_UTF8); }
std::string FromUtf8(const std::string& utf8) { return Convert(utf8, CP_UTF8, CP_ACP); }

}  // namespace corvane::ansi
