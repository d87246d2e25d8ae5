#include "module_instance.h"

#include <atomic>

namespace shell {

namespace {
std::atomic<HINSTANCE> instance_{nullptr};
}

HINSTANCE ModuleInstance() noexcept { return instance_; }
void SetModuleInstance(HINSTANCE instance) noexcept { instance_ = instance; }

}  // namespace shell
