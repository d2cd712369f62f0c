// Corvane Recovery: answers --help and --version, and refuses arguments it
// does not take, without starting the toolkit (so without a display); builds the search routines' upper-case table, starts the
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

// The toolkit's own options, which it takes out of the arguments itself
// (QGuiApplication and QApplication), and whether each takes a value.
struct TToolkitOption {
    const char* Name;
    bool Value;
};
constexpr TToolkitOption kToolkitOptions[] = {
    {"platform", true},  {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true}, {"qwindowicon", true}, {"qwindowtitle", true},
    {"geometry", true},  {"title", true},  {"display", true}, {"style", true}, {"stylesheet", true},
    {"session", true},   {"name", true},   {"reverse", false}, {"widgetcount", false}, {"nograb", false},
    {"dograb", false},   {"sync", false},  {"qwindowscreen", true},
};

// The arguments less the toolkit's options (given with one dash or two,
// their value after them or after "="), up to "--".
std::vector<std::string> WithoutToolkitOptions(const std::vector<std::string>& given) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < given.size(); ++i) {
        const std::string& argument = given[i];
        if (argument == "--") {
            out.insert(out.end(), given.begin() + static_cast<std::ptrdiff_t>(i), given.end());
            break;
        }
        std::string name = argument.rfind("--", 0) == 0 ? argument.substr(2)
                           : argument.rfind('-', 0) == 0 ? argument.substr(1)
                                                          : std::string();
        const bool inlineValue = name.find('=') != std::string::npos;
        name = name.substr(0, name.find('='));
        const TToolkitOption* option = nullptr;
        for (const TToolkitOption& o : kToolkitOptions)
            if (!name.empty() && name == o.Name) option = &o;
        if (option == nullptr) {
            out.push_back(argument);
            continue;
        }
        if (option->Value && !inlineValue) ++i;
    }
    return out;
}

std::vector<std::string> Arguments(const QStringList& given) {
    std::vector<std::string> arguments;
    for (const QString& argument : given) arguments.push_back(argument.toLocal8Bit().toStdString());
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    using corvane::session::ParseStartArguments;
    {
        const std::vector<std::string> given(argv + (argc > 0 ? 1 : 0), argv + argc);
        const corvane::session::TStartArguments early = ParseStartArguments(WithoutToolkitOptions(given));
        if (!early.Error.empty()) {
            std::fprintf(stderr, "corvane-recovery: %s\n%s", early.Error.c_str(), corvane::session::StartUsageText().c_str());
            return 2;
        }
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
        std::fprintf(stderr, "corvane-recovery: %s\n%s", arguments.Error.c_str(), corvane::session::StartUsageText().c_str());
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
