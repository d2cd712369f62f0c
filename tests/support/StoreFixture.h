#pragma once
// Store folders for tests and benchmarks: a Folders.dbx whose index tree holds
// one record per folder (0x00 id, 0x01 parent id, 0x02 name, 0x03 file name,
// 0x07 messages, 0x08 unread, 0x09 special kind, 0x0A kind), beside mail
// folder files whose own index names each message (0x04 its first block).

#include <cstdint>
#include <string>
#include <vector>

#include "support/DbxFixture.h"

namespace corvane::testsupport {

struct TFolderFixture {
    std::uint32_t id = 0;
    std::uint32_t parent = 0xFFFFFFFF;  // the root's
    std::string name;
    std::string file;        // the folder file's name; empty: none
    std::string ownName;     // the name in the file's own file information; empty: name
    std::vector<std::string> texts;  // its messages
    std::uint32_t unread = 0;
    unsigned special = 0;
    bool writeFile = true;   // false: Folders.dbx names a file that is not there
};

// The Folders.dbx record of a folder.
std::vector<TRecordProperty> FolderRecord(const TFolderFixture& folder);

// A mail folder file holding the texts, each with an index record (flags
// read, a received date, a Message-ID "<n@fixture>"), the tree at 0xE4.
TDbxWriter IndexedFolderFile(const std::vector<std::string>& texts, const std::string& ownName = "Inbox",
                             std::uint64_t seed = 1);

// Writes Folders.dbx (the root "Outlook Express", id 0, first) and the
// folder files into folder.
void WriteStore(const std::string& folder, const std::vector<TFolderFixture>& folders);

// A message text with the usual header lines.
std::string PlainMessage(const std::string& from, const std::string& subject, const std::string& body);

}  // namespace corvane::testsupport
