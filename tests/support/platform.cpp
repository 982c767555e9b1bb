#include "platform.h"

#include <QSysInfo>

namespace TestSupport {

bool onWindows() { return QSysInfo::kernelType() == "winnt"; }

QString programFileName(const QString& name) { return onWindows() ? name + ".exe" : name; }

}  // namespace TestSupport
