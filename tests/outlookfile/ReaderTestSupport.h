#pragma once
// Shared by the folder reader's tests: a private scratch folder that is also
// the temporary folder of the message files, and small file helpers.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "outlookfile/outlookfile.h"

namespace readertest {

namespace stdfs = std::filesystem;

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

// Every test gets a scratch folder of its own and points TMPDIR at it, so the
// message files of tests running side by side never meet.
class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (stdfs::temp_directory_path() / "corvane-reader-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        scratch_ = templ;
        const char* old = std::getenv("TMPDIR");
        hadTmpdir_ = old != nullptr;
        if (hadTmpdir_) oldTmpdir_ = old;
        ::setenv("TMPDIR", scratch_.c_str(), 1);
    }
    void TearDown() override {
        if (hadTmpdir_) ::setenv("TMPDIR", oldTmpdir_.c_str(), 1);
        else ::unsetenv("TMPDIR");
        std::error_code ec;
        stdfs::permissions(MessageFolder(), stdfs::perms::owner_all, ec);
        stdfs::remove_all(scratch_, ec);
    }

    std::string Scratch(const std::string& name) const { return scratch_ + "/" + name; }
    // Where the reader puts the message files.
    std::string MessageFolder() const { return scratch_ + "/corvane-recovery-" + std::to_string(::getuid()); }
    std::string MessageFile(const std::string& name) const { return MessageFolder() + "/" + name; }
    bool MessageFileExists(const std::string& name) const { return stdfs::exists(MessageFile(name)); }

    std::string scratch_;

private:
    bool hadTmpdir_ = false;
    std::string oldTmpdir_;
};

}  // namespace readertest
