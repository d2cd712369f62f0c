// The session loading folder files: the rows of a load, the deleted switch,
// the keyword filter with its one rule for keywords, failed and stopped loads
// that keep the previous list whole, the file tree and Auto Scan.

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "SessionTestSupport.h"
#include "emailexport/emailexport.h"
#include "outlookfile/outlookfile.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "progress/Progress.h"
#include "support/ProgressSpy.h"
#include "sysdbxfiles/sysdbxfiles.h"

namespace {

using corvane::session::ColDate;
using corvane::session::ColFrom;
using corvane::session::ColSubject;
using corvane::session::ColTo;
using corvane::session::TFileTree;
using corvane::session::TViewOptions;
using corvane::testsupport::Mail;
using corvane::testsupport::SessionTest;
using corvane::testsupport::TMail;
using corvane::testsupport::WriteFolderFile;
using Texts = std::vector<std::string>;

TEST_F(SessionTest, ALoadListsTheLiveMessagesAndTheSwitchReadsTheFileAgain) {
    const std::string path = ThreeLiveTwoDeleted();
    session.Load(path, nullptr);
    EXPECT_EQ(session.CurrentFile(), path);
    EXPECT_EQ(Numbers(), (Texts{"0", "1", "2"}));
    EXPECT_EQ(Column(ColSubject), (Texts{" Subject 0", " Subject 1", " Subject 3"}));
    session.SetTicked(1, true);

    session.SetIncludeDeleted(true, nullptr);
    EXPECT_TRUE(session.Options().IncludeDeleted);
    EXPECT_EQ(Numbers(), (Texts{"0", "1", "2", "3", "4"}));
    EXPECT_EQ((Texts{Column(ColDate)[3], Column(ColDate)[4]}),
              (Texts{" Mon, 2 Jan 2007 10:00:00 +0100", " Mon, 4 Jan 2007 10:00:00 +0100"}));
    for (std::size_t row = 0; row < 5; ++row) {
        EXPECT_EQ(session.RowDeleted(row), row >= 3) << row;
        EXPECT_FALSE(session.Ticked(row)) << row;  // ticks go with a reload
    }

    session.SetIncludeDeleted(false, nullptr);
    EXPECT_EQ(Numbers(), (Texts{"0", "1", "2"}));
}

TEST_F(SessionTest, OptionsBeforeAnyFileOnlyChangeTheNextLoad) {
    session.SetIncludeDeleted(true, nullptr);
    EXPECT_TRUE(session.ApplyFilter("message 3", nullptr));
    EXPECT_TRUE(session.CurrentFile().empty());
    EXPECT_EQ(session.RowCount(), 0u);
    EXPECT_TRUE(session.Options().FilterOn);

    session.Load(ThreeLiveTwoDeleted(), nullptr);
    EXPECT_EQ(Numbers(), (Texts{"2"}));  // the third live message, by its body
    EXPECT_EQ(Column(ColSubject), (Texts{" Subject 3"}));
    session.ClearFilter(nullptr);
    EXPECT_EQ(session.RowCount(), 5u);

    session.Load("", nullptr);  // an empty path does nothing at all
    EXPECT_EQ(session.RowCount(), 5u);
}

TEST_F(SessionTest, CellsShowTheHeaderTextsAsTheRecordHoldsThem) {
    TMail odd = Mail(7);
    odd.Subject = "Caf\xE9 \x80 5";  // Windows-1252: e acute, euro sign
    odd.To.clear();
    session.Load(Folder("Odd.dbx", {odd}), nullptr);
    ASSERT_EQ(session.RowCount(), 1u);
    EXPECT_EQ(session.CellText(0, ColSubject), " Caf\u00e9 \u20ac 5");
    EXPECT_EQ(session.CellText(0, ColTo), "");
    EXPECT_EQ(session.CellText(0, ColFrom), " sender7@example.org");
}

TEST_F(SessionTest, TheKeywordFilterSearchesBodiesInAnyLetterCase) {
    std::vector<TMail> mails = {Mail(0), Mail(1), Mail(2), Mail(3), Mail(4)};
    mails[0].Body = "Apples only.\r\n";
    mails[1].Body = "Report on BANANAS and more.\r\n";
    mails[2].Subject = "bananas";  // in a header line only
    mails[2].Body = "Cherries.\r\n";
    mails[3].Body = "Green Bananas\r\n";
    mails[4].Subject = "bananas again";  // header block never closed: its own text is searched
    mails[4].HeaderClosed = false;
    mails[4].Body = "X-Note: bananas\r\n";
    const std::string path = Folder("Fruit.dbx", mails);
    session.Load(path, nullptr);

    EXPECT_FALSE(session.ApplyFilter("", nullptr));  // an empty keyword does nothing
    EXPECT_FALSE(session.Options().FilterOn);
    EXPECT_EQ(session.RowCount(), 5u);

    EXPECT_TRUE(session.ApplyFilter("bAnAnAs", nullptr));
    EXPECT_TRUE(session.Options().FilterOn);
    EXPECT_EQ(Numbers(), (Texts{"1", "3", "4"}));
    EXPECT_EQ(session.Emails().size(), 5u);

    // The filter stays on for the next file.
    session.Load(Folder("Other.dbx", {Mail(0), Mail(1), Mail(2)}), nullptr);
    EXPECT_EQ(session.RowCount(), 0u);
    session.Load(path, nullptr);
    EXPECT_EQ(Numbers(), (Texts{"1", "3", "4"}));

    session.ClearFilter(nullptr);
    EXPECT_FALSE(session.Options().FilterOn);
    EXPECT_EQ(Numbers(), (Texts{"0", "1", "2", "3", "4"}));
}

// One rule for the window and the command line: the raw bodies are searched
// for the keyword in the code page, decoded bodies for the keyword as typed,
// and a keyword the code page cannot hold is never searched as '?'.
TEST_F(SessionTest, TheKeywordRuleForRawAndDecodedTexts) {
    std::vector<TMail> mails = {Mail(0), Mail(1), Mail(2), Mail(3)};
    mails[1].Body = "Un caf\xC9 cr\xE8me.\r\n";  // Windows-1252
    mails[2].Body = "Content-Type: text/plain; charset=utf-8\r\n\r\nGr\xC3\xBC\xC3\x9F \xCE\xB1\xCE\xB2\xCE\xB3 ok\r\n";
    mails[2].HeaderClosed = false;  // the content type goes with the header
    mails[3].Body = "What ??? is that.\r\n";
    const std::string path = Folder("Rule.dbx", mails);
    struct TCase {
        bool decode;
        std::string keyword;
        Texts rows;
    };
    const TCase cases[] = {
        {false, "CAF\u00c9 CR\u00c8ME", {"1"}},
        {true, "CAF\u00c9 CR\u00c8ME", {"1"}},
        {false, "\u03b1\u03b2\u03b3", {}},  // not in the code page: no raw match, and never "???"
        {true, "\u0391\u0392\u0393", {"2"}},  // found in the decoded text, in any letter case
        {false, "  ", {}},                    // blanks are not empty: applied
    };
    session.Load(path, nullptr);
    for (const TCase& c : cases) {
        session.ClearFilter(nullptr);
        session.SetDecodeTexts(c.decode, nullptr);
        ASSERT_TRUE(session.ApplyFilter(c.keyword, nullptr));
        EXPECT_EQ(Numbers(), c.rows) << c.keyword << (c.decode ? " decoded" : " raw");
    }
    // The command line's form of the rule.
    EXPECT_TRUE(corvane::mail::MakeKeyword("\u03b1\u03b2\u03b3").Ansi.empty());
    EXPECT_EQ(corvane::mail::MakeKeyword("caf\u00e9").Ansi, "caf\xE9");
}

TEST_F(SessionTest, AFailedLoadKeepsThePreviousFile) {
    const std::string good = ThreeLiveTwoDeleted();
    session.Load(good, nullptr);
    session.SetTicked(2, true);
    const TEmailArray before = session.Emails();
    EXPECT_THROW(session.Load(Path("Missing.dbx"), nullptr), EFOpenError);
    EXPECT_EQ(session.CurrentFile(), good);
    EXPECT_EQ(session.Emails(), before);
    EXPECT_EQ(Numbers(), (Texts{"0", "1", "2"}));
    EXPECT_TRUE(session.Ticked(2));
}

// A folder file that gives more records than a list holds is refused with a
// text that names the file and the limit; the previous list stays.
TEST_F(SessionTest, AFolderFileOfMoreRecordsThanTheLimitIsRefused) {
    const std::string small = Folder("Small.dbx", {Mail(0), Mail(1)});
    const std::string large = ThreeLiveTwoDeleted("Large.dbx");
    session.SetRecordLimit(3);
    session.Load(small, nullptr);
    session.Load(large, nullptr);  // three live records: within the limit
    EXPECT_THROW(session.SetIncludeDeleted(true, nullptr), ETooManyRecords);  // five, refused
    EXPECT_FALSE(session.Options().IncludeDeleted);
    EXPECT_EQ(session.RowCount(), 3u);
    try {
        session.Load(large, nullptr);
        session.SetIncludeDeleted(true, nullptr);
        FAIL() << "five records held under a limit of three";
    } catch (const ETooManyRecords& e) {
        EXPECT_EQ(e.Limit(), 3u);
        EXPECT_NE(std::string(e.what()).find("Large.dbx"), std::string::npos) << e.what();
    }
    EXPECT_EQ(session.CurrentFile(), large);
    EXPECT_EQ(session.RecordLimit(), 3u);
}

// A reload that fails leaves the rows of the options before it, so those
// options come back, and are remembered so.
TEST_F(SessionTest, AFailedReloadPutsEachOptionBack) {
    struct TCase {
        const char* name;
        void (*change)(corvane::session::TMailSession&);
    };
    const TCase cases[] = {
        {"deleted", [](corvane::session::TMailSession& s) { s.SetIncludeDeleted(true, nullptr); }},
        {"whole", [](corvane::session::TMailSession& s) { s.SetWholeMessages(true, nullptr); }},
        {"filter", [](corvane::session::TMailSession& s) { s.ApplyFilter("message", nullptr); }},
    };
    for (const TCase& c : cases) {
        const std::string path = ThreeLiveTwoDeleted(std::string(c.name) + ".dbx");
        session.Load(path, nullptr);
        ASSERT_TRUE(corvane::fs::RemoveFile(path));
        const TViewOptions before = session.Options();
        EXPECT_THROW(c.change(session), EFOpenError) << c.name;
        EXPECT_EQ(session.Options(), before) << c.name;
        EXPECT_EQ(settings.values["Settings/WholeMessages"], "false") << c.name;
        EXPECT_EQ(session.RowCount(), 3u) << c.name;
        EXPECT_EQ(session.CurrentFile(), path) << c.name;
    }
    // With the filter on, "Decode Texts" reads the file again too.
    const std::string path = ThreeLiveTwoDeleted("decode.dbx");
    session.Load(path, nullptr);
    ASSERT_TRUE(session.ApplyFilter("message", nullptr));
    ASSERT_TRUE(corvane::fs::RemoveFile(path));
    EXPECT_THROW(session.SetDecodeTexts(true, nullptr), EFOpenError);
    EXPECT_FALSE(session.Options().DecodeTexts);
    EXPECT_EQ(settings.values["Settings/DecodeTexts"], "false");
}

// Message files keep their names from one read to the next: a read of
// another file stopped after it wrote some leaves the shown rows' texts as
// they were, whether it stopped while writing or while filtering. (While it
// writes, the test overwrites the shown rows' files itself, as the read's
// writer may have done by then.)
TEST_F(SessionTest, AStoppedLoadKeepsThePreviousRowsWithTheirTexts) {
    std::vector<TMail> large;
    for (int i = 0; i < 300; ++i) {
        TMail m = Mail(100 + i);
        m.Body = std::string(1500, static_cast<char>('a' + i % 26)) + "\r\nneedle\r\n";
        large.push_back(m);
    }
    const std::string largePath = Folder("Large.dbx", large);
    const std::string small = Folder("Small.dbx", {Mail(0), Mail(1), Mail(2)});
    for (const char* stage : {"Writing messages", corvane::mail::kFilterStage}) {
        session.ClearFilter(nullptr);
        session.Load(small, nullptr);
        if (std::string(stage) == corvane::mail::kFilterStage) session.ApplyFilter("body", nullptr);
        const Texts subjects = Column(ColSubject);
        std::vector<std::string> texts;
        for (const TEmail& r : session.Emails()) texts.push_back(corvane::testsupport::MessageOf(r));

        corvane::testsupport::TProgressSpy stop;
        stop.StopAtStage = stage;
        bool overwritten = false;  // once: the rewrite that follows reports to the same progress
        stop.OnReport = [&] {
            if (overwritten || stop.Stages().count(stage) == 0) return;
            overwritten = true;
            // A file the load holds open just now (Windows refuses the write
            // then) is being replaced by the load itself anyway.
            for (const TEmail& r : session.Emails()) {
                try {
                    corvane::testsupport::WriteWholeFile(r.FileName, "overwritten");
                } catch (const std::runtime_error&) {
                }
            }
        };
        EXPECT_THROW(session.Load(largePath, &stop), corvane::ECancelled) << stage;
        EXPECT_EQ(session.CurrentFile(), small) << stage;
        EXPECT_EQ(Column(ColSubject), subjects) << stage;
        for (std::size_t i = 0; i < texts.size(); ++i)
            EXPECT_EQ(corvane::testsupport::MessageOf(session.Emails()[i]), texts[i]) << stage;
    }
}

// Should the texts of the shown rows be beyond writing again (their folder
// file gone), the list empties rather than show other messages' texts. A
// window that closes once the work stops writes nothing again.
TEST_F(SessionTest, RowsWhoseTextsCannotBeWrittenAgainAreDropped) {
    const std::string small = Folder("Small.dbx", {Mail(0), Mail(1)});
    const std::string other = Folder("Other.dbx", {Mail(5), Mail(6), Mail(7)});
    session.Load(small, nullptr);
    ASSERT_TRUE(corvane::fs::RemoveFile(small));
    corvane::testsupport::TProgressSpy stop;
    stop.StopAtStage = "Writing messages";
    EXPECT_THROW(session.Load(other, &stop), corvane::ECancelled);
    EXPECT_EQ(session.RowCount(), 0u);
    EXPECT_TRUE(session.Emails().empty());
    EXPECT_TRUE(session.CurrentFile().empty());

    session.Load(other, nullptr);
    const std::string shown = corvane::testsupport::ReadWholeFile(session.Emails().front().FileName);
    const std::string again = Folder("Again.dbx", {Mail(8), Mail(9), Mail(10), Mail(11)});
    session.SetClosing(true);
    corvane::testsupport::TProgressSpy closing;
    closing.StopAtStage = "Writing messages";
    bool overwritten = false;
    closing.OnReport = [&] {
        if (overwritten || closing.Stages().count("Writing messages") == 0) return;
        overwritten = true;
        for (const TEmail& r : session.Emails()) corvane::testsupport::WriteWholeFile(r.FileName, "overwritten");
    };
    EXPECT_THROW(session.Load(again, &closing), corvane::ECancelled);
    EXPECT_EQ(session.CurrentFile(), other);
    // Not written again: the file holds what the test or the stopped read put there.
    EXPECT_NE(corvane::testsupport::ReadWholeFile(session.Emails().front().FileName), shown);
}

TEST_F(SessionTest, TheTreeHoldsTheTwoTopNodesAndAFolderFilesNodePerOpen) {
    const TFileTree& tree = session.Tree();
    ASSERT_EQ(tree.Count(), 2u);
    EXPECT_EQ(tree.Node(TFileTree::kSystemFiles).Text, "System Files");
    EXPECT_EQ(tree.Node(TFileTree::kDbxFiles).Text, "Dbx Files");
    EXPECT_EQ(tree.Node(TFileTree::kDbxFiles).Icon, corvane::session::IconTopNode);
    EXPECT_EQ(tree.FileOf(TFileTree::kSystemFiles), "");
    EXPECT_EQ(tree.FileOf(-1), "");

    const std::vector<int> added =
        session.AddDbxFiles({Path("a.dbx"), Path("notes.txt"), Path("B.DBX"), Path("c.Dbx"), Path("a.dbx"), Path("x.dbx.bak")});
    ASSERT_EQ(added.size(), 4u);  // the same path again gets a node of its own
    for (int node : added) {
        EXPECT_EQ(tree.Node(node).Parent, TFileTree::kDbxFiles);
        EXPECT_EQ(tree.Node(node).Icon, corvane::session::IconFolderFile);
        EXPECT_EQ(tree.FileOf(node), tree.Node(node).Text);
    }
    EXPECT_EQ(tree.FileOf(added[1]), Path("B.DBX"));
    EXPECT_EQ(tree.FileOf(added[3]), Path("a.dbx"));
}

TEST_F(SessionTest, AutoScanListsWhatItFoundAlsoWhenStoppedOrFailed) {
    const auto found = [this](const std::vector<int>& nodes) {
        Texts files;
        for (int node : nodes) {
            EXPECT_EQ(session.Tree().Node(node).Parent, TFileTree::kSystemFiles);
            files.push_back(session.Tree().FileOf(node));
        }
        return files;
    };
    std::filesystem::create_directories(Path("tree/one"));
    std::filesystem::create_directories(Path("tree/two"));
    WriteFolderFile(Path("tree/one/a.dbx"), {Mail(0)});
    WriteFolderFile(Path("tree/two/b.dbx"), {Mail(1)});
    session.Search = [this](TDbxFiles& files) { files.SearchFolder(Path("tree"), "*.dbx", true); };
    const Texts all = found(session.AutoScan(nullptr));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(found(session.AutoScan(nullptr)), all);  // a second scan adds every path again

    // Stopped as it enters the second folder (the third folder entered):
    // what was found before is listed.
    corvane::testsupport::TProgressSpy stop;
    stop.StopAt = 3;
    EXPECT_EQ(found(session.AutoScan(&stop)), Texts{all.front()});

    // A search that fails after finding one: its node, then the error.
    session.Search = [this](TDbxFiles& files) {
        files.SearchFolder(Path("tree/one"), "*.dbx", false);
        throw ECorvaneError("The drive went away.");
    };
    const std::size_t before = session.Tree().Count();
    EXPECT_THROW(session.AutoScan(nullptr), ECorvaneError);
    EXPECT_EQ(session.Tree().Count(), before + 1);
}

}  // namespace
