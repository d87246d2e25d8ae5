// How element objects raise failures: as thrown HRESULTs, which the exception rule passes on unchanged.
#pragma once
#include <windows.h>
#include <tools/element_wrapper.h>

[[noreturn]] inline void ThrowHresult(HRESULT hr) { throw static_cast<long>(hr); }

inline void CheckHresult(HRESULT hr) {
    if (FAILED(hr)) ThrowHresult(hr);
}

// A wrapper's last HRESULT as the failure of an operation that returned false: an operation that failed
// without recording a failure still reports one.
inline HRESULT FailureOf(const CElementWrapper& wrapper) {
    HRESULT hr = wrapper.LastResult();
    return FAILED(hr) ? hr : E_FAIL;
}

[[noreturn]] inline void ThrowFailureOf(const CElementWrapper& wrapper) { ThrowHresult(FailureOf(wrapper)); }
