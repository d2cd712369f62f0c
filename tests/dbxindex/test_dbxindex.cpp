// The index readers on files laid out as the format's documentation says:
// header fields at 0x04, 0xC4, 0xE4 and the folder name at +0x105 of the
// file information; nodes of 0x27C bytes; records of 12 + L bytes.

#include <gtest/gtest.h>

#include <numeric>

#include "dbxindex/DbxFileHeader.h"
#include "dbxindex/IndexRecord.h"
#include "dbxindex/IndexTree.h"
#include "dbxindex/MessageIndex.h"
#include "dbxindex/MessageProperties.h"
#include "dbxindex/Store.h"
#include "support/DbxFixture.h"
#include "support/StoreFixture.h"
#include "support/TestFiles.h"

using namespace corvane::dbx;
using namespace corvane::testsupport;

namespace {

std::vector<std::uint32_t> Records(TDbxWriter& dbx, std::size_t n) {
    std::vector<std::uint32_t> records;
    for (std::size_t i = 0; i < n; ++i)
        records.push_back(dbx.AddIndexRecord({InlineProperty(0x00, static_cast<std::uint32_t>(i))}));
    return records;
}

TEST(DbxFileHeader, TellsTheKindCountRootAndFolderName) {
    TDbxWriter folder(1);
    folder.PutFileInfo("Sent Items");
    folder.PutU32(0xC4, 7);
    folder.PutU32(0xE4, 0x3000);
    const TDbxFileHeader h = ReadFileHeader(TMemorySource(folder.Bytes()));
    EXPECT_EQ(h.Kind, TFileKind::MessageFolder);
    EXPECT_EQ(h.RecordCount, 7u);
    EXPECT_EQ(h.RootNode, 0x3000u);
    EXPECT_EQ(h.FolderName, "Sent Items");

    TDbxWriter list(1);
    list.SetKind(0x6F74FDC6);
    EXPECT_EQ(ReadFileHeader(TMemorySource(list.Bytes())).Kind, TFileKind::FolderList);
    list.SetKind(0x12345678);
    EXPECT_EQ(ReadFileHeader(TMemorySource(list.Bytes())).Kind, TFileKind::Other);
    EXPECT_EQ(ReadFileHeader(TMemorySource(std::string(0x100, 'x'))).Kind, TFileKind::NotDbx);

    // A name without its NUL inside the file information is no name.
    TDbxWriter cut(1);
    cut.PutFileInfo("Drafts");
    cut.PutU32(0x1C, 0x105 + 3);
    EXPECT_EQ(ReadFileHeader(TMemorySource(cut.Bytes())).FolderName, "");
}

TEST(IndexTree, GivesEveryValueInOrderOverSeveralLevels) {
    for (const auto& [count, perNode] : std::vector<std::pair<std::size_t, unsigned>>{
             {0, 0x33}, {1, 0x33}, {0x33, 0x33}, {0x34, 0x33}, {3000, 0x33}, {100, 3}, {7, 1}}) {
        TDbxWriter dbx(2);
        const auto records = Records(dbx, count);
        const std::uint32_t root = dbx.AddIndexTree(records, perNode);
        const TTreeWalk walk = WalkIndexTree(TMemorySource(dbx.Bytes()), root, static_cast<std::uint32_t>(count));
        EXPECT_TRUE(walk.Complete) << count << "/" << perNode << ": " << walk.Problem;
        EXPECT_EQ(walk.Values, records) << count << "/" << perNode;
        if (count > perNode) {
            EXPECT_GT(dbx.TreeNodes().size(), 1u);
        }
    }
}

// Each hostile tree stops the walk with a reason; what it gave is a true
// prefix of the values, never a value twice.
TEST(IndexTree, StopsAtEveryHostileValue) {
    struct Case {
        const char* name;
        std::function<void(TDbxWriter&, const std::vector<std::uint32_t>&)> spoil;
        std::uint32_t expectedDelta;  // added to the count the walk is told
        const char* why;
    };
    const std::vector<Case> cases = {
        {"a cycle: a child names the root", [](TDbxWriter& d, const auto&) {
             d.PutU32(d.TreeNodes()[1] + 0x08ull, d.TreeNodes()[0]);
             d.PutU32(d.TreeNodes()[1] + 0x14ull, 1);
         }, 0, "reached twice"},
        {"the header's count lies", [](TDbxWriter&, const auto&) {}, 5, "values where"},
        {"a child's count lies", [](TDbxWriter& d, const auto&) { d.PutU32(d.TreeNodes()[0] + 0x14ull, 2); }, 0,
         "values where"},
        {"a child past the end", [](TDbxWriter& d, const auto&) { d.PutU32(d.TreeNodes()[0] + 0x08ull, 0x7FFFFF00); }, 0,
         "past the end"},
        {"a node without its own offset", [](TDbxWriter& d, const auto&) { d.PutU32(d.TreeNodes()[1], 4); }, 0,
         "own offset"},
        {"a node naming another parent", [](TDbxWriter& d, const auto&) { d.PutU32(d.TreeNodes()[1] + 0x0Cull, 8); }, 0,
         "parent"},
        {"too many entries", [](TDbxWriter& d, const auto&) { d.PutBytes(d.TreeNodes()[1] + 0x11ull, "\x34"); }, 0,
         "entries"},
        {"a counted child that is not there", [](TDbxWriter& d, const auto&) {
             d.PutU32(d.TreeNodes()[0] + 0x08ull, 0);
         }, 0, "does not have"},
    };
    for (const Case& c : cases) {
        TDbxWriter dbx(3);
        const auto records = Records(dbx, 60);
        const std::uint32_t root = dbx.AddIndexTree(records, 3);
        c.spoil(dbx, records);
        const TTreeWalk walk = WalkIndexTree(TMemorySource(dbx.Bytes()), root, 60 + c.expectedDelta);
        EXPECT_FALSE(walk.Complete) << c.name;
        EXPECT_NE(walk.Problem.find(c.why), std::string::npos) << c.name << ": " << walk.Problem;
        ASSERT_LE(walk.Values.size(), 64u) << c.name;
        std::vector<std::uint32_t> sorted = walk.Values;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << c.name;
    }
    // Two entries sharing a child: the child is reached twice.
    TDbxWriter dbx(3);
    const auto records = Records(dbx, 60);
    const std::uint32_t root = dbx.AddIndexTree(records, 3);
    const std::uint64_t entry0 = root + 0x18ull, entry1 = entry0 + 12;
    std::uint32_t child0 = 0, count0 = 0;
    {
        const std::string& b = dbx.Bytes();
        const auto u32 = [&](std::uint64_t at) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
        };
        child0 = u32(entry0 + 4);
        count0 = u32(entry0 + 8);
    }
    dbx.PutU32(entry1 + 4, child0);
    dbx.PutU32(entry1 + 8, count0);
    const TTreeWalk walk = WalkIndexTree(TMemorySource(dbx.Bytes()), root, 60);
    EXPECT_FALSE(walk.Complete);
    EXPECT_NE(walk.Problem.find("reached twice"), std::string::npos) << walk.Problem;

    // A count larger than the file has room for is refused before any walk.
    const TTreeWalk huge = WalkIndexTree(TMemorySource(dbx.Bytes()), root, 0xFFFFFFF0u);
    EXPECT_FALSE(huge.Complete);
    EXPECT_TRUE(huge.Values.empty());
    // No root: an empty tree, complete only when nothing was counted.
    EXPECT_TRUE(WalkIndexTree(TMemorySource(dbx.Bytes()), 0, 0).Complete);
    EXPECT_FALSE(WalkIndexTree(TMemorySource(dbx.Bytes()), 0, 3).Complete);
}

TEST(IndexRecord, ReadsInlineAndDataValuesToTheNextOffset) {
    TDbxWriter dbx(4);
    const std::uint32_t at = dbx.AddIndexRecord({InlineProperty(0x00, 0x123456), TextProperty(0x05, "hello"),
                                                 DataProperty(0x07, std::string("ab\0cd", 5)),
                                                 U32Property(0x12, 0xDEADBEEF)});
    const TRecordRead read = ReadIndexRecord(TMemorySource(dbx.Bytes()), at);
    ASSERT_TRUE(read.Record) << read.Problem;
    const TIndexRecord& r = *read.Record;
    EXPECT_EQ(r.Integer(0x00), 0x123456u);
    EXPECT_EQ(r.Text(0x05), "hello");
    EXPECT_EQ(r.DataOf(*r.Find(0x07)), std::string_view("ab\0cd", 5));
    EXPECT_EQ(r.Text(0x07), "ab");
    EXPECT_EQ(r.Integer(0x12), 0xDEADBEEFu);
    EXPECT_EQ(r.Find(0x06), nullptr);
    EXPECT_EQ(r.Integer(0x06), std::nullopt);
    EXPECT_EQ(r.Text(0x00), "");  // inline: no text
}

TEST(IndexRecord, RefusesHostileRecords) {
    struct Case {
        const char* name;
        std::function<void(TDbxWriter&, std::uint32_t)> spoil;
        const char* why;
    };
    const std::vector<Case> cases = {
        {"no own offset", [](TDbxWriter& d, std::uint32_t at) { d.PutU32(at, at + 4); }, "own offset"},
        {"L too large", [](TDbxWriter& d, std::uint32_t at) { d.PutU32(at + 4ull, 0x7FFFFFFF); }, "body of"},
        {"L past the end", [](TDbxWriter& d, std::uint32_t at) { d.PutU32(at + 4ull, 0x8000); }, "past the end"},
        {"k too large", [](TDbxWriter& d, std::uint32_t at) { d.PutBytes(at + 0x0Aull, "\xFF"); }, "property words"},
        {"a data offset past the data", [](TDbxWriter& d, std::uint32_t at) { d.PutBytes(at + 12ull + 5, "\x70"); },
         "past its data"},
        {"numbers out of order", [](TDbxWriter& d, std::uint32_t at) { d.PutBytes(at + 12ull, "\x89"); }, "out of order"},
    };
    for (const Case& c : cases) {
        TDbxWriter dbx(4);
        const std::uint32_t at = dbx.AddIndexRecord({InlineProperty(0x01, 1), TextProperty(0x05, "subject")});
        c.spoil(dbx, at);
        const TRecordRead read = ReadIndexRecord(TMemorySource(dbx.Bytes()), at);
        EXPECT_FALSE(read.Record) << c.name;
        EXPECT_NE(read.Problem.find(c.why), std::string::npos) << c.name << ": " << read.Problem;
    }
    TDbxWriter dbx(4);
    EXPECT_FALSE(ReadIndexRecord(TMemorySource(dbx.Bytes()), 0x7FFFFFF0).Record);
}

TEST(MessageProperties, GiveFlagsDatesAndTexts) {
    TDbxWriter dbx(5);
    const std::uint32_t at = dbx.AddIndexRecord(
        {InlineProperty(0x01, 0x80 | 0x4000 | 0x80000), DateProperty(0x02, 2003, 12, 31, 23, 59, 58),
         U32Property(0x04, 0x12345678), TextProperty(0x07, "<id@host>"), TextProperty(0x08, "Re: hi"),
         TextProperty(0x0A, "<parent@host>"), TextProperty(0x0D, "Ann"), TextProperty(0x0E, "ann@example.com"),
         InlineProperty(0x10, 1), DateProperty(0x12, 2004, 2, 29, 1, 2, 3), TextProperty(0x1A, "pop.example.com")});
    const TIndexEntry e = MessageEntry(*ReadIndexRecord(TMemorySource(dbx.Bytes()), at).Record);
    EXPECT_EQ(e.FirstBlock, 0x12345678u);
    EXPECT_TRUE(e.HasFlags);
    EXPECT_EQ(FlagNames(e.Flags), (std::vector<std::string>{"read", "attachment", "answered"}));
    EXPECT_EQ(FileTimeToIso(e.SentTime), "2003-12-31T23:59:58Z");
    EXPECT_EQ(FileTimeToIso(e.ReceivedTime), "2004-02-29T01:02:03Z");
    EXPECT_EQ(e.SavedTime, 0u);
    EXPECT_EQ(e.MessageId, "<id@host>");
    EXPECT_EQ(e.ReplyToId, "<parent@host>");
    EXPECT_EQ(e.Subject, "Re: hi");
    EXPECT_EQ(e.SenderName, "Ann");
    EXPECT_EQ(e.SenderAddress, "ann@example.com");
    EXPECT_EQ(e.Priority, 1);
    EXPECT_EQ(e.Account, "pop.example.com");

    // Every property missing: nothing made up.
    const std::uint32_t bare = dbx.AddIndexRecord({});
    const TIndexEntry none = MessageEntry(*ReadIndexRecord(TMemorySource(dbx.Bytes()), bare).Record);
    EXPECT_EQ(none, TIndexEntry{});
    EXPECT_EQ(FlagNames(0x08 | 0x20 | 0x1000 | 0x100000 | 0x400000 | 0x800000),
              (std::vector<std::string>{"forwarded", "draft", "marked", "signed", "watched", "ignored"}));
    EXPECT_EQ(FileTimeToMailDate(0x1C43338E2D4D280ull), "Thu, 06 May 2004 07:08:09 +0000");
}

TEST(MessageIndex, ReadsEveryEntryOrTellsWhyNot) {
    TDbxWriter dbx = IndexedFolderFile({PlainMessage("a@x", "one", "1"), PlainMessage("b@x", "two", "2")});
    const TMessageIndex index = ReadMessageIndex(TMemorySource(dbx.Bytes()));
    EXPECT_TRUE(index.Usable) << index.Problem;
    ASSERT_EQ(index.Entries.size(), 2u);
    EXPECT_EQ(index.Entries[0]->FirstBlock, dbx.BlocksOf(0).front());
    EXPECT_EQ(index.Entries[1]->MessageId, "<2@fixture>");
    EXPECT_EQ(index.Header.FolderName, "Inbox");
    const TEntryLookup lookup(index);
    ASSERT_NE(lookup.Find(dbx.BlocksOf(1).front()), nullptr);
    EXPECT_EQ((*lookup.Find(dbx.BlocksOf(1).front()))->MessageId, "<2@fixture>");
    EXPECT_EQ(lookup.Find(dbx.BlocksOf(1).front() + 16), nullptr);

    TDbxWriter plain(1);
    plain.AddMessage(PlainMessage("a@x", "one", "1"));
    const TMessageIndex none = ReadMessageIndex(TMemorySource(plain.Bytes()));
    EXPECT_FALSE(none.Usable);
    EXPECT_EQ(none.Problem, "the folder file has no index");

    // A damaged record: the entries before it are kept.
    const std::uint32_t second = dbx.AddMessageRecord(1);
    const std::uint32_t first = dbx.AddMessageRecord(0);
    dbx.AddIndexTree({first, second});
    dbx.PutU32(second, 0);
    const TMessageIndex damaged = ReadMessageIndex(TMemorySource(dbx.Bytes()));
    EXPECT_FALSE(damaged.Usable);
    EXPECT_EQ(damaged.Entries.size(), 1u);
    EXPECT_NE(damaged.Problem.find("own offset"), std::string::npos);
}

TEST(Store, NamesNestedRenamedSpecialAndMissingFolders) {
    TScratchFolder dir;
    WriteStore(dir.Path(), {
        {1, 0, "Local Folders", "", "", {}, 0, 0, true},
        {2, 1, "Inbox", "Inbox.dbx", "", {PlainMessage("a@x", "hi", "1")}, 1, 1, true},
        {3, 2, "Family", "Folder1.dbx", "New Folder", {PlainMessage("m@x", "dinner", "2")}, 0, 0, true},
        {4, 1, "Sent Items", "Sent Items.dbx", "", {}, 0, 3, true},
        {5, 1, "Old", "Folder2.dbx", "", {}, 0, 0, false},
    });
    // A mail folder file that the list does not name.
    IndexedFolderFile({PlainMessage("z@x", "stray", "3")}, "Stray").Save(dir / "Folder9.dbx");
    ASSERT_TRUE(IsStoreFolder(dir.Path()));
    const TStore store = ReadStore(dir.Path());
    EXPECT_EQ(store.Problem, "");
    std::vector<std::string> paths;
    for (const TStoreFolder& f : store.Folders) paths.push_back(PathText(f.Path));
    EXPECT_EQ(paths, (std::vector<std::string>{"Local Folders", "Local Folders/Inbox", "Local Folders/Inbox/Family",
                                               "Local Folders/Sent Items", "Local Folders/Old", "Stray"}));
    EXPECT_EQ(store.Folders[1].Properties.Special, TSpecialFolder::Inbox);
    EXPECT_EQ(store.Folders[1].Properties.UnreadCount, 1u);
    EXPECT_EQ(store.Folders[1].Properties.MessageCount, 1u);
    EXPECT_EQ(store.Folders[3].Properties.Special, TSpecialFolder::SentItems);
    EXPECT_TRUE(store.Folders[0].FilePath.empty());
    EXPECT_FALSE(store.Folders[0].FileMissing);
    EXPECT_TRUE(store.Folders[4].FileMissing);
    EXPECT_FALSE(store.Folders[5].Listed);
    EXPECT_EQ(store.Folders[2].FilePath, dir / "Folder1.dbx");
}

TEST(Store, ADamagedFolderListNamesFilesByTheirOwnNames) {
    TScratchFolder dir;
    WriteStore(dir.Path(), {{1, 0, "Renamed", "Folder1.dbx", "Created As", {PlainMessage("a@x", "hi", "1")}, 0, 0, true}});
    // Spoil the tree's root.
    TDbxWriter broken(7);
    broken.SetKind(0x6F74FDC6);
    broken.PutU32(0xC4, 2);
    broken.PutU32(0xE4, 0x7FFFFF00);
    broken.Save(dir / "Folders.dbx");
    const TStore store = ReadStore(dir.Path());
    EXPECT_NE(store.Problem, "");
    ASSERT_EQ(store.Folders.size(), 1u);
    EXPECT_EQ(PathText(store.Folders[0].Path), "Created As");

    // A loop of parents and a parent that is not there are told, and every folder is still listed.
    TScratchFolder loop;
    WriteStore(loop.Path(), {{1, 2, "A", "a.dbx", "", {}, 0, 0, true}, {2, 1, "B", "b.dbx", "", {}, 0, 0, true},
                             {3, 99, "Orphan", "c.dbx", "", {}, 0, 0, true}});
    const TStore looped = ReadStore(loop.Path());
    EXPECT_NE(looped.Problem, "");
    EXPECT_EQ(looped.Folders.size(), 3u);
}

}  // namespace

namespace {

// The paged source gives the bytes the source holds, across page bounds and
// at the end, whatever the order of the reads.
TEST(PagedSource, GivesTheSameBytesAsItsSource) {
    std::string bytes(TPagedSource::kPageBytes * 3 + 123, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    const TMemorySource plain(bytes);
    const TPagedSource paged(plain);
    EXPECT_EQ(paged.Size(), plain.Size());
    const std::pair<std::int64_t, std::size_t> reads[] = {
        {0, 16}, {static_cast<std::int64_t>(TPagedSource::kPageBytes) - 5, 20}, {3, TPagedSource::kPageBytes * 2 + 9},
        {static_cast<std::int64_t>(bytes.size()) - 10, 40}, {static_cast<std::int64_t>(bytes.size()), 4}, {-4, 8},
        {static_cast<std::int64_t>(TPagedSource::kPageBytes) * 33, 8}, {100, 12}};
    for (const auto& [offset, n] : reads) {
        std::string a(n, 'x'), b(n, 'x');
        const std::size_t gotA = plain.ReadAt(offset, a.data(), n);
        const std::size_t gotB = paged.ReadAt(offset, b.data(), n);
        EXPECT_EQ(gotA, gotB) << offset;
        EXPECT_EQ(a.substr(0, gotA), b.substr(0, gotB)) << offset;
    }
}

}  // namespace
