// The callback the folder gives the shell's default view: it names the changes the view listens to, and when the
// view lets it go, it closes the folder.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include "module_lock.h"

class CStorageShellFolder;

class CFolderViewCallback final : public tools::com_object<IShellFolderViewCB> {
public:
    // Holds a reference to the folder.
    explicit CFolderViewCallback(CStorageShellFolder* folder);
    // Closes the folder, then lets it go; failures of either are swallowed.
    ~CFolderViewCallback() override;

    // SFVM_QUERYFSNOTIFY: a clone of the folder's list, watched recursively. SFVM_GETNOTIFY: the folder's own list
    // (the folder keeps it) and every change event. Anything else, and both once the folder is gone: E_NOTIMPL.
    STDMETHODIMP MessageSFVCB(UINT message, WPARAM wparam, LPARAM lparam) override;

    // Lets the folder go without closing it: for a view that was never made, or one that did not keep the callback
    // (Wine's view releases it at once and would otherwise close the folder it is about to show).
    void Disown() noexcept;
    // Whether anyone but the caller holds the callback.
    bool HeldByOthers() noexcept;

private:
    shell::CModuleLock module_lock_;
    tools::interface_holder<CStorageShellFolder> folder_;
};

// Every change event, as SFVM_GETNOTIFY asks for them.
inline constexpr LONG folder_view_events = 0x7FFFFFFF;
