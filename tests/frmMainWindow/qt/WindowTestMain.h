#pragma once
// The main of a window test program: a private temporary folder of its own
// (the reader's message files go there, the remembered folders under
// config/), the offscreen platform unless another is asked for, the
// application, the test object's run, and the folder removed afterwards.

#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

#include "frmMainWindow/qt/CorvaneApplication.h"

// folder: set to the private folder before the tests run.
template <class Test>
int RunWindowTest(int argc, char** argv, const char* name, std::string& folder) {
    folder = (std::filesystem::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    ::setenv("TMPDIR", folder.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int result = 0;
    {
        TCorvaneApplication app(argc, argv);
        Test test;
        result = QTest::qExec(&test, argc, argv);
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return result;
}
