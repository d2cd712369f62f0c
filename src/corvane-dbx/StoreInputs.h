#pragma once
// Store folders on the command line: a folder that holds Folders.dbx stands
// for its mail folder files, each named by its path of folder names; the
// folders command lists them; export names its sub-folders and mbox files
// after the paths, made safe for the file system.

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"

namespace corvane::cli {

struct TExpandedInputs {
    std::vector<std::string> Paths;  // the folder files, store folders replaced by theirs
    // The folder files that came from a store: their path of names (UTF-8).
    std::map<std::string, std::vector<std::string>> Names;
    std::vector<std::string> Warnings;  // what a store lacks, as sentences
    std::string Error;                  // --folder names no folder of any store given
};

// Replaces each store folder among paths by its folder files (the folders
// Folders.dbx names, depth first, then the files it does not name); with
// storeFolder, only the folder of that path of names. Other paths stay.
TExpandedInputs ExpandStores(const std::vector<std::string>& paths, const std::string& storeFolder);

// A folder name as a file name: characters no file system takes (control
// characters, < > : " / \ | ? *) become _, trailing dots and spaces go,
// reserved device names (CON, NUL, COM1, ...) get a _ in front, and the
// name is cut to at most 120 bytes; never empty, never "." or "..".
std::string SafeFileName(const std::string& utf8Name);

// The folders command: the folders of each store folder, as the options'
// format says; returns the exit status.
int ListStoreFolders(const TOptions& options, TConsole& console);

}  // namespace corvane::cli
