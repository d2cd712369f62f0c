#include "dbxindex/FolderProperties.h"

namespace corvane::dbx {

const char* SpecialFolderName(TSpecialFolder special) {
    switch (special) {
        case TSpecialFolder::None: return "";
        case TSpecialFolder::Inbox: return "inbox";
        case TSpecialFolder::Outbox: return "outbox";
        case TSpecialFolder::SentItems: return "sent";
        case TSpecialFolder::DeletedItems: return "deleted";
        case TSpecialFolder::Drafts: return "drafts";
        case TSpecialFolder::Unknown: break;
    }
    return "unknown";
}

std::optional<TFolderProperties> FolderOf(const TIndexRecord& record, std::string& problem) {
    const auto id = record.Integer(folderprop::kId);
    const auto parent = record.Integer(folderprop::kParentId);
    TFolderProperties f;
    f.Name = record.Text(folderprop::kName);
    if (!id || !parent || f.Name.empty()) {
        problem = "a folder record lacks its id, its parent or its name";
        return std::nullopt;
    }
    f.Id = *id;
    // An inline value holds 24 bits: the root's parent then reads 0xFFFFFF.
    f.ParentId = *parent == 0xFFFFFF ? kNoParent : *parent;
    f.FileName = record.Text(folderprop::kFileName);
    f.MessageCount = record.Integer(folderprop::kMessageCount).value_or(0);
    f.UnreadCount = record.Integer(folderprop::kUnreadCount).value_or(0);
    const std::uint32_t special = record.Integer(folderprop::kSpecial).value_or(0);
    f.Special = special <= 5 ? static_cast<TSpecialFolder>(special) : TSpecialFolder::Unknown;
    f.Kind = record.Integer(folderprop::kKind).value_or(3);
    return f;
}

}  // namespace corvane::dbx
