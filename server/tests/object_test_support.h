// Helpers of the element-object tests: storage files on disk, BSTR arguments, the type library.
#pragma once
#include <tools/bstr.h>
#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <orrisafe.h>

#include <string>

#include <tools/interface_holder.h>
#include <tools/tests/compound_file.h>

namespace object_testing {

using tools::bstr;

// Errors that all say "the object you hold is gone": COM's disconnection codes and RPC's.
bool is_object_gone(HRESULT hr);

// A new, empty storage file at path.
void create_storage_file(const std::wstring& path);

// Whether nobody holds the compound file open.
using testing::file_is_free;

std::wstring name_of(IStorageElement* element);
std::wstring name_of(IElementInfo* info);

// Registers the build's type library for one test, and removes the registration again.
class typelib_registration {
public:
    typelib_registration();
    ~typelib_registration();
    typelib_registration(const typelib_registration&) = delete;
    typelib_registration& operator=(const typelib_registration&) = delete;
    HRESULT result() const { return hr_; }

private:
    tools::interface_holder<ITypeLib> lib_;
    HRESULT hr_ = E_FAIL;
};

}  // namespace object_testing
