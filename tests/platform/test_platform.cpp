// The operating-system layer: code-page text, file primitives, the private
// temporary folder.

#include <cstring>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/AnsiText.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "support/TestFiles.h"

namespace stdfs = std::filesystem;
using namespace corvane;
namespace support = corvane::testsupport;

namespace {

class ScratchDir : public support::TScratchFolder {
public:
    ScratchDir() : TScratchFolder("corvane-platform") {}
    const std::string& path() const { return Path(); }
};

std::string ReadAll(const std::string& path) { return support::ReadWholeFile(path); }
void WriteAll(const std::string& path, const std::string& bytes) { support::WriteWholeFile(path, bytes); }

}  // namespace

TEST(AnsiText, UpperCasingFollowsWindows1252) {
    std::array<unsigned char, 256> table{};
    for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(b);
    ansi::UpperBuffer(table.data(), table.size());

    for (int b = 0; b < 256; ++b) {
        int expected = b;
        if (b >= 'a' && b <= 'z') expected = b - 0x20;
        else if (b >= 0xE0 && b <= 0xFE && b != 0xF7) expected = b - 0x20;
        else if (b == 0x9A) expected = 0x8A;
        else if (b == 0x9C) expected = 0x8C;
        else if (b == 0x9E) expected = 0x8E;
        else if (b == 0xFF) expected = 0x9F;
        EXPECT_EQ(table[b], expected) << "byte " << b;
    }
    // The ones that have no single-byte capital stay as they are.
    EXPECT_EQ(table[0xB5], 0xB5);
    EXPECT_EQ(table[0xDF], 0xDF);
    EXPECT_EQ(table[0xF7], 0xF7);
}

TEST(AnsiText, ConversionKeepsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(ansi::FromUtf8(ansi::ToUtf8(all)), all);

    EXPECT_EQ(ansi::ToUtf8("\x80"), "\xE2\x82\xAC");       // euro sign
    EXPECT_EQ(ansi::ToUtf8("Jos\xE9"), "Jos\xC3\xA9");     // e acute
    EXPECT_EQ(ansi::FromUtf8("\xE2\x80\x9Cq\xE2\x80\x9D"), "\x93q\x94");
    EXPECT_EQ(ansi::FromUtf8("\xE4\xB8\xAD"), "?");         // not in the code page
    EXPECT_EQ(ansi::FromUtf8("a\xC3"), "a?");               // cut-off sequence
}

// Lists that grow from the ordinary heap into big buffers of their own and
// back keep every element; copies and swaps of either kind hold.
TEST(Memory, BigVectorKeepsItsElementsAcrossBothKindsOfMemory) {
    using corvane::mem::TBigAllocator;
    using corvane::mem::TBigVector;
    corvane::mem::TBigPool pool;
    for (corvane::mem::TBigPool* from : {static_cast<corvane::mem::TBigPool*>(nullptr), &pool})
        for (const std::size_t n : {std::size_t{0}, std::size_t{1000}, std::size_t{300000}, std::size_t{5000000}}) {
            const TBigAllocator<std::uint32_t> alloc(from);
            TBigVector<std::uint32_t> list(alloc);
            for (std::uint32_t i = 0; i < n; ++i) list.push_back(i * 2654435761u);
            TBigVector<std::uint32_t> copy = list, small(3, 7u, alloc);
            copy.swap(small);
            ASSERT_EQ(small.size(), n);
            for (std::uint32_t i = 0; i < n; ++i) ASSERT_EQ(small[i], i * 2654435761u) << n << " " << i;
            ASSERT_EQ(copy, TBigVector<std::uint32_t>(3, 7u));
            list.resize(n / 3);
            list.shrink_to_fit();
            for (std::uint32_t i = 0; i < n / 3; ++i) ASSERT_EQ(list[i], i * 2654435761u) << n << " " << i;
        }
}

// What a pool's blocks give back serves the blocks asked for after them,
// joined with its neighbours, without mapping more.
TEST(Memory, PoolServesNewBlocksFromWhatWasGivenBack) {
    corvane::mem::TBigPool pool;
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    char* a = static_cast<char*>(pool.Allocate(3 * kMiB));  // a mapping of 4 MiB (whole large pages)
    char* c = static_cast<char*>(pool.Allocate(100 << 10));  // from a's mapping's last MiB
    const std::size_t mapped = pool.MappedBytes();
    EXPECT_EQ(mapped, 4 * kMiB);
    std::memset(a, 1, 3 * kMiB);
    std::memset(c, 2, 100 << 10);
    EXPECT_EQ(a[3 * kMiB - 1], 1);  // the blocks do not overlap
    pool.Free(a, 3 * kMiB);
    EXPECT_EQ(pool.Allocate(2 * kMiB), a);  // the smallest kept range that serves
    pool.Free(a, 2 * kMiB);
    pool.Free(c, 100 << 10);
    for (const std::size_t ask : {kMiB, 4 * kMiB, std::size_t{1}}) {
        char* again = static_cast<char*>(pool.Allocate(ask));
        EXPECT_EQ(again, a) << ask;
        EXPECT_EQ(pool.MappedBytes(), mapped) << ask;
        pool.Free(again, ask);
    }
    void* more = pool.Allocate(4 * kMiB + 1);  // larger than all kept: mapped afresh
    EXPECT_EQ(pool.MappedBytes(), mapped + 6 * kMiB);
    pool.Free(more, 4 * kMiB + 1);
}

TEST(Files, OpenErrorsNameThePathAndReason) {
    ScratchDir dir;
    const std::string missing = dir / "nothing.dbx";
    try {
        fs::TReadFile f(missing, fs::Share::None);
        FAIL() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + missing + "\". " + SystemErrorText(support::ErrorCodes().NoSuchFile));
        EXPECT_EQ(e.Path(), missing);
    }
    try {
        fs::TReadFile f(dir.path(), fs::Share::None);
        FAIL() << "opened a folder as a file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + dir.path() + "\". " + SystemErrorText(support::ErrorCodes().IsAFolder));
    }
    const std::string bad = dir / "no/such/folder/x.tmp";
    try {
        fs::TWriteFile f(bad, fs::Create::Overwrite);
        FAIL() << "created a file in a missing folder";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + bad + "\". " + SystemErrorText(support::ErrorCodes().NoSuchFolder));
    }
}

TEST(Files, ReadAtStopsAtTheEnd) {
    ScratchDir dir;
    WriteAll(dir / "f", "0123456789");
    fs::TReadFile f(dir / "f", fs::Share::All);
    EXPECT_EQ(f.Size(), 10);
    char buf[8] = {};
    EXPECT_EQ(f.ReadAt(6, buf, sizeof buf), 4u);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(f.ReadAt(10, buf, sizeof buf), 0u);
    EXPECT_EQ(f.ReadAt(1000, buf, sizeof buf), 0u);
}

TEST(Files, CreateModes) {
    ScratchDir dir;
    const std::string victim = dir / "victim";
    const std::string name = dir / "msg1.tmp";
    WriteAll(victim, "keep me");

    // Fresh replaces a symbolic link at the name instead of writing through it
    // (where this user may make one: on Windows it takes a privilege), and
    // otherwise a file of the name.
    if (!support::MakeSymlink(victim, name)) WriteAll(name, "old and longer");
    {
        fs::TWriteFile f(name, fs::Create::Fresh);
        f.Write("new", 3);
        f.Close();
    }
    EXPECT_FALSE(stdfs::is_symlink(name));
    EXPECT_EQ(ReadAll(name), "new");
    EXPECT_EQ(ReadAll(victim), "keep me");

    // Exclusive refuses an existing name and leaves the file alone.
    EXPECT_THROW(fs::TWriteFile(victim, fs::Create::Exclusive), EFCreateError);
    EXPECT_EQ(ReadAll(victim), "keep me");

    // Overwrite empties an existing file.
    {
        fs::TWriteFile f(victim, fs::Create::Overwrite);
        f.Write("x", 1);
    }
    EXPECT_EQ(ReadAll(victim), "x");

    EXPECT_TRUE(fs::Exists(victim));
    EXPECT_TRUE(fs::RemoveFile(victim));
    EXPECT_FALSE(fs::Exists(victim));
    EXPECT_FALSE(fs::RemoveFile(victim));
}

// A file's identity: the same under each of its names and through a link,
// another for another file (also one of equal bytes), none for a missing name.
TEST(Files, IdentityTellsFilesApart) {
    ScratchDir dir;
    const std::string a = dir / "a", b = dir / "b", link = dir / "link";
    WriteAll(a, "same bytes");
    WriteAll(b, "same bytes");
    fs::TFileIdentity ida, idb, again, through, itself;
    ASSERT_TRUE(fs::IdentifyFile(a, true, ida));
    ASSERT_TRUE(fs::IdentifyFile(b, true, idb));
    ASSERT_TRUE(fs::IdentifyFile(a, false, again));
    EXPECT_FALSE(ida == idb);
    EXPECT_TRUE(ida == again);
    std::error_code ec;
    stdfs::create_hard_link(a, dir / "hard", ec);
    if (!ec) {
        ASSERT_TRUE(fs::IdentifyFile(dir / "hard", true, again));
        EXPECT_TRUE(ida == again);
    }
    if (support::MakeSymlink(a, link)) {
        ASSERT_TRUE(fs::IdentifyFile(link, true, through));
        ASSERT_TRUE(fs::IdentifyFile(link, false, itself));
        EXPECT_TRUE(through == ida);
        EXPECT_FALSE(itself == ida);
    }
    EXPECT_FALSE(fs::IdentifyFile(dir / "missing", true, again));
}
