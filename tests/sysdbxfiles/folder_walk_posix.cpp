// The folder walk of the drive search on what only POSIX file systems hold
// here: pipes, symbolic links made by any user, and mounts below a folder.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>

#include "TempTree.h"
#include "sysdbxfiles/sysdbxfiles.h"

namespace {

using Paths = std::vector<std::string>;

Paths Search(const std::string& folder, bool recurse = true) {
    TDbxFiles files;
    files.SearchFolder(folder, "*.dbx", recurse);
    return files.FileList();
}

TEST(FolderWalk, OnlyFilesAreListedAndLinksToFoldersAreNotFollowed) {
    TTempTree t;
    t.File("a/real.dbx");
    ASSERT_TRUE(t.Link("a/tofile.dbx", "real.dbx"));       // a link to a file stands for that file
    ASSERT_TRUE(t.Link("a/dangling.dbx", "missing.dbx"));  // a link to nothing is no file
    ASSERT_EQ(::mkfifo(t.Path("a/pipe.dbx").c_str(), 0600), 0);  // opening it would block
    ASSERT_TRUE(t.Link("a/loop.dbx", ".."));               // a loop back up the tree
    t.File("outside/far.dbx");
    ASSERT_TRUE(t.Link("a/away", t.Path("outside")));
    EXPECT_EQ(Search(t.Path("a")), (Paths{t.Path("a/real.dbx"), t.Path("a/tofile.dbx")}));
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
