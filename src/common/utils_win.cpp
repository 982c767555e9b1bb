#include "utils_platform.h"

#include <QSettings>
#include <QSysInfo>
#include <QVariant>

#include "utils.h"

namespace UtilsPlatform {

QString resolveProgram(const QString& program) { return program; }

void openDefaultAppsSettings() {
    // Windows 10 (0xC0) and later have the settings app; earlier ones the control panel.
    if (QSysInfo::windowsVersion() > 0xBF) {
        Utils::runSimpleCommand("cmd", {"/c", "start", "ms-settings:defaultapps"});
    } else {
        Utils::runSimpleCommand("cmd", {"/c", "control", "/name", "Microsoft.DefaultPrograms"});
    }
}

QString registeredHttpCommand() {
    const QSettings command("HKEY_CLASSES_ROOT\\http\\shell\\open\\command",
                            QSettings::NativeFormat);
    // "." addresses the key's default value.
    return command.value(".", QVariant()).toString();
}

}  // namespace UtilsPlatform
