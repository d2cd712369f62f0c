#include "frmMainWindow/StartArguments.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

namespace corvane::gui {

TStartArguments ParseStartArguments(const QStringList& arguments) {
    TStartArguments parsed;
    bool optionsEnded = false;
    for (const QString& argument : arguments) {
        if (optionsEnded || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))) {
            parsed.Files << argument;
        } else if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            parsed.Help = true;
        } else if (argument == QLatin1String("-v") || argument == QLatin1String("--version")) {
            parsed.Version = true;
        } else if (parsed.Error.isEmpty()) {
            parsed.Error = QStringLiteral("unknown option: %1").arg(argument);
        }
    }
    return parsed;
}

QString StartHelpText() {
    return QStringLiteral(
        "usage: corvane-recovery [FILE.dbx...]\n"
        "       corvane-recovery --help | --version\n"
        "\n"
        "Corvane Recovery recovers e-mail from Outlook Express mail folder files\n"
        "(.dbx), live messages and, with \"Include Deleted Emails\", the deleted ones\n"
        "not yet overwritten, and exports them as .eml files or into one mbox file.\n"
        "Folder files given here are added under \"Dbx Files\" and the first one is\n"
        "listed. F1 in the window opens the help page.\n"
        "\n"
        "  -h, --help     print this text and exit\n"
        "  -v, --version  print the version and exit\n"
        "\n"
        "The command-line program corvane-dbx does the same without a window.\n");
}

QString StartVersionText() { return QStringLiteral("corvane-recovery " CORVANE_VERSION "\n"); }

}  // namespace corvane::gui
