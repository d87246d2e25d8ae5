#include "installer_paths.h"

#include <tools/tests/test_support.h>

namespace installer_testing {

std::wstring dist_dir() {
    std::wstring dir = testing::env(L"ORRI_DIST_DIR");
    if (!dir.empty() && dir[0] == L'/') {
        // Wine maps the host's root folder as drive Z:.
        for (auto& c : dir)
            if (c == L'/') c = L'\\';
        dir = L"Z:" + dir;
    }
    return dir;
}

std::wstring dist_file(const std::wstring& name) { return dist_dir() + L"\\" + name; }

}  // namespace installer_testing
