#pragma once
// The properties of a folder's record in the store's Folders.dbx, by number.
// These come from the format's documentation and have not been checked
// against a Folders.dbx that Outlook Express wrote; so the reader is strict:
// a record without an id, a parent or a name is a fault.

#include <cstdint>
#include <optional>
#include <string>

#include "dbxindex/IndexRecord.h"

namespace corvane::dbx {

namespace folderprop {
inline constexpr unsigned kId = 0x00;        // the root, "Outlook Express", is 0
inline constexpr unsigned kParentId = 0x01;  // kNoParent for the root
inline constexpr unsigned kName = 0x02;      // the current name
inline constexpr unsigned kFileName = 0x03;  // its folder file's name
inline constexpr unsigned kMessageCount = 0x07;
inline constexpr unsigned kUnreadCount = 0x08;
inline constexpr unsigned kSpecial = 0x09;
inline constexpr unsigned kKind = 0x0A;
}  // namespace folderprop

inline constexpr std::uint32_t kNoParent = 0xFFFFFFFF;

enum class TSpecialFolder { None = 0, Inbox = 1, Outbox = 2, SentItems = 3, DeletedItems = 4, Drafts = 5, Unknown = -1 };
// "inbox", "outbox", "sent", "deleted", "drafts", "" for none, "unknown" otherwise.
const char* SpecialFolderName(TSpecialFolder special);

struct TFolderProperties {
    std::uint32_t Id = 0;
    std::uint32_t ParentId = kNoParent;
    std::string Name;      // ANSI code page
    std::string FileName;  // empty: the folder has no folder file (the root, a news server)
    std::uint32_t MessageCount = 0, UnreadCount = 0;
    TSpecialFolder Special = TSpecialFolder::None;
    std::uint32_t Kind = 3;  // 0 news, 1 IMAP, 3 local
};

// The record's folder properties; nullopt (with why) when it lacks its id,
// its parent or its name.
std::optional<TFolderProperties> FolderOf(const TIndexRecord& record, std::string& problem);

}  // namespace corvane::dbx
