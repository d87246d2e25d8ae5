// The one rule by which every COM method and exported entry turns an exception into an HRESULT.
#pragma once
#include <windows.h>
#include <type_traits>

namespace tools {

// Call only inside a catch block: classifies the exception being handled.
HRESULT current_exception_hresult() noexcept;

// Throws a failed hr as itself, for code inside com_boundary; a success passes.
inline void check(HRESULT hr) {
    if (FAILED(hr)) throw static_cast<long>(hr);
}

// Runs body and returns S_OK, or the HRESULT of whatever it threw. body may also return an HRESULT.
template <class Body>
HRESULT com_boundary(Body&& body) noexcept {
    try {
        if constexpr (std::is_same_v<decltype(body()), HRESULT>)
            return body();
        else {
            body();
            return S_OK;
        }
    } catch (...) {
        return current_exception_hresult();
    }
}

}  // namespace tools
