#pragma once
// Shared by the mbox writer's tests: a scratch folder that is also the
// temporary folder, message files of given texts, and small file helpers.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "emailexport/MboxExport.h"
#include "outlookfile/outlookfile.h"
#include "support/TestFiles.h"

namespace mboxtest {

namespace stdfs = std::filesystem;
using namespace corvane::mail;

inline std::string ReadAll(const std::string& path) { return corvane::testsupport::ReadWholeFile(path); }

inline void WriteAll(const std::string& path, const std::string& bytes) {
    corvane::testsupport::WriteWholeFile(path, bytes);
}

inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : stdfs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

constexpr std::time_t kExportTime = 1136214245;  // Mon Jan  2 15:04:05 2006

class Mbox : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::make_unique<corvane::testsupport::TScratchFolder>("corvane-mbox");
        dir_ = folder_->Path();
        // Message files of GetEmails land here too.
        temp_ = std::make_unique<corvane::testsupport::TTempFolderOverride>(dir_);
    }
    void TearDown() override {
        temp_.reset();
        std::error_code ec;
        stdfs::permissions(dir_, stdfs::perms::owner_all, ec);
        folder_.reset();
    }

    std::string Path(const std::string& name) const { return *folder_ / name; }

    // Writes the texts end to end into one message file and returns records
    // of them with the given From and Date values.
    TEmailArray MessageFile(const std::string& name, const std::vector<std::string>& texts,
                            const std::string& from = " <a@example.org>",
                            const std::string& date = " Mon, 5 May 2003 10:00:00 +0100") {
        std::string file = "garbage before the first message\r\n";
        TEmailArray records;
        for (const std::string& t : texts) {
            TEmail r;
            r.FileName = Path(name);
            r.From = from;
            r.Date = date;
            r.MessageStart = static_cast<std::int64_t>(file.size());
            file += t;
            r.MessageEnd = static_cast<std::int64_t>(file.size());
            records.push_back(r);
        }
        file += "garbage after the last message";
        WriteAll(Path(name), file);
        return records;
    }

    static std::vector<const TEmail*> All(const TEmailArray& records) {
        std::vector<const TEmail*> list;
        for (const TEmail& r : records) list.push_back(&r);
        return list;
    }

    std::string dir_;

private:
    std::unique_ptr<corvane::testsupport::TScratchFolder> folder_;
    std::unique_ptr<corvane::testsupport::TTempFolderOverride> temp_;
};

}  // namespace mboxtest
