// The server's one root object: the table of open storage files, so that every client that opens the
// same file shares one tree of element objects, with closing, defragmentation and file watching.
#pragma once
#include <windows.h>
#include <orrisafe.h>
#include <tools/com_object.h>
#include "client_impersonation.h"
#include "open_storage_table.h"

class CStorageServer final : public tools::com_object<IStorageServer> {
public:
    CStorageServer() = default;

    // The object lives as long as its class object: the counts are not kept.
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP OpenStorage(BSTR path, IStorageFolder** folder) override;
    STDMETHODIMP CloseStorage(BSTR path) override;
    STDMETHODIMP IsStorageOpen(BSTR path, VARIANT_BOOL* open) override;
    STDMETHODIMP Defragment(BSTR path) override;
    STDMETHODIMP Reserved1(VARIANT first, VARIANT second) override;
    STDMETHODIMP Reserved2(VARIANT first) override;
    STDMETHODIMP Reserved3(VARIANT first, VARIANT second) override;
    STDMETHODIMP Reserved4(VARIANT first, VARIANT second) override;
    STDMETHODIMP WatchFile(BSTR path, VARIANT_BOOL watch) override;
    STDMETHODIMP GetWatchState(BSTR path, long* state) override;

    // Cuts every client off from every open storage and closes the files. E_ACCESSDENIED when a storage
    // does not leave the table.
    HRESULT Teardown() noexcept;

    const COpenStorageTable& OpenStorages() const noexcept { return storages_; }

    // Whether the caller of the call being served may reach or close the open storage whose file is at path
    // (its full path), or start watching that file. Replaceable, so that a refusal can be tried where no caller
    // can be impersonated.
    using caller_check = bool (*)(const std::wstring& path);
    void SetCallerCheck(caller_check check) noexcept { caller_check_ = check; }

private:
    COpenStorageTable storages_{L"", nullptr, nullptr};
    caller_check caller_check_ = server::caller_may_read_and_write;
};
