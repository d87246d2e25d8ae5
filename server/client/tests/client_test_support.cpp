#include "client_test_support.h"

#include <algorithm>

#include <server/client/server_calls.h>
#include <tools/interface_holder.h>

namespace client_testing {

void create_storage_file(const std::wstring& path) {
    tools::interface_holder<IStorage> storage;
    REQUIRE(StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.put()) == S_OK);
}

std::vector<std::wstring> listed_names(IStorageFolder* folder) {
    auto elements = EnumElementsOrThrow(folder);
    std::vector<std::wstring> names;
    while (auto info = NextOrThrow(elements.get())) names.push_back(GetNameOrThrow(info.get()).text());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace client_testing
