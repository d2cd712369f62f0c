#pragma once
// Shared record and array types of the engine and the window.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the folder file's own index says about a message (its indexed
// information record), as text where it is text. Strings are the record's
// bytes (ANSI code page); dates FILETIMEs (100 ns ticks since 1601-01-01
// UTC), 0 when the record has none.
struct TIndexEntry {
    std::uint32_t FirstBlock = 0;  // offset of the message text's first block; 0: none given
    bool HasFlags = false;
    std::uint32_t Flags = 0;
    std::uint64_t SentTime = 0, SavedTime = 0, ReceivedTime = 0;
    std::string MessageId, ReplyToId;
    int Priority = 0;  // 1 high, 3 normal, 5 low; 0 not given
    std::string Account;
    std::string Subject, SenderName, SenderAddress, ReceiverName, ReceiverAddress;
    bool operator==(const TIndexEntry&) const = default;
};

// A record's index entry, shared (many records of one read may be looked at
// while the entry is held once) and compared by value.
struct TIndexLink {
    std::shared_ptr<const TIndexEntry> Entry;
    const TIndexEntry* operator->() const { return Entry.get(); }
    explicit operator bool() const { return Entry != nullptr; }
    bool operator==(const TIndexLink& o) const {
        return Entry == o.Entry || (Entry && o.Entry && *Entry == *o.Entry);
    }
};

// Whether a record is known to the folder file's index.
enum class TIndexState : std::uint8_t {
    Unknown = 0,   // no index was read (none, or it could not be used)
    InIndex = 1,   // Index holds the entry whose first block begins the record's chain
    NotInIndex = 2,  // the index was read and names no message for it
};

// Summary of one message found in a temporary message file. Header values are
// the raw 8-bit bytes of their line (ANSI code page), leading space included.
// The message is the byte stretch [MessageStart, MessageEnd) of FileName; its
// body the stretch [HeaderEnd, MessageEnd). HeaderEnd is 0 when no blank line
// closed the header block.
struct TEmail {
    std::string FileName;
    std::uint8_t Deleted = 0;  // 1: recovered from deleted blocks
    std::string From;
    std::string To;
    std::string Subject;
    std::string Date;
    std::int64_t MessageStart = 0;
    std::int64_t HeaderEnd = 0;
    std::int64_t MessageEnd = 0;
    TIndexState IndexState = TIndexState::Unknown;
    TIndexLink Index = {};  // set when IndexState is InIndex

    bool operator==(const TEmail&) const = default;
};

using TEmailArray = std::vector<TEmail>;

// Full names of the message files one chain assembly wrote, in creation order.
using TMessageFiles = std::vector<std::string>;
