// The mbox writer where only this system can set the scene: permission bits
// that keep a process out of a folder, a file size limit (RLIMIT_FSIZE) as a
// full disk, and the file's mode bits.

#include <algorithm>
#include <csignal>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "MboxTestSupport.h"
#include "emailexport/emailexport.h"
#include "platform/Files.h"
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

namespace {

// Runs body in a child process that kills itself (SIGKILL) where body says;
// true when it died so.
template <typename Body>
bool KilledChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        body([] { ::kill(::getpid(), SIGKILL); });
        std::_Exit(3);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace

// Killed in the middle of an mbox: nothing of it is left in the folder (the
// mbox is written without a name), and the file of that name is as it was.
TEST_F(MboxPosix, AKilledExportLeavesNothing) {
    WriteAll(Path("out.mbox"), "the user's mbox");
    const TEmailArray records = MessageFile("m.tmp", {"Subject: 1\r\n\r\n" + std::string(100000, 'a') + "\r\n",
                                                      "Subject: 2\r\n\r\nb\r\n"});
    ASSERT_TRUE(KilledChild([&](auto kill) {
        TMboxWriter mbox(Path("out.mbox"), kExportTime);
        mbox.Add(records[0]);
        kill();
    }));
    EXPECT_EQ(ReadAll(Path("out.mbox")), "the user's mbox");
    EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"m.tmp", "out.mbox"}));
}

// Where a temporary name had to serve (no unnamed files there), the next
// mbox of the same name removes what a killed writer left once nobody holds
// it; a live writer's file and a file of the user's that is no mbox begun
// are left alone.
TEST_F(MboxPosix, ATemporaryFileOfAKilledWriterIsRemovedByTheNext) {
    const std::string target = Path("out.mbox");
    ASSERT_TRUE(KilledChild([&](auto kill) {
        const auto part = CreateTemporaryFor(target);  // out.mbox.part
        part->Hold();
        part->Write("From a@example.org Mon May  5 09:00:00 2003\nhalf", 48);
        kill();
    }));
    ASSERT_TRUE(stdfs::exists(target + ".part"));
    // A live writer holds out.mbox.part-...: it waits on a pipe until told.
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t live = ::fork();
    if (live == 0) {
        const auto part = CreateTemporaryFor(target);
        part->Hold();
        part->Write("From ", 5);
        char c = 0;
        (void)!::write(ready[1], &c, 1);
        (void)!::read(go[0], &c, 1);
        std::_Exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    WriteAll(target + ".part-user", "notes of the user's");
    const TEmailArray records = MessageFile("m.tmp", {"x\r\n"});
    WriteMbox(All(records), target, kExportTime);
    std::vector<std::string> left = FilesIn(dir_);
    (void)!::write(go[1], &c, 1);
    ::waitpid(live, nullptr, 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), "out.mbox.part"), 0);  // the dead writer's: gone
    EXPECT_EQ(std::count(left.begin(), left.end(), "out.mbox.part-user"), 1);
    EXPECT_EQ(std::count_if(left.begin(), left.end(),
                            [](const std::string& n) { return n.rfind("out.mbox.part-", 0) == 0 && n != "out.mbox.part-user"; }),
              1);  // the live writer's
    EXPECT_EQ(ReadAll(target), "From a@example.org Mon May  5 09:00:00 2003\nx\n\n\n");
}
