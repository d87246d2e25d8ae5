// The root object and its class object over real storage files: one tree per open path, who may reach or
// close an open storage, defragmentation, the reserved methods and teardown.
#include <doctest.h>
#include <tools/com_initializer.h>
#include <windows.h>

#include <orrisafe.h>

#include <string>
#include <vector>

#include <client_impersonation.h>
#include <defragment.h>
#include <server_class_factory.h>
#include <storage_server.h>
#include <tools/auto_handle.h>
#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include <tools/paths.h>
#include <tools/security.h>
#include <tools/text.h>
#include <tools/win_except.h>
#include <sddl.h>
#include <tools/tests/test_support.h>

#include "object_test_support.h"

using object_testing::bstr;
using object_testing::is_object_gone;
using object_testing::name_of;
using Folder = tools::interface_holder<IStorageFolder>;
using File = tools::interface_holder<IStorageFile>;

namespace {

using apartment = tools::com_initializer;

struct server_fixture {
    apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"server.orrisafe");
    CServerClassFactory factory;
    tools::interface_holder<IStorageServer> server;

    server_fixture() {
        object_testing::create_storage_file(path);
        REQUIRE(factory.CreateInstance(nullptr, IID_IStorageServer, server.put_void()) == S_OK);
    }
    ~server_fixture() {
        server.reset();
        factory.Teardown();
    }
    bool is_open(const std::wstring& p) {
        VARIANT_BOOL open = 7;
        REQUIRE(server->IsStorageOpen(bstr(p), &open) == S_OK);
        return open == VARIANT_TRUE;
    }
};

ULONGLONG file_size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    REQUIRE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::wstring> leftovers(const std::wstring& dir) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*.orrisafe-defrag").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do found.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

}  // namespace

TEST_CASE("every client gets the one root object and every opener of a path the same tree") {
    server_fixture s;
    tools::interface_holder<IStorageServer> second;
    REQUIRE(s.factory.CreateInstance(nullptr, IID_IStorageServer, second.put_void()) == S_OK);
    CHECK(second.get() == s.server.get());
    tools::interface_holder<IUnknown> unknown;
    CHECK(s.factory.CreateInstance(nullptr, IID_IUnknown, unknown.put_void()) == S_OK);
    void* out = nullptr;
    CHECK(s.factory.CreateInstance(nullptr, IID_IStorageFolder, &out) == E_NOINTERFACE);
    CHECK(s.factory.AddRef() == 1);
    CHECK(s.server->AddRef() == 1);

    CHECK_FALSE(s.is_open(s.path));
    CHECK(s.server->CloseStorage(bstr(s.path)) == S_FALSE);
    Folder one, two;
    REQUIRE(s.server->OpenStorage(bstr(s.path), one.put()) == S_OK);
    std::wstring upper = s.path;
    for (auto& c : upper) c = towupper(c);
    REQUIRE(s.server->OpenStorage(bstr(upper), two.put()) == S_OK);
    CHECK(one.get() == two.get());
    CHECK(s.is_open(upper));

    Folder sub;
    REQUIRE(one->OpenFolder(bstr(L"sub"), VARIANT_TRUE, sub.put()) == S_OK);
    CHECK(s.server->CloseStorage(bstr(upper)) == S_OK);
    CHECK_FALSE(s.is_open(s.path));
    CHECK(is_object_gone(sub->EnumElements(reinterpret_cast<IElementEnum**>(&out))));
    VARIANT_BOOL root;
    CHECK(is_object_gone(one->IsRoot(&root)));
    CHECK(object_testing::file_is_free(s.path));

    // Opened afresh, with what was written before.
    Folder fresh;
    REQUIRE(s.server->OpenStorage(bstr(s.path), fresh.put()) == S_OK);
    CHECK(fresh.get() != nullptr);
    Folder again;
    CHECK(fresh->OpenFolder(bstr(L"sub"), 0, again.put()) == S_OK);
    one.reset();
    two.reset();
    sub.reset();
    again.reset();
    fresh.reset();
    CHECK_FALSE(s.is_open(s.path));
    CHECK(object_testing::file_is_free(s.path));
}

TEST_CASE("one storage file spelled other ways is one open storage") {
    server_fixture s;
    Folder first;
    REQUIRE(s.server->OpenStorage(bstr(s.path), first.put()) == S_OK);
    std::wstring dir = s.dir.path();
    std::vector<std::wstring> spellings = {L"server.orrisafe", L".\\SERVER.ORRISAFE",
                                           dir + L"\\..\\" + tools::path_file_name(dir) + L"\\server.orrisafe",
                                           dir + L"/server.orrisafe"};
    wchar_t short_path[MAX_PATH] = {};
    if (GetShortPathNameW(s.path.c_str(), short_path, MAX_PATH) && s.path != short_path) spellings.push_back(short_path);
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    REQUIRE(SetCurrentDirectoryW(dir.c_str()));
    for (const std::wstring& spelling : spellings) {
        INFO(tools::to_narrow(spelling));
        CHECK(s.is_open(spelling));
        Folder again;
        CHECK(s.server->OpenStorage(bstr(spelling), again.put()) == S_OK);
        CHECK(again.get() == first.get());
    }
    CHECK(static_cast<CStorageServer*>(s.server.get())->OpenStorages().Size() == 1);
    CHECK(s.server->CloseStorage(bstr(L"server.orrisafe")) == S_OK);
    SetCurrentDirectoryW(before);
    CHECK_FALSE(s.is_open(s.path));
    CHECK(object_testing::file_is_free(s.path));
}

// A check that denies every caller, as the real one does for a user who could not open the file.
struct denying_check {
    static inline std::vector<std::wstring> asked;
    static bool check(const std::wstring& path) {
        asked.push_back(path);
        return false;
    }
};

TEST_CASE("an open storage is handed out and closed only for a caller who could open its file") {
    server_fixture s;
    auto* root_object = static_cast<CStorageServer*>(s.server.get());
    Folder held, sub;
    REQUIRE(s.server->OpenStorage(bstr(s.path), held.put()) == S_OK);
    REQUIRE(held->OpenFolder(bstr(L"sub"), VARIANT_TRUE, sub.put()) == S_OK);

    denying_check::asked.clear();
    root_object->SetCallerCheck(denying_check::check);
    std::wstring upper = s.path;
    for (auto& c : upper) c = towupper(c);
    Folder refused;
    CHECK(s.server->OpenStorage(bstr(upper), refused.put()) == E_ACCESSDENIED);
    CHECK_FALSE(refused);
    CHECK(s.server->CloseStorage(bstr(s.path)) == E_ACCESSDENIED);
    // The storage stays open for its holder, whole.
    CHECK(s.is_open(s.path));
    VARIANT_BOOL root = VARIANT_FALSE;
    CHECK(held->IsRoot(&root) == S_OK);
    CHECK(sub->IsRoot(&root) == S_OK);
    CHECK_FALSE(object_testing::file_is_free(s.path));
    // Defragmenting it fails on the file the server holds, and cuts nobody off.
    CHECK(FAILED(s.server->Defragment(bstr(s.path))));
    CHECK(held->IsRoot(&root) == S_OK);
    // The check is asked about the file itself, however the caller spells it.
    REQUIRE(denying_check::asked.size() == 2);
    for (const std::wstring& asked : denying_check::asked) CHECK(_wcsicmp(asked.c_str(), tools::full_path(s.path).c_str()) == 0);

    // A path nobody has open is not asked about: closing it has nothing to close, and opening it opens the file
    // as the caller.
    std::wstring other = s.dir.file(L"other.orrisafe");
    object_testing::create_storage_file(other);
    CHECK(s.server->CloseStorage(bstr(other)) == S_FALSE);
    Folder fresh;
    CHECK(s.server->OpenStorage(bstr(other), fresh.put()) == S_OK);
    CHECK(denying_check::asked.size() == 2);

    // The real check: a call from inside the process comes from no other client than the process itself.
    root_object->SetCallerCheck(server::caller_may_read_and_write);
    Folder again;
    CHECK(s.server->OpenStorage(bstr(upper), again.put()) == S_OK);
    CHECK(again.get() == held.get());
    CHECK(s.server->CloseStorage(bstr(s.path)) == S_OK);
    CHECK(is_object_gone(held->IsRoot(&root)));
    CHECK(s.server->CloseStorage(bstr(other)) == S_OK);
}

TEST_CASE("a caller's token is judged against the storage file's security") {
    server_fixture s;
    // This thread's own token, as impersonating a client gives one.
    REQUIRE(ImpersonateSelf(SecurityImpersonation));
    HANDLE raw = nullptr;
    BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw);
    RevertToSelf();
    REQUIRE(opened);
    tools::auto_kernel_handle token(raw);
    auto set_dacl = [&](const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
        BOOL set = SetFileSecurityW(s.path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
        REQUIRE(set);
    };

    // Judged while the server holds the file, as it is for an open storage.
    Folder held;
    REQUIRE(s.server->OpenStorage(bstr(s.path), held.put()) == S_OK);
    CHECK(server::token_may_read_and_write(token.get(), s.path));
    set_dacl(L"D:P(A;;FR;;;WD)");  // everyone may read, nobody write
    CHECK_FALSE(server::token_may_read_and_write(token.get(), s.path));
    set_dacl(L"D:P(A;;FW;;;WD)");  // everyone may write, nobody read
    CHECK_FALSE(server::token_may_read_and_write(token.get(), s.path));
    set_dacl(L"D:P(A;;FRFW;;;WD)");
    CHECK(server::token_may_read_and_write(token.get(), s.path));
    CHECK_THROWS_AS(server::token_may_read_and_write(token.get(), s.dir.file(L"missing.orrisafe")), tools::win_except);
    set_dacl(L"D:P(A;;FA;;;WD)");
}

bool thread_impersonates() {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return false;
    CloseHandle(token);
    return true;
}

// The client of the call being served, as COM hands it to the server; here the process's own user, impersonated
// with its own token, since Wine's calls carry no client to impersonate.
class self_as_client final : public tools::com_object<IServerSecurity> {
public:
    STDMETHODIMP QueryBlanket(DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP ImpersonateClient() override { return ImpersonateSelf(SecurityImpersonation) ? S_OK : E_FAIL; }
    STDMETHODIMP RevertToSelf() override { return ::RevertToSelf() ? S_OK : E_FAIL; }
    STDMETHODIMP_(BOOL) IsImpersonating() override { return thread_impersonates(); }
};

// A storage file whose security the service may not read (on a share, or with an access list that leaves the
// service out), which Wine cannot make: readable only by an impersonated client, and by it only while allowed.
struct service_shut_out {
    static inline bool caller_may_read = true;
    static tools::byte_buffer read(const wchar_t* path) {
        if (!thread_impersonates() || !caller_may_read) throw tools::win_except(ERROR_ACCESS_DENIED);
        return tools::file_security(path);
    }
};

TEST_CASE("a caller is judged by the storage file's security as the caller reads it, also before a watch") {
    server_fixture s;
    Folder held;
    REQUIRE(s.server->OpenStorage(bstr(s.path), held.put()) == S_OK);
    server::SetFileSecurityReader(service_shut_out::read);
    service_shut_out::caller_may_read = true;
    auto* client = new self_as_client;
    IUnknown* before = nullptr;
    REQUIRE(CoSwitchCallContext(client, &before) == S_OK);

    // The owner is served where the service itself may not read the file's security.
    Folder again;
    CHECK(s.server->OpenStorage(bstr(s.path), again.put()) == S_OK);
    CHECK(again.get() == held.get());
    again.reset();
    // A caller who may not read it may not read the file: refused, without an error of the check's own, and
    // unable to make the storage count as frozen.
    service_shut_out::caller_may_read = false;
    Folder refused;
    CHECK(s.server->OpenStorage(bstr(s.path), refused.put()) == E_ACCESSDENIED);
    CHECK_FALSE(refused);
    CHECK(s.server->CloseStorage(bstr(s.path)) == E_ACCESSDENIED);
    CHECK(s.server->WatchFile(bstr(s.path), VARIANT_TRUE) == E_ACCESSDENIED);
    long state = -1;
    CHECK(s.server->GetWatchState(bstr(s.path), &state) == S_OK);
    CHECK(state == 2);
    CHECK_FALSE(thread_impersonates());
    service_shut_out::caller_may_read = true;
    CHECK(s.server->WatchFile(bstr(s.path), VARIANT_TRUE) == S_OK);
    CHECK(s.server->GetWatchState(bstr(s.path), &state) == S_OK);
    CHECK(state == 0);
    CHECK(s.server->WatchFile(bstr(s.path), VARIANT_FALSE) == S_OK);
    CHECK(s.server->CloseStorage(bstr(s.path)) == S_OK);
    VARIANT_BOOL root;
    CHECK(is_object_gone(held->IsRoot(&root)));

    IUnknown* ours = nullptr;
    CoSwitchCallContext(before, &ours);
    client->Release();
    server::SetFileSecurityReader(nullptr);
}

TEST_CASE("paths that cannot be opened leave the table unchanged") {
    server_fixture s;
    Folder folder;
    CHECK(s.server->OpenStorage(bstr(s.dir.file(L"missing.orrisafe")), folder.put()) == E_POINTER);
    CHECK_FALSE(folder);
    CHECK(s.server->OpenStorage(nullptr, folder.put()) == E_POINTER);
    CHECK(s.server->OpenStorage(bstr(s.path), nullptr) == E_POINTER);
    CHECK_FALSE(s.is_open(s.dir.file(L"missing.orrisafe")));
    CHECK(s.server.get() != nullptr);
    CHECK(static_cast<CStorageServer*>(s.server.get())->OpenStorages().Empty());
    // Held by another opener.
    IStorage* held = nullptr;
    REQUIRE(StgOpenStorageEx(s.path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0, nullptr, nullptr,
                             IID_IStorage, reinterpret_cast<void**>(&held)) == S_OK);
    CHECK(s.server->OpenStorage(bstr(s.path), folder.put()) == E_POINTER);
    held->Release();
    CHECK(static_cast<CStorageServer*>(s.server.get())->OpenStorages().Empty());
}

TEST_CASE("the reserved methods are not implemented and an unwatched path reads as not watched") {
    server_fixture s;
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    a.vt = VT_I4;
    a.lVal = 3;
    CHECK(s.server->Reserved1(a, b) == E_NOTIMPL);
    CHECK(s.server->Reserved2(a) == E_NOTIMPL);
    CHECK(s.server->Reserved3(b, a) == E_NOTIMPL);
    CHECK(s.server->Reserved4(a, a) == E_NOTIMPL);
    long state = -1;
    CHECK(s.server->GetWatchState(bstr(s.dir.file(L"never.orrisafe")), &state) == S_OK);
    CHECK(state == 2);
}

TEST_CASE("defragmentation rewrites a closed storage compactly and keeps its contents") {
    server_fixture s;
    {
        Folder root;
        REQUIRE(s.server->OpenStorage(bstr(s.path), root.put()) == S_OK);
        for (int i = 0; i < 20; ++i) {
            File file;
            REQUIRE(root->OpenFile(bstr(L"big" + std::to_wstring(i)), VARIANT_TRUE, file.put()) == S_OK);
            tools::interface_holder<IStream> stream;
            REQUIRE(file->GetStream(stream.put()) == S_OK);
            std::string block(20000, static_cast<char>('a' + i));
            REQUIRE(stream->Write(block.data(), static_cast<ULONG>(block.size()), nullptr) == S_OK);
        }
        File kept;
        REQUIRE(root->OpenFile(bstr(L"kept.txt"), VARIANT_TRUE, kept.put()) == S_OK);
        tools::interface_holder<IStream> stream;
        REQUIRE(kept->GetStream(stream.put()) == S_OK);
        REQUIRE(stream->Write("kept", 4, nullptr) == S_OK);
        stream.reset();
        kept.reset();
        for (int i = 0; i < 20; ++i) REQUIRE(root->DeleteElement(bstr(L"big" + std::to_wstring(i))) == S_OK);

        // Open in the server: the copy cannot be made and nothing changes.
        ULONGLONG before = file_size(s.path);
        CHECK(FAILED(s.server->Defragment(bstr(s.path))));
        CHECK(file_size(s.path) == before);
        CHECK(leftovers(s.dir.path()).empty());
        CHECK(s.server->CloseStorage(bstr(s.path)) == S_OK);
    }
    SetFileAttributesW(s.path.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    DWORD attributes = GetFileAttributesW(s.path.c_str());
    ULONGLONG before = file_size(s.path);
    CHECK(s.server->Defragment(bstr(s.path)) == S_OK);
    CHECK(file_size(s.path) < before);
    CHECK(GetFileAttributesW(s.path.c_str()) == attributes);
    CHECK(leftovers(s.dir.path()).empty());

    Folder root;
    REQUIRE(s.server->OpenStorage(bstr(s.path), root.put()) == S_OK);
    File kept;
    REQUIRE(root->OpenFile(bstr(L"kept.txt"), 0, kept.put()) == S_OK);
    CHECK(name_of(kept.get()) == L"kept.txt");
    tools::interface_holder<IStream> stream;
    REQUIRE(kept->GetStream(stream.put()) == S_OK);
    char text[8] = {};
    ULONG read = 0;
    CHECK(stream->Read(text, sizeof text, &read) == S_OK);
    CHECK(std::string(text, read) == "kept");
    File gone;
    CHECK(root->OpenFile(bstr(L"big0"), 0, gone.put()) == STG_E_FILENOTFOUND);

    CHECK(s.server->Defragment(bstr(s.dir.file(L"missing.orrisafe"))) == E_INVALIDARG);
    // Not a compound file: refused, left as it was, nothing left behind.
    std::wstring text_file = s.dir.file(L"plain.txt");
    HANDLE h = CreateFileW(text_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, "plain", 5, &written, nullptr);
    CloseHandle(h);
    CHECK(FAILED(s.server->Defragment(bstr(text_file))));
    CHECK(file_size(text_file) == 5);
    CHECK(leftovers(s.dir.path()).empty());
}

TEST_CASE("the copy a crash left of a defragmentation goes at the storage's next open or defragmentation, no other file") {
    server_fixture s;
    auto leave = [](const std::wstring& file) {
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, nullptr);
        REQUIRE(h != INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(h, "cut short", 9, &written, nullptr);
        CloseHandle(h);
    };
    auto exists = [](const std::wstring& file) { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; };
    // Another storage's copy, a copy of unknown origin and a user's file with the same ending stay.
    std::vector<std::wstring> others = {DefragTempFile(s.dir.file(L"other.orrisafe")),
                                        s.dir.file(tools::guid_to_string(tools::new_guid()) + L".orrisafe-defrag"),
                                        s.dir.file(L"notes.orrisafe-defrag")};
    for (const auto& other : others) leave(other);
    std::wstring copy = DefragTempFile(s.path);
    CHECK(copy.substr(0, s.dir.path().size() + 2) == s.dir.path() + L"\\{");
    CHECK(copy == DefragTempFile(s.dir.file(L"SERVER.orrisafe")));

    leave(copy);
    Folder root;
    REQUIRE(s.server->OpenStorage(bstr(s.path), root.put()) == S_OK);
    CHECK_FALSE(exists(copy));
    CHECK(s.server->CloseStorage(bstr(s.path)) == S_OK);
    leave(copy);
    CHECK(s.server->Defragment(bstr(s.path)) == S_OK);
    CHECK_FALSE(exists(copy));
    for (const auto& other : others) CHECK(exists(other));
    CHECK(leftovers(s.dir.path()).size() == others.size());
}

std::wstring security_text(const std::wstring& path) {
    tools::byte_buffer descriptor = tools::file_security(path.c_str());
    LPWSTR text = nullptr;
    REQUIRE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor.data(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        &text, nullptr));
    std::wstring result = text;
    LocalFree(text);
    return result;
}

// Sees the copy as it is filled and just before it takes the storage's place, and may put a file under its name
// just before it is made.
struct defragment_watch {
    static inline bool plant = false;
    static inline DWORD attributes = 0;
    static inline std::wstring security, filling_security;
    static void hook(server::DefragmentStep step, const std::wstring& copy) {
        if (step == server::DefragmentStep::creating_copy && plant) {
            HANDLE h = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            DWORD written = 0;
            WriteFile(h, "planted", 7, &written, nullptr);
            CloseHandle(h);
        }
        if (step == server::DefragmentStep::filling_copy) filling_security = security_text(copy);
        if (step == server::DefragmentStep::replacing_storage) {
            attributes = GetFileAttributesW(copy.c_str());
            security = security_text(copy);
        }
    }
};

TEST_CASE("a defragmented storage keeps its access list and attributes, and its copy is made only where nothing stands") {
    server_fixture s;
    // Closed to all but its owner and the system, as an owner closes a storage in a shared folder.
    HANDLE token = nullptr;
    REQUIRE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    tools::auto_kernel_handle process_token(token);
    alignas(TOKEN_USER) BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    REQUIRE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    LPWSTR sid = nullptr;
    REQUIRE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
    std::wstring sddl = L"D:P(A;;FA;;;SY)(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR closed = nullptr;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &closed, nullptr));
    BOOL set = SetFileSecurityW(s.path.c_str(), DACL_SECURITY_INFORMATION, closed);
    LocalFree(closed);
    REQUIRE(set);
    REQUIRE(SetFileAttributesW(s.path.c_str(), FILE_ATTRIBUTE_NORMAL));
    const std::wstring security = security_text(s.path);
    const DWORD attributes = GetFileAttributesW(s.path.c_str());
    std::wstring copy = DefragTempFile(s.path);

    server::DefragmentHook before = server::SetDefragmentHook(defragment_watch::hook);
    CHECK(s.server->Defragment(bstr(s.path)) == S_OK);
    CHECK(security_text(s.path) == security);
    CHECK(GetFileAttributesW(s.path.c_str()) == attributes);
    // The copy was the storage's own before it took the storage's place: no crash there leaves it otherwise.
    CHECK(defragment_watch::attributes == attributes);
    CHECK(defragment_watch::security == security);
    // And closed to others before any of the storage's contents went into it.
    CHECK(defragment_watch::filling_security == security);

    // A file put under the copy's name once the leftover is gone fails the defragmentation and stays as it was.
    defragment_watch::plant = true;
    ULONGLONG storage_size = file_size(s.path);
    CHECK(FAILED(s.server->Defragment(bstr(s.path))));
    defragment_watch::plant = false;
    server::SetDefragmentHook(before);
    CHECK(file_size(copy) == 7);
    CHECK(file_size(s.path) == storage_size);
    CHECK(DeleteFileW(copy.c_str()));

    // A read-only storage is refused before any work: the platform replaces no read-only file.
    REQUIRE(SetFileAttributesW(s.path.c_str(), FILE_ATTRIBUTE_READONLY));
    CHECK(s.server->Defragment(bstr(s.path)) == E_ACCESSDENIED);
    CHECK(leftovers(s.dir.path()).empty());
    SetFileAttributesW(s.path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_CASE("teardown cuts every client off and closes every storage") {
    apartment com;
    testing::scratch_dir dir;
    std::wstring first = dir.file(L"one.orrisafe"), second = dir.file(L"two.orrisafe");
    object_testing::create_storage_file(first);
    object_testing::create_storage_file(second);
    CServerClassFactory factory;
    tools::interface_holder<IStorageServer> server;
    REQUIRE(factory.CreateInstance(nullptr, IID_IStorageServer, server.put_void()) == S_OK);
    Folder a, b, child;
    File file;
    REQUIRE(server->OpenStorage(bstr(first), a.put()) == S_OK);
    REQUIRE(server->OpenStorage(bstr(second), b.put()) == S_OK);
    REQUIRE(b->OpenFolder(bstr(L"x\\y"), VARIANT_TRUE, child.put()) == S_OK);
    REQUIRE(child->OpenFile(bstr(L"f"), VARIANT_TRUE, file.put()) == S_OK);
    CHECK(factory.Teardown() == S_OK);
    CHECK(factory.Server().OpenStorages().Empty());
    CHECK(object_testing::file_is_free(first));
    CHECK(object_testing::file_is_free(second));
    unsigned __int64 size = 0;
    CHECK(is_object_gone(file->GetSize(&size)));
    VARIANT_BOOL root;
    CHECK(is_object_gone(a->IsRoot(&root)));
}
