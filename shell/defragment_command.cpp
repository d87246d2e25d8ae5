#include "defragment_command.h"

#include <algorithm>
#include <string>

#include <platform/dialog_framework.h>
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <tools/auto_handle.h>
#include <tools/bstr.h>
#include <tools/com_initializer.h>
#include <tools/hresult.h>
#include <tools/win_except.h>

#include "message_boxes.h"
#include "storage_analysis.h"
#include "storage_commands_resources.h"
#include "storage_freeze.h"
#include "storage_freeze_query.h"
#include "wait_dialog.h"

namespace shell {

namespace {

// Each run has its own dialog, so the dialog's private messages cannot reach another run.
constexpr UINT done_message = WM_APP + 1;
constexpr UINT failure_message = WM_APP + 2;  // wParam: the failure's HRESULT; lParam: the heading

// Each worker reports no sooner than this, so the wait dialog stands long enough to be read.
constexpr DWORD least_wait_ms = 2000;

struct AnalysisContext;
using PhaseWork = void (*)(AnalysisContext&);

struct AnalysisContext {
    std::wstring path;
    bool frozen_before = false;
    CommandThreadStarter start_thread = nullptr;
    FreezeSetter set_freeze = nullptr;
    ULONGLONG file_size = 0;  // less the fixed overhead
    ULONGLONG used = 0;
    bool analysis_done = false;
    bool defragmentation_done = false;
    // The phase under way.
    HWND dialog = nullptr;
    PhaseWork work = nullptr;
    const wchar_t* failure_heading = nullptr;
    HRESULT unfreeze_failure = S_OK;
    tools::auto_kernel_handle thread;
};

void Analyse(AnalysisContext& context) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    tools::check_win(GetFileAttributesExW(context.path.c_str(), GetFileExInfoStandard, &attributes));
    ULARGE_INTEGER size;
    size.LowPart = attributes.nFileSizeLow;
    size.HighPart = attributes.nFileSizeHigh;
    context.file_size = ComparableFileSize(size.QuadPart);
    context.used = std::min(OpenCompoundFile(context.path), context.file_size);
    context.analysis_done = true;
}

void Defragment(AnalysisContext& context) {
    DefragmentOrThrow(ConnectServer().get(), tools::bstr(context.path));
    context.defragmentation_done = true;
}

// A phase's thread: the storage frozen around the work unless it was frozen before, the outcome posted to the
// phase's dialog. Nothing leaves it.
unsigned __stdcall PhaseThread(void* argument) {
    auto& context = *static_cast<AnalysisContext*>(argument);
    HRESULT failure = S_OK;
    {
        tools::com_initializer com;
        bool froze = false, freeze_unfinished = false;
        failure = tools::com_boundary([&] {
            com.check();
            if (!context.frozen_before) {
                freeze_unfinished = true;
                froze = !context.set_freeze(context.path, true);
                freeze_unfinished = false;
            }
            context.work(context);
        });
        // Only what this phase froze is unfrozen: a storage frozen meanwhile (from another window) stays so. A
        // freeze that failed midway is undone too, quietly: its own failure is the one reported.
        if (froze || freeze_unfinished) {
            HRESULT unfrozen = tools::com_boundary([&] { context.set_freeze(context.path, false); });
            if (froze) context.unfreeze_failure = unfrozen;
        }
        Sleep(least_wait_ms);
        if (FAILED(failure))
            PostMessageW(context.dialog, failure_message, static_cast<WPARAM>(failure),
                         reinterpret_cast<LPARAM>(context.failure_heading));
        else
            PostMessageW(context.dialog, done_message, 0, 0);
    }
    return 0;
}

BOOL PhaseDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, void* argument) {
    auto& context = *static_cast<AnalysisContext*>(argument);
    switch (message) {
    case WM_INITDIALOG: {
        context.dialog = dialog;
        SetLastError(ERROR_SUCCESS);
        HANDLE thread = context.start_thread(PhaseThread, &context);
        if (!thread) {
            // Nothing will end the dialog but us.
            DWORD error = GetLastError();
            ShowErrorBox(dialog, error ? error : ERROR_NOT_ENOUGH_MEMORY, context.failure_heading);
            EndDialog(dialog, 0);
            return TRUE;
        }
        context.thread = tools::auto_kernel_handle(thread);
        return TRUE;
    }
    case done_message:
        EndDialog(dialog, 0);
        return TRUE;
    case failure_message:
        ShowErrorBox(dialog, static_cast<DWORD>(wparam), reinterpret_cast<const wchar_t*>(lparam));
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

// One phase behind its wait dialog; returns once its thread has ended, false when the storage that the phase froze
// could not be unfrozen again (which has then been shown: the command ends there).
bool RunPhase(HWND owner, AnalysisContext& context, PhaseWork work, const wchar_t* caption, const wchar_t* text,
              WORD animation, const wchar_t* failure_heading) {
    context.work = work;
    context.failure_heading = failure_heading;
    context.unfreeze_failure = S_OK;
    WaitDialogParams params{caption, text, animation, platform::this_module(), PhaseDialogProc, &context};
    {
        struct joined {
            AnalysisContext& context;
            ~joined() {
                if (context.thread) WaitForSingleObject(context.thread.get(), INFINITE);
                context.thread.reset();
            }
        } join{context};
        ShowWaitDialog(owner, params);
    }
    if (SUCCEEDED(context.unfreeze_failure)) return true;
    ShowErrorBox(owner, static_cast<DWORD>(context.unfreeze_failure), L"Unable to unfreeze the storage.");
    return false;
}

HANDLE StartThread(unsigned(__stdcall* body)(void*), void* argument) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, body, argument, 0, nullptr));
}

}  // namespace

void DefragmentStorage(HWND owner, const std::wstring& path) { DefragmentStorage(owner, path, StartThread); }

void DefragmentStorage(HWND owner, const std::wstring& path, CommandThreadStarter start_thread,
                       FreezeSetter set_freeze) {
    owner = BoxOwner(owner);
    AnalysisContext context;
    context.path = path;
    context.frozen_before = IsStorageFrozenAtPath(path);
    context.start_thread = start_thread;
    context.set_freeze = set_freeze;
    if (!RunPhase(owner, context, Analyse, L"Analysis in progress",
                  L"Please wait several minutes until analysis process will finish...", IDR_ANALYSIS_ANIMATION,
                  L"Unable to analyse the storage") ||
        !context.analysis_done)
        return;

    const ULONGLONG percent = FragmentationPercent(context.file_size, context.used);
    const bool offer = percent > defragmentation_threshold;
    std::wstring text = L"Storage is fragmented on " + std::to_wstring(percent) + L"%.\n" +
                        (offer ? L"To start defragmentation press OK.\n\nNote: The storage will be temporary frozen."
                               : L"It does not need deframentation.");
    int answer = MessageBoxW(owner, text.c_str(), box_caption, offer ? MB_YESNO | MB_ICONWARNING : MB_ICONINFORMATION);
    if (answer != IDYES) return;

    if (RunPhase(owner, context, Defragment, L"Defragmentation is in progress...",
                 L"Please wait several minutes until defragmentation will finish...", IDR_DEFRAGMENTATION_ANIMATION,
                 L"Unable to defragment storage") &&
        context.defragmentation_done)
        MessageBoxW(owner, L"Defragmentation has finished successfully", box_caption, MB_ICONINFORMATION);
}

}  // namespace shell
