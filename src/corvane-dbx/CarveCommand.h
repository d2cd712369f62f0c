#pragma once
// corvane-dbx carve: folder files reconstructed from disk images (see
// carve/Carve.h), a summary table on standard output.

#include "corvane-dbx/CommandLine.h"

namespace corvane::cli {

// The help of the carve command.
extern const char* const kCarveHelp;

// Runs "carve" with its parsed options; returns the exit status. A stop
// (SIGINT, SIGTERM, SIGHUP, or the console's StopAt seam) ends it with
// 128 + the signal's number, the folder files written by then kept whole.
int RunCarve(const TOptions& options, TConsole& console);

}  // namespace corvane::cli
