#pragma once
// What the window program's command line asks for:
//
//   corvane-recovery [FILE.dbx...]
//   corvane-recovery -h | --help | -v | --version
//
// Help and version are answered before the toolkit starts, so they need no
// display. Options stand anywhere; "--" ends them, so that a file whose name
// begins with "-" can be given. The toolkit's own options (-platform, -style,
// ...) are taken out by QApplication before the files are read.

#include <QString>
#include <QStringList>

namespace corvane::gui {

struct TStartArguments {
    bool Help = false;     // -h, --help
    bool Version = false;  // -v, --version
    QString Error;         // an unknown option; empty when the arguments are sound
    QStringList Files;     // the folder files to open, in the order given
};

// Reads the arguments that follow the program's name. Never throws.
TStartArguments ParseStartArguments(const QStringList& arguments);

// The text --help prints: usage, what the program does, its options.
QString StartHelpText();
// The text --version prints: "corvane-recovery <version>" and a line break.
QString StartVersionText();

}  // namespace corvane::gui
