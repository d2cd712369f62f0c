// The command line's export writers: files made in the output folder,
// names already taken, and a write that runs out of room (POSIX: links and
// the per-process file size limit).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "chainread/ChainRead.h"
#include "emailexport/emailexport.h"
#include "platform/Files.h"
#include "progress/Progress.h"
#include "support/FileSizeLimit.h"
#include "support/TestFiles.h"

namespace {

namespace stdfs = std::filesystem;
namespace support = corvane::testsupport;

class TText : public corvane::read::TChainText {
public:
    explicit TText(std::string text) : text_(std::move(text)) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(text_.size()); }
    bool InMemory() const override { return true; }
    std::string_view View() const override { return text_; }
    const corvane::fs::TReadFile* File() const override { return nullptr; }

private:
    std::string text_;
};

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : stdfs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Each file holds its stretch of the text, whatever held its name before;
// what a link pointed at is left alone.
TEST(ExportWriters, EachNameGetsItsStretchWhateverHeldIt) {
    support::TScratchFolder dir("corvane-writers");
    const std::string out = dir / "out";
    stdfs::create_directory(out);
    const std::string victim = dir / "victim";
    support::WriteWholeFile(victim, "keep me");
    support::WriteWholeFile(out + "/b.eml", "an older and longer file");
    stdfs::create_symlink(victim, out + "/c.eml");
    const auto text = std::make_shared<TText>("0123456789");
    std::vector<std::string> failures;
    {
        corvane::mail::TExportWriters writers(3);
        writers.Add(out + "/a.eml", text, 0, 4);
        writers.Add(out + "/b.eml", text, 4, 8);
        writers.Add(out + "/c.eml", text, 8, 10);
        writers.Add(out + "/d.eml", text, 5, 5);
        failures = writers.Finish();
    }
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"a.eml", "b.eml", "c.eml", "d.eml"}));
    EXPECT_EQ(support::ReadWholeFile(out + "/a.eml"), "0123");
    EXPECT_EQ(support::ReadWholeFile(out + "/b.eml"), "4567");
    EXPECT_FALSE(stdfs::is_symlink(out + "/c.eml"));
    EXPECT_EQ(support::ReadWholeFile(out + "/c.eml"), "89");
    EXPECT_EQ(support::ReadWholeFile(out + "/d.eml"), "");
    EXPECT_EQ(support::ReadWholeFile(victim), "keep me");
}

// The disk fills up (here: the process may write no more than 64 KB per
// file): the file that did not fit is reported and left no trace, the others
// stay.
TEST(ExportWriters, AFileThatDoesNotFitIsReportedAndRemoved) {
    support::TScratchFolder dir("corvane-writers");
    const auto small = std::make_shared<TText>("small");
    const auto big = std::make_shared<TText>(std::string(1 << 20, 'b'));
    std::vector<std::string> failures;
    {
        const support::TFileSizeLimit limit(64 << 10);
        ASSERT_TRUE(limit.Set());
        corvane::mail::TExportWriters writers(2);
        writers.Add(dir / "1.eml", small, 0, small->Size());
        writers.Add(dir / "2.eml", big, 0, big->Size());
        writers.Add(dir / "3.eml", small, 0, small->Size());
        failures = writers.Finish();
    }
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].rfind("Cannot write file \"" + (dir / "2.eml") + "\".", 0), 0u) << failures[0];
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"1.eml", "3.eml"}));
    EXPECT_EQ(support::ReadWholeFile(dir / "3.eml"), "small");
}

}  // namespace

namespace {

// A text in a scratch file, read in pieces of 4 MiB as a long chain is.
class TPiecedText : public corvane::read::TChainText {
public:
    explicit TPiecedText(const std::string& text) : file_(corvane::fs::CreateScratchFile()), size_(static_cast<std::int64_t>(text.size())) {
        file_.Writer->Write(text.data(), text.size());
    }
    std::int64_t Size() const override { return size_; }
    bool InMemory() const override { return false; }
    std::string_view View() const override { return {}; }
    const corvane::fs::TReadFile* File() const override { return file_.Reader.get(); }

private:
    corvane::fs::TScratchFile file_;
    std::int64_t size_;
};

}  // namespace

// A stop asked at the 30th file written: the writers end within the files
// they are at, drop what waits (Finish returns at once), leave only whole
// files, the long one not begun or left out whole, and say they were
// cancelled.
TEST(ExportWriters, AStopEndsTheWritingWithOnlyWholeFiles) {
    support::TScratchFolder dir("corvane-writers");
    const std::string out = dir / "out";
    stdfs::create_directory(out);
    const auto text = std::make_shared<TText>(std::string(3000, 's'));
    const std::string long_(std::size_t{12} << 20, 'L');
    const auto pieced = std::make_shared<TPiecedText>(long_);
    struct TStopAt : corvane::TProgress {
        std::atomic<int> files{0};
        std::atomic<int> asked{0};
        void Report(const char*, std::int64_t, std::int64_t) override { ++files; }
        bool StopRequested() override {
            ++asked;
            return files >= 30;
        }
    } progress;
    std::vector<std::string> failures;
    corvane::mail::TExportWriters writers(2, &progress);
    for (int i = 0; i < 2000; ++i) {
        if (i == 29) writers.Add(out + "/long.eml", pieced, 0, static_cast<std::int64_t>(long_.size()));
        writers.Add(out + "/" + std::to_string(i) + ".eml", text, 0, 3000);
    }
    failures = writers.Finish();
    EXPECT_TRUE(writers.Cancelled());
    EXPECT_TRUE(failures.empty());
    const std::vector<std::string> names = FilesIn(out);
    EXPECT_GE(names.size(), 28u);
    EXPECT_LE(names.size(), 32u);  // each of the two threads ends within its file
    for (const std::string& name : names) {
        const std::string bytes = support::ReadWholeFile(out + "/" + name);
        EXPECT_TRUE(bytes == (name == "long.eml" ? long_ : text->Copy(0, 3000))) << name << ", " << bytes.size() << " bytes";
    }
    // A cancel of the caller's own does the same, before anything is written.
    corvane::mail::TExportWriters cancelled(2);
    cancelled.Cancel();
    cancelled.Add(out + "/late.eml", text, 0, 3000);
    EXPECT_TRUE(cancelled.Finish().empty());
    EXPECT_FALSE(stdfs::exists(out + "/late.eml"));
}
