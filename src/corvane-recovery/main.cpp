// Corvane Recovery: answers --help and --version without starting the
// toolkit, builds the search routines' upper-case table, starts the
// application, shows the main window, opens the folder files given as
// arguments and runs the message loop until the window is closed.

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <cstdio>

#include "FastStrings/FastStrings.h"
#include "frmMainWindow/CorvaneApplication.h"
#include "frmMainWindow/StartArguments.h"
#include "frmMainWindow/frmMainWindow.h"

int main(int argc, char** argv) {
    using corvane::gui::ParseStartArguments;
    {
        QStringList given;
        for (int i = 1; i < argc; ++i) given << QString::fromLocal8Bit(argv[i]);
        const corvane::gui::TStartArguments early = ParseStartArguments(given);
        if (early.Help || early.Version) {
            const QString text = early.Help ? corvane::gui::StartHelpText() : corvane::gui::StartVersionText();
            std::fputs(text.toLocal8Bit().constData(), stdout);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        }
    }

    (void)TUpperTable::Data();  // built before anything searches

    TCorvaneApplication application(argc, argv);
    // The toolkit has taken its own options out of the arguments by now.
    const corvane::gui::TStartArguments arguments = ParseStartArguments(QCoreApplication::arguments().mid(1));
    if (!arguments.Error.isEmpty()) {
        std::fprintf(stderr, "corvane-recovery: %s\nTry 'corvane-recovery --help'.\n",
                     arguments.Error.toLocal8Bit().constData());
        return 2;
    }
    TfrmMain frmMain;
    frmMain.show();
    if (!arguments.Files.isEmpty()) {
        // Once the loop runs, so that the window is up under the wait window.
        QTimer::singleShot(0, &frmMain, [&frmMain, files = arguments.Files] {
            TfrmMain::Guarded([&frmMain, &files] { frmMain.OpenDbxFiles(files); });
        });
    }
    return application.exec();
}
