#pragma once
// What the folder file's index says of a record, in the list's CSV and JSON
// forms: the message's flags by name, its received date (ISO 8601 UTC), its
// Message-ID, and whether the index names it.

#include <string>

#include "Globals/Globals.h"

namespace corvane::cli {

// The CSV headings of the index's columns, each after a comma.
inline constexpr const char* kIndexCsvHeadings = ",Flags,Received,Message-ID,In Index";
// The record's index columns, each after a comma: flags as names separated
// by spaces, "yes"/"no" for In Index ("" when no index was read).
std::string IndexCsvFields(const TEmail& email);
// The record's index fields, each after ", ": "flags" (an array of names, or
// null without an entry), "received", "messageId" (null when not known),
// "inIndex" (true, false, or null when no index was read).
std::string IndexJsonFields(const TEmail& email);

}  // namespace corvane::cli
