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

TEST_F(TempPathTest, RefusesALinkOrAForeignFolder) {
    stdfs::create_directory(dir_ / "elsewhere");
    stdfs::create_directory_symlink(dir_ / "elsewhere", Expected());
    try {
        fs::TempPath();
        FAIL() << "used a symbolic link";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Path(), Expected());
    }
    stdfs::remove(Expected());

    support::WriteWholeFile(Expected(), "");  // a plain file in the way
    EXPECT_THROW(fs::TempPath(), EFCreateError);
    stdfs::remove(Expected());

    if (::getuid() == 0) {  // only root can hand a folder to someone else
        stdfs::create_directory(Expected());
        ASSERT_EQ(::chown(Expected().c_str(), 12345, 12345), 0);
        EXPECT_THROW(fs::TempPath(), EFCreateError);
    }
}
