// The private temporary folder of the message files outside Windows: a folder
// of the user's own below $TMPDIR, which nobody else can read or plant.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "support/TestFiles.h"

namespace stdfs = std::filesystem;
using namespace corvane;
namespace support = corvane::testsupport;

class TempPathTest : public ::testing::Test {
protected:
    std::string Expected() const { return dir_ / ("corvane-recovery-" + std::to_string(::getuid())); }
    support::TScratchFolder dir_{"corvane-platform"};
    support::TEnvOverride tmpdir_{"TMPDIR", dir_.Path()};
};

TEST_F(TempPathTest, IsAPrivateFolderOfTheUser) {
    EXPECT_EQ(fs::TempPath(), Expected() + "/");
    struct stat st {};
    ASSERT_EQ(::lstat(Expected().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(fs::TempPath(), Expected() + "/");  // the second call finds it

    // A folder someone widened is narrowed again.
    ::chmod(Expected().c_str(), 0777);
    fs::TempPath();
    ::lstat(Expected().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// Whatever holds the usual name (a symbolic link, a plain file, another
// user's folder: any local user can make one), it is never used: the
// message files go to a private folder of the user's own beside it, made
// with mkdtemp, and the user hears of it once.
TEST_F(TempPathTest, FallsBackToAPrivateFolderWhenTheNameIsTaken) {
    const auto fallsBack = [&](const std::string& what) {
        const std::string used = fs::UserTempPath();
        ASSERT_EQ(used.back(), '/') << what;
        const std::string folder = used.substr(0, used.size() - 1);
        EXPECT_EQ(folder.rfind(Expected() + "-", 0), 0u) << what << ": " << folder;
        struct stat st {};
        ASSERT_EQ(::lstat(folder.c_str(), &st), 0) << what;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << what;
        EXPECT_EQ(st.st_uid, ::getuid()) << what;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << what;
        // The same folder serves the next call and the message files.
        EXPECT_EQ(fs::UserTempPath(), used) << what;
        const std::string messages = fs::TempPath();
        EXPECT_EQ(messages.rfind(used, 0), 0u) << what;
        support::WriteWholeFile(messages + "probe.tmp", "x");
        stdfs::remove(messages + "probe.tmp");
    };
    stdfs::create_directory(dir_ / "elsewhere");
    stdfs::create_directory_symlink(dir_ / "elsewhere", Expected());
    fallsBack("a symbolic link");
    EXPECT_TRUE(stdfs::is_empty(dir_ / "elsewhere"));  // nothing through the link
    const std::string notice = fs::TakeTempFolderNotice();
    EXPECT_NE(notice.find(Expected()), std::string::npos) << notice;
    EXPECT_EQ(fs::TakeTempFolderNotice(), "");  // said once
    stdfs::remove(Expected());

    support::WriteWholeFile(Expected(), "");  // a plain file in the way
    fallsBack("a plain file");
    stdfs::remove(Expected());

    if (::getuid() != 0) {
        GTEST_SKIP() << "another user's folder needs root to make (chown); not run as root";
    }
    stdfs::create_directory(Expected());
    ASSERT_EQ(::chown(Expected().c_str(), 12345, 12345), 0);
    fallsBack("another user's folder");
    struct stat st {};
    ::lstat(Expected().c_str(), &st);
    EXPECT_EQ(st.st_uid, 12345u);  // left as it was
    EXPECT_TRUE(stdfs::is_empty(Expected()));
}
