#include "frmMainWindow/CorvaneApplication.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

#include <exception>

#include "frmMainWindow/frmMainWindow.h"
#include "progress/Progress.h"

const char* const TCorvaneApplication::kTitle = "Corvane Recovery";
const char* const TCorvaneApplication::kSettingsOrganisation = "corvane";
const char* const TCorvaneApplication::kSettingsApplication = "corvane-recovery";
std::function<void(const QString&)> TCorvaneApplication::ErrorBoxHook;

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

TCorvaneApplication::TCorvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setOrganizationName(kSettingsOrganisation);
    setApplicationName(kSettingsApplication);
    setApplicationVersion(CORVANE_VERSION);
    setApplicationDisplayName(kTitle);
}

QString TCorvaneApplication::RememberedFolder(const QString& key, const QString& fallback) {
    const QString folder = QSettings().value(key).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    return fallback;
}

void TCorvaneApplication::RememberFolder(const QString& key, const QString& folder) {
    if (folder.isEmpty()) return;
    QSettings().setValue(key, QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
}

bool TCorvaneApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}

void TCorvaneApplication::ShowCurrentException() {
    QString text;
    try {
        throw;
    } catch (const corvane::ECancelled&) {
        return;  // the user stopped the work: nothing to report
    } catch (const std::exception& e) {
        // The texts carry file names and the system's explanations, both in
        // the system's 8-bit encoding, as the file names themselves are.
        text = QString::fromLocal8Bit(e.what());
    } catch (...) {
        text = "Unknown error";
    }
    ShowError(text);
}

void TCorvaneApplication::ShowError(const QString& text) {
    if (ErrorBoxHook) {
        ErrorBoxHook(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, kTitle, text, QMessageBox::Ok);
    box.setObjectName("ErrorBox");
    box.exec();
}

void HandleCurrentException() { TCorvaneApplication::ShowCurrentException(); }
