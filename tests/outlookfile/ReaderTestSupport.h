#pragma once
// Shared by the folder reader's tests: a private scratch folder that is also
// the temporary folder of the message files, and small file helpers.

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "outlookfile/outlookfile.h"
#include "platform/TempNames.h"
#include "support/TestFiles.h"

namespace readertest {

namespace stdfs = std::filesystem;

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    corvane::testsupport::WriteWholeFile(path, bytes);
}

inline std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

// Every test gets a scratch folder of its own and points the temporary folder
// at it, so the message files of tests running side by side never meet.
class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::make_unique<corvane::testsupport::TScratchFolder>("corvane-reader");
        scratch_ = folder_->Path();
        // The temporary folder below the scratch folder: on Windows the
        // message files lie in it directly, and must not meet the folder files.
        stdfs::create_directory(*folder_ / "tmp");
        temp_ = std::make_unique<corvane::testsupport::TTempFolderOverride>(*folder_ / "tmp");
    }
    void TearDown() override {
        std::error_code ec;
        stdfs::permissions(MessageFolder(), stdfs::perms::owner_all, ec);
        temp_.reset();
        folder_.reset();
    }

    std::string Scratch(const std::string& name) const { return *folder_ / name; }
    // Where the reader puts the message files.
    std::string MessageFolder() const { return temp_->MessageFolder(); }
    // The names in the message folder, sorted.
    std::vector<std::string> MessageFilesOnDisk() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : stdfs::directory_iterator(MessageFolder(), ec)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Removes the message files of the cases before. (On Windows the message
    // folder is the temporary folder itself, which has to stay.)
    void RemoveMessageFiles() const {
        for (const std::string& name : MessageFilesOnDisk())
            stdfs::remove(MessageFolder() + corvane::testsupport::Separator() + name);
    }
    // A message file's name as the reader forms it.
    std::string MessageFile(const std::string& name) const {
        return corvane::fs::JoinTempName(MessageFolder() + corvane::testsupport::Separator(), name);
    }
    bool MessageFileExists(const std::string& name) const { return stdfs::exists(MessageFile(name)); }

    std::string scratch_;

private:
    std::unique_ptr<corvane::testsupport::TScratchFolder> folder_;
    std::unique_ptr<corvane::testsupport::TTempFolderOverride> temp_;
};

}  // namespace readertest
