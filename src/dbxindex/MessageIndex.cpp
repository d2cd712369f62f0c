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
    sorted_.reserve(index.Entries.size());
    for (const auto& e : index.Entries)
        if (e->FirstBlock != 0) sorted_.emplace_back(e->FirstBlock, e);
    std::stable_sort(sorted_.begin(), sorted_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
}

const std::shared_ptr<const TIndexEntry>* TEntryLookup::Find(std::uint32_t firstBlock) const {
    const auto at = std::lower_bound(sorted_.begin(), sorted_.end(), firstBlock,
                                     [](const auto& e, std::uint32_t v) { return e.first < v; });
    return at != sorted_.end() && at->first == firstBlock ? &at->second : nullptr;
}

}  // namespace corvane::dbx
