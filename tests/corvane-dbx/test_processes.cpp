// corvane-dbx as separate processes: runs at the same time never meet, a run
// leaves nothing behind in the temporary folder, SIGINT and SIGTERM stop an
// export cleanly, and the number of writing threads changes no output.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <map>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "corvane-dbx/CommandLine.h"
#include "outlookfile/ReaderTestSupport.h"
#include "support/ChildProcess.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;
namespace cli = corvane::cli;

namespace {

// Every file below a folder, by its path relative to it, with its bytes.
std::map<std::string, std::string> Tree(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& e : stdfs::recursive_directory_iterator(folder, ec))
        if (e.is_regular_file()) files[stdfs::relative(e.path(), folder).string()] = ReadAll(e.path().string());
    return files;
}

using corvane::testsupport::TChild;

TChild Start(const std::vector<std::string>& arguments, const std::string& out) {
    return corvane::testsupport::StartProgram(CORVANE_DBX_PROGRAM, arguments, out);
}

int Wait(const TChild& child) { return corvane::testsupport::WaitFor(child); }

class CliProcesses : public ReaderTest {
protected:
    // A folder file of many messages, live and deleted, each naming tag.
    std::string Folder(const std::string& name, const std::string& tag, int messages) {
        TDbxWriter w(static_cast<std::uint64_t>(tag.size() + messages));
        w.ReserveScatteredSlots(static_cast<std::size_t>(messages));
        for (int i = 0; i < messages; ++i)
            w.AddMessage("From: " + tag + " <" + tag + "@x>\r\nSubject: " + tag + " " + std::to_string(i) + "\r\n\r\n" +
                             tag + " body " + std::string(static_cast<std::size_t>(i % 7) * 400, 'z') + "\r\n",
                         i % 2 ? TBlockOrder::Scattered : TBlockOrder::Ascending);
        for (int i = 0; i < messages; i += 4) w.DeleteMessage(i);
        const std::string path = Scratch(name);
        w.Save(path);
        return path;
    }
    // Everything of the run's own in the temporary folder and its message folder.
    std::vector<std::string> TempLeftovers() const {
        std::vector<std::string> names;
        for (const auto& e : stdfs::recursive_directory_iterator(Scratch("tmp"))) names.push_back(e.path().string());
        return names;
    }
};

// Two exports, shows and filtered listings of two folder files at the same
// time, with the same temporary folder, and the window's read looping beside
// them: each output is the output of a run alone.
TEST_F(CliProcesses, RunsAtTheSameTimeGiveTheOutputsOfRunsAlone) {
    const std::string a = Folder("a.dbx", "alpha", 400), b = Folder("b.dbx", "bravo", 400);
    const auto alone = [&](const std::vector<std::string>& arguments, const std::string& name) {
        const TChild child = Start(arguments, Scratch(name));
        EXPECT_EQ(Wait(child), 0);
        return ReadAll(child.out);
    };
    const std::map<std::string, std::string> exportA = [&] {
        alone({"export", "--deleted", "--out", Scratch("soloA"), a}, "o");
        return Tree(Scratch("soloA"));
    }();
    const std::map<std::string, std::string> exportB = [&] {
        alone({"export", "--deleted", "--out", Scratch("soloB"), b}, "o");
        return Tree(Scratch("soloB"));
    }();
    const std::string showA = alone({"show", "--deleted", "7", a}, "showA"), showB = alone({"show", "--deleted", "7", b}, "showB");
    const std::string listA = alone({"list", "--deleted", "--filter", "body", "--format", "csv", a}, "listA");
    const std::string listB = alone({"list", "--deleted", "--filter", "body", "--format", "csv", b}, "listB");
    ASSERT_EQ(exportA.size(), 400u);
    ASSERT_NE(showA.find("alpha body"), std::string::npos);

    std::atomic<bool> looping{true};
    std::thread window([&] {
        const TEmailArray expected = Toutlookfile().GetEmails(b, true);
        while (looping) EXPECT_EQ(Toutlookfile().GetEmails(b, true), expected);
    });
    for (int round = 0; round < 3; ++round) {
        const std::string r = std::to_string(round);
        const TChild ea = Start({"export", "--deleted", "--out", Scratch("a" + r), a}, Scratch("ea" + r));
        const TChild eb = Start({"export", "--deleted", "--out", Scratch("b" + r), b}, Scratch("eb" + r));
        const TChild sa = Start({"show", "--deleted", "7", a}, Scratch("sa" + r));
        const TChild sb = Start({"show", "--deleted", "7", b}, Scratch("sb" + r));
        const TChild la = Start({"list", "--deleted", "--filter", "body", "--format", "csv", a}, Scratch("la" + r));
        const TChild lb = Start({"list", "--deleted", "--filter", "body", "--format", "csv", b}, Scratch("lb" + r));
        for (const TChild* c : {&ea, &eb, &sa, &sb, &la, &lb}) EXPECT_EQ(Wait(*c), 0) << "round " << round;
        EXPECT_EQ(Tree(Scratch("a" + r)), exportA) << "round " << round;
        EXPECT_EQ(Tree(Scratch("b" + r)), exportB) << "round " << round;
        EXPECT_EQ(ReadAll(sa.out), showA);
        EXPECT_EQ(ReadAll(sb.out), showB);
        EXPECT_EQ(ReadAll(la.out), listA);
        EXPECT_EQ(ReadAll(lb.out), listB);
    }
    looping = false;
    window.join();
}

// list, show, export and export --mbox leave nothing in the temporary folder.
TEST_F(CliProcesses, ARunLeavesNothingBehind) {
    const std::string a = Folder("a.dbx", "alpha", 50);
    const std::vector<std::vector<std::string>> runs = {
        {"list", "--deleted", a},
        {"list", "--deleted", "--filter", "body", a},
        {"show", "--deleted", "3", a},
        {"export", "--deleted", "--out", Scratch("out"), a},
        {"export", "--deleted", "--mbox", Scratch("all.mbox"), a},
    };
    for (const auto& arguments : runs) {
        EXPECT_EQ(Wait(Start(arguments, Scratch("stdout"))), 0) << arguments[0];
        EXPECT_EQ(TempLeftovers(), std::vector<std::string>{}) << arguments[0];
    }
}

// SIGINT or SIGTERM in the middle of an export: the program stops with
// 128 + the signal, every .eml file it wrote is whole, no temporary file of
// it is left, and an mbox export leaves no file under the chosen name.
TEST_F(CliProcesses, AStopSignalEndsAnExportCleanly) {
    const std::string big = Folder("big.dbx", "charlie", 6000);
    const std::string solo = Scratch("solo");
    EXPECT_EQ(Wait(Start({"export", "--deleted", "--out", solo, big}, Scratch("o"))), 0);
    const std::map<std::string, std::string> whole = Tree(solo);
    int stopped = 0;
    for (const int signal : {SIGINT, SIGTERM}) {
        const std::string out = Scratch("out" + std::to_string(signal));
        const TChild child = Start({"export", "--deleted", "--out", out, big}, Scratch("o"));
        // Wait for the first file, then stop it.
        for (int i = 0; i < 2000 && Tree(out).empty(); ++i) ::usleep(1000);
        ::kill(child.pid, signal);
        const int status = Wait(child);
        EXPECT_TRUE(status == 128 + signal || status == 0) << status;
        if (status == 128 + signal) ++stopped;
        for (const auto& [name, bytes] : Tree(out)) EXPECT_EQ(bytes, whole.at(name)) << name;
        EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});

        const std::string mbox = Scratch("stopped.mbox");
        const TChild m = Start({"export", "--deleted", "--mbox", mbox, big}, Scratch("o"));
        ::usleep(20000);
        ::kill(m.pid, signal);
        const int mboxStatus = Wait(m);
        EXPECT_EQ(stdfs::exists(mbox), mboxStatus == 0) << mboxStatus;
        for (const auto& e : stdfs::directory_iterator(scratch_))
            EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
        stdfs::remove(mbox);
    }
    EXPECT_GT(stopped, 0);  // at least one export was still running when the signal came
}

// One writing thread or four: the same files with the same bytes.
TEST_F(CliProcesses, TheNumberOfWritingThreadsChangesNoOutput) {
    const std::string a = Folder("a.dbx", "delta", 300);
    std::map<std::string, std::string> first;
    for (const std::size_t threads : {1u, 4u, 2u}) {
        std::ostringstream out, err;
        cli::TConsole console{out, err, 0, false, threads};
        const std::string folder = Scratch("out" + std::to_string(threads));
        ASSERT_EQ(cli::RunCorvaneDbx({"export", "--deleted", "--filter", "body", "--out", folder, a}, console), 0)
            << err.str();
        const auto files = Tree(folder);
        EXPECT_EQ(files.size(), 300u);
        if (first.empty()) first = files;
        EXPECT_EQ(files, first) << threads << " threads";
    }
}

}  // namespace
