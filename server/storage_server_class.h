// The storage server's class object as the service serves it.
#pragma once
#include "service_host.h"

namespace server {

std::unique_ptr<CServedClass> make_storage_server_class();

}  // namespace server
