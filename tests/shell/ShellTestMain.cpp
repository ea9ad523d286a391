// The window tests: GoogleTest cases on one QApplication on the offscreen
// platform; with "--shell-child=<scenario>" the program instead runs one
// scenario that is meant to end the process.
#include "ShellSupport.h"

#include <QApplication>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string_view>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string_view childFlag = "--shell-child=";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.rfind(childFlag, 0) == 0) {
            QApplication app(argc, argv);
            QApplication::setQuitOnLastWindowClosed(false);
            return shelltest::RunChildScenario(std::string(arg.substr(childFlag.size())));
        }
    }

    testing::InitGoogleMock(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    QApplication app(argc, argv);
    // Closing a test's last window must not stop a later test's event loop.
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
