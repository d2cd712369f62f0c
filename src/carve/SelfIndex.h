#pragma once
// Finding a carve's blocks by their self offset (the offset a block header
// gives for itself in its folder file), for the joining of pieces, which
// looks up every block's next offset.
//
// A list of self offsets in ascending order (each alone, or with what the
// caller keeps of its block beside it: one place to read per lookup), and
// the position of the first one not below a given offset (a lower bound),
// found at once. A folder
// file's blocks lie 0x210 bytes apart at least, so one 512-byte sector of
// its offsets begins at most one block of it: a table by sector leaves only
// the few lists of several files sharing a sector to step over. Where the
// offsets are too sparse for a table (more sectors than twice the blocks,
// which would cost more memory than the blocks) the list is searched.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "outlookfile/KeySort.h"
#include "platform/Memory.h"

namespace corvane::carve {

// A self offset and a word of the caller's beside it.
struct TSelfEntry {
    std::uint32_t Self = 0, Tag = 0;
};

// T: std::uint32_t (the offset alone) or TSelfEntry.
template <class T>
class TSelfIndexOf {
public:
    // The table is taken where sorted's memory came from.
    explicit TSelfIndexOf(mem::TBigVector<T> sorted) : selfs_(std::move(sorted)), table_(selfs_.get_allocator()) {
        if (selfs_.empty()) return;
        low_ = Sector(SelfOf(selfs_.front()));
        const std::size_t sectors = Sector(SelfOf(selfs_.back())) - low_ + 1;
        if (sectors > 2 * selfs_.size() + 4096) return;
        table_.resize(sectors + 1);
        std::size_t i = 0;
        for (std::size_t s = 0; s <= sectors; ++s) {
            while (i < selfs_.size() && Sector(SelfOf(selfs_[i])) - low_ < s) ++i;
            table_[s] = static_cast<std::uint32_t>(i);
        }
    }
    std::size_t LowerBound(std::uint32_t self) const { return LowerBoundFrom(self, Start(self)); }
    // The same in two steps, for loops that look up many offsets whose order
    // has nothing to do with their place in the list (every block's next
    // block): Start reads the table alone, and where it says the search
    // begins can be asked for (Prefetch) for a batch of lookups before the
    // first is finished, so that their reads of memory overlap.
    std::size_t Start(std::uint32_t self) const {
        if (table_.empty() || Sector(self) < low_) return kSearch;
        const std::size_t s = Sector(self) - low_;
        return s + 1 >= table_.size() ? selfs_.size() : table_[s];
    }
    std::size_t LowerBoundFrom(std::uint32_t self, std::size_t start) const {
        if (start == kSearch)
            return static_cast<std::size_t>(
                std::lower_bound(selfs_.begin(), selfs_.end(), self, [](const T& e, std::uint32_t v) { return SelfOf(e) < v; }) -
                selfs_.begin());
        std::size_t i = start;
        while (i < selfs_.size() && SelfOf(selfs_[i]) < self) ++i;
        return i;
    }
    std::uint32_t operator[](std::size_t i) const { return SelfOf(selfs_[i]); }
    const T& Entry(std::size_t i) const { return selfs_[i]; }
    std::size_t Size() const { return selfs_.size(); }

    // Brings the entry at i closer, for a read soon after.
    void Prefetch(std::size_t i) const {
        if (i < selfs_.size()) __builtin_prefetch(&selfs_[i]);
    }

    // The table's step: less than a block (0x210 bytes), so that a step of
    // one folder file's offsets begins at most one of its blocks.
    static constexpr std::size_t kSectorBytes = 512;

private:
    static constexpr std::size_t kSearch = static_cast<std::size_t>(-1);  // a start that says: no table there
    static std::size_t Sector(std::uint32_t self) { return self / kSectorBytes; }
    static std::uint32_t SelfOf(const T& e) {
        if constexpr (std::is_same_v<T, std::uint32_t>) return e;
        else return e.Self;
    }

    mem::TBigVector<T> selfs_;
    mem::TBigVector<std::uint32_t> table_;  // per sector from low_, the first position at or past it
    std::size_t low_ = 0;
};

using TSelfIndex = TSelfIndexOf<std::uint32_t>;

// The order of self offsets, equal ones in the order given: order[n] is the
// place in selfs of the n-th smallest. Where a table of sectors would serve
// (as TSelfIndex builds one), by counting each sector's offsets and placing
// them: a folder file's blocks come in ascending runs, which this places
// almost in sequence, and a sector holds at most one block of each file.
// Else by a radix sort. order and counts: lists whose memory it uses, taken
// from where the caller's lists come from (its pool).
inline void OrderBySelf(const mem::TBigVector<std::uint32_t>& selfs, mem::TBigVector<std::uint32_t>& order,
                        mem::TBigVector<std::uint32_t>& counts) {
    const auto n = static_cast<std::uint32_t>(selfs.size());
    order.resize(n);
    if (n == 0) return;
    const auto [lo, hi] = std::minmax_element(selfs.begin(), selfs.end());
    constexpr std::uint32_t kStep = TSelfIndex::kSectorBytes;
    const std::uint32_t first = *lo / kStep;
    const std::size_t sectors = *hi / kStep - first + 1;
    if (n < 4096 || sectors > 2 * std::size_t{n} + 4096) {
        struct TPlaced {
            std::uint32_t Self, Place;
        };
        std::vector<TPlaced> placed(n), spare;
        for (std::uint32_t k = 0; k < n; ++k) placed[k] = {selfs[k], k};
        StableSortByKey32(placed, [](const TPlaced& p) { return p.Self; }, spare);
        for (std::uint32_t i = 0; i < n; ++i) order[i] = placed[i].Place;
        return;
    }
    // Per sector, where its offsets begin; once they are placed, where they end.
    mem::TBigVector<std::uint32_t>& at = counts;
    at.assign(sectors, 0);
    for (const std::uint32_t self : selfs) ++at[self / kStep - first];
    std::uint32_t sum = 0;
    for (std::uint32_t& c : at) sum += std::exchange(c, sum);
    for (std::uint32_t k = 0; k < n; ++k) order[at[selfs[k] / kStep - first]++] = k;
    // Within a sector, by offset (mostly one, else a few): stable.
    for (std::size_t s = 0; s < sectors; ++s) {
        const std::uint32_t begin = s == 0 ? 0 : at[s - 1];
        for (std::uint32_t i = begin + 1; i < at[s]; ++i)
            for (std::uint32_t j = i; j > begin && selfs[order[j]] < selfs[order[j - 1]]; --j) std::swap(order[j], order[j - 1]);
    }
}

}  // namespace corvane::carve
