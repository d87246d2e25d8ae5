#include <doctest.h>
#include <shell/module_lock.h>
#include <tools/com_object.h>

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

}  // namespace

TEST_CASE("the module lock is held exactly as long as the objects that hold it") {
    LONG before = shell::ModuleLockCount();
    auto* object = new locked_object;
    {
        shell::CModuleLock member;
        shell::CModuleLock copy(member);  // a copied owner is a new object with a lock of its own
        CHECK(shell::ModuleLockCount() == before + 3);
    }
    CHECK(shell::ModuleLockCount() == before + 1);
    object->AddRef();
    object->Release();
    CHECK(shell::ModuleLockCount() == before + 1);
    object->Release();
    CHECK(shell::ModuleLockCount() == before);
}
