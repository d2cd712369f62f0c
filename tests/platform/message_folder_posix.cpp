// Which folder each process writes its message files to: the user's folder
// for the process that holds it, a private folder for any other at the same
// time, removed when that process ends or is stopped, and by a later process
// when it was killed.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Files.h"
#include "support/DbxFixture.h"
#include "support/TestFiles.h"

namespace stdfs = std::filesystem;
using namespace corvane;
namespace support = corvane::testsupport;

namespace {

struct TProbe {
    pid_t pid = -1;
    FILE* out = nullptr;  // its standard output
    int in = -1;          // its standard input
    std::string Line() const {
        char line[4096];
        return std::fgets(line, sizeof line, out) != nullptr ? std::string(line, std::strcspn(line, "\n")) : std::string();
    }
    int Wait() {
        if (in >= 0) ::close(in);
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::fclose(out);
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    }
};

TProbe StartProbe(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), MESSAGE_FOLDER_PROBE);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2], in[2];
    if (::pipe(out) != 0 || ::pipe(in) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(in[0], 0);
        for (const int fd : {out[0], out[1], in[0], in[1]}) ::close(fd);  // else its input never ends
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    ::close(out[1]);
    ::close(in[0]);
    return {pid, ::fdopen(out[0], "r"), in[1]};
}

class MessageFolder : public ::testing::Test {
protected:
    std::string User() const { return dir_ / ("corvane-recovery-" + std::to_string(::getuid()) + "/"); }
    std::vector<std::string> RunFolders() const {
        std::vector<std::string> found;
        for (const auto& e : stdfs::directory_iterator(User()))
            if (e.path().filename().string().rfind("run-", 0) == 0) found.push_back(e.path().string() + "/");
        return found;
    }
    support::TScratchFolder dir_{"corvane-msgfolder"};
    support::TEnvOverride tmpdir_{"TMPDIR", dir_.Path()};
};

TEST_F(MessageFolder, AProcessAloneUsesTheUsersFolderAndLeavesItsFilesThere) {
    TProbe probe = StartProbe({"write"});
    EXPECT_EQ(probe.Line(), User());
    EXPECT_EQ(probe.Wait(), 0);
    EXPECT_TRUE(stdfs::exists(User() + "probe.tmp"));
    EXPECT_TRUE(RunFolders().empty());
}

TEST_F(MessageFolder, ASecondProcessUsesAPrivateFolderRemovedAtItsEnd) {
    ASSERT_EQ(fs::TempPath(), User());  // this process holds the user's folder
    EXPECT_EQ(fs::TempPath(), User());
    TProbe probe = StartProbe({"wait"});
    const std::string own = probe.Line();
    ASSERT_EQ(probe.Line(), "ready");
    EXPECT_EQ(RunFolders(), std::vector<std::string>{own});
    struct stat st {};
    ASSERT_EQ(::lstat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(stdfs::exists(own + "probe.tmp"));
    EXPECT_EQ(probe.Wait(), 0);
    EXPECT_FALSE(stdfs::exists(own));
    EXPECT_FALSE(stdfs::exists(User() + "probe.tmp"));
}

TEST_F(MessageFolder, AStoppedProcessRemovesItsFolderAndAKilledOnesIsRemovedByTheNext) {
    fs::TempPath();
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        TProbe probe = StartProbe({"wait"});
        const std::string own = probe.Line();
        ASSERT_EQ(probe.Line(), "ready");
        ::kill(probe.pid, signal);
        EXPECT_EQ(probe.Wait(), 128 + signal) << "signal " << signal;
        EXPECT_EQ(stdfs::exists(own), signal == SIGKILL) << "signal " << signal;
    }
    ASSERT_EQ(RunFolders().size(), 1u);  // the killed one's
    TProbe next = StartProbe({"wait"});
    const std::string own = next.Line();
    ASSERT_EQ(next.Line(), "ready");
    EXPECT_EQ(RunFolders(), std::vector<std::string>{own});
    EXPECT_EQ(next.Wait(), 0);
    EXPECT_TRUE(RunFolders().empty());
}

TEST_F(MessageFolder, TheReadOfASecondProcessWritesOnlyIntoItsOwnFolder) {
    support::TDbxWriter w;
    for (int i = 0; i < 6; ++i) w.AddMessage("From: a@x\r\nSubject: s" + std::to_string(i) + "\r\n\r\nbody\r\n");
    w.DeleteMessage(2);
    const std::string folderFile = dir_ / "in.dbx";
    w.Save(folderFile);
    fs::TempPath();
    TProbe probe = StartProbe({"read", folderFile});
    const std::string own = probe.Line();
    std::vector<std::string> files;
    for (std::string line = probe.Line(); !line.empty(); line = probe.Line()) files.push_back(line);
    EXPECT_GE(files.size(), 5u);
    for (const std::string& f : files) EXPECT_EQ(f.rfind(own, 0), 0u) << f;
    EXPECT_EQ(probe.Wait(), 0);
    for (const auto& e : stdfs::directory_iterator(User())) ADD_FAILURE() << "left in the user's folder: " << e.path();
}

}  // namespace
