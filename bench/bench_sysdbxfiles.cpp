// The folder walk of the drive search over a generated tree of 200 000 files
// (2 000 folders of 100, one in ten a folder file), read from the cache, with
// a progress that a window would hand it, so that the reports take their
// real path. Target: at least 100 000 directory entries per second.
//
//   build-*/bench/bench_sysdbxfiles

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "progress/Progress.h"
#include "sysdbxfiles/sysdbxfiles.h"

namespace {

constexpr int kTop = 20, kMid = 10, kLeaf = 10, kFilesPerFolder = 100;

class TGeneratedTree {
public:
    TGeneratedTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        root_ = pattern;
        for (int a = 0; a < kTop; ++a)
            for (int b = 0; b < kMid; ++b)
                for (int c = 0; c < kLeaf; ++c) {
                    const std::string dir = root_ + "/t" + std::to_string(a) + "/m" + std::to_string(b) + "/.l" +
                                            std::to_string(c);
                    std::filesystem::create_directories(dir);
                    folders_ += 1;
                    for (int f = 0; f < kFilesPerFolder; ++f) {
                        const std::string name =
                            dir + "/f" + std::to_string(f) + (f % 10 == 0 ? ".DBX" : ".eml");
                        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
                        if (fd < 0) std::abort();
                        ::close(fd);
                    }
                }
        folders_ += kTop + kTop * kMid;
    }
    ~TGeneratedTree() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    const std::string& Root() const { return root_; }
    // Every directory entry below the root: the files and the folders.
    long Entries() const { return static_cast<long>(kTop) * kMid * kLeaf * kFilesPerFolder + folders_; }

private:
    std::string root_;
    long folders_ = 0;
};

// Takes every report as a window's progress does, and never stops.
class TWindowProgress : public corvane::TProgress {
public:
    void Report(const char*, std::int64_t, std::int64_t) override { benchmark::ClobberMemory(); }
    bool StopRequested() override { return false; }
};

void BM_WalkGeneratedTree(benchmark::State& state) {
    static TGeneratedTree tree;
    TWindowProgress progress;
    std::size_t found = 0;
    for (auto _ : state) {
        TDbxFiles files(&progress);
        files.SearchFolder(tree.Root(), "*.dbx", true);
        found = files.FileList().size();
        benchmark::DoNotOptimize(found);
    }
    if (found != static_cast<std::size_t>(kTop * kMid * kLeaf * kFilesPerFolder / 10)) state.SkipWithError("wrong count");
    state.SetItemsProcessed(state.iterations() * tree.Entries());
    state.counters["entries"] = static_cast<double>(tree.Entries());
    state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_WalkGeneratedTree)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.5)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
