#pragma once

#include <QString>

namespace TestSupport {

// True on Windows, Wine included: for cases whose subject exists on one system only.
bool onWindows();

// The file name of a program called `name` here: "name.exe" on Windows.
QString programFileName(const QString& name);

}  // namespace TestSupport
