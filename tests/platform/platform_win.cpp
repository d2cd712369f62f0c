// What only Windows shows of the operating-system layer: the share modes of
// the file opens, the temporary folder and its doubled separator, the
// system's upper-casing and its error texts.

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <string>

#include "FastStrings/FastStrings.h"
#include "platform/AnsiText.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/TempNames.h"
#include "support/TestFiles.h"

using namespace corvane;
namespace support = corvane::testsupport;

namespace {

// Opens the file through a handle of its own; the error code when that fails.
DWORD OpenError(const std::string& path, DWORD access, DWORD share) {
    HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return ERROR_SUCCESS;
}

// The system's own text for an error code, straight from FormatMessageA.
std::string FormatMessageText(DWORD code) {
    char text[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             sizeof text, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

constexpr DWORD kAnyOpen = FILE_SHARE_READ | FILE_SHARE_WRITE;

}  // namespace

TEST(WindowsFiles, ANonSharedOpenKeepsEveryOtherHandleOutUntilItCloses) {
    support::TScratchFolder dir;
    const std::string path = dir / "folder.dbx";
    support::WriteWholeFile(path, "bytes");
    {
        fs::TReadFile held(path, fs::Share::None);
        EXPECT_EQ(OpenError(path, GENERIC_READ, kAnyOpen), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_THROW(fs::TReadFile(path, fs::Share::All), EFOpenError);
    }
    EXPECT_EQ(OpenError(path, GENERIC_READ, 0), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(WindowsFiles, SharedOpensLetOthersReadAndWriteMeanwhile) {
    support::TScratchFolder dir;
    const std::string path = dir / "msg1.tmp";
    support::WriteWholeFile(path, "0123456789");
    fs::TReadFile first(path, fs::Share::All);
    fs::TReadFile second(path, fs::Share::All);  // the parse and the line finder at once
    EXPECT_EQ(OpenError(path, GENERIC_READ | GENERIC_WRITE, kAnyOpen), static_cast<DWORD>(ERROR_SUCCESS));
    char buffer[4] = {};
    EXPECT_EQ(second.ReadAt(6, buffer, sizeof buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    // A file someone else holds without sharing cannot be opened at all.
    HANDLE exclusive = CreateFileA((dir / "other.tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_THROW(fs::TReadFile(dir / "other.tmp", fs::Share::All), EFOpenError);
    CloseHandle(exclusive);
}

TEST(WindowsFiles, OpenAndCreateErrorsCarryTheSystemsText) {
    support::TScratchFolder dir;
    const std::string missing = dir / "nothing.dbx";
    const std::string text = FormatMessageText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    try {
        fs::TReadFile f(missing, fs::Share::None);
        FAIL() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + missing + "\". " + text);
    }
    const std::string inMissingFolder = dir / "no/such/msg1.tmp";
    try {
        fs::TWriteFile f(inMissingFolder, fs::Create::Fresh);
        FAIL() << "created a file in a missing folder";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + inMissingFolder + "\". " + FormatMessageText(ERROR_PATH_NOT_FOUND));
    }
    // A message file name held open elsewhere is reported as held, not as existing.
    const std::string held = dir / "msg2.tmp";
    support::WriteWholeFile(held, "old");
    HANDLE h = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    try {
        fs::TWriteFile f(held, fs::Create::Fresh);
        ADD_FAILURE() << "replaced a file held open without sharing";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + held + "\". " + FormatMessageText(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(h);
}

TEST(WindowsTempNames, TheFolderIsTheSystemsAndNamesHoldTwoSeparators) {
    support::TScratchFolder dir;
    support::TTempFolderOverride temp(dir.Path());
    char expected[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(MAX_PATH, expected);
    ASSERT_GT(n, 0u);
    const std::string folder = fs::TempPath();
    EXPECT_EQ(folder, std::string(expected, n));
    EXPECT_EQ(folder, dir.Path() + "\\");

    const std::string name = fs::JoinTempName(folder, "msg1.tmp");
    EXPECT_EQ(name, dir.Path() + "\\\\msg1.tmp");
    // The system reads the two separators as one.
    {
        fs::TWriteFile f(name, fs::Create::Fresh);
        f.Write("text", 4);
    }
    EXPECT_EQ(support::ReadWholeFile(dir / "msg1.tmp"), "text");
}

TEST(WindowsAnsiText, TheSystemsUpperCasingIsTheWindows1252Table) {
    if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page here is " << GetACP() << ", not Windows-1252";
    std::array<unsigned char, 256> system{};
    for (int b = 0; b < 256; ++b) system[b] = static_cast<unsigned char>(b);
    CharUpperBuffA(reinterpret_cast<LPSTR>(system.data()), static_cast<DWORD>(system.size()));
    // The table the searches use elsewhere, built from the same bytes.
    for (int b = 0; b < 256; ++b) {
        int expected = b;
        if (b >= 'a' && b <= 'z') expected = b - 0x20;
        else if (b >= 0xE0 && b <= 0xFE && b != 0xF7) expected = b - 0x20;
        else if (b == 0x9A || b == 0x9C || b == 0x9E) expected = b - 0x10;
        else if (b == 0xFF) expected = 0x9F;
        EXPECT_EQ(system[b], expected) << "byte " << b;
        EXPECT_EQ(UpperTable[static_cast<unsigned char>(b)], system[b]) << "byte " << b;
    }
}
