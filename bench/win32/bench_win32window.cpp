// The Windows window at size: a folder file of 121 000 messages (by default)
// opened through the window, against GetEmails alone; then "Quick Select
// All" and a click on "Subject" at that size. Wall-clock times, the best of
// `runs` runs each (default 2: the first read into an empty message folder
// writes no file over an old one, every later read does, the window's too),
// under Wine or on Windows:
//
//   wine64 bench_win32window.exe [messages [runs]]
//
// Under Wine, creating a file in a folder costs time that grows with the
// files already there, so both reads slow down with the message count alike.

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "FastStrings/FastStrings.h"
#include "frmMainWindow/win32/Wide.h"
#include "frmMainWindow/win32/frmMainWindow.h"
#include "outlookfile/outlookfile.h"
#include "support/DbxFixture.h"
#include "support/MessageFiles.h"
#include "support/TestFiles.h"

namespace {

int g_runs = 2;

double Best(const std::function<void()>& work) {
    double best = 1e300;
    for (int run = 0; run < g_runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 121000;
    g_runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
    (void)TUpperTable::Data();
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    corvane::testsupport::TScratchFolder scratch("corvane-bench-win32");
    corvane::testsupport::TTempFolderOverride temp(scratch.Path());
    const std::string path = scratch / "Large.dbx";
    {
        corvane::testsupport::TDbxWriter dbx;
        for (int i = 0; i < count; ++i) dbx.AddMessage(corvane::testsupport::MailText(corvane::testsupport::Mail(i)));
        dbx.Save(path);
    }

    std::size_t records = 0;
    const double getEmails = Best([&] {
        Toutlookfile reader;
        records = reader.GetEmails(path, false).size();
    });

    TfrmMain w(corvane::win32::FromAnsi(scratch / "bench.ini"));
    w.MessageBoxHook = [](const std::wstring& text, UINT) {
        std::fprintf(stderr, "%ls\n", text.c_str());
        return IDOK;
    };
    w.Show(SW_SHOWNORMAL);
    w.ProcessMessages();
    const double open = Best([&] {
        w.OpenDbxFiles({path});
        ::UpdateWindow(w.lvFoundEmails);
    });
    const double selectAll = Best([&] {
        ::SendMessageW(w.sbSelectAll, BM_CLICK, 0, 0);
        ::UpdateWindow(w.lvFoundEmails);
    });
    const double sort = Best([&] {
        w.lvFoundEmailsColumnClick(corvane::session::ColSubject);
        ::UpdateWindow(w.lvFoundEmails);
    });
    std::printf("messages %d, records %zu, rows %zu\n", count, records, w.Session.RowCount());
    std::printf("GetEmails alone        %8.3f s\n", getEmails);
    std::printf("open in the window     %8.3f s  (%.2f x GetEmails)\n", open, open / getEmails);
    std::printf("Quick Select All       %8.3f s\n", selectAll);
    std::printf("sort by Subject        %8.3f s\n", sort);
    return 0;
}
