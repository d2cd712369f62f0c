// What only Windows shows of the drive search: the file attributes decide
// what the walk lists and enters, and the drive test leaves the process's
// current directory and error mode as they were.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TempTree.h"
#include "platform/Errors.h"
#include "sysdbxfiles/sysdbxfiles.h"

namespace {

using Paths = std::vector<std::string>;

Paths SortedSearch(const std::string& folder) {
    TDbxFiles files;
    files.SearchFolder(folder, "*.dbx", true);
    Paths found = files.FileList();
    std::sort(found.begin(), found.end());
    return found;
}

// Adds attributes to an entry; false when the file system does not keep them.
bool AddAttributes(const std::string& path, DWORD attributes) {
    const DWORD now = GetFileAttributesA(path.c_str());
    if (now == INVALID_FILE_ATTRIBUTES) return false;
    if (!SetFileAttributesA(path.c_str(), (now & ~FILE_ATTRIBUTE_NORMAL) | attributes)) return false;
    return (GetFileAttributesA(path.c_str()) & attributes) == attributes;
}

std::string CurrentDirectory() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
    return std::string(buffer, n);
}

}  // namespace

TEST(WindowsFolderWalk, AttributesDecideWhatIsListedAndEntered) {
    TTempTree t;
    for (const char* f : {"plain.dbx", "readonly.dbx", "hidden.dbx", "system.dbx", "all.dbx", "hiddenfolder/in.dbx",
                          "systemfolder/out.dbx", "readonlyfolder/in.dbx"})
        t.File(f);
    const std::pair<const char*, DWORD> marks[] = {
        {"readonly.dbx", FILE_ATTRIBUTE_READONLY},
        {"hidden.dbx", FILE_ATTRIBUTE_HIDDEN},
        {"system.dbx", FILE_ATTRIBUTE_SYSTEM},
        {"all.dbx", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"hiddenfolder", FILE_ATTRIBUTE_HIDDEN},
        {"systemfolder", FILE_ATTRIBUTE_SYSTEM},
    };
    // Wine keeps no read-only mark on a folder; the folder is entered either way.
    AddAttributes(t.Path("readonlyfolder"), FILE_ATTRIBUTE_READONLY);
    std::string notKept;
    for (const auto& [name, attributes] : marks)
        if (!AddAttributes(t.Path(name), attributes)) notKept += std::string(" ") + name;
    if (!notKept.empty()) GTEST_SKIP() << "this file system did not keep the attributes of" << notKept;

    // Files whatever their attributes; hidden and read-only folders entered,
    // the system folder not.
    Paths expected{t.Path("all.dbx"), t.Path("hidden.dbx"), t.Path("hiddenfolder/in.dbx"), t.Path("plain.dbx"),
                   t.Path("readonly.dbx"), t.Path("readonlyfolder/in.dbx"), t.Path("system.dbx")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(SortedSearch(t.Root()), expected);
    // The system folder itself is listed when asked for directly.
    EXPECT_EQ(SortedSearch(t.Path("systemfolder")), Paths{t.Path("systemfolder/out.dbx")});
}

TEST(WindowsDriveTest, LeavesTheCurrentDirectoryAndTheErrorModeAsTheyWere) {
    TTempTree t;
    t.File("file");
    t.Folder("here");
    const std::string before = CurrentDirectory();
    ASSERT_TRUE(SetCurrentDirectoryA(t.Path("here").c_str()));
    const std::string here = CurrentDirectory();
    const UINT mode = SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
    const UINT outer = SetErrorMode(mode);

    struct TCase {
        std::string root;
        bool accessible;
    };
    char unused = 0;
    for (char letter = 'Z'; letter >= 'D' && unused == 0; --letter) {
        const std::string root = std::string(1, letter) + ":\\";
        if (GetDriveTypeA(root.c_str()) == DRIVE_NO_ROOT_DIR) unused = letter;
    }
    std::vector<TCase> cases{{"C:\\", true}, {t.Path(""), true}, {t.Path("file"), false}, {t.Path("missing\\"), false}};
    if (unused != 0) cases.push_back({std::string(1, unused) + ":\\", false});
    for (const TCase& c : cases) {
        EXPECT_EQ(TDbxFiles::IsDriveAccessible(c.root), c.accessible) << c.root;
        EXPECT_EQ(CurrentDirectory(), here) << c.root;
        EXPECT_EQ(GetErrorMode(), mode) << c.root;
    }

    SetErrorMode(outer);
    SetCurrentDirectoryA(before.c_str());
}

TEST(WindowsDriveTest, TheDrivesAreTheFixedOnesThatCanBeEntered) {
    const std::string before = CurrentDirectory();
    char buffer[256] = {};
    const DWORD n = GetLogicalDriveStringsA(sizeof buffer - 1, buffer);
    Paths fixed;
    for (DWORD at = 0; at < n && buffer[at] != '\0'; at += static_cast<DWORD>(std::string(buffer + at).size()) + 1) {
        const std::string root(buffer + at);
        if (GetDriveTypeA(root.c_str()) == DRIVE_FIXED && SetCurrentDirectoryA(root.c_str())) fixed.push_back(root);
    }
    SetCurrentDirectoryA(before.c_str());
    EXPECT_FALSE(fixed.empty());
    EXPECT_EQ(TDbxFiles::GetFixedDrives(), fixed);
}
