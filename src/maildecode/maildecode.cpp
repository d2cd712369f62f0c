#include "maildecode/maildecode.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <utility>

#include "maildecode/MessageDate.h"
#include "platform/Charsets.h"
#include "utf8/Utf8.h"

namespace corvane::mail {
namespace {

// A header text with its encoded words decoded, white space kept at its ends.
std::string DecodeWords(std::string_view value);

bool IsWsp(char c) { return c == ' ' || c == '\t'; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = Lower(c);
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (IsWsp(s.front()) || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (IsWsp(s.back()) || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// --- lines ------------------------------------------------------------------

// A line of a text: [Begin, End) its characters, Next where the following
// line begins. CR LF, LF and a lone CR all end a line.
struct TLine {
    std::size_t Begin, End, Next;
};

TLine LineAt(std::string_view s, std::size_t i) {
    std::size_t e = s.find_first_of("\r\n", i);
    if (e == std::string_view::npos) return {i, s.size(), s.size()};
    std::size_t next = e + 1;
    if (s[e] == '\r' && next < s.size() && s[next] == '\n') ++next;
    return {i, e, next};
}

// The text with every line end taken out (the unfolding of a header value).
std::string Unfold(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

// Every CR LF and lone CR as LF.
std::string LfLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// --- entities: header block and body -------------------------------------------

struct THeader {
    std::string_view Name;
    std::string_view Value;  // raw, continuation lines and their line ends included
};

struct TEntity {
    std::vector<THeader> Headers;
    std::string_view Body;

    std::optional<std::string_view> Find(std::string_view name) const {
        for (const THeader& h : Headers)
            if (EqualsIgnoreCase(h.Name, name)) return h.Value;
        return std::nullopt;
    }
};

bool IsHeaderLine(std::string_view line, std::size_t& colon) {
    colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    for (std::size_t k = 0; k < colon; ++k) {
        const auto c = static_cast<unsigned char>(line[k]);
        if (c < 0x21 || c > 0x7E) return false;
    }
    return true;
}

// The header lines up to the first empty line (or the first line that is no
// header line), and the body after them.
TEntity SplitEntity(std::string_view text) {
    TEntity e;
    std::size_t i = 0;
    std::size_t valueBegin = 0;
    while (i < text.size()) {
        const TLine l = LineAt(text, i);
        if (l.End == l.Begin) {  // the empty line
            e.Body = text.substr(l.Next);
            return e;
        }
        if (IsWsp(text[l.Begin])) {  // a continuation line
            if (!e.Headers.empty()) e.Headers.back().Value = text.substr(valueBegin, l.End - valueBegin);
            i = l.Next;
            continue;
        }
        std::size_t colon = 0;
        if (!IsHeaderLine(text.substr(l.Begin, l.End - l.Begin), colon)) {
            e.Body = text.substr(l.Begin);
            return e;
        }
        valueBegin = l.Begin + colon + 1;
        e.Headers.push_back({text.substr(l.Begin, colon), text.substr(valueBegin, l.End - valueBegin)});
        i = l.Next;
    }
    return e;
}

// --- transfer encodings -----------------------------------------------------------

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Characters outside the alphabet (line ends, padding, garbage) are passed
// over; a last group of two or three characters gives its one or two bytes.
std::string DecodeBase64(std::string_view in) {
    std::string out;
    out.reserve(in.size() / 4 * 3 + 3);
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : in) {
        const int v = Base64Value(c);
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>((bits >> 16) & 0xFF);
            out += static_cast<char>((bits >> 8) & 0xFF);
            out += static_cast<char>(bits & 0xFF);
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) out += static_cast<char>((bits >> 4) & 0xFF);
    if (count == 3) {
        out += static_cast<char>((bits >> 10) & 0xFF);
        out += static_cast<char>((bits >> 2) & 0xFF);
    }
    return out;
}

std::uint64_t Base64Size(std::string_view in) {
    std::uint64_t n = 0;
    for (const char c : in)
        if (Base64Value(c) >= 0) ++n;
    return n / 4 * 3 + (n % 4 == 2 ? 1 : n % 4 == 3 ? 2 : 0);
}

// "=XX" is the byte XX (either case of hex digits); "=" at the end of a line,
// white space after it allowed, joins the line to the next one; "==", as
// some broken encoders wrote an equals sign, is one "="; any other "=" stays
// as it is.
std::string DecodeQuotedPrintable(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c != '=') {
            out += c;
            continue;
        }
        if (i + 2 < in.size() && HexValue(in[i + 1]) >= 0 && HexValue(in[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2]));
            i += 2;
            continue;
        }
        if (i + 1 < in.size() && in[i + 1] == '=') {
            out += '=';
            ++i;
            continue;
        }
        std::size_t k = i + 1;
        while (k < in.size() && IsWsp(in[k])) ++k;
        if (k >= in.size()) {  // "=" at the very end: a soft break with nothing after it
            i = k;
            continue;
        }
        if (in[k] == '\r' || in[k] == '\n') {
            if (in[k] == '\r' && k + 1 < in.size() && in[k + 1] == '\n') ++k;
            i = k;
            continue;
        }
        out += c;
    }
    return out;
}

std::string DecodeTransfer(std::string_view body, std::string_view encoding) {
    if (EqualsIgnoreCase(encoding, "base64")) return DecodeBase64(body);
    if (EqualsIgnoreCase(encoding, "quoted-printable")) return DecodeQuotedPrintable(body);
    return std::string(body);  // 7bit, 8bit, binary and anything unknown
}

std::uint64_t DecodedSize(std::string_view body, std::string_view encoding) {
    if (EqualsIgnoreCase(encoding, "base64")) return Base64Size(body);
    if (EqualsIgnoreCase(encoding, "quoted-printable")) return DecodeQuotedPrintable(body).size();
    return body.size();
}

// --- text in charsets --------------------------------------------------------------

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Whether the bytes are well-formed UTF-8.
bool IsUtf8(std::string_view s) { return utf8::IsWellFormed(s); }

// The text with every ill-formed stretch replaced by U+FFFD. Some of the
// system's converters pass through what their charset cannot hold (UCS-4
// values beyond U+10FFFF come out as five- and six-byte forms), and a text
// said to be UTF-8 may hold anything.
std::string WellFormed(std::string text) { return utf8::WellFormed(std::move(text)); }

// Charsets in which a byte below 0x80 need not be that ASCII character.
bool AsciiMayDiffer(const std::string& canonical) {
    return canonical == "utf-7" || canonical.rfind("utf-16", 0) == 0 || canonical.rfind("utf-32", 0) == 0 ||
           canonical.rfind("ucs-", 0) == 0 || canonical.rfind("iso-2022", 0) == 0 || canonical == "hz-gb-2312";
}

// Latin-1, the last resort where the system has no converter at all.
std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Raw 8-bit header bytes: UTF-8 where they form it, else Windows-1252.
std::string RawHeaderToUtf8(std::string_view bytes) {
    if (IsAscii(bytes) || IsUtf8(bytes)) return std::string(bytes);
    return CharsetToUtf8(bytes, "windows-1252");
}

// --- header texts ----------------------------------------------------------------

// An encoded word =?charset?B|Q?text?= at the start of s.
struct TEncodedWord {
    std::string Charset;
    std::string Bytes;
    std::size_t Length = 0;
};

// noEndBefore: positions before it are known to hold no "?=" before the
// next white space (a failed search is not repeated for later words).
std::optional<TEncodedWord> ReadEncodedWord(std::string_view s, std::size_t at, std::size_t& noEndBefore) {
    constexpr std::size_t kMaxCharset = 75;
    std::size_t j = at + 2;
    const std::size_t charsetBegin = j;
    while (j < s.size() && j - charsetBegin <= kMaxCharset && s[j] != '?' && !IsWsp(s[j])) ++j;
    if (j >= s.size() || s[j] != '?' || j == charsetBegin) return std::nullopt;
    std::string_view charset = s.substr(charsetBegin, j - charsetBegin);
    if (j + 2 >= s.size() || s[j + 2] != '?') return std::nullopt;
    const char encoding = Lower(s[j + 1]);
    if (encoding != 'b' && encoding != 'q') return std::nullopt;
    const std::size_t textBegin = j + 3;
    if (textBegin < noEndBefore) return std::nullopt;
    std::size_t k = textBegin;
    while (k < s.size() && !IsWsp(s[k]) && !(s[k] == '?' && k + 1 < s.size() && s[k + 1] == '=')) ++k;
    if (k >= s.size() || IsWsp(s[k])) {
        noEndBefore = k;
        return std::nullopt;
    }
    const std::string_view text = s.substr(textBegin, k - textBegin);
    // RFC 2231 lets a language follow the charset: "utf-8*en".
    charset = charset.substr(0, charset.find('*'));
    TEncodedWord word;
    word.Charset = LowerAscii(charset);
    word.Length = k + 2 - at;
    if (encoding == 'b') {
        word.Bytes = DecodeBase64(text);
    } else {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '_') {
                word.Bytes += ' ';
            } else if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                       HexValue(text[i + 2]) >= 0) {
                word.Bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
                i += 2;
            } else {
                word.Bytes += text[i];
            }
        }
    }
    return word;
}

// Case folding of one code point (Latin, Greek, Cyrillic).
char32_t FoldCodePoint(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c >= 0x100 && c <= 0x137) return c | 1;
    if (c >= 0x139 && c <= 0x148) return (c & 1) ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177) return c | 1;
    if (c == 0x178) return 0xFF;
    if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c + 1 : c;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
    if (c == 0x386) return 0x3AC;  // Greek capitals with tonos
    if (c >= 0x388 && c <= 0x38A) return c + 37;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 63;
    if (c == 0x3C2) return 0x3C3;  // final sigma
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x460 && c <= 0x4FF) return c | 1;
    return c;
}

void AppendUtf8(std::string& out, char32_t c) { utf8::Append(out, c); }

// --- content types and their parameters ------------------------------------------

struct TFieldValue {
    std::string Value;  // "text/plain", "attachment", lower case
    std::vector<std::pair<std::string, std::string>> Params;  // names lower case, values UTF-8

    const std::string* Param(std::string_view name) const {
        for (const auto& [n, v] : Params)
            if (n == name) return &v;
        return nullptr;
    }
};

// Percent-escapes of an extended RFC 2231 value undone.
std::string Unpercent(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// "type/subtype; name=value; name="quoted value"; name*=utf-8''%C3%A9; name*0=..."
TFieldValue ReadFieldValue(std::string_view raw) {
    const std::string text = WithoutComments(Unfold(raw));
    TFieldValue field;
    std::size_t i = 0;
    const std::size_t semi = text.find(';');
    field.Value = LowerAscii(Trim(std::string_view(text).substr(0, semi)));
    if (semi == std::string::npos) return field;
    i = semi + 1;

    struct TSection {
        std::string Name;
        int Index;         // -1: no section number
        bool Extended;     // charset'language'%xx form
        std::string Value;
    };
    std::vector<TSection> sections;
    constexpr std::size_t kMaxParams = 64;
    while (i < text.size() && sections.size() < kMaxParams) {
        while (i < text.size() && (IsWsp(text[i]) || text[i] == ';')) ++i;
        const std::size_t nameBegin = i;
        while (i < text.size() && text[i] != '=' && text[i] != ';') ++i;
        std::string name = LowerAscii(Trim(std::string_view(text).substr(nameBegin, i - nameBegin)));
        if (i >= text.size() || text[i] != '=') continue;
        ++i;
        while (i < text.size() && IsWsp(text[i])) ++i;
        std::string value;
        if (i < text.size() && text[i] == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size()) ++i;
                value += text[i];
            }
            if (i < text.size()) ++i;
            while (i < text.size() && text[i] != ';') ++i;
        } else {
            const std::size_t valueBegin = i;
            while (i < text.size() && text[i] != ';') ++i;
            value = std::string(Trim(std::string_view(text).substr(valueBegin, i - valueBegin)));
        }
        if (name.empty()) continue;
        TSection section{name, -1, false, value};
        if (section.Name.back() == '*') {
            section.Extended = true;
            section.Name.pop_back();
        }
        const std::size_t star = section.Name.rfind('*');
        if (star != std::string::npos && star + 1 < section.Name.size() && star + 4 >= section.Name.size() &&
            std::all_of(section.Name.begin() + static_cast<std::ptrdiff_t>(star) + 1, section.Name.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            section.Index = std::stoi(section.Name.substr(star + 1));
            section.Name.erase(star);
        }
        sections.push_back(std::move(section));
    }

    // Sections of one name joined in the order of their numbers; the charset
    // of an extended value is named in its first section.
    std::vector<bool> used(sections.size(), false);
    for (std::size_t s = 0; s < sections.size(); ++s) {
        if (used[s]) continue;
        const std::string& name = sections[s].Name;
        if (field.Param(name) != nullptr) {
            used[s] = true;
            continue;
        }
        std::vector<std::size_t> parts;
        for (std::size_t t = s; t < sections.size(); ++t)
            if (!used[t] && sections[t].Name == name) {
                used[t] = true;
                parts.push_back(t);
            }
        std::stable_sort(parts.begin(), parts.end(),
                         [&](std::size_t a, std::size_t b) { return sections[a].Index < sections[b].Index; });
        std::string charset;
        std::string bytes;   // the extended sections' bytes, converted together
        std::string joined;
        bool first = true;
        for (const std::size_t p : parts) {
            const TSection& section = sections[p];
            if (section.Extended) {
                std::string_view v = section.Value;
                if (first) {
                    const std::size_t q1 = v.find('\'');
                    const std::size_t q2 = q1 == std::string_view::npos ? q1 : v.find('\'', q1 + 1);
                    if (q2 != std::string_view::npos) {
                        charset = std::string(v.substr(0, q1));
                        v = v.substr(q2 + 1);
                    }
                }
                bytes += Unpercent(v);
            } else {
                if (!bytes.empty()) joined += CharsetToUtf8(bytes, charset);
                bytes.clear();
                joined += DecodeWords(section.Value);
            }
            first = false;
        }
        if (!bytes.empty()) joined += CharsetToUtf8(bytes, charset);
        field.Params.emplace_back(name, std::move(joined));
    }
    return field;
}

// --- the parts of a multipart body ---------------------------------------------

// The parts between the delimiter lines "--boundary" (white space may follow)
// up to the close delimiter "--boundary--" or the end of the text. The line
// end before a delimiter belongs to the delimiter. Nothing before the first
// delimiter line (the preamble) or after the close delimiter is a part.
std::vector<std::string_view> SplitMultipart(std::string_view body, std::string_view boundary, std::size_t maxParts,
                                             bool& delimited) {
    std::vector<std::string_view> parts;
    delimited = false;
    std::size_t i = 0;
    bool inPart = false;
    std::size_t partBegin = 0;
    while (i < body.size()) {
        const TLine l = LineAt(body, i);
        const std::string_view line = body.substr(l.Begin, l.End - l.Begin);
        if (line.size() >= boundary.size() + 2 && line[0] == '-' && line[1] == '-' &&
            line.substr(2, boundary.size()) == boundary) {
            std::string_view rest = line.substr(boundary.size() + 2);
            const bool close = rest.size() >= 2 && rest[0] == '-' && rest[1] == '-';
            if (close) rest.remove_prefix(2);
            if (std::all_of(rest.begin(), rest.end(), IsWsp)) {
                delimited = true;
                if (inPart) {
                    std::size_t end = l.Begin;
                    if (end > partBegin && body[end - 1] == '\n') --end;
                    if (end > partBegin && body[end - 1] == '\r') --end;
                    parts.push_back(body.substr(partBegin, end - partBegin));
                    if (parts.size() >= maxParts) return parts;
                }
                if (close) return parts;
                inPart = true;
                partBegin = l.Next;
            }
        }
        i = l.Next;
    }
    if (inPart) {
        // Cut short before its close delimiter: the last line end is dropped
        // as if a delimiter followed.
        std::size_t end = body.size();
        if (end > partBegin && body[end - 1] == '\n') --end;
        if (end > partBegin && body[end - 1] == '\r') --end;
        parts.push_back(body.substr(partBegin, end - partBegin));
    }
    return parts;
}

// --- the walk ---------------------------------------------------------------------------

// How a part of a message is shown.
class TWalker {
public:
    explicit TWalker(TDecodedMessage& out) : out_(out) {}

    void Entity(const TEntity& e, int depth, bool inDigest) {
        if (depth > kMaxDepth || parts_ >= kMaxParts) return;
        ++parts_;
        const TFieldValue type = ContentType(e, inDigest);
        const TFieldValue disposition = ReadFieldValue(e.Find("Content-Disposition").value_or(""));
        const std::string encoding = std::string(Trim(e.Find("Content-Transfer-Encoding").value_or("")));
        const bool attached = disposition.Value == "attachment";

        if (type.Value.rfind("multipart/", 0) == 0) {
            const std::string* boundary = type.Param("boundary");
            bool delimited = false;
            std::vector<std::string_view> parts;
            if (boundary != nullptr && !boundary->empty())
                parts = SplitMultipart(e.Body, *boundary, kMaxParts - parts_, delimited);
            if (!delimited) {
                // No part to be found: the text as it stands.
                ShowText(e.Body, encoding, "", false);
                return;
            }
            std::vector<TEntity> children;
            children.reserve(parts.size());
            for (const std::string_view p : parts) children.push_back(SplitEntity(p));
            const bool digest = type.Value == "multipart/digest";
            if (type.Value == "multipart/alternative" && !children.empty()) {
                Entity(children[Preferred(children, depth)], depth + 1, false);
                return;
            }
            for (const TEntity& child : children) Entity(child, depth + 1, digest);
            return;
        }
        if (type.Value == "message/rfc822" || type.Value == "message/news") {
            const std::string inner = DecodeTransfer(e.Body, encoding);
            const TEntity message = SplitEntity(inner);
            ShowForwardedHeaders(message);
            Entity(message, depth + 1, false);
            return;
        }
        if (!attached && (type.Value == "text/plain" || type.Value == "text/html")) {
            const std::string* charset = type.Param("charset");
            ShowText(e.Body, encoding, charset != nullptr ? *charset : std::string(), type.Value == "text/html");
            return;
        }
        TAttachment attachment;
        if (const std::string* name = disposition.Param("filename"))
            attachment.Name = *name;
        else if (const std::string* n = type.Param("name"))
            attachment.Name = *n;
        attachment.Name = std::string(Trim(attachment.Name));
        attachment.Type = type.Value;
        attachment.Size = DecodedSize(e.Body, encoding);
        out_.Attachments.push_back(std::move(attachment));
    }

private:
    static TFieldValue ContentType(const TEntity& e, bool inDigest) {
        TFieldValue type = ReadFieldValue(e.Find("Content-Type").value_or(""));
        const std::size_t slash = type.Value.find('/');
        if (slash == std::string::npos || slash == 0 || slash + 1 == type.Value.size() ||
            type.Value.find_first_of(" \t") != std::string::npos) {
            // None or none readable: the default, parameters kept.
            type.Value = inDigest ? "message/rfc822" : "text/plain";
        }
        return type;
    }

    // What a part holds that a reader prefers: 2 a plain text, 1 an HTML text, 0 neither.
    static int Holds(const TEntity& e, int depth) {
        if (depth > kMaxDepth) return 0;
        const TFieldValue type = ContentType(e, false);
        if (ReadFieldValue(e.Find("Content-Disposition").value_or("")).Value == "attachment") return 0;
        if (type.Value == "text/plain") return 2;
        if (type.Value == "text/html") return 1;
        if (type.Value.rfind("multipart/", 0) != 0) return 0;
        const std::string* boundary = type.Param("boundary");
        if (boundary == nullptr || boundary->empty()) return 0;
        bool delimited = false;
        int best = 0;
        for (const std::string_view p : SplitMultipart(e.Body, *boundary, 64, delimited)) {
            best = std::max(best, Holds(SplitEntity(p), depth + 4));
            if (best == 2) break;
        }
        return best;
    }

    // The alternative to show: the first that holds a plain text, else the
    // first that holds an HTML text, else the last.
    static std::size_t Preferred(const std::vector<TEntity>& children, int depth) {
        std::optional<std::size_t> html;
        for (std::size_t c = 0; c < children.size() && c < 64; ++c) {
            const int holds = Holds(children[c], depth + 1);
            if (holds == 2) return c;
            if (holds == 1 && !html) html = c;
        }
        return html.value_or(children.size() - 1);
    }

    void ShowText(std::string_view body, std::string_view encoding, std::string charset, bool html) {
        const std::string bytes = DecodeTransfer(body, encoding);
        if (html && charset.empty()) charset = MetaCharset(bytes);
        std::string text = LfLines(CharsetToUtf8(bytes, charset));
        if (html) text = HtmlToText(text);
        Append(text);
    }

    // The charset an HTML text names in a meta element of its start.
    static std::string MetaCharset(std::string_view html) {
        const std::string head = LowerAscii(html.substr(0, 4096));
        const std::size_t at = head.find("charset=");
        if (at == std::string::npos || head.rfind("<meta", at) == std::string::npos) return {};
        std::size_t i = at + 8;
        while (i < head.size() && (head[i] == '"' || head[i] == '\'')) ++i;
        const std::size_t begin = i;
        while (i < head.size() && head[i] != '"' && head[i] != '\'' && head[i] != '>' && head[i] != ';' &&
               head[i] != ' ' && head[i] != '/')
            ++i;
        return head.substr(begin, i - begin);
    }

    void ShowForwardedHeaders(const TEntity& message) {
        std::string lines;
        for (const char* name : {"From", "Date", "To", "Subject"}) {
            if (const auto value = message.Find(name)) lines += std::string(name) + ": " + DecodeHeaderText(*value) + "\n";
        }
        if (!lines.empty()) Append(lines);
    }

    // A shown piece, set apart from the one before by an empty line.
    void Append(const std::string& text) {
        if (text.empty()) return;
        std::string& body = out_.Body;
        if (!body.empty()) {
            if (body.back() != '\n') body += '\n';
            body += '\n';
        }
        body += text;
    }

    TDecodedMessage& out_;
    std::size_t parts_ = 0;
};

void DecodeHeaderBlock(const TEntity& e, TDecodedHeaders& out) {
    if (const auto v = e.Find("Date")) {
        out.Date = DecodeHeaderText(*v);
        if (const auto date = ReadMessageDate(out.Date)) out.DateIso = IsoDate(*date);
    }
    if (const auto v = e.Find("From")) out.From = DecodeHeaderText(*v);
    if (const auto v = e.Find("To")) out.To = DecodeHeaderText(*v);
    if (const auto v = e.Find("Subject")) out.Subject = DecodeHeaderText(*v);
}

}  // namespace

std::string CharsetToUtf8(std::string_view bytes, std::string_view charset) {
    std::string name = charsets::CanonicalName(charset);
    if (name.empty() || name == "us-ascii" || name == "ansi_x3.4-1968") name = "windows-1252";
    if (IsAscii(bytes) && !AsciiMayDiffer(name)) return std::string(bytes);
    // UTF-8 is read by this program's own strict decoder, not the system's.
    if (name == "utf-8") return utf8::WellFormed(bytes);
    if (auto text = charsets::ToUtf8(bytes, name)) return WellFormed(std::move(*text));
    if (auto text = charsets::ToUtf8(bytes, "windows-1252")) return WellFormed(std::move(*text));
    return Latin1ToUtf8(bytes);
}

std::string DecodeHeaderText(std::string_view value) { return std::string(Trim(DecodeWords(value))); }

namespace {
std::string DecodeWords(std::string_view value) {
    const std::string s = Unfold(value);
    std::string out;
    out.reserve(s.size());
    std::string raw;           // raw bytes not yet converted
    std::string pendingCharset;
    std::string pendingBytes;  // adjacent encoded words of one charset, converted together
    bool pending = false;
    std::string heldSpace;     // white space after an encoded word, dropped when another follows
    std::size_t noEndBefore = 0;

    const auto flushRaw = [&] {
        if (!raw.empty()) out += RawHeaderToUtf8(raw);
        raw.clear();
    };
    const auto flushWords = [&] {
        if (pending) out += CharsetToUtf8(pendingBytes, pendingCharset);
        pending = false;
        pendingBytes.clear();
    };

    std::size_t i = 0;
    while (i < s.size()) {
        if (IsWsp(s[i])) {
            const std::size_t begin = i;
            while (i < s.size() && IsWsp(s[i])) ++i;
            if (pending)
                heldSpace.assign(s, begin, i - begin);
            else
                raw.append(s, begin, i - begin);
            continue;
        }
        if (s[i] == '=' && i + 1 < s.size() && s[i + 1] == '?') {
            if (auto word = ReadEncodedWord(s, i, noEndBefore)) {
                if (!pending || word->Charset != pendingCharset) {
                    flushWords();
                    flushRaw();
                    pendingCharset = word->Charset;
                    pending = true;
                }
                heldSpace.clear();
                pendingBytes += word->Bytes;
                i += word->Length;
                continue;
            }
        }
        // Plain text up to the next white space or encoded word.
        flushWords();
        raw += heldSpace;
        heldSpace.clear();
        const std::size_t begin = i;
        ++i;
        while (i < s.size() && !IsWsp(s[i]) && !(s[i] == '=' && i + 1 < s.size() && s[i + 1] == '?')) ++i;
        raw.append(s, begin, i - begin);
    }
    flushWords();
    flushRaw();
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}
}  // namespace

TDecodedHeaders DecodeHeaders(std::string_view message) {
    TDecodedHeaders out;
    DecodeHeaderBlock(SplitEntity(message), out);
    return out;
}

TDecodedMessage DecodeMessage(std::string_view message) {
    TDecodedMessage out;
    const TEntity e = SplitEntity(message);
    DecodeHeaderBlock(e, out);
    TWalker(out).Entity(e, 0, false);
    return out;
}

std::string FoldCase(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const utf8::TStep step = utf8::Decode(utf8, i);
        if (!step.WellFormed) {  // not UTF-8: the bytes as they are
            out.append(utf8, i, step.Length);
            i += step.Length;
            continue;
        }
        AppendUtf8(out, FoldCodePoint(step.CodePoint));
        i += step.Length;
    }
    return out;
}

bool TextHoldsKeyword(std::string_view utf8Text, std::string_view utf8Keyword) {
    if (utf8Keyword.empty()) return true;
    const std::string keyword = FoldCase(utf8Keyword);
    const std::string text = FoldCase(utf8Text);
    return std::search(text.begin(), text.end(), std::boyer_moore_horspool_searcher(keyword.begin(), keyword.end())) !=
           text.end();
}

std::string PreviewLayout(const TDecodedMessage& decoded) {
    std::string text = decoded.Body;
    if (text.empty() || text.back() != '\n') text += '\n';
    if (!decoded.Attachments.empty()) {
        text += "\nAttachments:\n";
        for (const TAttachment& a : decoded.Attachments)
            text += "  " + (a.Name.empty() ? std::string("(no name)") : a.Name) + "  (" + a.Type + ", " +
                    std::to_string(a.Size) + " bytes)\n";
    }
    return text;
}

}  // namespace corvane::mail
