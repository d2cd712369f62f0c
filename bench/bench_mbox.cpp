// The mbox writer after a read: a folder file of 100 000 messages of 1 to 4 KB
// (about 160 MB, 20 000 of them deleted, blocks scattered) is read once with
// GetEmails; then every record is written into one mbox with WriteMbox.
//
//   BM_WriteMbox  time of WriteMbox alone; counters: MB_per_s (message text
//                 read per second, best run; target >= 200), folder_MB_per_s
//                 (the folder file's size over the same time), records, mbox_MB
//   BM_WriteMboxOneByOne  the same records added one by one (TMboxWriter::Add),
//                 every message file opened on the writer's own thread
//   BM_PlainRead  every record's text read with open, pread and close on one
//                 thread (80 000 of the records have a message file of their
//                 own); the one-thread floor that WriteMbox, reading ahead on
//                 worker threads, gets under
//
// Each timed run writes a new file (the last run's is removed first, as an
// export goes to a new name) and starts after a sync, so that the write-back
// of the runs before it does not fall into its time.
//
// Everything is written below $BENCH_DIR (default /tmp), in a folder of its own.
//
//   build/bench/bench_mbox

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "emailexport/MboxExport.h"
#include "outlookfile/outlookfile.h"
#include "support/DbxFixture.h"

namespace stdfs = std::filesystem;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;

namespace {

constexpr std::size_t kMessages = 100000;

std::string g_root;
TEmailArray g_records;
std::uint64_t g_folderBytes = 0;

// A message of 1 to 4 KB, mostly near 1 KB, with CR LF lines and now and then
// a line that the mbox has to quote.
std::string MakeMessage(std::mt19937_64& random, std::size_t number) {
    static const char* const kNames[] = {"Maud Pellow", "Ivo Brandt", "Dev Rana", "Ada Okafor", "Lars Quill"};
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(random);
    const std::size_t target = 1024 + static_cast<std::size_t>(3072.0 * u * u * u * u * u * u * u * u);
    std::string m;
    m += "Return-Path: <list@fenwick.example>\r\n";
    m += "From: \"" + std::string(kNames[random() % 5]) + "\" <sender" + std::to_string(number % 977) +
         "@fenwick.example>\r\n";
    m += "To: reader@fenwick.example\r\n";
    m += "Subject: Weekly notes number " + std::to_string(number) + "\r\n";
    m += "Date: Mon, " + std::to_string(1 + number % 28) + " Apr 2003 09:" + std::to_string(10 + number % 50) +
         ":00 +0100\r\n\r\n";
    std::size_t line = 0;
    while (m.size() + 2 < target) {
        std::string text = (line % 9 == 4 ? "From the shed: line " : "Line ") + std::to_string(line) +
                           " of the notes: the beans, the rota and the water butts.";
        ++line;
        text.resize(std::min(text.size(), target - m.size() - 2));
        m += text + "\r\n";
    }
    return m;
}

void Build() {
    std::mt19937_64 random(1515);
    std::vector<std::string> texts(kMessages);
    std::size_t blocks = 0;
    for (std::size_t i = 0; i < kMessages; ++i) {
        texts[i] = MakeMessage(random, i);
        blocks += (texts[i].size() + 511) / 512;
    }
    TDbxWriter dbx(15);
    dbx.ReserveScatteredSlots(blocks);
    for (const std::string& t : texts) dbx.AddMessage(t, TBlockOrder::Scattered);
    std::vector<std::size_t> order(kMessages);
    for (std::size_t i = 0; i < kMessages; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    for (std::size_t k = 0; k < kMessages / 5; ++k) dbx.DeleteMessage(static_cast<int>(order[k]));
    const std::string path = g_root + "/folder.dbx";
    dbx.Save(path);
    g_folderBytes = dbx.Bytes().size();
    dbx.Release();

    Toutlookfile reader;
    g_records = reader.GetEmails(path, true);
}

void BM_WriteMbox(benchmark::State& state) {
    std::vector<const TEmail*> all;
    for (const TEmail& e : g_records) all.push_back(&e);
    const std::string target = g_root + "/all.mbox";
    corvane::mail::TMboxReport report;
    double best = 1e9;
    for (auto _ : state) {
        ::unlink(target.c_str());  // a new file each time, as an export to a new name
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        report = corvane::mail::WriteMbox(all, target, 1136214245);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(s);
        best = std::min(best, s);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * report.MessageBytes));
    state.counters["records"] = static_cast<double>(report.Written);
    state.counters["folder_MB"] = static_cast<double>(g_folderBytes) / 1e6;
    state.counters["text_MB"] = static_cast<double>(report.MessageBytes) / 1e6;
    state.counters["mbox_MB"] = static_cast<double>(report.MboxBytes) / 1e6;
    state.counters["MB_per_s"] = static_cast<double>(report.MessageBytes) / 1e6 / best;  // target >= 200
    state.counters["folder_MB_per_s"] = static_cast<double>(g_folderBytes) / 1e6 / best;
}

void BM_WriteMboxOneByOne(benchmark::State& state) {
    const std::string target = g_root + "/one-by-one.mbox";
    corvane::mail::TMboxReport report;
    double best = 1e9;
    for (auto _ : state) {
        ::unlink(target.c_str());
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        corvane::mail::TMboxWriter mbox(target, 1136214245);
        for (const TEmail& e : g_records) mbox.Add(e);
        report = mbox.Commit();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(s);
        best = std::min(best, s);
    }
    state.counters["MB_per_s"] = static_cast<double>(report.MessageBytes) / 1e6 / best;
    state.counters["folder_MB_per_s"] = static_cast<double>(g_folderBytes) / 1e6 / best;
}

// The floor under it: each record's stretch read from its message file with
// plain system calls (open, pread, close), nothing written.
void BM_PlainRead(benchmark::State& state) {
    std::vector<char> buffer(1 << 20);
    std::uint64_t bytes = 0;
    double best = 1e9;
    for (auto _ : state) {
        bytes = 0;
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        for (const TEmail& e : g_records) {
            const int fd = ::open(e.FileName.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) std::abort();
            const auto n = static_cast<std::size_t>(e.MessageEnd - e.MessageStart);
            if (buffer.size() < n) buffer.resize(n);
            if (::pread(fd, buffer.data(), n, e.MessageStart) != static_cast<ssize_t>(n)) std::abort();
            ::close(fd);
            bytes += n;
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(s);
        best = std::min(best, s);
    }
    state.counters["MB_per_s"] = static_cast<double>(bytes) / 1e6 / best;
    state.counters["folder_MB_per_s"] = static_cast<double>(g_folderBytes) / 1e6 / best;
}

BENCHMARK(BM_WriteMbox)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteMboxOneByOne)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const char* base = std::getenv("BENCH_DIR");
    std::string templ = std::string(base != nullptr ? base : "/tmp") + "/corvane-bench-mbox-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    g_root = templ;
    ::setenv("TMPDIR", g_root.c_str(), 1);  // message files go below it too
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Build();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    stdfs::remove_all(g_root, ec);
    return 0;
}
