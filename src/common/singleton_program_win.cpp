#include "singleton_program.h"

#include <QSharedMemory>

#include <memory>
#include <utility>

struct SingletonProgram::Hold {
    // Deleting it would detach it: it is deleted by release() only.
    QSharedMemory* memory;
};

SingletonProgram::SingletonProgram(QString key) : key(std::move(key)) {}

SingletonProgram::~SingletonProgram() = default;

// The client takes the same key through QSharedMemory, so both see one another.
// Windows frees the section when its last handle closes, which happens when the
// process ends, however it ends, or when release() detaches it.
bool SingletonProgram::isRunning() {
    auto memory = std::make_unique<QSharedMemory>(key);
    if (!memory->create(1, QSharedMemory::ReadWrite)) return true;
    hold = std::make_unique<Hold>(Hold{memory.release()});
    return false;
}

// Deleting the QSharedMemory detaches it and closes this process's handle, its
// only one: the section is gone.
void SingletonProgram::release() {
    if (!hold) return;
    delete hold->memory;
    hold.reset();
}
