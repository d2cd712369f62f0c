// The read against what only a POSIX system lets happen to it: a folder file
// cut while it is open, and a process killed in the middle of a read.

#include <gtest/gtest.h>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

#include "chainread/ChainRead.h"
#include "outlookfile/ReaderTestSupport.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::read::TChainRead;
using corvane::read::TChainReadOptions;
using corvane::read::TFoundMessage;

namespace {

class ChainReadPosix : public ReaderTest {
protected:
    // Files of the program's that a read left in the temporary folder (the
    // message folder aside).
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : stdfs::directory_iterator(Scratch("tmp")))
            if (const std::string name = e.path().filename().string();
                name.rfind("corvane-", 0) == 0 && name.rfind("corvane-recovery-", 0) != 0)
                names.push_back(e.path().string());
        return names;
    }
};

// A folder file cut between the scan and the walk: the read says it changed
// and hands on no record whose text it could not read.
TEST_F(ChainReadPosix, AFolderFileCutAfterItsScanEndsTheRead) {
    corvane::testsupport::TDbxWriter dbx(4);
    for (int i = 0; i < 200; ++i)
        dbx.AddMessage("From: a" + std::to_string(i) + "@x\r\nSubject: s\r\n\r\n" + std::string(2000, 'b') + "\r\n");
    const std::string path = Scratch("cut.dbx");
    dbx.Save(path);
    const std::uintmax_t whole = stdfs::file_size(path);
    for (const std::size_t batch : {std::size_t{600}, std::size_t{32} << 20}) {
        dbx.Save(path);
        TChainReadOptions options;
        options.WalkBatch = batch;
        options.AfterScan = [&] { stdfs::resize_file(path, whole / 2); };
        std::size_t seen = 0;
        try {
            TChainRead read(path, options);
            read.Run(
                [&](TFoundMessage& m) {
                    ++seen;
                    EXPECT_EQ(m.Text->Copy(m.Email.MessageStart, m.Email.MessageEnd).find(std::string(16, ' ')),
                              std::string::npos);
                },
                nullptr);
            ADD_FAILURE() << "no error";
        } catch (const EFolderChanged& e) {
            EXPECT_EQ(std::string(e.what()), "\"" + path + "\" changed while it was read.");
        }
        EXPECT_LT(seen, 200u);
    }
    // Cut before the scan, the file is read as it now is.
    dbx.Save(path);
    stdfs::resize_file(path, whole / 2);
    TChainRead read(path, {});
    EXPECT_GT(read.Run([](TFoundMessage&) {}, nullptr), 0u);
}

// A read killed (SIGKILL) while a chain lies in its scratch file leaves
// nothing in the temporary folder.
TEST_F(ChainReadPosix, AKilledReadLeavesNoScratchFile) {
    corvane::testsupport::TDbxWriter dbx(6);
    for (int i = 0; i < 40; ++i)
        dbx.AddMessage("From: a" + std::to_string(i) + "@x\r\n\r\n" + std::string(20000, 'k') + "\r\n");
    const std::string path = Scratch("kill.dbx");
    dbx.Save(path);
    const pid_t child = ::fork();
    if (child == 0) {
        TChainReadOptions options;
        options.MemoryLimit = 100;  // every chain in a scratch file
        TChainRead read(path, options);
        int seen = 0;
        read.Run(
            [&](TFoundMessage& m) {
                if (++seen == 20 && !m.Text->InMemory()) ::kill(::getpid(), SIGKILL);
            },
            nullptr);
        std::_Exit(3);  // not killed: the chains were not in scratch files
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

}  // namespace
