#pragma once
// The folder reader: finds the message blocks of an Outlook Express folder
// file (.dbx), live and deleted, and chains them. GetEmails, the window's
// read, writes each chain's text into a message file of its own in the
// user's temporary folder and hands it to the header parser; WalkChains hands
// the chains' texts to any other sink instead (the command line keeps them in
// memory and writes no message files).
//
// The folder file is only ever read. A reader serves one read: create it,
// call GetEmails (or OpenFolder, the scans and WalkChains), destroy it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Globals/Globals.h"
#include "platform/Errors.h"
#include "platform/Memory.h"

namespace corvane {
class TProgress;
namespace fs {
class TReadFile;
}
}  // namespace corvane
class TMessageParser;
namespace corvane::dbx {
struct TMessageIndex;
}

// The first four bytes of every Outlook Express folder file (the start of
// its 16-byte file header signature). The scan does not need them, since it
// finds the blocks wherever they lie, but they tell a folder file from other
// files.
inline constexpr unsigned char kFolderFileSignature[4] = {0xCF, 0xAD, 0x12, 0xFE};

// A folder file that changed while it was read: "<path>" changed while it
// was read.
class EFolderChanged : public ECorvaneError {
public:
    explicit EFolderChanged(const std::string& path) : ECorvaneError("\"" + path + "\" changed while it was read.") {}
};

// A folder file that gives more records than the reader was told to take
// (Toutlookfile::SetRecordLimit, TChainReadOptions::RecordLimit).
class ETooManyRecords : public ECorvaneError {
public:
    ETooManyRecords(const std::string& path, std::size_t limit)
        : ECorvaneError("\"" + path + "\" holds more than " + std::to_string(limit) +
                        " messages, more than a list here can hold. The command line (corvane-dbx) lists and "
                        "exports any number of them."),
          limit_(limit) {}
    std::size_t Limit() const { return limit_; }

private:
    std::size_t limit_;
};

// The most records a reader whose caller keeps them all (the window's list)
// should take: about a kibibyte each, record and list row, so at most about
// 2 GiB. Larger folder files are for the command line, whose memory does not
// grow with the records.
inline constexpr std::size_t kListRecordLimit = 2'000'000;

// Whether the file of that name begins with kFolderFileSignature; false
// when it is shorter or cannot be read.
bool BeginsWithFolderFileSignature(const std::string& path);

// Where the chain walk hands the chains: each chain's text in chain order, in
// one or more pieces (a chain that fits a write batch in one), between
// BeginChain, which is told the length of the whole text, and EndChain.
// Chains come one at a time, in the order of the message files GetEmails
// names (msg1.tmp, msg2.tmp, ...).
class TChainSink {
public:
    virtual ~TChainSink() = default;
    // The offset of the chain's first block, told just before BeginChain.
    virtual void ChainStart(std::uint32_t FirstBlock) { static_cast<void>(FirstBlock); }
    virtual void BeginChain(std::size_t Bytes) = 0;
    virtual void ChainText(const char* Data, std::size_t Size) = 0;
    virtual void EndChain() = 0;
};

// A live block: own offset, body size 512, data length, next offset, 512 bytes
// of text.
struct TMessagePart {
    std::uint32_t Offset = 0;      // the block's position (its self offset)
    std::uint16_t DataLength = 0;  // low 16 bits of the header's data length
    std::uint32_t NextOffset = 0;  // position of the block that continues the text
    std::uint8_t Visited = 0;      // set to 1 once the block's text is written
    bool operator==(const TMessagePart&) const = default;
};

// A deleted block: own offset, body size 508, a field not read, next offset,
// previous offset, 508 bytes of text.
struct TDelMessagePart {
    std::uint32_t Offset = 0;
    std::uint16_t DataLength = 0;  // always 508: the whole body is text
    std::uint32_t PrevOffset = 0;  // header field at block position 16
    std::uint32_t NextOffset = 0;  // header field at block position 12
    std::uint8_t Visited = 0;
    bool operator==(const TDelMessagePart&) const = default;
};

using TMessagePartArray = std::vector<TMessagePart>;        // in file order
using TDelMessagePartArray = std::vector<TDelMessagePart>;  // in file order
using TBuffer = std::vector<std::uint8_t>;                  // one block's body as read

class Toutlookfile {
public:
    Toutlookfile();
    ~Toutlookfile();
    Toutlookfile(const Toutlookfile&) = delete;
    Toutlookfile& operator=(const Toutlookfile&) = delete;

    // Reads one folder file: the live blocks are scanned, chained into
    // msg<n>.tmp and parsed; then, with IncludeDeleted, the deleted blocks into
    // delmsg<n>.tmp. The files are written on a thread of the reader's own, one
    // at a time, while the walk goes on. The text is parsed as it is written,
    // not read back; the records are those ParseMessageFiles gives for the
    // files written.
    // Returns the live summaries followed by the deleted ones.
    // Raises EFOpenError when the folder file cannot be opened and EFCreateError
    // when a message file cannot be created. The folder file is closed on every
    // way out. Progress (may be null) is told how far the read has come and
    // can stop it (ECancelled; the message files written so far stay).
    // WholeMessages: each live message file gives one record at most, the
    // whole message (TMessageParser's WholeMessages); the deleted message
    // files, which may hold pieces of several messages, are parsed as always.
    TEmailArray GetEmails(const std::string& FileName, bool IncludeDeleted, corvane::TProgress* Progress = nullptr,
                          bool WholeMessages = false);

    // Where the scans and the chain walk report how far they have come, and
    // whether to stop (ECancelled); null for none.
    void SetProgress(corvane::TProgress* Progress) { progress_ = Progress; }

    // The scanner and the assembly work on the folder file GetEmails holds
    // open. OpenFolder/CloseFolder give them a file outside GetEmails (the same
    // read-only open); without an open file the scans find nothing and the
    // reads give spaces.
    void OpenFolder(const std::string& FileName);
    void CloseFolder();

    // Every live (body size 512) or deleted (body size 508) block in the file,
    // in file order.
    TMessagePartArray ScanMessageParts();
    TDelMessagePartArray ScanDelMessageParts();
    // Both at once, in one pass over the file: the same blocks as the two
    // scans above. A null DelParts: the live blocks alone.
    void ScanAllParts(TMessagePartArray& Parts, TDelMessagePartArray* DelParts);

    // GetEmails raises ETooManyRecords once the folder file gives more than
    // this many records (0, the default: no limit), having held no more
    // than about that many.
    void SetRecordLimit(std::size_t Records) { recordLimit_ = Records; }

    // A test's seam: called after every scan, before the chains are walked
    // (a test changes the folder file there).
    void SetAfterScan(std::function<void()> Hook) { afterScan_ = std::move(Hook); }

    // A block's text: DataLength characters from the first body byte on, bytes
    // past the end of the file as spaces, NUL bytes as spaces.
    std::string ReadMessagePart(const TMessagePart& Part);
    std::string ReadDelMessagePart(const TDelMessagePart& Part);

    // The bytes as text, each NUL byte turned into a space.
    static std::string BufferToText(const TBuffer& Buffer);

    // Chains the blocks into message files (every block written exactly once)
    // and returns their names in creation order; sets each block's Visited.
    // The deleted kind writes "[??]" before each block's text.
    TMessageFiles BuildMessageFiles(TMessagePartArray& Parts);
    TMessageFiles BuildDelMessageFiles(TDelMessagePartArray& Parts);
    // The same, handing each file's text to Parser as it is written
    // (BeginFile, the text in one or more pieces, EndFile).
    TMessageFiles BuildMessageFiles(TMessagePartArray& Parts, TMessageParser& Parser);
    TMessageFiles BuildDelMessageFiles(TDelMessagePartArray& Parts, TMessageParser& Parser);

    // Chains the blocks as BuildMessageFiles does, handing each chain's text
    // to Sink instead of a message file; sets each block's Visited. The
    // deleted kind puts "[??]" before each block's text.
    //
    // A read that comes back shorter than the last scan saw the file (it was
    // cut meanwhile) raises EFolderChanged (here and in the message-file
    // walks and GetEmails): the texts would hold spaces where the file had
    // text. A block past the end of a file that stayed as it was still reads
    // as spaces.
    void WalkChains(TMessagePartArray& Parts, TChainSink& Sink);
    void WalkChains(TDelMessagePartArray& Parts, TChainSink& Sink);
    // The chains that begin at the given first blocks (the index's), one
    // per first block that is a live block, in that order, each followed by
    // its blocks' next offsets; sets Visited on the blocks handed on. A
    // first block that is no live block gives no chain.
    void WalkChainsFrom(TMessagePartArray& Parts, const std::vector<std::uint32_t>& FirstBlocks, TChainSink& Sink);

    // The index of the open folder file (dbxindex/MessageIndex.h); an index
    // that cannot be read says why. No file open: "no folder file is open".
    corvane::dbx::TMessageIndex ReadIndex() const;
    // ReadIndex on a thread of its own (or, when none can be started, when
    // the result is asked for), so that it runs beside the scan of the same
    // open file (positional reads do not meet). The file must stay open
    // until the result is taken.
    std::future<corvane::dbx::TMessageIndex> ReadIndexAside() const;
    // Why the last GetEmails with WholeMessages could not take the messages
    // from the index (it then found them by their header lines, as without
    // an index); empty when it could, or when WholeMessages was not asked.
    const std::string& IndexProblem() const { return indexProblem_; }

    // How many text bytes are collected before they are written out. A chain
    // that fits is written with one call; a longer one in several, its file
    // kept open. Small values serve tests that cut chains across batches.
    static constexpr std::size_t DefaultWriteBatch = std::size_t{32} << 20;
    void SetWriteBatch(std::size_t Bytes);

    // The folder the message files go into, ending with a separator.
    static std::string GetTempFolder();

private:
    TMessageFiles BuildLive(TMessagePartArray& Parts, TMessageParser* Parser);
    TMessageFiles BuildDeleted(TDelMessagePartArray& Parts, TMessageParser* Parser);
    TEmailArray ReadChains(bool IncludeDeleted, bool WholeMessages);  // GetEmails' scans and walks
    void Scanned(std::int64_t Bytes);

    std::size_t recordLimit_ = 0;
    std::string indexProblem_;
    std::int64_t scannedBytes_ = -1;  // the folder file's length as the last scan saw it; -1: not scanned
    std::function<void()> afterScan_;

    std::unique_ptr<corvane::fs::TReadFile> stream_;
    std::size_t writeBatch_ = DefaultWriteBatch;
    corvane::TProgress* progress_ = nullptr;
    corvane::mem::TBigBuffer batchText_, batchSpan_;  // the chain walk's buffers, kept for the reader's life
};
