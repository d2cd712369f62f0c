// The read that keeps the chains' texts itself, against GetEmails and the
// message files it writes: the same records, and each record's stretch the
// bytes of the message file it would lie in.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <stdexcept>

#include "chainread/ChainRead.h"
#include "outlookfile/ReaderTestSupport.h"
#include "progress/Progress.h"
#include "support/NestedHeaderMail.h"
#include "support/ProgressSpy.h"
#include "support/RandomFolders.h"

using namespace readertest;
using corvane::read::TChainRead;
using corvane::read::TChainReadOptions;
using corvane::read::TFoundMessage;

namespace {

class ChainRead : public ReaderTest {
protected:
    // Every record of a read, with its stretch's bytes.
    struct TGot {
        TEmailArray records;
        std::vector<std::string> stretches;
        std::size_t spilled = 0;  // records whose chain went into a private file
    };
    static TGot ReadAllOf(const std::string& path, const TChainReadOptions& options) {
        TGot got;
        TChainRead read(path, options);
        const std::size_t count = read.Run(
            [&](TFoundMessage& m) {
                EXPECT_EQ(m.Item, got.records.size());
                if (m.Text) {
                    got.stretches.push_back(m.Text->Copy(m.Email.MessageStart, m.Email.MessageEnd));
                    if (!m.Text->InMemory()) ++got.spilled;
                }
                got.records.push_back(m.Email);
            },
            nullptr);
        EXPECT_EQ(count, got.records.size());
        return got;
    }
    // Files of the program's that a read left in the scratch folder's own
    // temporary folder (the message folder and, on Windows, the message
    // files of GetEmails, which lie there, aside).
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : stdfs::directory_iterator(Scratch("tmp")))
            if (const std::string name = e.path().filename().string();
                name.rfind("corvane-", 0) == 0 && name.rfind("corvane-recovery-", 0) != 0)
                names.push_back(e.path().string());
        return names;
    }
};

TEST_F(ChainRead, RecordsAndStretchesEqualThoseOfTheMessageFilesOnRandomFolderFiles) {
    std::mt19937_64 random(4711);
    // Memory limits from "everything spills" to "nothing does".
    const std::size_t limits[] = {1, 700, 5000, std::size_t{64} << 20};
    std::size_t records = 0, spilled = 0;
    for (int round = 0; round < 40; ++round) {
        const std::string path = Scratch("random.dbx");
        WriteAll(path, corvane::testsupport::RandomFolderFile(random, static_cast<std::uint64_t>(round)).Bytes());
        for (const bool deleted : {false, true}) {
            RemoveMessageFiles();
            const TEmailArray expected = Toutlookfile().GetEmails(path, deleted);
            TChainReadOptions options;
            options.IncludeDeleted = deleted;
            options.MemoryLimit = limits[random() % std::size(limits)];
            options.QueueBytes = random() % 2 ? 1 : options.QueueBytes;  // the walk waits for every group
            options.WalkBatch = random() % 2 ? 600 : options.WalkBatch;  // chains cut across the walk's batches
            const TGot got = ReadAllOf(path, options);
            ASSERT_EQ(got.records, expected) << "round " << round;
            for (std::size_t i = 0; i < expected.size(); ++i) {
                const TEmail& e = expected[i];
                EXPECT_EQ(got.stretches[i], ReadAll(e.FileName).substr(static_cast<std::size_t>(e.MessageStart),
                                                                      static_cast<std::size_t>(e.MessageEnd - e.MessageStart)))
                    << "round " << round << ", record " << i;
            }
            records += got.records.size();
            spilled += got.spilled;
            EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << "round " << round;

            // A listing keeps no text and gives the same records.
            options.KeepText = false;
            const TGot listed = ReadAllOf(path, options);
            EXPECT_EQ(listed.records, expected);
            EXPECT_TRUE(listed.stretches.empty());
        }
    }
    EXPECT_GT(records, 500u);
    EXPECT_GT(spilled, 100u);
}

TEST_F(ChainRead, WritesNoMessageFiles) {
    std::mt19937_64 random(5);
    const std::string path = Scratch("folder.dbx");
    WriteAll(path, corvane::testsupport::RandomFolderFile(random, 5).Bytes());
    RemoveMessageFiles();
    TChainReadOptions options;
    options.IncludeDeleted = true;
    options.MemoryLimit = 100;
    EXPECT_FALSE(ReadAllOf(path, options).records.empty());
    EXPECT_EQ(MessageFilesOnDisk(), std::vector<std::string>{});
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A stop asked for by the progress, a failing consumer and a consumer that
// is done early all end the read at once, with its private files gone.
TEST_F(ChainRead, StopsCleanlyWhenAskedOrWhenTheConsumerEnds) {
    corvane::testsupport::TDbxWriter dbx(3);
    for (int i = 0; i < 300; ++i)
        dbx.AddMessage("From: a" + std::to_string(i) + "@x\r\nSubject: s\r\n\r\n" + std::string(3000, 'b') + "\r\n");
    const std::string path = Scratch("folder.dbx");
    dbx.Save(path);
    TChainReadOptions options;
    options.MemoryLimit = 1000;  // every chain in a private file
    options.QueueBytes = 1;

    corvane::testsupport::TProgressSpy progress;
    progress.StopAt = 3;
    std::size_t seen = 0;
    {
        TChainRead read(path, options);
        EXPECT_THROW(read.Run([&](TFoundMessage&) { ++seen; }, &progress), corvane::ECancelled);
    }
    EXPECT_LT(seen, 300u);
    EXPECT_FALSE(progress.Stages().empty());

    for (const bool fail : {true, false}) {
        TChainRead read(path, options);
        struct TDone {};
        seen = 0;
        const auto consumer = [&](TFoundMessage&) {
            if (++seen < 5) return;
            if (fail) throw std::runtime_error("consumer failed");
            throw TDone{};
        };
        if (fail) {
            EXPECT_THROW(read.Run(consumer, nullptr), std::runtime_error);
        } else {
            EXPECT_THROW(read.Run(consumer, nullptr), TDone);
        }
        EXPECT_EQ(seen, 5u);
    }
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(ChainRead, AFolderFileThatCannotBeOpenedFailsAsGetEmailsDoes) {
    EXPECT_THROW(TChainRead(Scratch("missing.dbx"), {}), EFOpenError);
}

// With whole messages both reads give one record per live chain that has a
// header block, and the same deleted records as without.
TEST_F(ChainRead, WholeMessagesGiveTheRecordsAndStretchesOfGetEmails) {
    std::mt19937_64 random(2121);
    std::size_t live = 0;
    for (int round = 0; round < 16; ++round) {
        const std::string path = Scratch("whole.dbx");
        WriteAll(path, (round == 0 ? corvane::testsupport::NestedHeaderFolder()
                                   : corvane::testsupport::RandomFolderFile(random, static_cast<std::uint64_t>(round)))
                           .Bytes());
        const bool deleted = round % 2 == 0;
        RemoveMessageFiles();
        const TEmailArray expected = Toutlookfile().GetEmails(path, deleted, nullptr, true);
        TChainReadOptions options;
        options.IncludeDeleted = deleted;
        options.WholeMessages = true;
        options.MemoryLimit = round % 3 == 0 ? 700 : options.MemoryLimit;  // some chains in private files
        const TGot got = ReadAllOf(path, options);
        ASSERT_EQ(got.records, expected) << "round " << round;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const TEmail& e = expected[i];
            EXPECT_EQ(got.stretches[i], ReadAll(e.FileName).substr(static_cast<std::size_t>(e.MessageStart),
                                                                  static_cast<std::size_t>(e.MessageEnd - e.MessageStart)));
            if (e.Deleted == 0) {
                EXPECT_EQ(e.MessageEnd, static_cast<std::int64_t>(stdfs::file_size(e.FileName)));
                EXPECT_TRUE(i == 0 || expected[i - 1].FileName != e.FileName) << "two records of " << e.FileName;
                ++live;
            }
        }
    }
    EXPECT_GT(live, 100u);
}

// One chain of thousands of tiny messages (the header block "From: a"
// repeated): its records come out while the chain is still walked, each
// with the text written so far, which holds its message; they are the
// records of GetEmails, in memory and in a scratch file alike.
TEST_F(ChainRead, AChainOfManyMessagesIsHandedOnWhileItIsWalked) {
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "From: a\r\n\r\n";
    corvane::testsupport::TDbxWriter dbx(9);
    dbx.AddMessage(text);
    const std::string path = Scratch("many.dbx");
    dbx.Save(path);
    const TEmailArray expected = Toutlookfile().GetEmails(path, false);
    ASSERT_EQ(expected.size(), 40000u);
    for (const std::size_t limit : {std::size_t{1000}, std::size_t{64} << 20}) {
        TChainReadOptions options;
        options.MemoryLimit = limit;
        options.QueueBytes = 1;
        TEmailArray got;
        // Held, so that no text's address is taken again by a later one.
        std::set<std::shared_ptr<const corvane::read::TChainText>> texts;
        std::int64_t firstTextSize = 0;
        TChainRead read(path, options);
        read.Run(
            [&](TFoundMessage& m) {
                ASSERT_GE(m.Text->Size(), m.Email.MessageEnd);
                ASSERT_EQ(m.Text->Copy(m.Email.MessageStart, m.Email.MessageEnd), "From: a\r\n\r\n");
                ASSERT_EQ(m.Text->InMemory(), limit > text.size());
                if (got.empty()) firstTextSize = m.Text->Size();
                texts.insert(m.Text);
                got.push_back(m.Email);
            },
            nullptr);
        EXPECT_EQ(got, expected);
        EXPECT_GE(texts.size(), 4u);  // handed on in several groups
        EXPECT_LT(firstTextSize, static_cast<std::int64_t>(text.size()));  // before the chain was whole
        texts.clear();  // the last text goes, and with it the scratch file
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }
    // A caller that keeps every record can refuse more than it can hold.
    TChainReadOptions limited;
    limited.KeepText = false;
    limited.RecordLimit = 22000;
    TChainRead read(path, limited);
    std::size_t seen = 0;
    try {
        read.Run([&](TFoundMessage&) { ++seen; }, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const ETooManyRecords& e) {
        EXPECT_EQ(e.Limit(), 22000u);
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
    }
    EXPECT_LE(seen, 22000u);
}

}  // namespace
