#include "outlookfile/IndexMatch.h"

#include "dbxindex/IndexRecord.h"

namespace {

const corvane::dbx::TMessageIndex& NoIndex() {
    static const corvane::dbx::TMessageIndex none;
    return none;
}

std::string Person(const std::string& name, const std::string& address) {
    if (name.empty() && address.empty()) return {};
    if (address.empty() || name == address) return " " + (name.empty() ? address : name);
    if (name.empty()) return " " + address;
    return " " + name + " <" + address + ">";
}

}  // namespace

std::string IndexSender(const TIndexEntry& e) { return Person(e.SenderName, e.SenderAddress); }
std::string IndexReceiver(const TIndexEntry& e) { return Person(e.ReceiverName, e.ReceiverAddress); }

TIndexMatcher::TIndexMatcher(const corvane::dbx::TMessageIndex* index)
    : lookup_(index != nullptr ? *index : NoIndex()), usable_(index != nullptr && index->Usable) {}

void TIndexMatcher::Attach(TEmail* first, TEmail* last, std::uint32_t head, bool firstOpens) const {
    if (first == last) return;
    const auto* entry = firstOpens ? lookup_.Find(head) : nullptr;
    if (entry != nullptr) {
        first->IndexState = TIndexState::InIndex;
        first->Index.Entry = *entry;
        ++first;
    }
    NotInIndex(first, last);
}

void TIndexMatcher::NotInIndex(TEmail* first, TEmail* last) const {
    if (!usable_) return;
    for (; first != last; ++first) first->IndexState = TIndexState::NotInIndex;
}

void TIndexMatcher::WholeFromIndex(TEmailArray& records, std::uint32_t head, const std::string& fileName,
                                   std::int64_t chainBytes) const {
    const auto* entry = lookup_.Find(head);
    if (records.empty()) {
        TEmail made;
        made.FileName = fileName;
        records.push_back(std::move(made));
    }
    records.resize(1);
    TEmail& e = records.front();
    e.MessageStart = 0;
    e.MessageEnd = chainBytes;
    if (e.HeaderEnd > chainBytes) e.HeaderEnd = 0;
    if (entry == nullptr) return;
    const TIndexEntry& x = **entry;
    if (e.From.empty()) e.From = IndexSender(x);
    if (e.To.empty()) e.To = IndexReceiver(x);
    if (e.Subject.empty() && !x.Subject.empty()) e.Subject = " " + x.Subject;
    if (e.Date.empty()) {
        const std::string date = corvane::dbx::FileTimeToMailDate(x.SentTime != 0 ? x.SentTime : x.ReceivedTime);
        if (!date.empty()) e.Date = " " + date;
    }
    e.IndexState = TIndexState::InIndex;
    e.Index.Entry = *entry;
}
