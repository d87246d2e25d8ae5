// Folder and file objects used from another apartment through the type library: deleting a folder that
// a client holds cuts the client's proxies off while the server's objects go on working, and a client
// cannot reach the server's private identity of an object.
#include <doctest.h>
#include <tools/com_initializer.h>
#include <windows.h>

#include <orrisafe.h>

#include <string>

#include <open_storage_table.h>
#include <storage_object.h>
#include <tools/interface_holder.h>
#include <tools/tests/test_support.h>

#include "object_test_support.h"

using object_testing::bstr;
using object_testing::is_object_gone;
using object_testing::name_of;
using Folder = tools::interface_holder<IStorageFolder>;
using File = tools::interface_holder<IStorageFile>;

namespace {

const IID folder_self = {0xCC719A62, 0x1C92, 0x4036, {0xB6, 0x87, 0x87, 0xAD, 0x7A, 0x7E, 0x5D, 0xFE}};
const IID file_self = {0xCC719A62, 0x1C92, 0x4036, {0xB6, 0x87, 0x87, 0xAD, 0x7A, 0x7E, 0x5D, 0xFD}};

// What the client apartment saw, checked on the server's thread afterwards.
struct client_run {
    IStream* marshalled = nullptr;
    bool unmarshalled = false;
    HRESULT open_b = E_FAIL, open_a = E_FAIL, open_f = E_FAIL, write = E_FAIL;
    HRESULT self_query_folder = S_OK, self_query_file = S_OK;
    std::wstring name_after_query;
    HRESULT delete_a = E_FAIL;
    HRESULT a_after = S_OK, b_after = S_OK, f_after = S_OK, f_stream_after = S_OK;
    HRESULT root_after = E_FAIL;
    std::wstring root_listing;
    HRESULT reopen = S_OK;
};

void use_tree(client_run& run, IStorageFolder* root) {
    Folder a, b;
    File f;
    run.open_b = root->OpenFolder(bstr(L"a\\b"), VARIANT_TRUE, b.put());
    run.open_a = root->OpenFolder(bstr(L"A"), 0, a.put());
    if (!a || !b) return;
    run.open_f = b->OpenFile(bstr(L"f.txt"), VARIANT_TRUE, f.put());
    if (!f) return;
    {
        tools::interface_holder<IStream> stream;
        run.write = f->GetStream(stream.put());
        if (stream) run.write = stream->Write("data", 4, nullptr);
    }

    void* self = nullptr;
    run.self_query_folder = a->QueryInterface(folder_self, &self);
    run.self_query_file = f->QueryInterface(file_self, &self);
    // The objects asked are still whole.
    run.name_after_query = name_of(a.get()) + L"/" + name_of(b.get()) + L"/" + name_of(f.get());

    run.delete_a = root->DeleteElement(bstr(L"a"));
    BSTR name = nullptr;
    run.a_after = a->GetName(&name);
    SysFreeString(name);
    tools::interface_holder<IElementEnum> elements;
    run.b_after = b->EnumElements(elements.put());
    unsigned __int64 size = 0;
    run.f_after = f->GetSize(&size);
    tools::interface_holder<IStream> stream;
    run.f_stream_after = f->GetStream(stream.put());

    tools::interface_holder<IElementEnum> listing;
    run.root_after = root->EnumElements(listing.put());
    if (listing) {
        tools::interface_holder<IElementInfo> info;
        while (listing->Next(info.put()) == S_OK) run.root_listing += name_of(info.get()) + L";";
    }
    Folder again;
    run.reopen = root->OpenFolder(bstr(L"a"), 0, again.put());
}

DWORD WINAPI client_main(void* argument) {
    auto* run = static_cast<client_run*>(argument);
    tools::com_initializer com;
    {
        Folder root;
        if (CoGetInterfaceAndReleaseStream(run->marshalled, IID_IStorageFolder, root.put_void()) == S_OK) {
            run->unmarshalled = true;
            use_tree(*run, root.get());
        }
    }
    return 0;
}

}  // namespace

TEST_CASE("a deleted folder's proxies fail as disconnected while the server's objects go on") {
    tools::com_initializer com;
    {
        object_testing::typelib_registration registration;
        REQUIRE(registration.result() == S_OK);
        testing::scratch_dir dir;
        std::wstring path = dir.file(L"shared.orrisafe");
        object_testing::create_storage_file(path);
        COpenStorageTable table(L"", nullptr, nullptr);
        Folder root(CStorageObject::CreateRootFolder(table, path));
        REQUIRE(root);

        client_run run;
        REQUIRE(CoMarshalInterThreadInterfaceInStream(IID_IStorageFolder, root.get(), &run.marshalled) == S_OK);
        HANDLE thread = CreateThread(nullptr, 0, client_main, &run, 0, nullptr);
        REQUIRE(thread != nullptr);
        // The client's calls arrive as messages of this apartment.
        DWORD index = 0;
        CHECK(CoWaitForMultipleHandles(0, 60000, 1, &thread, &index) == S_OK);
        CloseHandle(thread);

        REQUIRE(run.unmarshalled);
        CHECK(run.open_b == S_OK);
        CHECK(run.open_a == S_OK);
        CHECK(run.open_f == S_OK);
        CHECK(run.write == S_OK);
        CHECK(run.self_query_folder == E_NOINTERFACE);
        CHECK(run.self_query_file == E_NOINTERFACE);
        CHECK(run.name_after_query == L"a/b/f.txt");
        CHECK(run.delete_a == S_OK);
        INFO("a: " << run.a_after << " b: " << run.b_after << " f: " << run.f_after);
        CHECK(is_object_gone(run.a_after));
        CHECK(is_object_gone(run.b_after));
        CHECK(is_object_gone(run.f_after));
        CHECK(is_object_gone(run.f_stream_after));
        CHECK(run.root_after == S_OK);
        CHECK(run.root_listing == L"");
        CHECK(run.reopen == STG_E_FILENOTFOUND);

        // The server side survived: the root is whole and nothing of the old tree is left open.
        CHECK(static_cast<CStorageObject*>(root.get())->Table().Empty());
        CHECK(name_of(root.get()).size() > 0);
        Folder again;
        CHECK(root->OpenFolder(bstr(L"a"), VARIANT_TRUE, again.put()) == S_OK);
        again.reset();
        root.reset();
        CHECK(table.Empty());
        CHECK(object_testing::file_is_free(path));
    }
}
