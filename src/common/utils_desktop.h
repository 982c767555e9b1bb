#pragma once

// The portable steps behind Utils::openUrlInBrowser and Utils::getMac, taking the
// platform's answers as arguments so that they can be driven with any answers.

#include <QString>
#include <vector>

#include "adapter_address.h"

class QProcess;

namespace UtilsDesktop {

// The browser program of a registered open command such as
// `"C:\Program Files\Browser\browser.exe" -url "%1"`. A command with fewer than two
// blank-separated pieces names nothing: false, `browser` untouched. Otherwise the
// program is the text between a leading double quote and the next one, or else the
// first piece with every double quote removed; an empty program gives false.
bool browserFromOpenCommand(const QString& command, QString& browser);

// Starts the browser that `command` names (see browserFromOpenCommand) on `url`
// without waiting. The process object deletes itself (deleteLater) when the child
// finishes or fails to start, so the calling thread needs an event loop. Returns
// that object, or nullptr when the command names no browser.
QProcess* startRegisteredBrowser(const QString& command, const QString& url);

// Clears `mac`, then asks every adapter in turn; each answer replaces `mac` with
// the address as "XX:XX:XX:XX:XX:XX" (upper-case hexadecimal), so the last
// answering adapter wins. True when some adapter answered.
bool macFromAdapters(const std::vector<AdapterAddress::StatusRequest>& adapters, QString& mac);

}  // namespace UtilsDesktop
