// GetEmails end to end: folder files in, summaries and message files out; the
// folder file is never changed; failures carry the file layer's texts.

#include <algorithm>
#include <random>

#include "ReaderTestSupport.h"
#include "emailparser/emailparser.h"
#include "platform/Errors.h"
#include "support/DbxFixture.h"
#include "support/RandomFolders.h"

using namespace readertest;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;
namespace support = corvane::testsupport;

namespace {

std::string Mail(const std::string& from, const std::string& subject, const std::string& body) {
    return "From: " + from + "\r\nTo: ivo@fenwick.example\r\nSubject: " + subject +
           "\r\nDate: Mon, 5 May 2003 10:00:00 +0100\r\n\r\n" + body + "\r\n";
}

std::string Body(int lines, const std::string& seed) {
    std::string body;
    for (int i = 0; i < lines; ++i) body += seed + " line " + std::to_string(i) + "\r\n";
    return body;
}

bool HeldOpen(const std::string& path) { return support::IsHeldOpen(path); }

// samples/demo.dbx of this source tree.
std::string DemoSample() {
    return (stdfs::path(__FILE__).parent_path().parent_path().parent_path() / "samples" / "demo.dbx").string();
}

std::string Stretch(const TEmail& e) {
    std::string file = ReadAll(e.FileName);
    return file.substr(static_cast<std::size_t>(e.MessageStart), static_cast<std::size_t>(e.MessageEnd - e.MessageStart));
}

class GetEmails : public ReaderTest {
protected:
    std::string Save(const TDbxWriter& dbx, const std::string& name = "folder.dbx") {
        const std::string path = Scratch(name);
        WriteAll(path, dbx.Bytes());
        return path;
    }
    std::vector<std::string> MessageFilesOnDisk() {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : stdfs::directory_iterator(MessageFolder(), ec)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

TEST_F(GetEmails, LiveSummariesThenDeletedOnesWithTheirMessageText) {
    TDbxWriter dbx(5);
    dbx.ReserveScatteredSlots(60);
    // Deleted first, so their blocks lie below the live ones in the file.
    int gone1 = dbx.AddMessage(Mail("A <a@x>", "Gone one", Body(20, "g1")), TBlockOrder::Scattered);
    int gone2 = dbx.AddMessage(Mail("B <b@x>", "Gone two", Body(9, "g2")), TBlockOrder::Ascending);
    std::vector<int> live;
    live.push_back(dbx.AddMessage(Mail("C <c@x>", "Scattered", Body(40, "c")), TBlockOrder::Scattered));
    live.push_back(dbx.AddMessage(Mail("D <d@x>", "Descending", Body(25, "d")), TBlockOrder::Descending));
    live.push_back(dbx.AddMessage("from: lower <l@x>\r\nsubject: \r\n\r\nshort\r\n", TBlockOrder::Ascending));
    dbx.DeleteMessage(gone1);
    dbx.DeleteMessage(gone2);
    const std::string path = Save(dbx);

    Toutlookfile reader;
    TEmailArray emails = reader.GetEmails(path, true);
    ASSERT_EQ(emails.size(), 5u);

    // Three live records, each naming a msg file whose stretch is the message.
    std::vector<std::string> liveTexts, found;
    for (int m : live) liveTexts.push_back(dbx.TextOf(m));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(emails[i].Deleted, 0);
        EXPECT_EQ(stdfs::path(emails[i].FileName).parent_path(), stdfs::path(MessageFolder()));
        EXPECT_EQ(stdfs::path(emails[i].FileName).filename().string(), "msg" + std::to_string(i + 1) + ".tmp");
        found.push_back(Stretch(emails[i]));
        EXPECT_EQ(ReadAll(emails[i].FileName), found.back());  // one message per live file
    }
    std::sort(liveTexts.begin(), liveTexts.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, liveTexts);

    // The two deleted messages share one chain and so one file, in list order.
    EXPECT_EQ(emails[3].Deleted, 1);
    EXPECT_EQ(emails[4].Deleted, 1);
    EXPECT_EQ(emails[3].Subject, " Gone one");
    EXPECT_EQ(emails[4].Subject, " Gone two");
    EXPECT_EQ(emails[3].FileName, MessageFile("delmsg1.tmp"));
    EXPECT_EQ(emails[4].FileName, emails[3].FileName);
    EXPECT_EQ(ReadAll(emails[3].FileName), dbx.DeletedChainText(dbx.FreeList()));
    EXPECT_EQ(MessageFilesOnDisk(), (std::vector<std::string>{"delmsg1.tmp", "msg1.tmp", "msg2.tmp", "msg3.tmp"}));

    // A second read gives the same records and rewrites the same bytes.
    std::string before = ReadAll(MessageFile("msg2.tmp"));
    Toutlookfile again;
    EXPECT_EQ(again.GetEmails(path, true), emails);
    EXPECT_EQ(ReadAll(MessageFile("msg2.tmp")), before);
}

TEST_F(GetEmails, WithoutDeletedNoDeletedFileIsWritten) {
    TDbxWriter dbx;
    int gone = dbx.AddMessage(Mail("A <a@x>", "Gone", Body(80, "x")));
    dbx.AddMessage(Mail("B <b@x>", "Kept", Body(3, "y")));
    dbx.DeleteMessage(gone);
    Toutlookfile reader;
    TEmailArray emails = reader.GetEmails(Save(dbx), false);
    ASSERT_EQ(emails.size(), 1u);
    EXPECT_EQ(emails[0].Subject, " Kept");
    EXPECT_EQ(MessageFilesOnDisk(), std::vector<std::string>{"msg1.tmp"});
    // The deleted blocks were there all along.
    EXPECT_EQ(reader.GetEmails(Scratch("folder.dbx"), true).size(), 2u);
    EXPECT_EQ(MessageFilesOnDisk(), (std::vector<std::string>{"delmsg1.tmp", "msg1.tmp"}));
}

// A caller that keeps every record sets a limit: more records than that
// end the read with a text that names the file and the limit, live and
// deleted records counted together.
TEST_F(GetEmails, ARecordLimitRefusesLargerFolderFiles) {
    std::string many;
    for (int i = 0; i < 3000; ++i) many += "From: a\r\n\r\n";
    TDbxWriter dbx;
    dbx.AddMessage(many);
    const int gone = dbx.AddMessage("padding\r\n" + Mail("D <d@x>", "Deleted", Body(80, "d")));
    dbx.DeleteMessage(gone);
    const std::string path = Save(dbx);
    const std::size_t all = Toutlookfile().GetEmails(path, true).size();
    ASSERT_GT(all, 3000u);  // the deleted message's records too
    for (const auto& [limit, deleted, refused] : {std::tuple{std::size_t{1000}, false, true},
                                                  std::tuple{std::size_t{3000}, false, false},
                                                  std::tuple{all - 1, true, true}, std::tuple{all, true, false}}) {
        Toutlookfile reader;
        reader.SetRecordLimit(limit);
        try {
            const TEmailArray emails = reader.GetEmails(path, deleted);
            EXPECT_FALSE(refused) << limit;
            EXPECT_EQ(emails.size(), deleted ? all : 3000u);
        } catch (const ETooManyRecords& e) {
            EXPECT_TRUE(refused) << limit;
            EXPECT_EQ(e.Limit(), limit);
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
        }
        EXPECT_FALSE(HeldOpen(path));
    }
}

TEST_F(GetEmails, TheDemoSampleReads) {
    Toutlookfile reader;
    TEmailArray emails = reader.GetEmails(DemoSample(), true);
    std::size_t deleted = static_cast<std::size_t>(std::count_if(emails.begin(), emails.end(), [](const TEmail& e) { return e.Deleted; }));
    EXPECT_GE(emails.size() - deleted, 5u);
    EXPECT_GE(deleted, 2u);
    EXPECT_TRUE(std::is_partitioned(emails.begin(), emails.end(), [](const TEmail& e) { return !e.Deleted; }));
    bool quoted = false, folded = false, empty = false;
    for (const TEmail& e : emails) {
        EXPECT_LT(e.MessageStart, e.MessageEnd);
        quoted |= e.Subject == " Re: Allotment rota for May";
        folded |= e.Subject == " Summer fete: stalls, raffle prizes and the";
        empty |= e.Subject == " ";
        // The quoted header inside the reply starts no record of its own.
        EXPECT_FALSE(e.Subject == " Allotment rota for May" && e.From == " \"Ivo Brandt\" <ivo@fenwick.example>");
    }
    EXPECT_TRUE(quoted && folded && empty);
}

TEST_F(GetEmails, TheFolderFileIsNeverChanged) {
    TDbxWriter dbx(9);
    dbx.ReserveScatteredSlots(20);
    int gone = dbx.AddMessage(Mail("A <a@x>", "Gone", Body(80, "x")), TBlockOrder::Scattered);
    dbx.AddMessage(Mail("B <b@x>", "Kept", Body(30, "y")), TBlockOrder::Scattered);
    dbx.DeleteMessage(gone);
    const std::string path = Save(dbx);
    support::SetOldTimes(path);
    const support::TFileStamp before = support::Stamp(path);

    Toutlookfile reader;
    EXPECT_EQ(reader.GetEmails(path, true).size(), 2u);

    const support::TFileStamp after = support::Stamp(path);
    EXPECT_EQ(ReadAll(path), dbx.Bytes());
    EXPECT_EQ(after.Modified, before.Modified);
    EXPECT_EQ(after.Changed, before.Changed);
    EXPECT_FALSE(HeldOpen(path));
}

TEST_F(GetEmails, AFolderFileThatCannotBeOpenedWritesNothing) {
    const std::string missing = Scratch("no such folder.dbx");
    const std::string folder = Scratch("a folder.dbx");
    ASSERT_TRUE(stdfs::create_directory(folder));
    for (const std::string& path : {missing, folder}) {
        Toutlookfile reader;
        try {
            reader.GetEmails(path, true);
            ADD_FAILURE() << "no error for " << path;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + path + "\". ", 0), 0u) << e.what();
            EXPECT_GT(std::string(e.what()).size(), path.size() + 21);  // the system's explanation follows
        }
    }
    EXPECT_TRUE(MessageFilesOnDisk().empty());
}

TEST_F(GetEmails, AnUnreadableFolderFileWritesNothing) {
    if (!support::PermissionBitsApply()) GTEST_SKIP() << "permission bits stop neither root nor anyone on Windows";
    TDbxWriter dbx;
    dbx.AddMessage(Mail("A <a@x>", "s", "b"));
    const std::string locked = Save(dbx, "locked.dbx");
    stdfs::permissions(locked, stdfs::perms::owner_write);
    Toutlookfile reader;
    EXPECT_THROW(reader.GetEmails(locked, false), EFOpenError);
    EXPECT_TRUE(MessageFilesOnDisk().empty());
}

TEST_F(GetEmails, AMessageFileThatCannotBeCreatedNamesItselfAndClosesEverything) {
    TDbxWriter dbx;
    dbx.AddMessage(Mail("A <a@x>", "First", Body(3, "a")));
    dbx.AddMessage(Mail("B <b@x>", "Second", Body(3, "b")));
    const std::string path = Save(dbx);
    // A folder where msg2.tmp should go stops even root from creating it.
    ASSERT_TRUE(stdfs::create_directories(MessageFile("msg2.tmp") + "/inside"));
    stdfs::permissions(MessageFolder(), stdfs::perms::owner_all);
    Toutlookfile reader;
    try {
        reader.GetEmails(path, false);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Path(), MessageFile("msg2.tmp"));
        EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + MessageFile("msg2.tmp") + "\". ", 0), 0u) << e.what();
    }
    EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), dbx.TextOf(0));  // written up to then, stays
    EXPECT_FALSE(HeldOpen(path));
    EXPECT_FALSE(HeldOpen(MessageFile("msg1.tmp")));

    // A plain file where the temporary folder should be: Windows' own
    // temporary folder cannot hold message files then; elsewhere the file
    // is left alone and the message files go to a private folder beside it.
    stdfs::remove_all(MessageFolder());
    WriteAll(MessageFolder(), "not a folder");
    if (support::IsWindows()) {
        EXPECT_THROW(reader.GetEmails(path, false), EFCreateError);
    } else {
        const TEmailArray aside = reader.GetEmails(path, false);
        ASSERT_EQ(aside.size(), 2u);
        EXPECT_EQ(aside[0].FileName.rfind(MessageFolder() + "-", 0), 0u) << aside[0].FileName;
        EXPECT_EQ(ReadAll(MessageFolder()), "not a folder");
    }
    EXPECT_FALSE(HeldOpen(path));

    if (!support::PermissionBitsApply()) return;  // they stop neither root nor anyone on Windows
    stdfs::remove(MessageFolder());
    ASSERT_TRUE(stdfs::create_directory(MessageFolder()));
    stdfs::permissions(MessageFolder(), stdfs::perms::owner_read | stdfs::perms::owner_exec);
    try {
        reader.GetEmails(path, false);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Path(), MessageFile("msg1.tmp"));
    }
    EXPECT_FALSE(HeldOpen(path));
}

TEST_F(GetEmails, FilesWithoutBlocksGiveNothing) {
    for (std::size_t size = 0; size <= 3; ++size) {
        WriteAll(Scratch("tiny.dbx"), std::string(size, '\0'));
        Toutlookfile reader;
        EXPECT_TRUE(reader.GetEmails(Scratch("tiny.dbx"), true).empty()) << size;
    }
    TDbxWriter dbx;
    dbx.AddIndexNode();
    dbx.AddMessageInfo("no messages here");
    Toutlookfile reader;
    EXPECT_TRUE(reader.GetEmails(Save(dbx), true).empty());
    EXPECT_TRUE(MessageFilesOnDisk().empty());
}

TEST_F(GetEmails, HostileFilesEndCleanly) {
    // Random bytes, with a few self offsets planted in them.
    std::mt19937_64 random(77);
    std::string bytes(1 << 20, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    for (std::uint32_t at = 0x1000; at < bytes.size() - 600; at += 0x2C4C) {
        bytes.replace(at, 4, Le32(at));
        bytes.replace(at + 4, 4, Le32(random() % 2 ? 512 : 508));
    }
    WriteAll(Scratch("random.dbx"), bytes);
    Toutlookfile reader;
    for (const TEmail& e : reader.GetEmails(Scratch("random.dbx"), true)) {
        EXPECT_LT(e.MessageStart, e.MessageEnd);
        EXPECT_LE(e.MessageEnd, static_cast<std::int64_t>(stdfs::file_size(e.FileName)));
    }

    // A block at the very end of the file claiming 65535 text bytes.
    TDbxWriter tail;
    std::uint32_t at = tail.NewBlockSlot();
    tail.PutLiveBlock(at, 65535, 0, "Subject: cut\r\n");
    std::string cut = tail.Bytes().substr(0, at + 16 + 14);
    WriteAll(Scratch("cut.dbx"), cut);
    Toutlookfile second;
    TEmailArray emails = second.GetEmails(Scratch("cut.dbx"), true);
    ASSERT_EQ(emails.size(), 1u);
    EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), "Subject: cut\r\n" + std::string(65535 - 14, ' '));

    // Pointer cycles and pointers out of the file: each block written once.
    TDbxWriter rings;
    std::uint32_t s[4];
    for (auto& x : s) x = rings.NewBlockSlot();
    rings.PutLiveBlock(s[0], 3, s[1], "AAA");
    rings.PutLiveBlock(s[1], 3, s[0], "BBB");
    rings.PutLiveBlock(s[2], 3, 0xFFFFFFFC, "CCC");
    rings.PutLiveBlock(s[3], 3, s[3], "DDD");  // names itself
    rings.PutDeletedBlock(rings.NewBlockSlot(), 0xFFFFFF00, 0xFFFFFF04, "lost");
    Toutlookfile third;
    third.GetEmails(Save(rings, "rings.dbx"), true);
    EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), "AAABBB");
    EXPECT_EQ(ReadAll(MessageFile("msg2.tmp")), "CCC");
    EXPECT_EQ(ReadAll(MessageFile("msg3.tmp")), "DDD");
    EXPECT_EQ(ReadAll(MessageFile("delmsg1.tmp")), "[??]lost" + std::string(504, ' '));
}

TEST_F(GetEmails, ALargeSparseFileIsReadInBoundedMemory) {
    const std::string path = Scratch("sparse.dbx");
    const std::uint64_t size = 2ull << 30;
    const std::uint32_t at = static_cast<std::uint32_t>(size - 0x10000);
    const std::string text = "From: far <f@x>\r\n\r\nend\r\n";
    const std::string block = Le32(at) + Le32(512) + Le32(static_cast<std::uint32_t>(text.size())) + Le32(0) + text;
    support::WriteAt(path, at, block);
    stdfs::resize_file(path, size);
    const std::int64_t before = support::PeakMemoryKiB();
    Toutlookfile reader;
    TEmailArray emails = reader.GetEmails(path, true);
    const std::int64_t after = support::PeakMemoryKiB();
    ASSERT_EQ(emails.size(), 1u);
    EXPECT_EQ(emails[0].From, " far <f@x>");
    EXPECT_LT(after - before, 64 * 1024);  // kilobytes
}

// The records GetEmails parses while it writes against those of the header
// parser run over the files it wrote, on many random folder files, with write
// batches small enough that chains are cut across them.
namespace {

// The message files of one kind, named as the reader names them (on Windows
// with the doubled separator after the temporary folder).
std::vector<std::string> Numbered(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    const auto name = [&](std::size_t n) {
        return corvane::fs::JoinTempName(folder + corvane::testsupport::Separator(), prefix + std::to_string(n) + ".tmp");
    };
    while (stdfs::exists(name(names.size() + 1))) names.push_back(name(names.size() + 1));
    return names;
}

}  // namespace

TEST_F(GetEmails, RecordsEqualTheParseOfTheFilesWrittenWhateverTheWriteBatch) {
    std::mt19937_64 random(2024);
    const std::size_t batches[] = {1, 37, 508, 512, 1000, 4096, 20000};
    std::size_t records = 0, files = 0;
    const std::string victim = Scratch("victim");
    WriteAll(victim, "keep me");
    for (int round = 0; round < 60; ++round) {
        const std::string path = Save(corvane::testsupport::RandomFolderFile(random, static_cast<std::uint64_t>(round)));

        // Written in one batch into an empty folder, then over those files with
        // a small batch; a link planted at a name is replaced, not written through.
        RemoveMessageFiles();
        Toutlookfile whole;
        const TEmailArray first = whole.GetEmails(path, true);
        std::vector<std::string> texts;
        for (const std::string& name : Numbered(MessageFolder(), "msg")) texts.push_back(ReadAll(name));
        for (const std::string& name : Numbered(MessageFolder(), "delmsg")) texts.push_back(ReadAll(name));
        // Every file left longer than it was: the second read's files are
        // written in place and must lose the old tail.
        for (const char* kind : {"msg", "delmsg"})
            for (const std::string& name : Numbered(MessageFolder(), kind)) WriteAll(name, ReadAll(name) + "a stale tail");
        if (stdfs::exists(MessageFile("msg1.tmp"))) {
            stdfs::remove(MessageFile("msg1.tmp"));
            // Where links need a privilege the tests lack (Windows), the name
            // is simply taken by no link.
            corvane::testsupport::MakeSymlink(victim, MessageFile("msg1.tmp"));
        }

        Toutlookfile cut;
        const std::size_t batch = batches[random() % std::size(batches)];
        cut.SetWriteBatch(batch);
        const TEmailArray got = cut.GetEmails(path, true);
        const std::vector<std::string> live = Numbered(MessageFolder(), "msg");
        const std::vector<std::string> gone = Numbered(MessageFolder(), "delmsg");
        TEmailArray expected = ParseMessageFiles(live, false);
        const TEmailArray deleted = ParseMessageFiles(gone, true);
        expected.insert(expected.end(), deleted.begin(), deleted.end());
        ASSERT_EQ(got, expected) << "round " << round << ", batch " << batch;
        EXPECT_EQ(got, first) << "round " << round;

        std::vector<std::string> again;
        for (const std::string& name : live) again.push_back(ReadAll(name));
        for (const std::string& name : gone) again.push_back(ReadAll(name));
        EXPECT_EQ(again, texts) << "round " << round << ", batch " << batch;
        EXPECT_FALSE(stdfs::is_symlink(MessageFile("msg1.tmp")));
        records += got.size();
        files += live.size() + gone.size();
    }
    EXPECT_EQ(ReadAll(victim), "keep me");
    EXPECT_GT(records, 1000u);
    EXPECT_GT(files, 500u);
}
