#include "display.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace Display {

namespace {

const char kVariable[] = "QT_QPA_PLATFORM";

// The variable as the updater was given it.
bool givenSet = false;
QByteArray givenValue;

// Qt tries the plugins of a ";"-separated list in turn; each may carry
// arguments after a ":".
bool namesOffscreen(const QByteArray& platforms) {
    for (const QByteArray& platform : platforms.split(';')) {
        if (platform.split(':').first().trimmed() == "offscreen") return true;
    }
    return false;
}

}  // namespace

bool addOffscreenFallback() {
    givenSet = qEnvironmentVariableIsSet(kVariable);
    const QByteArray given = givenValue = qgetenv(kVariable);
    if (namesOffscreen(given)) return false;
    // A platform named by the user is still tried first.
    QByteArray platforms = given.trimmed();
    if (platforms.isEmpty()) {
        // Without any display, naming a windowing plugin first would only add its
        // complaint to standard error.
        if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
            platforms = "xcb";
        } else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            platforms = "wayland";
        }
    }
    qputenv(kVariable, platforms.isEmpty() ? QByteArray("offscreen") : platforms + ";offscreen");
    return true;
}

void dropOffscreenFallback() {
    if (givenSet) {
        qputenv(kVariable, givenValue);
    } else {
        qunsetenv(kVariable);
    }
}

}  // namespace Display
