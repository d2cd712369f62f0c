#include "frmMainWindow/qt/CorvaneApplication.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

#include <exception>

#include "frmMainWindow/qt/frmMainWindow.h"
#include "mailsession/SessionTexts.h"
#include "progress/Progress.h"

const char* const TCorvaneApplication::kTitle = corvane::session::texts::kApplicationTitle;
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
