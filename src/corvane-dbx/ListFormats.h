#pragma once
// The rows of `corvane-dbx list` in its three formats: an aligned table for a
// terminal, CSV (RFC 4180) and JSON (UTF-8). A row is a record as the window
// lists it: item number (the record's index), deleted flag, date, from, to,
// subject. The header texts are the decoded ones (UTF-8) or, for the raw
// texts, the records' own converted from the ANSI code page to UTF-8, as the
// window shows them.

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "Globals/Globals.h"
#include "corvane-dbx/CommandLine.h"
#include "maildecode/maildecode.h"
#include "platform/Files.h"

namespace corvane::cli {

// Where a record's message lies in its folder file, for the CSV and JSON
// rows: the offset of its chain's first block (the record's offsets count
// from the start of that chain's text), and the SHA-1 of the message's bytes
// as an export writes them.
struct TMessagePlace {
    std::int64_t ChainOffset = -1;
    std::string Sha1;
};

class TListWriter {
public:
    // withFolder: each row also names its folder file (several were given).
    // width: the terminal's columns the table is cut to; 0 for no limit.
    TListWriter(std::ostream& out, TFormat format, bool withFolder, int width);

    // The rows of one folder file, in order: Begin, a Row per record shown,
    // then End. Each row is put into its output form at once (the records
    // need not be kept); End(true) passes them on, End(false) drops them
    // (the read failed, so nothing of that folder file is listed). Rows wait
    // in memory up to a bound and then in a scratch file (the table's until
    // Finish, which needs them all for its widths), so memory stays bounded
    // however many rows there are.
    // decoded: the record's decoded texts (its body is not read); null lists
    // the raw texts.
    // folderLabel (UTF-8): the folder's path of names in a store; then the
    // table and CSV name the folder by it, and JSON gives it as "folder".
    void Begin(const std::string& folderFile, const std::string& folderLabel = std::string());
    void Row(std::size_t item, const TEmail& email, const corvane::mail::TDecodedMessage* decoded = nullptr,
             const TMessagePlace& place = {});
    void End(bool keep);
    // Closes the output (the JSON array) or writes the table, whose column
    // widths fit all its rows; call once after the last End.
    void Finish();

private:
    void RowTable(std::size_t item, const TEmail& email, const corvane::mail::TDecodedMessage* decoded);
    void RowCsv(std::size_t item, const TEmail& email, const corvane::mail::TDecodedMessage* decoded,
                const TMessagePlace& place);
    void RowJson(std::size_t item, const TEmail& email, const corvane::mail::TDecodedMessage* decoded,
                 const TMessagePlace& place);
    void WriteTable();

    std::ostream& out_;
    TFormat format_;
    bool withFolder_;
    int width_;
    bool headingWritten_ = false;
    std::size_t jsonRows_ = 0;
    // The folder file at hand and what its rows added so far.
    std::string folderCell_;  // as its cells and fields show it
    std::size_t jsonRowsBefore_ = 0;
    // Text that waits: in memory, in pieces of about a mebibyte (one
    // growing string would need twice its size whenever it moves), and
    // beyond kMemoryBytes in a scratch file, so that millions of rows hold
    // no more than that in memory.
    class TSpool {
    public:
        void Append(std::string_view text);
        void Clear();
        bool Empty() const { return pieces_.empty() && fileBytes_ == 0; }
        // Hands the text to put in order, in pieces.
        void Each(const std::function<void(std::string_view)>& put) const;

    private:
        std::vector<std::string> pieces_;
        std::size_t memoryBytes_ = 0;
        corvane::fs::TScratchFile file_;
        std::int64_t fileBytes_ = 0;
    };
    void Pend(std::string_view text) { pending_.Append(text); }
    // The CSV or JSON text of the folder file's rows; for the table their
    // cells, each ended by a NUL (which no cell holds).
    TSpool pending_;
    // The table's kept rows' cells, and the widths of its columns: over the
    // kept rows (natural_) and over the rows of the folder file at hand.
    TSpool tableRows_;
    std::vector<std::size_t> natural_, naturalHere_;
    bool tableKept_ = false;  // some folder file's rows were kept
};

// Text as a terminal may be given it, so that no escape sequence can start
// in it: ill-formed UTF-8 and C1 controls (U+0080..U+009F) become U+FFFD, C0
// controls and DEL spaces; keepLayout keeps tab, LF and CR.
std::string TerminalText(std::string_view text, bool keepLayout);
// The bytes in lower-case hexadecimal, two digits each.
std::string HexBytes(std::string_view bytes);
// One CSV field: quoted when it holds a comma, a quote, CR or LF (quotes
// doubled inside), as it stands otherwise.
std::string CsvField(const std::string& text);
// One JSON string literal of UTF-8 text, quotes included.
std::string JsonString(const std::string& utf8);
// Column widths that fit total (0: no limit): each column keeps its natural
// width when all fit; otherwise the widest columns that may be cut are cut to
// one common cap (never below four characters). Columns marked fixed keep
// their width.
std::vector<std::size_t> FitColumns(const std::vector<std::size_t>& natural, const std::vector<bool>& fixed,
                                    std::size_t separators, std::size_t total);

}  // namespace corvane::cli
