// The progress line and the summary, fed through a fake terminal and a clock
// of the test's own: one line per run, its share never falling, counts that
// grow, a summary at the end; nothing on a pipe unless asked.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"
#include "corvane-dbx/ProgressLine.h"
#include "outlookfile/ReaderTestSupport.h"
#include "support/CliRun.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::testsupport::DbxWith;
using corvane::testsupport::SteppingClock;
using corvane::testsupport::TDbxWriter;
namespace cli = corvane::cli;
using namespace std::chrono_literals;

namespace {

constexpr const char* kRewrite = "\r\033[K";

// The texts the error stream showed, each rewrite of the line one entry.
std::vector<std::string> Shown(const std::string& err) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while ((at = err.find(kRewrite, at)) != std::string::npos) {
        at += std::strlen(kRewrite);
        const std::size_t end = std::min(err.find(kRewrite, at), err.size());
        if (end > at) out.push_back(err.substr(at, end - at));
    }
    return out;
}

// The percentage of a progress line "NAME: P % - ...", or -1.
int Percent(const std::string& line) {
    const std::size_t mark = line.find(" % - ");
    if (mark == std::string::npos) return -1;
    const std::size_t from = line.rfind(' ', mark - 1) + 1;
    return std::stoi(line.substr(from, mark - from));
}

class CliProgress : public ReaderTest {
protected:
    std::string Folder(const std::string& name, int live, int deleted) {
        TDbxWriter w(static_cast<std::uint64_t>(live) * 7 + deleted);
        for (int i = 0; i < live + deleted; ++i)
            w.AddMessage("From: p <p@example.org>\r\nTo: q <q@example.org>\r\nSubject: p" + std::to_string(i) +
                         "\r\nDate: Mon, 5 May 2005 10:00:00 +0200\r\n\r\n" +
                         std::string(static_cast<std::size_t>(i % 5) * 700, 'b') + "\r\n");
        for (int i = 0; i < deleted; ++i) w.DeleteMessage(live + i);
        const std::string path = Scratch(name);
        w.Save(path);
        return path;
    }
    cli::TConsole* Terminal(cli::TConsole& c) {
        c.ShowProgress = true;
        c.Clock = SteppingClock(300ms);  // every report comes after the redraw time
        return &c;
    }
};

// Over two folder files of an export the share only grows, the counts with
// it, every line is a progress line of one of the files, and the summary
// comes last, one line per folder file before it.
TEST_F(CliProgress, TheShareOnlyGrowsAndASummaryEnds) {
    const std::string a = Folder("a.dbx", 30, 10);
    const std::string b = Folder("b.dbx", 20, 0);
    const std::string out = Scratch("out");
    const auto r = DbxWith({"export", "--deleted", "--out", out, a, b}, [this](cli::TConsole& c) { Terminal(c); });
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    const std::vector<std::string> lines = Shown(r.Err);
    ASSERT_GE(lines.size(), 6u) << r.Err;
    int last = 0;
    std::size_t progressLines = 0;
    for (const std::string& line : lines) {
        const int percent = Percent(line);
        if (percent < 0) continue;
        ++progressLines;
        EXPECT_GE(percent, last) << line;
        EXPECT_LE(percent, 100);
        last = percent;
        EXPECT_TRUE(line.rfind(a + ": ", 0) == 0 || line.rfind(b + ": ", 0) == 0) << line;
        EXPECT_NE(line.find(" messages found, "), std::string::npos) << line;
    }
    EXPECT_GE(progressLines, 4u);
    EXPECT_EQ(last, 100);
    // A folder file's share is whole once its files are written.
    EXPECT_NE(r.Err.find(a + ": 50 % - 40 messages found, 40 written"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find(b + ": 100 % - 60 messages found, 60 written"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find(a + ": 40 messages (10 deleted)\n"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find(b + ": 20 messages\n"), std::string::npos) << r.Err;
    const std::string summary = "60 messages (10 deleted) written to " + out + " in ";
    EXPECT_NE(r.Err.find(summary), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.substr(r.Err.size() - 3), " s\n");
}

// list shows the same line, says "listed" and writes nothing it calls
// written; without a terminal nothing is shown unless --progress asks.
TEST_F(CliProgress, OnlyATerminalOrTheOptionShowsIt) {
    const std::string a = Folder("a.dbx", 12, 0);
    const auto listed = DbxWith({"list", a}, [this](cli::TConsole& c) { Terminal(c); });
    EXPECT_EQ(listed.Err.find("written"), std::string::npos) << listed.Err;
    EXPECT_NE(listed.Err.find("12 messages listed in "), std::string::npos) << listed.Err;
    EXPECT_EQ(corvane::testsupport::Dbx({"list", a}).Err, "");
    const auto asked = DbxWith({"list", "--progress", a}, [](cli::TConsole& c) { c.Clock = SteppingClock(300ms); });
    EXPECT_NE(asked.Err.find("12 messages listed in "), std::string::npos) << asked.Err;
    EXPECT_EQ(corvane::testsupport::Dbx({"export", "--out", Scratch("o"), a}).Err, "");
}

// Reports in any order never take the share back; the counts are grouped
// by thousands; a redraw waits for the redraw time of the clock.
TEST(JobLine, SharesNeverFallAndRedrawsFollowTheClock) {
    std::ostringstream err;
    auto now = std::make_shared<std::chrono::steady_clock::time_point>();
    cli::TJobLine line(err, true, [now] { return *now; }, 2, true, true);
    struct TStep {
        const char* stage;
        std::int64_t done, total;
    };
    const TStep steps[] = {
        {"Scanning blocks", 50, 100},  {"Scanning blocks", 100, 100},  {"Chaining blocks", 0, 10},
        {"Writing messages", 5, 10},   {"Chaining blocks", 10, 10},    {"Scanning blocks", 0, 100},
        {"Writing deleted messages", 3, 4}, {"Chaining deleted blocks", 1, 2},
    };
    line.BeginFile("x.dbx");
    int last = line.Shown();
    for (const TStep& s : steps) {
        *now += 250ms;
        line.Stage(s.stage, s.done, s.total);
        EXPECT_GE(line.Shown(), last) << s.stage;
        last = line.Shown();
    }
    EXPECT_LT(last, 50);  // the first of two files
    for (int i = 0; i < 1234; ++i) line.Found(i % 2 == 0);
    line.Written(1000);
    const std::string before = err.str();
    line.Written(1001);  // no time has passed: no redraw
    EXPECT_EQ(err.str(), before);
    *now += cli::TJobLine::kRedraw;
    line.Written(1002);
    EXPECT_NE(err.str().find("1 234 messages found, 1 002 written"), std::string::npos) << err.str();
    line.EndFile();
    EXPECT_EQ(line.Shown(), 50);
    line.SkipFile();  // a second folder file that cannot be read
    EXPECT_EQ(line.Shown(), 100);
    EXPECT_EQ(cli::Grouped(121256), "121 256");
    EXPECT_EQ(cli::Grouped(999), "999");
    EXPECT_EQ(cli::Grouped(1000000), "1 000 000");
}

}  // namespace
