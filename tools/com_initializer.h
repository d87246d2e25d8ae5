// Joins the calling thread to COM for the holder's life: the one COM initialiser of every thread that uses COM.
#pragma once
#include <windows.h>

namespace tools {

enum class com_threading {
    apartment,       // a single-threaded apartment (CoInitializeEx, COINIT_APARTMENTTHREADED)
    multithreaded,   // the process's multithreaded apartment (COINIT_MULTITHREADED)
    ole,             // a single-threaded apartment with OLE (OleInitialize): controls, clipboard, drag and drop
};

class com_initializer {
public:
    // Never throws: the outcome is kept for result() and check().
    explicit com_initializer(com_threading threading = com_threading::apartment) noexcept;
    // Undoes the initialisation only when the constructor's succeeded (S_FALSE too: the thread's count rose).
    ~com_initializer();
    com_initializer(const com_initializer&) = delete;
    com_initializer& operator=(const com_initializer&) = delete;

    HRESULT result() const noexcept { return result_; }
    bool ok() const noexcept { return SUCCEEDED(result_); }
    // Throws the failure as a COM error. RPC_E_CHANGED_MODE (the thread already joined COM in another
    // threading model) carries a description that says so.
    void check() const;

private:
    com_threading threading_;
    HRESULT result_;
};

}  // namespace tools
