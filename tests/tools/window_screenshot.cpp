// Shows the main window with a folder file loaded, deleted messages included,
// two rows ticked and the first row previewed, for the README's picture.
// scripts/screenshot.sh runs it under Xvfb and takes the picture.
//
//   window_screenshot <folder file>

#include <QApplication>

#include <cstdio>
#include <exception>

#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder file>\n", argv[0]);
        return 2;
    }
    TCorvaneApplication app(argc, argv);
    TfrmMain w;
    w.show();
    try {
        w.cbdeletedemails->click();  // before any file: the next load takes it
        w.OpenDbxFiles({QString::fromLocal8Bit(argv[1])});
        const int rows = w.FoundEmails->Count();
        for (int i = 0; i < rows; i += 2) w.FoundEmails->setData(w.FoundEmails->index(i, 0), Qt::Checked, Qt::CheckStateRole);
        if (rows > 0) {
            w.lvFoundEmails->setCurrentIndex(w.FoundEmails->index(0, 0));
            w.lvFoundEmails->scrollToTop();
            w.lvFoundEmailsClick();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return app.exec();
}
