#include "singleton_program.h"

#include <QSharedMemory>

// The client takes the same key through QSharedMemory, so both see one another.
// Windows frees the section when its last handle closes, which happens when the
// process ends, however it ends. The object is deliberately never deleted.
bool SingletonProgram::isRunning() {
    auto* memory = new QSharedMemory(key);
    return !memory->create(1, QSharedMemory::ReadWrite);
}
