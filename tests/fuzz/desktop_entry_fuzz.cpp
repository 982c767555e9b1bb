// A desktop file as the Linux browser lookup reads it, and the open command it
// becomes, split as the browser start splits it.

#include "desktop_entry.h"
#include "fuzz_input.h"
#include "utils_desktop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const QString command = DesktopEntry::openCommandOf(file);
    if (command.isEmpty()) return 0;
    // Every command made from an entry names its program, which the browser
    // start reads back whole, and the address's place.
    QString browser;
    FUZZ_CHECK(UtilsDesktop::browserFromOpenCommand(command, browser));
    FUZZ_CHECK(command.startsWith('"' + browser + "\" ") && command.contains("%1"));
    return 0;
}
