// The open command registered for http addresses, as the browser start splits it.

#include "fuzz_input.h"
#include "utils_desktop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString command =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QString browser;
    if (UtilsDesktop::browserFromOpenCommand(command, browser)) {
        FUZZ_CHECK(!browser.isEmpty() && browser.size() < command.size());
    } else {
        FUZZ_CHECK(browser.isNull());
    }
    return 0;
}
