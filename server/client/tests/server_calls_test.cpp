// The raw wrappers: which IID a failure names, what passes as success, and every slot against the service.
#include "client_test_support.h"

#include <oleauto.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <platform/running_under_wine.h>
#include <server/client/connect_server.h>
#include <server/client/impersonation_blanket.h>
#include <server/client/server_calls.h>
#include <server/idl/storage_identities.h>
#include <server/tests/service_fixture.h>
#include <tools/md5.h>
#include <tools/tests/test_support.h>

using namespace client_testing;

namespace {

// Answers every slot of the six interfaces with one result. A failure leaves error information for the
// thread, and the object says it keeps such information for one interface only, so a caller finds it
// exactly when it asks with that interface's IID.
class stand_in final : public IStorageServer,
                       public IStorageFolder,
                       public IStorageFile,
                       public IElementEnum,
                       public IElementInfo,
                       public ISupportErrorInfo {
public:
    stand_in(HRESULT result, const IID& informed) : result_(result), informed_(informed) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
            *out = static_cast<ISupportErrorInfo*>(this);
            ++asked_;
        }
        else if (IsEqualIID(iid, IID_IUnknown)) *out = static_cast<IStorageServer*>(this);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
        return IsEqualIID(iid, informed_) ? S_OK : S_FALSE;
    }

    STDMETHODIMP OpenStorage(BSTR, IStorageFolder** out) override { return out_(out); }
    STDMETHODIMP CloseStorage(BSTR) override { return answer(); }
    STDMETHODIMP IsStorageOpen(BSTR, VARIANT_BOOL*) override { return answer(); }
    STDMETHODIMP Defragment(BSTR) override { return answer(); }
    STDMETHODIMP Reserved1(VARIANT, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP Reserved2(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP Reserved3(VARIANT, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP Reserved4(VARIANT, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP WatchFile(BSTR, VARIANT_BOOL) override { return answer(); }
    STDMETHODIMP GetWatchState(BSTR, long*) override { return answer(); }
    STDMETHODIMP GetType(long*) override { return answer(); }
    STDMETHODIMP GetName(BSTR* out) override { *out = nullptr; return answer(); }
    STDMETHODIMP GetTimes(ElementTimes*) override { return answer(); }
    STDMETHODIMP GetSize(UINT64*) override { return answer(); }
    STDMETHODIMP DetachParent(IStorageFolder** out) override { return out_(out); }
    STDMETHODIMP GetProperty(GUID, VARIANT*) override { return answer(); }
    STDMETHODIMP SetProperty(GUID, VARIANT) override { return answer(); }
    STDMETHODIMP DeleteProperty(GUID) override { return answer(); }
    STDMETHODIMP IsRoot(VARIANT_BOOL*) override { return answer(); }
    STDMETHODIMP EnumElements(IElementEnum** out) override { return out_(out); }
    STDMETHODIMP OpenFolder(BSTR, VARIANT_BOOL, IStorageFolder** out) override { return out_(out); }
    STDMETHODIMP OpenFile(BSTR, VARIANT_BOOL, IStorageFile** out) override { return out_(out); }
    STDMETHODIMP RenameElement(BSTR, BSTR) override { return answer(); }
    STDMETHODIMP DeleteElement(BSTR) override { return answer(); }
    STDMETHODIMP FindElement(BSTR, IStorageElement** out) override { return out_(out); }
    STDMETHODIMP FindElementInfo(BSTR, IElementInfo** out) override { return out_(out); }
    STDMETHODIMP SetTimes(ElementTimes) override { return answer(); }
    STDMETHODIMP GetStream(IStream** out) override { return out_(out); }
    STDMETHODIMP GetDigest(StreamDigest*) override { return answer(); }
    STDMETHODIMP Next(IElementInfo** out) override { return out_(out); }
    STDMETHODIMP Reset() override { return answer(); }

    IStorageServer* server() { return this; }
    IStorageFolder* folder() { return this; }
    IStorageFile* file() { return this; }
    IStorageElement* element() { return static_cast<IStorageFolder*>(this); }
    IElementEnum* elements() { return this; }
    IElementInfo* info() { return this; }
    ULONG refs() const { return refs_; }
    // How often a caller asked whether there is error information.
    int asked() const { return asked_; }

private:
    HRESULT answer() {
        if (FAILED(result_)) {
            tools::interface_holder<ICreateErrorInfo> create;
            REQUIRE(CreateErrorInfo(create.put()) == S_OK);
            create->SetDescription(const_cast<LPOLESTR>(L"the stand-in failed"));
            tools::interface_holder<IErrorInfo> info;
            REQUIRE(create->QueryInterface(IID_IErrorInfo, info.put_void()) == S_OK);
            SetErrorInfo(0, info.get());
        }
        return result_;
    }
    template <class Out>
    HRESULT out_(Out** out) {
        *out = nullptr;
        return answer();
    }

    HRESULT result_;
    IID informed_;
    ULONG refs_ = 1;
    int asked_ = 0;
};

struct wrapper_case {
    const char* name;
    const IID* declaring;
    std::function<void(stand_in&)> call;
};

const std::vector<wrapper_case>& wrapper_cases() {
    static const std::vector<wrapper_case> cases = {
        {"OpenStorage", &IID_IStorageServer, [](stand_in& s) { OpenStorageOrThrow(s.server(), L"p"); }},
        {"CloseStorage", &IID_IStorageServer, [](stand_in& s) { CloseStorageOrThrow(s.server(), L"p"); }},
        {"IsStorageOpen", &IID_IStorageServer, [](stand_in& s) { IsStorageOpenOrThrow(s.server(), L"p"); }},
        {"Defragment", &IID_IStorageServer, [](stand_in& s) { DefragmentOrThrow(s.server(), L"p"); }},
        {"WatchFile", &IID_IStorageServer, [](stand_in& s) { WatchFileOrThrow(s.server(), L"p", true); }},
        {"GetWatchState", &IID_IStorageServer, [](stand_in& s) { GetWatchStateOrThrow(s.server(), L"p"); }},
        {"element GetType", &IID_IStorageElement, [](stand_in& s) { GetTypeOrThrow(s.element()); }},
        {"folder GetName", &IID_IStorageElement, [](stand_in& s) { GetNameOrThrow(s.folder()); }},
        {"file GetTimes", &IID_IStorageElement, [](stand_in& s) { GetTimesOrThrow(s.file()); }},
        {"element GetSize", &IID_IStorageElement, [](stand_in& s) { GetSizeOrThrow(s.element()); }},
        {"DetachParent", &IID_IStorageElement, [](stand_in& s) { DetachParentOrThrow(s.element()); }},
        {"GetProperty", &IID_IStorageElement, [](stand_in& s) { GetStorageProperty(s.file(), CommentProperty); }},
        {"SetProperty", &IID_IStorageElement, [](stand_in& s) { SetPropertyOrThrow(s.folder(), CommentProperty, VARIANT{}); }},
        {"DeleteProperty", &IID_IStorageElement, [](stand_in& s) { DeletePropertyOrThrow(s.element(), CommentProperty); }},
        {"IsRoot", &IID_IStorageFolder, [](stand_in& s) { IsRootOrThrow(s.folder()); }},
        {"EnumElements", &IID_IStorageFolder, [](stand_in& s) { EnumElementsOrThrow(s.folder()); }},
        {"OpenFolder", &IID_IStorageFolder, [](stand_in& s) { OpenFolderOrThrow(s.folder(), L"n", VARIANT_TRUE); }},
        {"OpenFile", &IID_IStorageFolder, [](stand_in& s) { OpenFileOrThrow(s.folder(), L"n", VARIANT_FALSE); }},
        {"OpenExistingFile", &IID_IStorageFolder, [](stand_in& s) { OpenExistingFileOrThrow(s.folder(), L"n"); }},
        {"RenameElement", &IID_IStorageFolder, [](stand_in& s) { RenameElementOrThrow(s.folder(), L"a", L"b"); }},
        {"DeleteElement", &IID_IStorageFolder, [](stand_in& s) { DeleteElementOrThrow(s.folder(), L"a"); }},
        {"FindElement", &IID_IStorageFolder, [](stand_in& s) { FindElementOrThrow(s.folder(), L"a"); }},
        {"FindElementInfo", &IID_IStorageFolder, [](stand_in& s) { FindElementInfoOrThrow(s.folder(), L"a"); }},
        {"SetTimes", &IID_IStorageFile, [](stand_in& s) { SetTimesOrThrow(s.file(), ElementTimes{}); }},
        {"GetStream", &IID_IStorageFile, [](stand_in& s) { GetStreamOrThrow(s.file()); }},
        {"GetDigest", &IID_IStorageFile, [](stand_in& s) { GetDigestOrThrow(s.file()); }},
        {"Next", &IID_IElementEnum, [](stand_in& s) { NextOrThrow(s.elements()); }},
        {"Reset", &IID_IElementEnum, [](stand_in& s) { ResetOrThrow(s.elements()); }},
        {"info GetType", &IID_IElementInfo, [](stand_in& s) { GetTypeOrThrow(s.info()); }},
        {"info GetName", &IID_IElementInfo, [](stand_in& s) { GetNameOrThrow(s.info()); }},
        {"info GetTimes", &IID_IElementInfo, [](stand_in& s) { GetTimesOrThrow(s.info()); }},
        {"info GetSize", &IID_IElementInfo, [](stand_in& s) { GetSizeOrThrow(s.info()); }},
    };
    return cases;
}

// Whether the COM error that the call raised carries the object's error information.
bool raised_with_information(const wrapper_case& c, stand_in& object, HRESULT expected) {
    try {
        c.call(object);
    } catch (const _com_error& e) {
        CHECK(e.Error() == expected);
        tools::interface_holder<IErrorInfo> info(e.ErrorInfo());
        SetErrorInfo(0, nullptr);
        return info.get() != nullptr;
    }
    FAIL_CHECK("no COM error raised");
    return false;
}

// A proxy's security as COM hands it to the proxy manager: what the last SetBlanket was given.
class recording_proxy final : public IClientSecurity {
public:
    explicit recording_proxy(HRESULT answer) : answer_(answer) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClientSecurity) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**, DWORD*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP SetBlanket(IUnknown* proxy, DWORD authn, DWORD authz, OLECHAR* principal, DWORD level, DWORD imp,
                            void* auth_info, DWORD capabilities) override {
        set = {proxy, authn, authz, principal, level, imp, auth_info, capabilities};
        return answer_;
    }
    STDMETHODIMP CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

    struct blanket {
        IUnknown* proxy = nullptr;
        DWORD authn = 0, authz = 0;
        OLECHAR* principal = nullptr;
        DWORD level = 0, imp = 0;
        void* auth_info = nullptr;
        DWORD capabilities = 0;
    } set;

private:
    HRESULT answer_;
};

}  // namespace

TEST_CASE("a client asks the server's proxy to impersonate it; an object that is no proxy needs nothing") {
    com_apartment apartment;
    // The server's class object as this process's own, handing out the recording proxy as the root.
    struct factory final : IClassFactory {
        recording_proxy root{S_OK};
        STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
            *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory) ? this : nullptr;
            return *out ? S_OK : E_NOINTERFACE;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
        STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** out) override {
            *out = &root;
            return S_OK;
        }
        STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    } server;
    DWORD cookie = 0;
    REQUIRE(CoRegisterClassObject(CLSID_StorageServer, &server, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie) == S_OK);
    ConnectServer();
    CoRevokeClassObject(cookie);
    const auto& set = server.root.set;
    CHECK(set.proxy == &server.root);
    CHECK(set.imp == RPC_C_IMP_LEVEL_IMPERSONATE);
    CHECK(set.level >= RPC_C_AUTHN_LEVEL_CONNECT);
    CHECK(set.level != RPC_C_AUTHN_LEVEL_DEFAULT);
    CHECK(set.authn == RPC_C_AUTHN_DEFAULT);
    CHECK(set.authz == RPC_C_AUTHZ_DEFAULT);
    CHECK(set.principal == COLE_DEFAULT_PRINCIPAL);
    recording_proxy refusing(E_ACCESSDENIED);
    CHECK(raised([&] { AllowImpersonation(&refusing); }) == E_ACCESSDENIED);
    // Wine's proxies keep no security (the stub's answer); on Windows no proxy answers so.
    recording_proxy stub(E_NOTIMPL);
    CHECK(raised([&] { AllowImpersonation(&stub); }) == (platform::running_under_wine() ? S_OK : E_NOTIMPL));
    stand_in in_process(S_OK, IID_IUnknown);
    AllowImpersonation(in_process.server());
}

TEST_CASE("a failing slot raises its HRESULT with the information of the interface that declares it; success passes") {
    com_apartment apartment;
    for (const auto& c : wrapper_cases()) {
        CAPTURE(c.name);
        stand_in declared(STG_E_ACCESSDENIED, *c.declaring);
        CHECK(raised_with_information(c, declared, STG_E_ACCESSDENIED));
        stand_in other(E_FAIL, IID_IUnknown);
        CHECK_FALSE(raised_with_information(c, other, E_FAIL));
        CHECK(declared.refs() == 1);  // asking for the information leaves no reference behind
    }
    // Success codes pass, and an absent result is an empty holder.
    stand_in quiet(S_FALSE, IID_IUnknown);
    CHECK(CloseStorageOrThrow(quiet.server(), L"p") == S_FALSE);
    CHECK_FALSE(NextOrThrow(quiet.elements()));
    CHECK_FALSE(DetachParentOrThrow(quiet.element()));
    // A file that is not there is an answer: no error raised, and none looked for.
    stand_in absent(STG_E_FILENOTFOUND, IID_IStorageFolder);
    CHECK_FALSE(OpenExistingFileOrThrow(absent.folder(), L"n"));
    CHECK(absent.asked() == 0);
    SetErrorInfo(0, nullptr);
    // A missing object is an error of its own, not a crash.
    CHECK(raised([] { OpenStorageOrThrow(nullptr, L"p"); }) == E_POINTER);
    CHECK(raised([] { GetNameOrThrow(static_cast<IElementInfo*>(nullptr)); }) == E_POINTER);
}

TEST_CASE("every wrapper against the installed service") {
    {
        com_apartment apartment;
        CHECK(FAILED(raised([] { ConnectServer(); })));  // nothing registered yet
    }
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    com_apartment apartment;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"client.orrisafe");
    create_storage_file(path);

    auto server = ConnectServer();
    CHECK(CloseStorageOrThrow(server.get(), dir.file(L"never.orrisafe")) == S_FALSE);
    auto root = OpenStorageOrThrow(server.get(), path);
    CHECK(IsRootOrThrow(root.get()));
    auto docs = OpenFolderOrThrow(root.get(), L"docs", VARIANT_TRUE);
    // Only VARIANT_TRUE creates: 1 is passed on as given.
    CHECK(FAILED(raised([&] { OpenFolderOrThrow(root.get(), L"not made", 1); })));
    const std::string data = "written through the client";
    {
        auto file = OpenFileOrThrow(docs.get(), L"note.txt", VARIANT_TRUE);
        ULONG written = 0;
        REQUIRE(GetStreamOrThrow(file.get())->Write(data.data(), static_cast<ULONG>(data.size()), &written) == S_OK);
        tools::md5_digest md5 = tools::md5(data.data(), data.size());
        StreamDigest digest = GetDigestOrThrow(file.get());
        CHECK(std::memcmp(&digest, md5.data(), 16) == 0);
    }
    {
        auto elements = EnumElementsOrThrow(docs.get());
        auto first = NextOrThrow(elements.get());
        REQUIRE(first);
        CHECK(GetNameOrThrow(first.get()).text() == L"note.txt");
        CHECK(GetTypeOrThrow(first.get()) == FileElementType);
        CHECK(GetSizeOrThrow(first.get()) == data.size());
        CHECK_FALSE(NextOrThrow(elements.get()));  // the end is an empty holder, not an error
    }
    CHECK(GetSizeOrThrow(FindElementOrThrow(root.get(), L"docs\\note.txt").get()) == data.size());
    CHECK(GetSizeOrThrow(OpenExistingFileOrThrow(docs.get(), L"note.txt").get()) == data.size());
    CHECK_FALSE(OpenExistingFileOrThrow(docs.get(), L"missing.txt"));
    CHECK(raised([&] { FindElementInfoOrThrow(root.get(), L"docs\\missing.txt"); }) == E_NOINTERFACE);
    CHECK(RenameElementOrThrow(docs.get(), L"note.txt", L"renamed.txt") == S_OK);
    CHECK(DeleteElementOrThrow(docs.get(), L"renamed.txt") == S_OK);
    CHECK(raised([&] { FindElementOrThrow(docs.get(), L"renamed.txt"); }) == E_NOINTERFACE);

    // Closing cuts the tree off: the next call raises the disconnection instead of failing quietly.
    CHECK(CloseStorageOrThrow(server.get(), path) == S_OK);
    CHECK(FAILED(raised([&] { GetTypeOrThrow(docs.get()); })));
    CHECK_FALSE(IsStorageOpenOrThrow(server.get(), path));
    CHECK(DefragmentOrThrow(server.get(), path) == S_OK);
    CHECK(WatchFileOrThrow(server.get(), path, true) == S_OK);
    CHECK(GetWatchStateOrThrow(server.get(), path) == 0);
}
