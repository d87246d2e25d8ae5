// The product's global mutex, which every program holds while it runs.
#pragma once
#include "auto_handle.h"

namespace tools {

// Creates or opens "Global\Orrisafe 3.0", initially owned and open to everyone. It marks that a
// program of the product runs; it is not a single-instance guard, so an existing mutex is fine.
auto_kernel_handle create_global_mutex();

}  // namespace tools
