#include "file_names.h"

namespace FileNames {

Qt::CaseSensitivity caseSensitivity() { return Qt::CaseSensitive; }

}  // namespace FileNames
