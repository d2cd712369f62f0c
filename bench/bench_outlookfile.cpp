// The folder reader on a large folder file: 100 000 messages of 1 to 4 KB,
// 20 000 of them deleted, blocks scattered over the file (about 160 MB), and
// the same at twice the size.
//
//   BM_Scan*            scan speed over a file in the page cache (bytes/s)
//   BM_GetEmails/<k>    GetEmails with deleted messages on the k-times file,
//                       over the message files of the run before
//   BM_PlainWrite/<k>   the floor: the same message texts written into as
//                       many files, in a plain loop (open, one write, close),
//                       over its own files of the run before
//   BM_Ratios           in one run, medians of five runs each, alternating:
//                       GetEmails / plain loop with both writing into fresh
//                       empty folders, and with both writing over their own
//                       earlier files; GetEmails on the double file / on the
//                       single one (fresh folders), beside the same ratio
//                       of the plain loop; and peak memory of a
//                       process that does nothing but GetEmails on each file
//
// System calls per message file, counted by strace over a process that only
// runs GetEmails into an empty temporary folder:
//   bench_outlookfile --write-fixture /tmp/f.dbx
//   mkdir /tmp/fresh && TMPDIR=/tmp/fresh strace -c -f bench_outlookfile --only-getemails /tmp/f.dbx
//
// Everything is written below $BENCH_DIR (default /tmp), in a folder of its own.
// `bench_outlookfile --write-fixture <path>` only writes the single-size file.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "outlookfile/outlookfile.h"
#include "platform/Files.h"
#include "support/DbxFixture.h"

namespace stdfs = std::filesystem;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;

namespace {

struct Fixture {
    std::string path;
    std::uint64_t bytes = 0;
    // What a plain loop writes: one text per message file GetEmails writes.
    std::vector<std::string> liveTexts;
    std::string deletedChain;
};

std::string g_root;
Fixture g_fixture[3];  // index 1: single size, 2: double size

std::string MakeMessage(std::mt19937_64& random, std::size_t number) {
    static const char* const kNames[] = {"Maud Pellow", "Ivo Brandt", "Dev Rana", "Ada Okafor", "Lars Quill"};
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(random);
    const std::size_t target = 1024 + static_cast<std::size_t>(3072.0 * u * u * u * u * u * u * u * u);
    const char* from = kNames[random() % 5];
    const char* to = kNames[random() % 5];
    std::string m;
    m += "Return-Path: <list@fenwick.example>\r\n";
    m += "Received: from relay.fenwick.example by pop.fenwick.example\r\n";
    m += "From: \"" + std::string(from) + "\" <sender" + std::to_string(number % 977) + "@fenwick.example>\r\n";
    m += "To: \"" + std::string(to) + "\" <reader@fenwick.example>\r\n";
    m += "Subject: Weekly notes number " + std::to_string(number) + "\r\n";
    m += "Date: Mon, " + std::to_string(1 + number % 28) + " Apr 2003 09:" + std::to_string(10 + number % 50) + ":00 +0100\r\n";
    m += "MIME-Version: 1.0\r\n\r\n";
    std::size_t line = 0;
    while (m.size() + 2 < target) {
        std::string text = "Line " + std::to_string(line++) + " of the notes: the shed, the beans, the rota and the water butts.";
        text.resize(std::min(text.size(), target - m.size() - 2));
        m += text + "\r\n";
    }
    return m;
}

// Builds the folder file of `scale` times 100 000 messages and keeps the texts
// a plain loop writes.
void Build(int scale) {
    Fixture& f = g_fixture[scale];
    if (!f.path.empty()) return;
    const std::size_t messages = 100000 * static_cast<std::size_t>(scale);
    std::mt19937_64 random(4242 + static_cast<std::uint64_t>(scale));
    std::vector<std::string> texts(messages);
    std::size_t blocks = 0;
    for (std::size_t i = 0; i < messages; ++i) {
        texts[i] = MakeMessage(random, i);
        blocks += (texts[i].size() + 511) / 512;
    }
    TDbxWriter dbx(77 + static_cast<std::uint64_t>(scale));
    for (int i = 0; i < 16; ++i) dbx.AddMessageInfo("folder record " + std::to_string(i));
    dbx.AddIndexNode();
    dbx.ReserveScatteredSlots(blocks);
    for (std::size_t i = 0; i < messages; ++i) dbx.AddMessage(texts[i], TBlockOrder::Scattered);
    std::vector<std::size_t> order(messages);
    for (std::size_t i = 0; i < messages; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    order.resize(messages / 5);
    std::vector<bool> deleted(messages, false);
    for (std::size_t m : order) {
        dbx.DeleteMessage(static_cast<int>(m));
        deleted[m] = true;
    }
    for (std::size_t i = 0; i < messages; ++i)
        if (!deleted[i]) f.liveTexts.push_back(std::move(texts[i]));
    f.deletedChain = dbx.DeletedChainText(dbx.FreeList());
    f.path = g_root + "/folder" + std::to_string(scale) + ".dbx";
    dbx.Save(f.path);
    f.bytes = dbx.Bytes().size();
    dbx.Release();
}

double Seconds(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double RunGetEmails(int scale, std::size_t* records = nullptr) {
    auto start = std::chrono::steady_clock::now();
    Toutlookfile reader;
    TEmailArray emails = reader.GetEmails(g_fixture[scale].path, true);
    double s = Seconds(start);
    if (records) *records = emails.size();
    return s;
}

// A new empty folder below the benchmark's root.
std::string NewFolder(const std::string& name) {
    static int made = 0;
    const std::string folder = g_root + "/" + name + std::to_string(++made);
    stdfs::create_directory(folder);
    return folder;
}

// Removes a folder of an earlier run, outside the timed part.
void Discard(const std::string& folder) {
    std::error_code ec;
    stdfs::remove_all(folder, ec);
}

// GetEmails with its temporary folder below `tmpdir`.
double RunGetEmailsIn(const std::string& tmpdir, int scale, std::size_t* records = nullptr) {
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    const double s = RunGetEmails(scale, records);
    ::setenv("TMPDIR", g_root.c_str(), 1);
    return s;
}

// The plain loop: each text into a file of its own in `folder`, created or
// emptied by one open, one write, one close.
double RunPlainWrite(int scale, const std::string& folder) {
    const Fixture& f = g_fixture[scale];
    auto start = std::chrono::steady_clock::now();
    auto write = [&](const std::string& name, const std::string& text) {
        corvane::fs::TWriteFile file(folder + "/" + name, corvane::fs::Create::Overwrite);
        file.Write(text.data(), text.size());
        file.Close();
    };
    write("delmsg1.tmp", f.deletedChain);
    for (std::size_t i = 0; i < f.liveTexts.size(); ++i) write("msg" + std::to_string(i + 1) + ".tmp", f.liveTexts[i]);
    return Seconds(start);
}

// Peak resident memory, in MB, of a fresh process of this program that only
// runs GetEmails on the folder file (its own high-water mark, VmHWM).
double PeakMegabytes(int scale) {
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return -1;
    std::string command = "'";
    command.append(self).append("' --only-getemails '").append(g_fixture[scale].path).append("'");
    FILE* child = ::popen(command.c_str(), "r");
    if (child == nullptr) return -1;
    double kilobytes = -1;
    if (std::fscanf(child, "%lf", &kilobytes) != 1) kilobytes = -1;
    if (::pclose(child) != 0) return -1;
    return kilobytes / 1024.0;
}

// The high-water mark of this process's resident memory, in kB.
long PeakKilobytes() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
    std::fclose(status);
    return kb;
}

void BM_ScanLive(benchmark::State& state) {
    Build(1);
    Toutlookfile reader;
    reader.OpenFolder(g_fixture[1].path);
    std::size_t found = 0;
    for (auto _ : state) found = reader.ScanMessageParts().size();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_fixture[1].bytes));
    state.counters["blocks"] = static_cast<double>(found);
}

void BM_ScanDeleted(benchmark::State& state) {
    Build(1);
    Toutlookfile reader;
    reader.OpenFolder(g_fixture[1].path);
    std::size_t found = 0;
    for (auto _ : state) found = reader.ScanDelMessageParts().size();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_fixture[1].bytes));
    state.counters["blocks"] = static_cast<double>(found);
}

void BM_GetEmails(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    Build(scale);
    std::size_t records = 0;
    for (auto _ : state) state.SetIterationTime(RunGetEmails(scale, &records));
    state.counters["records"] = static_cast<double>(records);
    state.counters["file_MB"] = static_cast<double>(g_fixture[scale].bytes) / 1e6;
}

void BM_PlainWrite(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    Build(scale);
    const std::string folder = NewFolder("plain");
    for (auto _ : state) state.SetIterationTime(RunPlainWrite(scale, folder));
    state.counters["files"] = static_cast<double>(g_fixture[scale].liveTexts.size() + 1);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void BM_Ratios(benchmark::State& state) {
    Build(1);
    Build(2);
    const char* runs = std::getenv("BENCH_RUNS");  // 5 unless set
    const int kRuns = runs != nullptr && std::atoi(runs) > 0 ? std::atoi(runs) : 5;
    for (auto _ : state) {
        std::vector<double> getFresh, plainFresh, getReused, plainReused, get2Fresh, plain2Fresh;
        // The reused folders hold the files of a first, untimed run.
        const std::string getFolder = NewFolder("get-reused");
        const std::string plainFolder = NewFolder("plain-reused");
        RunGetEmailsIn(getFolder, 1);
        RunPlainWrite(1, plainFolder);
        for (int run = 0; run < kRuns; ++run) {
            std::string fresh = NewFolder("get-fresh");
            getFresh.push_back(RunGetEmailsIn(fresh, 1));
            Discard(fresh);
            fresh = NewFolder("plain-fresh");
            plainFresh.push_back(RunPlainWrite(1, fresh));
            Discard(fresh);
            getReused.push_back(RunGetEmailsIn(getFolder, 1));
            plainReused.push_back(RunPlainWrite(1, plainFolder));
            fresh = NewFolder("get2-fresh");
            get2Fresh.push_back(RunGetEmailsIn(fresh, 2));
            Discard(fresh);
            fresh = NewFolder("plain2-fresh");
            plain2Fresh.push_back(RunPlainWrite(2, fresh));
            Discard(fresh);
        }
        Discard(getFolder);
        Discard(plainFolder);
        const double get1 = Median(getFresh);
        state.SetIterationTime(get1);
        state.counters["get_fresh_s"] = get1;
        state.counters["plain_fresh_s"] = Median(plainFresh);
        state.counters["get_reused_s"] = Median(getReused);
        state.counters["plain_reused_s"] = Median(plainReused);
        state.counters["fresh_vs_plain"] = get1 / Median(plainFresh);                     // target <= 1.15
        state.counters["reused_vs_plain"] = Median(getReused) / Median(plainReused);      // target <= 1.15
        state.counters["double_file"] = Median(get2Fresh) / get1;                         // target <= 2.1
        // The file system's own share of that: the plain loop on the double file.
        state.counters["plain_double_file"] = Median(plain2Fresh) / Median(plainFresh);
        state.counters["files"] = static_cast<double>(g_fixture[1].liveTexts.size() + 1);
        state.counters["peak_MB_1x"] = PeakMegabytes(1);                                  // target < 200
        state.counters["peak_MB_2x"] = PeakMegabytes(2);
    }
}

BENCHMARK(BM_ScanLive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanDeleted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetEmails)->Arg(1)->Arg(2)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWrite)->Arg(1)->Arg(2)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ratios)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--only-getemails") == 0) {
        Toutlookfile reader;
        if (reader.GetEmails(argv[2], true).empty()) return 1;
        std::printf("%ld\n", PeakKilobytes());
        return 0;
    }
    const bool writeOnly = argc == 3 && std::strcmp(argv[1], "--write-fixture") == 0;
    const char* base = std::getenv("BENCH_DIR");
    std::string templ = std::string(base != nullptr ? base : "/tmp") + "/corvane-bench-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    g_root = templ;
    ::setenv("TMPDIR", g_root.c_str(), 1);  // message files go below it too

    if (writeOnly) {  // keeps the single-size folder file, for profiling
        Build(1);
        stdfs::rename(g_fixture[1].path, argv[2]);
        stdfs::remove_all(g_root);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    stdfs::remove_all(g_root, ec);
    return 0;
}
