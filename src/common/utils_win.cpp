#include "utils_platform.h"

#include <QSysInfo>

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

}  // namespace UtilsPlatform
