// corvane-dbx beside hostile neighbours, as separate processes: exports into
// one folder at the same time as each other and as a program that keeps
// making and removing the probe's own name.

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "outlookfile/ReaderTestSupport.h"
#include "support/ChildProcess.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::testsupport::TChild;
using corvane::testsupport::TDbxWriter;

namespace {

TChild Start(const std::vector<std::string>& arguments, const std::string& out) {
    return corvane::testsupport::StartProgram(CORVANE_DBX_PROGRAM, arguments, out);
}

class CliNeighbours : public ReaderTest {
protected:
    std::string Folder(const std::string& name, int messages) {
        TDbxWriter w(static_cast<std::uint64_t>(messages) + name.size());
        for (int i = 0; i < messages; ++i)
            w.AddMessage("From: " + name + " <x@example.org>\r\nSubject: " + std::to_string(i) + "\r\n\r\nbody\r\n");
        const std::string path = Scratch(name);
        w.Save(path);
        return path;
    }
};

// Three exports into the same folder at once, round after round, while
// another process creates and removes check.DAT there without pause: every
// export finds the folder writeable and writes all its files.
TEST_F(CliNeighbours, ConcurrentExportsIntoOneFolderAllSucceed) {
    const std::string folder = Scratch("shared");
    stdfs::create_directory(folder);
    const std::string probe = folder + "/check.DAT";
    const pid_t looper = ::fork();
    if (looper == 0) {
        for (;;) {
            const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (fd >= 0) ::close(fd);
            ::unlink(probe.c_str());
        }
    }
    const std::vector<std::string> files{Folder("s0.dbx", 5), Folder("s1.dbx", 6), Folder("s2.dbx", 7)};
    const std::vector<std::string> outs{"/0", "/1", "/2"};
    for (int round = 0; round < 15; ++round) {
        std::vector<TChild> runs;
        for (std::size_t n = 0; n < 3; ++n)
            runs.push_back(Start({"export", "--overwrite", "--out", folder + outs[n], files[n]}, Scratch(files[n] + ".out")));
        // And one straight into the shared folder itself.
        runs.push_back(Start({"export", "--overwrite", "--items", "0", "--out", folder, files[0]}, Scratch("o")));
        for (const TChild& run : runs) EXPECT_EQ(corvane::testsupport::WaitFor(run), 0) << "round " << round;
        for (std::size_t n = 0; n < 3; ++n)
            EXPECT_EQ(std::distance(stdfs::directory_iterator(folder + outs[n]), stdfs::directory_iterator()),
                      static_cast<std::ptrdiff_t>(5 + n));
    }
    ::kill(looper, SIGKILL);
    corvane::testsupport::WaitFor({looper, ""});
    std::size_t probes = 0;
    for (const auto& e : stdfs::directory_iterator(folder))
        if (e.path().extension() == ".DAT" && e.path().filename() != "check.DAT") ++probes;
    EXPECT_EQ(probes, 0u);  // every probe removed again
}

}  // namespace
