// HtmlToText: an HTML body as the plain text a mail program shows for it.

#include <algorithm>
#include <array>
#include <optional>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "maildecode/maildecode.h"
#include "utf8/Utf8.h"

namespace corvane::mail {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }
bool IsAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// A character reference to NUL, a surrogate or beyond U+10FFFF reads as U+FFFD.
void AppendUtf8(std::string& out, char32_t c) { utf8::Append(out, c == 0 ? utf8::kReplacement : c); }

// The Latin-1 entities, U+00A0 to U+00FF in order.
constexpr std::array<std::string_view, 96> kLatin1 = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

constexpr std::array<std::pair<std::string_view, char32_t>, 45> kOthers = {{
    {"quot", 0x22},     {"amp", 0x26},      {"apos", 0x27},     {"lt", 0x3C},       {"gt", 0x3E},
    {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},  {"scaron", 0x161},  {"Yuml", 0x178},
    {"fnof", 0x192},    {"circ", 0x2C6},    {"tilde", 0x2DC},   {"ensp", 0x2002},   {"emsp", 0x2003},
    {"thinsp", 0x2009}, {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},    {"rlm", 0x200F},
    {"ndash", 0x2013},  {"mdash", 0x2014},  {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},
    {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"dagger", 0x2020}, {"Dagger", 0x2021},
    {"bull", 0x2022},   {"hellip", 0x2026}, {"permil", 0x2030}, {"prime", 0x2032},  {"Prime", 0x2033},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"euro", 0x20AC},   {"trade", 0x2122},  {"larr", 0x2190},
    {"uarr", 0x2191},   {"rarr", 0x2192},   {"darr", 0x2193},   {"harr", 0x2194},   {"middot", 0xB7},
}};

// Windows-1252's characters for the references &#128; to &#159;, as browsers read them.
constexpr std::array<char32_t, 32> kC1 = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                          0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                          0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};

std::optional<char32_t> NamedEntity(std::string_view name) {
    for (std::size_t k = 0; k < kLatin1.size(); ++k)
        if (kLatin1[k] == name) return static_cast<char32_t>(0xA0 + k);
    for (const auto& [n, c] : kOthers)
        if (n == name) return c;
    return std::nullopt;
}

enum class TBreak { None, Line, Paragraph };

TBreak BreakOf(const std::string& tag) {
    static constexpr std::array<std::string_view, 8> kParagraphs = {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote"};
    static constexpr std::array<std::string_view, 20> kLines = {
        "div", "tr", "li", "table", "ul", "ol", "dl", "dt", "dd", "pre", "hr", "center",
        "address", "form", "body", "tbody", "thead", "section", "article", "caption"};
    for (const std::string_view t : kParagraphs)
        if (tag == t) return TBreak::Paragraph;
    for (const std::string_view t : kLines)
        if (tag == t) return TBreak::Line;
    return TBreak::None;
}

class TTextWriter {
public:
    void Text(std::string_view t) {
        if (space_ && !out_.empty() && out_.back() != '\n') out_ += ' ';
        space_ = false;
        out_ += t;
    }
    void Space() { space_ = true; }
    void Raw(char c) {  // inside pre
        space_ = false;
        out_ += c;
    }
    void NewLine() {
        space_ = false;
        out_ += '\n';
    }
    void Break(TBreak b) {
        space_ = false;
        if (b == TBreak::None || out_.empty()) return;
        if (out_.back() != '\n') out_ += '\n';
        if (b == TBreak::Paragraph && (out_.size() < 2 || out_[out_.size() - 2] != '\n')) out_ += '\n';
    }
    std::string Result() {
        // No spaces at line ends, no empty lines at the ends, at most one
        // empty line in a row, a line end after the last line.
        std::string text;
        text.reserve(out_.size() + 1);
        int newlines = 0;
        for (const char c : out_) {
            if (c == '\n') {
                while (!text.empty() && text.back() == ' ') text.pop_back();
                ++newlines;
                continue;
            }
            if (newlines > 0 && !text.empty()) text.append(std::min(newlines, 2), '\n');
            newlines = 0;
            if (c == ' ' && (text.empty() || text.back() == '\n')) continue;
            text += c;
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        if (!text.empty()) text += '\n';
        return text;
    }

private:
    std::string out_;
    bool space_ = false;
};

// Position of the case-insensitive "</name" at or after from, or npos.
std::size_t FindClosing(std::string_view html, std::size_t from, const std::string& name) {
    for (std::size_t i = html.find("</", from); i != std::string_view::npos; i = html.find("</", i + 2)) {
        std::size_t k = 0;
        while (k < name.size() && i + 2 + k < html.size() && Lower(html[i + 2 + k]) == name[k]) ++k;
        if (k == name.size()) return i;
    }
    return std::string_view::npos;
}

// The end of a tag that begins at `at` ('<'): just past its '>', quoted
// attribute values passed over (an unclosed quote is an ordinary character).
std::size_t TagEnd(std::string_view html, std::size_t at) {
    std::size_t i = at + 1;
    while (i < html.size() && html[i] != '>') {
        if (html[i] == '"' || html[i] == '\'') {
            const std::size_t close = html.find(html[i], i + 1);
            if (close != std::string_view::npos) {
                i = close + 1;
                continue;
            }
        }
        ++i;
    }
    return i < html.size() ? i + 1 : html.size();
}

}  // namespace

std::string HtmlToText(std::string_view html) {
    TTextWriter w;
    int pre = 0;
    std::size_t i = 0;
    const std::size_t n = html.size();
    while (i < n) {
        const char c = html[i];
        if (c == '<') {
            if (html.substr(i, 4) == "<!--") {
                const std::size_t end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? n : end + 3;
                continue;
            }
            const bool closing = i + 1 < n && html[i + 1] == '/';
            const std::size_t nameBegin = i + (closing ? 2 : 1);
            if (nameBegin < n && (IsAlnum(html[nameBegin]) || html[nameBegin] == '!' || html[nameBegin] == '?')) {
                std::size_t k = nameBegin;
                std::string name;
                while (k < n && (IsAlnum(html[k]) || html[k] == '-' || html[k] == ':')) name += Lower(html[k++]);
                i = TagEnd(html, i);
                if (!closing && (name == "script" || name == "style" || name == "head" || name == "title")) {
                    const std::size_t close = FindClosing(html, i, name);
                    i = close == std::string_view::npos ? n : TagEnd(html, close);
                    continue;
                }
                if (name == "br") {
                    w.NewLine();
                } else if (name == "td" || name == "th") {
                    w.Space();
                } else {
                    if (name == "pre") pre = closing ? std::max(0, pre - 1) : pre + 1;
                    w.Break(BreakOf(name));
                }
                continue;
            }
        }
        if (c == '&') {
            std::size_t k = i + 1;
            std::optional<char32_t> ch;
            if (k < n && html[k] == '#') {
                ++k;
                const bool hex = k < n && (html[k] == 'x' || html[k] == 'X');
                if (hex) ++k;
                std::uint32_t v = 0;
                const std::size_t digitsBegin = k;
                while (k < n && k - digitsBegin < 8 &&
                       ((html[k] >= '0' && html[k] <= '9') ||
                        (hex && ((html[k] >= 'a' && html[k] <= 'f') || (html[k] >= 'A' && html[k] <= 'F'))))) {
                    const char d = html[k++];
                    v = v * (hex ? 16 : 10) +
                        static_cast<std::uint32_t>(d <= '9' ? d - '0' : (Lower(d) - 'a' + 10));
                }
                if (k > digitsBegin) ch = (v >= 0x80 && v <= 0x9F) ? kC1[v - 0x80] : static_cast<char32_t>(v);
            } else {
                while (k < n && k - i <= 10 && IsAlnum(html[k])) ++k;
                ch = NamedEntity(html.substr(i + 1, k - i - 1));
            }
            if (ch) {
                if (k < n && html[k] == ';') ++k;
                std::string text;
                // A no-break space reads, and is searched, as a space.
                AppendUtf8(text, *ch == 0xA0 ? U' ' : *ch);
                w.Text(text);
                i = k;
                continue;
            }
        }
        if (IsSpace(c)) {
            if (pre > 0) {
                if (c == '\n') w.NewLine();
                else if (c != '\r') w.Raw(c);
            } else {
                w.Space();
            }
            ++i;
            continue;
        }
        // A run of ordinary text.
        std::size_t k = i + 1;
        while (k < n && html[k] != '<' && html[k] != '&' && !IsSpace(html[k])) ++k;
        w.Text(html.substr(i, k - i));
        i = k;
    }
    return w.Result();
}

}  // namespace corvane::mail
