// Stands in for _com_issue_errorex, which MinGW's comdef.h declares but none of its libraries defines.
#include <windows.h>
#include <comdef.h>

// Raises the COM error for hr, with the object's error information when the object says it keeps such
// information for the interface that failed (ISupportErrorInfo); the error takes over that information.
void WINAPI _com_issue_errorex(HRESULT hr, IUnknown* object, REFIID iid) {
    IErrorInfo* info = nullptr;
    if (object) {
        ISupportErrorInfo* support = nullptr;
        if (SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) && support) {
            if (support->InterfaceSupportsErrorInfo(iid) == S_OK && GetErrorInfo(0, &info) != S_OK) info = nullptr;
            support->Release();
        }
    }
    __mingw_com_error_handler(hr, info);
}
