// The session and the folder files' index: a store folder's tree of folders,
// the index's lines in the preview, and what the status says when whole
// messages cannot come from the index.

#include <gtest/gtest.h>

#include <filesystem>

#include "SessionTestSupport.h"
#include "mailsession/SessionTexts.h"
#include "sysdbxfiles/sysdbxfiles.h"
#include "support/StoreFixture.h"

using namespace corvane::testsupport;
using corvane::session::TFileTree;

namespace {

class SessionStore : public SessionTest {
protected:
    std::string Store() const {
        const std::string dir = Path("store");
        std::filesystem::create_directories(dir);
        WriteStore(dir, {
            {1, 0, "Local Folders", "", "", {}, 0, 0, true},
            {2, 1, "Inbox", "Inbox.dbx", "", {PlainMessage("a@x", "one", "1"), PlainMessage("b@x", "two", "2")}, 1, 1, true},
            {3, 2, "Family", "Folder1.dbx", "", {PlainMessage("m@x", "dinner", "3")}, 0, 0, true},
            {4, 1, "Gone", "Folder2.dbx", "", {}, 0, 0, false},
        });
        return dir;
    }
};

}  // namespace

TEST_F(SessionStore, AStoreFolderShowsItsFoldersAsATreeUnderDbxFiles) {
    const std::string dir = Store();
    const std::vector<int> nodes = session.AddStoreFolder(dir);
    ASSERT_EQ(nodes.size(), 5u);
    const TFileTree& tree = session.Tree();
    EXPECT_EQ(tree.Node(nodes[0]).Text, dir);
    EXPECT_EQ(tree.Node(nodes[0]).Parent, TFileTree::kDbxFiles);
    EXPECT_EQ(tree.FileOf(nodes[0]), "");
    EXPECT_EQ(tree.Node(nodes[1]).Text, "Local Folders (0/0)");
    EXPECT_EQ(tree.Node(nodes[2]).Text, "Inbox (1/2)");
    EXPECT_EQ(tree.Node(nodes[2]).Parent, nodes[1]);
    EXPECT_EQ(tree.Node(nodes[3]).Text, "Family (0/1)");
    EXPECT_EQ(tree.Node(nodes[3]).Parent, nodes[2]);
    EXPECT_EQ(tree.FileOf(nodes[4]), "");  // its file is missing: a click loads nothing
    EXPECT_EQ(session.IndexStatus(), "");

    // A click on a folder loads its file; the preview shows the index's lines.
    session.Load(tree.FileOf(nodes[2]), nullptr);
    ASSERT_EQ(session.RowCount(), 2u);
    session.SetDecodeTexts(true, nullptr);
    const std::string preview = session.PreviewText(0);
    EXPECT_EQ(preview.rfind("Received: 2004-05-06T07:08:09Z\nState: read\nAttachment: no\n\n", 0), 0u) << preview;
    session.SetDecodeTexts(false, nullptr);
    EXPECT_EQ(session.PreviewText(0).find("Received:"), std::string::npos);

    EXPECT_TRUE(session.AddStoreFolder(Path("tmp-none")).empty());
}

TEST_F(SessionStore, AutoScanFindingFoldersDbxAddsTheStoresTree) {
    const std::string dir = Store();
    session.Search = [&](TDbxFiles& files) { files.SearchFolder(dir, "*.dbx", true); };
    const std::vector<int> added = session.AutoScan(nullptr);
    int storeNodes = 0;
    for (const int node : added)
        if (session.Tree().Node(node).Parent != TFileTree::kSystemFiles) ++storeNodes;
    EXPECT_EQ(storeNodes, 5);
}

TEST_F(SessionStore, TheStatusTellsWhyWholeMessagesCannotUseTheIndex) {
    const std::string path = ThreeLiveTwoDeleted();
    session.SetWholeMessages(true, nullptr);
    session.Load(path, nullptr);
    EXPECT_NE(session.IndexStatus().find("could not be used (the folder file has no index)"), std::string::npos)
        << session.IndexStatus();
    session.SetWholeMessages(false, nullptr);
    EXPECT_EQ(session.IndexStatus(), "");
    EXPECT_EQ(corvane::session::TMailSession::IndexLines(session.RecordOfRow(0)), "");

    TEmail notListed;
    notListed.IndexState = TIndexState::NotInIndex;
    EXPECT_EQ(corvane::session::TMailSession::IndexLines(notListed), "Index: not in the index\n\n");
}
