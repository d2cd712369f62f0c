// RenameFile: a file takes another name in one step, replacing a file of that
// name; when it cannot, both stay as they were.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace stdfs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class RenameFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (stdfs::temp_directory_path() / "corvane-rename-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
    }
    void TearDown() override {
        std::error_code ec;
        stdfs::remove_all(dir_, ec);
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
};

}  // namespace

TEST_F(RenameFile, TakesAFreeNameOrReplacesAFile) {
    WriteAll(Path("a"), "new bytes");
    corvane::fs::RenameFile(Path("a"), Path("b"));
    EXPECT_FALSE(stdfs::exists(Path("a")));
    EXPECT_EQ(ReadAll(Path("b")), "new bytes");

    WriteAll(Path("c"), "newer");
    corvane::fs::RenameFile(Path("c"), Path("b"));
    EXPECT_FALSE(stdfs::exists(Path("c")));
    EXPECT_EQ(ReadAll(Path("b")), "newer");
}

TEST_F(RenameFile, AFailureNamesTheTargetAndChangesNothing) {
    WriteAll(Path("a"), "mine");
    stdfs::create_directory(Path("folder"));
    WriteAll(Path("folder/inside"), "kept");
    const std::string targets[] = {Path("folder"), Path("missing/b")};
    for (const std::string& target : targets) {
        try {
            corvane::fs::RenameFile(Path("a"), target);
            ADD_FAILURE() << "no error for " << target;
        } catch (const EFCreateError& e) {
            EXPECT_EQ(e.Path(), target);
            EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + target + "\". " + e.Reason());
            EXPECT_FALSE(e.Reason().empty());
        }
        EXPECT_EQ(ReadAll(Path("a")), "mine");
    }
    EXPECT_EQ(ReadAll(Path("folder/inside")), "kept");
    EXPECT_THROW(corvane::fs::RenameFile(Path("no such file"), Path("d")), EFCreateError);
    EXPECT_FALSE(stdfs::exists(Path("d")));
}
