#include "utils_desktop.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include "utils.h"
#include "utils_platform.h"

namespace Utils {

bool openUrlInBrowser(const QString& url) {
    if (QDesktopServices::openUrl(QUrl(url, QUrl::TolerantMode))) return true;
    UtilsDesktop::startRegisteredBrowser(UtilsPlatform::registeredHttpCommand(), url);
    return false;
}

bool openDir(const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

void copyTextToClipboard(const QString& text) {
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

QPoint getWgtGlobalPos(QWidget* widget) { return widget->mapToGlobal(QPoint(0, 0)); }

QRect getCenterRectBySize(const QRect& outer, int width, int height) {
    const int left = outer.left() + (outer.width() - width) / 2;
    const int top = outer.top() + (outer.height() - height) / 2;
    return QRect(left, top, width, height);
}

QString floatToStr(float value, int decimals) {
    return QString::number(static_cast<double>(value), 'f', decimals);
}

QString createUuid() { return QUuid::createUuid().toString().remove('{').remove('}').remove('-'); }

bool getMac(QString& mac) {
    return UtilsDesktop::macFromAdapters(AdapterAddress::statusRequests(), mac);
}

}  // namespace Utils

namespace UtilsDesktop {

bool browserFromOpenCommand(const QString& command, QString& browser) {
    if (command.split(' ').size() < 2) return false;
    QString program;
    const int closingQuote = command.startsWith('"') ? command.indexOf('"', 1) : -1;
    if (closingQuote > 0) {
        // A quoted program path may hold blanks ("C:\Program Files\..."): the quotes,
        // not the first blank, end it.
        program = command.mid(1, closingQuote - 1);
    } else {
        program = command.left(command.indexOf(' '));
        program.remove('"');
    }
    if (program.isEmpty()) return false;
    browser = program;
    return true;
}

QProcess* startRegisteredBrowser(const QString& command, const QString& url) {
    QString browser;
    if (!browserFromOpenCommand(command, browser)) return nullptr;

    auto* process = new QProcess;
    // Nothing waits for the browser; the object goes once the child is over. A
    // child that never starts emits no finished(), so that case releases it too.
    QObject::connect(
        process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), process,
        [process](int, QProcess::ExitStatus) { process->deleteLater(); }, Qt::DirectConnection);
    QObject::connect(
        process, &QProcess::errorOccurred, process,
        [process](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) process->deleteLater();
        },
        Qt::DirectConnection);
    // The program itself is started, with the address as one argument: no
    // command interpreter sees the address, so "&", "^" or "%NAME%" in it stay
    // text, and a browser path with blanks stays one path.
    process->start(browser, QStringList{url}, QIODevice::ReadWrite);
    return process;
}

bool macFromAdapters(const std::vector<AdapterAddress::StatusRequest>& adapters, QString& mac) {
    mac.clear();
    for (const AdapterAddress::StatusRequest& request : adapters) {
        AdapterAddress::Address address{};
        if (!request(address)) continue;
        mac = QString::asprintf("%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1], address[2],
                                address[3], address[4], address[5]);
    }
    return !mac.isEmpty();
}

}  // namespace UtilsDesktop
