#pragma once

#include <QString>

#include <memory>

// A named, machine-wide guard that the system frees when its holder ends,
// however it ends. Programs the holder starts do not inherit it.
class SingletonProgram {
public:
    explicit SingletonProgram(QString key);
    // Leaves a guard this object took taken.
    ~SingletonProgram();

    // True when the guard of this key is already taken (by another process, or
    // by an earlier call in this one) or cannot be taken; false when this call
    // has just taken it. The guard stays taken until release() or the end of
    // the process, even after this object is destroyed.
    bool isRunning();

    // Frees the guard this object took, so that another process can take it at
    // once; harmless when this object holds none. This process keeps running
    // without it, and a later isRunning() may take it again.
    void release();

private:
    // The system's handle of a guard taken, as the platform file defines it.
    // Destroying it leaves the handle open: only release() closes it.
    struct Hold;

    QString key;
    std::unique_ptr<Hold> hold;
};
