#include "dbxindex/MessageProperties.h"

namespace corvane::dbx {

std::vector<std::string> FlagNames(std::uint32_t flags) {
    std::vector<std::string> names;
    for (const TFlagName& f : kMessageFlags)
        if ((flags & f.Bit) != 0) names.emplace_back(f.Name);
    return names;
}

TIndexEntry MessageEntry(const TIndexRecord& record) {
    TIndexEntry e;
    e.FirstBlock = record.Integer(msgprop::kFirstBlock).value_or(0);
    if (const auto flags = record.Integer(msgprop::kFlags)) {
        e.HasFlags = true;
        e.Flags = *flags;
    }
    e.SentTime = record.FileTime(msgprop::kSent).value_or(0);
    e.SavedTime = record.FileTime(msgprop::kSaved).value_or(0);
    e.ReceivedTime = record.FileTime(msgprop::kReceived).value_or(0);
    e.MessageId = record.Text(msgprop::kMessageId);
    e.ReplyToId = record.Text(msgprop::kReplyToId);
    e.Priority = static_cast<int>(record.Integer(msgprop::kPriority).value_or(0) & 0xFF);
    e.Account = record.Text(msgprop::kAccountName);
    e.Subject = record.Text(msgprop::kSubject);
    e.SenderName = record.Text(msgprop::kSenderName);
    e.SenderAddress = record.Text(msgprop::kSenderAddress);
    e.ReceiverName = record.Text(msgprop::kReceiverName);
    e.ReceiverAddress = record.Text(msgprop::kReceiverAddress);
    return e;
}

}  // namespace corvane::dbx
