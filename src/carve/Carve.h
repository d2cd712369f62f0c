#pragma once
// Carving folder files out of a disk image: finds the message blocks of
// Outlook Express folder files in a raw image (a dd copy, a block device,
// several raw pieces read as one, standard input), groups them into the
// pieces of folder files that were stored contiguously, joins pieces that
// belong to one folder file, and writes each reconstructed folder file as a
// sparse .dbx (every piece at its own offset, holes left as zeros) that the
// folder reader reads as any other.
//
//   TCarveOptions options;  options.OutFolder = "out";
//   TCarveResult result = Carve({"disk.img"}, options, progress);
//
// How pieces are found. A block header names its own offset in its folder
// file ("self"); a folder file starts on a sector, so image position − self
// (the piece's base) is one multiple of 512 for every block of a piece. A
// base with fewer than two blocks is dropped (a lone match is noise from
// other data). One folder file never has two block headers within one
// block's length of each other, so pieces whose blocks would overlap in the
// file's offsets belong to different folder files. Pieces are joined only
// over a link that exactly one piece can take: a block's next (or, for
// deleted blocks, previous) offset that names a block of exactly one other
// piece that does not overlap the first one's folder file and whose folder
// file has nothing pointing to that block yet; or a last block that runs
// past its piece's end into the piece that begins at the next cluster.
// Links that several pieces could take are tried again once the unique ones
// are joined.
//
// Threads: Carve runs on the calling thread and one thread of its own: for
// an image file or device (see Threads), both read and filter chunks of it
// at once, then share the joining and counting; for a stream (or with
// Threads 1) the thread reads ahead while the calling thread filters.
// Progress is called on the calling thread.
//
// Memory: read buffers of ChunkBytes (two; Chunks of them for a stream),
// plus less than 64 bytes per block found, and never more than MemoryBytes
// in all: a scan whose blocks would need more stops before the chunk that
// would pass it, and the carve goes on with what it found there
// (TCarveResult::MemoryFull). The lists of each phase take the memory the
// read buffers and the phases before gave back (a pool kept for the carve,
// given back to the system when it returns).
//
// The images are only read. With OutFolder set, Carve writes there
// recovered-1.dbx, recovered-2.dbx, ... and carve.json, the map of which
// image ranges made which folder-file ranges; with Partial also the partial
// messages into OutFolder/partial. Each file is written under NAME.part and
// renamed once whole. Existing files of those names are replaced, except an
// input, which is refused. An output folder on a device being read is
// refused (ECorvaneError) before anything is read.
//
// Errors: EFOpenError for an input that cannot be opened, EInOutError for a
// failed read or write, EFCreateError for an output that cannot be created,
// ECancelled when progress asks to stop: the folder files written by then
// stay, each whole, and carve.json names them; nothing else is left.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane {
class TProgress;
}

namespace corvane::carve {

// What the carve has found so far, for a front end to show while it runs;
// written by the carve, read from any thread.
struct TCarveCounts {
    std::atomic<std::int64_t> Bytes{0};     // image bytes scanned
    std::atomic<std::int64_t> Blocks{0};    // candidate blocks
    std::atomic<std::int64_t> Files{0};     // bases with at least two blocks (pieces)
    std::atomic<std::int64_t> Messages{0};  // live blocks that begin with a header line
};

struct TCarvedFile;

struct TCarveOptions {
    std::string OutFolder;  // empty: nothing is written (a listing)
    bool Partial = false;   // also write the partial messages into OutFolder/partial
    // One read; a multiple of 4096. Long reads keep a disk busy: measured
    // cold, 16 MB reads went at a disk's full rate where 4 MB ones did not.
    std::size_t ChunkBytes = std::size_t{16} << 20;
    std::size_t Chunks = 4;  // chunks read but not yet taken into the scan
    TCarveCounts* Counts = nullptr;                 // may be null
    // 2: the scan of an image that can be read at any offset, and the
    // joining and counting after it, share their work with a thread of the
    // carve's own; 1: they run on the calling thread (with the reader
    // thread). The results are the same.
    int Threads = 2;
    // The most the carve may take (about: its lists are counted at the most
    // a block and a base cost); see Memory above.
    std::size_t MemoryBytes = std::size_t{1} << 30;
    // Told of each folder file once it is whole under its name, on the
    // calling thread: what a stopped carve leaves is what it was told of.
    std::function<void(const TCarvedFile&)> FileWritten;
};

// Image bytes [ImageStart, ImageEnd) are folder-file bytes [FileStart, FileEnd).
struct TCarveRange {
    std::int64_t ImageStart = 0, ImageEnd = 0;
    std::int64_t FileStart = 0, FileEnd = 0;
};

struct TCarvedFile {
    int Number = 0;         // recovered-<Number>.dbx
    std::string Path;       // where it was written; empty for a listing
    std::optional<std::int64_t> HeaderOffset;  // image offset of its file header, when found
    std::vector<TCarveRange> Pieces;           // in file order
    std::vector<std::pair<std::int64_t, std::int64_t>> Holes;  // file ranges no piece gave
    std::int64_t Size = 0;                    // the reconstructed file's length
    std::size_t LiveBlocks = 0, DeletedBlocks = 0;
    std::size_t Complete = 0;  // messages whose chain is whole (see below)
    std::size_t Partial = 0;   // the other chains of live blocks
    bool Live() const { return LiveBlocks > 0; }  // "live", else "deleted": only deleted blocks
};

// A message is complete when its chain of live blocks ends with next offset
// 0, every block but the last holds 512 text bytes, its text starts with a
// header line, and every byte of its blocks came from the file's own pieces.

struct TCarveResult {
    std::vector<std::string> Images;
    std::int64_t ImageBytes = 0;   // the bytes scanned: all of the images, unless MemoryFull
    bool MemoryFull = false;       // the scan stopped at ImageBytes: more blocks would not fit in MemoryBytes
    std::int64_t Candidates = 0;   // blocks that passed the filter
    std::int64_t Dropped = 0;      // of those, dropped (alone at their base, or overlapping)
    std::vector<TCarvedFile> Files;
    std::string MapPath;           // carve.json; empty for a listing
};

// Carves the images, read one after the other as one image (raw pieces of
// one disk: disk.001 disk.002 ...). "-" is standard input.
TCarveResult Carve(const std::vector<std::string>& images, const TCarveOptions& options, TProgress* progress);

// The filter alone, over bytes already in memory taken as an image from
// offset 0: how many block headers pass it (the positions whose whole
// block lies in the bytes). For measuring the filter apart from the reads.
std::size_t CountCandidates(const void* data, std::size_t bytes);

// carve.json's text for a result: UTF-8 JSON.
std::string CarveMapJson(const TCarveResult& result);

// The progress stages.
inline constexpr const char* kCarveScanStage = "Scanning image";
inline constexpr const char* kCarveWriteStage = "Writing folder files";

}  // namespace corvane::carve
