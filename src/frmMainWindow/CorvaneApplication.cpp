#include "frmMainWindow/CorvaneApplication.h"

#include <QMessageBox>

#include <exception>

#include "frmMainWindow/frmMainWindow.h"

const char* const TCorvaneApplication::kTitle = "Corvane Recovery";
std::function<void(const QString&)> TCorvaneApplication::ErrorBoxHook;

TCorvaneApplication::TCorvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setOrganizationName("Corvane");
    setApplicationName(kTitle);
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
