#pragma once
// Writes mail folder files (.dbx) laid out as Outlook Express lays them out, for
// tests, benchmarks and the committed sample.
//
// The file begins with the 0x24BC-byte file header (its 16-byte signature
// first), then the folder information. Index tree nodes (0x27C bytes) and
// message information records can be added as decoys: they begin with their
// own offset, as blocks do, but are no message blocks.
//
// A live block is 0x210 bytes: own offset, 0x200, number of text bytes, offset
// of the next block (0 in the last), 512 bytes of text. Deleting a message
// rewrites its blocks in place: own offset, 0x1FC, 0x210, next, previous, where
// the previous offset overwrites the first four text bytes. The freed blocks of
// all deleted messages form one list (in order of deletion), so one chain of
// deleted blocks can hold several messages end to end. A later message can take
// its blocks from the head of that list.
//
// All integers are little-endian 32-bit; everything lies at multiples of 4.

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::testsupport {

inline constexpr std::uint32_t kDbxHeaderSize = 0x24BC;
inline constexpr std::uint32_t kBlockSize = 0x210;
inline constexpr std::uint32_t kBlockText = 0x200;
inline constexpr std::uint32_t kDeletedText = 0x1FC;
inline constexpr std::uint32_t kIndexNodeSize = 0x27C;
// Where the file header keeps the length of the used part of the file (a
// 32-bit word): a file shorter than that was cut.
inline constexpr std::uint32_t kDbxUsedSizeOffset = 0x7C;
inline constexpr unsigned char kDbxSignature[16] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F,
                                                    0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};

// One property of an indexed-information record: inline (a 24-bit value in
// the property word) or data (bytes in the record's data area).
struct TRecordProperty {
    unsigned number = 0;
    bool isInline = false;
    std::uint32_t value = 0;
    std::string data;
};
TRecordProperty InlineProperty(unsigned number, std::uint32_t value);
TRecordProperty DataProperty(unsigned number, std::string data);
// A NUL-terminated string value.
TRecordProperty TextProperty(unsigned number, std::string_view text);
// A 4-byte little-endian value in the data area (offsets beyond 24 bits).
TRecordProperty U32Property(unsigned number, std::uint32_t value);
// A FILETIME of a UTC calendar time, 8 bytes in the data area.
TRecordProperty DateProperty(unsigned number, int year, unsigned month, unsigned day, unsigned hour = 0,
                             unsigned minute = 0, unsigned second = 0);

enum class TBlockOrder {
    Ascending,   // each block at a higher position than the one before it
    Descending,  // each block at a lower position
    Scattered,   // positions in random order
};

class TDbxWriter {
public:
    // Starts a folder file: file header and folder information. The seed drives
    // every random choice (scattered orders), so equal calls give equal files.
    explicit TDbxWriter(std::uint64_t seed = 1, std::string_view folderName = "Inbox");

    // --- Raw layout (for exact test cases) ---------------------------------
    // Writes bytes at an offset, growing the file with zeros as needed.
    void PutBytes(std::uint64_t offset, std::string_view bytes);
    void PutU32(std::uint64_t offset, std::uint32_t value);
    // A live block header and its body (at most 512 bytes; the rest stays as it is).
    void PutLiveBlock(std::uint32_t offset, std::uint32_t dataLength, std::uint32_t next, std::string_view body);
    // A deleted block header and its body (at most 508 bytes).
    void PutDeletedBlock(std::uint32_t offset, std::uint32_t next, std::uint32_t prev, std::string_view body,
                         std::uint32_t field8 = kBlockSize);
    // Pads the file with zeros to a multiple of 4 and returns its length.
    std::uint32_t End();
    // Pads the file (End) and writes its length into the header as the used
    // size, as the mail program keeps it.
    void SetUsedSize() { PutU32(kDbxUsedSizeOffset, End()); }

    // --- Structures around the blocks --------------------------------------
    // A zeroed block slot at the end of the file; returns its offset.
    std::uint32_t NewBlockSlot();
    // Appends count slots and keeps them, shuffled, as a pool from which later
    // messages take their blocks, so that messages interleave over the file.
    void ReserveScatteredSlots(std::size_t count);
    std::size_t PoolLeft() const { return pool_.size(); }
    // An index tree node (0x27C bytes, own offset first) naming the given
    // message information records; returns its offset.
    std::uint32_t AddIndexNode(const std::vector<std::uint32_t>& records = {});
    // A message information record (own offset, its size, then the data).
    std::uint32_t AddMessageInfo(std::string_view data);

    // --- The index (header fields 0xC4 and 0xE4, nodes, records) ------------
    // Bytes 4..7 of the header: 0x6F74FDC5 a mail folder file (the default),
    // 0x6F74FDC6 the store's Folders.dbx.
    void SetKind(std::uint32_t kind);
    // Rewrites the file information as Outlook Express writes it, the folder
    // name NUL-terminated at +0x105, its length at 0x1C. Call before anything
    // else is added (it may overwrite what follows the header).
    void PutFileInfo(std::string_view folderName);
    // An indexed-information record: own offset, body length L, k at +0x0A,
    // k property words (sorted by the caller), then the data area. Returns
    // its offset. L avoids the body sizes of blocks (a record is no block).
    std::uint32_t AddIndexRecord(const std::vector<TRecordProperty>& properties);
    // A tree of nodes holding values in order, at most perNode entries per
    // node (several levels when there are more), every node with its own
    // offset, parent and subtree counts; sets the header's record count and
    // root. Returns the root's offset (0 for no values: none written).
    std::uint32_t AddIndexTree(const std::vector<std::uint32_t>& values, unsigned perNode = 0x33);
    // The nodes the last AddIndexTree wrote, root first.
    const std::vector<std::uint32_t>& TreeNodes() const { return treeNodes_; }
    // A message's index record with its first block (0x04, 4 bytes) and the
    // properties given; returns the record's offset.
    std::uint32_t AddMessageRecord(int message, std::vector<TRecordProperty> properties = {});

    // --- Messages -----------------------------------------------------------
    // Stores a message as a chain of live blocks, its text cut into 512-byte
    // pieces (an empty text still takes one block). Blocks come from the head
    // of the freed-block list when reuseFreed is set and it has any, then from
    // the pool, then from the end of the file. Returns the message's number.
    int AddMessage(std::string_view text, TBlockOrder order = TBlockOrder::Ascending, bool reuseFreed = false);
    // Deletes a live message: its blocks join the end of the freed-block list.
    void DeleteMessage(int message);

    const std::vector<std::uint32_t>& BlocksOf(int message) const { return messages_.at(message).blocks; }
    const std::string& TextOf(int message) const { return messages_.at(message).text; }
    bool IsDeleted(int message) const { return messages_.at(message).deleted; }
    std::size_t MessageCount() const { return messages_.size(); }
    // The freed-block list, head first.
    const std::vector<std::uint32_t>& FreeList() const { return freeList_; }

    // What the reader makes of blocks, from the bytes written: a live chain's
    // text, or a deleted chain's ("[??]" and 508 characters per block). NUL
    // bytes read as spaces; bytes past the end of the file as spaces.
    std::string LiveChainText(const std::vector<std::uint32_t>& chain) const;
    std::string DeletedChainText(const std::vector<std::uint32_t>& chain) const;

    const std::string& Bytes() const { return bytes_; }
    void Save(const std::string& path) const;
    // Frees the bytes (for large files once they are saved).
    void Release();

private:
    struct Message {
        std::string text;
        std::vector<std::uint32_t> blocks;  // in chain order
        bool deleted = false;
    };

    std::uint32_t BuildTree(const std::vector<std::uint32_t>& values, std::size_t from, std::size_t to,
                            std::uint32_t parent, unsigned perNode);
    std::vector<std::uint32_t> TakeSlots(std::size_t count, TBlockOrder order, bool reuseFreed);
    std::uint32_t U32At(std::uint64_t offset) const;
    std::string TextAt(std::uint64_t offset, std::size_t n) const;

    std::string bytes_;
    std::mt19937_64 random_;
    std::vector<std::uint32_t> pool_;
    std::vector<Message> messages_;
    std::vector<std::uint32_t> freeList_;
    std::vector<std::uint32_t> treeNodes_;
};

}  // namespace corvane::testsupport
