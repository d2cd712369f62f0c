#include "corvane-dbx/ListFormats.h"

#include <algorithm>
#include <ostream>

#include "platform/AnsiText.h"
#include "platform/Console.h"

namespace corvane::cli {
namespace {

const char* const kHeadings[] = {"Item Num", "Deleted", "Date", "From", "To", "Subject"};
const char* const kFolderHeading = "Folder File";
constexpr std::size_t kGap = 2;          // spaces between table columns
constexpr std::size_t kLeastColumn = 4;  // a cut column keeps at least this many characters

const char* YesNo(const TEmail& e) { return e.Deleted != 0 ? "yes" : "no"; }

// The characters of UTF-8 text (its bytes that begin one).
std::size_t Characters(const std::string& utf8) {
    std::size_t n = 0;
    for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

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

// A cell cut or padded to width characters (UTF-8, one character a column).
std::string Cell(const std::string& utf8, std::size_t width, bool last) {
    std::size_t end = 0, shown = 0;
    while (end < utf8.size() && shown < width) {
        ++end;
        while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
        ++shown;
    }
    std::string out = utf8.substr(0, end);
    if (!last) out.append(width - shown + kGap, ' ');
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

void TListWriter::Add(const std::string& folderFile, const TEmailArray& emails, const std::vector<std::size_t>& shown) {
    switch (format_) {
        case TFormat::Table: AddTable(folderFile, emails, shown); break;
        case TFormat::Csv: AddCsv(folderFile, emails, shown); break;
        case TFormat::Json: AddJson(folderFile, emails, shown); break;
    }
    out_.flush();
}

void TListWriter::Finish() {
    if (format_ == TFormat::Json) out_ << (jsonRows_ > 0 ? "\n]\n" : "]\n");
    if (format_ == TFormat::Table) WriteTable();
    out_.flush();
}

// The rows are kept until the last folder file is read, so that one set of
// column widths serves the whole table.
void TListWriter::AddTable(const std::string& folderFile, const TEmailArray& emails,
                           const std::vector<std::size_t>& shown) {
    // Cells as UTF-8: folder file (when named), item, deleted, four texts.
    if (tableRows_.empty()) {
        std::vector<std::string> heading;
        if (withFolder_) heading.emplace_back(kFolderHeading);
        for (const char* h : kHeadings) heading.emplace_back(h);
        tableRows_.push_back(std::move(heading));
    }
    const std::string folderCell = CellText(corvane::console::PathToUtf8(folderFile));
    for (const std::size_t i : shown) {
        const TEmail& e = emails[i];
        std::vector<std::string> row;
        if (withFolder_) row.push_back(folderCell);
        row.push_back(std::to_string(i));
        row.emplace_back(YesNo(e));
        for (const std::string* text : {&e.Date, &e.From, &e.To, &e.Subject})
            row.push_back(CellText(corvane::ansi::ToUtf8(*text)));
        tableRows_.push_back(std::move(row));
    }
}

void TListWriter::WriteTable() {
    if (tableRows_.empty()) return;
    const std::size_t columns = tableRows_.front().size();
    std::vector<std::size_t> natural(columns, 0);
    for (const auto& row : tableRows_)
        for (std::size_t c = 0; c < row.size(); ++c) natural[c] = std::max(natural[c], Characters(row[c]));
    // The item number and the deleted flag are never cut.
    std::vector<bool> fixed(columns, false);
    fixed[withFolder_ ? 1 : 0] = fixed[withFolder_ ? 2 : 1] = true;
    const std::vector<std::size_t> widths =
        FitColumns(natural, fixed, kGap * (columns - 1), static_cast<std::size_t>(width_));
    for (const auto& row : tableRows_) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) line += Cell(row[c], widths[c], c + 1 == row.size());
        out_ << line << '\n';
    }
    tableRows_.clear();
}

void TListWriter::AddCsv(const std::string& folderFile, const TEmailArray& emails,
                         const std::vector<std::size_t>& shown) {
    if (!headingWritten_) {
        std::string line;
        if (withFolder_) line += std::string(kFolderHeading) + ',';
        for (const char* h : kHeadings) line += std::string(h) + ',';
        line.back() = '\r';
        out_ << line << '\n';
        headingWritten_ = true;
    }
    const std::string folderField = withFolder_ ? CsvField(corvane::console::PathToUtf8(folderFile)) + ',' : std::string();
    for (const std::size_t i : shown) {
        const TEmail& e = emails[i];
        out_ << folderField << i << ',' << YesNo(e);
        for (const std::string* text : {&e.Date, &e.From, &e.To, &e.Subject})
            out_ << ',' << CsvField(corvane::ansi::ToUtf8(*text));
        out_ << "\r\n";
    }
}

void TListWriter::AddJson(const std::string& folderFile, const TEmailArray& emails,
                          const std::vector<std::size_t>& shown) {
    const std::string folder = JsonString(corvane::console::PathToUtf8(folderFile));
    for (const std::size_t i : shown) {
        const TEmail& e = emails[i];
        out_ << (jsonRows_++ == 0 ? "\n" : ",\n") << "  {\"folderFile\": " << folder << ", \"item\": " << i
             << ", \"deleted\": " << (e.Deleted != 0 ? "true" : "false")
             << ", \"date\": " << JsonString(corvane::ansi::ToUtf8(e.Date))
             << ", \"from\": " << JsonString(corvane::ansi::ToUtf8(e.From))
             << ", \"to\": " << JsonString(corvane::ansi::ToUtf8(e.To))
             << ", \"subject\": " << JsonString(corvane::ansi::ToUtf8(e.Subject))
             << ", \"messageFile\": " << JsonString(corvane::console::PathToUtf8(e.FileName))
             << ", \"messageStart\": " << e.MessageStart << ", \"headerEnd\": " << e.HeaderEnd
             << ", \"messageEnd\": " << e.MessageEnd << "}";
    }
}

}  // namespace corvane::cli
