// Bad input to the folder reader that only this system can give: FIFOs,
// sockets and devices named as files, a folder file removed or cut while it
// is open (Windows holds it without sharing, see getemails_win.cpp), and a
// temporary folder that is a full or read-only tmpfs mount.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "BadInputSupport.h"
#include "emailparser/emailparser.h"
#include "platform/Errors.h"
#include "support/ProgressSpy.h"

using namespace badinput;

namespace {

// Runs a call that must not block; a watchdog opens the FIFO for writing
// after a while, which would release an open that waits for a writer.
template <class Call>
bool ReturnsWithoutBlocking(const std::string& fifo, Call call) {
    std::atomic<bool> done{false};
    std::atomic<bool> released{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 100 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (done) return;
        released = true;
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });
    call();
    done = true;
    watchdog.join();
    return !released;
}

class BadInputPosix : public BadInputTest {
protected:
    void TearDown() override {
        if (!mounted_.empty()) ::umount2(mounted_.c_str(), MNT_DETACH);
        BadInputTest::TearDown();
    }

    // A tmpfs of the given size (options as mount takes them) on a folder of
    // the scratch folder, made the temporary folder; empty when the machine
    // does not allow it.
    std::string MountTemp(const std::string& options, std::string& why) {
        const std::string at = Scratch("mnt");
        stdfs::create_directory(at);
        if (::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            why = "cannot mount a tmpfs here (" + std::string(std::strerror(errno)) + ")";
            return {};
        }
        mounted_ = at;
        ::setenv("TMPDIR", at.c_str(), 1);
        return at;
    }

    std::string mounted_;
};

// ---------------------------------------------------------------------------
// Special files

TEST_F(BadInputPosix, AFifoASocketAFolderOrADeviceIsRefusedWithoutBlocking) {
    const std::string fifo = Scratch("fifo.dbx");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = Scratch("socket.dbx");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string folder = Scratch("folder.dbx");
    stdfs::create_directory(folder);

    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {fifo, kNotRegularFileText},
        {socketPath, kNotRegularFileText},
        {"/dev/null", kNotRegularFileText},
        {folder, SystemErrorText(EISDIR)},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_TRUE(ReturnsWithoutBlocking(fifo, [&] {
            try {
                Toutlookfile reader;
                reader.GetEmails(c.path, true);
            } catch (const EFOpenError& e) {
                error = e.what();
            }
        })) << c.path;
        EXPECT_EQ(error, "Cannot open file \"" + c.path + "\". " + c.reason);
    }
    ::close(sock);
    EXPECT_TRUE(MessageFilesOnDisk().empty());
    EXPECT_EQ(Names(scratch_), (std::vector<std::string>{"fifo.dbx", "folder.dbx", "socket.dbx", "tmp"}));
}

TEST_F(BadInputPosix, AMessageFileReplacedByAFifoIsRefusedWithoutBlocking) {
    const std::string fifo = Scratch("msg1.tmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string expected = "Cannot open file \"" + fifo + "\". " + kNotRegularFileText;
    std::string parseError, lineError;
    EXPECT_TRUE(ReturnsWithoutBlocking(fifo, [&] {
        try {
            ParseMessageFiles({fifo}, false);
        } catch (const EFOpenError& e) {
            parseError = e.what();
        }
    }));
    EXPECT_TRUE(ReturnsWithoutBlocking(fifo, [&] {
        try {
            FindLineEnd(fifo, 0);
        } catch (const EFOpenError& e) {
            lineError = e.what();
        }
    }));
    EXPECT_EQ(parseError, expected);
    EXPECT_EQ(lineError, expected);
}

// ---------------------------------------------------------------------------
// A folder file that changes while it is read

namespace changing {
std::string path;
std::string replacement;
bool truncate = false;
int calls = 0;
void Change() {
    if (++calls != 2) return;
    if (truncate) {
        if (::truncate(path.c_str(), 0) != 0) calls = -1000;
        return;
    }
    ::unlink(path.c_str());
    WriteAll(path, replacement);
}
}  // namespace changing

TEST_F(BadInputPosix, AFolderFileRemovedReplacedOrCutWhileReadIsReadAsOpened) {
    TDbxWriter dbx;
    for (int i = 0; i < 400; ++i) dbx.AddMessage(Mail("sender " + std::to_string(i), std::string(600, 'm')));
    // Deleting overwrites a block's first text bytes; the headers follow a line of padding.
    const int gone = dbx.AddMessage("padding\r\n" + Mail("deleted", std::string(600, 'g')));
    dbx.DeleteMessage(gone);
    const std::string original = Save(dbx, "original.dbx");
    Toutlookfile plain;
    const TEmailArray expected = plain.GetEmails(original, true);
    ASSERT_EQ(expected.size(), 401u);

    TDbxWriter other(5);
    other.AddMessage(Mail("someone else", "x"));
    corvane::testsupport::TProgressSpy progress;
    progress.OnReport = changing::Change;

    // Removed and replaced: the open file is read whole, as it was.
    changing::path = Save(dbx);
    changing::replacement = other.Bytes();
    changing::truncate = false;
    changing::calls = 0;
    TEmailArray emails;
    {
        Toutlookfile reader;
        emails = reader.GetEmails(changing::path, true, &progress);
    }
    EXPECT_GE(changing::calls, 2);
    EXPECT_EQ(Froms(emails), Froms(expected));
    EXPECT_EQ(ReadAll(changing::path), other.Bytes());  // only read, never written

    // Cut to nothing once the scan has found the blocks: the chains' reads
    // come back short of what the scan saw, and the read says that the file
    // changed instead of giving texts of spaces.
    changing::path = Save(dbx);
    changing::truncate = true;
    changing::calls = 0;
    try {
        Toutlookfile reader;
        reader.GetEmails(changing::path, true, &progress);
        ADD_FAILURE() << "no error";
    } catch (const EFolderChanged& e) {
        EXPECT_EQ(std::string(e.what()), "\"" + changing::path + "\" changed while it was read.");
    }
    EXPECT_GE(changing::calls, 2);
}

// ---------------------------------------------------------------------------
// The temporary folder full or read-only

TEST_F(BadInputPosix, ATemporaryFolderThatFillsUpStopsWithAClearErrorAndKeepsWhatWasWritten) {
    std::string why;
    if (MountTemp("size=64k", why).empty()) GTEST_SKIP() << why;
    TDbxWriter dbx;
    dbx.AddMessage(Mail("small", "fits"));
    dbx.AddMessage(Mail("large", std::string(200 * 1024, 'L')));
    const std::string path = Save(dbx);
    Toutlookfile reader;
    try {
        reader.GetEmails(path, false);
        ADD_FAILURE() << "no error";
    } catch (const ECorvaneError& e) {
        EXPECT_NE(std::string(e.what()).find(SystemErrorText(ENOSPC)), std::string::npos) << e.what();
    }
    const std::string messages = mounted_ + "/corvane-recovery-" + std::to_string(::getuid());
    EXPECT_EQ(ReadAll(messages + "/msg1.tmp"), dbx.TextOf(0));
    // The fixture's own temporary folder stays empty: the mount took its place.
    EXPECT_EQ(Names(scratch_), (std::vector<std::string>{"folder.dbx", "mnt", "tmp"}));
    EXPECT_TRUE(stdfs::is_empty(Scratch("tmp")));
    EXPECT_EQ(Names(mounted_), std::vector<std::string>{"corvane-recovery-" + std::to_string(::getuid())});
    EXPECT_EQ(Names(messages), (std::vector<std::string>{"msg1.tmp", "msg2.tmp"}));
}

TEST_F(BadInputPosix, AReadOnlyTemporaryFolderGivesTheCreateError) {
    std::string why;
    const std::string at = MountTemp("size=1m", why);
    if (at.empty()) GTEST_SKIP() << why;
    TDbxWriter dbx;
    dbx.AddMessage(Mail("anyone", "text"));
    const std::string path = Save(dbx);
    const std::string messages = at + "/corvane-recovery-" + std::to_string(::getuid());

    // Without the message folder: it cannot be made.
    ASSERT_EQ(::mount(nullptr, at.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    try {
        Toutlookfile reader;
        reader.GetEmails(path, true);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + messages + "\". " + SystemErrorText(EROFS));
    }
    // With it: the first message file cannot be made.
    ASSERT_EQ(::mount(nullptr, at.c_str(), nullptr, MS_REMOUNT, nullptr), 0) << std::strerror(errno);
    ASSERT_EQ(::mkdir(messages.c_str(), 0700), 0);
    ASSERT_EQ(::mount(nullptr, at.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    try {
        Toutlookfile reader;
        reader.GetEmails(path, false);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + messages + "/msg1.tmp\". " + SystemErrorText(EROFS));
    }
    EXPECT_TRUE(stdfs::is_empty(messages));
}

}  // namespace
