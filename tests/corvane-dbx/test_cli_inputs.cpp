// Where folder files come from: standard input, a pipe, a FIFO, a folder of
// them; a file cut short; a stop while an input is copied, with nothing of
// the copy left behind.

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "corvane-dbx/CommandLine.h"
#include "outlookfile/ReaderTestSupport.h"
#include "support/ChildProcess.h"
#include "support/CliRun.h"
#include "support/DbxFixture.h"
#include "support/ShellRun.h"
#include "support/TestFiles.h"

using namespace readertest;
using corvane::testsupport::NamesIn;
using corvane::testsupport::Dbx;
using corvane::testsupport::ShellQuoted;
using corvane::testsupport::TDbxWriter;
namespace cli = corvane::cli;

namespace {

std::string Program() { return ShellQuoted(CORVANE_DBX_PROGRAM); }

class CliInputs : public ReaderTest {
protected:
    // A folder file of count messages whose header gives the used size of
    // the file, as Outlook Express writes it.
    std::string Folder(const std::string& name, const std::string& tag, int count, TDbxWriter* keep = nullptr) {
        TDbxWriter w(static_cast<std::uint64_t>(count) + 3);
        for (int i = 0; i < count; ++i)
            w.AddMessage("From: " + tag + " <t@example.org>\r\nSubject: " + tag + " " + std::to_string(i) +
                         "\r\n\r\n" + tag + " body " + std::to_string(i) + "\r\n");
        w.SetUsedSize();
        const std::string path = Scratch(name);
        w.Save(path);
        if (keep) *keep = w;
        return path;
    }
    // A scratch folder of the child's own for its short-lived files.
    std::string ChildTemp() {
        const std::string folder = Scratch("childtmp");
        stdfs::create_directories(folder);
        return folder;
    }
};

// "-", a pipe through /dev/stdin and a FIFO are read as the file itself is.
TEST_F(CliInputs, StandardInputAPipeAndAFifoReadAsTheFile) {
    const std::string path = Folder("Inbox.dbx", "piped", 4);
    const std::string temp = ChildTemp();
    const std::string env = "TMPDIR=" + ShellQuoted(temp) + " ";
    const std::string direct = corvane::testsupport::ShellOutput(Program() + " list --format csv " + ShellQuoted(path));
    ASSERT_NE(direct.find("piped 3"), std::string::npos) << direct;
    EXPECT_EQ(corvane::testsupport::ShellOutput("cat " + ShellQuoted(path) + " | " + env + Program() + " list --format csv -"),
              direct);
    EXPECT_EQ(corvane::testsupport::ShellOutput("cat " + ShellQuoted(path) + " | " + env + Program() +
                                                " list --format csv /dev/stdin"),
              direct);
    const std::string fifo = Scratch("inbox.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(corvane::testsupport::ShellOutput("(cat " + ShellQuoted(path) + " > " + ShellQuoted(fifo) + " &); " + env +
                                                Program() + " list --format csv " + ShellQuoted(fifo)),
              direct);
    // An export from standard input writes the same files.
    const std::string out = Scratch("out");
    EXPECT_EQ(corvane::testsupport::ShellStatus("cat " + ShellQuoted(path) + " | " + env + Program() + " export --out " +
                                                ShellQuoted(out) + " -"),
              0);
    EXPECT_EQ(NamesIn(out).size(), 4u);
    // Each copy went with its run.
    EXPECT_TRUE(NamesIn(temp).empty());
    // Standard input can be read once only.
    EXPECT_EQ(corvane::testsupport::ShellStatus(": | " + env + Program() + " list - - 2>/dev/null"), 1);
}

// A folder is read as the folder files in it, in the order of their names,
// each named on its rows; other files are passed over.
TEST_F(CliInputs, AFolderIsReadAsItsFolderFilesSorted) {
    const std::string store = Scratch("store");
    stdfs::create_directory(store);
    const std::string b = Folder("store/b.dbx", "bee", 1);
    const std::string a = Folder("store/A.DBX", "ay", 2);
    WriteAll(store + "/notes.txt", "not a folder file");
    const auto r = Dbx({"list", "--format", "csv", store});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    const std::vector<std::string> lines = [&] {
        std::vector<std::string> out;
        std::istringstream in(r.Out);
        for (std::string line; std::getline(in, line);) out.push_back(line.substr(0, line.find(",no,")));
        return out;
    }();
    EXPECT_EQ(lines, (std::vector<std::string>{lines.front(), a + ",0", a + ",1", b + ",0"}));
    const auto empty = Dbx({"list", Scratch("tmp")});
    EXPECT_EQ(empty.Status, cli::kExitFailed);
    EXPECT_EQ(empty.Err, "corvane-dbx: " + Scratch("tmp") + ": no folder file (*.dbx) in this folder\n");
}

// A file shorter than its header says is told of; what is there is listed,
// and with nothing there the status is 1.
TEST_F(CliInputs, ATruncatedFileIsTold) {
    TDbxWriter w;
    const std::string path = Folder("Inbox.dbx", "cut", 3, &w);
    const std::string whole = ReadAll(path);
    const std::size_t keep = w.BlocksOf(1).back() + corvane::testsupport::kBlockSize;
    const std::string cut = Scratch("cut.dbx");
    WriteAll(cut, whole.substr(0, keep));
    const auto some = Dbx({"list", "--format", "csv", cut});
    EXPECT_EQ(some.Status, cli::kExitOk);
    EXPECT_EQ(some.Err, "corvane-dbx: " + cut + " is shorter than its header says (" + std::to_string(keep) + " of " +
                            std::to_string(whole.size()) + " bytes): it may be truncated; what is there is listed\n");
    EXPECT_NE(some.Out.find("cut 1"), std::string::npos);
    EXPECT_EQ(some.Out.find("cut 2"), std::string::npos);

    const std::string start = Scratch("start.dbx");
    WriteAll(start, whole.substr(0, 5000));
    const auto none = Dbx({"list", start});
    EXPECT_EQ(none.Status, cli::kExitFailed);
    EXPECT_EQ(none.Err, "corvane-dbx: " + start + " is shorter than its header says (5000 of " +
                            std::to_string(whole.size()) + " bytes): it may be truncated; what is there is listed\n");
    EXPECT_EQ(Dbx({"list", path}).Err, "");  // a whole file says nothing
}

// SIGINT while standard input is copied stops the run (status 130) and
// leaves no copy behind.
TEST_F(CliInputs, AStopWhileCopyingLeavesNothing) {
    const std::string path = Folder("Inbox.dbx", "stop", 2);
    const std::string temp = ChildTemp();
    const std::string fifo = Scratch("slow.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto child = corvane::testsupport::StartProgram(CORVANE_DBX_PROGRAM, {"list", fifo}, Scratch("out.txt"),
                                                          {"TMPDIR=" + temp});
    // Half the file, and the writer's end stays open: the copy waits for
    // more. The open returns once the program has opened its end, and it
    // made its copy before that.
    const int writer = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    const std::string bytes = ReadAll(path);
    ASSERT_EQ(::write(writer, bytes.data(), bytes.size() / 2), static_cast<ssize_t>(bytes.size() / 2));
    EXPECT_EQ(NamesIn(temp).size(), 1u);
    ::kill(child.pid, SIGINT);
    ::close(writer);  // should the signal come between two reads, the input ends
    EXPECT_EQ(corvane::testsupport::WaitFor(child), 130);
    EXPECT_TRUE(NamesIn(temp).empty());
}

}  // namespace
