// The main window's message list: filling it with 100 000 rows (target: under
// a second, ending scrolled to the last row), and a load of a large folder
// file, reporting the longest stretch in which the windows got no event
// processing (target: 50 ms) and how far the wait window's bar moved.
//
//   build/bench/bench_listfill
//   CORVANE_BENCH_FOLDER_MB=160 build/bench/bench_listfill --benchmark_filter=Load

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "frmMainWindow/frmMainWindow.h"
#include "support/DbxFixture.h"
#include "waitfrm/waitfrm.h"

namespace {

namespace stdfs = std::filesystem;
std::string g_folder;

TEmailArray SyntheticRecords(int count) {
    TEmailArray records(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        TEmail& r = records[static_cast<std::size_t>(i)];
        const std::string k = std::to_string(i);
        r.FileName = g_folder + "/msg" + k + ".tmp";
        r.Deleted = i % 5 == 0 ? 1 : 0;
        r.Date = " Mon, " + std::to_string(i % 28 + 1) + " Jan 2007 10:00:00 +0100";
        r.From = " Sender Number " + k + " <sender" + k + "@example.org>";
        r.To = " recipient" + k + "@example.org";
        r.Subject = " The subject line of message number " + k + ", with some more words in it";
    }
    return records;
}

void BM_FillList(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    TfrmMain w;
    w.show();
    QCoreApplication::processEvents();
    w.Emails = SyntheticRecords(count);
    for (auto _ : state) {
        // What a load does once the records are there: drop the old rows,
        // add one row per record, show the last one.
        w.lvFoundEmails->clear();
        for (int i = 0; i < count; ++i) w.addEmailRow(w.Emails[static_cast<std::size_t>(i)], i);
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(w.lvFoundEmails->topLevelItemCount());
    }
    QTreeWidgetItem* last = w.lvFoundEmails->topLevelItem(count - 1);
    if (w.lvFoundEmails->topLevelItemCount() != count ||
        !w.lvFoundEmails->viewport()->rect().intersects(w.lvFoundEmails->visualItemRect(last))) {
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
    w.cbdeletedemails->setChecked(true);
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
    state.counters["rows"] = w.lvFoundEmails->topLevelItemCount();
    state.counters["longest_gap_ms"] = longestGapMs;
    state.counters["bar_steps"] = barSteps;
}
BENCHMARK(BM_LoadLargeFolder)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
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
