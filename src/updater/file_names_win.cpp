#include "file_names.h"

namespace FileNames {

// NTFS and FAT keep the letter case of a name but find it in any case.
Qt::CaseSensitivity caseSensitivity() { return Qt::CaseInsensitive; }

}  // namespace FileNames
