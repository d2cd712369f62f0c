// The message list's export and preview in the real main window.
//
// Export: 10 000 ticked messages of 1 to 9 KB (in 10 message files) exported
// with "Export Selected", against a plain copy loop over the same stretches in
// the same run (open, seek, read, create, write, close with the C library).
// Target: the export takes at most 1.5 times the copy loop's time (the
// "ratio" counter of BM_ExportVsPlainCopy).
//
// Preview: a click on a message whose body is 20 MB. Target: the text is in
// the box and painted within 2 s.
//
//   QT_QPA_PLATFORM=offscreen build-*/bench/bench_export

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "Globals/Globals.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "platform/Files.h"

namespace {

namespace stdfs = std::filesystem;

constexpr int kMessages = 10000;
constexpr int kFiles = 10;
constexpr std::size_t kBigBody = std::size_t{20} << 20;

std::string g_root;  // the benchmark's private temporary folder
TfrmMain* g_window = nullptr;

std::string NewFolder(const std::string& name) {
    const std::string dir = g_root + "/" + name;
    stdfs::remove_all(dir);
    stdfs::create_directories(dir);
    return dir;
}

// Message files as the folder reader writes them, and their records.
TEmailArray WriteMessages() {
    TEmailArray records;
    const std::string temp = corvane::fs::TempPath();
    for (int f = 0; f < kFiles; ++f) {
        const std::string path = temp + "msg" + std::to_string(f) + ".tmp";
        std::string file;
        for (int i = 0; i < kMessages / kFiles; ++i) {
            const int n = f * (kMessages / kFiles) + i;
            TEmail r;
            r.FileName = path;
            r.From = " sender" + std::to_string(n % 97) + "@example.org";
            r.To = " team@example.org";
            r.Subject = " Report " + std::to_string(n);
            r.Date = " Mon, 2 May 2005 10:00:00 +0200";
            r.MessageStart = static_cast<std::int64_t>(file.size());
            file += "From:" + r.From + "\r\nTo:" + r.To + "\r\nSubject:" + r.Subject + "\r\nDate:" + r.Date + "\r\n";
            r.HeaderEnd = static_cast<std::int64_t>(file.size());
            file += "\r\n";
            const std::size_t lines = 12 + static_cast<std::size_t>(n % 9) * 14;  // about 1 to 9 KB
            for (std::size_t l = 0; l < lines; ++l) file += std::string(62, static_cast<char>('a' + l % 26)) + "\r\n";
            r.MessageEnd = static_cast<std::int64_t>(file.size());
            records.push_back(r);
        }
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size()) std::abort();
        std::fclose(out);
    }
    return records;
}

void ShowInWindow(const TEmailArray& records) {
    g_window->Session.ShowRecords(records);
    g_window->ShowSession();
    QCoreApplication::processEvents();
}

// The naive way: each stretch read whole and written whole with stdio.
void PlainCopy(const TEmailArray& records, const std::string& folder) {
    std::vector<char> buffer;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const TEmail& r = records[i];
        std::FILE* in = std::fopen(r.FileName.c_str(), "rb");
        if (in == nullptr) std::abort();
        buffer.resize(static_cast<std::size_t>(r.MessageEnd - r.MessageStart));
        std::fseek(in, static_cast<long>(r.MessageStart), SEEK_SET);
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        std::fclose(in);
        const std::string target = folder + "/RecoveredEmail" + std::to_string(i) + ".eml";
        std::FILE* out = std::fopen(target.c_str(), "wb");
        if (out == nullptr) std::abort();
        std::fwrite(buffer.data(), 1, got, out);
        std::fclose(out);
    }
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_ExportVsPlainCopy(benchmark::State& state) {
    const TEmailArray records = WriteMessages();
    ShowInWindow(records);
    g_window->sbSelectAllClick();
    const std::string exportFolder = NewFolder("export");
    const std::string copyFolder = NewFolder("copy");
    g_window->ChooseExportFolder = [&](const std::string&, const std::string&, bool) { return exportFolder; };
    int reports = 0;
    g_window->InformationBoxHook = [&](const QString&) { ++reports; };

    // One round of each first, so both find the files in the cache.
    g_window->sbSaveEmailClick();
    PlainCopy(records, copyFolder);

    double exportTime = 0, copyTime = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        g_window->sbSaveEmailClick();
        auto t1 = std::chrono::steady_clock::now();
        PlainCopy(records, copyFolder);
        auto t2 = std::chrono::steady_clock::now();
        exportTime += Seconds(t1 - t0);
        copyTime += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t1 - t0));
    }
    if (reports != static_cast<int>(state.iterations()) + 1) state.SkipWithError("the export did not finish");
    state.counters["export_ms"] = benchmark::Counter(1000 * exportTime / static_cast<double>(state.iterations()));
    state.counters["copy_ms"] = benchmark::Counter(1000 * copyTime / static_cast<double>(state.iterations()));
    state.counters["ratio"] = benchmark::Counter(exportTime / copyTime);
    state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_ExportVsPlainCopy)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_PreviewOf20MBBody(benchmark::State& state) {
    const std::string path = corvane::fs::TempPath() + "msgbig.tmp";
    TEmail r;
    r.FileName = path;
    r.From = " big@example.org";
    r.Subject = " Large attachment";
    std::string file = "From:" + r.From + "\r\nSubject:" + r.Subject + "\r\n";
    r.HeaderEnd = static_cast<std::int64_t>(file.size());
    file += "\r\n";
    // Base64 lines as an attachment carries them.
    const std::string line = std::string("QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAx") + "MjM0\r\n";
    while (file.size() < kBigBody) file += line;
    r.MessageEnd = static_cast<std::int64_t>(file.size());
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size()) std::abort();
    std::fclose(out);
    file.clear();
    file.shrink_to_fit();

    ShowInWindow({r});
    g_window->lvFoundEmails->setCurrentIndex(g_window->FoundEmails->index(0, 0));
    for (auto _ : state) {
        g_window->txtmsgbody->clear();
        QCoreApplication::processEvents();
        auto t0 = std::chrono::steady_clock::now();
        g_window->lvFoundEmailsClick();
        g_window->txtmsgbody->viewport()->repaint();
        QCoreApplication::processEvents();
        auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(Seconds(t1 - t0));
    }
    if (g_window->txtmsgbody->document()->characterCount() < static_cast<int>(kBigBody / 2))
        state.SkipWithError("the preview did not show the body");
}
BENCHMARK(BM_PreviewOf20MBBody)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    std::string pattern = (stdfs::temp_directory_path() / "corvane-bench-export-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return 1;
    g_root = pattern;
    ::setenv("TMPDIR", g_root.c_str(), 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    int rc = 0;
    {
        TCorvaneApplication app(argc, argv);
        auto window = std::make_unique<TfrmMain>();
        window->show();
        g_window = window.get();
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        g_window = nullptr;
    }
    std::error_code ec;
    stdfs::remove_all(g_root, ec);
    return rc;
}
