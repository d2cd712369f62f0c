#pragma once
// Writing chosen records into one mbox file (the mboxrd variant), which mail
// programs open directly.
//
// For each record, in the order given:
//   "From <sender> <date>" LF      the separator line
//   the message text               [MessageStart, MessageEnd) of its file
//   LF                             an empty line
// The sender is the address of the record's From header ("MAILER-DAEMON" when
// it has none), the date its Date header in the asctime form in UTC (the time
// of the export when the header cannot be read as a date). In the message
// text every CR LF becomes LF; a CR that is not followed by LF is an ordinary
// byte and stays. A line that begins with zero or more '>' followed by "From "
// gets one more '>' in front, so that a reader finds no separator inside a
// message and takes exactly one '>' off again. A text whose last line has no
// line end gets one. A text with no empty line (its header block was never
// closed) gets the empty line that ends its headers before the empty line
// that ends the record, so that every reader counts it as one message. Nothing
// else of the message is changed.
//
// The mbox is written without a name where the system allows
// (fs::CreateUnnamedFile), else under a temporary name in the target's folder
// (CreateTemporaryFor) that the writer holds (TWriteFile::Hold), and it takes
// the target's name only when it is complete: a failure never leaves half an
// mbox under the chosen name, and an existing file of that name stays as it
// was until the new one is whole. A process that is killed leaves nothing of
// an unnamed file; a temporary file it leaves is removed by the next writer
// of the same target, once no process holds it (and it holds an mbox begun,
// or nothing: a file of the user's under such a name is never removed).

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Globals/Globals.h"

namespace corvane {
class TProgress;
}
namespace corvane::fs {
class TReadFile;
class TWriteFile;
}  // namespace corvane::fs
namespace corvane::read {
class TChainText;
}

namespace corvane::mail {

// Message text is read in pieces of at most this many bytes.
inline constexpr std::size_t kMboxReadChunk = std::size_t{4} << 20;

struct TMboxReport {
    std::size_t Written = 0;             // messages written
    std::uint64_t MessageBytes = 0;      // bytes of message text read
    std::uint64_t MboxBytes = 0;         // bytes of the mbox file
};

// Writes one mbox file message by message. Records can come from several
// reads, each added before the next read rewrites the message files.
//
//   TMboxWriter mbox(path);
//   for (...) mbox.Add(email);
//   mbox.Commit();
//
// The constructor creates the temporary file next to `mboxPath` (exclusively,
// never through a link) and raises EFCreateError naming the chosen file when
// the folder cannot take it. Add raises EFOpenError when a record's message
// file cannot be opened, EInOutError when a read or write fails, and
// ECorvaneError when the message file ends before MessageEnd. Commit
// completes the file and renames it over `mboxPath` (EFCreateError when it
// cannot be). After a failure the writer is only good for destroying: a
// writer destroyed without a successful Commit removes its temporary file
// and leaves `mboxPath` untouched.
class TMboxWriter {
public:
    // readChunk: the largest piece of message text read at once (smaller
    // pieces only to try the copy across piece boundaries).
    explicit TMboxWriter(const std::string& mboxPath, std::time_t exportTime = std::time(nullptr),
                         std::size_t readChunk = kMboxReadChunk);
    ~TMboxWriter();
    TMboxWriter(const TMboxWriter&) = delete;
    TMboxWriter& operator=(const TMboxWriter&) = delete;

    void Add(const TEmail& email);
    // The same with the record's message file already open (by the caller).
    void Add(const TEmail& email, const fs::TReadFile& messageFile);
    // The same with the text of the record's chain as a read holds it (no
    // message file): [MessageStart, MessageEnd) of text.
    void Add(const TEmail& email, const read::TChainText& text);
    // The records in the order given; null entries are skipped. The message
    // files are opened and read ahead on worker threads while the mbox is
    // written; errors are those of Add for the first record that fails.
    // Progress (may be null) hears of each record before it is added
    // (kMboxStage, done of all) and can stop there with ECancelled; the
    // writer is then good only for destroying, which leaves the target as
    // it was.
    void AddAll(const std::vector<const TEmail*>& emails, corvane::TProgress* progress = nullptr);
    TMboxReport Commit();

    // Where a long message text is also asked whether to stop (between its
    // pieces: ECancelled); null for nowhere. The records themselves are the
    // caller's to stop between.
    void SetProgress(corvane::TProgress* progress) { progress_ = progress; }

    // The name the file has while it is written; empty when it has none.
    const std::string& TemporaryPath() const { return tempPath_; }

private:
    class TTextPrefetch;

    void AddText(const TEmail& email, const char* text, std::size_t n);
    // The copy of one message text, fed in pieces.
    void BeginText();
    void PutText(const char* p, std::size_t n);
    void EndText();
    void PutLineEnd();
    void ReleaseHeld();
    void Put(const char* data, std::size_t n);
    void Put(char c) { Put(&c, 1); }
    void Flush();
    const fs::TReadFile& Source(const std::string& fileName);

    std::string mboxPath_;
    std::string tempPath_;
    std::time_t exportTime_;
    std::int64_t readChunk_;
    std::unique_ptr<fs::TWriteFile> out_;
    corvane::TProgress* progress_ = nullptr;
    std::unique_ptr<fs::TReadFile> source_;  // the last message file read, kept for the next record
    std::vector<char> in_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    TMboxReport report_;
    bool committed_ = false;
    // The state of the text copy between pieces.
    bool lineStart_ = true;
    bool pendingCR_ = false;
    std::size_t quotes_ = 0;
    std::size_t matched_ = 0;
    bool lineHasBytes_ = false;  // the line being copied is not empty
    bool headerClosed_ = false;  // an empty line was copied: the header block ended
};

// The whole mbox in one call: the records in the order given (null entries
// are skipped), as TMboxWriter's AddAll and Commit. An empty list gives an
// empty file. Errors as TMboxWriter's; a stop asked by progress raises
// ECancelled and leaves the target as it was.
TMboxReport WriteMbox(const std::vector<const TEmail*>& emails, const std::string& mboxPath,
                      std::time_t exportTime = std::time(nullptr), corvane::TProgress* progress = nullptr);
inline constexpr const char* kMboxStage = "Writing the mbox file";

// --- the pieces of the separator line ---------------------------------------

// The envelope sender of a From header value (raw bytes, leading space and
// all): the address in angle brackets, or else the bare address; comments and
// quoted display names are passed over. "MAILER-DAEMON" when there is none.
// White space and control bytes never appear in the result, so the separator
// line stays three fields.
std::string EnvelopeSender(std::string_view fromValue);

// An Internet message date (RFC 5322 with its obsolete forms: optional
// weekday, two- and three-digit years, missing seconds, the zones UT, GMT,
// EST/EDT, CST/CDT, MST/MDT, PST/PDT, military letters, comments anywhere) as
// seconds since 1970 in UTC. Military letters other than Z and unknown zone
// names count as +0000, as the standard advises, and so does a missing zone.
// Nothing when the text is no such date.
std::optional<std::time_t> ParseMessageDate(std::string_view value);

// A time in the asctime form in UTC: "Mon Jan  2 15:04:05 2006".
std::string AsctimeUtc(std::time_t t);

// The separator line of a record, with its LF.
std::string SeparatorLine(const TEmail& email, std::time_t exportTime);

}  // namespace corvane::mail
