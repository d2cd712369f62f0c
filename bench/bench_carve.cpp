// The carve's speed and memory.
//
//   bench_carve [--gib N] [--messages M] [--dir DIR] [--keep] [--chunk-kib K] [--rounds R] [--cold]
//   bench_carve --memory IMAGE      (a fresh process: peak memory of one listing)
//   bench_carve --hostile IMAGE MIB (writes an image of MIB MiB that holds a
//                                    would-be block every 8 bytes, for --memory:
//                                    the carve's memory stays within its bound)
//
// 1. The filter from memory: CountCandidates over 1 GiB of program-like data
//    and over 1 GiB of folder-file data, on one core (GB/s).
// 2. An image of N GiB (default 8) in DIR (default /dev/shm, so that the
//    figures do not depend on a disk): zeros and program-like data, with
//    three folder files of M messages each (default 60 000, about 100 MB
//    each) cut into 4, 3 and 3 pieces at a partition that starts at sector 63.
//    - the read alone: 16 MiB reads to the end, as dd bs=16M of=/dev/null
//      reads (median of R rounds, default 3);
//    - the carve as a listing, end to end (median of R), and its ratio to
//      the read: in this process, and as the user runs it, corvane-dbx carve
//      --list IMAGE in a process of its own;
//    - with --cold (as root, the image in DIR on a disk): the read, the
//      program's listing and the assembly's share with the system's caches
//      dropped before each;
//    - the assembly's share (median of R): from the scan's last progress report to the
//      carve's end, against the scan's time;
//    - the carve writing the folder files into DIR (median of R);
//    - memory: in a fresh process (--memory), the growth of the peak resident
//      size from a carve of an image without blocks (the read-ahead as the
//      system backs it) to the listing of the image, per block found.
// The image stays in DIR with --keep (for `dd` and `corvane-dbx carve` by hand).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "BenchProcess.h"
#include "BenchResident.h"
#include "carve/Carve.h"
#include "progress/Progress.h"
#include "support/DbxFixture.h"
#include "support/DiskImageFixture.h"

using namespace corvane::testsupport;
namespace carve = corvane::carve;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

std::string FolderBytes(const std::string& name, std::uint64_t seed, int messages) {
    TDbxWriter writer(seed, name);
    std::mt19937_64 random(seed);
    writer.ReserveScatteredSlots(static_cast<std::size_t>(messages) * 2);
    for (int m = 0; m < messages; ++m) writer.AddMessage(CarveMessageText(name, m, random), TBlockOrder::Scattered);
    for (int m = 0; m < messages / 10; ++m) writer.DeleteMessage(m * 10);
    writer.End();
    return writer.Bytes();
}

struct TPiece {
    const std::string* Folder;
    std::int64_t File, Bytes, Image;
};

// The clock of the scan's last report.
class TScanEnd : public corvane::TProgress {
public:
    void Report(const char* Stage, std::int64_t Done, std::int64_t Total) override {
        if (std::strcmp(Stage, carve::kCarveScanStage) == 0 && Done == Total) at = Clock::now();
    }
    bool StopRequested() override { return false; }
    Clock::time_point at{};
};

// The system's page cache emptied (Linux, as root); false when it cannot be.
bool DropCaches() {
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    return static_cast<bool>(drop);
}

double ReadAll(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::vector<char> buffer(std::size_t{16} << 20);
    const auto start = Clock::now();
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    const double s = Seconds(start);
    ::close(fd);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t gib = 8;
    int messages = 60000;
    std::string dir = "/dev/shm";
    bool keep = false;
    bool cold = false;
    int rounds = 3;
    std::size_t chunkKib = 0;
    if (argc == 4 && std::string(argv[1]) == "--hostile") {
        // At every 8 bytes a header that the filter takes: its self offset
        // (its position within 512 bytes, so its base is the sector's), the
        // live body size, a text length and a next offset (the words after).
        std::string sector;
        for (std::uint32_t j = 0; j < 64; ++j) {
            const std::uint32_t words[2] = {8 * j, 0x200};
            sector.append(reinterpret_cast<const char*>(words), sizeof words);
        }
        std::string mib;
        while (mib.size() < (std::size_t{1} << 20)) mib += sector;
        std::ofstream out(argv[2], std::ios::binary);
        for (long i = 0; i < std::atol(argv[3]); ++i) out << mib;
        return out ? 0 : 1;
    }
    if (argc == 3 && std::string(argv[1]) == "--memory") {
        // First a carve of an image without blocks: what the read-ahead takes
        // (as the system backs it, large pages included); then the image.
        const std::string empty = std::string(argv[2]) + ".empty";
        {
            std::ofstream zeros(empty, std::ios::binary);
            const std::string mib(std::size_t{1} << 20, '\0');
            for (int i = 0; i < 64; ++i) zeros << mib;
        }
        carve::Carve({empty}, carve::TCarveOptions{}, nullptr);
        std::filesystem::remove(empty);
        const long base = ResidentKilobytes().peak;
        const carve::TCarveResult result = carve::Carve({argv[2]}, carve::TCarveOptions{}, nullptr);
        const long peak = ResidentKilobytes().peak;
        std::int64_t blocks = 0;
        for (const auto& f : result.Files) blocks += static_cast<std::int64_t>(f.LiveBlocks + f.DeletedBlocks);
        char perBlock[64] = "no block kept";
        if (blocks > 0)
            std::snprintf(perBlock, sizeof perBlock, "%.1f bytes per block",
                          static_cast<double>(peak - base) * 1024.0 / static_cast<double>(blocks));
        std::printf("memory: peak %ld kB, %ld kB for a carve that finds nothing: %s (%lld blocks kept of %lld candidates)%s\n",
                    peak, base, perBlock, static_cast<long long>(blocks), static_cast<long long>(result.Candidates),
                    result.MemoryFull ? ("; the scan stopped at byte " + std::to_string(result.ImageBytes) + ", its memory full").c_str()
                                      : "");
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--gib" && i + 1 < argc) gib = std::atoll(argv[++i]);
        else if (a == "--chunk-kib" && i + 1 < argc) chunkKib = static_cast<std::size_t>(std::atoll(argv[++i]));
        else if (a == "--messages" && i + 1 < argc) messages = std::atoi(argv[++i]);
        else if (a == "--dir" && i + 1 < argc) dir = argv[++i];
        else if (a == "--keep") keep = true;
        else if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--cold") cold = true;
        else {
            std::fprintf(stderr, "usage: bench_carve [--gib N] [--messages M] [--dir DIR] [--keep] [--chunk-kib K] [--rounds R] [--cold]\n");
            return 2;
        }
    }

    // 1. The filter from memory.
    {
        const std::int64_t bytes = std::int64_t{1} << 30;
        TDiskImage binary(1, 64 << 20, 0, TFiller::Binary);
        std::string data;
        data.reserve(static_cast<std::size_t>(bytes));
        while (static_cast<std::int64_t>(data.size()) < bytes) data += binary.Bytes();
        const std::string folder = FolderBytes("Inbox", 3, 20000);
        std::string folders;
        folders.reserve(static_cast<std::size_t>(bytes));
        while (static_cast<std::int64_t>(folders.size()) + static_cast<std::int64_t>(folder.size()) <= bytes) folders += folder;
        for (const auto& [what, text] : {std::pair<const char*, const std::string*>{"program-like data", &data},
                                         {"folder files", &folders}}) {
            std::vector<double> runs;
            std::size_t found = 0;
            for (int r = 0; r < 3; ++r) {
                const auto start = Clock::now();
                found = carve::CountCandidates(text->data(), text->size());
                runs.push_back(Seconds(start));
            }
            std::printf("filter from memory, %s: %.1f GB/s on one core (%zu candidates in %.2f GB)\n", what,
                        static_cast<double>(text->size()) / Median(runs) / 1e9, found, static_cast<double>(text->size()) / 1e9);
        }
    }

    // 2. The image.
    const std::string image = dir + "/bench-carve.img";
    const std::int64_t imageBytes = gib << 30;
    const std::int64_t partition = 63 * kImageSector;
    std::vector<std::string> folders = {FolderBytes("Inbox", 11, messages), FolderBytes("Sent Items", 12, messages),
                                        FolderBytes("Archive", 13, messages)};
    std::vector<TPiece> pieces;
    {
        std::mt19937_64 random(5);
        const int counts[3] = {4, 3, 3};
        // Pieces in slots of the image, one slot each, in shuffled order.
        const std::int64_t slots = 10;
        const std::int64_t slotBytes = (imageBytes - partition) / slots / kImageCluster * kImageCluster;
        std::vector<std::int64_t> order(slots);
        for (std::int64_t i = 0; i < slots; ++i) order[static_cast<std::size_t>(i)] = i;
        std::shuffle(order.begin(), order.end(), random);
        std::size_t next = 0;
        for (int f = 0; f < 3; ++f) {
            const std::int64_t size = static_cast<std::int64_t>(folders[static_cast<std::size_t>(f)].size());
            const std::int64_t step = (size / counts[f] + kImageCluster - 1) / kImageCluster * kImageCluster;
            for (std::int64_t at = 0; at < size; at += step) {
                const std::int64_t n = std::min(step, size - at);
                const std::int64_t slot = order[next++];
                const std::int64_t offset = partition + slot * slotBytes +
                                            static_cast<std::int64_t>(random() % 1000) * kImageCluster;
                pieces.push_back({&folders[static_cast<std::size_t>(f)], at, n, offset});
            }
        }
        std::size_t blocks = 0;
        for (const std::string& f : folders) blocks += f.size() / 528;
        std::printf("image: %lld GiB, 3 folder files of %d messages (%.0f MB together), %zu pieces\n",
                    static_cast<long long>(gib), messages,
                    static_cast<double>(folders[0].size() + folders[1].size() + folders[2].size()) / 1e6, pieces.size());
        std::FILE* out = std::fopen(image.c_str(), "wb");
        if (out == nullptr) {
            std::perror(image.c_str());
            return 1;
        }
        const std::int64_t chunk = std::int64_t{64} << 20;
        TDiskImage binary(7, chunk, 0, TFiller::Binary);
        const std::string zeros(static_cast<std::size_t>(chunk), '\0');
        std::string buffer;
        for (std::int64_t at = 0, k = 0; at < imageBytes; at += chunk, ++k) {
            buffer = k % 8 == 3 ? binary.Bytes() : zeros;
            for (const TPiece& p : pieces) {
                const std::int64_t from = std::max(p.Image, at), to = std::min(p.Image + p.Bytes, at + chunk);
                if (from < to)
                    std::memcpy(buffer.data() + (from - at), p.Folder->data() + p.File + (from - p.Image),
                                static_cast<std::size_t>(to - from));
            }
            std::fwrite(buffer.data(), 1, buffer.size(), out);
        }
        std::fclose(out);
        (void)blocks;
    }
    folders.clear();
    folders.shrink_to_fit();

    std::vector<double> reads, lists;
    carve::TCarveResult result;
    std::vector<double> assemblies, scans;
    carve::TCarveOptions listing;
    if (chunkKib > 0) listing.ChunkBytes = chunkKib << 10;
    ReadAll(image);  // into the page cache
    std::vector<double> programs;
    for (int r = 0; r < rounds; ++r) {
        programs.push_back(RunProgram({CORVANE_DBX_PROGRAM, "carve", "--list", image}, true).seconds);
        reads.push_back(ReadAll(image));
        TScanEnd progress;
        const auto start = Clock::now();
        result = carve::Carve({image}, listing, &progress);
        lists.push_back(Seconds(start));
        scans.push_back(std::chrono::duration<double>(progress.at - start).count());
        assemblies.push_back(std::chrono::duration<double>(Clock::now() - progress.at).count());
    }
    const double read = Median(reads), list = Median(lists);
    std::printf("read alone (16 MiB reads): %.2f s, %.2f GB/s\n", read, static_cast<double>(imageBytes) / read / 1e9);
    std::printf("carve --list end to end: %.2f s, %.2f GB/s, %.2f x the read (%.0f %% of its rate)\n", list,
                static_cast<double>(imageBytes) / list / 1e9, list / read, 100.0 * read / list);
    const double program = Median(programs);
    std::printf("corvane-dbx carve --list (a process of its own): %.2f s, %.2f x the read (%.0f %% of its rate)\n",
                program, program / read, 100.0 * read / program);
    const double assembly = Median(assemblies), scan = Median(scans);
    std::printf("assembly: %.3f s after a scan of %.2f s (%.1f %%)\n", assembly, scan, 100.0 * assembly / scan);
    if (cold) {
        std::vector<double> coldReads, coldPrograms, coldAssemblies, coldScans;
        for (int r = 0; r < rounds && DropCaches(); ++r) {
            coldReads.push_back(ReadAll(image));
            if (!DropCaches()) break;
            coldPrograms.push_back(RunProgram({CORVANE_DBX_PROGRAM, "carve", "--list", image}, true).seconds);
            if (!DropCaches()) break;
            TScanEnd progress;
            const auto start = Clock::now();
            carve::Carve({image}, listing, &progress);
            coldScans.push_back(std::chrono::duration<double>(progress.at - start).count());
            coldAssemblies.push_back(std::chrono::duration<double>(Clock::now() - progress.at).count());
        }
        if (coldPrograms.empty()) {
            std::printf("cold: the caches could not be dropped (needs root)\n");
        } else {
            const double cr = Median(coldReads), cp = Median(coldPrograms);
            std::printf("cold: read %.2f s, corvane-dbx carve --list %.2f s: %.0f %% of the read's rate\n", cr, cp,
                        100.0 * cr / cp);
            if (!coldScans.empty())
                std::printf("cold: assembly %.3f s after a scan of %.2f s (%.1f %%)\n", Median(coldAssemblies), Median(coldScans),
                            100.0 * Median(coldAssemblies) / Median(coldScans));
        }
    }
    for (const auto& f : result.Files)
        std::printf("  #%d header %s, %zu pieces, %zu complete, %zu partial\n", f.Number,
                    f.HeaderOffset ? std::to_string(*f.HeaderOffset).c_str() : "none", f.Pieces.size(), f.Complete, f.Partial);

    carve::TCarveOptions writing;
    writing.OutFolder = dir + "/bench-carve-out";
    std::vector<double> writes;
    std::size_t writtenFiles = 0;
    for (int r = 0; r < rounds; ++r) {
        std::filesystem::remove_all(writing.OutFolder);
        const auto start = Clock::now();
        writtenFiles = carve::Carve({image}, writing, nullptr).Files.size();
        writes.push_back(Seconds(start));
    }
    const double write = Median(writes);
    std::printf("carve writing %zu folder files: %.2f s, %.2f x the read\n", writtenFiles, write, write / read);
    std::filesystem::remove_all(writing.OutFolder);
    if (keep) {
        std::printf("kept %s; its memory: bench_carve --memory %s\n", image.c_str(), image.c_str());
    } else {
        std::filesystem::remove(image);
    }
    return 0;
}
