// The GoogleTest entry point of the test programs, with an application object
// for what needs one (network access, applicationDirPath, event loops); with
// PVL_TEST_WIDGETS a widget application, with PVL_TEST_SUITES_APART every test
// suite in a process of its own (see support/suite_processes.h), with
// PVL_TEST_OWN_APP_FOLDER the tests run from an application folder of their own
// (see support/app_folder.h), glog writing to standard error only.
#ifdef PVL_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <glog/logging.h>
#include <gtest/gtest.h>

#include "app_folder.h"
#include "suite_processes.h"

int main(int argc, char** argv) {
#ifdef PVL_TEST_OWN_APP_FOLDER
    const int copyCode = TestSupport::reexecInOwnAppFolder(argc, argv);
    if (copyCode >= 0) return copyCode;
    FLAGS_logtostderr = true;
    google::InitGoogleLogging(argv[0]);
#endif
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
#ifdef PVL_TEST_SUITES_APART
    const int code = TestSupport::runEachSuiteApart();
    if (code >= 0) return code;
#endif
    return RUN_ALL_TESTS();
}
