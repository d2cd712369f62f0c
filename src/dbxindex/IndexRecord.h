#pragma once
// An indexed-information record: one per message in a mail folder file, one
// per folder in Folders.dbx. Layout:
//   +0x00 its own offset   +0x04 L, the length of its body (the record takes 12 + L bytes)
//   +0x0A one byte, k, the number of properties
//   +0x0C k property words of 4 bytes, sorted by property number; then the data area.
// A property word: the low 7 bits of its first byte are the property's
// number; with bit 7 set the other 3 bytes are the value itself (a 24-bit
// integer), with bit 7 clear they are an offset, counted from the end of the
// k words, to the value in the data area. Such a value runs to the next
// data-area offset of the record or to the end of the body.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbxindex/ByteSource.h"

namespace corvane::dbx {

inline constexpr std::uint32_t kRecordSelfOffset = 0x00;
inline constexpr std::uint32_t kRecordBodyLength = 0x04;
inline constexpr std::uint32_t kRecordPropertyCount = 0x0A;  // one byte
inline constexpr std::uint32_t kRecordHeaderSize = 0x0C;     // the body, and the property words, begin here
inline constexpr unsigned char kInlineValueBit = 0x80;
inline constexpr unsigned char kPropertyNumberMask = 0x7F;
// The longest body read: real records hold a few hundred bytes of header
// values; a longer length is a fault rather than a reason to read megabytes.
inline constexpr std::uint32_t kMaxRecordBody = 64 * 1024;

struct TProperty {
    unsigned Number = 0;
    bool Inline = false;
    std::uint32_t Value = 0;  // the 24-bit value (inline), else the offset into the data area
    // Where the value's bytes lie in the record's body (not inline).
    std::uint32_t DataStart = 0, DataLength = 0;
};

struct TIndexRecord {
    std::uint32_t Offset = 0;
    std::vector<TProperty> Properties;  // in the record's order
    std::string Body;                   // the record's body, which the properties' data lie in

    // A property's data-area bytes (empty for an inline one).
    std::string_view DataOf(const TProperty& property) const;
    const TProperty* Find(unsigned number) const;
    // The property as an integer: its inline value, or its data's first up to
    // four bytes little-endian; nullopt when missing.
    std::optional<std::uint32_t> Integer(unsigned number) const;
    // The property's data up to its first NUL; empty when missing or inline.
    std::string Text(unsigned number) const;
    // The property's data as a FILETIME (8 bytes); nullopt when missing or shorter.
    std::optional<std::uint64_t> FileTime(unsigned number) const;
};

struct TRecordRead {
    std::optional<TIndexRecord> Record;
    std::string Problem;  // why there is none
};

// The record at offset, checked: it must carry its own offset, fit the file,
// have k words that fit its body, data offsets inside the data area and
// property numbers in ascending order. A failing read: EInOutError.
TRecordRead ReadIndexRecord(const TByteSource& source, std::uint32_t offset);

// A FILETIME (100 ns ticks since 1601-01-01 UTC) as ISO 8601 UTC,
// "2004-05-06T07:08:09Z"; empty for 0 or a time past the year 9999.
std::string FileTimeToIso(std::uint64_t fileTime);
// The same as an e-mail header date, "Thu, 06 May 2004 07:08:09 +0000".
std::string FileTimeToMailDate(std::uint64_t fileTime);

}  // namespace corvane::dbx
