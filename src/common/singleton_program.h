#pragma once

#include <QString>

// A named, machine-wide guard that the system frees when its holder ends,
// however it ends. Programs the holder starts do not inherit it.
class SingletonProgram {
public:
    explicit SingletonProgram(QString key);

    // True when the guard of this key is already taken (by another process, or
    // by an earlier call in this one) or cannot be taken; false when this call
    // has just taken it. The guard stays taken until the process ends, even
    // after this object is destroyed.
    bool isRunning();

private:
    QString key;
};
