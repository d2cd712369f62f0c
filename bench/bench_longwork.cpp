// Long work in the main window on a large folder file (CORVANE_BENCH_FOLDER_MB
// megabytes, 160 by default, a quarter of its messages deleted and read with
// them): every row ticked, then the .eml export, the mbox export, the keyword
// filter over every body, a read, the decoding of every header ("Decode
// Texts" ticked) and a read with decoded texts, each timed with a 10 ms timer running
// beside it. Reported per operation: its time, the longest gap between two
// ticks of the timer while the work runs under the wait window (*_gap_ms;
// target: under 100 ms, the event loop never stalls) and over the whole click,
// the list's filling after a read included (*_click_gap_ms).
//
//   QT_QPA_PLATFORM=offscreen build-bench/bench/bench_longwork
//   CORVANE_BENCH_FOLDER_MB=40 build-bench/bench/bench_longwork

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include <unistd.h>

#include "frmMainWindow/qt/frmMainWindow.h"
#include "support/DbxFixture.h"

namespace {

namespace stdfs = std::filesystem;
std::string g_folder;

std::string LargeFolder(std::size_t megabytes) {
    const std::string path = g_folder + "/large" + std::to_string(megabytes) + ".dbx";
    if (stdfs::exists(path)) return path;
    corvane::testsupport::TDbxWriter dbx(7);
    std::string body;
    for (int line = 0; line < 20; ++line) body += "A line of message text that fills the body of this message.\r\n";
    for (int n = 0; dbx.Bytes().size() < megabytes << 20; ++n) {
        const std::string k = std::to_string(n);
        const int message = dbx.AddMessage("X-Spare: 0000000\r\nFrom: sender" + k + "@example.org\r\nTo: rcpt@example.org\r\nSubject: Message " + k +
                                           "\r\nDate: Mon, 1 Jan 2007 10:00:00 +0100\r\n\r\n" + body + (n % 5 == 0 ? "needle\r\n" : ""));
        if (n % 4 == 3) dbx.DeleteMessage(message);
    }
    dbx.Save(path);
    return path;
}

struct TGaps {
    double busy = 0;   // between two ticks while the window is busy with the work
    double click = 0;  // between two ticks over the whole click
    double seconds = 0;
};

// Runs work with a 10 ms timer beside it; the longest gaps between its ticks.
TGaps Gaps(const TfrmMain& w, const std::function<void()>& work) {
    TGaps gaps;
    QElapsedTimer clock, sinceLast;
    bool wasBusy = false;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double gap = static_cast<double>(sinceLast.nsecsElapsed()) / 1e6;
        gaps.click = std::max(gaps.click, gap);
        if (wasBusy && w.Busy()) gaps.busy = std::max(gaps.busy, gap);
        wasBusy = w.Busy();
        sinceLast.start();
    });
    clock.start();
    sinceLast.start();
    tick.start();
    work();
    gaps.click = std::max(gaps.click, static_cast<double>(sinceLast.nsecsElapsed()) / 1e6);
    gaps.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return gaps;
}

void BM_LongWork(benchmark::State& state) {
    const char* env = std::getenv("CORVANE_BENCH_FOLDER_MB");
    const std::size_t megabytes = env != nullptr ? std::strtoul(env, nullptr, 10) : 160;
    const std::string path = LargeFolder(megabytes);
    const std::string out = g_folder + "/out";
    stdfs::create_directories(out);

    TfrmMain w;
    w.ChooseExportFolder = [&out](const std::string&, const std::string&, bool) { return out; };
    w.ChooseMboxFile = [&out] { return QString::fromStdString(out + "/all.mbox"); };
    w.InformationBoxHook = [](const QString&) {};
    w.Settings.File = QString::fromStdString(g_folder + "/settings.ini");
    w.show();
    w.cbdeletedemails->click();
    QCoreApplication::processEvents();
    w.loadDbxFile(path);
    w.sbSelectAllClick();
    w.txtFilter->setText("needle");

    const auto measure = [&](const std::string& name, const std::function<void()>& work) {
        const TGaps gaps = Gaps(w, work);
        state.counters[name + "_gap_ms"] = gaps.busy;
        state.counters[name + "_click_gap_ms"] = gaps.click;
        state.counters[name + "_s"] = gaps.seconds;
    };
    for (auto _ : state) {
        measure("eml", [&] { w.sbSaveEmailClick(); });
        measure("mbox", [&] { w.mnuExportMboxClick(); });
        measure("filter", [&] { w.btnApplyFilterClick(); });
        measure("read", [&] { w.btnClearFilterClick(); });
        measure("decode", [&] {
            w.cbdecodetexts->setChecked(true);
            w.cbdecodetextsClick();
        });
        measure("read_decoded", [&] { w.loadDbxFile(path); });
        w.cbdecodetexts->setChecked(false);
        w.cbdecodetextsClick();
    }
    state.counters["folder_MB"] = static_cast<double>(megabytes);
    state.counters["rows"] = w.FoundEmails->Count();
}
BENCHMARK(BM_LongWork)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    std::string folder = (stdfs::temp_directory_path() / "corvane-bench-longwork-XXXXXX").string();
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
