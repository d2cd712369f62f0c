#pragma once
// Writes disk images for the carve's tests, fuzzing and benchmarks: folder
// files (as TDbxWriter writes them) placed into an image among other data,
// the way a file system leaves them.
//
// The image holds one partition that starts at a chosen sector (sector 63 on
// disks partitioned before Vista, 2048 after) and gives files whole clusters
// of 4 KiB counted from the partition's start. A folder file is placed
// contiguously, or cut at cluster boundaries into pieces that go into free
// clusters in random order. What lies around them is one of the fillers:
// zeros, random bytes, text, or program-like binaries that hold little-endian
// 0x200 words, some of them after a word that names a sector-aligned base (a
// lone false block header, as system binaries have them).

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace corvane::testsupport {

enum class TFiller { Zeros, Random, Text, Binary };

inline constexpr std::int64_t kImageSector = 512;
inline constexpr std::int64_t kImageCluster = 4096;

// Where one piece of a placed folder file went.
struct TPlacedPiece {
    std::int64_t Image = 0;  // image offset
    std::int64_t File = 0;   // offset in the folder file
    std::int64_t Bytes = 0;
};

class TDiskImage {
public:
    // An image of bytes (a multiple of the cluster) filled with filler; the
    // partition starts at partitionSector. The seed drives every choice.
    TDiskImage(std::uint64_t seed, std::int64_t bytes, std::int64_t partitionSector, TFiller filler);

    // Fills [from, to) of the image with filler.
    void Fill(std::int64_t from, std::int64_t to, TFiller filler);
    // Writes bytes at an image offset (damage of a shape the caller chooses).
    void Write(std::int64_t at, const std::string& bytes) { bytes_.replace(static_cast<std::size_t>(at), bytes.size(), bytes); }
    // Places a folder file's bytes into free clusters: in one run when
    // pieces is 1, else cut into that many pieces at random cluster
    // boundaries, each piece in a free run of its own, in random order.
    std::vector<TPlacedPiece> Place(const std::string& folder, int pieces);
    // Gives the folder file's bytes at a cluster of the partition chosen by
    // the caller (for exact layouts); marks the clusters taken.
    void PlaceAt(const std::string& folder, std::int64_t fileOffset, std::int64_t bytes, std::int64_t cluster);

    std::int64_t PartitionStart() const { return partition_; }
    const std::string& Bytes() const { return bytes_; }
    void Save(const std::string& path) const;
    // Saves the image as raw pieces of pieceBytes (the last one shorter):
    // prefix.001, prefix.002, ...; returns their names in order.
    std::vector<std::string> SaveSplit(const std::string& prefix, std::int64_t pieceBytes) const;

private:
    std::int64_t FreeRun(std::int64_t clusters);  // first cluster of a free run, chosen at random

    std::mt19937_64 random_;
    std::string bytes_;
    std::int64_t partition_ = 0;
    std::vector<bool> taken_;  // per cluster of the partition
    std::int64_t loneHeaders_ = 0;  // false block headers written so far, each at a base of its own
};

// A folder file placed in an image by WriteTwoFolderImage.
struct TImagedFolder {
    std::string Name;               // the folder's name, in each message's Subject
    int Pieces = 1;                 // the runs of clusters it was cut into
    std::vector<std::string> Live;  // its live messages' texts, as written
};

// A small raw image (2 MiB of text around them) of two folder files, for the
// windows' recovery from disk images: "Inbox" (twelve messages, the first two
// deleted) in one run of clusters, then "Archive" (nine live messages) cut
// in two at a cluster boundary, its second half stored before its first.
// Saved at path; returns the folders in the order of their first bytes in
// the image.
std::vector<TImagedFolder> WriteTwoFolderImage(const std::string& path);

// Message texts that can be told apart by their folder and number: header
// lines, a blank line and a body of random length (a few hundred bytes to a
// few blocks), CRLF line ends.
std::string CarveMessageText(const std::string& folder, int number, std::mt19937_64& random);

}  // namespace corvane::testsupport
