// Creating message files over whatever holds the name: links, read-only
// files and folders are POSIX file-system objects (on Windows a link needs a
// privilege the tests do not have; the Windows side has tests of its own).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "support/TestFiles.h"

namespace {

namespace stdfs = std::filesystem;
using namespace corvane;
namespace support = corvane::testsupport;

std::string ReadAll(const std::string& path) { return support::ReadWholeFile(path); }
void WriteAll(const std::string& path, const std::string& bytes) { support::WriteWholeFile(path, bytes); }

TEST(Files, FreshGivesAnEmptyNewFileWhateverHeldTheName) {
    support::TScratchFolder dir("corvane-platform");
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

// A message file an earlier read left is written anew in place, cut to the
// new bytes; anything else at the name is left to be replaced.
TEST(Files, RewriteTakesOnlyAPrivateFileOfOnesOwn) {
    support::TScratchFolder dir("corvane-platform");
    const fs::TFolder folder(dir.Path());
    const auto rewrite = [&folder](const std::string& name, const std::string& bytes) {
        auto file = folder.Rewrite(name);
        if (!file) return false;
        file->Write(bytes.data(), bytes.size());
        file->Close();
        return true;
    };
    WriteAll(dir / "msg1.tmp", "an old text longer than the new one");
    ::chmod((dir / "msg1.tmp").c_str(), 0600);
    EXPECT_TRUE(rewrite("msg1.tmp", "new"));
    EXPECT_EQ(ReadAll(dir / "msg1.tmp"), "new");
    EXPECT_TRUE(rewrite("msg1.tmp", "a longer text than before"));
    EXPECT_EQ(ReadAll(dir / "msg1.tmp"), "a longer text than before");
    {  // a write that fails midway leaves none of the old bytes
        auto file = folder.Rewrite("msg1.tmp");
        ASSERT_TRUE(file);
        file->Write("cut", 3);
    }
    EXPECT_EQ(ReadAll(dir / "msg1.tmp"), "cut");

    const std::string victim = dir / "victim";
    WriteAll(victim, "keep me");
    ::chmod(victim.c_str(), 0600);
    stdfs::create_symlink(victim, dir / "msg2.tmp");
    stdfs::create_hard_link(victim, dir / "msg3.tmp");
    WriteAll(dir / "msg4.tmp", "others may read it");
    ::chmod((dir / "msg4.tmp").c_str(), 0644);
    stdfs::create_directory(dir / "msg5.tmp");
    for (const char* name : {"msg2.tmp", "msg3.tmp", "msg4.tmp", "msg5.tmp", "missing.tmp"})
        EXPECT_FALSE(rewrite(name, "new")) << name;
    EXPECT_EQ(ReadAll(victim), "keep me");
    EXPECT_EQ(ReadAll(dir / "msg4.tmp"), "others may read it");
}

// An unnamed file is seen in its folder only once linked, takes only a free
// name, and follows the umask like any output.
TEST(Files, AnUnnamedFileTakesOnlyAFreeName) {
    support::TScratchFolder dir("corvane-platform");
    const std::string victim = dir / "victim";
    WriteAll(victim, "keep me");
    stdfs::create_symlink(victim, dir / "link");
    const mode_t umask = ::umask(027);
    std::unique_ptr<fs::TWriteFile> f = fs::CreateUnnamedFile(dir / "out.eml", fs::Readers::Everyone);
    ::umask(umask);
    if (!f) GTEST_SKIP() << "this file system makes no unnamed files";
    EXPECT_EQ(f->Path(), dir / "out.eml");
    f->Write("whole", 5);
    EXPECT_EQ(std::distance(stdfs::directory_iterator(dir.Path()), stdfs::directory_iterator()), 2) << "seen before its name";
    EXPECT_FALSE(f->LinkAs(victim));
    EXPECT_FALSE(f->LinkAs(dir / "link"));
    EXPECT_TRUE(f->LinkAs(dir / "out.eml"));
    f->Close();
    EXPECT_EQ(ReadAll(dir / "out.eml"), "whole");
    EXPECT_EQ(ReadAll(victim), "keep me");
    EXPECT_TRUE(stdfs::is_symlink(dir / "link"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out.eml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // A folder that is not there is an error, not a fall-back.
    EXPECT_THROW(fs::CreateUnnamedFile(dir / "missing/out.eml", fs::Readers::Everyone), EFCreateError);
}

}  // namespace
