#include <doctest.h>
#include <tools/com_object.h>
#include <tools/critical_section.h>
#include <tools/shared_holder.h>

#include <objidl.h>

namespace {

// Counts its own references, so tests can see who added one.
struct probe final : IUnknown {
    LONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
};

class persist final : public tools::com_object<IPersist>, public IOleWindow {
public:
    explicit persist(bool* destroyed) : destroyed_(destroyed) {}
    ~persist() override { *destroyed_ = true; }
    STDMETHODIMP GetClassID(CLSID* id) override {
        *id = CLSID_NULL;
        return S_OK;
    }
    // IOleWindow's IUnknown forwards to the object's one count.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return com_object::QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return com_object::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return com_object::Release(); }
    STDMETHODIMP GetWindow(HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

protected:
    void* query_own_interface(REFIID iid) override {
        return IsEqualIID(iid, IID_IOleWindow) ? static_cast<IOleWindow*>(this) : nullptr;
    }

private:
    bool* destroyed_;
};

}  // namespace

TEST_CASE("com_object counts references and destroys itself at zero") {
    bool destroyed = false;
    auto* object = new persist(&destroyed);
    CHECK(object->AddRef() == 2);
    CHECK(object->Release() == 1);
    CHECK_FALSE(destroyed);
    CHECK(object->Release() == 0);
    CHECK(destroyed);
}

namespace {
DWORD WINAPI churn_references(void* object) {
    auto* unknown = static_cast<IUnknown*>(object);
    for (int i = 0; i < 200000; ++i) {
        unknown->AddRef();
        unknown->Release();
    }
    return 0;
}
}  // namespace

TEST_CASE("com_object keeps its count exact when several threads add and release references at once") {
    bool destroyed = false;
    auto* object = new persist(&destroyed);
    HANDLE threads[4];
    for (auto& thread : threads) {
        thread = CreateThread(nullptr, 0, churn_references, static_cast<IPersist*>(object), 0, nullptr);
        REQUIRE(thread != nullptr);
    }
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) CloseHandle(thread);
    CHECK_FALSE(destroyed);
    CHECK(object->AddRef() == 2);
    object->Release();
    CHECK(object->Release() == 0);
    CHECK(destroyed);
}

TEST_CASE("com_object answers its own interfaces with a reference and refuses others") {
    bool destroyed = false;
    auto* object = new persist(&destroyed);
    void* out = reinterpret_cast<void*>(1);
    CHECK(object->QueryInterface(IID_IStream, &out) == E_NOINTERFACE);
    CHECK(out == nullptr);
    CHECK(object->QueryInterface(IID_IPersist, nullptr) == E_POINTER);

    IUnknown* unknown = nullptr;
    REQUIRE(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)) == S_OK);
    CHECK(unknown == static_cast<IPersist*>(object));
    IOleWindow* window = nullptr;
    REQUIRE(object->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window)) == S_OK);
    CHECK(window == static_cast<IOleWindow*>(object));
    CHECK(window->AddRef() == 4);  // 1 + the two answers above + this one
    window->Release();
    window->Release();
    unknown->Release();
    CHECK_FALSE(destroyed);
    object->Release();
    CHECK(destroyed);
}

TEST_CASE("com_object's tables: table 0 wins and adds a reference, table 1 adds none") {
    bool destroyed = false;
    auto* object = new persist(&destroyed);
    probe first, second, only_private;
    object->map_interface(persist::counted_table, IID_IStream, &first);
    object->map_interface(persist::private_table, IID_IStream, &second);
    object->map_interface(persist::private_table, IID_IStorage, &only_private);

    void* out = nullptr;
    REQUIRE(object->QueryInterface(IID_IStream, &out) == S_OK);
    CHECK(out == &first);
    CHECK(first.refs == 2);
    CHECK(second.refs == 1);

    REQUIRE(object->QueryInterface(IID_IStorage, &out) == S_OK);
    CHECK(out == &only_private);
    CHECK(only_private.refs == 1);
    CHECK(object->AddRef() == 2);  // the object's own count did not move either
    object->Release();

    object->unmap_interface(persist::counted_table, IID_IStream);
    REQUIRE(object->QueryInterface(IID_IStream, &out) == S_OK);
    CHECK(out == &second);
    CHECK(first.refs == 2);
    object->Release();
}

TEST_CASE("com_object releases its member interface when it is destroyed") {
    bool destroyed = false;
    auto* object = new persist(&destroyed);
    probe member;
    member.refs = 2;  // one reference is the object's
    object->member_interface().reset(&member);
    object->Release();
    CHECK(destroyed);
    CHECK(member.refs == 1);
}

namespace {
struct tracked : tools::root_object {
    explicit tracked(int* deleted) : deleted_(deleted) {}
    ~tracked() override { ++*deleted_; }
    int* deleted_;
};
}  // namespace

TEST_CASE("shared_holder shares one count and deletes through the virtual destructor") {
    int deleted = 0;
    {
        tools::shared_holder<tracked> a(new tracked(&deleted));
        CHECK(a.use_count() == 1);
        tools::shared_holder<tracked> b = a;
        CHECK(a.use_count() == 2);
        auto c = tools::shared_holder<tracked>::from_block(a.block());
        CHECK(c.get() == a.get());
        CHECK(a.use_count() == 3);
        b.release();
        CHECK_FALSE(b);
        CHECK(b.get() == nullptr);
        a = tools::shared_holder<tracked>();
        CHECK(deleted == 0);
        CHECK(c.use_count() == 1);
        tools::shared_holder<tracked> moved = std::move(c);
        CHECK_FALSE(c);
        CHECK(moved.use_count() == 1);
        tools::shared_holder<tools::root_object> base = moved;
        CHECK(base.use_count() == 2);
        CHECK(base.get() == static_cast<tools::root_object*>(moved.get()));
        moved.release();
        CHECK(deleted == 0);
    }
    CHECK(deleted == 1);
    tools::shared_holder<tracked> empty;
    CHECK(empty.use_count() == 0);
    CHECK(tools::shared_holder<tracked>::from_block(nullptr).get() == nullptr);
}

namespace {
struct contention {
    tools::critical_section* section;
    volatile LONG entered;
};
DWORD WINAPI try_enter(void* param) {
    auto* c = static_cast<contention*>(param);
    if (TryEnterCriticalSection(c->section->get())) {
        c->entered = 1;
        LeaveCriticalSection(c->section->get());
    }
    return 0;
}
bool other_thread_gets_in(contention& c) {
    c.entered = 0;
    HANDLE thread = CreateThread(nullptr, 0, try_enter, &c, 0, nullptr);
    REQUIRE(thread != nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return c.entered != 0;
}
}  // namespace

TEST_CASE("scoped_lock holds the critical section for exactly its scope") {
    tools::critical_section section;
    contention c{&section, 0};
    CHECK(other_thread_gets_in(c));
    {
        tools::scoped_lock lock(section);
        CHECK_FALSE(other_thread_gets_in(c));
    }
    CHECK(other_thread_gets_in(c));
}
