// The mbox writer where only this system can set the scene: permission bits
// that keep a process out of a folder, a file size limit (RLIMIT_FSIZE) as a
// full disk, and the file's mode bits.

#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "MboxTestSupport.h"
#include "platform/Errors.h"
#include "support/FileSizeLimit.h"

using namespace mboxtest;

namespace {

class MboxPosix : public Mbox {};

}  // namespace

TEST_F(MboxPosix, AFolderWithoutWritePermission) {
    if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
    const TEmailArray records = MessageFile("m.tmp", {"x\r\n"});
    stdfs::create_directory(Path("readonly"));
    stdfs::permissions(Path("readonly"), stdfs::perms::owner_read | stdfs::perms::owner_exec);
    EXPECT_THROW(WriteMbox(All(records), Path("readonly/out.mbox"), kExportTime), EFCreateError);
    stdfs::permissions(Path("readonly"), stdfs::perms::owner_all);
    EXPECT_TRUE(FilesIn(Path("readonly")).empty());
}

// The disk fills up (here: the process may write no more than 64 KB per file).
TEST_F(MboxPosix, AWriteThatRunsOutOfSpaceKeepsTheExistingFileWhole) {
    const std::string kept = "the mbox of last week\n";
    WriteAll(Path("out.mbox"), kept);
    const TEmailArray records = MessageFile("big.tmp", {std::string(3 << 20, 'b') + "\r\n"});
    bool raised = false;
    {
        const corvane::testsupport::TFileSizeLimit limit(64 << 10);
        ASSERT_TRUE(limit.Set());
        try {
            WriteMbox(All(records), Path("out.mbox"), kExportTime);
        } catch (const EFCreateError& e) {
            raised = true;
            EXPECT_EQ(e.Path(), Path("out.mbox"));
        }
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(ReadAll(Path("out.mbox")), kept);
    EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"big.tmp", "out.mbox"}));
}

// The mbox is readable as the umask allows, like any program's output.
TEST_F(MboxPosix, TheFileFollowsTheUmask) {
    for (const mode_t mask : {077, 022, 002}) {
        const mode_t before = ::umask(mask);
        WriteMbox({}, Path("out.mbox"), kExportTime);
        ::umask(before);
        struct stat st {};
        ASSERT_EQ(::stat(Path("out.mbox").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "umask " << mask;
    }
}
