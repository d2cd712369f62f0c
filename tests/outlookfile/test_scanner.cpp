// The block scanner: which headers count as blocks, and how block bodies read
// as text.

#include <algorithm>
#include <random>

#include "ReaderTestSupport.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;

namespace {

class Scanner : public ReaderTest {
protected:
    // Opens the bytes as a folder file in the reader.
    void Open(const std::string& bytes) {
        path_ = Scratch("folder.dbx");
        reader_.CloseFolder();  // held without sharing, so on Windows it could not be rewritten
        WriteAll(path_, bytes);
        reader_.OpenFolder(path_);
    }
    void Open(const TDbxWriter& dbx) { Open(dbx.Bytes()); }

    std::vector<std::uint32_t> LiveOffsets() {
        std::vector<std::uint32_t> offsets;
        for (const TMessagePart& p : reader_.ScanMessageParts()) offsets.push_back(p.Offset);
        return offsets;
    }
    std::vector<std::uint32_t> DeletedOffsets() {
        std::vector<std::uint32_t> offsets;
        for (const TDelMessagePart& p : reader_.ScanDelMessageParts()) offsets.push_back(p.Offset);
        return offsets;
    }

    std::string path_;
    Toutlookfile reader_;
};

// A live block header: own offset, 512, data length, next.
std::string LiveHeader(std::uint32_t at, std::uint32_t length, std::uint32_t next) {
    return Le32(at) + Le32(512) + Le32(length) + Le32(next);
}

std::string Put(std::string bytes, std::size_t at, const std::string& what) {
    if (bytes.size() < at + what.size()) bytes.resize(at + what.size(), '\0');
    bytes.replace(at, what.size(), what);
    return bytes;
}

}  // namespace

TEST_F(Scanner, FilesTooShortForAHeaderHoldNoBlocks) {
    for (std::size_t size = 0; size <= 3; ++size) {
        Open(std::string(size, '\0'));
        EXPECT_TRUE(reader_.ScanMessageParts().empty()) << size;
        EXPECT_TRUE(reader_.ScanDelMessageParts().empty()) << size;
    }
    // A whole header with body size 512 needs 16 bytes; 15 do not make one.
    Open(LiveHeader(0, 3, 0).substr(0, 15));
    EXPECT_TRUE(reader_.ScanMessageParts().empty());
}

TEST_F(Scanner, OnlyPositionsThatAreMultiplesOfFourAreTested) {
    std::string bytes(0x1000, '\x55');
    bytes = Put(bytes, 0x402, LiveHeader(0x402, 10, 0));  // misaligned: never found
    bytes = Put(bytes, 0x800, LiveHeader(0x800, 10, 0));
    Open(bytes);
    EXPECT_EQ(LiveOffsets(), std::vector<std::uint32_t>{0x800});
}

TEST_F(Scanner, ABlockAtPositionZeroNeedsFourZeroBytesFirst) {
    Open(LiveHeader(0, 4, 0) + std::string(512, 'x'));
    EXPECT_EQ(LiveOffsets(), std::vector<std::uint32_t>{0});
    // A real folder file begins with its signature, so position 0 never holds a block.
    TDbxWriter dbx;
    Open(dbx);
    EXPECT_TRUE(reader_.ScanMessageParts().empty());
    EXPECT_TRUE(reader_.ScanDelMessageParts().empty());
}

TEST_F(Scanner, NothingInsideATakenBlockIsTested) {
    const std::uint32_t p = 0x1000;
    std::string bytes(0x2000, '\0');
    bytes = Put(bytes, p, LiveHeader(p, 512, 0));
    bytes = Put(bytes, p + 16, LiveHeader(p + 16, 512, 0));     // inside the first body
    bytes = Put(bytes, p + 528, LiveHeader(p + 528, 512, 0));   // right behind it
    Open(bytes);
    EXPECT_EQ(LiveOffsets(), (std::vector<std::uint32_t>{p, p + 528}));
}

TEST_F(Scanner, ARejectedCandidateIsScannedOnTwelveBytesLater) {
    const std::uint32_t p = 0x1000;
    std::string bytes(0x2000, '\0');
    bytes = Put(bytes, p, Le32(p) + Le32(500) + Le32(0));
    bytes = Put(bytes, p + 12, LiveHeader(p + 12, 7, 0));
    Open(bytes);
    EXPECT_EQ(LiveOffsets(), std::vector<std::uint32_t>{p + 12});
}

TEST_F(Scanner, DeletedBlocksNeedDifferentNextAndPreviousOffsets) {
    const std::uint32_t p = 0x1000;
    std::string bytes(0x3000, '\0');
    // next == previous (both 0): not a block; the scan goes on at p + 20.
    bytes = Put(bytes, p, Le32(p) + Le32(508) + Le32(528) + Le32(0) + Le32(0));
    bytes = Put(bytes, p + 20, Le32(p + 20) + Le32(508) + Le32(0) + Le32(0x2000) + Le32(0x40));
    // The field at position 8 is not read: the text is always the whole body.
    bytes = Put(bytes, 0x2000, Le32(0x2000) + Le32(508) + Le32(77) + Le32(0x1234) + Le32(0x1014));
    Open(bytes);
    TDelMessagePartArray parts = reader_.ScanDelMessageParts();
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0], (TDelMessagePart{p + 20, 508, 0x40, 0x2000, 0}));
    EXPECT_EQ(parts[1], (TDelMessagePart{0x2000, 508, 0x1014, 0x1234, 0}));
    EXPECT_TRUE(reader_.ScanMessageParts().empty());
}

TEST_F(Scanner, EachScanReadsThroughTheOtherKindsBlocks) {
    // A live header inside a deleted block's body, and a deleted header inside a live one's.
    const std::uint32_t del = 0x1000, live = 0x2000;
    std::string bytes(0x3000, '\0');
    bytes = Put(bytes, del, Le32(del) + Le32(508) + Le32(528) + Le32(0) + Le32(0x10));
    bytes = Put(bytes, del + 100, LiveHeader(del + 100, 5, 0));
    bytes = Put(bytes, live, LiveHeader(live, 5, 0));
    bytes = Put(bytes, live + 200, Le32(live + 200) + Le32(508) + Le32(528) + Le32(1) + Le32(2));
    Open(bytes);
    EXPECT_EQ(LiveOffsets(), (std::vector<std::uint32_t>{del + 100, live}));
    EXPECT_EQ(DeletedOffsets(), (std::vector<std::uint32_t>{del, live + 200}));
}

TEST_F(Scanner, OnlyTheLowSixteenBitsOfTheDataLengthCount) {
    std::string bytes = Put(std::string(0x100, '\0'), 0x40, LiveHeader(0x40, 65541, 0x99) + "HelloWorld");
    Open(bytes);
    TMessagePartArray parts = reader_.ScanMessageParts();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0], (TMessagePart{0x40, 5, 0x99, 0}));
    EXPECT_EQ(reader_.ReadMessagePart(parts[0]), "Hello");
}

TEST_F(Scanner, TextTurnsNulBytesIntoSpacesAndStopsNowhereElse) {
    EXPECT_EQ(Toutlookfile::BufferToText(TBuffer{65, 0, 66}), "A B");
    EXPECT_EQ(Toutlookfile::BufferToText(TBuffer{}), "");
    TBuffer all(256);
    for (int b = 0; b < 256; ++b) all[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b);
    std::string text = Toutlookfile::BufferToText(all);
    ASSERT_EQ(text.size(), 256u);
    EXPECT_EQ(text[0], ' ');
    for (int b = 1; b < 256; ++b) EXPECT_EQ(static_cast<unsigned char>(text[static_cast<std::size_t>(b)]), b);
}

TEST_F(Scanner, ABodyCutOffByTheEndOfTheFileReadsAsSpaces) {
    // Header whole, body cut: the block is taken and its text padded.
    std::string bytes = Put(std::string(0x40, '\0'), 0x40, LiveHeader(0x40, 20, 0) + "abc");
    Open(bytes);
    TMessagePartArray parts = reader_.ScanMessageParts();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(reader_.ReadMessagePart(parts[0]), "abc" + std::string(17, ' '));

    // A data length past the body runs on into whatever follows, up to 65535.
    bytes = Put(std::string(0x40, '\0'), 0x40, LiveHeader(0x40, 65535, 0) + std::string(512, 'a') + "tail");
    Open(bytes);
    parts = reader_.ScanMessageParts();
    ASSERT_EQ(parts.size(), 1u);
    std::string text = reader_.ReadMessagePart(parts[0]);
    EXPECT_EQ(text, std::string(512, 'a') + "tail" + std::string(65535 - 516, ' '));

    // A deleted header cut off inside its 20 bytes is not taken.
    Open(Put(std::string(0x40, '\0'), 0x40, Le32(0x40) + Le32(508) + Le32(528) + Le32(4)));
    EXPECT_TRUE(reader_.ScanDelMessageParts().empty());
}

TEST_F(Scanner, DeletedTextIsTheWhole508ByteBody) {
    TDbxWriter dbx;
    std::uint32_t at = dbx.NewBlockSlot();
    std::string body(508, 'q');
    body[0] = 'S';
    body[507] = 'E';
    body[100] = '\0';
    dbx.PutDeletedBlock(at, 0, 0x10, body);
    Open(dbx);
    TDelMessagePartArray parts = reader_.ScanDelMessageParts();
    ASSERT_EQ(parts.size(), 1u);
    std::string expected = body;
    expected[100] = ' ';
    EXPECT_EQ(reader_.ReadDelMessagePart(parts[0]), expected);
}

TEST_F(Scanner, AFolderFileYieldsExactlyItsMessageBlocks) {
    TDbxWriter dbx(7);
    std::vector<std::uint32_t> infos;
    for (int i = 0; i < 5; ++i) infos.push_back(dbx.AddMessageInfo("record " + std::string(static_cast<std::size_t>(i * 250), 'r')));
    dbx.AddIndexNode(infos);
    dbx.ReserveScatteredSlots(30);
    std::vector<int> messages;
    for (int i = 0; i < 8; ++i)
        messages.push_back(dbx.AddMessage(std::string(static_cast<std::size_t>(300 + 400 * i), static_cast<char>('a' + i)),
                                          static_cast<TBlockOrder>(i % 3)));
    dbx.DeleteMessage(messages[2]);
    dbx.DeleteMessage(messages[5]);
    dbx.AddMessage("reuses a freed block", TBlockOrder::Ascending, true);
    dbx.AddIndexNode();
    Open(dbx);

    std::vector<std::uint32_t> live, deleted = dbx.FreeList();
    for (std::size_t m = 0; m < dbx.MessageCount(); ++m)
        if (!dbx.IsDeleted(static_cast<int>(m))) live.insert(live.end(), dbx.BlocksOf(static_cast<int>(m)).begin(), dbx.BlocksOf(static_cast<int>(m)).end());
    std::sort(live.begin(), live.end());
    std::sort(deleted.begin(), deleted.end());
    EXPECT_EQ(LiveOffsets(), live);
    EXPECT_EQ(DeletedOffsets(), deleted);

    // Every descriptor carries the header's fields, Visited clear.
    for (const TMessagePart& p : reader_.ScanMessageParts()) {
        EXPECT_EQ(p.Visited, 0);
        EXPECT_LE(p.DataLength, 512);
    }
}

TEST_F(Scanner, ScansStartOverAndMayRunInEitherOrder) {
    TDbxWriter dbx(3);
    int a = dbx.AddMessage(std::string(1500, 'a'));
    dbx.AddMessage(std::string(900, 'b'), TBlockOrder::Descending);
    dbx.DeleteMessage(a);
    Open(dbx);
    TDelMessagePartArray deleted = reader_.ScanDelMessageParts();
    TMessagePartArray live = reader_.ScanMessageParts();
    // A read between scans moves nothing that a later scan depends on.
    reader_.ReadDelMessagePart(deleted.at(0));
    EXPECT_EQ(reader_.ScanMessageParts(), live);
    EXPECT_EQ(reader_.ScanDelMessageParts(), deleted);
    EXPECT_EQ(live.size(), 2u);
    EXPECT_EQ(deleted.size(), 3u);
}

TEST_F(Scanner, NoBlockIsFoundAtOrBeyondFourGibibytes) {
    // A sparse file a little over 4 GiB: one block low in the file, and one
    // past 4 GiB whose self offset equals its position taken modulo 2^32.
    const std::string path = Scratch("huge.dbx");
    const std::uint64_t beyond = 0x100000000ull + 0x4000;
    corvane::testsupport::WriteAt(path, 0x4000, LiveHeader(0x4000, 3, 0) + "low");
    corvane::testsupport::WriteAt(path, beyond, LiveHeader(0x4000, 4, 0) + "high");
    corvane::testsupport::WriteAt(path, beyond + 0x1000 - 1, std::string(1, '\0'));
    reader_.OpenFolder(path);
    TMessagePartArray parts = reader_.ScanMessageParts();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(reader_.ReadMessagePart(parts[0]), "low");
}

namespace {

std::uint32_t WordAt(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)]);
    return v;
}

// The scan of one kind as the format describes it, position by position:
// every multiple of 4 whose header fits is tested; a block is taken whole,
// any other header with a matching self offset is passed by 12 bytes (a
// deleted one with equal links by 20).
std::vector<std::uint32_t> ModelScan(const std::string& bytes, bool deleted) {
    std::vector<std::uint32_t> found;
    const std::size_t header = deleted ? 20 : 16;
    std::size_t p = 0;
    while (p + header <= bytes.size()) {
        if (WordAt(bytes, p) != p) {
            p += 4;
        } else if (WordAt(bytes, p + 4) != (deleted ? 508u : 512u)) {
            p += 12;
        } else if (deleted && WordAt(bytes, p + 12) == WordAt(bytes, p + 16)) {
            p += 20;
        } else {
            found.push_back(static_cast<std::uint32_t>(p));
            p += 528;
        }
    }
    return found;
}

}  // namespace

// Headers of both kinds packed close together, overlapping each other and
// the window the file is read through, and files ending at every byte
// around a header: each scan, and the one pass for both kinds, finds what
// the position-by-position scan finds.
TEST_F(Scanner, OnePassFindsWhatEachKindsScanFinds) {
    std::mt19937 random(5);
    std::string bytes(700000, '\0');
    for (auto& c : bytes) c = static_cast<char>(random() % 4 == 0 ? random() : 0);
    const std::uint32_t bodies[] = {512, 508, 508, 7};
    std::vector<std::size_t> planted;
    for (int i = 0; i < 6000; ++i) {
        const std::size_t at = (random() % (bytes.size() - 20)) & ~std::size_t{3};
        const std::uint32_t next = random() % 3 == 0 ? 0x40u : static_cast<std::uint32_t>(random());
        const std::uint32_t prev = random() % 3 == 0 ? next : static_cast<std::uint32_t>(random());
        bytes.replace(at, 20, Le32(static_cast<std::uint32_t>(at)) + Le32(bodies[random() % 4]) + Le32(random()) +
                                  Le32(next) + Le32(prev));
        planted.push_back(at);
    }
    std::vector<std::size_t> lengths = {bytes.size()};
    for (int i = 0; i < 6; ++i) {
        std::size_t at = 0;
        while (at < 300000) at = planted[random() % planted.size()];  // past the first windows
        for (std::size_t cut = 12; cut <= 24; cut += 4) lengths.push_back(at + cut);
    }
    for (const std::size_t length : lengths) {
        const std::string file = bytes.substr(0, length);
        Open(file);
        TMessagePartArray live;
        TDelMessagePartArray deleted;
        reader_.ScanAllParts(live, &deleted);
        std::vector<std::uint32_t> liveAt, deletedAt;
        for (const TMessagePart& p : live) liveAt.push_back(p.Offset);
        for (const TDelMessagePart& p : deleted) deletedAt.push_back(p.Offset);
        const auto expectedLive = ModelScan(file, false), expectedDeleted = ModelScan(file, true);
        ASSERT_GT(expectedLive.size(), 100u);
        ASSERT_GT(expectedDeleted.size(), 100u);
        EXPECT_EQ(liveAt, expectedLive) << length;
        EXPECT_EQ(deletedAt, expectedDeleted) << length;
        EXPECT_EQ(reader_.ScanMessageParts(), live) << length;
        EXPECT_EQ(reader_.ScanDelMessageParts(), deleted) << length;
    }
}
