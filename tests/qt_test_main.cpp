// The GoogleTest entry point of the test programs, with an application object
// for what needs one (network access, applicationDirPath, event loops); with
// PVL_TEST_WIDGETS a widget application, with PVL_TEST_SUITES_APART every test
// suite in a process of its own (see support/suite_processes.h).
#ifdef PVL_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <gtest/gtest.h>

#include "suite_processes.h"

int main(int argc, char** argv) {
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
#ifdef PVL_TEST_SUITES_APART
    const int code = TestSupport::runEachSuiteApart();
    if (code >= 0) return code;
#endif
    return RUN_ALL_TESTS();
}
