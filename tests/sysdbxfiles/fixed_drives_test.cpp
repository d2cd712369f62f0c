// The drive list of this machine and the drive test.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "TempTree.h"
#include "sysdbxfiles/sysdbxfiles.h"

namespace {

TEST(FixedDrives, RootAlwaysCountsAndEveryDriveIsAnEnterableFolderOnce) {
    const auto drives = TDbxFiles::GetFixedDrives();
    // The root file system elsewhere; the system drive (C: under Wine too) on Windows.
    const std::string root = corvane::testsupport::IsWindows() ? "C:\\" : "/";
    EXPECT_NE(std::find(drives.begin(), drives.end(), root), drives.end());
    for (const std::string& d : drives) {
        EXPECT_EQ(d.back(), corvane::testsupport::Separator()) << d;
        EXPECT_TRUE(TDbxFiles::IsDriveAccessible(d)) << d;
    }
    EXPECT_EQ(std::set<std::string>(drives.begin(), drives.end()).size(), drives.size());
}

TEST(FixedDrives, OnlyFoldersAreAccessible) {
    TTempTree t;
    t.File("file");
    EXPECT_TRUE(TDbxFiles::IsDriveAccessible(t.Path("")));
    EXPECT_FALSE(TDbxFiles::IsDriveAccessible(t.Path("file")));
    EXPECT_FALSE(TDbxFiles::IsDriveAccessible(t.Path("missing/")));
}

}  // namespace
