#include <doctest.h>
#include <shell/module_lock.h>
#include <tools/com_object.h>

#include <memory>
#include <objidl.h>

namespace {

// A shell object as the DLL builds them: the COM base with the module lock as a member.
class locked_object final : public tools::com_object<IPersist> {
public:
    STDMETHODIMP GetClassID(CLSID* id) override {
        *id = CLSID_NULL;
        return S_OK;
    }

private:
    shell::CModuleLock lock_;
};

DWORD WINAPI make_and_release_objects(void*) {
    for (int i = 0; i < 20000; ++i) {
        auto* object = new locked_object;
        object->AddRef();
        object->Release();
        object->Release();
    }
    return 0;
}

}  // namespace

TEST_CASE("the module lock is held exactly as long as the objects that hold it, from any thread") {
    LONG before = shell::ModuleLockCount();
    {
        shell::CModuleLock first;
        auto copy = std::make_unique<shell::CModuleLock>(first);
        CHECK(shell::ModuleLockCount() == before + 2);
        *copy = first;  // assignment neither takes nor gives up a lock
        CHECK(shell::ModuleLockCount() == before + 2);
    }
    CHECK(shell::ModuleLockCount() == before);

    auto* object = new locked_object;
    CHECK(shell::ModuleLockCount() == before + 1);
    HANDLE threads[4];
    for (auto& thread : threads) {
        thread = CreateThread(nullptr, 0, make_and_release_objects, nullptr, 0, nullptr);
        REQUIRE(thread != nullptr);
    }
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) CloseHandle(thread);
    CHECK(shell::ModuleLockCount() == before + 1);
    object->Release();
    CHECK(shell::ModuleLockCount() == before);
}
