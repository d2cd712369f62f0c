#pragma once
// The header parser: reads temporary message files line by line (a line ends
// with CR LF), finds the header blocks in them and yields one TEmail summary
// per block. Header values are kept as the raw bytes of their line.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Globals/Globals.h"

namespace corvane {
class TProgress;
}

// One split header line.
struct TRPCField {
    std::uint8_t Valid = 0;  // 1: a well-formed header line
    std::string Name;        // the bytes before the first colon, case kept
    std::string Value;       // from the space after the colon up to the final CR LF
    bool operator==(const TRPCField&) const = default;
};

// The summaries of every header block of every file, in list order and within
// a file in order of appearance; Deleted is stored in each record. Raises
// EFOpenError (full path and the system's explanation) for a file that cannot
// be opened; then nothing is returned. Reads each file once through one
// buffer: memory is bounded by the records, one header value and that buffer.
// WholeMessages: each file holds one message (see TMessageParser).
// Progress (may be null) hears of each piece read (kParseStage, files done of
// all) and can stop the parse there: ECancelled, nothing returned.
TEmailArray ParseMessageFiles(const TMessageFiles& Files, bool Deleted, bool WholeMessages = false,
                              corvane::TProgress* Progress = nullptr);
inline constexpr const char* kParseStage = "Reading message files";

// The parse of ParseMessageFiles for message text that is in memory, as the
// folder reader has it while it writes the message files: each file's bytes
// are fed in order, in pieces of any size (empty ones included), between
// BeginFile and EndFile. Take gives exactly the records ParseMessageFiles gives
// for the same files holding the same bytes; memory is bounded as there.
//
// WholeMessages: each file is taken to hold one message, as a live chain
// does, and gives one record at most: From, To, Subject and Date of the
// file's first header block as found above, HeaderEnd where that block ends,
// MessageEnd the end of the file (bytes after its last CR LF included), and
// MessageStart where the header lines around the block's first recognised
// line begin (lines such as "MIME-Version: 1.0" or "X-UIDL: ..." that come
// first, with their folded continuations, belong to the message). Header
// blocks further on (a forwarded message, a bounce's returned headers, a
// quoted header block) are part of the message's text. A file in which no
// header block is found gives no record either way.
class TMessageParser {
public:
    explicit TMessageParser(bool Deleted, bool WholeMessages = false);
    ~TMessageParser();
    TMessageParser(const TMessageParser&) = delete;
    TMessageParser& operator=(const TMessageParser&) = delete;

    // Starts a file: FileName goes into its records; both flags cleared.
    void BeginFile(const std::string& FileName);
    // The file's next bytes.
    void Feed(const char* Data, std::size_t Size);
    // Ends the file: bytes after its last CR LF are no line; its last record
    // is closed.
    void EndFile();
    // The records of every file so far, in order; the parser is left empty.
    TEmailArray Take();
    // The records so far whose message has ended (a later record began, or
    // its file ended), in order; the record still open stays. Taken in turns
    // with Take, the records come out as Take alone gives them: a long file
    // need not keep all its records until its end.
    TEmailArray TakeClosed();
    // How many records the parser holds.
    std::size_t Held() const;
    // Room for this many records, so that a long read never moves the records
    // it has while it runs: moving a hundred thousand of them at once holds
    // the caller (and a window waiting on it) for tens of milliseconds.
    void Reserve(std::size_t Records);

private:
    class TState;
    std::unique_ptr<TState> state_;
};

// Offset of the CR of the first CR LF that begins at or after StartOffset in
// the named file, or -1 when there is none before its end. Opens the file with
// a handle of its own (all sharing allowed); raises EFOpenError when it cannot.
std::int64_t FindLineEnd(const std::string& FileName, std::int64_t StartOffset);

// Splits one whole line (with its final CR LF). Well-formed: a colon after at
// least one byte, every byte before it in 0x21..0x7E, a space right after it.
TRPCField SplitHeaderLine(const std::string& Line);

// Whether the field's name, upper-cased, is one of the ten names that open a
// header block: RETURN-PATH, REPLY-TO, ENVELOPE-TO, DELIVERY-DATE, RECEIVED,
// MESSAGE-ID, FROM, TO, SUBJECT, DATE.
bool IsKnownHeader(const TRPCField& Field);

// Whether the line holds "----- Original Message -----" (exact case).
bool HasQuoteMarker(const std::string& Line);

// Email with Field's value stored in From, To, Subject or Date as the field's
// name (any case) selects; any other name leaves it unchanged.
TEmail StoreSummaryField(const TRPCField& Field, TEmail Email);
