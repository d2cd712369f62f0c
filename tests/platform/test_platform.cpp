// The operating-system layer: code-page text, file primitives, the private
// temporary folder and the message pump.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/AnsiText.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/MessagePump.h"

namespace stdfs = std::filesystem;
using namespace corvane;

namespace {

class ScratchDir {
public:
    ScratchDir() {
        std::string templ = (stdfs::temp_directory_path() / "corvane-platform-XXXXXX").string();
        path_ = ::mkdtemp(templ.data());
    }
    ~ScratchDir() {
        std::error_code ec;
        stdfs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

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

TEST(Files, OpenErrorsNameThePathAndReason) {
    ScratchDir dir;
    const std::string missing = dir / "nothing.dbx";
    try {
        fs::TReadFile f(missing, fs::Share::None);
        FAIL() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + missing + "\". " + SystemErrorText(ENOENT));
        EXPECT_EQ(e.Path(), missing);
    }
    try {
        fs::TReadFile f(dir.path(), fs::Share::None);
        FAIL() << "opened a folder as a file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + dir.path() + "\". " + SystemErrorText(EISDIR));
    }
    const std::string bad = dir / "no/such/folder/x.tmp";
    try {
        fs::TWriteFile f(bad, fs::Create::Overwrite);
        FAIL() << "created a file in a missing folder";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + bad + "\". " + SystemErrorText(ENOENT));
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

    // Fresh replaces a symbolic link at the name instead of writing through it.
    stdfs::create_symlink(victim, name);
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

TEST(Files, FreshGivesAnEmptyNewFileWhateverHeldTheName) {
    ScratchDir dir;
    const std::string victim = dir / "victim";
    WriteAll(victim, "keep me");
    struct Case {
        const char* what;
        void (*prepare)(const std::string& name, const std::string& victim);
    };
    const Case cases[] = {
        {"nothing", [](const std::string&, const std::string&) {}},
        {"a file", [](const std::string& name, const std::string&) { WriteAll(name, "old and longer text"); }},
        {"a read-only file", [](const std::string& name, const std::string&) {
             WriteAll(name, "old");
             ::chmod(name.c_str(), 0400);
         }},
        {"a link to a file", [](const std::string& name, const std::string& victim) { stdfs::create_symlink(victim, name); }},
        {"a dangling link", [](const std::string& name, const std::string&) { stdfs::create_symlink("/no/such/target", name); }},
        {"a link to a folder", [](const std::string& name, const std::string&) { stdfs::create_directory_symlink("/tmp", name); }},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = dir / ("msg" + std::to_string(++n) + ".tmp");
        c.prepare(name, victim);
        {
            fs::TWriteFile f(name, fs::Create::Fresh);
            f.Write("new", 3);
            f.Close();
        }
        EXPECT_FALSE(stdfs::is_symlink(name)) << c.what;
        EXPECT_TRUE(stdfs::is_regular_file(name)) << c.what;
        EXPECT_EQ(ReadAll(name), "new") << c.what;
        struct stat st {};
        ASSERT_EQ(::stat(name.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << c.what;
    }
    EXPECT_EQ(ReadAll(victim), "keep me");

    // A folder at the name is not removed: the creation fails and names the file.
    const std::string folder = dir / "msg9.tmp";
    stdfs::create_directories(folder + "/inside");
    try {
        fs::TWriteFile f(folder, fs::Create::Fresh);
        FAIL() << "created a file over a folder";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Path(), folder);
        EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + folder + "\". ", 0), 0u) << e.what();
    }
    EXPECT_TRUE(stdfs::is_directory(folder + "/inside"));
    // Exclusive refuses a link at the name, dangling or not.
    stdfs::create_symlink(dir / "nowhere", dir / "link");
    EXPECT_THROW(fs::TWriteFile(dir / "link", fs::Create::Exclusive), EFCreateError);
    EXPECT_FALSE(stdfs::exists(dir / "nowhere"));
}

class TempPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        ::setenv("TMPDIR", dir_.path().c_str(), 1);
    }
    void TearDown() override {
        if (hadOld_) ::setenv("TMPDIR", old_.c_str(), 1);
        else ::unsetenv("TMPDIR");
    }
    std::string Expected() const { return dir_ / ("corvane-recovery-" + std::to_string(::getuid())); }
    ScratchDir dir_;
    bool hadOld_ = false;
    std::string old_;
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

    WriteAll(Expected(), "");  // a plain file in the way
    EXPECT_THROW(fs::TempPath(), EFCreateError);
    stdfs::remove(Expected());

    if (::getuid() == 0) {  // only root can hand a folder to someone else
        stdfs::create_directory(Expected());
        ASSERT_EQ(::chown(Expected().c_str(), 12345, 12345), 0);
        EXPECT_THROW(fs::TempPath(), EFCreateError);
    }
}

namespace {
int g_runs = 0;
void CountRun() { ++g_runs; }
}  // namespace

TEST(MessagePump, RunsTheHandlerAtMostOncePerInterval) {
    g_runs = 0;
    for (int i = 0; i < 100000; ++i) pump::ProcessMessages();  // nothing installed
    EXPECT_EQ(g_runs, 0);

    pump::Handler previous = pump::SetHandler(&CountRun);
    pump::SetInterval(std::chrono::milliseconds(50));
    pump::ProcessNow();
    EXPECT_EQ(g_runs, 1);
    for (int i = 0; i < 100000; ++i) pump::ProcessMessages();  // well within 50 ms
    EXPECT_EQ(g_runs, 1);

    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    for (int i = 0; i < 5000; ++i) pump::ProcessMessages();
    EXPECT_EQ(g_runs, 2);

    pump::SetInterval(std::chrono::milliseconds(15));
    EXPECT_EQ(pump::SetHandler(previous), &CountRun);
}
