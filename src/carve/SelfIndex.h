#pragma once
// Finding a carve's blocks by their self offset (the offset a block header
// gives for itself in its folder file), for the joining of pieces, which
// looks up every block's next offset.
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

#include "outlookfile/KeySort.h"
#include "platform/Memory.h"

namespace corvane::carve {

class TSelfIndex {
public:
    // The table is taken where sorted's memory came from.
    explicit TSelfIndex(mem::TBigVector<std::uint32_t> sorted) : selfs_(std::move(sorted)), table_(selfs_.get_allocator()) {
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

    // For loops that look up many offsets whose order has nothing to do with
    // their place in the list (every block's next block): asked some rounds
    // ahead of LowerBound(self), these bring the memory it reads closer.
    // The table entry first; then, once that has arrived, where the search
    // will start (its position, for lists kept beside this one).
    void PrefetchTable(std::uint32_t self) const {
        const std::size_t s = Sector(self) - low_;
        if (s < table_.size()) __builtin_prefetch(&table_[s]);
    }
    std::size_t PrefetchStart(std::uint32_t self) const {
        const std::size_t s = Sector(self) - low_;
        if (s >= table_.size() || table_[s] >= selfs_.size()) return 0;
        __builtin_prefetch(&selfs_[table_[s]]);
        return table_[s];
    }

    // The table's step: less than a block (0x210 bytes), so that a step of
    // one folder file's offsets begins at most one of its blocks.
    static constexpr std::size_t kSectorBytes = 512;

private:
    static std::size_t Sector(std::uint32_t self) { return self / kSectorBytes; }

    mem::TBigVector<std::uint32_t> selfs_;
    mem::TBigVector<std::uint32_t> table_;  // per sector from low_, the first position at or past it
    std::size_t low_ = 0;
};

// Sorts items by self offset (self(item)), keeping the order of equal ones.
// Where a table of sectors would serve (as TSelfIndex builds one), by
// counting each sector's items and placing them: a folder file's blocks come
// in ascending runs, which this places almost in sequence, and a sector
// holds at most one block of each file. Else by a radix sort. spare and
// counts: room the sort may use, taken from where their memory comes from
// (the caller's pool).
template <class T, class Self>
void SortBySelf(mem::TBigVector<T>& items, Self self, mem::TBigVector<T>& spare, mem::TBigVector<std::uint32_t>& counts) {
    if (items.size() < 4096) {
        std::stable_sort(items.begin(), items.end(), [&self](const T& a, const T& b) { return self(a) < self(b); });
        return;
    }
    std::uint32_t lo = self(items.front()), hi = lo;
    for (const T& item : items) {
        lo = std::min(lo, self(item));
        hi = std::max(hi, self(item));
    }
    constexpr std::uint32_t kStep = TSelfIndex::kSectorBytes;
    const std::size_t sectors = hi / kStep - lo / kStep + 1;
    if (sectors > 2 * items.size() + 4096) {
        StableSortByKey32(items, self, spare);
        return;
    }
    // Per sector, where its items begin; once they are placed, where they end.
    mem::TBigVector<std::uint32_t>& at = counts;
    at.assign(sectors, 0);
    for (const T& item : items) ++at[self(item) / kStep - lo / kStep];
    std::uint32_t sum = 0;
    for (std::uint32_t& n : at) sum += std::exchange(n, sum);
    spare.resize(items.size());
    for (const T& item : items) spare[at[self(item) / kStep - lo / kStep]++] = item;
    // Within a sector, by offset (mostly one item, else a few): stable.
    for (std::size_t s = 0; s < sectors; ++s) {
        const std::uint32_t first = s == 0 ? 0 : at[s - 1];
        for (std::uint32_t i = first + 1; i < at[s]; ++i)
            for (std::uint32_t j = i; j > first && self(spare[j]) < self(spare[j - 1]); --j) std::swap(spare[j], spare[j - 1]);
    }
    items.swap(spare);
}

}  // namespace corvane::carve
