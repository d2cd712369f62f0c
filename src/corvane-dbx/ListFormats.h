#pragma once
// The rows of `corvane-dbx list` in its three formats: an aligned table for a
// terminal, CSV (RFC 4180) and JSON (UTF-8). A row is a record as the window
// lists it: item number (the record's index), deleted flag, date, from, to,
// subject. The header texts are the decoded ones (UTF-8) or, for the raw
// texts, the records' own converted from the ANSI code page to UTF-8, as the
// window shows them.

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "Globals/Globals.h"
#include "corvane-dbx/CommandLine.h"
#include "maildecode/maildecode.h"

namespace corvane::cli {

class TListWriter {
public:
    // withFolder: each row also names its folder file (several were given).
    // width: the terminal's columns the table is cut to; 0 for no limit.
    TListWriter(std::ostream& out, TFormat format, bool withFolder, int width);

    // The rows of one folder file: the records at the shown indexes, in order.
    // decoded: the decoded texts of those records, one per shown index (their
    // bodies are not read); null lists the raw texts.
    void Add(const std::string& folderFile, const TEmailArray& emails, const std::vector<std::size_t>& shown,
             const std::vector<corvane::mail::TDecodedMessage>* decoded = nullptr);
    // Closes the output (the JSON array) or writes the table, whose column
    // widths fit all its rows; call once after the last Add.
    void Finish();

private:
    using TDecoded = std::vector<corvane::mail::TDecodedMessage>;
    void AddTable(const std::string& folderFile, const TEmailArray& emails, const std::vector<std::size_t>& shown,
                  const TDecoded* decoded);
    void AddCsv(const std::string& folderFile, const TEmailArray& emails, const std::vector<std::size_t>& shown,
                const TDecoded* decoded);
    void AddJson(const std::string& folderFile, const TEmailArray& emails, const std::vector<std::size_t>& shown,
                 const TDecoded* decoded);
    void WriteTable();

    std::ostream& out_;
    TFormat format_;
    bool withFolder_;
    int width_;
    bool headingWritten_ = false;
    std::size_t jsonRows_ = 0;
    std::vector<std::vector<std::string>> tableRows_;  // the table's cells (UTF-8), heading first
};

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
