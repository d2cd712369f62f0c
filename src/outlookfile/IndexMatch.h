#pragma once
// Records and the folder file's index: a record whose chain begins at the
// first block an index entry names carries that entry. Shared by the
// window's read (GetEmails) and the command line's (TChainRead), which give
// the same records.
//
// Two ways of using the index:
//  - by default the records are the scan's, as ever; each chain's first
//    record learns its entry, and with a usable index every other record is
//    marked as one it does not name;
//  - whole messages from the index: one record per entry, its text the
//    chain from the entry's first block; when the text holds no header
//    block the record is made from the entry (sender, receiver, subject,
//    date), so that no message the index names is left out.

#include <cstdint>
#include <string>

#include "Globals/Globals.h"
#include "dbxindex/MessageIndex.h"

class TIndexMatcher {
public:
    // index may be null: no index was read.
    explicit TIndexMatcher(const corvane::dbx::TMessageIndex* index);

    bool Usable() const { return usable_; }

    // The records [first, last) of one live chain found by the scan;
    // firstOpens: *first is the chain's first record.
    void Attach(TEmail* first, TEmail* last, std::uint32_t head, bool firstOpens) const;
    // Records the index does not name (deleted ones, chains no entry begins).
    void NotInIndex(TEmail* first, TEmail* last) const;
    // The records (none or one, from the whole-message parse) of the chain
    // that begins at head, chainBytes long, written to fileName: afterwards
    // exactly one record, the whole chain, carrying its entry.
    void WholeFromIndex(TEmailArray& records, std::uint32_t head, const std::string& fileName,
                        std::int64_t chainBytes) const;

private:
    corvane::dbx::TEntryLookup lookup_;
    bool usable_ = false;
};

// The entry's texts as header values are kept (a leading space):
// "Name <address>", the subject, the sent (else received) date as a mail date.
std::string IndexSender(const TIndexEntry& entry);
std::string IndexReceiver(const TIndexEntry& entry);
