#include "corvane-dbx/ListFormats.h"

#include <algorithm>
#include <ostream>
#include <string_view>
#include <vector>

#include "corvane-dbx/IndexFields.h"
#include "maildecode/MessageDate.h"
#include "platform/AnsiText.h"
#include "platform/Console.h"
#include "utf8/Utf8.h"

namespace corvane::cli {
namespace {

const char* const kHeadings[] = {"Item Num", "Deleted", "Date", "From", "To", "Subject"};
// CSV has these too: the date in ISO 8601 after Date, and where the message lies.
const char* const kCsvHeadings[] = {"Item Num", "Deleted",       "Date",       "Date ISO",    "From", "To",
                                    "Subject",  "Chain Offset", "Message Start", "Header End", "Message End", "SHA-1"};
const char* const kFolderHeading = "Folder File";
constexpr std::size_t kGap = 2;          // spaces between table columns
constexpr std::size_t kLeastColumn = 4;  // a cut column keeps at least this many characters

const char* YesNo(const TEmail& e) { return e.Deleted != 0 ? "yes" : "no"; }

// UTF-8 text for one table cell: no control character reaches the
// terminal (TerminalText), tabs and line ends among them, and leading and
// trailing spaces are dropped.
std::string CellText(const std::string& utf8) {
    std::string text = TerminalText(utf8, false);
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The character of UTF-8 text at i and its length in bytes; an ill-formed
// stretch stands for U+FFFD.
char32_t CharacterAt(const std::string& text, std::size_t i, std::size_t& length) {
    const corvane::utf8::TStep step = corvane::utf8::Decode(text, i);
    length = step.Length;
    return step.CodePoint;
}

// The characters a terminal shows two columns wide: East Asian Wide and
// Fullwidth (Unicode's EastAsianWidth W and F), emoji presentation included.
struct TRange {
    char32_t First, Last;
};
constexpr TRange kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1AFF0, 0x1B2FF},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F202},
    {0x1F210, 0x1F23B}, {0x1F240, 0x1F248}, {0x1F250, 0x1F251}, {0x1F260, 0x1F265}, {0x1F300, 0x1F320},
    {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA}, {0x1F3CF, 0x1F3D3},
    {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E}, {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC},
    {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596},
    {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2},
    {0x1F6D5, 0x1F6D7}, {0x1F6DC, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB},
    {0x1F7F0, 0x1F7F0}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool IsWide(char32_t c) {
    const auto* at = std::lower_bound(std::begin(kWide), std::end(kWide), c,
                                      [](const TRange& r, char32_t v) { return r.Last < v; });
    return at != std::end(kWide) && at->First <= c;
}

// The terminal columns a character takes: none for combining marks,
// zero-width spaces and joiners and variation selectors, two for the wide
// ones, else one.
std::size_t Columns(char32_t c) {
    if ((c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE00 && c <= 0xFE0F) ||
        (c >= 0xE0100 && c <= 0xE01EF))
        return 0;
    return IsWide(c) ? 2 : 1;
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

std::string TerminalText(std::string_view text, bool keepLayout) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const corvane::utf8::TStep step = corvane::utf8::Decode(text, i);
        const char32_t c = step.CodePoint;
        if (!step.WellFormed || (c >= 0x80 && c <= 0x9F)) {
            out += corvane::utf8::kReplacementText;
        } else if (c < 0x20 || c == 0x7F) {
            out += keepLayout && (c == '\t' || c == '\n' || c == '\r') ? static_cast<char>(c) : ' ';
        } else {
            out.append(text, i, step.Length);
        }
        i += step.Length;
    }
    return out;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string HexBytes(std::string_view bytes) {
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
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

void TListWriter::Begin(const std::string& folderFile, const std::string& folderLabel) {
    bool exact = true;
    const std::string path = corvane::console::PathToUtf8(folderFile, &exact);
    const std::string& utf8 = folderLabel.empty() || format_ == TFormat::Json ? path : folderLabel;
    switch (format_) {
        case TFormat::Table: folderCell_ = CellText(utf8); break;
        case TFormat::Csv: folderCell_ = withFolder_ ? CsvField(utf8) + ',' : std::string(); break;
        case TFormat::Json:
            // A name that is no UTF-8 is also given byte for byte, so that a
            // program can still open the file.
            folderCell_ = JsonString(utf8);
            if (!exact) folderCell_ += ", \"folderFileBytes\": \"" + HexBytes(folderFile) + '"';
            if (!folderLabel.empty()) folderCell_ += ", \"folder\": " + JsonString(folderLabel);
            break;
    }
    pending_.Clear();
    jsonRowsBefore_ = jsonRows_;
    naturalHere_.clear();
}

void TListWriter::TSpool::Append(std::string_view text) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    constexpr std::size_t kMemoryBytes = std::size_t{16} << 20;
    if (memoryBytes_ + text.size() > kMemoryBytes) {  // the pieces so far out to the scratch file
        if (!file_.Writer) file_ = corvane::fs::CreateScratchFile();
        for (const std::string& piece : pieces_) {
            file_.Writer->Write(piece.data(), piece.size());
            fileBytes_ += static_cast<std::int64_t>(piece.size());
        }
        pieces_.clear();
        memoryBytes_ = 0;
    }
    memoryBytes_ += text.size();
    if (pieces_.empty() || pieces_.back().size() + text.size() > kPiece) {
        pieces_.emplace_back();
        pieces_.back().reserve(std::max(kPiece, text.size()));
    }
    pieces_.back() += text;
}

void TListWriter::TSpool::Clear() {
    pieces_.clear();
    memoryBytes_ = 0;
    file_ = {};
    fileBytes_ = 0;
}

void TListWriter::TSpool::Each(const std::function<void(std::string_view)>& put) const {
    if (file_.Reader) {
        std::vector<char> buffer(std::size_t{1} << 20);
        for (std::int64_t at = 0; at < fileBytes_;) {
            const std::size_t got = file_.Reader->ReadAt(at, buffer.data(), buffer.size());
            if (got == 0) break;
            put(std::string_view(buffer.data(), got));
            at += static_cast<std::int64_t>(got);
        }
    }
    for (const std::string& piece : pieces_) put(piece);
}

void TListWriter::Row(std::size_t item, const TEmail& email, const corvane::mail::TDecodedMessage* decoded,
                      const TMessagePlace& place) {
    switch (format_) {
        case TFormat::Table: RowTable(item, email, decoded); break;
        case TFormat::Csv: RowCsv(item, email, decoded, place); break;
        case TFormat::Json: RowJson(item, email, decoded, place); break;
    }
}

void TListWriter::End(bool keep) {
    if (!keep) {
        jsonRows_ = jsonRowsBefore_;
        pending_.Clear();
        naturalHere_.clear();
        return;
    }
    tableKept_ = true;
    if (format_ == TFormat::Table) {
        pending_.Each([this](std::string_view text) { tableRows_.Append(text); });
        pending_.Clear();
        if (natural_.size() < naturalHere_.size()) natural_.resize(naturalHere_.size(), 0);
        for (std::size_t c = 0; c < naturalHere_.size(); ++c) natural_[c] = std::max(natural_[c], naturalHere_[c]);
        return;
    }
    if (format_ == TFormat::Csv && !headingWritten_) {
        std::string line;
        if (withFolder_) line += std::string(kFolderHeading) + ',';
        for (const char* h : kCsvHeadings) line += std::string(h) + ',';
        line.pop_back();
        line += kIndexCsvHeadings;
        line += '\r';
        out_ << line << '\n';
        headingWritten_ = true;
    }
    pending_.Each([this](std::string_view text) { out_.write(text.data(), static_cast<std::streamsize>(text.size())); });
    pending_.Clear();
    out_.flush();
}

void TListWriter::Finish() {
    if (format_ == TFormat::Json) out_ << (jsonRows_ > 0 ? "\n]\n" : "]\n");
    if (format_ == TFormat::Table) WriteTable();
    out_.flush();
}

// The rows are kept until the last folder file is read, so that one set of
// column widths serves the whole table: their cells one after another, each
// ended by a NUL, and each column's widest cell.
void TListWriter::RowTable(std::size_t item, const TEmail& e, const corvane::mail::TDecodedMessage* decoded) {
    std::string row;
    std::size_t column = 0;
    auto cell = [&](std::string_view text) {
        if (naturalHere_.size() <= column) naturalHere_.resize(column + 1, 0);
        naturalHere_[column] = std::max(naturalHere_[column], TextColumns(std::string(text)));
        ++column;
        row += text;
        row += '\0';
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
    Pend(row);
}

void TListWriter::WriteTable() {
    if (!tableKept_) return;
    std::vector<std::string> heading;
    if (withFolder_) heading.emplace_back(kFolderHeading);
    for (const char* h : kHeadings) heading.emplace_back(h);
    const std::size_t columns = heading.size();
    std::vector<std::size_t> natural(columns, 0);
    for (std::size_t c = 0; c < columns; ++c)
        natural[c] = std::max(TextColumns(heading[c]), c < natural_.size() ? natural_[c] : 0);
    // The item number and the deleted flag are never cut.
    std::vector<bool> fixed(columns, false);
    fixed[withFolder_ ? 1 : 0] = fixed[withFolder_ ? 2 : 1] = true;
    const std::vector<std::size_t> widths =
        FitColumns(natural, fixed, kGap * (columns - 1), static_cast<std::size_t>(width_));
    std::string line;
    for (std::size_t c = 0; c < columns; ++c) line += Cell(heading[c], widths[c], c + 1 == columns);
    out_ << line << '\n';
    // The rows, cell by cell as they come back from the spool.
    std::string cellText;
    std::size_t column = 0;
    line.clear();
    tableRows_.Each([&](std::string_view text) {
        for (const char ch : text) {
            if (ch != '\0') {
                cellText += ch;
                continue;
            }
            line += Cell(cellText, widths[column], column + 1 == columns);
            cellText.clear();
            if (++column == columns) {
                line += '\n';
                out_ << line;
                line.clear();
                column = 0;
            }
        }
    });
    tableRows_.Clear();
    natural_.clear();
    tableKept_ = false;
}

void TListWriter::RowCsv(std::size_t i, const TEmail& e, const corvane::mail::TDecodedMessage* decoded,
                         const TMessagePlace& place) {
    std::string line = folderCell_ + std::to_string(i) + ',' + YesNo(e);
    if (decoded) {
        line += ',' + CsvField(decoded->Date) + ',' + decoded->DateIso;
        for (const std::string* text : {&decoded->From, &decoded->To, &decoded->Subject}) line += ',' + CsvField(*text);
    } else {
        const std::string date = corvane::ansi::ToUtf8(e.Date);
        const auto when = corvane::mail::ReadMessageDate(date);
        line += ',' + CsvField(date) + ',' + (when ? corvane::mail::IsoDate(*when) : std::string());
        for (const std::string* text : {&e.From, &e.To, &e.Subject}) line += ',' + CsvField(corvane::ansi::ToUtf8(*text));
    }
    line += ',' + std::to_string(place.ChainOffset) + ',' + std::to_string(e.MessageStart) + ',' +
            std::to_string(e.HeaderEnd) + ',' + std::to_string(e.MessageEnd) + ',' + place.Sha1 + IndexCsvFields(e) + "\r\n";
    Pend(line);
}

// Without decoded texts a record holds the raw texts as date, from, to and
// subject; with them, those are the decoded texts, followed by dateIso,
// attachments and the raw texts in "raw".
void TListWriter::RowJson(std::size_t i, const TEmail& e, const corvane::mail::TDecodedMessage* decoded,
                          const TMessagePlace& place) {
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
    out += IndexJsonFields(e);
    out += ", \"chainOffset\": " + std::to_string(place.ChainOffset) + ", \"messageStart\": " + std::to_string(e.MessageStart) + ", \"headerEnd\": " +
           std::to_string(e.HeaderEnd) + ", \"messageEnd\": " + std::to_string(e.MessageEnd) +
           ", \"sha1\": " + JsonString(place.Sha1) + "}";
    Pend(out);
}

}  // namespace corvane::cli
