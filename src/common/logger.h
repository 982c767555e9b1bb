#pragma once

#include <QString>

namespace Logger {

// Configures glog once per process: per-severity files "log/<NAME>_I_…LOG",
// "_W_", "_E_" (relative to the working directory; the folder "log" is created
// under the application folder), unbuffered flushing, 10 MB files, messages at
// `stderrThreshold` and above copied to stderr, then logs the version line.
// Call on the main thread after the application object exists and before
// anything is logged. Every later call does nothing.
void init(const QString& name, int stderrThreshold);

}  // namespace Logger
