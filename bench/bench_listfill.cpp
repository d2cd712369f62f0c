// The main window's message list: filling it with 100 000 rows (target: under
// a second, ending scrolled to the last row), a load of a large folder file,
// reporting the longest stretch in which the windows got no event processing
// (target: 50 ms) and how far the wait window's bar moved, and the list's
// operations on the rows of a real folder file read (BM_FolderOperations):
// the load, "Quick Select All" and "Quick Deselect All", sorts, a preview and
// the export's walk over the ticks, with the peak memory of a process that
// lists the file against one that only reads it.
//
//   build/bench/bench_listfill
//   CORVANE_BENCH_FOLDER_MB=160 build/bench/bench_listfill --benchmark_filter=Load
//   build/bench/bench_outlookfile --write-fixture /tmp/folder160.dbx
//   CORVANE_BENCH_DBX=/tmp/folder160.dbx build/bench/bench_listfill --benchmark_filter=FolderOperations
//
// Without CORVANE_BENCH_DBX, BM_FolderOperations reads a generated folder file
// of CORVANE_BENCH_FOLDER_MB megabytes (40 by default).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include <unistd.h>

#include "BenchResident.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "outlookfile/outlookfile.h"
#include "support/DbxFixture.h"
#include "support/SyntheticRecords.h"
#include "waitfrm/waitfrm.h"

namespace {

namespace stdfs = std::filesystem;
std::string g_folder;

void BM_FillList(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    TfrmMain w;
    w.show();
    QCoreApplication::processEvents();
    const TEmailArray records = corvane::testsupport::SyntheticRecords(count, g_folder + "/msg1.tmp");
    for (auto _ : state) {
        // What a load does once the records are there: replace the rows by
        // one per record and show the last one.
        w.Session.ShowRecords(records);
        w.ShowSession();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(w.FoundEmails->Count());
    }
    const QModelIndex last = w.FoundEmails->index(count - 1, 0);
    if (w.FoundEmails->Count() != count || !w.lvFoundEmails->viewport()->rect().intersects(w.lvFoundEmails->visualRect(last))) {
        state.SkipWithError("the list does not end at its last row");
    }
    state.counters["rows"] = count;
}
BENCHMARK(BM_FillList)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5);

std::string LargeFolder(std::size_t megabytes) {
    const std::string path = g_folder + "/large" + std::to_string(megabytes) + ".dbx";
    if (stdfs::exists(path)) return path;
    corvane::testsupport::TDbxWriter dbx(7);
    std::string body;
    for (int line = 0; line < 60; ++line) body += "A line of message text that fills the body of this message.\r\n";
    for (int n = 0; dbx.Bytes().size() < megabytes << 20; ++n) {
        const std::string k = std::to_string(n);
        const int message = dbx.AddMessage("X-Spare: 0000000\r\nFrom: sender" + k + "@example.org\r\nTo: rcpt@example.org\r\nSubject: Message " + k +
                                           "\r\nDate: Mon, 1 Jan 2007 10:00:00 +0100\r\n\r\n" + body);
        if (n % 4 == 3) dbx.DeleteMessage(message);
    }
    dbx.Save(path);
    return path;
}

void BM_LoadLargeFolder(benchmark::State& state) {
    const char* env = std::getenv("CORVANE_BENCH_FOLDER_MB");
    const std::size_t megabytes = env != nullptr ? std::strtoul(env, nullptr, 10) : 40;
    const std::string path = LargeFolder(megabytes);
    TfrmMain w;
    w.show();
    w.cbdeletedemails->click();
    QCoreApplication::processEvents();

    double longestGapMs = 0;
    int barSteps = 0;
    for (auto _ : state) {
        QElapsedTimer sinceLast;
        bool started = false;
        int lastBar = -1;
        QTimer tick;
        tick.setInterval(2);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (!w.Busy()) return;
            if (started) longestGapMs = std::max(longestGapMs, sinceLast.nsecsElapsed() / 1e6);
            started = true;
            sinceLast.start();
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (auto* wait = qobject_cast<TfrmWait*>(top)) {
                    if (lastBar >= 0 && wait->pbwait->value() != lastBar) ++barSteps;
                    lastBar = wait->pbwait->value();
                }
            }
        });
        tick.start();
        w.loadDbxFile(path);
        tick.stop();
    }
    state.counters["folder_MB"] = static_cast<double>(megabytes);
    state.counters["rows"] = w.FoundEmails->Count();
    state.counters["longest_gap_ms"] = longestGapMs;
    state.counters["bar_steps"] = barSteps;
}
BENCHMARK(BM_LoadLargeFolder)->Unit(benchmark::kMillisecond)->Iterations(1);


double Seconds(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Runs an operation of the window and the event processing after it (the
// view's layout and painting), and returns the time in seconds.
template <typename F>
double Timed(F&& operation) {
    const auto start = std::chrono::steady_clock::now();
    operation();
    QCoreApplication::processEvents();
    return Seconds(start);
}

std::string FolderForOperations() {
    if (const char* given = std::getenv("CORVANE_BENCH_DBX")) return given;
    const char* env = std::getenv("CORVANE_BENCH_FOLDER_MB");
    return LargeFolder(env != nullptr ? std::strtoul(env, nullptr, 10) : 40);
}

// The memory of a fresh process of this program that shows the window and
// either only reads the folder file into Emails ("read") or loads it as the
// user does, which also lists it ("list").
TResident ChildResident(const char* mode, const std::string& path) {
    TResident r;
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return r;
    std::string command = "'";
    command.append(self).append("' --resident ").append(mode).append(" '").append(path).append("'");
    FILE* child = ::popen(command.c_str(), "r");
    if (child == nullptr) return r;
    if (std::fscanf(child, "%ld %ld", &r.peak, &r.now) != 2) r = {};
    if (::pclose(child) != 0) r = {};
    return r;
}

int RunResidentProbe(const char* mode, const char* path) {
    TfrmMain w;
    w.show();
    w.cbdeletedemails->click();
    QCoreApplication::processEvents();
    TEmailArray read;
    if (std::strcmp(mode, "list") == 0) {
        w.loadDbxFile(path);
    } else {
        Toutlookfile reader;
        read = reader.GetEmails(path, true);
    }
    QCoreApplication::processEvents();
    if (w.Session.Emails().empty() && read.empty()) return 1;
    const TResident r = ResidentKilobytes();
    std::printf("%ld %ld\n", r.peak, r.now);
    return 0;
}

// The list's operations on the rows of one folder file read with its deleted
// messages, each timed once with the event processing that follows it.
void BM_FolderOperations(benchmark::State& state) {
    const std::string path = FolderForOperations();
    TfrmMain w;
    w.show();
    w.cbdeletedemails->click();
    w.ChooseExportFolder = [](const std::string&, const std::string&, bool) { return g_folder; };
    w.InformationBoxHook = [](const QString&) {};
    QCoreApplication::processEvents();
    QAbstractItemModel* rows = w.lvFoundEmails->model();

    for (auto _ : state) {
        const auto read = std::chrono::steady_clock::now();
        std::size_t records = 0;
        {
            Toutlookfile reader;
            records = reader.GetEmails(path, true).size();
        }
        const double getEmails = Seconds(read);
        const double load = Timed([&] { w.loadDbxFile(path); });
        const int count = rows->rowCount();
        if (count == 0 || static_cast<std::size_t>(count) != records) {
            state.SkipWithError("the list does not hold one row per record");
            return;
        }
        const QRect shown = w.lvFoundEmails->viewport()->rect();
        if (!shown.intersects(w.lvFoundEmails->visualRect(rows->index(count - 1, 0))) ||
            shown.intersects(w.lvFoundEmails->visualRect(rows->index(count - 40, 0)))) {
            state.SkipWithError("the list does not end scrolled to its last row");
            return;
        }
        state.counters["rows"] = count;
        state.counters["getemails_s"] = getEmails;
        state.counters["load_s"] = load;
        state.counters["load_minus_read_s"] = load - getEmails;
        state.counters["select_all_s"] = Timed([&] { w.sbSelectAllClick(); });
        state.counters["deselect_all_s"] = Timed([&] { w.sbDeselectAllClick(); });
        // At start the first click on Subject sorts descending, the next ascending.
        state.counters["sort_subject_s"] = Timed([&] { w.lvFoundEmailsColumnClick(corvane::session::ColSubject); });
        state.counters["sort_subject_again_s"] = Timed([&] { w.lvFoundEmailsColumnClick(corvane::session::ColSubject); });
        state.counters["sort_itemnum_s"] = Timed([&] { w.lvFoundEmailsColumnClick(corvane::session::ColItemNum); });
        w.lvFoundEmails->setCurrentIndex(rows->index(count / 2, 0));
        state.counters["preview_s"] = Timed([&] { w.lvFoundEmailsClick(); });
        // One tick at the end of the list: the export walks every row for it.
        rows->setData(rows->index(count - 1, 0), Qt::Checked, Qt::CheckStateRole);
        state.counters["export_one_s"] = Timed([&] { w.sbSaveEmailClick(); });
    }

    const TResident read = ChildResident("read", path);
    const TResident listed = ChildResident("list", path);
    const double count = rows->rowCount();
    state.counters["peak_MB_read"] = read.peak / 1024.0;
    state.counters["peak_MB_list"] = listed.peak / 1024.0;
    state.counters["rss_MB_read"] = read.now / 1024.0;
    state.counters["rss_MB_list"] = listed.now / 1024.0;
    state.counters["list_peak_B_per_row"] = (listed.peak - read.peak) * 1024.0 / count;
    state.counters["list_rss_B_per_row"] = (listed.now - read.now) * 1024.0 / count;
}
BENCHMARK(BM_FolderOperations)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--resident") == 0) {
        std::string folder = (stdfs::temp_directory_path() / "corvane-bench-list-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) return 1;
        ::setenv("TMPDIR", folder.c_str(), 1);
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        int result = 0;
        {
            QApplication app(argc, argv);
            result = RunResidentProbe(argv[2], argv[3]);
        }
        std::error_code ec;
        stdfs::remove_all(folder, ec);
        return result;
    }
    std::string folder = (stdfs::temp_directory_path() / "corvane-bench-list-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    g_folder = folder;
    ::setenv("TMPDIR", folder.c_str(), 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int result = 0;
    {
        QApplication app(argc, argv);
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
            result = 1;
        } else {
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
        }
    }
    std::error_code ec;
    stdfs::remove_all(folder, ec);
    return result;
}
