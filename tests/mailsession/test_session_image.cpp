// The session and disk images: "Recover From Disk Image..." carves the
// folder files out of an image and hangs them under a node of their own, a
// click on one loads its messages; a stop keeps what was finished; errors
// leave as the carve's, and an image without folder files says so.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "SessionTestSupport.h"
#include "emailexport/emailexport.h"
#include "mailsession/SessionTexts.h"
#include "platform/Errors.h"
#include "progress/Progress.h"
#include "support/DiskImageFixture.h"

using namespace corvane::testsupport;
using corvane::session::TFileTree;
using corvane::session::TMailSession;
using corvane::session::TOutcome;
namespace texts = corvane::session::texts;

namespace {

// Asks to stop at its N-th report (0: never), and notes at every report
// whether a file is there: when a folder file was finished.
class TStopAtReport : public corvane::TProgress {
public:
    explicit TStopAtReport(int at, std::string watched = {}) : at_(at), watched_(std::move(watched)) {}
    void Report(const char*, std::int64_t, std::int64_t) override {
        ++reports_;
        std::error_code ec;
        if (firstWithFile_ == 0 && !watched_.empty() && std::filesystem::exists(watched_, ec)) firstWithFile_ = reports_;
    }
    bool StopRequested() override { return at_ > 0 && reports_ >= at_; }
    int FirstReportWithFile() const { return firstWithFile_; }

private:
    int at_;
    std::string watched_;
    int reports_ = 0;
    int firstWithFile_ = 0;
};

class SessionImage : public SessionTest {
protected:
    void SetUp() override { folders = WriteTwoFolderImage(Path("disk.img")); }

    std::vector<std::string> Children(int node) const {
        std::vector<std::string> texts;
        for (std::size_t n = 0; n < session.Tree().Count(); ++n)
            if (session.Tree().Node(static_cast<int>(n)).Parent == node) texts.push_back(session.Tree().Node(static_cast<int>(n)).Text);
        return texts;
    }
    // The texts of the loaded rows' messages, as the records read them.
    std::multiset<std::string> LoadedTexts() const {
        std::multiset<std::string> loaded;
        for (std::size_t row = 0; row < session.RowCount(); ++row)
            loaded.insert(corvane::mail::ReadMessageText(session.RecordOfRow(row)));
        return loaded;
    }
    static std::multiset<std::string> TextsOf(const TImagedFolder& folder) {
        return {folder.Live.begin(), folder.Live.end()};
    }

    std::vector<TImagedFolder> folders;
};

}  // namespace

TEST_F(SessionImage, TheFolderFilesOfAnImageHangUnderItsNodeAndAClickLoadsThem) {
    ASSERT_EQ(folders.size(), 2u);
    const std::string out = Path("out");
    const TMailSession::TImageRecovery recovered = session.RecoverFromImage(Path("disk.img"), out, nullptr);
    EXPECT_EQ(recovered.Outcome, TOutcome{});
    ASSERT_EQ(recovered.Nodes.size(), 3u);
    const TFileTree& tree = session.Tree();
    const int top = recovered.Nodes[0];
    EXPECT_EQ(tree.Node(top).Text, "Disk image disk.img");
    EXPECT_EQ(tree.Node(top).Parent, TFileTree::kDbxFiles);
    EXPECT_EQ(tree.Node(top).Icon, corvane::session::IconTopNode);
    EXPECT_EQ(tree.FileOf(top), "");
    // Ten live messages of the first folder file, nine of the second in its two pieces.
    EXPECT_EQ(Children(top), (std::vector<std::string>{"recovered-1.dbx (1 piece, 10 messages)",
                                                       "recovered-2.dbx (2 pieces, 9 messages)"}));
    EXPECT_EQ(tree.FirstWithFile(recovered.Nodes), recovered.Nodes[1]);

    for (std::size_t f = 0; f < folders.size(); ++f) {
        const int node = recovered.Nodes[f + 1];
        EXPECT_EQ(tree.Node(node).Parent, top);
        EXPECT_EQ(tree.Node(node).Icon, corvane::session::IconFolderFile);
        EXPECT_EQ(std::filesystem::path(tree.FileOf(node)).parent_path(), std::filesystem::path(out));
        session.Load(tree.FileOf(node), nullptr);
        EXPECT_EQ(LoadedTexts(), TextsOf(folders[f])) << folders[f].Name;
    }
    EXPECT_TRUE(std::filesystem::exists(out + "/carve.json"));
}

TEST_F(SessionImage, PiecesOfASplitImageAreReadAsOneImage) {
    const std::string whole = ReadWholeFile(Path("disk.img"));
    const std::vector<std::string> pieces = [&] {
        std::vector<std::string> names;
        for (std::size_t at = 0, n = 1; at < whole.size(); at += 700 * 1024, ++n) {
            names.push_back(Path("disk.00" + std::to_string(n)));
            WriteWholeFile(names.back(), whole.substr(at, 700 * 1024));
        }
        return names;
    }();
    ASSERT_EQ(pieces.size(), 3u);
    WriteWholeFile(Path("disk.005"), "not a piece: disk.004 is missing");
    EXPECT_EQ(TMailSession::ImagePieces(pieces[0]), pieces);
    EXPECT_EQ(TMailSession::ImagePieces(pieces[1]), std::vector<std::string>{pieces[1]});
    EXPECT_EQ(TMailSession::ImagePieces(Path("disk.img")), std::vector<std::string>{Path("disk.img")});

    const TMailSession::TImageRecovery recovered = session.RecoverFromImage(pieces[0], Path("out"), nullptr);
    ASSERT_EQ(recovered.Nodes.size(), 3u);
    EXPECT_EQ(session.Tree().Node(recovered.Nodes[0]).Text, "Disk image disk.001");
    EXPECT_EQ(Children(recovered.Nodes[0]), (std::vector<std::string>{"recovered-1.dbx (1 piece, 10 messages)",
                                                                      "recovered-2.dbx (2 pieces, 9 messages)"}));
}

TEST_F(SessionImage, AStoppedRecoveryListsTheFilesFinishedUntilThen) {
    // Where the first folder file is whole: the report after which it stands.
    TStopAtReport watch(0, Path("whole/recovered-1.dbx"));
    session.RecoverFromImage(Path("disk.img"), Path("whole"), &watch);
    const int finished = watch.FirstReportWithFile();
    ASSERT_GT(finished, 1);
    const std::size_t before = session.Tree().Count();

    struct TStopCase {
        int At;
        std::vector<std::string> Children;
        std::string Text;
    };
    const std::vector<TStopCase> cases = {
        {1, {}, "Recovery from disk.img was stopped before a folder file was finished."},
        {finished, {"recovered-1.dbx (1 piece, 10 messages)"},
         "Recovery from disk.img was stopped. The folder files finished until then (1) are listed under its node."},
    };
    for (const TStopCase& c : cases) {
        const std::size_t nodes = session.Tree().Count();
        const std::string out = Path("stop" + std::to_string(c.At));
        TStopAtReport stop(c.At);
        const TMailSession::TImageRecovery recovered = session.RecoverFromImage(Path("disk.img"), out, &stop);
        EXPECT_EQ(recovered.Outcome, (TOutcome{TOutcome::Information, c.Text})) << c.At;
        ASSERT_EQ(recovered.Nodes.size(), c.Children.empty() ? 0u : c.Children.size() + 1) << c.At;
        EXPECT_EQ(session.Tree().Count(), nodes + recovered.Nodes.size());
        if (c.Children.empty()) continue;
        EXPECT_EQ(Children(recovered.Nodes[0]), c.Children);
        EXPECT_FALSE(std::filesystem::exists(out + "/recovered-2.dbx"));
        // What was finished is whole: the same file as an unstopped carve's.
        EXPECT_EQ(ReadWholeFile(session.Tree().FileOf(recovered.Nodes[1])), ReadWholeFile(Path("whole/recovered-1.dbx")));
        session.Load(session.Tree().FileOf(recovered.Nodes[1]), nullptr);
        EXPECT_EQ(LoadedTexts(), TextsOf(folders[0]));
    }
    EXPECT_GT(session.Tree().Count(), before);
}

TEST_F(SessionImage, ErrorsLeaveAsTheCarvesAfterTheNodesOfWhatWasFinished) {
    std::filesystem::create_directories(Path("a folder"));
    WriteWholeFile(Path("in the way"), "a file where the output folder should be");
    TDiskImage noise(5, 1 << 20, 63, TFiller::Binary);
    noise.Save(Path("noise.img"));

    struct TErrorCase {
        const char* Name;
        std::string Image, Out;
        std::string TextStart;  // of the error; empty: no error
        TOutcome Outcome;
    };
    const std::vector<TErrorCase> cases = {
        {"missing image", Path("missing.img"), Path("out1"), "Cannot open file \"" + Path("missing.img") + "\". ", {}},
        {"a folder as image", Path("a folder"), Path("out2"), "Cannot open file \"" + Path("a folder") + "\". ", {}},
        {"output folder is a file", Path("disk.img"), Path("in the way"), "Cannot create file \"" + Path("in the way") + "\". ", {}},
        {"nothing in the image", Path("noise.img"), Path("out3"), "",
         {TOutcome::Information, "No folder files were found in noise.img."}},
        {"no image chosen", "", Path("out4"), "", {}},
        {"no folder chosen", Path("disk.img"), "", "", {}},
    };
    for (const TErrorCase& c : cases) {
        const std::size_t nodes = session.Tree().Count();
        try {
            const TMailSession::TImageRecovery recovered = session.RecoverFromImage(c.Image, c.Out, nullptr);
            EXPECT_EQ(c.TextStart, "") << c.Name << ": no error";
            EXPECT_EQ(recovered.Outcome, c.Outcome) << c.Name;
            EXPECT_TRUE(recovered.Nodes.empty()) << c.Name;
        } catch (const ECorvaneError& e) {
            EXPECT_FALSE(c.TextStart.empty()) << c.Name << ": " << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(c.TextStart, 0), 0u) << c.Name << ": " << e.what();
        }
        EXPECT_EQ(session.Tree().Count(), nodes) << c.Name;
    }
    EXPECT_FALSE(std::filesystem::exists(Path("out4")));

    // A failure after a folder file was finished (the next would replace the
    // image itself): the finished file's node first, then the error.
    std::filesystem::create_directories(Path("mixed"));
    std::filesystem::copy_file(Path("disk.img"), Path("mixed/recovered-2.dbx"));
    const std::size_t nodes = session.Tree().Count();
    EXPECT_THROW(session.RecoverFromImage(Path("mixed/recovered-2.dbx"), Path("mixed"), nullptr), EFCreateError);
    ASSERT_EQ(session.Tree().Count(), nodes + 2);
    EXPECT_EQ(session.Tree().Node(static_cast<int>(nodes)).Text, "Disk image recovered-2.dbx");
    EXPECT_EQ(session.Tree().Node(static_cast<int>(nodes) + 1).Text, "recovered-1.dbx (1 piece, 10 messages)");
    EXPECT_EQ(ReadWholeFile(Path("mixed/recovered-2.dbx")), ReadWholeFile(Path("disk.img")));
}

TEST(SessionImageTexts, TheLabelOfACarvedFileCountsItsPiecesAndMessages) {
    struct TLabelCase {
        std::size_t Pieces, Complete, Partial;
        bool Live;
        const char* Text;
    };
    const TLabelCase cases[] = {
        {3, 8777, 0, true, "recovered-1.dbx (3 pieces, 8777 messages)"},
        {3, 8777, 23, true, "recovered-1.dbx (3 pieces, 8777 messages, 23 partial)"},
        {1, 1, 0, true, "recovered-1.dbx (1 piece, 1 message)"},
        {2, 0, 4, true, "recovered-1.dbx (2 pieces, 0 messages, 4 partial)"},
        {1, 0, 0, false, "recovered-1.dbx (1 piece, deleted messages only)"},
    };
    for (const TLabelCase& c : cases)
        EXPECT_EQ(texts::CarvedFileText("recovered-1.dbx", c.Pieces, c.Complete, c.Partial, c.Live), c.Text);
    EXPECT_EQ(texts::DiskImageNodeText("sdb.E01"), "Disk image sdb.E01");
    const std::string patterns = TMailSession::DiskImagePatterns();
    EXPECT_NE(patterns.find("*.img"), std::string::npos);
    EXPECT_NE(patterns.find("*.001"), std::string::npos);
}
