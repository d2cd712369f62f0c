// corvane-dbx export --deleted on a folder file of 100 000 messages of 1 to 4
// KB (20 000 deleted, blocks scattered; about 160 MB), against its floor:
// GetEmails followed by a plain loop that copies the same stretches into as
// many files (read the stretch, create the file, one write, close).
//
//   BM_CliExport     the program's export, in-process
//   BM_Floor         GetEmails + the plain copy loop
//   BM_Ratio         both in one run, alternating, median of 3 each; and the
//                    peak memory of the corvane-dbx program doing the export
//
// Everything is written below $BENCH_DIR (default /tmp), in a folder of its own.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "corvane-dbx/CommandLine.h"
#include "outlookfile/outlookfile.h"
#include "platform/Files.h"
#include "support/DbxFixture.h"

namespace stdfs = std::filesystem;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;

namespace {

std::string g_root;
std::string g_folderFile;
int g_round = 0;

void BuildFolderFile() {
    if (!g_folderFile.empty()) return;
    const char* base = std::getenv("BENCH_DIR");
    g_root = (stdfs::path(base ? base : "/tmp") / ("corvane-bench-cli-" + std::to_string(::getpid()))).string();
    stdfs::create_directories(g_root);
    ::setenv("TMPDIR", g_root.c_str(), 1);
    std::mt19937_64 random(99);
    constexpr std::size_t kMessages = 100000;
    std::vector<std::string> texts(kMessages);
    std::size_t blocks = 0;
    for (std::size_t i = 0; i < kMessages; ++i) {
        const double u = std::uniform_real_distribution<double>(0.0, 1.0)(random);
        const std::size_t size = 1024 + static_cast<std::size_t>(3072.0 * u * u * u * u);
        std::string& m = texts[i];
        m = "From: \"Maud Pellow\" <maud" + std::to_string(i % 97) + "@hedgerow.example>\r\nTo: ivo@fenwick.example\r\n"
            "Subject: Notes " + std::to_string(i) + "\r\nDate: Mon, 5 May 2003 10:00:00 +0100\r\n\r\n";
        while (m.size() + 2 < size) m += "The shed, the beans, the rota and the water butts, line by line.\r\n";
        blocks += (m.size() + 511) / 512;
    }
    TDbxWriter dbx(5);
    dbx.ReserveScatteredSlots(blocks);
    for (const std::string& t : texts) dbx.AddMessage(t, TBlockOrder::Scattered);
    std::vector<int> order(kMessages);
    for (std::size_t i = 0; i < kMessages; ++i) order[i] = static_cast<int>(i);
    std::shuffle(order.begin(), order.end(), random);
    for (std::size_t i = 0; i < kMessages / 5; ++i) dbx.DeleteMessage(order[i]);
    g_folderFile = g_root + "/Inbox.dbx";
    dbx.Save(g_folderFile);
}

std::string FreshOut() { return g_root + "/out" + std::to_string(++g_round); }

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double RunCli() {
    const std::string out = FreshOut();
    std::ostringstream sink, err;
    corvane::cli::TConsole console{sink, err, 0, false};
    const auto start = std::chrono::steady_clock::now();
    const int status = corvane::cli::RunCorvaneDbx({"export", "--deleted", "--out", out, g_folderFile}, console);
    const double s = Seconds(start);
    if (status != 0) std::fprintf(stderr, "export failed: %s\n", err.str().c_str());
    stdfs::remove_all(out);
    return s;
}

double RunFloor() {
    const std::string out = FreshOut();
    stdfs::create_directories(out);
    const auto start = std::chrono::steady_clock::now();
    const TEmailArray emails = Toutlookfile().GetEmails(g_folderFile, true);
    std::vector<char> buffer;
    for (std::size_t i = 0; i < emails.size(); ++i) {
        const TEmail& e = emails[i];
        buffer.resize(static_cast<std::size_t>(e.MessageEnd - e.MessageStart));
        const corvane::fs::TReadFile in(e.FileName, corvane::fs::Share::All);
        in.ReadAt(e.MessageStart, buffer.data(), buffer.size());
        std::FILE* f = std::fopen((out + "/RecoveredEmail" + std::to_string(i) + ".eml").c_str(), "wb");
        std::fwrite(buffer.data(), 1, buffer.size(), f);
        std::fclose(f);
    }
    const double s = Seconds(start);
    stdfs::remove_all(out);
    return s;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The high-water mark of the program's own memory (VmHWM of /proc/<pid>/status),
// in kB; -1 before the child has become the program, and once it has ended.
long HighWaterKilobytes(pid_t pid) {
    std::FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (status == nullptr) return -1;
    long kb = -1;
    char line[256];
    bool program = false;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "Name:\tcorvane-dbx", 17) == 0) program = true;
        std::sscanf(line, "VmHWM: %ld kB", &kb);
    }
    if (!program) kb = -1;
    std::fclose(status);
    return kb;
}

// Peak resident memory (MB) of the corvane-dbx program running the export in
// a process of its own. The child's own resource usage would also count what
// it inherits from this large process before it starts the program, so its
// high-water mark is read while it runs (it only ever rises).
double ChildPeakMegabytes() {
    const std::string out = FreshOut();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(CORVANE_DBX_PROGRAM, "corvane-dbx", "export", "--deleted", "--out", out.c_str(), g_folderFile.c_str(),
                static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    long peak = -1;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        peak = std::max(peak, HighWaterKilobytes(child));
        ::usleep(20000);
    }
    stdfs::remove_all(out);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return static_cast<double>(peak) / 1024.0;
}

void BM_CliExport(benchmark::State& state) {
    BuildFolderFile();
    for (auto _ : state) state.SetIterationTime(RunCli());
}
BENCHMARK(BM_CliExport)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Floor(benchmark::State& state) {
    BuildFolderFile();
    for (auto _ : state) state.SetIterationTime(RunFloor());
}
BENCHMARK(BM_Floor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Ratio(benchmark::State& state) {
    BuildFolderFile();
    for (auto _ : state) {
        std::vector<double> cli, floor;
        for (int i = 0; i < 3; ++i) {
            cli.push_back(RunCli());
            floor.push_back(RunFloor());
        }
        state.counters["cli_s"] = Median(cli);
        state.counters["floor_s"] = Median(floor);
        state.counters["cli_over_floor"] = Median(cli) / Median(floor);
        state.counters["peak_MB"] = ChildPeakMegabytes();
        state.counters["folder_MB"] = static_cast<double>(stdfs::file_size(g_folderFile)) / 1e6;
    }
}
BENCHMARK(BM_Ratio)->Unit(benchmark::kSecond)->Iterations(1);

void BM_ProgramPeakMemory(benchmark::State& state) {
    BuildFolderFile();
    for (auto _ : state) state.counters["peak_MB"] = ChildPeakMegabytes();
}
BENCHMARK(BM_ProgramPeakMemory)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!g_root.empty()) stdfs::remove_all(g_root);
    return 0;
}
