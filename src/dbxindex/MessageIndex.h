#pragma once
// A mail folder file's index read whole: its header, the tree, and one entry
// per message record the tree reaches, in tree order. Only what the tree
// reaches is the index: freed records left in the file are never looked for.
//
// Nothing here throws for any bytes; what the index lacks is told in
// Problem, and what was found before the fault is kept (Entries), so that
// records can still learn from a damaged index. A failing system read
// raises EInOutError.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Globals/Globals.h"
#include "dbxindex/ByteSource.h"
#include "dbxindex/DbxFileHeader.h"

namespace corvane::dbx {

struct TMessageIndex {
    TDbxFileHeader Header;
    // Every record read, in tree order; on a fault those found before it.
    std::vector<std::shared_ptr<const TIndexEntry>> Entries;
    // The whole index was read: the tree complete and every record sound.
    bool Usable = false;
    // Why it is not usable, as a sentence's end: "the folder file has no
    // index", "the node at 0x2A00 is reached twice ...".
    std::string Problem;
};

TMessageIndex ReadMessageIndex(const TByteSource& source);

// The entries by the offset of their message's first block, for records
// whose chain begins there. Two entries naming the same block: the first
// in tree order is kept.
class TEntryLookup {
public:
    explicit TEntryLookup(const TMessageIndex& index);
    // Null when no entry names that block.
    const std::shared_ptr<const TIndexEntry>* Find(std::uint32_t firstBlock) const;
    bool Empty() const { return keys_.empty(); }

private:
    // The first blocks in ascending order and, beside them, the entry of
    // each: small keys apart from the entries, so that a search touches
    // little memory (there is one search per chain of the file).
    std::vector<std::uint32_t> keys_;
    std::vector<std::shared_ptr<const TIndexEntry>> entries_;
};

}  // namespace corvane::dbx
