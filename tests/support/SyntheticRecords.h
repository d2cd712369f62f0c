#pragma once
// Summary records made up in memory, for measuring the message list without
// reading a folder file: every record names the same message file.

#include <string>

#include "Globals/Globals.h"

namespace corvane::testsupport {

// `count` records with header texts of everyday length, all different; every
// fifth one marked deleted. Each names `fileName` and its bytes [0, messageEnd),
// the header block ending at headerEnd.
TEmailArray SyntheticRecords(int count, const std::string& fileName, std::int64_t headerEnd = 0,
                             std::int64_t messageEnd = 0);

// Writes a small message to `path` and returns records over it as above.
TEmailArray SyntheticRecordsOverOneMessage(int count, const std::string& path);

}  // namespace corvane::testsupport
