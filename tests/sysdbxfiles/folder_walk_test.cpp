// The folder walk of the drive search, on trees made for each test.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempTree.h"
#include "platform/Drives.h"
#include "platform/MessagePump.h"
#include "sysdbxfiles/sysdbxfiles.h"

namespace {

using Paths = std::vector<std::string>;

Paths Search(const std::string& folder, bool recurse = true, const std::string& mask = "*.dbx") {
    TDbxFiles files;
    files.SearchFolder(folder, mask, recurse);
    return files.FileList();
}

TEST(FolderWalk, OwnFilesFirstThenSubfoldersDepthFirstInNameOrder) {
    TTempTree t;
    t.File("b.dbx");
    t.File("A.dbx");  // upper case sorts before lower case in byte order
    t.File("zeta/deep/z1.dbx");
    t.File("zeta/z0.dbx");
    t.File("alpha/a2.dbx");
    t.File("alpha/a1.dbx");
    t.File("alpha/inner/i.dbx");
    t.File("m.dbx");
    const std::string r = t.Root() + "/";
    EXPECT_EQ(Search(t.Root()), (Paths{r + "A.dbx", r + "b.dbx", r + "m.dbx", r + "alpha/a1.dbx", r + "alpha/a2.dbx",
                                       r + "alpha/inner/i.dbx", r + "zeta/z0.dbx", r + "zeta/deep/z1.dbx"}));
}

TEST(FolderWalk, PathsAreTheFolderWithOneSeparatorPlusTheName) {
    TTempTree t;
    t.File("sub/x.dbx");
    const Paths expected{t.Root() + "/sub/x.dbx"};
    EXPECT_EQ(Search(t.Root()), expected);
    EXPECT_EQ(Search(t.Root() + "/"), expected);
    EXPECT_EQ(Search(t.Path("sub"), false), expected);
}

TEST(FolderWalk, WithoutRecurseOnlyTheFolderItself) {
    TTempTree t;
    t.File("top.dbx");
    t.File("sub/below.dbx");
    EXPECT_EQ(Search(t.Root(), false), (Paths{t.Root() + "/top.dbx"}));
}

TEST(FolderWalk, MaskIgnoresCaseAndMatchesWholeNames) {
    TTempTree t;
    for (const char* name : {"inbox.DBX", "Sent Items.Dbx", "x.dbx", ".dbx", "notes.dbxold", "dbx", "a.dbx.bak", "adbx"})
        t.File(name);
    const std::string r = t.Root() + "/";
    EXPECT_EQ(Search(t.Root()), (Paths{r + ".dbx", r + "Sent Items.Dbx", r + "inbox.DBX", r + "x.dbx"}));
}

TEST(FolderWalk, MaskWildcards) {
    using corvane::drives::MatchesMask;
    EXPECT_TRUE(MatchesMask("Inbox.dbx", "in?ox.*"));
    EXPECT_FALSE(MatchesMask("Inbx.dbx", "in?ox.*"));
    EXPECT_TRUE(MatchesMask("a.b.c.dbx", "*.*.dbx"));    // backtracking over several stars
    EXPECT_FALSE(MatchesMask("a.dbx", "*.*.dbx"));
    EXPECT_TRUE(MatchesMask("no-dot", "*.*"));           // "*.*" is every name
    EXPECT_TRUE(MatchesMask("", "*"));
    EXPECT_FALSE(MatchesMask("", "?"));
}

TEST(FolderWalk, FolderNamedLikeAFolderFileIsEnteredNotListed) {
    TTempTree t;
    t.File("Mail.dbx/Inbox.dbx");
    t.File("Mail.dbx/deeper.DBX/x.dbx");
    EXPECT_EQ(Search(t.Root()), (Paths{t.Root() + "/Mail.dbx/Inbox.dbx", t.Root() + "/Mail.dbx/deeper.DBX/x.dbx"}));
}

TEST(FolderWalk, HiddenFoldersAreEntered) {
    TTempTree t;
    t.File(".outlook/Identities/.store/Inbox.dbx");
    EXPECT_EQ(Search(t.Root()), (Paths{t.Root() + "/.outlook/Identities/.store/Inbox.dbx"}));
}

TEST(FolderWalk, OnlyFilesAreListed) {
    TTempTree t;
    t.File("real.dbx");
    t.Link("tofile.dbx", "real.dbx");        // a link to a file stands for that file
    t.Link("dangling.dbx", "missing.dbx");   // a link to nothing is no file
    t.Folder("dir");
    t.Link("todir.dbx", "dir");              // a link to a folder is neither listed nor entered
    ASSERT_EQ(::mkfifo(t.Path("pipe.dbx").c_str(), 0600), 0);  // opening it would block
    EXPECT_EQ(Search(t.Root()), (Paths{t.Root() + "/real.dbx", t.Root() + "/tofile.dbx"}));
}

TEST(FolderWalk, LinksToFoldersAreNotFollowed) {
    TTempTree t;
    t.File("a/own.dbx");
    t.Link("a/loop", "..");                   // a loop back up the tree
    t.Link("a/self", ".");
    t.File("outside/far.dbx");
    t.Link("a/away", t.Path("outside"));      // a link to elsewhere
    EXPECT_EQ(Search(t.Path("a")), (Paths{t.Path("a") + "/own.dbx"}));
}

TEST(FolderWalk, FolderThatCannotBeListedAddsNothing) {
    TTempTree t;
    EXPECT_TRUE(Search(t.Path("missing")).empty());
    t.File("plain.dbx");
    EXPECT_TRUE(Search(t.Path("plain.dbx")).empty());  // a file is no folder
    EXPECT_TRUE(Search("").empty());
}

// Removes one folder of the tree the first time the pump runs its handler.
std::string g_vanishing;
int g_handlerRuns = 0;
void RemoveVanishingFolder() {
    if (g_handlerRuns++ == 0) std::filesystem::remove_all(g_vanishing);
}

TEST(FolderWalk, FolderRemovedDuringTheWalkIsSkippedAndTheWalkGoesOn) {
    TTempTree t;
    // "a" holds enough entries for the pump to run its handler while the
    // walk is there; by then "m" is listed in the root but not yet entered.
    for (int i = 0; i < 3 * static_cast<int>(corvane::pump::detail::kCallsPerClockLook); ++i)
        t.File("a/n" + std::to_string(i) + ".txt");
    t.File("a/a.dbx");
    t.File("m/gone.dbx");
    t.File("z/stays.dbx");
    g_vanishing = t.Path("m");
    g_handlerRuns = 0;
    corvane::pump::SetInterval(std::chrono::milliseconds(0));
    auto previous = corvane::pump::SetHandler(RemoveVanishingFolder);
    const Paths found = Search(t.Root());
    corvane::pump::SetHandler(previous);
    corvane::pump::SetInterval(std::chrono::milliseconds(15));
    EXPECT_GE(g_handlerRuns, 2);  // the walk lets the window work all along
    EXPECT_EQ(found, (Paths{t.Path("a/a.dbx"), t.Path("z/stays.dbx")}));
}

TEST(FolderWalk, ResultsOnlyGrowAndKeepDuplicates) {
    TTempTree t;
    t.File("x.dbx");
    TDbxFiles files;
    files.SearchFolder(t.Root(), "*.dbx", true);
    files.SearchFolder(t.Root(), "*.dbx", true);
    EXPECT_EQ(files.FileList(), (Paths{t.Path("x.dbx"), t.Path("x.dbx")}));
}

// A mount made for a test, undone at its end. Needs the right to mount.
class TMount {
public:
    TMount(const std::string& source, const std::string& target, const char* type, unsigned long flags)
        : target_(target), ok_(::mount(source.c_str(), target.c_str(), type, flags, nullptr) == 0), error_(errno) {}
    ~TMount() {
        if (ok_) ::umount2(target_.c_str(), MNT_DETACH);
    }
    bool Ok() const { return ok_; }
    int Error() const { return error_; }

private:
    std::string target_;
    bool ok_;
    int error_;
};

TEST(FolderWalk, OtherFileSystemsMountedBelowAreNotEntered) {
    TTempTree t;
    t.File("tree/own.dbx");
    t.Folder("tree/ram");
    t.Folder("tree/bound");
    t.File("elsewhere/other.dbx");
    TMount ram("none", t.Path("tree/ram"), "tmpfs", 0);
    if (!ram.Ok()) GTEST_SKIP() << "cannot mount here: " << std::strerror(ram.Error());
    // The same file system bound in again: same device number, another mount.
    TMount bound(t.Path("elsewhere"), t.Path("tree/bound"), nullptr, MS_BIND);
    ASSERT_TRUE(bound.Ok()) << std::strerror(bound.Error());
    std::ofstream(t.Path("tree/ram/inram.dbx")) << "x";

    EXPECT_EQ(Search(t.Path("tree")), (Paths{t.Path("tree/own.dbx")}));
    // Each is walked when it is the folder asked for.
    EXPECT_EQ(Search(t.Path("tree/ram")), (Paths{t.Path("tree/ram/inram.dbx")}));
    EXPECT_EQ(Search(t.Path("tree/bound")), (Paths{t.Path("tree/bound/other.dbx")}));
}

}  // namespace
