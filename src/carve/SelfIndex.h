#pragma once
// Finding a carve's blocks by their self offset (the offset a block header
// gives for itself in its folder file), for the joining of pieces and the
// counting of messages, which look up every block's next offset.
//
// A list of self offsets in ascending order, and the position of the first
// one not below a given offset (a lower bound), found at once. A folder
// file's blocks lie 0x210 bytes apart at least, so one 512-byte sector of
// its offsets begins at most one block of it: a table by sector leaves only
// the few lists of several files sharing a sector to step over. Where the
// offsets are too sparse for a table (more sectors than twice the blocks,
// which would cost more memory than the blocks) the list is searched.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace corvane::carve {

class TSelfIndex {
public:
    explicit TSelfIndex(std::vector<std::uint32_t> sorted) : selfs_(std::move(sorted)) {
        if (selfs_.empty()) return;
        low_ = Sector(selfs_.front());
        const std::size_t sectors = Sector(selfs_.back()) - low_ + 1;
        if (sectors > 2 * selfs_.size() + 4096) return;
        table_.resize(sectors + 1);
        std::size_t i = 0;
        for (std::size_t s = 0; s <= sectors; ++s) {
            while (i < selfs_.size() && Sector(selfs_[i]) - low_ < s) ++i;
            table_[s] = static_cast<std::uint32_t>(i);
        }
    }
    std::size_t LowerBound(std::uint32_t self) const {
        if (table_.empty() || Sector(self) < low_)
            return static_cast<std::size_t>(std::lower_bound(selfs_.begin(), selfs_.end(), self) - selfs_.begin());
        const std::size_t s = Sector(self) - low_;
        if (s + 1 >= table_.size()) return selfs_.size();
        std::size_t i = table_[s];
        while (i < selfs_.size() && selfs_[i] < self) ++i;
        return i;
    }
    std::uint32_t operator[](std::size_t i) const { return selfs_[i]; }
    std::size_t Size() const { return selfs_.size(); }

    // The table's step: less than a block (0x210 bytes), so that a step of
    // one folder file's offsets begins at most one of its blocks.
    static constexpr std::size_t kSectorBytes = 512;

private:
    static std::size_t Sector(std::uint32_t self) { return self / kSectorBytes; }

    std::vector<std::uint32_t> selfs_;
    std::vector<std::uint32_t> table_;  // per sector from low_, the first position at or past it
    std::size_t low_ = 0;
};

}  // namespace corvane::carve
