#include "singleton_program.h"

#include <utility>

SingletonProgram::SingletonProgram(QString key) : key(std::move(key)) {}
