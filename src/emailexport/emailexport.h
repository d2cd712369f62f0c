#pragma once
// What both front ends do with the records of a folder file once it is read:
// read a message's body back for the preview and the keyword filter, choose
// the records the filter keeps, and export messages as .eml files, one file
// per message, byte for byte.
//
// The records name their message files (the recovered texts in the temporary
// folder) and the stretches in them; everything here reads those files with
// all sharing allowed and never changes them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Globals/Globals.h"
#include "maildecode/maildecode.h"
#include "platform/Files.h"

namespace corvane {
class TProgress;
}
namespace corvane::read {
class TChainText;
}

namespace corvane::mail {

// True when the path's extension is ".dbx" in any letter case. The extension
// runs from the last period on, when no folder separator ('\\' or '/') or
// drive colon follows it.
bool IsDbxPath(const std::string& path);

// The body stretch [HeaderEnd, MessageEnd) of the record's message file, read
// with one seek and one read: what the preview shows and the keyword filter
// searches. A record whose header block was never closed (HeaderEnd 0) gives
// its whole message text [MessageStart, MessageEnd) instead, never the
// stretch from the file's start, which holds the earlier messages of that
// file. Raises EFOpenError when the message file cannot be opened.
std::string ReadMessageBody(const TEmail& email);

// Whether the record's body stretch holds the keyword (ANSI bytes) in any
// letter case.
bool BodyHoldsKeyword(const TEmail& email, const std::string& keyword);

// The record's whole message text [MessageStart, MessageEnd), read with one
// seek and one read. Raises EFOpenError when the message file cannot be opened.
std::string ReadMessageText(const TEmail& email);

// The record's header block: its message text up to HeaderEnd (the whole
// text when no blank line closed the block).
std::string ReadHeaderText(const TEmail& email);

// The decoded header texts of every record, by index: DecodeHeaders of its
// ReadHeaderText. Each record is a read of its message file, so for a large
// list this is long work: progress (may be null) hears of every record
// (kDecodeStage) and can stop before the next one: ECancelled, nothing
// returned. Raises EFOpenError when a message file cannot be opened.
std::vector<TDecodedHeaders> DecodeRecordHeaders(const TEmailArray& emails, corvane::TProgress* progress = nullptr);
inline constexpr const char* kDecodeStage = "Decoding texts";

// The keyword of the filter in both forms: as the raw texts hold it (ANSI
// bytes) and as decoded texts hold it (UTF-8).
struct TKeyword {
    std::string Ansi;
    std::string Utf8;
};

// The keyword the user typed (UTF-8) in both forms. When the code page cannot
// hold it (its letters would become '?'), the raw bytes cannot hold it
// either: Ansi is then empty and only decoded texts are searched.
TKeyword MakeKeyword(const std::string& utf8);

// Whether the record's raw body stretch holds keyword.Ansi, or its decoded
// body holds keyword.Utf8, in any letter case: the filter over decoded texts.
bool RecordHoldsKeyword(const TEmail& email, const TKeyword& keyword);

// ShownRecords for decoded texts: with filterOn, the records for which
// RecordHoldsKeyword holds.
std::vector<std::size_t> ShownDecodedRecords(const TEmailArray& emails, bool filterOn, const TKeyword& keyword,
                                             corvane::TProgress* progress = nullptr);

// The rows of the filter by one rule for both front ends: every record
// without the filter; with it, the records whose raw body holds keyword.Ansi
// (when it is not empty) or, with decoded texts, whose decoded body holds
// keyword.Utf8. Progress and errors as ShownRecords.
std::vector<std::size_t> FilteredRecords(const TEmailArray& emails, bool filterOn, const TKeyword& keyword, bool decoded,
                                         corvane::TProgress* progress = nullptr);

// The indexes of the records the list shows, in index order: every record, or
// with a keyword (filterOn) those whose body holds it. Raises EFOpenError when
// a message file cannot be opened; then nothing is returned. With filterOn,
// progress (may be null) hears of every record searched (kFilterStage) and
// can stop the search before the next one: ECancelled, nothing returned.
std::vector<std::size_t> ShownRecords(const TEmailArray& emails, bool filterOn, const std::string& keyword,
                                      corvane::TProgress* progress = nullptr);
inline constexpr const char* kFilterStage = "Searching message bodies";

// Creates the first of the files nameOf(0), nameOf(1), ... nameOf(attempts - 1)
// whose name nothing holds yet, exclusively and never through a link; names
// taken, also meanwhile by another program, are passed over. Null when every
// name is taken; raises EFCreateError when a free name cannot be created.
std::unique_ptr<corvane::fs::TWriteFile> CreateUnusedFile(const std::function<std::string(int)>& nameOf,
                                                          int attempts,
                                                          corvane::fs::Readers readers = corvane::fs::Readers::Owner);

// Creates the temporary file an output is written under before it takes its
// name: target + ".part", or, when that name is taken (a file left by a run
// that was killed, or another run's), target + ".part-" and eight random hex
// digits. Created exclusively, never through a link, readable as the umask
// allows. Raises EFCreateError naming the target when the folder cannot take
// it or no free name was found.
std::unique_ptr<corvane::fs::TWriteFile> CreateTemporaryFor(const std::string& target);

// Names an unnamed file (fs::CreateUnnamedFile) with a free temporary name
// beside target (as CreateTemporaryFor names them), for a target whose name
// something holds already; gives that name. Raises EFCreateError naming the
// target.
std::string LinkUnderTemporaryName(corvane::fs::TWriteFile& file, const std::string& target);

// Writes a file that takes target's name only once it is whole: written with
// no name where the system allows (fs::CreateUnnamedFile) and linked under
// the free name, else under a temporary name beside target
// (CreateTemporaryFor) and renamed over it in one step. A file, a symbolic
// link or a hard link of that name is replaced, never written through, and
// stays as it was until the new file is whole. A failure to create, write,
// close or name is returned as its text (empty on success) and leaves no
// file behind; any other error raised by write (a message file that cannot
// be read) leaves nothing either and leaves here.
std::string WriteWholeFile(const std::string& target, const std::function<void(corvane::fs::TWriteFile&)>& write);

// Whether an output written to target would replace a folder file: target is
// one of the folder files (the same file on the disk, also under another name
// or through a link), or it exists and its name ends in ".dbx" in any letter
// case, or it begins with a folder file's signature. Gives the reason as a
// text, empty when target is free to be replaced.
std::string FolderFileInTheWay(const std::string& target, const std::vector<std::string>& folderFiles);

// The writeability test of an export folder: creates a probe file "check.DAT"
// (or "check1.DAT", "check2.DAT", ... when that name is taken) exclusively and
// removes it again. A file of the user's is never opened, whatever its name.
bool FolderIsWriteable(const std::string& folder);

// The export file of the list row at position: folder + separator +
// "RecoveredEmail" + position in decimal + ".eml". The separator is appended
// as it stands, so a drive root's doubles.
std::string ExportFileName(const std::string& folder, std::size_t position);

// One message to export: the row's position (which names the file) and its
// record; a null record stands for a row that names no message.
struct TExportItem {
    std::size_t Position = 0;
    const TEmail* Email = nullptr;
};

// What an export did: how many messages it went through (all it was given,
// unless it was cancelled), how many files could not be written, and their
// texts in order.
struct TExportReport {
    std::size_t Chosen = 0;
    std::vector<std::string> Failures;
    bool Cancelled = false;  // stopped by its progress before every message was written
    std::size_t Failed() const { return Failures.size(); }
    std::size_t Written() const { return Chosen - Failed(); }
};

// Copies [MessageStart, MessageEnd) of the record's message file into target
// (as WriteWholeFile writes it: a file of that name is replaced once the copy
// is whole), with no byte converted, added or dropped. The message file is opened first: when it cannot be, EFOpenError
// leaves here and no target file is made; a failed read of it is raised as
// EInOutError. A target that cannot be created or written is returned as its
// failure text (empty on success). buffer is reused across calls.
std::string CopyMessage(const TEmail& email, const std::string& target, std::vector<char>& buffer);

// Writes each item's message to ExportFileName(folder, item.Position), in the
// given order, after the caller's FolderIsWriteable test. Files that cannot be
// written are reported and the export goes on; a message file that cannot be
// opened or read ends it with the error (files written before it remain).
// Progress (may be null) hears of each message before it is written
// (kExportStage, done of all) and can stop the export there: the files written
// so far stay, each one whole, and the report says Cancelled.
TExportReport ExportEmails(const std::vector<TExportItem>& items, const std::string& folder,
                           corvane::TProgress* progress = nullptr);
inline constexpr const char* kExportStage = "Exporting messages";

// Writes [from, to) of a text held by a read (a chain's text) into target as
// CopyMessage does, with the same failure texts; empty on success. A stop
// asked by progress (may be null; asked between pieces of a long text)
// raises ECancelled and leaves no file.
std::string WriteMessage(const corvane::read::TChainText& text, std::int64_t from, std::int64_t to,
                         const std::string& target, corvane::TProgress* progress = nullptr);

// Writes export files on several threads. Add queues one file (a stretch of
// a chain's text, kept alive until it is written) and returns at once unless
// too much text waits already; Finish waits for every file and gives the
// failure texts in the order the files were added. Which thread writes which
// file changes nothing in the files.
//
// Progress (may be null) hears from the writing threads of each file written
// (kExportStage, files written of files added) and is asked after each one,
// and between the pieces of a long one, whether to stop. Once it says so, or
// Cancel is called, the writing stops within the file each thread is at:
// files not yet begun are dropped, a file begun is left out whole (nothing
// under its name), Add queues nothing more, and Finish returns with
// Cancelled() true. Every file written is whole.
class TExportWriters {
public:
    // threads: 0 for as many as the machine has cores, at least 2.
    explicit TExportWriters(std::size_t threads = 0, corvane::TProgress* progress = nullptr);
    ~TExportWriters();  // waits for the files queued (or, once cancelled, being written)
    TExportWriters(const TExportWriters&) = delete;
    TExportWriters& operator=(const TExportWriters&) = delete;

    void Add(std::string target, std::shared_ptr<const corvane::read::TChainText> text, std::int64_t from,
             std::int64_t to);
    std::vector<std::string> Finish();
    // Stops the writing as a stop of progress does.
    void Cancel();
    bool Cancelled() const;

private:
    class TState;
    std::unique_ptr<TState> state_;
};

}  // namespace corvane::mail
