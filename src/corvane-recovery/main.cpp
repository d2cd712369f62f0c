// Corvane Recovery: answers --help and --version without starting the
// toolkit, builds the search routines' upper-case table, starts the
// application, shows the main window, opens the folder files given as
// arguments and runs the message loop until the window is closed.

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

#include "FastStrings/FastStrings.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "mailsession/StartArguments.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

namespace {

std::vector<std::string> Arguments(const QStringList& given) {
    std::vector<std::string> arguments;
    for (const QString& argument : given) arguments.push_back(argument.toLocal8Bit().toStdString());
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    using corvane::session::ParseStartArguments;
    {
        std::vector<std::string> given(argv + (argc > 0 ? 1 : 0), argv + argc);
        const corvane::session::TStartArguments early = ParseStartArguments(given);
        if (early.Help || early.Version) {
            const std::string text =
                early.Help ? corvane::session::StartHelpText() : corvane::session::StartVersionText(CORVANE_VERSION);
            std::fputs(text.c_str(), stdout);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        }
    }

    (void)TUpperTable::Data();  // built before anything searches

    TCorvaneApplication application(argc, argv);
    // The toolkit has taken its own options out of the arguments by now.
    const corvane::session::TStartArguments arguments = ParseStartArguments(Arguments(QCoreApplication::arguments().mid(1)));
    if (!arguments.Error.empty()) {
        std::fprintf(stderr, "corvane-recovery: %s\nTry 'corvane-recovery --help'.\n", arguments.Error.c_str());
        return 2;
    }
    TfrmMain frmMain;
    frmMain.show();
    if (!arguments.Files.empty()) {
        QStringList files;
        for (const std::string& file : arguments.Files) files << QString::fromLocal8Bit(file);
        // Once the loop runs, so that the window is up under the wait window.
        QTimer::singleShot(0, &frmMain, [&frmMain, files] {
            TfrmMain::Guarded([&frmMain, &files] { frmMain.OpenDbxFiles(files); });
        });
    }
    return application.exec();
}
