#pragma once
// The file header of an Outlook Express .dbx file and the file-information
// object after it: which kind of file it is, how many records its main index
// tree holds and where that tree's root node lies, and (in a message folder
// file) the name the folder was created with.

#include <cstdint>
#include <string>

#include "dbxindex/ByteSource.h"

namespace corvane::dbx {

// Bytes 0x04..0x07 of the header tell the kind of file.
inline constexpr std::uint32_t kKindOffset = 0x04;
inline constexpr std::uint32_t kMessageFolderKind = 0x6F74FDC5;  // a mail folder file (Inbox.dbx, ...)
inline constexpr std::uint32_t kFolderListKind = 0x6F74FDC6;     // the store's Folders.dbx
// The length of the file-information object, which follows the header.
inline constexpr std::uint32_t kFileInfoLengthOffset = 0x1C;
// The number of records in the main index tree, and the offset of its root
// node (0 when the tree is empty).
inline constexpr std::uint32_t kRecordCountOffset = 0xC4;
inline constexpr std::uint32_t kRootNodeOffset = 0xE4;
// The header's own length: the file-information object begins here.
inline constexpr std::uint32_t kHeaderSize = 0x24BC;
// Where the folder's name stands in a message folder file's file information
// (NUL-terminated; the name it was created with, not changed by a rename).
inline constexpr std::uint32_t kFolderNameOffset = 0x105;
// Longest folder name read: the file information is short; a hostile length
// cannot make the read large.
inline constexpr std::uint32_t kMaxFolderName = 256;

enum class TFileKind { NotDbx, MessageFolder, FolderList, Other };

struct TDbxFileHeader {
    TFileKind Kind = TFileKind::NotDbx;
    std::uint32_t RecordCount = 0;
    std::uint32_t RootNode = 0;
    std::uint32_t FileInfoLength = 0;
    std::string FolderName;  // message folder files only; empty when none is readable
};

// The header of the source's file. A file shorter than the header is NotDbx;
// a header whose kind is neither known one is Other. Never throws for any
// bytes (a failing read: EInOutError).
TDbxFileHeader ReadFileHeader(const TByteSource& source);

}  // namespace corvane::dbx
