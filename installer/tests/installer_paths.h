// Where the tests find the build's distribution folder from inside Wine.
#pragma once
#include <string>

namespace installer_testing {

// The distribution folder as a Windows path (the build names it by its host path).
std::wstring dist_dir();
std::wstring dist_file(const std::wstring& name);

}  // namespace installer_testing
