#include "storage_file_key.h"

#include <tools/paths.h>

std::wstring StorageFileKey(const std::wstring& path) {
    std::wstring full = tools::full_path(path);
    return full.empty() ? path : full;
}
