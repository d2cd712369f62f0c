// Bad input to the folder reader: damaged and hostile folder files. Each
// ends with a complete result or a clear error; what was written before a
// failure stays, and nothing is written outside the temporary folder. (Special
// files, folder files changed while read and a full or read-only temporary
// folder: bad_inputs_posix.cpp.)

#include "BadInputSupport.h"
#include "support/TestFiles.h"

using namespace badinput;
using corvane::testsupport::kBlockSize;

namespace {

// The block scanner reads the file through windows of this size.
constexpr std::uint32_t kScanWindow = 4u << 20;
// The chain writer writes message files in batches of about this much text.
constexpr std::uint32_t kWriteBatch = 32u << 20;

std::string LiveHeader(std::uint32_t at, std::uint32_t length, std::uint32_t next) {
    return Le32(at) + Le32(0x200) + Le32(length) + Le32(next);
}

std::string DeletedHeader(std::uint32_t at, std::uint32_t next, std::uint32_t prev) {
    return Le32(at) + Le32(0x1FC) + Le32(kBlockSize) + Le32(next) + Le32(prev);
}

// Text as the reader writes it: NUL bytes as spaces.
std::string Spaced(std::string s) {
    for (char& c : s)
        if (c == '\0') c = ' ';
    return s;
}

class BadInput : public BadInputTest {};

// ---------------------------------------------------------------------------
// Damaged folder files

TEST_F(BadInput, AFolderFileCutInsideAHeaderOrABodyKeepsEverythingBefore) {
    TDbxWriter dbx;
    dbx.AddMessage(Mail("first", std::string(700, 'a')));
    dbx.AddMessage(Mail("second", "short"));
    const int third = dbx.AddMessage(Mail("third", std::string(900, 'c')));
    const std::vector<std::uint32_t> blocks = dbx.BlocksOf(third);
    ASSERT_EQ(blocks.size(), 2u);
    const std::uint32_t last = blocks[1];
    const std::string whole = dbx.LiveChainText(blocks);
    const std::string firstPart = dbx.LiveChainText({blocks[0]});

    // Cut inside the last block's header: that block is not found.
    for (std::uint32_t cut : {last + 1, last + 4, last + 8, last + 12, last + 15}) {
        WriteAll(Scratch("cut.dbx"), dbx.Bytes().substr(0, cut));
        Toutlookfile reader;
        const TEmailArray emails = reader.GetEmails(Scratch("cut.dbx"), true);
        EXPECT_EQ(Froms(emails), (std::vector<std::string>{" first", " second", " third"})) << cut;
        EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), dbx.TextOf(0));
        EXPECT_EQ(ReadAll(MessageFile("msg2.tmp")), dbx.TextOf(1));
        EXPECT_EQ(ReadAll(MessageFile("msg3.tmp")), firstPart) << cut;
    }
    // Cut inside its body: the bytes past the end read as spaces.
    for (std::uint32_t keep : {0u, 1u, 100u, 300u}) {
        const std::uint32_t cut = last + 16 + keep;
        WriteAll(Scratch("cut.dbx"), dbx.Bytes().substr(0, cut));
        Toutlookfile reader;
        EXPECT_EQ(reader.GetEmails(Scratch("cut.dbx"), true).size(), 3u);
        std::string expected = whole;
        const std::size_t lost = firstPart.size() + keep;
        expected.replace(lost, expected.size() - lost, expected.size() - lost, ' ');
        EXPECT_EQ(ReadAll(MessageFile("msg3.tmp")), expected) << keep;
    }
    // A deleted block cut inside its 20-byte header is not found either.
    TDbxWriter deleted;
    const std::uint32_t slot = deleted.NewBlockSlot();
    deleted.PutDeletedBlock(slot, 0, 0x40, "\r\nFrom: gone\r\n\r\n");
    for (std::uint32_t cut : {slot + 12, slot + 16, slot + 19}) {
        WriteAll(Scratch("cut.dbx"), deleted.Bytes().substr(0, cut));
        Toutlookfile reader;
        EXPECT_TRUE(reader.GetEmails(Scratch("cut.dbx"), true).empty()) << cut;
    }
    WriteAll(Scratch("cut.dbx"), deleted.Bytes().substr(0, slot + 20 + 16));  // its text's header line whole
    Toutlookfile reader;
    EXPECT_EQ(reader.GetEmails(Scratch("cut.dbx"), true).size(), 1u);
}

TEST_F(BadInput, BlockHeadersAcrossTheScannersReadWindowBorder) {
    for (bool live : {true, false}) {
        for (int delta = -24; delta <= 8; delta += 4) {
            TDbxWriter dbx;
            dbx.AddMessage(Mail("before", "b"));
            const std::uint32_t at = kScanWindow + static_cast<std::uint32_t>(delta);
            // A deleted block's text follows "[??]" in its message file, so
            // its first header line starts on the block's second line.
            const std::string text = "\r\nFrom: border\r\n\r\nat the border\r\n";
            if (live) dbx.PutLiveBlock(at, static_cast<std::uint32_t>(text.size()), 0, text);
            else dbx.PutDeletedBlock(at, 0, at + 4, text);
            dbx.PutLiveBlock(at + kBlockSize, 13, 0, "From: after\r\n");
            Toutlookfile reader;
            const TEmailArray emails = reader.GetEmails(Save(dbx), true);
            const auto expected = live ? std::vector<std::string>{" before", " border", " after"}
                                       : std::vector<std::string>{" before", " after", " border"};
            EXPECT_EQ(Froms(emails), expected) << (live ? "live " : "deleted ") << delta;
        }
    }
}

TEST_F(BadInput, BlocksAcrossAndBeyondFourGibibytesInASparseFile) {
    // A live block whose body crosses 4 GiB, and inside that body a deleted
    // block whose header crosses it; the live scan takes the first, the deleted
    // scan (which passes over live headers) the second.
    const std::uint64_t four = 0x100000000ull;
    const std::uint32_t live = 0xFFFFFF00u;
    const std::uint32_t deleted = 0xFFFFFFF8u;
    std::string image(0x400, '\0');  // the bytes from `live` on
    const std::string liveText = "From: across\r\n\r\n" + std::string(200, 'x') + "\r\n";
    image.replace(0, 16, LiveHeader(live, 512, 0));
    image.replace(16, liveText.size(), liveText);
    image.replace(deleted - live, 20, DeletedHeader(deleted, 0x10, 0x20));
    const std::string deletedText = "\r\nFrom: beyond\r\n\r\n";
    image.replace(deleted - live + 20, deletedText.size(), deletedText);
    const std::string path = Scratch("huge.dbx");
    corvane::testsupport::WriteAt(path, live, image);
    ASSERT_EQ(stdfs::file_size(path), four + 0x300);
    Toutlookfile reader;
    const TEmailArray emails = reader.GetEmails(path, true);
    // The live block's text holds the deleted block's, header line included.
    EXPECT_EQ(Froms(emails), (std::vector<std::string>{" across", " beyond", " beyond"}));
    EXPECT_EQ(emails[2].Deleted, 1);
    EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), Spaced(image.substr(16, 512)));
    EXPECT_EQ(ReadAll(MessageFile("delmsg1.tmp")), "[??]" + Spaced(image.substr(deleted - live + 20, 508)));
}

TEST_F(BadInput, DataLengthsOfZeroAndTheLargestOne) {
    // Nothing but blocks without text, alone and chained: empty message files.
    {
        TDbxWriter dbx;
        const std::uint32_t a = dbx.NewBlockSlot(), b = dbx.NewBlockSlot(), c = dbx.NewBlockSlot();
        dbx.PutLiveBlock(a, 0, b, "");
        dbx.PutLiveBlock(b, 0, 0, "");
        dbx.PutLiveBlock(c, 0, 0, "");
        Toutlookfile reader;
        EXPECT_TRUE(reader.GetEmails(Save(dbx), true).empty());
        EXPECT_EQ(MessageFilesOnDisk(), (std::vector<std::string>{"msg1.tmp", "msg2.tmp"}));
        EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), "");
    }
    // 0 and 65535 mixed in one chain that ends the file: the long block reads
    // through the blocks after it and past the end of the file.
    {
        TDbxWriter dbx;
        std::vector<std::uint32_t> chain;
        for (int i = 0; i < 4; ++i) chain.push_back(dbx.NewBlockSlot());
        dbx.PutLiveBlock(chain[0], 0, chain[1], "");
        dbx.PutLiveBlock(chain[1], 65535, chain[2], "From: long\r\n\r\n");
        dbx.PutLiveBlock(chain[2], 0, chain[3], "");
        dbx.PutLiveBlock(chain[3], 65535, 0, "tail");
        Toutlookfile reader;
        EXPECT_EQ(Froms(reader.GetEmails(Save(dbx), true)), std::vector<std::string>{" long"});
        const std::string text = ReadAll(MessageFile("msg1.tmp"));
        ASSERT_EQ(text.size(), 2u * 65535);
        EXPECT_EQ(text, dbx.LiveChainText(chain));
    }
    // Enough 65535-byte blocks to fill more than one write batch: one long
    // chain, then as many chains of one block.
    for (bool oneChain : {true, false}) {
        RemoveMessageFiles();
        TDbxWriter dbx;
        const std::uint32_t count = kWriteBatch / 65535 + 40;
        std::vector<std::uint32_t> blocks;
        for (std::uint32_t i = 0; i < count; ++i) blocks.push_back(dbx.NewBlockSlot());
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t next = oneChain && i + 1 < count ? blocks[i + 1] : 0;
            dbx.PutLiveBlock(blocks[i], i % 7 == 3 ? 0 : 65535, next, "block " + std::to_string(i) + " ");
        }
        dbx.PutBytes(dbx.End(), std::string(65536, 'z'));  // the last block's text lies in the file
        Toutlookfile reader;
        reader.GetEmails(Save(dbx), false);
        if (oneChain) {
            EXPECT_EQ(MessageFilesOnDisk(), std::vector<std::string>{"msg1.tmp"});
            EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), dbx.LiveChainText(blocks));
        } else {
            ASSERT_EQ(MessageFilesOnDisk().size(), count);
            for (std::uint32_t i = 0; i < count; i += 37)
                EXPECT_EQ(ReadAll(MessageFile("msg" + std::to_string(i + 1) + ".tmp")), dbx.LiveChainText({blocks[i]}))
                    << i;
            EXPECT_EQ(ReadAll(MessageFile("msg" + std::to_string(count) + ".tmp")),
                      dbx.LiveChainText({blocks.back()}));
        }
    }
}

TEST_F(BadInput, PointersToThemselvesEachOtherOutsideAndUnaligned) {
    struct Case {
        const char* what;
        // next offsets by block index; kSelf, kOut or another block's index
        std::vector<std::int64_t> next;
        std::vector<std::string> files;  // the message files' texts
    };
    constexpr std::int64_t kSelf = -1, kOut = -2, kUnaligned = -3, kEnd = -4;
    const Case cases[] = {
        {"to itself", {kSelf}, {"A"}},
        {"to each other", {1, 0}, {"AB"}},
        {"three in a ring", {1, 2, 0}, {"ABC"}},
        {"outside the file", {kOut, kOut}, {"A", "B"}},
        {"into the middle of a block", {kUnaligned, kEnd}, {"A", "B"}},
        {"two to one", {2, 2, kEnd}, {"AC", "B"}},
    };
    for (const Case& c : cases) {
        TDbxWriter dbx;
        std::vector<std::uint32_t> at;
        for (std::size_t i = 0; i < c.next.size(); ++i) at.push_back(dbx.NewBlockSlot());
        for (std::size_t i = 0; i < c.next.size(); ++i) {
            const std::int64_t n = c.next[i];
            const std::uint32_t next = n == kSelf ? at[i] : n == kOut ? 0xFFFFFFF0u : n == kUnaligned ? at[i] + 2 : n == kEnd ? 0 : at[static_cast<std::size_t>(n)];
            dbx.PutLiveBlock(at[i], 1, next, std::string(1, static_cast<char>('A' + i)));
        }
        Toutlookfile reader;
        reader.GetEmails(Save(dbx), false);
        std::vector<std::string> texts;
        for (std::size_t k = 1; k <= MessageFilesOnDisk().size(); ++k) texts.push_back(ReadAll(MessageFile("msg" + std::to_string(k) + ".tmp")));
        EXPECT_EQ(texts, c.files) << c.what;
        RemoveMessageFiles();
    }

    // Deleted blocks naming themselves, each other both ways, and positions
    // outside the file or between blocks: each block is written once.
    TDbxWriter dbx;
    const std::uint32_t a = dbx.NewBlockSlot(), b = dbx.NewBlockSlot(), c = dbx.NewBlockSlot();
    dbx.PutDeletedBlock(a, b, a, "one");
    dbx.PutDeletedBlock(b, a, a, "ignored: next and previous are equal");
    dbx.PutDeletedBlock(c, c + 2, 0xFFFFFFF0u, "three");
    Toutlookfile reader;
    reader.GetEmails(Save(dbx), true);
    EXPECT_EQ(ReadAll(MessageFile("delmsg1.tmp")), dbx.DeletedChainText({a}));
    EXPECT_EQ(ReadAll(MessageFile("delmsg2.tmp")), dbx.DeletedChainText({c}));
    EXPECT_FALSE(stdfs::exists(MessageFile("delmsg3.tmp")));
}

}  // namespace
