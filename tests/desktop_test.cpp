#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <map>
#include <ostream>
#include <vector>

#include "platform.h"
#include "utils.h"
#include "utils_desktop.h"
#include "utils_platform.h"

// Lets failures show texts rather than bytes.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

// --- Geometry and formatting ---

struct CenterCase {
    QRect outer;
    int width;
    int height;
    QRect expected;
};

class CenterRectTest : public ::testing::TestWithParam<CenterCase> {};

TEST_P(CenterRectTest, CentresWithTruncatingDivision) {
    const CenterCase& c = GetParam();
    EXPECT_EQ(Utils::getCenterRectBySize(c.outer, c.width, c.height), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CenterRectTest,
    ::testing::Values(CenterCase{QRect(0, 0, 100, 100), 50, 50, QRect(25, 25, 50, 50)},
                      // The odd pixel goes right.
                      CenterCase{QRect(0, 0, 101, 100), 50, 50, QRect(25, 25, 50, 50)},
                      // A leftover of -51 truncates to an offset of -25, not -26.
                      CenterCase{QRect(0, 0, 100, 100), 151, 50, QRect(-25, 25, 151, 50)},
                      CenterCase{QRect(0, 0, 100, 100), 50, 151, QRect(25, -25, 50, 151)},
                      CenterCase{QRect(-40, 300, 80, 21), 10, 10, QRect(-5, 305, 10, 10)}));

TEST(FloatToStrTest, FormatsTheWidenedValueInFixedNotation) {
    EXPECT_EQ(Utils::floatToStr(1.5f, 2), "1.50");
    // 1.005f is 1.00499999523..., which rounds down.
    EXPECT_EQ(Utils::floatToStr(1.005f, 2), "1.00");
    EXPECT_EQ(Utils::floatToStr(2.4f, 0), "2");
    EXPECT_EQ(Utils::floatToStr(-0.25f, 3), "-0.250");
    EXPECT_EQ(Utils::floatToStr(1e10f, 1), "10000000000.0");
}

TEST(CreateUuidTest, GivesDistinctCompactLowerCaseIdentifiers) {
    const QRegularExpression form("^[0-9a-f]{32}$");
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString id = Utils::createUuid();
        EXPECT_TRUE(form.match(id).hasMatch()) << id.toStdString();
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200);
}

// --- Clipboard and widgets ---

TEST(ClipboardTest, ReplacesTheClipboardText) {
    QGuiApplication::clipboard()->setText("earlier");
    Utils::copyTextToClipboard("路径 with blanks\nand a second line");
    EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Clipboard),
              "路径 with blanks\nand a second line");
}

TEST(WidgetPositionTest, MapsTheTopLeftCornerToTheScreen) {
    QWidget window;
    window.setGeometry(100, 200, 300, 300);
    QWidget child(&window);
    child.setGeometry(10, 20, 50, 50);
    EXPECT_EQ(Utils::getWgtGlobalPos(&window), QPoint(100, 200));
    EXPECT_EQ(Utils::getWgtGlobalPos(&child), QPoint(110, 220));

    // Once shown the platform may shift the window by its frame; the child follows.
    window.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(Utils::getWgtGlobalPos(&window), window.geometry().topLeft());
    EXPECT_EQ(Utils::getWgtGlobalPos(&child), window.geometry().topLeft() + QPoint(10, 20));
}

// --- Registered browser ---

struct CommandCase {
    QString command;
    bool names;
    QString browser;
};

class OpenCommandTest : public ::testing::TestWithParam<CommandCase> {};

// Blanks, "&", "^" and "%NAME%" would mean something to a command interpreter.
const char kUrl[] = "http://127.0.0.1:9/页面?a=1&b=two words^&c=%PATH%";

TEST_P(OpenCommandTest, TakesTheProgramPart) {
    const CommandCase& c = GetParam();
    QString browser = "untouched";
    EXPECT_EQ(UtilsDesktop::browserFromOpenCommand(c.command, browser), c.names);
    EXPECT_EQ(browser, c.names ? c.browser : "untouched");
    // A command that names no program starts nothing.
    if (!c.names) {
        EXPECT_EQ(UtilsDesktop::startRegisteredBrowser(c.command, kUrl), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, OpenCommandTest,
    ::testing::Values(
        CommandCase{R"("C:\Browser\browser.exe" -osint -url "%1")", true,
                    R"(C:\Browser\browser.exe)"},
        CommandCase{R"("C:\Program Files\Browser\browser.exe" --single-argument %1)", true,
                    R"(C:\Program Files\Browser\browser.exe)"},
        CommandCase{R"(C:\Browser\browser.exe %1)", true, R"(C:\Browser\browser.exe)"},
        CommandCase{R"(C:\Bro"wser\browser.exe" %1)", true, R"(C:\Browser\browser.exe)"},
        // Blanks kept as empty pieces still make two pieces.
        CommandCase{"browser ", true, "browser"},
        CommandCase{R"("C:\Browser\browser.exe")", false, ""}, CommandCase{"browser", false, ""},
        CommandCase{"", false, ""}, CommandCase{R"("" %1)", false, ""},
        CommandCase{" %1", false, ""}));

// Waits, running an event loop, until `object` is gone; false after `ms`.
bool waitForDeletion(QObject* object, int ms) {
    QPointer<QObject> watched(object);
    if (!watched) return true;
    QEventLoop loop;
    QObject::connect(object, &QObject::destroyed, &loop, &QEventLoop::quit);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return watched.isNull();
}

// A stand-in browser: a copy of the start recorder, which writes how it was
// started to "<program>.record".
QString placeRecordingBrowser(const QString& folder, const QString& name = "fake browser") {
    QDir().mkpath(folder);
    const QString path = folder + "/" + TestSupport::programFileName(name);
    QFile::copy(START_RECORDER, path);
    return path;
}

// The arguments of the browser's last start, once the record holds a whole line.
QStringList recordedArguments(const QString& browser) {
    QFile record(browser + ".record");
    if (!record.open(QIODevice::ReadOnly)) return {"<not started>"};
    const QByteArray text = record.readAll();
    if (!text.endsWith('\n')) return {"<not started>"};
    return QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts).last().split('\t').mid(2);
}

TEST(RegisteredBrowserTest, StartsTheProgramOnTheAddressAndReleasesIt) {
    QTemporaryDir temp;
    const QString browser = placeRecordingBrowser(temp.path() + "/浏览 器");
    // As the registry holds it on Windows: backslashes, the program in quotes.
    QProcess* process = UtilsDesktop::startRegisteredBrowser(
        '"' + QDir::toNativeSeparators(browser) + "\" \"%1\"", kUrl);
    ASSERT_NE(process, nullptr);
    EXPECT_TRUE(waitForDeletion(process, 30000));
    EXPECT_EQ(recordedArguments(browser), QStringList{kUrl});
}

TEST(RegisteredBrowserTest, ReleasesAProgramThatCannotStart) {
    QTemporaryDir temp;
    QProcess* process =
        UtilsDesktop::startRegisteredBrowser('"' + temp.path() + "/missing browser\" \"%1\"", kUrl);
    ASSERT_NE(process, nullptr);
    EXPECT_TRUE(waitForDeletion(process, 30000));
}

// The desktop's default browser as the real xdg-utils report it, in an XDG
// environment of the test's own.
class DesktopBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (TestSupport::onWindows()) {
            GTEST_SKIP() << "Windows registers the browser in the registry, not in desktop files";
        }
        if (QStandardPaths::findExecutable("xdg-mime").isEmpty()) {
            GTEST_SKIP() << "xdg-utils are not installed";
        }
        ASSERT_TRUE(temp.isValid());
        const QString root = temp.path();
        for (const char* folder : {"/config", "/data/applications", "/system", "/home"}) {
            QDir().mkpath(root + folder);
        }
        setEnv("HOME", root + "/home");
        setEnv("XDG_CONFIG_HOME", root + "/config");
        setEnv("XDG_DATA_HOME", root + "/data");
        setEnv("XDG_DATA_DIRS", root + "/system");
        setEnv("XDG_CONFIG_DIRS", root + "/system");
        for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                                 "KDE_SESSION_VERSION", "GNOME_DESKTOP_SESSION_ID",
                                 "XDG_SESSION_DESKTOP", "BROWSER", "DISPLAY", "WAYLAND_DISPLAY"}) {
            setEnv(name, QString(), false);
        }
    }

    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value.first) {
                qputenv(name.c_str(), value.second);
            } else {
                qunsetenv(name.c_str());
            }
        }
    }

    void setEnv(const char* name, const QString& value, bool set = true) {
        if (saved.count(name) == 0) saved[name] = {qEnvironmentVariableIsSet(name), qgetenv(name)};
        if (set) {
            qputenv(name, value.toUtf8());
        } else {
            qunsetenv(name);
        }
    }

    // Registers a desktop file with the given Exec line as the http handler.
    void registerBrowser(const QByteArray& exec) {
        const QString applications = temp.path() + "/data/applications";
        QFile entry(applications + "/fake-browser.desktop");
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write(
            "[Desktop Action new]\nExec=/bin/false\n\n[Desktop Entry]\nType=Application\n"
            "Name=Fake\nIcon=fake\nExec=" +
            exec + "\n");
        entry.close();
        QFile defaults(applications + "/defaults.list");
        ASSERT_TRUE(defaults.open(QIODevice::WriteOnly));
        defaults.write("[Default Applications]\nx-scheme-handler/http=fake-browser.desktop\n");
    }

    QTemporaryDir temp;
    std::map<std::string, std::pair<bool, QByteArray>> saved;
};

TEST_F(DesktopBrowserTest, BuildsTheCommandLineFromTheDesktopFile) {
    const QString browser = placeRecordingBrowser(temp.path() + "/浏览 器");
    registerBrowser("\"" + browser.toUtf8() + "\" --class=a\\\\sb %i --x=100%% %U");
    EXPECT_EQ(UtilsPlatform::registeredHttpCommand(),
              '"' + browser + "\" --class=a\\sb --x=100% \"%1\"");

    // No desktop service exists offscreen, so the registered browser takes over.
    EXPECT_FALSE(Utils::openUrlInBrowser(kUrl));
    for (int i = 0; i < 300 && recordedArguments(browser).value(0) == "<not started>"; ++i) {
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
    }
    EXPECT_EQ(recordedArguments(browser), QStringList{kUrl});
}

TEST_F(DesktopBrowserTest, AppendsTheAddressWhenTheExecLineTakesNone) {
    const QString browser = placeRecordingBrowser(temp.path() + "/bin", "fake-browser");
    registerBrowser(browser.toUtf8());
    EXPECT_EQ(UtilsPlatform::registeredHttpCommand(), '"' + browser + "\" \"%1\"");
}

TEST_F(DesktopBrowserTest, NamesNoProgramWithADoubleQuote) {
    // In the quoted program of a command line, /opt/a"b/browser would start /opt/a.
    registerBrowser("\"/opt/a\\\"b/browser\" %u");
    EXPECT_EQ(UtilsPlatform::registeredHttpCommand(), "");
}

TEST_F(DesktopBrowserTest, GivesNothingWithoutADefaultBrowser) {
    EXPECT_EQ(UtilsPlatform::registeredHttpCommand(), "");
    EXPECT_FALSE(Utils::openUrlInBrowser(kUrl));
}

// --- Adapter addresses ---

AdapterAddress::StatusRequest answering(AdapterAddress::Address address) {
    return [=](AdapterAddress::Address& answer) {
        answer = address;
        return true;
    };
}

AdapterAddress::StatusRequest failing() {
    return [=](AdapterAddress::Address& answer) {
        answer.fill(0xEE);  // Whatever a failing adapter leaves must not be used.
        return false;
    };
}

struct AdapterCase {
    std::vector<AdapterAddress::StatusRequest> adapters;
    QString before;
    bool found;
    QString mac;
};

class AdapterLoopTest : public ::testing::TestWithParam<AdapterCase> {};

TEST_P(AdapterLoopTest, LastAnsweringAdapterWinsAndNoAnswerClearsTheOutput) {
    const AdapterCase& c = GetParam();
    QString mac = c.before;
    EXPECT_EQ(UtilsDesktop::macFromAdapters(c.adapters, mac), c.found);
    EXPECT_EQ(mac, c.mac);
}

INSTANTIATE_TEST_SUITE_P(
    Adapters, AdapterLoopTest,
    ::testing::Values(AdapterCase{{answering({0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}), failing(),
                                   answering({0x0a, 0xb0, 0x01, 0xff, 0x10, 0x09}), failing()},
                                  "stale",
                                  true,
                                  "0A:B0:01:FF:10:09"},
                      AdapterCase{{failing(), answering({0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}),
                                   answering({0x0a, 0xb0, 0x01, 0xff, 0x10, 0x09})},
                                  "stale",
                                  true,
                                  "0A:B0:01:FF:10:09"},
                      AdapterCase{{failing(), failing()}, "00:11:22:33:44:55", false, ""},
                      AdapterCase{{}, "held text", false, ""}));

// The interface the kernel lists last among those with a real hardware address.
QString lastInterfaceAddress() {
    std::map<int, QString> byIndex;
    for (const QString& name :
         QDir("/sys/class/net").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        auto read = [&](const char* file) {
            QFile f("/sys/class/net/" + name + "/" + file);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : "";
        };
        const QString address = read("address").toUpper();
        if (read("type") == "772" || address.size() != 17 || address == "00:00:00:00:00:00")
            continue;
        byIndex[read("ifindex").toInt()] = address;
    }
    return byIndex.empty() ? QString() : byIndex.rbegin()->second;
}

TEST(GetMacTest, GivesThisMachinesLastAdapterAddress) {
    QString mac = "held text";
    const bool found = Utils::getMac(mac);
    if (found) {
        EXPECT_TRUE(QRegularExpression("^([0-9A-F]{2}:){5}[0-9A-F]{2}$").match(mac).hasMatch())
            << mac.toStdString();
    } else {
        EXPECT_EQ(mac, "");
    }
    if (!TestSupport::onWindows() && QDir("/sys/class/net").exists()) {
        EXPECT_EQ(mac, lastInterfaceAddress());
    }
}

}  // namespace
