#include "display.h"

#include <QByteArray>
#include <QtGlobal>

namespace Display {

bool addOffscreenFallback() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return false;
    // Qt tries the plugins of the list in turn. Without any display, naming a
    // windowing plugin first would only add its complaint to standard error.
    QByteArray platforms = "offscreen";
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        platforms = "xcb;offscreen";
    } else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        platforms = "wayland;offscreen";
    }
    qputenv("QT_QPA_PLATFORM", platforms);
    return true;
}

}  // namespace Display
