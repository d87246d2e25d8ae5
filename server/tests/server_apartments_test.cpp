// The root object used by two clients in two other apartments through the type library: both see one
// tree of the same storage, and closing it cuts both off.
#include <doctest.h>
#include <tools/com_initializer.h>
#include <windows.h>

#include <orrisafe.h>

#include <string>

#include <platform/reused_stubs.h>
#include <server/idl/storage_identities.h>
#include <server_class_factory.h>
#include <storage_object.h>
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

// Bytes in use in all of this process's heaps.
size_t heap_bytes_in_use() {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    size_t busy = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return busy;
}

// A stub made for object, as when it is handed to a client, and let go of again.
HRESULT hand_out_and_let_go(REFIID iid, IUnknown* object) {
    tools::interface_holder<IStream> data;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, data.put());
    if (SUCCEEDED(hr)) hr = CoMarshalInterface(data.get(), iid, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL);
    if (FAILED(hr)) return hr;
    data->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    return CoReleaseMarshalData(data.get());
}

}  // namespace

// Wine's stub of an interface derived from another than IUnknown leaves a table behind whenever it is made after one
// went, and the server hands out new folder and file objects for every walk of a storage.
TEST_CASE("folders and files handed out again and again reuse their stubs, and leave nothing behind") {
    tools::com_initializer com;
    {
        object_testing::typelib_registration registration;
        REQUIRE(registration.result() == S_OK);
        testing::scratch_dir dir;
        std::wstring path = dir.file(L"walked.orrisafe");
        object_testing::create_storage_file(path);
        platform::reused_stubs stubs(CLSID_ServerReusedStubs, {IID_IStorageFolder, IID_IStorageFile});
        COpenStorageTable table(L"", nullptr, nullptr);
        Folder root(CStorageObject::CreateRootFolder(table, path));
        REQUIRE(root);
        auto open_file = [&](VARIANT_BOOL create) {
            tools::interface_holder<IStorageFile> file;
            root->OpenFile(bstr(L"f.txt"), create, file.put());
            return file;
        };
        REQUIRE(open_file(VARIANT_TRUE));
        // The first round makes what every later one finds made.
        auto walk = [&] {
            auto file = open_file(VARIANT_FALSE);
            return file && hand_out_and_let_go(IID_IStorageFile, file.get()) == S_OK &&
                   hand_out_and_let_go(IID_IStorageFolder, root.get()) == S_OK;
        };
        REQUIRE(walk());
        size_t before = heap_bytes_in_use();
        int walked = 0;
        for (int i = 0; i < 200; ++i) walked += walk() ? 1 : 0;
        size_t after = heap_bytes_in_use();
        CHECK(walked == 200);
        INFO("heap bytes before " << before << ", after " << after);
        CHECK(after < before + 16384);
        CHECK(stubs.made() == 2);
        CHECK(stubs.kept() == 2);
    }
}

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
