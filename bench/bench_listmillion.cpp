// The message list at 1 200 000 rows, on records made up in memory (no folder
// file), in the real window under the offscreen platform:
//
//   BM_Fill            the rows of every record replace the list, which ends
//                      showing its last row (target: 1 s)
//   BM_SelectAll       "Quick Select All" (target: 0.1 s), and BM_DeselectAll
//   BM_SortBy/<c>      a heading click on column c (4: Subject, target: 3 s;
//                      1: Date, 0: Item Num); each click reverses the last
//   BM_Preview         a click on a row in the middle of the list
//   BM_ExportOneTick   the export with only the last row ticked: its walk
//                      over the rows
//   BM_ListMemory      peak and present resident memory of a process that
//                      makes the records and lists them, against one that
//                      only makes them; the difference per row is the list's
//                      own (target: 100 bytes)
//
// Each operation is timed with the event processing after it (layout, paint).
//
//   build/bench/bench_listmillion
//   CORVANE_BENCH_ROWS=500000 build/bench/bench_listmillion --benchmark_filter=Memory
//   LC_ALL=de_DE.UTF-8 build/bench/bench_listmillion --benchmark_filter=SortBy

#include <benchmark/benchmark.h>

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <unistd.h>

#include "BenchResident.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "support/SyntheticRecords.h"

namespace {

namespace stdfs = std::filesystem;
std::string g_folder;
std::unique_ptr<TfrmMain> g_window;
TEmailArray g_records;  // the rows' records, kept for the whole run

int Rows() {
    const char* env = std::getenv("CORVANE_BENCH_ROWS");
    return env != nullptr ? std::atoi(env) : 1200000;
}

// One window with the records, kept for all benchmarks of a run.
TfrmMain& Window() {
    std::unique_ptr<TfrmMain>& w = g_window;
    if (!w) {
        w = std::make_unique<TfrmMain>();
        w->ChooseExportFolder = [](const std::string&, const std::string&, bool) { return g_folder; };
        w->InformationBoxHook = [](const QString&) {};
        w->show();
        g_records = corvane::testsupport::SyntheticRecordsOverOneMessage(Rows(), g_folder + "/msg1.tmp");
        QCoreApplication::processEvents();
    }
    return *w;
}

void ListAll(TfrmMain& w) {
    w.Session.ShowRecords(g_records);
    w.ShowSession();
}

// Times an operation and the event processing after it, in seconds.
template <typename F>
double Timed(F&& operation) {
    const auto start = std::chrono::steady_clock::now();
    operation();
    QCoreApplication::processEvents();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void EnsureListed(TfrmMain& w) {
    if (w.FoundEmails->Count() != static_cast<int>(g_records.size())) {
        ListAll(w);
        QCoreApplication::processEvents();
    }
}

void BM_Fill(benchmark::State& state) {
    TfrmMain& w = Window();
    for (auto _ : state) state.SetIterationTime(Timed([&] { ListAll(w); }));
    const QModelIndex last = w.FoundEmails->index(w.FoundEmails->Count() - 1, 0);
    if (!w.lvFoundEmails->viewport()->rect().intersects(w.lvFoundEmails->visualRect(last)))
        state.SkipWithError("the list does not end at its last row");
    state.counters["rows"] = w.FoundEmails->Count();
}

void BM_SelectAll(benchmark::State& state) {
    TfrmMain& w = Window();
    EnsureListed(w);
    for (auto _ : state) {
        w.sbDeselectAllClick();
        state.SetIterationTime(Timed([&] { w.sbSelectAllClick(); }));
    }
    if (static_cast<int>(w.Session.TickedCount()) != w.FoundEmails->Count())
        state.SkipWithError("not every row is ticked");
    state.counters["rows"] = w.FoundEmails->Count();
}

void BM_DeselectAll(benchmark::State& state) {
    TfrmMain& w = Window();
    EnsureListed(w);
    for (auto _ : state) {
        w.sbSelectAllClick();
        state.SetIterationTime(Timed([&] { w.sbDeselectAllClick(); }));
    }
    state.counters["rows"] = w.FoundEmails->Count();
}

void BM_SortBy(benchmark::State& state) {
    TfrmMain& w = Window();
    EnsureListed(w);
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) state.SetIterationTime(Timed([&] { w.lvFoundEmailsColumnClick(column); }));
    state.counters["rows"] = w.FoundEmails->Count();
}

void BM_Preview(benchmark::State& state) {
    TfrmMain& w = Window();
    EnsureListed(w);
    w.lvFoundEmails->setCurrentIndex(w.FoundEmails->index(w.FoundEmails->Count() / 2, 0));
    for (auto _ : state) state.SetIterationTime(Timed([&] { w.lvFoundEmailsClick(); }));
    if (!w.txtmsgbody->toPlainText().contains("The body of the one message."))
        state.SkipWithError("the preview shows something else");
}

void BM_ExportOneTick(benchmark::State& state) {
    TfrmMain& w = Window();
    EnsureListed(w);
    w.sbDeselectAllClick();
    const int last = w.FoundEmails->Count() - 1;
    w.FoundEmails->setData(w.FoundEmails->index(last, 0), Qt::Checked, Qt::CheckStateRole);
    for (auto _ : state) state.SetIterationTime(Timed([&] { w.sbSaveEmailClick(); }));
    if (!stdfs::exists(g_folder + "/RecoveredEmail" + std::to_string(last) + ".eml"))
        state.SkipWithError("the ticked row was not exported");
}

TResident ChildResident(const char* mode) {
    TResident r;
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return r;
    std::string command = "'";
    command.append(self).append("' --resident ").append(mode);
    FILE* child = ::popen(command.c_str(), "r");
    if (child == nullptr) return r;
    if (std::fscanf(child, "%ld %ld", &r.peak, &r.now) != 2) r = {};
    if (::pclose(child) != 0) r = {};
    return r;
}

// The child's part: the shown window with the records, listed or not.
int RunResidentProbe(bool list) {
    TfrmMain& w = Window();
    if (list) ListAll(w);
    QCoreApplication::processEvents();
    const TResident r = ResidentKilobytes();
    std::printf("%ld %ld\n", r.peak, r.now);
    return 0;
}

void BM_ListMemory(benchmark::State& state) {
    for (auto _ : state) {
        const TResident records = ChildResident("records");
        const TResident listed = ChildResident("list");
        if (records.peak < 0 || listed.peak < 0) {
            state.SkipWithError("a measuring process failed");
            return;
        }
        const double rows = Rows();
        state.counters["rows"] = rows;
        state.counters["peak_MB_records"] = records.peak / 1024.0;
        state.counters["peak_MB_listed"] = listed.peak / 1024.0;
        state.counters["list_peak_B_per_row"] = (listed.peak - records.peak) * 1024.0 / rows;
        state.counters["list_rss_B_per_row"] = (listed.now - records.now) * 1024.0 / rows;
    }
}

BENCHMARK(BM_Fill)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectAll)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeselectAll)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortBy)->Arg(4)->Arg(1)->Arg(0)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Preview)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportOneTick)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::string folder = (stdfs::temp_directory_path() / "corvane-bench-million-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    g_folder = folder;
    ::setenv("TMPDIR", folder.c_str(), 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int result = 0;
    {
        QApplication app(argc, argv);
        if (argc == 3 && std::strcmp(argv[1], "--resident") == 0) {
            result = RunResidentProbe(std::strcmp(argv[2], "list") == 0);
        } else {
            benchmark::Initialize(&argc, argv);
            if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
                result = 1;
            } else {
                benchmark::RunSpecifiedBenchmarks();
                benchmark::Shutdown();
            }
        }
        g_window.reset();  // the window goes before the application
    }
    std::error_code ec;
    stdfs::remove_all(folder, ec);
    return result;
}
