#include "hresult.h"
#include "com_error.h"
#include "win_except.h"

#include <new>

namespace tools {

HRESULT current_exception_hresult() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const _com_error& e) {
        return e.Error();
    } catch (long hr) {
        return hr;
    } catch (const win_except& e) {
        LONG code = static_cast<LONG>(e.code());
        if (code <= 0) return code;
        return static_cast<HRESULT>(0x80070000u | (e.code() & 0xFFFFu));
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace tools
