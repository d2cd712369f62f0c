// RenameFile: a file takes another name in one step, replacing a file of that
// name; when it cannot, both stay as they were.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "support/TestFiles.h"

namespace stdfs = std::filesystem;

namespace {

using corvane::testsupport::ReadWholeFile;
using corvane::testsupport::WriteWholeFile;

std::string ReadAll(const std::string& path) { return ReadWholeFile(path); }
void WriteAll(const std::string& path, const std::string& bytes) { WriteWholeFile(path, bytes); }

class RenameFile : public ::testing::Test {
protected:
    void SetUp() override { dir_ = std::make_unique<corvane::testsupport::TScratchFolder>("corvane-rename"); }
    void TearDown() override { dir_.reset(); }
    std::string Path(const std::string& name) const { return *dir_ / name; }
    std::unique_ptr<corvane::testsupport::TScratchFolder> dir_;
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
