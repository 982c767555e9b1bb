#include "suite_processes.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdio>

namespace TestSupport {

namespace {

const char kInOneSuite[] = "PVL_TEST_IN_ONE_SUITE";

// True when `name` matches one of the ':'-separated patterns, where "*"
// stands for any text and "?" for any one character.
bool matchesOneOf(const QString& name, const QString& patterns) {
    for (const QString& pattern : patterns.split(':', Qt::SkipEmptyParts)) {
        QString expression;
        for (const QChar c : pattern) {
            expression += c == '*'   ? QString(".*")
                          : c == '?' ? QString(".")
                                     : QRegularExpression::escape(c);
        }
        if (QRegularExpression(QRegularExpression::anchoredPattern(expression))
                .match(name)
                .hasMatch())
            return true;
    }
    return false;
}

// Whether GoogleTest's filter ("positive patterns[-negative patterns]") selects `name`.
bool selected(const QString& name, const QString& filter) {
    const QString positive = filter.section('-', 0, 0);
    const QString negative = filter.section('-', 1);
    return matchesOneOf(name, positive.isEmpty() ? "*" : positive) && !matchesOneOf(name, negative);
}

}  // namespace

int runEachSuiteApart() {
    if (qEnvironmentVariableIsSet(kInOneSuite) || GTEST_FLAG_GET(list_tests)) return -1;
    const QString filter = QString::fromStdString(GTEST_FLAG_GET(filter));
    // The arguments left once GoogleTest took its own flags.
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kInOneSuite, "1");
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    int failedRuns = 0;
    for (int i = 0; i < unit.total_test_suite_count(); ++i) {
        const ::testing::TestSuite& suite = *unit.GetTestSuite(i);
        QStringList tests;
        for (int t = 0; t < suite.total_test_count(); ++t) {
            const QString name = QString("%1.%2").arg(suite.name(), suite.GetTestInfo(t)->name());
            if (selected(name, filter)) tests << name;
        }
        if (tests.isEmpty()) continue;
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    QStringList(arguments) << "--gtest_filter=" + tests.join(':'));
        const bool passed = child.waitForStarted(-1) && child.waitForFinished(-1) &&
                            child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
        if (!passed) {
            std::fprintf(stderr, "test suite %s failed in its own process\n", suite.name());
            ++failedRuns;
        }
    }
    return failedRuns == 0 ? 0 : 1;
}

}  // namespace TestSupport
