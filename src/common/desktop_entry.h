#pragma once

// Reads the desktop files through which Linux desktops name their applications,
// for the browser lookup of utils_posix.cpp. Windows has no such files, so only
// desktop_entry_posix.cpp implements this.

#include <QByteArray>
#include <QString>

namespace DesktopEntry {

// The command line that opens an address with the application of desktop file `id`
// (such as "browser.desktop", looked up in the applications folders), written the
// way Windows registers open commands: `"program" arguments "%1"`, "%1" standing
// for the address. "" when the file is missing or has no Exec line.
QString openCommand(const QString& id);

// The same from the bytes of a desktop file; "" when they hold no Exec line in
// the [Desktop Entry] group.
QString openCommandOf(const QByteArray& desktopFile);

}  // namespace DesktopEntry
