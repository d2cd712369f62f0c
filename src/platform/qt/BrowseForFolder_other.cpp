// The toolkit's folder dialog, for systems without the Windows shell.

#include "platform/qt/BrowseForFolder.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QString>
#include <QWidget>

#include "platform/AnsiText.h"

namespace corvane::gui {

std::string RunFolderBrowser(const std::string& title, const std::string& initialFolder, bool allowNewFolder) {
    // The toolkit's dialog always offers to make a folder; the flag only
    // matters to the shell's browser.
    (void)allowNewFolder;
    QWidget* owner = QApplication::activeWindow();
    const QString chosen = QFileDialog::getExistingDirectory(
        owner, QString::fromStdString(corvane::ansi::ToUtf8(title)), QFile::decodeName(QByteArray::fromStdString(initialFolder)),
        QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return {};
    return QFile::encodeName(chosen).toStdString();
}

}  // namespace corvane::gui
