#include "dbxindex/MessageIndex.h"

#include <algorithm>

#include "dbxindex/IndexRecord.h"
#include "dbxindex/IndexTree.h"
#include "dbxindex/MessageProperties.h"

namespace corvane::dbx {

TMessageIndex ReadMessageIndex(const TByteSource& source) {
    TMessageIndex index;
    index.Header = ReadFileHeader(source);
    if (index.Header.Kind != TFileKind::MessageFolder) {
        index.Problem = index.Header.Kind == TFileKind::NotDbx ? "the file is too short for a folder file's header"
                                                               : "the file header does not name a mail folder file";
        return index;
    }
    if (index.Header.RootNode == 0) {
        index.Problem = "the folder file has no index";
        return index;
    }
    const TTreeWalk walk = WalkIndexTree(source, index.Header.RootNode, index.Header.RecordCount);
    index.Entries.reserve(walk.Values.size());
    for (const std::uint32_t value : walk.Values) {
        TRecordRead read = ReadIndexRecord(source, value);
        if (!read.Record) {
            index.Problem = read.Problem;
            return index;
        }
        index.Entries.push_back(std::make_shared<const TIndexEntry>(MessageEntry(*read.Record)));
    }
    index.Usable = walk.Complete;
    index.Problem = walk.Problem;
    return index;
}

TEntryLookup::TEntryLookup(const TMessageIndex& index) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> order;  // first block, place in Entries
    order.reserve(index.Entries.size());
    for (std::size_t i = 0; i < index.Entries.size(); ++i)
        if (index.Entries[i]->FirstBlock != 0) order.emplace_back(index.Entries[i]->FirstBlock, static_cast<std::uint32_t>(i));
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    keys_.reserve(order.size());
    entries_.reserve(order.size());
    for (const auto& [key, i] : order) {
        keys_.push_back(key);
        entries_.push_back(index.Entries[i]);
    }
}

const std::shared_ptr<const TIndexEntry>* TEntryLookup::Find(std::uint32_t firstBlock) const {
    const auto at = std::lower_bound(keys_.begin(), keys_.end(), firstBlock);
    return at != keys_.end() && *at == firstBlock ? &entries_[static_cast<std::size_t>(at - keys_.begin())] : nullptr;
}

}  // namespace corvane::dbx
