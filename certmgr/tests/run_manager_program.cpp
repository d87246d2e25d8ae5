// A launcher of our own for the tests, as an installer or a logon entry calls the manager from another process:
// run_manager <path of orricerts.dll> <mode>. Exits with RunManager's result, or 2 when the entry cannot be had.
#include <certmgr/run_manager.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    HMODULE library = LoadLibraryW(argv[1]);
    auto run = library ? reinterpret_cast<RunManagerFunction>(GetProcAddress(library, "RunManager")) : nullptr;
    if (!run) return 2;
    int result = run(static_cast<DWORD>(wcstoul(argv[2], nullptr, 10)));
    FreeLibrary(library);
    return result;
}
