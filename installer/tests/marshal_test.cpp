// Every method of the family crosses an apartment boundary through the type-library marshaller
// with its values unchanged: stand-in objects on this thread, a client on a second apartment.
#include <doctest.h>
#include <tools/com_initializer.h>
#include <windows.h>
#include <oleauto.h>

#include <orrisafe.h>
#include <server/idl/storage_identities.h>
#include <tools/bstr.h>

#include <cstring>
#include <string>
#include <vector>

#include "typelib_registration.h"

namespace {

// What the objects on the owning thread were called with, in call order.
struct journal {
    DWORD owner = GetCurrentThreadId();
    bool foreign_thread = false;
    std::vector<std::wstring> calls;
    ElementTimes times_set{};
    void add(const std::wstring& call) {
        if (GetCurrentThreadId() != owner) foreign_thread = true;
        calls.push_back(call);
    }
};

const ElementTimes sample_times = {{0x11111111, 0x01D00001}, {0x22222222, 0x01D00002}, {0x33333333, 0x01D00003}};
const ElementTimes other_times = {{0x44444444, 0x01C00004}, {0x55555555, 0x01C00005}, {0x66666666, 0x01C00006}};
const unsigned __int64 sample_size = 0x123456789ABCDEF0ull;
// MD5 of "0123456789", in MD5's own byte order.
const unsigned char sample_digest[16] = {0x78, 0x1e, 0x5e, 0x24, 0x5d, 0x69, 0xb5, 0x66,
                                         0x97, 0x9b, 0x86, 0xe2, 0x8d, 0x23, 0xf2, 0xc7};
const wchar_t sample_name[] = L"Ber\u00e4t \u2713.txt";
const char stream_text[] = "the file's contents";

std::wstring guid_text(const GUID& g) {
    wchar_t buf[40];
    StringFromGUID2(g, buf, 40);
    return buf;
}

std::wstring bstr_text(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : L"<null>"; }

std::wstring variant_text(const VARIANT& v) {
    switch (v.vt) {
    case VT_I4: return L"I4:" + std::to_wstring(v.lVal);
    case VT_BSTR: return L"BSTR:" + bstr_text(v.bstrVal);
    case VT_BOOL: return L"BOOL:" + std::to_wstring(v.boolVal);
    case VT_EMPTY: return L"EMPTY";
    default: return L"VT:" + std::to_wstring(v.vt);
    }
}

// One line per call, readable when a comparison fails.
std::string joined(const std::vector<std::wstring>& lines) {
    std::string all;
    for (const auto& line : lines) {
        for (wchar_t c : line) all += c < 128 ? static_cast<char>(c) : '?';
        all += '\n';
    }
    return all;
}

bool same_times(const ElementTimes& a, const ElementTimes& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// IUnknown of the stand-ins; T lists the interfaces an object answers.
template <class I>
class stand_in : public I {
public:
    explicit stand_in(journal& j) : log(j) {}
    virtual ~stand_in() = default;
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG r = InterlockedDecrement(&refs_);
        if (r == 0) delete this;
        return r;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !answers(iid)) return E_NOINTERFACE;
        *out = static_cast<I*>(this);
        AddRef();
        return S_OK;
    }

protected:
    virtual bool answers(REFIID iid) const = 0;
    journal& log;

private:
    LONG refs_ = 1;
};

class info_stand_in : public stand_in<IElementInfo> {
public:
    info_stand_in(journal& j, const wchar_t* name) : stand_in(j), name_(name) {}
    HRESULT STDMETHODCALLTYPE GetType(long* type) override { *type = FolderElementType; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetName(BSTR* name) override { *name = SysAllocString(name_); return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTimes(ElementTimes* times) override { *times = sample_times; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSize(UINT64* size) override { *size = sample_size; return S_OK; }

private:
    bool answers(REFIID iid) const override { return IsEqualIID(iid, IID_IElementInfo); }
    const wchar_t* name_;
};

class enum_stand_in : public stand_in<IElementEnum> {
public:
    using stand_in::stand_in;
    HRESULT STDMETHODCALLTYPE Next(IElementInfo** info) override {
        *info = nullptr;
        static const wchar_t* names[] = {L"first", L"second"};
        if (position_ == 2) return S_FALSE;
        *info = new info_stand_in(log, names[position_++]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { position_ = 0; return S_OK; }

private:
    bool answers(REFIID iid) const override { return IsEqualIID(iid, IID_IElementEnum); }
    int position_ = 0;
};

// The element methods shared by folders and files.
template <class I>
class element_stand_in : public stand_in<I> {
public:
    element_stand_in(journal& j, long type) : stand_in<I>(j), type_(type) {}
    HRESULT STDMETHODCALLTYPE GetType(long* type) override { *type = type_; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetName(BSTR* name) override { *name = SysAllocString(sample_name); return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTimes(ElementTimes* times) override { *times = sample_times; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSize(UINT64* size) override { *size = sample_size; return S_OK; }
    HRESULT STDMETHODCALLTYPE DetachParent(IStorageFolder** parent) override { *parent = nullptr; return S_FALSE; }
    HRESULT STDMETHODCALLTYPE GetProperty(GUID key, VARIANT* value) override {
        this->log.add(L"GetProperty " + guid_text(key));
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(guid_text(key).c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProperty(GUID key, VARIANT value) override {
        this->log.add(L"SetProperty " + guid_text(key) + L" " + variant_text(value));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DeleteProperty(GUID key) override {
        this->log.add(L"DeleteProperty " + guid_text(key));
        return S_OK;
    }

protected:
    bool answers(REFIID iid) const override { return IsEqualIID(iid, IID_IStorageElement); }

private:
    long type_;
};

class file_stand_in : public element_stand_in<IStorageFile> {
public:
    explicit file_stand_in(journal& j) : element_stand_in(j, FileElementType) {}
    HRESULT STDMETHODCALLTYPE SetTimes(ElementTimes times) override {
        log.add(L"SetTimes");
        log.times_set = times;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStream(IStream** stream) override {
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(stream_text) - 1);
        std::memcpy(GlobalLock(memory), stream_text, sizeof(stream_text) - 1);
        GlobalUnlock(memory);
        return CreateStreamOnHGlobal(memory, TRUE, stream);
    }
    HRESULT STDMETHODCALLTYPE GetDigest(StreamDigest* digest) override {
        std::memcpy(digest, sample_digest, sizeof sample_digest);
        return S_OK;
    }

private:
    bool answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IStorageFile) || element_stand_in::answers(iid);
    }
};

class folder_stand_in : public element_stand_in<IStorageFolder> {
public:
    explicit folder_stand_in(journal& j) : element_stand_in(j, FolderElementType) {}
    HRESULT STDMETHODCALLTYPE IsRoot(VARIANT_BOOL* root) override { *root = VARIANT_TRUE; return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumElements(IElementEnum** elements) override {
        *elements = new enum_stand_in(log);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenFolder(BSTR name, VARIANT_BOOL create, IStorageFolder** folder) override {
        log.add(L"OpenFolder " + bstr_text(name) + L" " + std::to_wstring(create));
        *folder = new folder_stand_in(log);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenFile(BSTR name, VARIANT_BOOL create, IStorageFile** file) override {
        log.add(L"OpenFile " + bstr_text(name) + L" " + std::to_wstring(create));
        *file = new file_stand_in(log);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RenameElement(BSTR old_name, BSTR new_name) override {
        log.add(L"RenameElement " + bstr_text(old_name) + L" " + bstr_text(new_name));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DeleteElement(BSTR name) override {
        log.add(L"DeleteElement " + bstr_text(name));
        return STG_E_INVALIDNAME;
    }
    HRESULT STDMETHODCALLTYPE FindElement(BSTR path, IStorageElement** element) override {
        log.add(L"FindElement " + bstr_text(path));
        *element = new file_stand_in(log);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindElementInfo(BSTR path, IElementInfo** info) override {
        log.add(L"FindElementInfo " + bstr_text(path));
        *info = nullptr;
        return E_NOINTERFACE;
    }

private:
    bool answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_IStorageFolder) || element_stand_in::answers(iid);
    }
};

class server_stand_in : public stand_in<IStorageServer> {
public:
    using stand_in::stand_in;
    HRESULT STDMETHODCALLTYPE OpenStorage(BSTR path, IStorageFolder** folder) override {
        log.add(L"OpenStorage " + bstr_text(path));
        *folder = new folder_stand_in(log);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CloseStorage(BSTR path) override {
        log.add(L"CloseStorage " + bstr_text(path));
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE IsStorageOpen(BSTR, VARIANT_BOOL* open) override { *open = VARIANT_TRUE; return S_OK; }
    HRESULT STDMETHODCALLTYPE Defragment(BSTR path) override {
        log.add(L"Defragment " + bstr_text(path));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved1(VARIANT a, VARIANT b) override { return reserved(1, a, &b); }
    HRESULT STDMETHODCALLTYPE Reserved2(VARIANT a) override { return reserved(2, a, nullptr); }
    HRESULT STDMETHODCALLTYPE Reserved3(VARIANT a, VARIANT b) override { return reserved(3, a, &b); }
    HRESULT STDMETHODCALLTYPE Reserved4(VARIANT a, VARIANT b) override { return reserved(4, a, &b); }
    HRESULT STDMETHODCALLTYPE WatchFile(BSTR path, VARIANT_BOOL watch) override {
        log.add(L"WatchFile " + bstr_text(path) + L" " + std::to_wstring(watch));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWatchState(BSTR, long* state) override { *state = 2; return S_OK; }

private:
    bool answers(REFIID iid) const override { return IsEqualIID(iid, IID_IStorageServer); }
    HRESULT reserved(int n, const VARIANT& a, const VARIANT* b) {
        log.add(L"Reserved" + std::to_wstring(n) + L" " + variant_text(a) + (b ? L" " + variant_text(*b) : L""));
        return E_NOTIMPL;
    }
};

using tools::bstr;

// The text of a BSTR the call handed out, which is freed.
std::wstring take(BSTR b) { return bstr_text(bstr::attach(b)); }

const GUID& comment_key = CommentProperty;

struct client_run {
    IStream* marshalled = nullptr;
    IStorageServer* original = nullptr;
};

// The client side: every call goes through the proxies of the second apartment.
void use_family(IStorageServer* server, IStorageServer* original) {
    CHECK(server != original);
    bstr path(L"C:\\data\\a.orrisafe");
    IStorageFolder* root = nullptr;
    REQUIRE(server->OpenStorage(path, &root) == S_OK);
    REQUIRE(root != nullptr);
    CHECK(server->CloseStorage(path) == S_FALSE);
    VARIANT_BOOL open = VARIANT_FALSE;
    CHECK(server->IsStorageOpen(path, &open) == S_OK);
    CHECK(open == VARIANT_TRUE);
    CHECK(server->Defragment(path) == S_OK);
    VARIANT number, text;
    VariantInit(&number);
    VariantInit(&text);
    number.vt = VT_I4;
    number.lVal = 7;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"x");
    CHECK(server->Reserved1(number, text) == E_NOTIMPL);
    CHECK(server->Reserved2(text) == E_NOTIMPL);
    CHECK(server->Reserved3(text, number) == E_NOTIMPL);
    CHECK(server->Reserved4(number, number) == E_NOTIMPL);
    CHECK(server->WatchFile(path, 1) == S_OK);
    long state = 0;
    CHECK(server->GetWatchState(path, &state) == S_OK);
    CHECK(state == 2);

    long type = 0;
    CHECK(root->GetType(&type) == S_OK);
    CHECK(type == FolderElementType);
    BSTR name = nullptr;
    CHECK(root->GetName(&name) == S_OK);
    CHECK(take(name) == sample_name);
    VARIANT_BOOL is_root = VARIANT_FALSE;
    CHECK(root->IsRoot(&is_root) == S_OK);
    CHECK(is_root == VARIANT_TRUE);

    IStorageFolder* sub = nullptr;
    CHECK(root->OpenFolder(bstr(L"a\\b"), 1, &sub) == S_OK);
    REQUIRE(sub != nullptr);
    sub->Release();
    CHECK(root->OpenFolder(bstr(L"c"), VARIANT_TRUE, &sub) == S_OK);
    REQUIRE(sub != nullptr);
    CHECK(sub->GetType(&type) == S_OK);
    CHECK(type == FolderElementType);
    sub->Release();

    IStorageFile* file = nullptr;
    REQUIRE(root->OpenFile(bstr(L"x.txt"), VARIANT_FALSE, &file) == S_OK);
    REQUIRE(file != nullptr);
    CHECK(file->GetType(&type) == S_OK);
    CHECK(type == FileElementType);
    ElementTimes times{};
    CHECK(file->GetTimes(&times) == S_OK);
    CHECK(same_times(times, sample_times));
    UINT64 size = 0;
    CHECK(file->GetSize(&size) == S_OK);
    CHECK(size == sample_size);
    StreamDigest digest{};
    CHECK(file->GetDigest(&digest) == S_OK);
    CHECK(std::memcmp(&digest, sample_digest, 16) == 0);
    IStorageFolder* parent = reinterpret_cast<IStorageFolder*>(1);
    CHECK(file->DetachParent(&parent) == S_FALSE);
    CHECK(parent == nullptr);
    VARIANT value;
    VariantInit(&value);
    CHECK(file->GetProperty(comment_key, &value) == S_OK);
    CHECK(variant_text(value) == L"BSTR:" + guid_text(comment_key));
    VariantClear(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"hello");
    CHECK(file->SetProperty(comment_key, value) == S_OK);
    VariantClear(&value);
    CHECK(file->DeleteProperty(comment_key) == S_OK);
    CHECK(file->SetTimes(other_times) == S_OK);
    IStream* stream = nullptr;
    REQUIRE(file->GetStream(&stream) == S_OK);
    REQUIRE(stream != nullptr);
    char buf[64] = {};
    ULONG got = 0;
    CHECK(SUCCEEDED(stream->Read(buf, sizeof buf, &got)));
    CHECK(std::string(buf, got) == stream_text);
    stream->Release();
    file->Release();

    IElementEnum* elements = nullptr;
    REQUIRE(root->EnumElements(&elements) == S_OK);
    REQUIRE(elements != nullptr);
    std::vector<std::wstring> listed;
    IElementInfo* info = nullptr;
    while (elements->Next(&info) == S_OK && info) {
        BSTR n = nullptr;
        CHECK(info->GetName(&n) == S_OK);
        listed.push_back(take(n));
        CHECK(info->GetTimes(&times) == S_OK);
        CHECK(same_times(times, sample_times));
        CHECK(info->GetSize(&size) == S_OK);
        CHECK(size == sample_size);
        info->Release();
        info = nullptr;
    }
    CHECK(info == nullptr);
    CHECK(joined(listed) == "first\nsecond\n");
    info = reinterpret_cast<IElementInfo*>(1);
    CHECK(elements->Next(&info) == S_FALSE);
    CHECK(info == nullptr);
    CHECK(elements->Reset() == S_OK);
    REQUIRE(elements->Next(&info) == S_OK);
    CHECK(info->GetName(&name) == S_OK);
    CHECK(take(name) == L"first");
    info->Release();
    elements->Release();

    IStorageElement* element = nullptr;
    REQUIRE(root->FindElement(bstr(L"a\\x.txt"), &element) == S_OK);
    REQUIRE(element != nullptr);
    CHECK(element->GetType(&type) == S_OK);
    CHECK(type == FileElementType);
    IStorageFile* as_file = nullptr;
    CHECK(element->QueryInterface(IID_IStorageFile, reinterpret_cast<void**>(&as_file)) == S_OK);
    if (as_file) as_file->Release();
    element->Release();
    info = reinterpret_cast<IElementInfo*>(1);
    CHECK(root->FindElementInfo(bstr(L"nothing"), &info) == E_NOINTERFACE);
    CHECK(info == nullptr);
    CHECK(root->RenameElement(bstr(L"old"), bstr(L"new")) == S_OK);
    CHECK(root->DeleteElement(nullptr) == STG_E_INVALIDNAME);
    root->Release();
    VariantClear(&text);
}

DWORD WINAPI client_main(void* arg) {
    auto* run = static_cast<client_run*>(arg);
    tools::com_initializer com;
    IStorageServer* server = nullptr;
    HRESULT hr = CoGetInterfaceAndReleaseStream(run->marshalled, IID_IStorageServer, reinterpret_cast<void**>(&server));
    CHECK(hr == S_OK);
    if (server) {
        try {
            use_family(server, run->original);
        } catch (...) {
            // A failed REQUIRE has been reported; the thread only has to end cleanly.
        }
        server->Release();
    }
    return 0;
}

}  // namespace

TEST_CASE("every method of the family crosses an apartment boundary with its values unchanged") {
    tools::com_initializer com;
    {
        installer_testing::typelib_registration registration;
        REQUIRE(registration.result() == S_OK);
        journal log;
        auto* server = new server_stand_in(log);
        client_run run;
        run.original = server;
        REQUIRE(CoMarshalInterThreadInterfaceInStream(IID_IStorageServer, server, &run.marshalled) == S_OK);
        HANDLE thread = CreateThread(nullptr, 0, client_main, &run, 0, nullptr);
        REQUIRE(thread != nullptr);
        // The calls arrive as messages of this apartment: keep pumping until the client is done.
        DWORD index = 0;
        HRESULT waited = CoWaitForMultipleHandles(0, 60000, 1, &thread, &index);
        CHECK(waited == S_OK);
        CloseHandle(thread);
        server->Release();

        CHECK_FALSE(log.foreign_thread);
        std::wstring key = guid_text(comment_key);
        std::vector<std::wstring> expected = {
            L"OpenStorage C:\\data\\a.orrisafe",
            L"CloseStorage C:\\data\\a.orrisafe",
            L"Defragment C:\\data\\a.orrisafe",
            L"Reserved1 I4:7 BSTR:x",
            L"Reserved2 BSTR:x",
            L"Reserved3 BSTR:x I4:7",
            L"Reserved4 I4:7 I4:7",
            L"WatchFile C:\\data\\a.orrisafe 1",
            L"OpenFolder a\\b 1",  // a create flag of 1 stays 1: only -1 creates
            L"OpenFolder c -1",
            L"OpenFile x.txt 0",
            L"GetProperty " + key,
            L"SetProperty " + key + L" BSTR:hello",
            L"DeleteProperty " + key,
            L"SetTimes",
            L"FindElement a\\x.txt",
            L"FindElementInfo nothing",
            L"RenameElement old new",
            L"DeleteElement <null>",
        };
        CHECK(joined(log.calls) == joined(expected));
        CHECK(same_times(log.times_set, other_times));
    }
}
