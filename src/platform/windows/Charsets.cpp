#include "platform/Charsets.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <climits>
#include <utility>
#include <vector>

namespace corvane::charsets {
namespace {

// The system's code page of a canonical charset name, 0 for none.
UINT CodePage(const std::string& name) {
    static constexpr std::array<std::pair<std::string_view, UINT>, 47> kPages = {{
        {"utf-8", CP_UTF8},          {"utf-7", CP_UTF7},           {"us-ascii", 20127},
        {"iso-8859-1", 28591},       {"iso-8859-2", 28592},        {"iso-8859-3", 28593},
        {"iso-8859-4", 28594},       {"iso-8859-5", 28595},        {"iso-8859-6", 28596},
        {"iso-8859-7", 28597},       {"iso-8859-8", 28598},        {"iso-8859-9", 28599},
        {"iso-8859-13", 28603},      {"iso-8859-15", 28605},       {"windows-1250", 1250},
        {"windows-1251", 1251},      {"windows-1252", 1252},       {"windows-1253", 1253},
        {"windows-1254", 1254},      {"windows-1255", 1255},       {"windows-1256", 1256},
        {"windows-1257", 1257},      {"windows-1258", 1258},       {"koi8-r", 20866},
        {"koi8-u", 21866},           {"shift_jis", 932},           {"cp932", 932},
        {"windows-31j", 932},        {"euc-jp", 20932},            {"iso-2022-jp", 50220},
        {"gbk", 936},                {"cp936", 936},               {"gb18030", 54936},
        {"big5", 950},               {"big5-hkscs", 950},          {"cp949", 949},
        {"iso-2022-kr", 50225},      {"tis-620", 874},             {"windows-874", 874},
        {"ibm850", 850},             {"cp850", 850},               {"ibm437", 437},
        {"cp437", 437},              {"ibm866", 866},              {"cp866", 866},
        {"macintosh", 10000},        {"utf-16le", 1200},
    }};
    for (const auto& [n, page] : kPages)
        if (name == n) return page;
    if (name.rfind("cp", 0) == 0 || name.rfind("windows-", 0) == 0) {
        // Any other numbered code page the system has.
        const std::string digits = name.substr(name[0] == 'c' ? 2 : 8);
        if (!digits.empty() && digits.size() <= 5 &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return static_cast<UINT>(std::stoul(digits));
    }
    return 0;
}

// One piece of at most INT_MAX bytes.
void AppendPiece(std::string& out, const char* bytes, int n, UINT page) {
    const int wn = MultiByteToWideChar(page, 0, bytes, n, nullptr, 0);
    if (wn <= 0) return;
    std::vector<wchar_t> wide(static_cast<std::size_t>(wn));
    MultiByteToWideChar(page, 0, bytes, n, wide.data(), wn);
    const int un = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, nullptr, 0, nullptr, nullptr);
    if (un <= 0) return;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(un));
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, out.data() + at, un, nullptr, nullptr);
}

}  // namespace

std::optional<std::string> ToUtf8(std::string_view bytes, std::string_view charset) {
    const std::string name = CanonicalName(charset);
    if (name.empty()) return std::nullopt;
    const UINT page = CodePage(name);
    if (page == 0 || (page != CP_UTF8 && page != CP_UTF7 && page != 1200 && !IsValidCodePage(page)))
        return std::nullopt;
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    if (page == 1200) {
        // UTF-16 little-endian: already the system's wide characters.
        const std::size_t units = bytes.size() / 2;
        std::vector<wchar_t> wide(units);
        for (std::size_t i = 0; i < units; ++i)
            wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                           (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
        if (units > 0) {
            const int un = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(units), nullptr, 0, nullptr, nullptr);
            out.resize(static_cast<std::size_t>(std::max(un, 0)));
            if (un > 0)
                WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(units), out.data(), un, nullptr, nullptr);
        }
        return out;
    }
    // Texts beyond the calls' int lengths go in pieces.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        const std::size_t n = std::min(kPiece, bytes.size() - at);
        AppendPiece(out, bytes.data() + at, static_cast<int>(n), page);
    }
    return out;
}

}  // namespace corvane::charsets
