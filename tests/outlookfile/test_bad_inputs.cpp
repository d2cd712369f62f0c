// Bad input to the folder reader: damaged and hostile folder files, special
// files, files that change while they are read, and a temporary folder that is
// full or read-only. Each ends with a complete result or a clear error; what
// was written before a failure stays, and nothing is written outside the
// temporary folder.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "ReaderTestSupport.h"
#include "emailparser/emailparser.h"
#include "platform/Errors.h"
#include "platform/MessagePump.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::testsupport::kBlockSize;
using corvane::testsupport::TDbxWriter;

namespace {

// The block scanner reads the file through windows of this size.
constexpr std::uint32_t kScanWindow = 4u << 20;
// The chain writer writes message files in batches of about this much text.
constexpr std::uint32_t kWriteBatch = 32u << 20;

std::string Mail(const std::string& from, const std::string& body) {
    return "From: " + from + "\r\nSubject: s\r\n\r\n" + body + "\r\n";
}

std::string LiveHeader(std::uint32_t at, std::uint32_t length, std::uint32_t next) {
    return Le32(at) + Le32(0x200) + Le32(length) + Le32(next);
}

std::string DeletedHeader(std::uint32_t at, std::uint32_t next, std::uint32_t prev) {
    return Le32(at) + Le32(0x1FC) + Le32(kBlockSize) + Le32(next) + Le32(prev);
}

// Text as the reader writes it: NUL bytes as spaces.
std::string Spaced(std::string s) {
    for (char& c : s)
        if (c == '\0') c = ' ';
    return s;
}

std::vector<std::string> Froms(const TEmailArray& emails) {
    std::vector<std::string> out;
    for (const TEmail& e : emails) out.push_back(e.From);
    return out;
}

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

class BadInput : public ReaderTest {
protected:
    void TearDown() override {
        if (!mounted_.empty()) ::umount2(mounted_.c_str(), MNT_DETACH);
        ReaderTest::TearDown();
    }

    std::string Save(const TDbxWriter& dbx, const std::string& name = "folder.dbx") {
        WriteAll(Scratch(name), dbx.Bytes());
        return Scratch(name);
    }
    std::vector<std::string> MessageFilesOnDisk() {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : stdfs::directory_iterator(MessageFolder(), ec)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // The names in a folder, sorted.
    static std::vector<std::string> Names(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : stdfs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
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
// Damaged folder files

TEST_F(BadInput, AFolderFileCutInsideAHeaderOrABodyKeepsEverythingBefore) {
    TDbxWriter dbx;
    dbx.AddMessage(Mail("first", std::string(700, 'a')));
    dbx.AddMessage(Mail("second", "short"));
    const int third = dbx.AddMessage(Mail("third", std::string(900, 'c')));
    const std::vector<std::uint32_t> blocks = dbx.BlocksOf(third);
    ASSERT_EQ(blocks.size(), 2u);
    const std::uint32_t last = blocks[1];
    const std::string whole = dbx.LiveChainText(blocks);
    const std::string firstPart = dbx.LiveChainText({blocks[0]});

    // Cut inside the last block's header: that block is not found.
    for (std::uint32_t cut : {last + 1, last + 4, last + 8, last + 12, last + 15}) {
        WriteAll(Scratch("cut.dbx"), dbx.Bytes().substr(0, cut));
        Toutlookfile reader;
        const TEmailArray emails = reader.GetEmails(Scratch("cut.dbx"), true);
        EXPECT_EQ(Froms(emails), (std::vector<std::string>{" first", " second", " third"})) << cut;
        EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), dbx.TextOf(0));
        EXPECT_EQ(ReadAll(MessageFile("msg2.tmp")), dbx.TextOf(1));
        EXPECT_EQ(ReadAll(MessageFile("msg3.tmp")), firstPart) << cut;
    }
    // Cut inside its body: the bytes past the end read as spaces.
    for (std::uint32_t keep : {0u, 1u, 100u, 300u}) {
        const std::uint32_t cut = last + 16 + keep;
        WriteAll(Scratch("cut.dbx"), dbx.Bytes().substr(0, cut));
        Toutlookfile reader;
        EXPECT_EQ(reader.GetEmails(Scratch("cut.dbx"), true).size(), 3u);
        std::string expected = whole;
        const std::size_t lost = firstPart.size() + keep;
        expected.replace(lost, expected.size() - lost, expected.size() - lost, ' ');
        EXPECT_EQ(ReadAll(MessageFile("msg3.tmp")), expected) << keep;
    }
    // A deleted block cut inside its 20-byte header is not found either.
    TDbxWriter deleted;
    const std::uint32_t slot = deleted.NewBlockSlot();
    deleted.PutDeletedBlock(slot, 0, 0x40, "\r\nFrom: gone\r\n\r\n");
    for (std::uint32_t cut : {slot + 12, slot + 16, slot + 19}) {
        WriteAll(Scratch("cut.dbx"), deleted.Bytes().substr(0, cut));
        Toutlookfile reader;
        EXPECT_TRUE(reader.GetEmails(Scratch("cut.dbx"), true).empty()) << cut;
    }
    WriteAll(Scratch("cut.dbx"), deleted.Bytes().substr(0, slot + 20 + 16));  // its text's header line whole
    Toutlookfile reader;
    EXPECT_EQ(reader.GetEmails(Scratch("cut.dbx"), true).size(), 1u);
}

TEST_F(BadInput, BlockHeadersAcrossTheScannersReadWindowBorder) {
    for (bool live : {true, false}) {
        for (int delta = -24; delta <= 8; delta += 4) {
            TDbxWriter dbx;
            dbx.AddMessage(Mail("before", "b"));
            const std::uint32_t at = kScanWindow + static_cast<std::uint32_t>(delta);
            // A deleted block's text follows "[??]" in its message file, so
            // its first header line starts on the block's second line.
            const std::string text = "\r\nFrom: border\r\n\r\nat the border\r\n";
            if (live) dbx.PutLiveBlock(at, static_cast<std::uint32_t>(text.size()), 0, text);
            else dbx.PutDeletedBlock(at, 0, at + 4, text);
            dbx.PutLiveBlock(at + kBlockSize, 13, 0, "From: after\r\n");
            Toutlookfile reader;
            const TEmailArray emails = reader.GetEmails(Save(dbx), true);
            const auto expected = live ? std::vector<std::string>{" before", " border", " after"}
                                       : std::vector<std::string>{" before", " after", " border"};
            EXPECT_EQ(Froms(emails), expected) << (live ? "live " : "deleted ") << delta;
        }
    }
}

TEST_F(BadInput, BlocksAcrossAndBeyondFourGibibytesInASparseFile) {
    // A live block whose body crosses 4 GiB, and inside that body a deleted
    // block whose header crosses it; the live scan takes the first, the deleted
    // scan (which passes over live headers) the second.
    const std::uint64_t four = 0x100000000ull;
    const std::uint32_t live = 0xFFFFFF00u;
    const std::uint32_t deleted = 0xFFFFFFF8u;
    std::string image(0x400, '\0');  // the bytes from `live` on
    const std::string liveText = "From: across\r\n\r\n" + std::string(200, 'x') + "\r\n";
    image.replace(0, 16, LiveHeader(live, 512, 0));
    image.replace(16, liveText.size(), liveText);
    image.replace(deleted - live, 20, DeletedHeader(deleted, 0x10, 0x20));
    const std::string deletedText = "\r\nFrom: beyond\r\n\r\n";
    image.replace(deleted - live + 20, deletedText.size(), deletedText);
    const std::string path = Scratch("huge.dbx");
    {
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, image.data(), image.size(), live), static_cast<ssize_t>(image.size()));
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(four + 0x300)), 0);
        ::close(fd);
    }
    Toutlookfile reader;
    const TEmailArray emails = reader.GetEmails(path, true);
    // The live block's text holds the deleted block's, header line included.
    EXPECT_EQ(Froms(emails), (std::vector<std::string>{" across", " beyond", " beyond"}));
    EXPECT_EQ(emails[2].Deleted, 1);
    EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), Spaced(image.substr(16, 512)));
    EXPECT_EQ(ReadAll(MessageFile("delmsg1.tmp")), "[??]" + Spaced(image.substr(deleted - live + 20, 508)));
}

TEST_F(BadInput, DataLengthsOfZeroAndTheLargestOne) {
    // Nothing but blocks without text, alone and chained: empty message files.
    {
        TDbxWriter dbx;
        const std::uint32_t a = dbx.NewBlockSlot(), b = dbx.NewBlockSlot(), c = dbx.NewBlockSlot();
        dbx.PutLiveBlock(a, 0, b, "");
        dbx.PutLiveBlock(b, 0, 0, "");
        dbx.PutLiveBlock(c, 0, 0, "");
        Toutlookfile reader;
        EXPECT_TRUE(reader.GetEmails(Save(dbx), true).empty());
        EXPECT_EQ(MessageFilesOnDisk(), (std::vector<std::string>{"msg1.tmp", "msg2.tmp"}));
        EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), "");
    }
    // 0 and 65535 mixed in one chain that ends the file: the long block reads
    // through the blocks after it and past the end of the file.
    {
        TDbxWriter dbx;
        std::vector<std::uint32_t> chain;
        for (int i = 0; i < 4; ++i) chain.push_back(dbx.NewBlockSlot());
        dbx.PutLiveBlock(chain[0], 0, chain[1], "");
        dbx.PutLiveBlock(chain[1], 65535, chain[2], "From: long\r\n\r\n");
        dbx.PutLiveBlock(chain[2], 0, chain[3], "");
        dbx.PutLiveBlock(chain[3], 65535, 0, "tail");
        Toutlookfile reader;
        EXPECT_EQ(Froms(reader.GetEmails(Save(dbx), true)), std::vector<std::string>{" long"});
        const std::string text = ReadAll(MessageFile("msg1.tmp"));
        ASSERT_EQ(text.size(), 2u * 65535);
        EXPECT_EQ(text, dbx.LiveChainText(chain));
    }
    // Enough 65535-byte blocks to fill more than one write batch: one long
    // chain, then as many chains of one block.
    for (bool oneChain : {true, false}) {
        stdfs::remove_all(MessageFolder());  // message files of the cases before
        TDbxWriter dbx;
        const std::uint32_t count = kWriteBatch / 65535 + 40;
        std::vector<std::uint32_t> blocks;
        for (std::uint32_t i = 0; i < count; ++i) blocks.push_back(dbx.NewBlockSlot());
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t next = oneChain && i + 1 < count ? blocks[i + 1] : 0;
            dbx.PutLiveBlock(blocks[i], i % 7 == 3 ? 0 : 65535, next, "block " + std::to_string(i) + " ");
        }
        dbx.PutBytes(dbx.End(), std::string(65536, 'z'));  // the last block's text lies in the file
        Toutlookfile reader;
        reader.GetEmails(Save(dbx), false);
        if (oneChain) {
            EXPECT_EQ(MessageFilesOnDisk(), std::vector<std::string>{"msg1.tmp"});
            EXPECT_EQ(ReadAll(MessageFile("msg1.tmp")), dbx.LiveChainText(blocks));
        } else {
            ASSERT_EQ(MessageFilesOnDisk().size(), count);
            for (std::uint32_t i = 0; i < count; i += 37)
                EXPECT_EQ(ReadAll(MessageFile("msg" + std::to_string(i + 1) + ".tmp")), dbx.LiveChainText({blocks[i]}))
                    << i;
            EXPECT_EQ(ReadAll(MessageFile("msg" + std::to_string(count) + ".tmp")),
                      dbx.LiveChainText({blocks.back()}));
        }
    }
}

TEST_F(BadInput, PointersToThemselvesEachOtherOutsideAndUnaligned) {
    struct Case {
        const char* what;
        // next offsets by block index; kSelf, kOut or another block's index
        std::vector<std::int64_t> next;
        std::vector<std::string> files;  // the message files' texts
    };
    constexpr std::int64_t kSelf = -1, kOut = -2, kUnaligned = -3, kEnd = -4;
    const Case cases[] = {
        {"to itself", {kSelf}, {"A"}},
        {"to each other", {1, 0}, {"AB"}},
        {"three in a ring", {1, 2, 0}, {"ABC"}},
        {"outside the file", {kOut, kOut}, {"A", "B"}},
        {"into the middle of a block", {kUnaligned, kEnd}, {"A", "B"}},
        {"two to one", {2, 2, kEnd}, {"AC", "B"}},
    };
    for (const Case& c : cases) {
        TDbxWriter dbx;
        std::vector<std::uint32_t> at;
        for (std::size_t i = 0; i < c.next.size(); ++i) at.push_back(dbx.NewBlockSlot());
        for (std::size_t i = 0; i < c.next.size(); ++i) {
            const std::int64_t n = c.next[i];
            const std::uint32_t next = n == kSelf ? at[i] : n == kOut ? 0xFFFFFFF0u : n == kUnaligned ? at[i] + 2 : n == kEnd ? 0 : at[static_cast<std::size_t>(n)];
            dbx.PutLiveBlock(at[i], 1, next, std::string(1, static_cast<char>('A' + i)));
        }
        Toutlookfile reader;
        reader.GetEmails(Save(dbx), false);
        std::vector<std::string> texts;
        for (std::size_t k = 1; k <= MessageFilesOnDisk().size(); ++k) texts.push_back(ReadAll(MessageFile("msg" + std::to_string(k) + ".tmp")));
        EXPECT_EQ(texts, c.files) << c.what;
        stdfs::remove_all(MessageFolder());
    }

    // Deleted blocks naming themselves, each other both ways, and positions
    // outside the file or between blocks: each block is written once.
    TDbxWriter dbx;
    const std::uint32_t a = dbx.NewBlockSlot(), b = dbx.NewBlockSlot(), c = dbx.NewBlockSlot();
    dbx.PutDeletedBlock(a, b, a, "one");
    dbx.PutDeletedBlock(b, a, a, "ignored: next and previous are equal");
    dbx.PutDeletedBlock(c, c + 2, 0xFFFFFFF0u, "three");
    Toutlookfile reader;
    reader.GetEmails(Save(dbx), true);
    EXPECT_EQ(ReadAll(MessageFile("delmsg1.tmp")), dbx.DeletedChainText({a}));
    EXPECT_EQ(ReadAll(MessageFile("delmsg2.tmp")), dbx.DeletedChainText({c}));
    EXPECT_FALSE(stdfs::exists(MessageFile("delmsg3.tmp")));
}

// ---------------------------------------------------------------------------
// Special files

TEST_F(BadInput, AFifoASocketAFolderOrADeviceIsRefusedWithoutBlocking) {
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
    EXPECT_EQ(Names(scratch_), (std::vector<std::string>{"fifo.dbx", "folder.dbx", "socket.dbx"}));
}

TEST_F(BadInput, AMessageFileReplacedByAFifoIsRefusedWithoutBlocking) {
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

TEST_F(BadInput, AFolderFileRemovedReplacedOrCutWhileReadIsReadAsOpened) {
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
    corvane::pump::SetInterval(std::chrono::milliseconds(0));
    const auto previous = corvane::pump::SetHandler(changing::Change);

    // Removed and replaced: the open file is read whole, as it was.
    changing::path = Save(dbx);
    changing::replacement = other.Bytes();
    changing::truncate = false;
    changing::calls = 0;
    TEmailArray emails;
    {
        Toutlookfile reader;
        emails = reader.GetEmails(changing::path, true);
    }
    EXPECT_GE(changing::calls, 2);
    EXPECT_EQ(Froms(emails), Froms(expected));
    EXPECT_EQ(ReadAll(changing::path), other.Bytes());  // only read, never written

    // Cut to nothing: the read ends where the file now ends; whatever was
    // found is written, the rest of the text as spaces.
    changing::path = Save(dbx);
    changing::truncate = true;
    changing::calls = 0;
    {
        Toutlookfile reader;
        emails = reader.GetEmails(changing::path, true);
    }
    corvane::pump::SetHandler(previous);
    corvane::pump::SetInterval(std::chrono::milliseconds(15));
    EXPECT_GE(changing::calls, 2);
    EXPECT_LE(emails.size(), expected.size());
    for (const TEmail& e : emails) EXPECT_LE(e.MessageEnd, static_cast<std::int64_t>(stdfs::file_size(e.FileName)));
}

// ---------------------------------------------------------------------------
// The temporary folder full or read-only

TEST_F(BadInput, ATemporaryFolderThatFillsUpStopsWithAClearErrorAndKeepsWhatWasWritten) {
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
    EXPECT_EQ(Names(scratch_), (std::vector<std::string>{"folder.dbx", "mnt"}));
    EXPECT_EQ(Names(mounted_), std::vector<std::string>{"corvane-recovery-" + std::to_string(::getuid())});
    EXPECT_EQ(Names(messages), (std::vector<std::string>{"msg1.tmp", "msg2.tmp"}));
}

TEST_F(BadInput, AReadOnlyTemporaryFolderGivesTheCreateError) {
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
