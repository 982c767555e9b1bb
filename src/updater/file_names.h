#pragma once

#include <QString>

namespace FileNames {

// How the platform's file system compares file names: Windows' ignores letter
// case ("update/Staging" is "update/staging" there), others' do not.
Qt::CaseSensitivity caseSensitivity();

}  // namespace FileNames
