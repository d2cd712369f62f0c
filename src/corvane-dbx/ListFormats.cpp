#include "corvane-dbx/ListFormats.h"

#include <algorithm>
#include <ostream>
#include <string_view>

#include "platform/AnsiText.h"
#include "platform/Console.h"

namespace corvane::cli {
namespace {

const char* const kHeadings[] = {"Item Num", "Deleted", "Date", "From", "To", "Subject"};
const char* const kFolderHeading = "Folder File";
constexpr std::size_t kGap = 2;          // spaces between table columns
constexpr std::size_t kLeastColumn = 4;  // a cut column keeps at least this many characters

const char* YesNo(const TEmail& e) { return e.Deleted != 0 ? "yes" : "no"; }

// UTF-8 text for one table cell: no control character reaches the
// terminal, since one could start an escape sequence there. C0 controls
// and DEL become spaces (tabs and line ends among them); C1 controls
// (U+0080 to U+009F) become U+FFFD. Leading and trailing spaces are dropped.
std::string CellText(const std::string& utf8) {
    std::string text;
    text.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x20 || b == 0x7F) {
            text += ' ';
        } else if (b == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            text += "\xEF\xBF\xBD";
            ++i;
        } else {
            text += utf8[i];
        }
    }
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The character of UTF-8 text at i and its length in bytes; a byte that
// begins no well-formed sequence stands for itself.
char32_t CharacterAt(const std::string& text, std::size_t i, std::size_t& length) {
    const auto b = static_cast<unsigned char>(text[i]);
    length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
        length = 1;
        return b;
    }
    char32_t c = length == 1 ? b : b & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            length = 1;
            return b;
        }
        c = (c << 6) | (next & 0x3F);
    }
    return c;
}

// The terminal columns a character takes: none for combining marks and
// zero-width spaces, two for the wide East Asian characters, else one.
std::size_t Columns(char32_t c) {
    if ((c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F)) return 0;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

std::size_t TextColumns(const std::string& utf8) {
    std::size_t columns = 0, length = 0;
    for (std::size_t i = 0; i < utf8.size(); i += length) columns += Columns(CharacterAt(utf8, i, length));
    return columns;
}

// A cell of UTF-8 text cut or padded to width columns; a cut never splits a
// character.
std::string Cell(const std::string& utf8, std::size_t width, bool last) {
    std::string out;
    std::size_t used = 0, length = 0;
    for (std::size_t i = 0; i < utf8.size(); i += length) {
        const std::size_t columns = Columns(CharacterAt(utf8, i, length));
        if (used + columns > width) break;
        out.append(utf8, i, length);
        used += columns;
    }
    if (!last) out.append(width - used + kGap, ' ');
    return out;
}

}  // namespace

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string JsonString(const std::string& utf8) {
    static const char* const kHex = "0123456789abcdef";
    std::string out = "\"";
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (b < 0x20) {
                    out += "\\u00";
                    out += kHex[b >> 4];
                    out += kHex[b & 15];
                } else {
                    out += c;
                }
        }
    }
    return out + '"';
}

std::vector<std::size_t> FitColumns(const std::vector<std::size_t>& natural, const std::vector<bool>& fixed,
                                    std::size_t separators, std::size_t total) {
    auto widthAt = [&](std::size_t cap) {
        std::size_t sum = separators;
        for (std::size_t c = 0; c < natural.size(); ++c) sum += fixed[c] ? natural[c] : std::min(natural[c], cap);
        return sum;
    };
    const std::size_t widest = natural.empty() ? 0 : *std::max_element(natural.begin(), natural.end());
    if (total == 0 || widthAt(widest) <= total) return natural;
    // The largest cap at which the cut columns fit.
    std::size_t lo = kLeastColumn, hi = std::max(widest, kLeastColumn);
    while (lo < hi) {
        const std::size_t mid = (lo + hi + 1) / 2;
        if (widthAt(mid) <= total) lo = mid;
        else hi = mid - 1;
    }
    std::vector<std::size_t> out;
    for (std::size_t c = 0; c < natural.size(); ++c) out.push_back(fixed[c] ? natural[c] : std::min(natural[c], lo));
    return out;
}

TListWriter::TListWriter(std::ostream& out, TFormat format, bool withFolder, int width)
    : out_(out), format_(format), withFolder_(withFolder), width_(std::max(width, 0)) {
    if (format_ == TFormat::Json) out_ << "[";
}

void TListWriter::Begin(const std::string& folderFile) {
    const std::string utf8 = corvane::console::PathToUtf8(folderFile);
    switch (format_) {
        case TFormat::Table: folderCell_ = CellText(utf8); break;
        case TFormat::Csv: folderCell_ = withFolder_ ? CsvField(utf8) + ',' : std::string(); break;
        case TFormat::Json: folderCell_ = JsonString(utf8); break;
    }
    pending_.clear();
    jsonRowsBefore_ = jsonRows_;
    tableCellsBefore_ = tableCellEnds_.size();
    tableTextBefore_ = tableText_.size();
}

void TListWriter::Pend(std::string_view text) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    if (pending_.empty() || pending_.back().size() + text.size() > kPiece) {
        pending_.emplace_back();
        pending_.back().reserve(std::max(kPiece, text.size()));
    }
    pending_.back() += text;
}

void TListWriter::Row(std::size_t item, const TEmail& email, const corvane::mail::TDecodedMessage* decoded) {
    switch (format_) {
        case TFormat::Table: RowTable(item, email, decoded); break;
        case TFormat::Csv: RowCsv(item, email, decoded); break;
        case TFormat::Json: RowJson(item, email, decoded); break;
    }
}

void TListWriter::End(bool keep) {
    if (!keep) {
        jsonRows_ = jsonRowsBefore_;
        tableCellEnds_.resize(tableCellsBefore_);
        tableText_.resize(tableTextBefore_);
        pending_.clear();
        return;
    }
    tableKept_ = true;
    if (format_ == TFormat::Csv && !headingWritten_) {
        std::string line;
        if (withFolder_) line += std::string(kFolderHeading) + ',';
        for (const char* h : kHeadings) line += std::string(h) + ',';
        line.back() = '\r';
        out_ << line << '\n';
        headingWritten_ = true;
    }
    for (std::string& piece : pending_) {
        out_ << piece;
        std::string().swap(piece);
    }
    pending_.clear();
    out_.flush();
}

void TListWriter::Finish() {
    if (format_ == TFormat::Json) out_ << (jsonRows_ > 0 ? "\n]\n" : "]\n");
    if (format_ == TFormat::Table) WriteTable();
    out_.flush();
}

// The rows are kept until the last folder file is read, so that one set of
// column widths serves the whole table.
void TListWriter::RowTable(std::size_t item, const TEmail& e, const corvane::mail::TDecodedMessage* decoded) {
    auto cell = [this](std::string_view text) {
        tableText_ += text;
        tableCellEnds_.push_back(tableText_.size());
    };
    if (withFolder_) cell(folderCell_);
    cell(std::to_string(item));
    cell(YesNo(e));
    if (decoded) {
        for (const std::string* text : {&decoded->Date, &decoded->From, &decoded->To, &decoded->Subject})
            cell(CellText(*text));
    } else {
        for (const std::string* text : {&e.Date, &e.From, &e.To, &e.Subject}) cell(CellText(corvane::ansi::ToUtf8(*text)));
    }
}

void TListWriter::WriteTable() {
    if (!tableKept_) return;
    std::vector<std::string> heading;
    if (withFolder_) heading.emplace_back(kFolderHeading);
    for (const char* h : kHeadings) heading.emplace_back(h);
    const std::size_t columns = heading.size();
    const std::size_t rows = tableCellEnds_.size() / columns;
    auto cellOf = [&](std::size_t row, std::size_t c) {
        const std::size_t n = row * columns + c;
        const std::size_t from = n == 0 ? 0 : tableCellEnds_[n - 1];
        return std::string(tableText_, from, tableCellEnds_[n] - from);
    };
    std::vector<std::size_t> natural(columns, 0);
    for (std::size_t c = 0; c < columns; ++c) natural[c] = TextColumns(heading[c]);
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < columns; ++c) natural[c] = std::max(natural[c], TextColumns(cellOf(r, c)));
    // The item number and the deleted flag are never cut.
    std::vector<bool> fixed(columns, false);
    fixed[withFolder_ ? 1 : 0] = fixed[withFolder_ ? 2 : 1] = true;
    const std::vector<std::size_t> widths =
        FitColumns(natural, fixed, kGap * (columns - 1), static_cast<std::size_t>(width_));
    auto writeLine = [&](auto&& cellAt) {
        std::string line;
        for (std::size_t c = 0; c < columns; ++c) line += Cell(cellAt(c), widths[c], c + 1 == columns);
        out_ << line << '\n';
    };
    writeLine([&](std::size_t c) { return heading[c]; });
    for (std::size_t r = 0; r < rows; ++r) writeLine([&](std::size_t c) { return cellOf(r, c); });
    std::string().swap(tableText_);
    std::vector<std::size_t>().swap(tableCellEnds_);
    tableKept_ = false;
}

void TListWriter::RowCsv(std::size_t i, const TEmail& e, const corvane::mail::TDecodedMessage* decoded) {
    std::string line = folderCell_ + std::to_string(i) + ',' + YesNo(e);
    if (decoded) {
        for (const std::string* text : {&decoded->Date, &decoded->From, &decoded->To, &decoded->Subject})
            line += ',' + CsvField(*text);
    } else {
        for (const std::string* text : {&e.Date, &e.From, &e.To, &e.Subject})
            line += ',' + CsvField(corvane::ansi::ToUtf8(*text));
    }
    line += "\r\n";
    Pend(line);
}

// Without decoded texts a record holds the raw texts as date, from, to and
// subject; with them, those are the decoded texts, followed by dateIso,
// attachments and the raw texts in "raw".
void TListWriter::RowJson(std::size_t i, const TEmail& e, const corvane::mail::TDecodedMessage* decoded) {
    const std::string rawTexts = "\"date\": " + JsonString(corvane::ansi::ToUtf8(e.Date)) +
                                 ", \"from\": " + JsonString(corvane::ansi::ToUtf8(e.From)) +
                                 ", \"to\": " + JsonString(corvane::ansi::ToUtf8(e.To)) +
                                 ", \"subject\": " + JsonString(corvane::ansi::ToUtf8(e.Subject));
    std::string out = jsonRows_++ == 0 ? "\n" : ",\n";
    out += "  {\"folderFile\": " + folderCell_ + ", \"item\": " + std::to_string(i) +
           ", \"deleted\": " + (e.Deleted != 0 ? "true" : "false") + ", ";
    if (decoded) {
        const corvane::mail::TDecodedMessage& d = *decoded;
        out += "\"date\": " + JsonString(d.Date) + ", \"from\": " + JsonString(d.From) +
               ", \"to\": " + JsonString(d.To) + ", \"subject\": " + JsonString(d.Subject) +
               ", \"dateIso\": " + (d.DateIso.empty() ? std::string("null") : JsonString(d.DateIso)) +
               ", \"attachments\": [";
        for (std::size_t a = 0; a < d.Attachments.size(); ++a)
            out += std::string(a == 0 ? "" : ", ") + "{\"name\": " + JsonString(d.Attachments[a].Name) +
                   ", \"type\": " + JsonString(d.Attachments[a].Type) +
                   ", \"size\": " + std::to_string(d.Attachments[a].Size) + "}";
        out += "], \"raw\": {" + rawTexts + "}";
    } else {
        out += rawTexts;
    }
    out += ", \"messageFile\": " + JsonString(corvane::console::PathToUtf8(e.FileName)) +
           ", \"messageStart\": " + std::to_string(e.MessageStart) + ", \"headerEnd\": " +
           std::to_string(e.HeaderEnd) + ", \"messageEnd\": " + std::to_string(e.MessageEnd) + "}";
    Pend(out);
}

}  // namespace corvane::cli
