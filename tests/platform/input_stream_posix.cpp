// Inputs that are not plain files: what a name stands for, and a stream read
// once in order.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Errors.h"
#include "platform/InputStream.h"
#include "support/TestFiles.h"

namespace {

namespace support = corvane::testsupport;
using corvane::fs::TInputKind;

TEST(InputStream, KindsOfInputs) {
    support::TScratchFolder dir("corvane-input");
    const std::string file = dir / "a.dbx";
    support::WriteWholeFile(file, "x");
    const std::string fifo = dir / "p";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = dir / "to-fifo";
    ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);
    EXPECT_EQ(corvane::fs::KindOfInput(file), TInputKind::RegularFile);
    EXPECT_EQ(corvane::fs::KindOfInput(dir.Path()), TInputKind::Folder);
    EXPECT_EQ(corvane::fs::KindOfInput(fifo), TInputKind::Stream);
    EXPECT_EQ(corvane::fs::KindOfInput(link), TInputKind::Stream);  // links are followed
    EXPECT_EQ(corvane::fs::KindOfInput("/dev/null"), TInputKind::Stream);
    EXPECT_EQ(corvane::fs::KindOfInput(dir / "missing"), TInputKind::Missing);
    EXPECT_EQ(corvane::fs::KindOfInput("-"), TInputKind::Stream);  // standard input is always read in order
    EXPECT_THROW(corvane::fs::TInputStream(dir / "missing"), EFOpenError);
}

// The bytes of a FIFO arrive whole and in order, however the writer cuts
// them, and the end of the stream reads as 0.
TEST(InputStream, AFifoIsReadWholeAndInOrder) {
    support::TScratchFolder dir("corvane-input");
    const std::string fifo = dir / "p";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string expected;
    for (int i = 0; i < 20000; ++i) expected += std::to_string(i) + ',';
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        for (std::size_t at = 0, n = 1; at < expected.size(); at += n, n = n * 7 % 4099 + 1)
            if (::write(fd, expected.data() + at, std::min(n, expected.size() - at)) < 0) break;
        ::close(fd);
    });
    corvane::fs::TInputStream in(fifo);
    std::string got;
    char buffer[1000];
    for (std::ptrdiff_t n; (n = in.Read(buffer, sizeof buffer)) != 0;)
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    writer.join();
    EXPECT_EQ(got, expected);
}

}  // namespace
