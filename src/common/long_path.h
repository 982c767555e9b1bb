#pragma once

#include <QString>

#include <string>

// Windows only: the form of an absolute path that the wide file functions take
// past 260 characters: "\\?\" before the path with backslashes, or "\\?\UNC\"
// before a share's server and share. A relative path is made absolute against
// the working directory first.
std::wstring longPathForm(const QString& path);
