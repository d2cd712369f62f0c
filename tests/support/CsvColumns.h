#pragma once
// CSV (RFC 4180) read back into records of fields, and written again without
// some columns: the tests of the columns a list always had compare them
// alone, the tests of the others theirs.

#include <algorithm>
#include <string>
#include <vector>

#include "corvane-dbx/ListFormats.h"

namespace corvane::testsupport {

// The records of CSV text, CRLF or LF line ends; quoted fields may hold
// commas, quotes (doubled) and line ends.
inline std::vector<std::vector<std::string>> CsvRecords(const std::string& csv) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (quoted) {
            if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') field += csv[++i];
            else if (c == '"') quoted = false;
            else field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
            continue;
        } else if (c == '\n') {
            record.push_back(field);
            records.push_back(record);
            record.clear();
            field.clear();
        } else {
            field += c;

        }
    }
    if (!field.empty() || !record.empty()) {
        record.push_back(field);
        records.push_back(record);
    }
    return records;
}

// The CSV text again, CRLF line ends, without the columns of those headings.
inline std::string CsvWithout(const std::string& csv, const std::vector<std::string>& headings) {
    const auto records = CsvRecords(csv);
    if (records.empty()) return {};
    std::vector<bool> keep;
    for (const std::string& h : records.front())
        keep.push_back(std::find(headings.begin(), headings.end(), h) == headings.end());
    std::string out;
    for (const auto& record : records) {
        std::string line;
        for (std::size_t c = 0; c < record.size(); ++c)
            if (c >= keep.size() || keep[c]) line += corvane::cli::CsvField(record[c]) + ',';
        if (!line.empty()) line.pop_back();
        out += line + "\r\n";
    }
    return out;
}

// The columns a list gained beside the six of the window's list.
inline const std::vector<std::string> kCsvPlaceColumns = {"Date ISO",   "Chain Offset", "Message Start",
                                                          "Header End", "Message End",  "SHA-1"};

}  // namespace corvane::testsupport
