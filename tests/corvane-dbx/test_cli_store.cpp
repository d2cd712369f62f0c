// corvane-dbx on store folders (Folders.dbx beside its folder files) and the
// index's properties in the list's CSV and JSON.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "corvane-dbx/CommandLine.h"
#include "corvane-dbx/StoreInputs.h"
#include "outlookfile/ReaderTestSupport.h"
#include "support/CliRun.h"
#include "support/CsvColumns.h"
#include "support/StoreFixture.h"

using namespace readertest;
namespace cli = corvane::cli;
namespace support = corvane::testsupport;
using corvane::testsupport::Dbx;

namespace {

class CliStore : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        store_ = Scratch("store");
        stdfs::create_directory(store_);
        support::WriteStore(store_, {
            {1, 0, "Local Folders", "", "", {}, 0, 0, true},
            {2, 1, "Inbox", "Inbox.dbx", "", {support::PlainMessage("a@x", "in one", "1"), support::PlainMessage("b@x", "in two", "2")}, 1, 1, true},
            {3, 2, "Fam:ily?", "Folder1.dbx", "New Folder", {support::PlainMessage("m@x", "dinner", "3")}, 0, 0, true},
            {4, 1, "Sent Items", "Sent Items.dbx", "", {support::PlainMessage("me@x", "sent one", "4")}, 0, 3, true},
            {5, 1, "..", "Folder2.dbx", "", {support::PlainMessage("dots@x", "dots", "5")}, 0, 0, true},
            {6, 1, "Gone", "Folder3.dbx", "", {}, 0, 0, false},
        });
    }
    std::string store_;
};

}  // namespace

TEST_F(CliStore, FoldersListsThePathsFilesCountsAndKinds) {
    const auto r = Dbx({"folders", "--format", "json", store_});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    const auto rows = nlohmann::json::parse(r.Out);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0]["path"], "Local Folders");
    EXPECT_EQ(rows[0]["file"], nullptr);
    EXPECT_EQ(rows[1]["path"], "Local Folders/Inbox");
    EXPECT_EQ(rows[1]["messages"], 2);
    EXPECT_EQ(rows[1]["unread"], 1);
    EXPECT_EQ(rows[1]["special"], "inbox");
    EXPECT_EQ(rows[2]["path"], "Local Folders/Inbox/Fam:ily?");
    EXPECT_EQ(rows[2]["names"], nlohmann::json::array({"Local Folders", "Inbox", "Fam:ily?"}));
    EXPECT_EQ(rows[3]["special"], "sent");
    EXPECT_EQ(rows[5]["fileMissing"], true);

    const auto table = Dbx({"folders", store_});
    ASSERT_EQ(table.Status, cli::kExitOk);
    EXPECT_NE(table.Out.find("\nLocal Folders/Sent Items      Sent Items.dbx  1         0       sent\n"), std::string::npos)
        << table.Out;
    EXPECT_NE(table.Out.find("file missing"), std::string::npos);
    const auto csv = Dbx({"folders", "--format", "csv", store_});
    EXPECT_EQ(csv.Out.substr(0, csv.Out.find('\n') + 1), "Folder,File,Messages,Unread,Special,Note\r\n");

    const auto plain = Dbx({"folders", Scratch("tmp")});
    EXPECT_EQ(plain.Status, cli::kExitFailed);
    EXPECT_NE(plain.Err.find("no store folder"), std::string::npos);
}

TEST_F(CliStore, ListNamesEachFolderByItsPathAndCarriesTheIndex) {
    const auto r = Dbx({"list", "--format", "json", store_});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    EXPECT_NE(r.Err.find("Folder3.dbx"), std::string::npos);  // the missing file is told
    const auto rows = nlohmann::json::parse(r.Out);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0]["folder"], "Local Folders/Inbox");
    EXPECT_EQ(rows[0]["subject"], "in one");
    EXPECT_EQ(rows[0]["flags"], nlohmann::json::array({"read"}));
    EXPECT_EQ(rows[0]["received"], "2004-05-06T07:08:09Z");
    EXPECT_EQ(rows[0]["messageId"], "<1@fixture>");
    EXPECT_EQ(rows[0]["inIndex"], true);
    EXPECT_EQ(rows[2]["folder"], "Local Folders/Inbox/Fam:ily?");
    EXPECT_EQ(rows[4]["folder"], "Local Folders/..");

    const auto one = Dbx({"list", "--format", "csv", "--folder", "Local Folders/Sent Items", store_});
    ASSERT_EQ(one.Status, cli::kExitOk) << one.Err;
    EXPECT_EQ(corvane::testsupport::CsvWithout(one.Out, corvane::testsupport::kCsvPlaceColumns),
              "Folder File,Item Num,Deleted,Date,From,To,Subject,Flags,Received,Message-ID,In Index\r\n"
                       "Local Folders/Sent Items,0,no,\"Thu, 6 May 2004 07:08:09 +0000\",me@x,you@example.com,sent one,"
                       "read,2004-05-06T07:08:09Z,<1@fixture>,yes\r\n");
    EXPECT_EQ(Dbx({"list", "--folder", "Nowhere", store_}).Status, cli::kExitFailed);
}

TEST_F(CliStore, ExportWritesOneSafeSubFolderPerFolderNeverOutside) {
    const std::string out = Scratch("out");
    const auto r = Dbx({"export", "--out", out, store_});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    EXPECT_EQ(ReadAll(out + "/Local Folders/Inbox/RecoveredEmail1.eml"), support::PlainMessage("b@x", "in two", "2"));
    EXPECT_EQ(ReadAll(out + "/Local Folders/Inbox/Fam_ily_/RecoveredEmail0.eml"), support::PlainMessage("m@x", "dinner", "3"));
    EXPECT_TRUE(stdfs::exists(out + "/Local Folders/Sent Items/RecoveredEmail0.eml"));
    // ".." is a name like any other, never the folder above.
    EXPECT_TRUE(stdfs::exists(out + "/Local Folders/_/RecoveredEmail0.eml"));
    EXPECT_FALSE(stdfs::exists(Scratch("RecoveredEmail0.eml")));

    const std::string tree = Scratch("tree");
    const auto m = Dbx({"export", "--mbox-tree", tree, store_});
    ASSERT_EQ(m.Status, cli::kExitOk) << m.Err;
    EXPECT_TRUE(stdfs::is_regular_file(tree + "/Local Folders"));
    const std::string inbox = ReadAll(tree + "/Local Folders.sbd/Inbox");
    EXPECT_EQ(inbox.rfind("From ", 0), 0u);
    EXPECT_NE(inbox.find("Subject: in two"), std::string::npos);
    EXPECT_NE(ReadAll(tree + "/Local Folders.sbd/Inbox.sbd/Fam_ily_").find("Subject: dinner"), std::string::npos);
}

TEST_F(CliStore, ShowNeedsAFolderOfAStore) {
    const auto several = Dbx({"show", "0", store_});
    EXPECT_EQ(several.Status, cli::kExitFailed);
    EXPECT_NE(several.Err.find("--folder"), std::string::npos);
    const auto one = Dbx({"show", "--raw", "--folder", "Local Folders/Inbox", "1", store_});
    ASSERT_EQ(one.Status, cli::kExitOk) << one.Err;
    EXPECT_EQ(one.Out, "\r\n2\r\n");  // the body as the window's preview shows it: from the blank line on
}

TEST(SafeFileName, KeepsEveryNameInsideItsFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {"Inbox", "Inbox"},          {"..", "_"},          {".", "_"},        {"a/b\\c", "a_b_c"},
        {"what? <no>", "what_ _no_"}, {"trailing. ", "trailing"}, {"", "_"},   {"CON", "_CON"},
        {"com1.txt", "_com1.txt"},    {"Console", "Console"}, {"tab\there", "tab_here"},
        {std::string(200, 'a'), std::string(120, 'a')},
    };
    for (const auto& [name, safe] : cases) EXPECT_EQ(cli::SafeFileName(name), safe) << name;
}

// With --whole-messages a folder file without an index is told on standard
// error, and its messages are found as before.
TEST(CliIndexNotice, WholeMessagesTellWhyTheIndexCouldNotBeUsed) {
    corvane::testsupport::TScratchFolder dir;
    support::TDbxWriter bare(3);
    bare.AddMessage(support::PlainMessage("a@x", "no index", "1"));
    bare.Save(dir / "bare.dbx");
    const auto r = Dbx({"list", "--whole-messages", dir / "bare.dbx"});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    EXPECT_NE(r.Err.find("the index could not be used (the folder file has no index)"), std::string::npos) << r.Err;
    EXPECT_NE(r.Out.find("no index"), std::string::npos);
    EXPECT_EQ(Dbx({"list", dir / "bare.dbx"}).Err, "");
}
