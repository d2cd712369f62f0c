#pragma once
// A store: a folder that holds the store's Folders.dbx beside the mail
// folder files it lists. Folders.dbx's index tree holds one record per
// folder (FolderProperties.h); its folders form a tree under the root
// "Outlook Express".
//
// A store is read without trusting it: a damaged Folders.dbx, a parent that
// does not exist or a loop of parents is told in Problem, and the folder
// files are then named by their own folder name or their file name. Mail
// folder files of the folder that Folders.dbx does not name are listed too,
// after those it names: no message the scan can find is left out because
// the list does not name its file.

#include <cstdint>
#include <string>
#include <vector>

#include "dbxindex/ByteSource.h"
#include "dbxindex/FolderProperties.h"

namespace corvane::dbx {

inline constexpr const char* kFolderListName = "Folders.dbx";

struct TStoreFolder {
    TFolderProperties Properties;  // for a file Folders.dbx does not name: its name and file name only
    std::vector<std::string> Path;  // the names from below the root down to this folder (ANSI code page)
    std::string FilePath;           // the folder file's full name; empty when it has none
    bool FileMissing = false;       // Folders.dbx names a file the folder does not hold
    bool Listed = true;             // named by Folders.dbx
};

struct TStore {
    std::string Folder;
    std::string FolderList;            // the full name of Folders.dbx
    std::vector<TStoreFolder> Folders;  // depth first, each folder's children in the list's order
    std::string Problem;               // why Folders.dbx could not be used whole; empty when it could
};

// The folders of a Folders.dbx, in tree order, with their paths; on a fault
// those read before it, and why in problem.
std::vector<TStoreFolder> ReadFolderList(const TByteSource& source, std::string& problem);

// The file of that name in folder, its letter case ignored (the names come
// from Windows); empty when there is none. A name with a path separator or
// ".." is none.
std::string FindInFolder(const std::string& folder, const std::string& name);

// Whether the folder holds a Folders.dbx.
bool IsStoreFolder(const std::string& folder);

// Reads the store in folder. Raises EFOpenError when Folders.dbx cannot be
// opened; a Folders.dbx that cannot be used is told in Problem.
TStore ReadStore(const std::string& folder);

// The path of names as one text, "Local Folders/Inbox".
std::string PathText(const std::vector<std::string>& path);

}  // namespace corvane::dbx
