#include "platform/qt/Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

#include "platform/Errors.h"

namespace corvane::gui {

void OpenWebPage(const std::string& url) {
    if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(url)))) {
        throw ECorvaneError("No web browser could be started to show " + url);
    }
}

QString OpenDialogStartFolder() { return QDir::rootPath(); }

}  // namespace corvane::gui
