// The system registrar object, which applies the "REGISTRY" scripts of our modules.
#pragma once
#include <platform/registrar.h>
#include "interface_holder.h"

namespace tools {

// CoCreateInstance of the registrar (CLSCTX_ALL) for IUnknown, OleRun, then IRegistrar. Any failure throws the
// COM error with its HRESULT.
interface_holder<platform::IRegistrar> create_system_registrar();

}  // namespace tools
