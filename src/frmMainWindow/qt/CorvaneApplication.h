#pragma once
// The application object with the program's top-level error handler: an
// exception that leaves an event handler is shown in a message box (caption
// "Corvane Recovery", error icon, one OK button) and the program goes on.
//
// It also names the program for the settings kept between runs: a default
// constructed QSettings reads and writes them (on Linux
// $XDG_CONFIG_HOME/corvane/corvane-recovery.conf, on Windows the registry
// key HKEY_CURRENT_USER\Software\corvane\corvane-recovery).

#include <QApplication>
#include <QString>

#include <functional>

class TCorvaneApplication : public QApplication {
    Q_OBJECT
public:
    TCorvaneApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The application's title: caption of the error box, name on the task bar.
    static const char* const kTitle;
    // Organisation and application name of the settings (see above).
    static const char* const kSettingsOrganisation;
    static const char* const kSettingsApplication;

    // Shows the text of the exception being handled (call inside a catch);
    // work that the user stopped (ECancelled) shows nothing.
    static void ShowCurrentException();
    // Shows an error text in the error box.
    static void ShowError(const QString& text);

    // Test seam: when set, ShowError hands the text to it instead of showing
    // the modal box.
    static std::function<void(const QString&)> ErrorBoxHook;
};
