// Chain assembly: which blocks end up in which message file, in what order,
// and that every block is written exactly once.

#include <algorithm>
#include <numeric>
#include <random>

#include "ReaderTestSupport.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::testsupport::TDbxWriter;

namespace {

// The assembly done the plain way: passes over all blocks in index order,
// each testing every block not yet placed against the chain's tail (append)
// and then its head (prepend), a pass that places nothing starting the next
// file at the lowest block not yet placed; prepends put text in front of the
// file's text. Returns the files' contents and sets Visited.
bool Appends(const TMessagePart& b, const TMessagePart& tail) { return b.Offset == tail.NextOffset; }
bool Prepends(const TMessagePart& b, const TMessagePart& head) { return b.NextOffset == head.Offset; }
bool Appends(const TDelMessagePart& b, const TDelMessagePart& tail) {
    return b.Offset == tail.NextOffset || b.PrevOffset == tail.Offset;
}
bool Prepends(const TDelMessagePart& b, const TDelMessagePart& head) {
    return b.Offset == head.PrevOffset || b.NextOffset == head.Offset;
}
std::string Text(Toutlookfile& reader, const TMessagePart& b) { return reader.ReadMessagePart(b); }
std::string Text(Toutlookfile& reader, const TDelMessagePart& b) { return "[??]" + reader.ReadDelMessagePart(b); }

template <class Part>
std::vector<std::string> PlainAssembly(Toutlookfile& reader, std::vector<Part>& parts) {
    std::vector<std::string> files;
    const std::size_t n = parts.size();
    files.push_back(Text(reader, parts[0]));
    std::size_t head = 0, tail = 0, count = 1;
    parts[0].Visited = 1;
    while (count < n) {
        const std::size_t remembered = count;
        for (std::size_t j = 0; j < n; ++j) {
            if (parts[j].Visited) continue;
            if (Appends(parts[j], parts[tail])) {
                files.back() += Text(reader, parts[j]);
                tail = j;
            } else if (Prepends(parts[j], parts[head])) {
                files.back() = Text(reader, parts[j]) + files.back();
                head = j;
            } else {
                continue;
            }
            parts[j].Visited = 1;
            ++count;
        }
        if (count == remembered) {
            std::size_t k = 0;
            while (parts[k].Visited) ++k;
            files.push_back(Text(reader, parts[k]));
            head = tail = k;
            parts[k].Visited = 1;
            ++count;
        }
    }
    return files;
}

class Assembly : public ReaderTest {
protected:
    void Open(const TDbxWriter& dbx) {
        const std::string path = Scratch("folder.dbx");
        reader_.CloseFolder();  // held without sharing, so on Windows it could not be rewritten
        WriteAll(path, dbx.Bytes());
        reader_.OpenFolder(path);
    }
    std::vector<std::string> Contents(const TMessageFiles& files) {
        std::vector<std::string> out;
        for (const std::string& f : files) out.push_back(ReadAll(f));
        return out;
    }
    std::vector<std::string> Build(TMessagePartArray parts) { return Contents(reader_.BuildMessageFiles(parts)); }
    std::vector<std::string> BuildDeleted(TDelMessagePartArray parts) { return Contents(reader_.BuildDelMessageFiles(parts)); }

    Toutlookfile reader_;
};

// Three live blocks at A < B < C with distinct texts.
struct ThreeBlocks {
    TDbxWriter dbx;
    std::uint32_t a, b, c;
    ThreeBlocks() : a(dbx.NewBlockSlot()), b(dbx.NewBlockSlot()), c(dbx.NewBlockSlot()) {}
    void Link(std::uint32_t next_a, std::uint32_t next_b, std::uint32_t next_c) {
        dbx.PutLiveBlock(a, 6, next_a, "alpha.");
        dbx.PutLiveBlock(b, 5, next_b, "bravo");
        dbx.PutLiveBlock(c, 7, next_c, "charlie");
    }
};

}  // namespace

TEST_F(Assembly, ChainsInAnyFileOrderComeOutInChainOrder) {
    {
        ThreeBlocks t;  // ascending: a -> b -> c
        t.Link(t.b, t.c, 0);
        Open(t.dbx);
        EXPECT_EQ(Build(reader_.ScanMessageParts()), std::vector<std::string>{"alpha.bravocharlie"});
    }
    {
        ThreeBlocks t;  // descending: c -> b -> a, so every step is a prepend
        t.Link(0, t.a, t.b);
        Open(t.dbx);
        EXPECT_EQ(Build(reader_.ScanMessageParts()), std::vector<std::string>{"charliebravoalpha."});
    }
    {
        ThreeBlocks t;  // the first block lies between the second and the third: b -> a -> c
        t.Link(t.c, t.a, 0);
        Open(t.dbx);
        EXPECT_EQ(Build(reader_.ScanMessageParts()), std::vector<std::string>{"bravoalpha.charlie"});
    }
}

TEST_F(Assembly, UnrelatedChainsAndLoneBlocksGetFilesOfTheirOwn) {
    TDbxWriter dbx;
    std::uint32_t s[5];
    for (auto& x : s) x = dbx.NewBlockSlot();
    dbx.PutLiveBlock(s[0], 2, s[3], "A1");
    dbx.PutLiveBlock(s[1], 2, s[4], "B1");
    dbx.PutLiveBlock(s[2], 4, 0x7FFFFFF0, "LONE");  // names no block found
    dbx.PutLiveBlock(s[3], 2, 0, "A2");
    dbx.PutLiveBlock(s[4], 2, 0, "B2");
    Open(dbx);
    TMessagePartArray parts = reader_.ScanMessageParts();
    TMessageFiles files = reader_.BuildMessageFiles(parts);
    EXPECT_EQ(files, (TMessageFiles{MessageFile("msg1.tmp"), MessageFile("msg2.tmp"), MessageFile("msg3.tmp")}));
    EXPECT_EQ(Contents(files), (std::vector<std::string>{"A1A2", "B1B2", "LONE"}));
    for (const TMessagePart& p : parts) EXPECT_EQ(p.Visited, 1);
}

TEST_F(Assembly, DeletedBlocksLinkByEitherPointerAndCarryMarkers) {
    TDbxWriter dbx;
    std::uint32_t first = dbx.NewBlockSlot(), second = dbx.NewBlockSlot();
    // Only the second block's previous offset names the first.
    dbx.PutDeletedBlock(first, 0x11110, 0x22220, std::string(508, 'f'));
    dbx.PutDeletedBlock(second, 0, first, std::string(508, 's'));
    Open(dbx);
    std::vector<std::string> files = BuildDeleted(reader_.ScanDelMessageParts());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], "[??]" + std::string(508, 'f') + "[??]" + std::string(508, 's'));
    EXPECT_EQ(files[0].size(), 1024u);
    TDelMessagePartArray parts = reader_.ScanDelMessageParts();
    EXPECT_EQ(reader_.BuildDelMessageFiles(parts), TMessageFiles{MessageFile("delmsg1.tmp")});
}

TEST_F(Assembly, DeletedMessagesFollowOneAnotherInOneChain) {
    TDbxWriter dbx(11);
    dbx.ReserveScatteredSlots(12);
    int one = dbx.AddMessage(std::string(1200, '1'), corvane::testsupport::TBlockOrder::Scattered);
    int two = dbx.AddMessage(std::string(1300, '2'), corvane::testsupport::TBlockOrder::Scattered);
    dbx.DeleteMessage(one);
    dbx.DeleteMessage(two);
    Open(dbx);
    std::vector<std::string> files = BuildDeleted(reader_.ScanDelMessageParts());
    EXPECT_EQ(files, std::vector<std::string>{dbx.DeletedChainText(dbx.FreeList())});
    // The first four characters of each block are lost to the previous offset.
    EXPECT_EQ(files[0].substr(0, 12), "[??]11111111");
    EXPECT_EQ(files[0].size(), 6u * 512u);
}

TEST_F(Assembly, BlocksNamingEachOtherAreWrittenOnceAndNoBlockIsLost) {
    // a and b name each other as next (so b passes both tests and is
    // appended); c is linked to nothing.
    ThreeBlocks t;
    t.Link(t.b, t.a, 0);
    Open(t.dbx);
    TMessagePartArray parts = reader_.ScanMessageParts();
    EXPECT_EQ(Build(parts), (std::vector<std::string>{"alpha.bravo", "charlie"}));

    // A cycle of three: a -> c -> b -> a. The pass meets b first, which leads
    // to the head a and is prepended, then c, which continues the tail a.
    ThreeBlocks u;
    u.Link(u.c, u.a, u.b);
    Open(u.dbx);
    EXPECT_EQ(Build(reader_.ScanMessageParts()), std::vector<std::string>{"bravoalpha.charlie"});
}

TEST_F(Assembly, ASecondRunRewritesTheSameFiles) {
    ThreeBlocks t;
    t.Link(t.c, 0, t.b);
    Open(t.dbx);
    // A stale longer file of the same name is replaced, not overwritten in part.
    stdfs::create_directory(MessageFolder());
    stdfs::permissions(MessageFolder(), stdfs::perms::owner_all);
    WriteAll(MessageFile("msg1.tmp"), std::string(5000, 'z'));
    std::vector<std::string> first = Build(reader_.ScanMessageParts());
    std::vector<std::string> second = Build(reader_.ScanMessageParts());
    EXPECT_EQ(first, std::vector<std::string>{"alpha.charliebravo"});
    EXPECT_EQ(second, first);
}

TEST_F(Assembly, AMessageFileNamePlantedAsALinkIsNotFollowed) {
    ThreeBlocks t;
    t.Link(t.b, t.c, 0);
    Open(t.dbx);
    stdfs::create_directory(MessageFolder());
    stdfs::permissions(MessageFolder(), stdfs::perms::owner_all);
    const std::string victim = Scratch("victim.txt");
    WriteAll(victim, "keep me");
    if (!corvane::testsupport::MakeSymlink(victim, MessageFile("msg1.tmp")))
        GTEST_SKIP() << "this user may not make symbolic links here (Windows without the privilege)";
    EXPECT_EQ(Build(reader_.ScanMessageParts()), std::vector<std::string>{"alpha.bravocharlie"});
    EXPECT_EQ(ReadAll(victim), "keep me");
    EXPECT_FALSE(stdfs::is_symlink(MessageFile("msg1.tmp")));
}

TEST_F(Assembly, EqualsThePlainPassesOnRandomBlockSets) {
    // A folder file of random bytes gives every offset a text of its own.
    std::mt19937_64 random(20240611);
    std::string bytes(96 * 1024, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 7 == 0 ? 0 : 'a' + random() % 26);
    const std::string path = Scratch("random.dbx");
    WriteAll(path, bytes);
    reader_.OpenFolder(path);

    auto pick = [&random](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    for (int round = 0; round < 400; ++round) {
        const std::size_t n = 1 + pick(round < 200 ? 12 : 90);
        // Offsets from a small range make collisions and pointers to nothing likely.
        const std::uint32_t range = static_cast<std::uint32_t>(4 + pick(3 * n + 4));
        std::vector<std::uint32_t> offsets(n);
        for (auto& o : offsets) o = static_cast<std::uint32_t>(pick(range)) * 528u;
        if (round % 3 == 0) std::sort(offsets.begin(), offsets.end());
        auto pointer = [&]() -> std::uint32_t {
            switch (pick(6)) {
                case 0: return 0;                                                    // end of chain
                case 1: return static_cast<std::uint32_t>(pick(range + 3)) * 528u;  // maybe dangling
                case 2: return 0xFFFFFFF0u;                                          // outside the file
                default: return offsets[pick(n)];                                    // another block
            }
        };
        TMessagePartArray live(n);
        TDelMessagePartArray del(n);
        for (std::size_t i = 0; i < n; ++i) {
            live[i] = {offsets[i], static_cast<std::uint16_t>(pick(4) == 0 ? pick(1200) : pick(513)), pointer(), 0};
            del[i] = {offsets[i], 508, pointer(), pointer(), 0};
        }
        // Now and then a ring through all blocks, or everyone naming block 0.
        if (round % 17 == 0)
            for (std::size_t i = 0; i < n; ++i) live[i].NextOffset = del[i].NextOffset = offsets[(i + 1) % n];
        if (round % 23 == 0)
            for (std::size_t i = 0; i < n; ++i) live[i].NextOffset = del[i].PrevOffset = offsets[0];

        TMessagePartArray livePlain = live;
        TDelMessagePartArray delPlain = del;
        const std::vector<std::string> expectLive = PlainAssembly(reader_, livePlain);
        const std::vector<std::string> expectDel = PlainAssembly(reader_, delPlain);

        TMessageFiles liveFiles = reader_.BuildMessageFiles(live);
        ASSERT_EQ(Contents(liveFiles), expectLive) << "round " << round;
        EXPECT_EQ(live, livePlain) << "round " << round;  // every Visited set
        TMessageFiles delFiles = reader_.BuildDelMessageFiles(del);
        ASSERT_EQ(Contents(delFiles), expectDel) << "round " << round;
        EXPECT_EQ(del, delPlain) << "round " << round;

        // Every block once: the files hold exactly the sum of the block texts.
        std::size_t liveTotal = 0, delTotal = 0;
        for (const auto& p : live) liveTotal += p.DataLength;
        for (const auto& f : expectLive) liveTotal -= f.size();
        for (const auto& f : expectDel) delTotal += f.size();
        EXPECT_EQ(liveTotal, 0u);
        EXPECT_EQ(delTotal, n * 512);
        for (std::size_t i = 0; i < liveFiles.size(); ++i)
            EXPECT_EQ(liveFiles[i], MessageFile("msg" + std::to_string(i + 1) + ".tmp"));
    }
}

TEST_F(Assembly, ThousandsOfLoneBlocksEachGetAFile) {
    TDbxWriter dbx;
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
        std::uint32_t at = dbx.NewBlockSlot();
        std::string text = "block " + std::to_string(i);
        dbx.PutLiveBlock(at, static_cast<std::uint32_t>(text.size()), 0, text);
    }
    Open(dbx);
    std::vector<std::string> files = Build(reader_.ScanMessageParts());
    ASSERT_EQ(files.size(), static_cast<std::size_t>(n));
    for (int i = 0; i < n; i += 499) EXPECT_EQ(files[static_cast<std::size_t>(i)], "block " + std::to_string(i));
    EXPECT_EQ(files.back(), "block " + std::to_string(n - 1));
}

TEST_F(Assembly, ChainsLongerThanAWriteBatchComeOutWhole) {
    // Small messages around one of some 40 MB, so that the reader's write
    // batches end inside a chain and between chains.
    TDbxWriter dbx(21);
    std::vector<int> messages;
    auto small = [&](int i) { return "small message " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 700), '.'); };
    for (int i = 0; i < 50; ++i) messages.push_back(dbx.AddMessage(small(i)));
    std::string huge;
    for (int line = 0; huge.size() < (40u << 20); ++line) huge += "line " + std::to_string(line) + " of the long one\r\n";
    messages.push_back(dbx.AddMessage(huge, corvane::testsupport::TBlockOrder::Descending));
    for (int i = 50; i < 100; ++i) messages.push_back(dbx.AddMessage(small(i), corvane::testsupport::TBlockOrder::Scattered));
    Open(dbx);
    TMessagePartArray parts = reader_.ScanMessageParts();
    TMessageFiles files = reader_.BuildMessageFiles(parts);
    ASSERT_EQ(files.size(), messages.size());
    for (std::size_t i = 0; i < files.size(); ++i) ASSERT_EQ(ReadAll(files[i]), dbx.TextOf(messages[i])) << i;
    for (const TMessagePart& p : parts) ASSERT_EQ(p.Visited, 1);
}

namespace {

// Collects each chain's text.
class TCollectingSink : public TChainSink {
public:
    void BeginChain(std::size_t) override { chains.emplace_back(); }
    void ChainText(const char* data, std::size_t size) override { chains.back().append(data, size); }
    void EndChain() override {}
    std::vector<std::string> chains;
};

}  // namespace

// Enough blocks that the walk builds its indexes side by side: separate
// chains, their blocks shuffled through the file, come out whole, each in
// chain order, in the order of their lowest-placed blocks.
TEST_F(Assembly, ManyShuffledChainsComeOutWhole) {
    constexpr std::uint32_t kBlocks = 90000;
    std::mt19937 random(7);
    std::vector<std::uint32_t> slot(kBlocks);  // block b of the chain order sits in slot[b]
    std::iota(slot.begin(), slot.end(), 0u);
    std::shuffle(slot.begin(), slot.end(), random);
    auto offset = [](std::uint32_t s) { return 528u + s * 528u; };
    auto name = [](std::uint32_t b) {
        std::string text = std::to_string(b);
        return std::string(8 - text.size(), '0') + text;
    };
    // Chains of 1 to 6 consecutive blocks of the chain order.
    std::vector<std::uint32_t> chainEnd;
    for (std::uint32_t b = 0; b < kBlocks;) chainEnd.push_back(b = std::min<std::uint32_t>(kBlocks, b + 1 + static_cast<std::uint32_t>(random() % 6)));
    for (const bool deleted : {false, true}) {
        std::string bytes(528 + std::size_t{kBlocks} * 528, '\0');
        TMessagePartArray live(kBlocks);
        TDelMessagePartArray del(kBlocks);
        std::vector<std::string> expected;
        std::vector<std::pair<std::uint32_t, std::size_t>> lowest;  // each chain's lowest slot, and the chain
        for (std::uint32_t c = 0, first = 0; c < chainEnd.size(); first = chainEnd[c++]) {
            std::string text;
            std::uint32_t low = kBlocks;
            for (std::uint32_t b = first; b < chainEnd[c]; ++b) {
                const std::uint32_t s = slot[b];
                const std::uint32_t next = b + 1 < chainEnd[c] ? offset(slot[b + 1]) : 0;
                const std::uint32_t prev = b > first ? offset(slot[b - 1]) : 0;
                bytes.replace(offset(s) + (deleted ? 20 : 16), 8, name(b));
                live[s] = {offset(s), 8, next, 0};
                del[s] = {offset(s), 508, prev, next, 0};
                text += deleted ? "[??]" + name(b) + std::string(500, ' ') : name(b);
                low = std::min(low, s);
            }
            lowest.emplace_back(low, expected.size());
            expected.push_back(text);
        }
        std::sort(lowest.begin(), lowest.end());
        std::vector<std::string> ordered;
        for (const auto& l : lowest) ordered.push_back(expected[l.second]);

        const std::string path = Scratch("many.dbx");
        reader_.CloseFolder();
        WriteAll(path, bytes);
        reader_.OpenFolder(path);
        TCollectingSink sink;
        if (deleted) reader_.WalkChains(del, sink);
        else reader_.WalkChains(live, sink);
        ASSERT_EQ(sink.chains.size(), ordered.size()) << deleted;
        EXPECT_TRUE(sink.chains == ordered) << deleted;
    }
}
