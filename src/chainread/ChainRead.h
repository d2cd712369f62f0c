#pragma once
// Reading a folder file without message files: the records of GetEmails, each
// handed over with the text of its chain, which the read holds itself.
//
// GetEmails writes every chain into a message file of the user's temporary
// folder and its records name those files. The command line needs no such
// files: here each chain's text stays in memory (a chain longer than the
// memory limit goes into a scratch file of the read, which has no name and
// goes with the last record of the chain; a kill leaves nothing of it), and
// the records come out in item order with a handle on that text. The records
// are exactly GetEmails' for the same folder file and options, offsets
// included: each counts from the start of its chain, as in the message file
// GetEmails would write.
//
//   TChainRead read(path, options);      // opens the folder file
//   read.Run([](TFoundMessage& m) { ... }, progress);
//
// The scan and the chain walk run on a thread of the read's own, ahead of
// the consumer, which runs on the calling thread; at most about QueueBytes of
// chain text and records wait between them. A chain of very many messages
// hands its records on while it is walked (each with the text written so
// far, which holds its message), so the memory of a read is bounded by the
// queue and the memory limit, never by the number of records. A folder file
// cut while it is read ends the read with EFolderChanged.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "Globals/Globals.h"

namespace corvane {
class TProgress;
namespace fs {
class TReadFile;
}
}  // namespace corvane

namespace corvane::read {

// The text of one chain.
class TChainText {
public:
    virtual ~TChainText() = default;
    virtual std::int64_t Size() const = 0;
    // Whether the text is held in memory, and then the whole of it.
    virtual bool InMemory() const = 0;
    virtual std::string_view View() const = 0;
    // The private file that holds a longer text; null when in memory.
    virtual const fs::TReadFile* File() const = 0;

    // Hands [from, to) of the text (clamped to it) to put in order, in
    // pieces of at most pieceBytes.
    void Pieces(std::int64_t from, std::int64_t to, const std::function<void(const char*, std::size_t)>& put,
                std::size_t pieceBytes = std::size_t{4} << 20) const;
    // [from, to) of the text (clamped to it) as one string.
    std::string Copy(std::int64_t from, std::int64_t to) const;
};

// One record and its chain's text.
struct TFoundMessage {
    std::size_t Item = 0;  // the record's index: live records first, then deleted
    TEmail Email;          // FileName: the message file GetEmails would have written
    std::shared_ptr<const TChainText> Text;  // null when the read keeps no text
    // The folder-file offset of the first block of the record's chain: the
    // offsets of Email count from the start of that chain's text.
    std::int64_t ChainOffset = -1;
};

struct TChainReadOptions {
    bool IncludeDeleted = false;
    bool KeepText = true;                           // false: records only (a listing)
    // One record per live message, as GetEmails' option: from the folder
    // file's index when it is usable (see outlookfile/IndexMatch.h), else
    // one per live chain. Either way the records learn the index's entries.
    bool WholeMessages = false;
    // false: the folder file's index is not read unless WholeMessages needs
    // it, and the records' IndexState stays Unknown; for a caller that shows
    // nothing of it (holding the index's entries costs memory and time).
    bool ReadIndex = true;
    std::size_t MemoryLimit = std::size_t{64} << 20;  // longer chains go into a private file
    std::size_t QueueBytes = std::size_t{32} << 20;   // how much text may wait for the consumer
    // How much text the chain walk gathers before handing it on: more saves
    // a little time, less saves memory.
    std::size_t WalkBatch = std::size_t{32} << 20;
    // More records than this end the read with ETooManyRecords (0: any
    // number), for a caller that keeps them all.
    std::size_t RecordLimit = 0;
    // A test's seam: called once the blocks are found, before the chains
    // are walked (see Toutlookfile::SetAfterScan).
    std::function<void()> AfterScan;
    std::string FolderFile;  // set by the read: the file's name, for its errors
};

class TChainRead {
public:
    // Opens the folder file as GetEmails does (read only, no sharing);
    // raises EFOpenError when it cannot.
    TChainRead(const std::string& folderFile, const TChainReadOptions& options);
    ~TChainRead();
    TChainRead(const TChainRead&) = delete;
    TChainRead& operator=(const TChainRead&) = delete;

    // Hands every record to consumer on the calling thread, in item order,
    // and returns how many there were. Progress (may be null) is called from
    // the read's own thread, so it must be safe to call from another thread;
    // when it asks to stop, Run raises ECancelled. A failure of the read
    // (EInOutError, EFCreateError for a scratch file, EFolderChanged,
    // ETooManyRecords) or of the consumer
    // stops the read and is raised here. A reader runs once.
    std::size_t Run(const std::function<void(TFoundMessage&)>& consumer, TProgress* progress);

    // After Run: why WholeMessages could not take the live messages from the
    // folder file's index (they were then found by their header lines);
    // empty when it could or WholeMessages was not asked.
    const std::string& IndexProblem() const;

private:
    class TState;
    std::unique_ptr<TState> state_;
};

// The body stretch of a record as the preview shows it: [HeaderEnd,
// MessageEnd), or the whole message [MessageStart, MessageEnd) when no blank
// line closed its header block (HeaderEnd 0).
std::int64_t BodyStart(const TEmail& email);
// Where a record's header block ends: HeaderEnd, or the message's end when
// no blank line closed the block (HeaderEnd 0). [MessageStart, this) is what
// the header texts are decoded from.
std::int64_t HeaderBlockEnd(const TEmail& email);

}  // namespace corvane::read
