// An image read from standard input, as from a pipe out of an imager: read
// once, its blocks kept aside, the same folder files as from the image file
// where each folder file lies in one piece. (A stream keeps the blocks alone:
// the bytes of a block that lie across the end of a piece are not kept.)

#include <gtest/gtest.h>

#include <thread>

#include <unistd.h>

#include "carve/CarveTestSupport.h"
#include "support/TestFiles.h"

using namespace corvane::testsupport;
namespace carve = corvane::carve;

namespace {

// Standard input is the read end of a pipe while the object lives; a thread
// writes bytes into it.
class TPipedStdin {
public:
    explicit TPipedStdin(const std::string& bytes) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        saved_ = ::dup(0);
        ::dup2(fds[0], 0);
        ::close(fds[0]);
        writer_ = std::thread([fd = fds[1], &bytes] {
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fd, bytes.data() + done, std::min<std::size_t>(bytes.size() - done, 100000));
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            ::close(fd);
        });
    }
    ~TPipedStdin() {
        writer_.join();
        ::dup2(saved_, 0);
        ::close(saved_);
    }

private:
    int saved_ = -1;
    std::thread writer_;
};

TEST(CarveStdin, GivesTheMessagesOfTheImageFile) {
    TScratchFolder scratch("corvane-carve");
    TDiskImage image(9, 8 << 20, 63, TFiller::Random);
    const TCarveFolder a("FolderA", 41, 30, 3, true), b("FolderB", 42, 20, 0, false);
    image.Place(a.Bytes(), 1);
    image.Place(b.Bytes(), 1);
    image.Save(scratch / "disk.img");
    carve::TCarveOptions options;
    options.OutFolder = scratch / "file";
    const carve::TCarveResult fromFile = carve::Carve({scratch / "disk.img"}, options, nullptr);

    options.OutFolder = scratch / "pipe";
    carve::TCarveResult fromPipe;
    {
        TPipedStdin in(image.Bytes());
        fromPipe = carve::Carve({"-"}, options, nullptr);
    }
    EXPECT_EQ(fromPipe.ImageBytes, static_cast<std::int64_t>(image.Bytes().size()));
    ASSERT_EQ(fromPipe.Files.size(), fromFile.Files.size());
    std::map<std::string, std::set<std::string>> expected;
    std::map<std::string, std::vector<std::string>> all;
    for (const TCarveFolder* f : {&a, &b})
        for (const int m : f->Live) {
            expected[f->Name].insert(f->Writer.TextOf(m));
            all[f->Name].push_back(f->Writer.TextOf(m));
        }
    const TCarveCheck check = CheckCarve(fromPipe, expected, all);
    EXPECT_EQ(check.Missing, 0u);
    EXPECT_EQ(check.WrongJoins, 0u);
    EXPECT_EQ(check.False, 0u);
    for (std::size_t i = 0; i < fromFile.Files.size(); ++i) {
        EXPECT_EQ(ChainTexts(fromPipe.Files[i].Path), ChainTexts(fromFile.Files[i].Path));
        EXPECT_EQ(fromPipe.Files[i].HeaderOffset, fromFile.Files[i].HeaderOffset);
    }
}

}  // namespace
