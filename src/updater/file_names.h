#pragma once

#include <QString>

namespace FileNames {

// How the platform's file system compares file names: Windows' ignores letter
// case ("update/Staging" is "update/staging" there), others' do not.
Qt::CaseSensitivity caseSensitivity();

// True when the file system takes `a` and `b` for the same path: on Windows
// each UTF-16 unit upper-cased with the system's table, as NTFS compares
// (the Kelvin sign and "k" are two names there, "K" and "k" one).
bool samePath(const QString& a, const QString& b);

// Writes to `key` a text that is equal for two names exactly when the file
// system takes them for one. False where the platform's comparison cannot be
// written as such a key (on Windows, a name with a letter outside ASCII, whose
// case the volume's own table decides): names must then be looked up one by one.
bool comparisonKey(const QString& name, QString& key);

}  // namespace FileNames
