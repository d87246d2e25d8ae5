// What the tests of the client and of the service share: storage files, listings, and the COM error a call raises.
#pragma once
#include <doctest.h>
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include <orrisafe.h>

#include <tools/com_error.h>
#include <tools/tests/test_support.h>

// A COM error that a check meets shows its HRESULT.
REGISTER_EXCEPTION_TRANSLATOR(const _com_error& e) {
    char text[48];
    wsprintfA(text, "COM error 0x%08lX", static_cast<unsigned long>(e.Error()));
    return doctest::String(text);
}

namespace client_testing {

using testing::com_apartment;

// A new, empty compound file at path.
void create_storage_file(const std::wstring& path);

// The names a folder lists through the server, sorted.
std::vector<std::wstring> listed_names(IStorageFolder* folder);

using testing::raised;

}  // namespace client_testing
