#include "display.h"

#include <QByteArray>
#include <QtGlobal>

namespace Display {

bool chooseOffscreenPlatformIfNoDisplay() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return false;
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) return false;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return false;
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    return true;
}

}  // namespace Display
