#include "platform/Charsets.h"

#include <array>
#include <utility>

namespace corvane::charsets {

std::string CanonicalName(std::string_view charset) {
    // Trimmed of white space and quotes.
    while (!charset.empty() && (charset.front() == ' ' || charset.front() == '\t' || charset.front() == '"'))
        charset.remove_prefix(1);
    while (!charset.empty() && (charset.back() == ' ' || charset.back() == '\t' || charset.back() == '"'))
        charset.remove_suffix(1);
    if (charset.empty() || charset.size() > 40) return {};
    std::string name;
    for (const char c : charset) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.' || c == ':';
        if (!ok) return {};
        name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 21> kAliases = {{
        {"utf8", "utf-8"},
        {"ascii", "us-ascii"},
        {"latin1", "iso-8859-1"},
        {"latin-1", "iso-8859-1"},
        {"iso8859-1", "iso-8859-1"},
        {"iso_8859-1", "iso-8859-1"},
        {"iso-8859-8-i", "iso-8859-8"},
        {"cp1252", "windows-1252"},
        {"cp1251", "windows-1251"},
        {"cp1250", "windows-1250"},
        {"x-sjis", "shift_jis"},
        {"sjis", "shift_jis"},
        {"shift-jis", "shift_jis"},
        {"x-euc-jp", "euc-jp"},
        {"ks_c_5601-1987", "cp949"},
        {"ks_c_5601", "cp949"},
        {"euc-kr", "cp949"},
        {"gb2312", "gbk"},
        {"x-gbk", "gbk"},
        {"unicode-1-1-utf-7", "utf-7"},
        {"x-mac-roman", "macintosh"},
    }};
    for (const auto& [alias, canonical] : kAliases)
        if (name == alias) return std::string(canonical);
    return name;
}

}  // namespace corvane::charsets
