#pragma once
// Byte-string searches: forward search by a bad-character skip table
// (Horspool), case-sensitive or ignoring case through UpperTable, plain
// backward scans, a character search and a byte copy.
//
// Texts and patterns are 8-bit strings in the ANSI code page with explicit
// lengths; nothing relies on a terminating zero. Positions count from 1 and a
// search that finds nothing gives 0. They may run on any thread at once. A
// forward search for a pattern longer than 64 bytes runs in time linear in the
// text (it allocates a table of the pattern's length); shorter ones allocate
// nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The upper-case form of every byte in the ANSI code page (the byte itself
// where the code page has none). Built once from corvane::ansi::UpperBuffer
// over the 256 bytes, before main runs; safe to read from any static
// initializer too, since the first read builds it if nothing has yet.
class TUpperTable {
public:
    unsigned char operator[](unsigned char b) const { return Data()[b]; }
    static constexpr std::size_t size() { return 256; }
    // The 256 entries, indexed by byte value.
    static const unsigned char* Data();
};
extern const TUpperTable UpperTable;

// How far a forward search moves on, indexed by the text byte under the
// pattern's last byte.
using TSkipTable = std::array<std::int32_t, 256>;

// The general search: picks one of the four searches below by the two flags.
// StartPos counts from 1 (for a backward search 0 means from the end).
// Raises ECorvaneError("BufferLen is 0") for an empty pattern when Forward.
int FindText(const std::string& Pattern, const std::string& Text, bool CaseSensitive, int StartPos, bool Forward);
// The same over any byte stretch, without copying it into a string; positions
// are 64-bit so texts beyond 2 GiB are searched whole.
std::int64_t FindText(std::string_view Pattern, std::string_view Text, bool CaseSensitive, std::int64_t StartPos,
                      bool Forward);

// 1-based position of the first occurrence that begins at or after StartPos
// (counted from the start of Text), or 0. Raises "BufferLen is 0" when
// PatternLen is 0. A StartPos below 1 is taken as 1.
std::int64_t FindForward(const char* Text, const char* Pattern, std::int64_t TextLen, std::int64_t PatternLen,
                         std::int64_t StartPos);
std::int64_t FindForwardIgnoreCase(const char* Text, const char* Pattern, std::int64_t TextLen,
                                   std::int64_t PatternLen, std::int64_t StartPos);

// 1-based position of the last occurrence that begins at or before StartPos;
// a StartPos of 0, or one at which the pattern no longer fits, starts at the
// last position where it fits. 0 when none, or when the pattern is empty or
// longer than the text (never raises).
std::int64_t FindBackward(const char* Text, const char* Pattern, std::int64_t TextLen, std::int64_t PatternLen,
                          std::int64_t StartPos);
std::int64_t FindBackwardIgnoreCase(const char* Text, const char* Pattern, std::int64_t TextLen,
                                    std::int64_t PatternLen, std::int64_t StartPos);

// Fills Table for the pattern: every entry PatternLen, then for each pattern
// byte but the last (in order) its distance to the last byte. The ignore-case
// form lowers the entries of the bytes' UpperTable forms. Raise
// ECorvaneError("BufferLen is 0") when PatternLen is 0.
void BuildSkipTable(const char* Pattern, std::int64_t PatternLen, TSkipTable& Table);
void BuildSkipTableIgnoreCase(const char* Pattern, std::int64_t PatternLen, TSkipTable& Table);

// The scan of one range [First, First + RangeLen): address of the first byte
// of the first match, or nullptr. A range shorter than the pattern gives
// nullptr at once. Table must come from the matching Build routine.
const char* SkipScan(const char* First, const char* Pattern, std::int64_t RangeLen, const TSkipTable& Table,
                     std::int64_t PatternLen);
const char* SkipScanIgnoreCase(const char* First, const char* Pattern, std::int64_t RangeLen,
                               const TSkipTable& Table, std::int64_t PatternLen);

// 1-based position of the first C at or after StartPos (exact byte compare),
// or 0; 0 also for an empty S or a StartPos past its end. A StartPos below 1
// is taken as 1.
int FindCharFrom(const std::string& S, char C, int StartPos);

// Copies N bytes one at a time, from the first to the last.
void CopyChars(const char* Source, char* Dest, std::size_t N);
