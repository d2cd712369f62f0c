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
    EXPECT_NE(std::find(drives.begin(), drives.end(), "/"), drives.end());
    for (const std::string& d : drives) {
        EXPECT_EQ(d.back(), '/') << d;
        EXPECT_TRUE(TDbxFiles::IsDriveAccessible(d)) << d;
    }
    EXPECT_EQ(std::set<std::string>(drives.begin(), drives.end()).size(), drives.size());
}

TEST(FixedDrives, OnlyFoldersAreAccessible) {
    TTempTree t;
    t.File("file");
    EXPECT_TRUE(TDbxFiles::IsDriveAccessible(t.Root() + "/"));
    EXPECT_FALSE(TDbxFiles::IsDriveAccessible(t.Path("file")));
    EXPECT_FALSE(TDbxFiles::IsDriveAccessible(t.Path("missing/")));
}

}  // namespace
