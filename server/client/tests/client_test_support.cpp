#include "client_test_support.h"

#include <tools/interface_holder.h>

namespace client_testing {

void create_storage_file(const std::wstring& path) {
    tools::interface_holder<IStorage> storage;
    REQUIRE(StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.put()) == S_OK);
}

}  // namespace client_testing
