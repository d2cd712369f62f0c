#pragma once
// The properties of a message's indexed-information record in a mail folder
// file, by number, and the record read into a TIndexEntry. Any property may
// be missing.

#include <cstdint>
#include <string>
#include <vector>

#include "Globals/Globals.h"
#include "dbxindex/IndexRecord.h"

namespace corvane::dbx {

namespace msgprop {
inline constexpr unsigned kRecordNumber = 0x00;
inline constexpr unsigned kFlags = 0x01;
inline constexpr unsigned kSent = 0x02;        // sent or created: a FILETIME
inline constexpr unsigned kFirstBlock = 0x04;  // offset of the message text's first block
inline constexpr unsigned kBareSubject = 0x05;  // without its "Re:" or "Fw:"
inline constexpr unsigned kSaved = 0x06;       // when it was saved in the folder
inline constexpr unsigned kMessageId = 0x07;
inline constexpr unsigned kSubject = 0x08;
inline constexpr unsigned kReplyToId = 0x0A;   // the Message-ID it replies to
inline constexpr unsigned kSenderName = 0x0D;
inline constexpr unsigned kSenderAddress = 0x0E;
inline constexpr unsigned kPriority = 0x10;    // 1 high, 3 normal, 5 low
inline constexpr unsigned kTextLength = 0x11;
inline constexpr unsigned kReceived = 0x12;
inline constexpr unsigned kReceiverName = 0x13;
inline constexpr unsigned kReceiverAddress = 0x14;
inline constexpr unsigned kAccountName = 0x1A;
inline constexpr unsigned kAccountKey = 0x1B;
}  // namespace msgprop

// The bits of the flags property, and the names the command line gives them.
struct TFlagName {
    std::uint32_t Bit;
    const char* Name;
};
inline constexpr TFlagName kMessageFlags[] = {
    {0x80, "read"},           {0x4000, "attachment"},      {0x80000, "answered"},
    {0x100000, "forwarded"},  {0x08, "draft"},             {0x20, "marked"},
    {0x1000, "signed"},       {0x400000, "watched"},       {0x800000, "ignored"},
};
inline constexpr std::uint32_t kFlagRead = 0x80;
inline constexpr std::uint32_t kFlagAttachment = 0x4000;
inline constexpr std::uint32_t kFlagAnswered = 0x80000;
inline constexpr std::uint32_t kFlagForwarded = 0x100000;

// The names of the flags set, in the order of kMessageFlags.
std::vector<std::string> FlagNames(std::uint32_t flags);

// The record's message properties.
TIndexEntry MessageEntry(const TIndexRecord& record);

}  // namespace corvane::dbx
