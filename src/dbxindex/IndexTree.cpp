#include "dbxindex/IndexTree.h"

#include <array>
#include <cstdio>
#include <unordered_set>

namespace corvane::dbx {
namespace {

struct TFault {
    std::string Why;
};

class TWalker {
public:
    TWalker(const TByteSource& source, TTreeWalk& walk) : source_(source), walk_(walk), size_(source.Size()) {}

    // The node's values; throws TFault at the first fault.
    void Node(std::uint32_t at, std::uint32_t parent, std::uint32_t expected, int depth) {
        if (depth > kMaxTreeDepth) throw TFault{"the tree is deeper than " + std::to_string(kMaxTreeDepth) + " levels"};
        if (static_cast<std::int64_t>(at) + kNodeSize > size_)
            throw TFault{"the node at " + Hex(at) + " lies past the end of the file"};
        if (!seen_.insert(at).second)
            throw TFault{"the node at " + Hex(at) + " is reached twice (the tree has a cycle or shared nodes)"};
        std::array<unsigned char, kNodeSize> node{};
        if (source_.ReadAt(at, node.data(), node.size()) != node.size())
            throw TFault{"the node at " + Hex(at) + " cannot be read whole"};
        if (U32At(&node[kNodeSelfOffset]) != at) throw TFault{"the node at " + Hex(at) + " does not carry its own offset"};
        if (U32At(&node[kNodeParent]) != parent)
            throw TFault{"the node at " + Hex(at) + " names " + Hex(U32At(&node[kNodeParent])) + " as its parent, not " +
                         Hex(parent)};
        const unsigned entries = node[kNodeEntryCount];
        if (entries > kMaxNodeEntries)
            throw TFault{"the node at " + Hex(at) + " claims " + std::to_string(entries) + " entries"};
        const std::size_t before = walk_.Values.size();
        Child(U32At(&node[kNodeFirstChild]), at, U32At(&node[kNodeFirstChildValues]), depth);
        for (unsigned i = 0; i < entries; ++i) {
            const unsigned char* entry = &node[kNodeEntries + i * kNodeEntrySize];
            walk_.Values.push_back(U32At(entry));
            Child(U32At(entry + 4), at, U32At(entry + 8), depth);
        }
        const std::size_t got = walk_.Values.size() - before;
        if (got != expected)
            throw TFault{"the node at " + Hex(at) + " holds " + std::to_string(got) + " values where " +
                         std::to_string(expected) + " were counted"};
    }

private:
    void Child(std::uint32_t at, std::uint32_t parent, std::uint32_t expected, int depth) {
        if (at == 0) {
            if (expected != 0)
                throw TFault{"the node at " + Hex(parent) + " counts " + std::to_string(expected) +
                             " values under a child it does not have"};
            return;
        }
        Node(at, parent, expected, depth + 1);
    }

    const TByteSource& source_;
    TTreeWalk& walk_;
    std::int64_t size_;
    std::unordered_set<std::uint32_t> seen_;
};

}  // namespace

TTreeWalk WalkIndexTree(const TByteSource& source, std::uint32_t root, std::uint32_t expected) {
    TTreeWalk walk;
    if (root == 0) {
        walk.Complete = expected == 0;
        if (!walk.Complete) walk.Problem = "the file header counts " + std::to_string(expected) + " records but names no index tree";
        return walk;
    }
    // Every value stands in a node entry of its own, so no true count is
    // larger than the file has room for.
    if (static_cast<std::int64_t>(expected) > source.Size() / kNodeEntrySize) {
        walk.Problem = "the file header counts " + std::to_string(expected) + " records, more than the file can hold";
        return walk;
    }
    try {
        TWalker(source, walk).Node(root, 0, expected, 0);
        walk.Complete = true;
    } catch (const TFault& fault) {
        walk.Problem = fault.Why;
    }
    return walk;
}

}  // namespace corvane::dbx
