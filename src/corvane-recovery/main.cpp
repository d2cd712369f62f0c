// Corvane Recovery: builds the search routines' upper-case table, starts the
// application, shows the main window and runs the message loop until the
// window is closed.

#include "FastStrings/FastStrings.h"
#include "frmMainWindow/CorvaneApplication.h"
#include "frmMainWindow/frmMainWindow.h"

int main(int argc, char** argv) {
    (void)TUpperTable::Data();  // built before anything searches

    TCorvaneApplication application(argc, argv);
    TfrmMain frmMain;
    frmMain.show();
    return application.exec();
}
