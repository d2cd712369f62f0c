// Records and the folder file's own index, on folder files whose index is
// laid out as the format's documentation says (tree at 0xE4, one record per
// message naming its first block in property 0x04). Both reads, GetEmails
// (the window's) and TChainRead (the command line's), give the same records.

#include <algorithm>

#include "ReaderTestSupport.h"
#include "chainread/ChainRead.h"
#include "dbxindex/IndexRecord.h"
#include "support/DbxFixture.h"
#include "support/StoreFixture.h"

using namespace readertest;
namespace support = corvane::testsupport;

namespace {

const std::string kQuoting = support::PlainMessage(
    "ann@example.com", "quoting",
    "see below\r\n\r\n-----Original Message-----\r\nFrom: bob@example.com\r\nTo: ann@example.com\r\n"
    "Subject: the first\r\nDate: Mon, 3 May 2004 10:00:00 +0000\r\n\r\nold text");
const std::string kDraft = "Just a few words of a draft, and no header line at all.\r\n";
const std::string kStray = support::PlainMessage("stray@example.com", "not listed", "dropped from the list");

struct TFolder {
    support::TDbxWriter dbx{5};
    std::vector<std::string> texts;  // the index's messages, in index order
    std::vector<std::uint32_t> tree;  // the records the tree holds
};

// Three indexed messages (one with no header lines, one quoting another's
// headers), one live message no record names, one deleted message, and a
// freed record left in the file that names the first message's block.
TFolder IndexedFolder() {
    TFolder f;
    f.dbx.PutFileInfo("Inbox");
    const std::string plain = support::PlainMessage("cat@example.com", "plain", std::string(1500, 'p'));
    const int m0 = f.dbx.AddMessage(plain, support::TBlockOrder::Scattered);
    const int m1 = f.dbx.AddMessage(kDraft);
    const int stray = f.dbx.AddMessage(kStray);
    const int m2 = f.dbx.AddMessage(kQuoting, support::TBlockOrder::Descending);
    const int gone = f.dbx.AddMessage(support::PlainMessage("del@example.com", "deleted one", std::string(1200, 'd')));
    f.dbx.DeleteMessage(gone);
    (void)stray;
    f.dbx.AddMessageRecord(m0, {support::TextProperty(0x07, "<stale@fixture>")});  // freed, not in the tree
    f.tree = {
        f.dbx.AddMessageRecord(m0, {support::InlineProperty(0x01, 0x80 | 0x80000), support::TextProperty(0x07, "<m0@fixture>"),
                                    support::DateProperty(0x12, 2004, 5, 6, 7, 8, 9), support::TextProperty(0x1A, "Work")}),
        f.dbx.AddMessageRecord(m1, {support::InlineProperty(0x01, 0x08), support::DateProperty(0x02, 2004, 1, 2, 3, 4, 5),
                                    support::TextProperty(0x08, "a draft"), support::TextProperty(0x0D, "Dee"),
                                    support::TextProperty(0x0E, "dee@example.com"), support::TextProperty(0x14, "eve@example.com")}),
        f.dbx.AddMessageRecord(m2, {support::TextProperty(0x07, "<m2@fixture>"), support::InlineProperty(0x10, 5)}),
    };
    f.dbx.AddIndexTree(f.tree, 2);
    f.texts = {plain, kDraft, kQuoting};
    return f;
}

TEmail WithoutIndex(TEmail e) {
    e.IndexState = TIndexState::Unknown;
    e.Index = {};
    return e;
}

struct TRead {
    TEmailArray records;
    std::vector<std::string> texts;  // each record's stretch
    std::string problem;
};

TRead ByChainReadOf(const std::string& path, bool deleted, bool whole, bool readIndex) {
    corvane::read::TChainReadOptions options;
    options.IncludeDeleted = deleted;
    options.WholeMessages = whole;
    options.ReadIndex = readIndex;
    corvane::read::TChainRead read(path, options);
    TRead out;
    read.Run(
        [&](corvane::read::TFoundMessage& m) {
            out.texts.push_back(m.Text->Copy(m.Email.MessageStart, m.Email.MessageEnd));
            out.records.push_back(m.Email);
        },
        nullptr);
    out.problem = read.IndexProblem();
    return out;
}

TRead ByChainRead(const std::string& path, bool deleted, bool whole) { return ByChainReadOf(path, deleted, whole, true); }

TRead ByGetEmails(const std::string& path, bool deleted, bool whole) {
    Toutlookfile reader;
    TRead out;
    out.records = reader.GetEmails(path, deleted, nullptr, whole);
    for (const TEmail& e : out.records)
        out.texts.push_back(ReadAll(e.FileName).substr(static_cast<std::size_t>(e.MessageStart),
                                                       static_cast<std::size_t>(e.MessageEnd - e.MessageStart)));
    out.problem = reader.IndexProblem();
    return out;
}

class IndexRecords : public ReaderTest {};

}  // namespace

// By default the records are the scan's, as without an index; the first
// record of each chain an index record begins carries its properties.
TEST_F(IndexRecords, DefaultRecordsAreTheScansAndLearnTheirEntries) {
    TFolder f = IndexedFolder();
    f.dbx.Save(Scratch("indexed.dbx"));
    support::TDbxWriter bare = f.dbx;
    bare.PutU32(0xC4, 0);
    bare.PutU32(0xE4, 0);
    bare.Save(Scratch("bare.dbx"));
    for (const auto& read : {ByGetEmails, ByChainRead}) {
        const TRead indexed = read(Scratch("indexed.dbx"), true, false);
        const TRead plain = read(Scratch("bare.dbx"), true, false);
        ASSERT_EQ(indexed.records.size(), plain.records.size());
        for (std::size_t i = 0; i < plain.records.size(); ++i) {
            EXPECT_EQ(WithoutIndex(indexed.records[i]), plain.records[i]) << i;
            EXPECT_EQ(plain.records[i].IndexState, TIndexState::Unknown);
        }
        const auto m0 = std::find_if(indexed.records.begin(), indexed.records.end(),
                                     [](const TEmail& e) { return e.Subject == " plain"; });
        ASSERT_NE(m0, indexed.records.end());
        ASSERT_EQ(m0->IndexState, TIndexState::InIndex);
        EXPECT_EQ(m0->Index->MessageId, "<m0@fixture>");  // not the freed record's
        EXPECT_EQ(corvane::dbx::FileTimeToIso(m0->Index->ReceivedTime), "2004-05-06T07:08:09Z");
        EXPECT_EQ(m0->Index->Flags, 0x80u | 0x80000u);
        EXPECT_EQ(m0->Index->Account, "Work");
        for (const TEmail& e : indexed.records) {
            if (e.Subject == " not listed" || e.Deleted != 0 || e.Subject == " the first") {
                EXPECT_EQ(e.IndexState, TIndexState::NotInIndex) << e.Subject;
            }
        }
        EXPECT_EQ(indexed.problem, "");
    }
}

// Whole messages from the index: one record per index record in index
// order, its text the whole chain; then the chains no record reaches; then
// the deleted records as without the index.
TEST_F(IndexRecords, WholeMessagesComeFromTheIndexExactly) {
    TFolder f = IndexedFolder();
    f.dbx.Save(Scratch("indexed.dbx"));
    for (const auto& read : {ByGetEmails, ByChainRead}) {
        const TRead r = read(Scratch("indexed.dbx"), true, true);
        EXPECT_EQ(r.problem, "");
        ASSERT_GE(r.records.size(), 5u);
        for (std::size_t i = 0; i < f.texts.size(); ++i) {
            EXPECT_EQ(r.texts[i], f.texts[i]) << i;
            EXPECT_EQ(r.records[i].IndexState, TIndexState::InIndex) << i;
            EXPECT_EQ(r.records[i].Deleted, 0);
        }
        // The draft has no header lines: its columns come from the index.
        EXPECT_EQ(r.records[1].From, " Dee <dee@example.com>");
        EXPECT_EQ(r.records[1].To, " eve@example.com");
        EXPECT_EQ(r.records[1].Subject, " a draft");
        EXPECT_EQ(r.records[1].Date, " Fri, 02 Jan 2004 03:04:05 +0000");
        EXPECT_EQ(r.records[1].HeaderEnd, 0);
        // The quoted header block stays inside its message.
        EXPECT_EQ(r.records[2].Subject, " quoting");
        EXPECT_EQ(r.records[2].Index->Priority, 5);
        EXPECT_EQ(r.texts[3], kStray);
        EXPECT_EQ(r.records[3].IndexState, TIndexState::NotInIndex);
        for (std::size_t i = 4; i < r.records.size(); ++i) EXPECT_EQ(r.records[i].Deleted, 1);
        EXPECT_EQ(r.records.size(), read(Scratch("indexed.dbx"), false, true).records.size() + 1);
    }
}

// A damaged index leaves whole messages to the header lines, says why, and
// the records' texts are those of the read without an index.
TEST_F(IndexRecords, ADamagedIndexIsToldAndTheHeaderLinesRuleStays) {
    for (const auto& spoil : std::vector<std::function<void(TFolder&)>>{
             [](TFolder& f) { f.dbx.PutU32(f.dbx.TreeNodes()[1] + 0x08ull, f.dbx.TreeNodes()[0]); },  // a cycle
             [](TFolder& f) { f.dbx.PutU32(0xC4, 9); },                                               // counts that lie
             [](TFolder& f) { f.dbx.PutU32(0xE4, 0x7FFFFFF0); },                                      // past the end
             [](TFolder& f) { f.dbx.PutU32(f.tree[1] + 4ull, 0x7FFFFFFF); },                         // L too large
         }) {
        TFolder f = IndexedFolder();
        spoil(f);
        f.dbx.Save(Scratch("damaged.dbx"));
        support::TDbxWriter bare = f.dbx;
        bare.PutU32(0xE4, 0);
        bare.Save(Scratch("bare.dbx"));
        for (const auto& read : {ByGetEmails, ByChainRead}) {
            const TRead damaged = read(Scratch("damaged.dbx"), true, true);
            const TRead plain = read(Scratch("bare.dbx"), true, true);
            EXPECT_NE(damaged.problem, "");
            EXPECT_EQ(plain.problem, "the folder file has no index");
            EXPECT_EQ(damaged.texts, plain.texts);
            ASSERT_EQ(damaged.records.size(), plain.records.size());
            for (std::size_t i = 0; i < plain.records.size(); ++i)
                EXPECT_EQ(WithoutIndex(damaged.records[i]), plain.records[i]);
        }
    }
}

// Many messages over a tree of several levels: the whole-message read gives
// every message byte for byte, in index order.
TEST_F(IndexRecords, AManyLevelIndexGivesEveryMessageByteForByte) {
    support::TDbxWriter dbx(9);
    dbx.ReserveScatteredSlots(600);
    std::vector<std::string> texts;
    std::vector<int> messages;
    for (int i = 0; i < 200; ++i) {
        const std::string n = std::to_string(i);
        std::string text;
        if (i % 7 == 0) {
            text.append("MIME-only ").append(n).append(static_cast<std::size_t>(i * 13), 'x');
        } else {
            std::string from(1, 'p');
            from.append(n).append("@x");
            text = support::PlainMessage(from, n, std::string(static_cast<std::size_t>(i * 11), 'b'));
        }
        texts.push_back(text);
        messages.push_back(dbx.AddMessage(texts.back(), support::TBlockOrder::Scattered));
    }
    // The index lists them in an order of its own.
    std::vector<std::uint32_t> records;
    std::vector<std::string> expected;
    for (int i = 199; i >= 0; --i) {
        records.push_back(dbx.AddMessageRecord(messages[static_cast<std::size_t>(i)]));
        expected.push_back(texts[static_cast<std::size_t>(i)]);
    }
    dbx.AddIndexTree(records);
    ASSERT_GT(dbx.TreeNodes().size(), 2u);
    dbx.Save(Scratch("many.dbx"));
    for (const auto& read : {ByGetEmails, ByChainRead}) {
        const TRead r = read(Scratch("many.dbx"), false, true);
        EXPECT_EQ(r.texts, expected);
    }
}

// A chain of thousands of messages is handed on in pieces while it is
// walked; the first piece's first record is the chain's, and only it carries
// the entry of the index record that begins the chain.
TEST_F(IndexRecords, AChainOfManyMessagesLearnsItsEntryOnItsFirstRecord) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "From: a\r\n\r\n";
    support::TDbxWriter dbx(4);
    const int one = dbx.AddMessage(text);
    const int other = dbx.AddMessage(support::PlainMessage("b@example.com", "after", "the next chain"));
    dbx.AddIndexTree({dbx.AddMessageRecord(one, {support::TextProperty(0x07, "<long@fixture>")}),
                      dbx.AddMessageRecord(other, {support::TextProperty(0x07, "<after@fixture>")})});
    dbx.Save(Scratch("long.dbx"));
    for (const auto& read : {ByGetEmails, ByChainRead}) {
        const TRead r = read(Scratch("long.dbx"), false, false);
        ASSERT_EQ(r.records.size(), 5001u);
        std::vector<std::string> ids;
        std::size_t notInIndex = 0;
        for (const TEmail& e : r.records) {
            if (e.IndexState == TIndexState::InIndex) ids.push_back(e.Index->MessageId);
            notInIndex += e.IndexState == TIndexState::NotInIndex ? 1 : 0;
        }
        EXPECT_EQ(ids, (std::vector<std::string>{"<long@fixture>", "<after@fixture>"}));
        EXPECT_EQ(r.records.front().IndexState, TIndexState::InIndex);
        EXPECT_EQ(notInIndex, 4999u);
    }
}

// A read whose caller shows nothing of the index leaves it unread: the
// records are those of the same file without an index. Whole messages still
// come from the index.
TEST_F(IndexRecords, AReadThatShowsNoIndexReadsItOnlyForWholeMessages) {
    TFolder f = IndexedFolder();
    f.dbx.Save(Scratch("indexed.dbx"));
    support::TDbxWriter bare = f.dbx;
    bare.PutU32(0xE4, 0);
    bare.Save(Scratch("bare.dbx"));
    for (const bool whole : {false, true}) {
        const TRead unread = ByChainReadOf(Scratch("indexed.dbx"), true, whole, false);
        const TRead expected = whole ? ByChainRead(Scratch("indexed.dbx"), true, true) : ByChainRead(Scratch("bare.dbx"), true, false);
        EXPECT_EQ(unread.records, expected.records) << whole;
        EXPECT_EQ(unread.texts, expected.texts) << whole;
    }
}
