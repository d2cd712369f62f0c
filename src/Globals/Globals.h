#pragma once
// Shared record and array types of the engine and the window.

#include <cstdint>
#include <string>
#include <vector>

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

    bool operator==(const TEmail&) const = default;
};

using TEmailArray = std::vector<TEmail>;

// Full names of the message files one chain assembly wrote, in creation order.
using TMessageFiles = std::vector<std::string>;
