// The carve's lookup of blocks by self offset, and the sorts of the block
// lists, against the standard library's lower_bound and stable_sort on
// lists shaped as carves meet them: one dense folder file, several files
// sharing offsets, a sparse list far too spread for a table, and the edges.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "carve/SelfIndex.h"
#include "outlookfile/KeySort.h"

namespace {

using corvane::carve::TSelfEntry;
using corvane::carve::TSelfIndex;
using corvane::carve::TSelfIndexOf;

struct TShape {
    const char* name;
    std::vector<std::uint32_t> selfs;
};

// Block offsets of `files` folder files of `blocks` blocks each, from
// `first`, `step` bytes apart on average (a block is 0x210 bytes).
std::vector<std::uint32_t> Files(std::mt19937& random, int files, int blocks, std::uint32_t first, std::uint32_t step) {
    std::vector<std::uint32_t> out;
    for (int f = 0; f < files; ++f) {
        std::uint32_t at = first;
        for (int b = 0; b < blocks; ++b) {
            out.push_back(at);
            at += 0x210 + (std::uniform_int_distribution<std::uint32_t>(0, step - 0x210)(random) & ~3u);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Offsets alone, and offsets with a word of the caller's beside each.
TEST(SelfIndex, FindsTheLowerBoundOfEveryOffsetAsASearchWould) {
    std::mt19937 random(7);
    const std::vector<TShape> shapes = {
        {"empty", {}},
        {"one block", {0x24BC}},
        {"one dense file", Files(random, 1, 5000, 0x24BC, 0x210)},
        {"three files sharing offsets", Files(random, 3, 4000, 0x24BC, 0x400)},
        {"sparse, beyond a table", Files(random, 1, 300, 0x1000, 0x100000)},
        {"near the top of the offsets", Files(random, 2, 500, 0xFFF00000u, 0x800)},
    };
    for (const TShape& shape : shapes) {
        const TSelfIndex index({shape.selfs.begin(), shape.selfs.end()});
        ASSERT_EQ(index.Size(), shape.selfs.size()) << shape.name;
        corvane::mem::TBigVector<TSelfEntry> entries;
        for (std::size_t i = 0; i < shape.selfs.size(); ++i)
            entries.push_back({shape.selfs[i], static_cast<std::uint32_t>(i * 7 + 3)});
        const TSelfIndexOf<TSelfEntry> tagged(std::move(entries));
        for (std::size_t i = 0; i < shape.selfs.size(); ++i) {
            ASSERT_EQ(tagged[i], shape.selfs[i]) << shape.name;
            ASSERT_EQ(tagged.Entry(i).Tag, i * 7 + 3) << shape.name;
        }
        std::vector<std::uint32_t> asked = {0, 1, 0xFFFFFFFFu};
        for (const std::uint32_t s : shape.selfs)
            for (const std::uint32_t d : {0u, 1u, 4u, 0x1FFu, 0x200u, 0x210u}) {
                asked.push_back(s + d);
                asked.push_back(s - d);
            }
        // And in two steps, as a batch does: every start first, then each finished.
        std::vector<std::size_t> starts;
        for (const std::uint32_t self : asked) starts.push_back(tagged.Start(self));
        for (std::size_t a = 0; a < asked.size(); ++a) {
            const std::uint32_t self = asked[a];
            const auto expected = static_cast<std::size_t>(std::lower_bound(shape.selfs.begin(), shape.selfs.end(), self) - shape.selfs.begin());
            ASSERT_EQ(index.LowerBound(self), expected) << shape.name << " at " << self;
            ASSERT_EQ(tagged.LowerBound(self), expected) << shape.name << " at " << self;
            ASSERT_EQ(tagged.LowerBoundFrom(self, starts[a]), expected) << shape.name << " at " << self;
        }
    }
}

TEST(SelfIndex, OrderBySelfKeepsTheOrderOfBlocksOfOneOffset) {
    std::mt19937 random(11);
    struct TBlock {
        std::uint32_t self, place;
    };
    // Blocks as a carve lists them: piece by piece, each piece ascending.
    auto pieces = [&random](std::vector<std::uint32_t> selfs, std::size_t cut) {
        std::shuffle(selfs.begin(), selfs.end(), random);
        for (std::size_t at = 0; at < selfs.size(); at += cut)
            std::sort(selfs.begin() + static_cast<std::ptrdiff_t>(at),
                      selfs.begin() + static_cast<std::ptrdiff_t>(std::min(selfs.size(), at + cut)));
        return selfs;
    };
    const std::vector<TShape> shapes = {
        {"few, by the standard sort", pieces(Files(random, 2, 100, 0x24BC, 0x400), 30)},
        {"one dense file in pieces", pieces(Files(random, 1, 20000, 0x24BC, 0x210), 6000)},
        {"three files sharing offsets", pieces(Files(random, 3, 8000, 0x24BC, 0x210), 5000)},
        {"three files sharing sectors", pieces(Files(random, 3, 8000, 0x24BC, 0x400), 5000)},
        {"sparse, beyond a table", pieces(Files(random, 1, 9000, 0x1000, 0x100000), 3000)},
        {"near the top of the offsets", pieces(Files(random, 2, 5000, 0xFFF00000u - 5000 * 0x400, 0x400), 700)},
    };
    for (const TShape& shape : shapes) {
        corvane::mem::TBigVector<std::uint32_t> selfs(shape.selfs.begin(), shape.selfs.end());
        corvane::mem::TBigVector<std::uint32_t> order(3, 7u), counts(5, 9u);  // lists as a caller leaves them
        std::vector<TBlock> expected;
        for (const std::uint32_t s : shape.selfs) expected.push_back({s, static_cast<std::uint32_t>(expected.size())});
        std::stable_sort(expected.begin(), expected.end(), [](const TBlock& a, const TBlock& b) { return a.self < b.self; });
        corvane::carve::OrderBySelf(selfs, order, counts);
        ASSERT_EQ(order.size(), expected.size()) << shape.name;
        for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(order[i], expected[i].place) << shape.name << " " << i;
    }
}

TEST(KeySort, SortsByKeyKeepingTheOrderOfEqualKeys) {
    std::mt19937 random(3);
    struct TItem {
        std::uint32_t key, place;
    };
    for (const std::size_t n : {std::size_t{0}, std::size_t{10}, std::size_t{4095}, std::size_t{4096}, std::size_t{70000}}) {
        for (const std::uint32_t keys : {3u, 70000u, 0xFFFFFFFFu}) {
            std::vector<TItem> items(n);
            for (std::size_t i = 0; i < n; ++i)
                items[i] = {std::uniform_int_distribution<std::uint32_t>(0, keys)(random), static_cast<std::uint32_t>(i)};
            std::vector<TItem> expected = items;
            std::stable_sort(expected.begin(), expected.end(), [](const TItem& a, const TItem& b) { return a.key < b.key; });
            StableSortByKey32(items, [](const TItem& e) { return e.key; });
            ASSERT_EQ(items.size(), expected.size());
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(items[i].key, expected[i].key) << n << " " << keys << " " << i;
                ASSERT_EQ(items[i].place, expected[i].place) << n << " " << keys << " " << i;
            }
        }
    }
}

}  // namespace
