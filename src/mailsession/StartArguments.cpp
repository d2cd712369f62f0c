#include "mailsession/StartArguments.h"

namespace corvane::session {

TStartArguments ParseStartArguments(const std::vector<std::string>& arguments) {
    TStartArguments parsed;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            parsed.Files.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            parsed.Help = true;
        } else if (argument == "-v" || argument == "--version") {
            parsed.Version = true;
        } else if (parsed.Error.empty()) {
            parsed.Error = "unknown option: " + argument;
        }
    }
    return parsed;
}

std::string StartUsageText() {
    return "usage: corvane-recovery [FILE.dbx...]\n"
           "       corvane-recovery --help | --version\n";
}

std::string StartHelpText() {
    return StartUsageText() + "\n"
           "Corvane Recovery recovers e-mail from Outlook Express mail folder files\n"
           "(.dbx), live messages and, with \"Include Deleted Emails\", the deleted ones\n"
           "not yet overwritten, and exports them as .eml files or into one mbox file.\n"
           "Folder files given here are added under \"Dbx Files\" and the first one is\n"
           "listed. F1 in the window opens the help page.\n"
           "\n"
           "  -h, --help     print this text and exit\n"
           "  -v, --version  print the version and exit\n"
           "\n"
           "The command-line program corvane-dbx does the same without a window.\n";
}

std::string StartVersionText(const std::string& version) { return "corvane-recovery " + version + "\n"; }

}  // namespace corvane::session
