// Chain assembly: links the blocks found into chains and writes each chain's
// text into a message file of its own.
//
// The chains are those of repeated passes over the blocks in index order: a
// pass appends a block whose offsets continue the chain's tail, or else
// prepends one that leads to its head, and the head and tail move at once; a
// pass that places nothing closes the chain, and the lowest-indexed block not
// yet placed starts the next one. Only blocks not yet placed are tested, and
// the assembly goes on until every block is placed, so each block is written
// exactly once.
//
// Instead of testing every block in every pass, the blocks not yet placed are
// indexed by offset, next offset and previous offset: the next block a pass
// would place is the lowest index at or after the pass's position among the
// few keys the head and tail name. Each chain's block order is kept, and its
// file is written once, in chain order, when the chain is complete.

#include <algorithm>
#include <cstring>
#include <limits>

#include "outlookfile/outlookfile.h"
#include "platform/Files.h"
#include "platform/MessagePump.h"
#include "platform/TempNames.h"

namespace {

using Index = std::uint32_t;
constexpr Index kNone = std::numeric_limits<Index>::max();

// The blocks not yet placed, ordered by one key, then by index. Placed blocks
// are skipped through a union-find over the sorted positions.
class TKeyIndex {
public:
    explicit TKeyIndex(const std::vector<std::uint32_t>& keys) : entries_(keys.size()), where_(keys.size()) {
        for (std::size_t i = 0; i < keys.size(); ++i) entries_[i] = {keys[i], static_cast<Index>(i)};
        std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.key != b.key ? a.key < b.key : a.index < b.index;
        });
        skip_.resize(entries_.size() + 1);
        for (std::size_t s = 0; s < entries_.size(); ++s) {
            where_[entries_[s].index] = static_cast<Index>(s);
            skip_[s] = static_cast<Index>(s);
        }
        skip_[entries_.size()] = static_cast<Index>(entries_.size());
    }

    // The lowest index from `from` on, not yet placed, whose key is `key`.
    Index First(std::uint32_t key, Index from) {
        auto it = std::lower_bound(entries_.begin(), entries_.end(), Entry{key, from}, [](const Entry& a, const Entry& b) {
            return a.key != b.key ? a.key < b.key : a.index < b.index;
        });
        Index s = Find(static_cast<Index>(it - entries_.begin()));
        if (s < entries_.size() && entries_[s].key == key) return entries_[s].index;
        return kNone;
    }

    void Remove(Index index) { skip_[where_[index]] = where_[index] + 1; }

private:
    struct Entry {
        std::uint32_t key;
        Index index;
    };

    Index Find(Index s) {
        while (skip_[s] != s) {
            skip_[s] = skip_[skip_[s]];
            s = skip_[s];
        }
        return s;
    }

    std::vector<Entry> entries_;
    std::vector<Index> where_;  // sorted position of each index
    std::vector<Index> skip_;   // skip_[s] == s: position s not yet placed
};

// Offsets of the blocks, and how a pass tests a block against the chain's ends.
struct TLinks {
    std::vector<std::uint32_t> offset, next, prev;
    bool deleted = false;
};

// Runs the passes over the blocks and hands each finished chain, in chain
// order, to emit. Sets placed[i] for every block.
template <class Emit>
void AssembleChains(const TLinks& links, std::vector<std::uint8_t>& placed, Emit emit) {
    const Index n = static_cast<Index>(links.offset.size());
    if (n == 0) return;
    TKeyIndex byOffset(links.offset);
    TKeyIndex byNext(links.next);
    TKeyIndex byPrev(links.deleted ? links.prev : std::vector<std::uint32_t>{});

    std::vector<Index> front;  // prepended blocks, latest last
    std::vector<Index> back;   // the first block, then the appended ones
    std::vector<Index> chain;
    Index head = 0, tail = 0, count = 0, lowest = 0;

    auto place = [&](Index j) {
        placed[j] = 1;
        byOffset.Remove(j);
        byNext.Remove(j);
        if (links.deleted) byPrev.Remove(j);
        ++count;
    };
    auto startChain = [&](Index k) {
        front.clear();
        back.assign(1, k);
        head = tail = k;
        place(k);
    };
    auto finishChain = [&]() {
        chain.assign(front.rbegin(), front.rend());
        chain.insert(chain.end(), back.begin(), back.end());
        emit(chain);
    };

    startChain(0);
    while (count < n) {
        const Index remembered = count;
        Index from = 0;
        for (;;) {
            corvane::pump::ProcessMessages();
            // The next block of this pass that continues the tail, and the next
            // one that leads to the head; the earlier one is placed, and a
            // block passing both tests is appended.
            Index append = byOffset.First(links.next[tail], from);
            Index prepend = byNext.First(links.offset[head], from);
            if (links.deleted) {
                append = std::min(append, byPrev.First(links.offset[tail], from));
                prepend = std::min(prepend, byOffset.First(links.prev[head], from));
            }
            const Index j = std::min(append, prepend);
            if (j == kNone) break;
            if (append == j) {
                back.push_back(j);
                tail = j;
            } else {
                front.push_back(j);
                head = j;
            }
            place(j);
            from = j + 1;
            if (from >= n) break;
        }
        if (count == remembered) {
            finishChain();
            while (placed[lowest] != 0) ++lowest;
            startChain(lowest);
        }
    }
    finishChain();
}

// Writes one chain's text into a fresh message file.
class TChainWriter {
public:
    TChainWriter(const corvane::fs::TReadFile* folder, std::string prefix, std::uint32_t bodyStart, bool marked)
        : folder_(folder), prefix_(std::move(prefix)), bodyStart_(bodyStart), marked_(marked),
          tempFolder_(Toutlookfile::GetTempFolder()) {}

    template <class Part>
    void Write(const std::vector<Part>& parts, const std::vector<Index>& chain) {
        files_.push_back({});
        const std::string name = corvane::fs::JoinTempName(tempFolder_, prefix_ + std::to_string(files_.size()) + ".tmp");
        files_.back() = name;
        corvane::fs::TWriteFile file(name, corvane::fs::Create::Fresh);
        buffer_.clear();
        for (Index i : chain) {
            const Part& part = parts[i];
            if (marked_) buffer_.insert(buffer_.end(), {'[', '?', '?', ']'});
            const std::size_t at = buffer_.size();
            buffer_.resize(at + part.DataLength, 0);
            if (folder_ != nullptr)
                folder_->ReadAt(static_cast<std::int64_t>(part.Offset) + bodyStart_, buffer_.data() + at, part.DataLength);
            for (std::size_t b = at; b < buffer_.size(); ++b) {
                corvane::pump::ProcessMessages();
                if (buffer_[b] == 0) buffer_[b] = ' ';
            }
            if (buffer_.size() >= kFlushAt) {
                file.Write(buffer_.data(), buffer_.size());
                buffer_.clear();
            }
        }
        file.Write(buffer_.data(), buffer_.size());
        file.Close();
    }

    TMessageFiles Files() { return std::move(files_); }

private:
    static constexpr std::size_t kFlushAt = std::size_t{1} << 20;
    const corvane::fs::TReadFile* folder_;
    std::string prefix_;
    std::uint32_t bodyStart_;
    bool marked_;
    std::string tempFolder_;
    TMessageFiles files_;
    std::vector<char> buffer_;
};

template <class Part>
TMessageFiles Build(std::vector<Part>& parts, const TLinks& links, TChainWriter writer) {
    std::vector<std::uint8_t> placed(parts.size(), 0);
    AssembleChains(links, placed, [&](const std::vector<Index>& chain) {
        writer.Write(parts, chain);
        for (Index i : chain) parts[i].Visited = 1;
    });
    return writer.Files();
}

}  // namespace

TMessageFiles Toutlookfile::BuildMessageFiles(TMessagePartArray& Parts) {
    TLinks links;
    links.offset.reserve(Parts.size());
    links.next.reserve(Parts.size());
    for (const TMessagePart& part : Parts) {
        links.offset.push_back(part.Offset);
        links.next.push_back(part.NextOffset);
    }
    return Build(Parts, links, TChainWriter(stream_.get(), "msg", 16, false));
}

TMessageFiles Toutlookfile::BuildDelMessageFiles(TDelMessagePartArray& Parts) {
    TLinks links;
    links.deleted = true;
    links.offset.reserve(Parts.size());
    links.next.reserve(Parts.size());
    links.prev.reserve(Parts.size());
    for (const TDelMessagePart& part : Parts) {
        links.offset.push_back(part.Offset);
        links.next.push_back(part.NextOffset);
        links.prev.push_back(part.PrevOffset);
    }
    return Build(Parts, links, TChainWriter(stream_.get(), "delmsg", 20, true));
}
