#pragma once
// The index tree of a .dbx file: nodes of 0x27C bytes whose values are the
// offsets of indexed-information records, in order. A node:
//   +0x00 its own offset            +0x08 the child whose values come first (0: none)
//   +0x0C its parent (0: the root)  +0x11 one byte, n, the number of entries (at most 0x33)
//   +0x14 the number of values in the +0x08 child's subtree
//   +0x18 n entries of 12 bytes: the value, the entry's child (0: none), the
//         number of values in that child's subtree.
// In order: the +0x08 child's values, then for each entry its value and its
// child's values.
//
// The walk trusts nothing: every node must carry its own offset and its
// parent, lie inside the file, be reached once, and give as many values as
// its parent (or the file header, for the root) says. At the first fault the
// walk stops and tells what it found up to there and why it stopped.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dbxindex/ByteSource.h"

namespace corvane::dbx {

inline constexpr std::uint32_t kNodeSize = 0x27C;
inline constexpr std::uint32_t kNodeSelfOffset = 0x00;
inline constexpr std::uint32_t kNodeFirstChild = 0x08;
inline constexpr std::uint32_t kNodeParent = 0x0C;
inline constexpr std::uint32_t kNodeEntryCount = 0x11;  // one byte
inline constexpr std::uint32_t kNodeFirstChildValues = 0x14;
inline constexpr std::uint32_t kNodeEntries = 0x18;
inline constexpr std::uint32_t kNodeEntrySize = 12;
inline constexpr std::uint32_t kMaxNodeEntries = 0x33;  // what fits in a node
// Deeper than any real tree (0x34 ** 12 values would be far beyond 4 GiB):
// a deeper one is a fault, and the bound keeps the walk's stack small.
inline constexpr int kMaxTreeDepth = 12;

struct TTreeWalk {
    std::vector<std::uint32_t> Values;  // in tree order, as far as the walk came
    bool Complete = false;              // the whole tree was walked without a fault
    std::string Problem;                // why the walk stopped; empty when complete
};

// Walks the tree whose root lies at root and which must hold expected
// values. A root of 0 is an empty tree (complete when expected is 0). The
// number of values is bounded by the file's size (each needs a node entry),
// so hostile counts cannot make the walk allocate more. A failing read:
// EInOutError.
TTreeWalk WalkIndexTree(const TByteSource& source, std::uint32_t root, std::uint32_t expected);

}  // namespace corvane::dbx
