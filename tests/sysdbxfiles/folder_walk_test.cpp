// The folder walk of the drive search, on trees made for each test.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>

#include "TempTree.h"
#include "platform/Drives.h"
#include "platform/MessagePump.h"
#include "sysdbxfiles/sysdbxfiles.h"

namespace {

using Paths = std::vector<std::string>;

Paths Search(const std::string& folder, bool recurse = true) {
    TDbxFiles files;
    files.SearchFolder(folder, "*.dbx", recurse);
    return files.FileList();
}

TEST(FolderWalk, OwnFilesFirstThenSubfoldersDepthFirstInNameOrder) {
    TTempTree t;
    for (const char* f : {"b.dbx", "A.dbx", "zeta/deep/z1.dbx", "zeta/z0.dbx", "alpha/a2.dbx", "alpha/a1.dbx",
                          "alpha/inner/i.dbx", "m.dbx"})
        t.File(f);
    const std::string r = t.Root() + "/";  // byte order: upper case before lower case
    const Paths all{r + "A.dbx", r + "b.dbx", r + "m.dbx", r + "alpha/a1.dbx", r + "alpha/a2.dbx",
                    r + "alpha/inner/i.dbx", r + "zeta/z0.dbx", r + "zeta/deep/z1.dbx"};
    EXPECT_EQ(Search(t.Root()), all);
    EXPECT_EQ(Search(r), all);  // one separator, whether the folder ends in one or not
    EXPECT_EQ(Search(t.Root(), false), (Paths{r + "A.dbx", r + "b.dbx", r + "m.dbx"}));
}

TEST(FolderWalk, MaskIgnoresCaseAndMatchesWholeNames) {
    TTempTree t;
    for (const char* name : {"inbox.DBX", "Sent Items.Dbx", ".dbx", "notes.dbxold", "dbx", "a.dbx.bak", "adbx"})
        t.File(name);
    const std::string r = t.Root() + "/";
    EXPECT_EQ(Search(t.Root()), (Paths{r + ".dbx", r + "Sent Items.Dbx", r + "inbox.DBX"}));

    using corvane::drives::MatchesMask;
    EXPECT_TRUE(MatchesMask("Inbox.dbx", "in?ox.*"));
    EXPECT_FALSE(MatchesMask("Inbx.dbx", "in?ox.*"));
    EXPECT_TRUE(MatchesMask("a.b.c.dbx", "*.*.dbx"));  // backtracking over several stars
    EXPECT_FALSE(MatchesMask("a.dbx", "*.*.dbx"));
    EXPECT_TRUE(MatchesMask("no-dot", "*.*"));  // "*.*" is every name
}

TEST(FolderWalk, FoldersNamedLikeFolderFilesAndHiddenFoldersAreEntered) {
    TTempTree t;
    t.File("Mail.dbx/Inbox.dbx");
    t.File(".outlook/.store/Sent.dbx");
    EXPECT_EQ(Search(t.Root()), (Paths{t.Path(".outlook/.store/Sent.dbx"), t.Path("Mail.dbx/Inbox.dbx")}));
}

TEST(FolderWalk, OnlyFilesAreListedAndLinksToFoldersAreNotFollowed) {
    TTempTree t;
    t.File("a/real.dbx");
    t.Link("a/tofile.dbx", "real.dbx");       // a link to a file stands for that file
    t.Link("a/dangling.dbx", "missing.dbx");  // a link to nothing is no file
    ASSERT_EQ(::mkfifo(t.Path("a/pipe.dbx").c_str(), 0600), 0);  // opening it would block
    t.Link("a/loop.dbx", "..");               // a loop back up the tree
    t.File("outside/far.dbx");
    t.Link("a/away", t.Path("outside"));
    EXPECT_EQ(Search(t.Path("a")), (Paths{t.Path("a/real.dbx"), t.Path("a/tofile.dbx")}));
}

TEST(FolderWalk, FolderThatCannotBeListedAddsNothing) {
    TTempTree t;
    t.File("plain.dbx");
    EXPECT_TRUE(Search(t.Path("missing")).empty());
    EXPECT_TRUE(Search(t.Path("plain.dbx")).empty());
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
    // Enough entries in "a" for the pump to run its handler while the walk is
    // there; "m" is listed in the root by then, but not yet entered.
    for (unsigned i = 0; i < 3 * corvane::pump::detail::kCallsPerClockLook; ++i) t.File("a/n" + std::to_string(i));
    t.File("a/a.dbx");
    t.File("m/gone.dbx");
    t.File("z/stays.dbx");
    g_vanishing = t.Path("m");
    g_handlerRuns = 0;
    corvane::pump::SetInterval(std::chrono::milliseconds(0));
    const auto previous = corvane::pump::SetHandler(RemoveVanishingFolder);
    const Paths found = Search(t.Root());
    corvane::pump::SetHandler(previous);
    corvane::pump::SetInterval(std::chrono::milliseconds(15));
    EXPECT_GE(g_handlerRuns, 2);  // the window gets its turns all along the walk
    EXPECT_EQ(found, (Paths{t.Path("a/a.dbx"), t.Path("z/stays.dbx")}));
}

// A mount for one test, undone at its end.
struct TMount {
    TMount(const std::string& source, const std::string& target, const char* type, unsigned long flags)
        : target(target), ok(::mount(source.c_str(), target.c_str(), type, flags, nullptr) == 0), error(errno) {}
    ~TMount() {
        if (ok) ::umount2(target.c_str(), MNT_DETACH);
    }
    std::string target;
    bool ok;
    int error;
};

TEST(FolderWalk, OtherFileSystemsMountedBelowAreNotEntered) {
    TTempTree t;
    t.File("tree/own.dbx");
    t.Folder("tree/ram");
    t.Folder("tree/bound");
    t.File("elsewhere/other.dbx");
    const TMount ram("none", t.Path("tree/ram"), "tmpfs", 0);
    if (!ram.ok) GTEST_SKIP() << "no right to mount here: " << std::strerror(ram.error);
    // The same file system bound in again: same device number, another mount.
    const TMount bound(t.Path("elsewhere"), t.Path("tree/bound"), nullptr, MS_BIND);
    ASSERT_TRUE(bound.ok) << std::strerror(bound.error);
    t.File("tree/ram/inram.dbx");

    EXPECT_EQ(Search(t.Path("tree")), (Paths{t.Path("tree/own.dbx")}));
    EXPECT_EQ(Search(t.Path("tree/ram")), (Paths{t.Path("tree/ram/inram.dbx")}));
    EXPECT_EQ(Search(t.Path("tree/bound")), (Paths{t.Path("tree/bound/other.dbx")}));
}

}  // namespace
