// Memory bounded by the input, not by the records: a folder file of about
// 158 MB whose single chain repeats the header block "From: a" CR LF CR LF,
// some 13.8 million records, read by corvane-dbx:
//
//   list_raw_csv     list --raw --format csv          (no text kept)
//   list_csv         list --format csv                (headers decoded)
//   list_json        list --format json               (whole messages decoded)
//   list_table       list                             (the table: every row
//                    kept until the end, for the column widths)
//   export_out       export --items 0-99999 --out DIR (every record read with
//                    its text; the first 100 000 written: 13.8 million files
//                    would need more inodes than a tmpfs has)
//   export_mbox      export --mbox FILE               (every record)
//
// Each command runs as a child process; its peak memory is the kernel's
// account of it (the maximum resident set of wait4), its time the wall
// clock. The figures are the medians of the rounds. Output goes to
// /dev/null, the files into DIR.
//
//   bench_manyrecords [--rounds N] [--dir DIR] [--only NAME]   (default 3 rounds in /dev/shm)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>


#include "BenchProcess.h"
#include "support/DbxFixture.h"

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kBlock = "From: a\r\n\r\n";
constexpr std::size_t kRecords = 13'800'000;

}  // namespace

int main(int argc, char** argv) {
    int rounds = 3;
    std::string dir = "/dev/shm";
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
        else if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    }
    const std::string work = dir + "/corvane-bench-manyrecords";
    stdfs::remove_all(work);
    stdfs::create_directories(work);
    const std::string folderFile = work + "/many.dbx";
    {
        std::string text;
        text.reserve(kRecords * std::strlen(kBlock));
        for (std::size_t i = 0; i < kRecords; ++i) text += kBlock;
        corvane::testsupport::TDbxWriter dbx(1);
        dbx.AddMessage(text);
        dbx.Save(folderFile);
    }
    std::printf("folder file: %.1f MB, one chain of %zu header blocks\n",
                static_cast<double>(stdfs::file_size(folderFile)) / 1e6, kRecords);

    const std::string program = CORVANE_DBX_PROGRAM;
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"list_raw_csv", {program, "list", "--raw", "--format", "csv", folderFile}},
        {"list_csv", {program, "list", "--format", "csv", folderFile}},
        {"list_json", {program, "list", "--format", "json", folderFile}},
        {"list_table", {program, "list", folderFile}},
        {"export_out", {program, "export", "--items", "0-99999", "--out", work + "/out", folderFile}},
        {"export_mbox", {program, "export", "--mbox", work + "/all.mbox", folderFile}},
    };
    std::map<std::string, std::vector<double>> seconds, peaks;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& [name, arguments] : cases) {
            if (!only.empty() && name != only) continue;
            stdfs::remove_all(work + "/out");
            stdfs::remove(work + "/all.mbox");
            const TProgramRun run = RunProgram(arguments);
            if (run.status != 0) std::fprintf(stderr, "%s: exit status %d\n", name.c_str(), run.status);
            seconds[name].push_back(run.seconds);
            peaks[name].push_back(run.peakMB);
            std::printf("round %d %-13s %7.1f s %8.1f MB\n", round + 1, name.c_str(), run.seconds, run.peakMB);
            std::fflush(stdout);
        }
    }
    std::printf("\nmedians of %d rounds (peak: maximum resident set)\n", rounds);
    for (const auto& [name, arguments] : cases) {
        if (seconds[name].empty()) continue;
        std::printf("%-13s %7.1f s %8.1f MB\n", name.c_str(), Median(seconds[name]), Median(peaks[name]));
    }
    stdfs::remove_all(work);
    return 0;
}
