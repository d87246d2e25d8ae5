// The root object used by two clients in two other apartments through the type library: both see one
// tree of the same storage, and closing it cuts both off.
#include <doctest.h>
#include <tools/com_initializer.h>
#include <windows.h>

#include <orrisafe.h>

#include <string>

#include <server_class_factory.h>
#include <tools/interface_holder.h>
#include <tools/tests/test_support.h>

#include "object_test_support.h"

using object_testing::bstr;
using object_testing::is_object_gone;
using object_testing::name_of;
using Folder = tools::interface_holder<IStorageFolder>;
using Server = tools::interface_holder<IStorageServer>;

namespace {

struct shared_run {
    std::wstring path;
    IStream* first_marshalled = nullptr;
    IStream* second_marshalled = nullptr;
    HANDLE first_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE second_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~shared_run() {
        CloseHandle(first_ready);
        CloseHandle(second_done);
    }
    // The first client.
    HRESULT first_open = E_FAIL, first_create = E_FAIL, first_after_close = S_OK, first_root_after_close = S_OK;
    // The second client.
    HRESULT second_open = E_FAIL, second_find = E_FAIL, second_create = E_FAIL, second_close = E_FAIL;
    std::wstring second_found_name;
    VARIANT_BOOL open_before = VARIANT_FALSE, open_after = VARIANT_TRUE;
    HRESULT second_after_close = S_OK;
};

DWORD WINAPI first_client(void* argument) {
    auto* run = static_cast<shared_run*>(argument);
    tools::com_initializer com;
    {
        Server server;
        CoGetInterfaceAndReleaseStream(run->first_marshalled, IID_IStorageServer, server.put_void());
        Folder root, a;
        if (server) run->first_open = server->OpenStorage(bstr(run->path), root.put());
        if (root) run->first_create = root->OpenFolder(bstr(L"a"), VARIANT_TRUE, a.put());
        SetEvent(run->first_ready);
        WaitForSingleObject(run->second_done, 60000);
        if (a) {
            tools::interface_holder<IElementEnum> elements;
            run->first_after_close = a->EnumElements(elements.put());
        }
        if (root) {
            VARIANT_BOOL is_root;
            run->first_root_after_close = root->IsRoot(&is_root);
        }
    }
    return 0;
}

DWORD WINAPI second_client(void* argument) {
    auto* run = static_cast<shared_run*>(argument);
    tools::com_initializer com;
    {
        Server server;
        CoGetInterfaceAndReleaseStream(run->second_marshalled, IID_IStorageServer, server.put_void());
        WaitForSingleObject(run->first_ready, 60000);
        std::wstring upper = run->path;
        for (auto& c : upper) c = towupper(c);
        Folder root, a;
        if (server) {
            server->IsStorageOpen(bstr(upper), &run->open_before);
            run->second_open = server->OpenStorage(bstr(upper), root.put());
        }
        if (root) {
            tools::interface_holder<IElementInfo> info;
            run->second_find = root->FindElementInfo(bstr(L"A"), info.put());
            if (info) run->second_found_name = name_of(info.get());
            // The folder the first client holds open is taken as it is: creating it again does not fail.
            run->second_create = root->OpenFolder(bstr(L"a"), VARIANT_TRUE, a.put());
        }
        if (server) {
            run->second_close = server->CloseStorage(bstr(run->path));
            server->IsStorageOpen(bstr(run->path), &run->open_after);
        }
        if (a) {
            BSTR name = nullptr;
            run->second_after_close = a->GetName(&name);
            SysFreeString(name);
        }
        SetEvent(run->second_done);
    }
    return 0;
}

}  // namespace

TEST_CASE("two clients in other apartments share one tree, and closing the storage cuts both off") {
    tools::com_initializer com;
    {
        object_testing::typelib_registration registration;
        REQUIRE(registration.result() == S_OK);
        testing::scratch_dir dir;
        shared_run run;
        run.path = dir.file(L"two clients.orrisafe");
        object_testing::create_storage_file(run.path);
        CServerClassFactory factory;
        Server server;
        REQUIRE(factory.CreateInstance(nullptr, IID_IStorageServer, server.put_void()) == S_OK);
        REQUIRE(CoMarshalInterThreadInterfaceInStream(IID_IStorageServer, server.get(), &run.first_marshalled) == S_OK);
        REQUIRE(CoMarshalInterThreadInterfaceInStream(IID_IStorageServer, server.get(), &run.second_marshalled) == S_OK);
        HANDLE threads[2] = {CreateThread(nullptr, 0, first_client, &run, 0, nullptr),
                             CreateThread(nullptr, 0, second_client, &run, 0, nullptr)};
        REQUIRE(threads[0]);
        REQUIRE(threads[1]);
        // Both clients' calls are served here, one at a time.
        for (HANDLE thread : threads) {
            DWORD index = 0;
            CHECK(CoWaitForMultipleHandles(0, 60000, 1, &thread, &index) == S_OK);
        }
        CloseHandle(threads[0]);
        CloseHandle(threads[1]);

        CHECK(run.first_open == S_OK);
        CHECK(run.first_create == S_OK);
        CHECK(run.open_before == VARIANT_TRUE);
        CHECK(run.second_open == S_OK);
        CHECK(run.second_find == S_OK);
        CHECK(run.second_found_name == L"a");
        CHECK(run.second_create == S_OK);
        CHECK(run.second_close == S_OK);
        CHECK(run.open_after == VARIANT_FALSE);
        CHECK(is_object_gone(run.second_after_close));
        CHECK(is_object_gone(run.first_after_close));
        CHECK(is_object_gone(run.first_root_after_close));

        CHECK(factory.Server().OpenStorages().Empty());
        CHECK(object_testing::file_is_free(run.path));
        server.reset();
        CHECK(factory.Teardown() == S_OK);
    }
}
