// The type library as the build writes it: identities, slot order and automation-only types.
#include <doctest.h>
#include <tools/com_initializer.h>
#include <windows.h>
#include <oleauto.h>

#include <orrisafe.h>

#include <cstddef>
#include <string>
#include <vector>

#include "installer_paths.h"

namespace {

using com_apartment = tools::com_initializer;

template <class T>
struct com_ptr {
    T* p = nullptr;
    com_ptr() = default;
    com_ptr(com_ptr&& other) noexcept : p(other.p) { other.p = nullptr; }
    com_ptr& operator=(const com_ptr&) = delete;
    ~com_ptr() { if (p) p->Release(); }
    T** put() { return &p; }
    T* operator->() const { return p; }
};

struct type_attr {
    ITypeInfo* info;
    TYPEATTR* attr = nullptr;
    explicit type_attr(ITypeInfo* i) : info(i) { REQUIRE(info->GetTypeAttr(&attr) == S_OK); }
    ~type_attr() { info->ReleaseTypeAttr(attr); }
    TYPEATTR* operator->() const { return attr; }
};

// The name of a member, or of the type itself for MEMBERID_NIL.
std::wstring member_name(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    UINT n = 0;
    if (id == MEMBERID_NIL) {
        if (FAILED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr))) return L"?";
    } else if (FAILED(info->GetNames(id, &name, 1, &n)) || n != 1) {
        return L"?";
    }
    std::wstring s(name, SysStringLen(name));
    SysFreeString(name);
    return s;
}

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

struct method {
    const wchar_t* name;
    int params;
};

struct interface_layout {
    const wchar_t* name;
    const IID* iid;
    const IID* base;
    int first_slot;
    std::vector<method> methods;
};

// The family as clients rely on it, slot by slot.
const std::vector<interface_layout> family = {
    {L"IStorageServer", &IID_IStorageServer, &IID_IUnknown, 3,
     {{L"OpenStorage", 2}, {L"CloseStorage", 1}, {L"IsStorageOpen", 2}, {L"Defragment", 1}, {L"Reserved1", 2},
      {L"Reserved2", 1}, {L"Reserved3", 2}, {L"Reserved4", 2}, {L"WatchFile", 2}, {L"GetWatchState", 2}}},
    {L"IStorageElement", &IID_IStorageElement, &IID_IUnknown, 3,
     {{L"GetType", 1}, {L"GetName", 1}, {L"GetTimes", 1}, {L"GetSize", 1}, {L"DetachParent", 1},
      {L"GetProperty", 2}, {L"SetProperty", 2}, {L"DeleteProperty", 1}}},
    {L"IStorageFolder", &IID_IStorageFolder, &IID_IStorageElement, 11,
     {{L"IsRoot", 1}, {L"EnumElements", 1}, {L"OpenFolder", 3}, {L"OpenFile", 3}, {L"RenameElement", 2},
      {L"DeleteElement", 1}, {L"FindElement", 2}, {L"FindElementInfo", 2}}},
    {L"IStorageFile", &IID_IStorageFile, &IID_IStorageElement, 11,
     {{L"SetTimes", 1}, {L"GetStream", 1}, {L"GetDigest", 1}}},
    {L"IElementEnum", &IID_IElementEnum, &IID_IUnknown, 3, {{L"Next", 1}, {L"Reset", 0}}},
    {L"IElementInfo", &IID_IElementInfo, &IID_IUnknown, 3,
     {{L"GetType", 1}, {L"GetName", 1}, {L"GetTimes", 1}, {L"GetSize", 1}}},
};

// True when the type is one the automation marshaller carries: the base types the family uses,
// records of such types, aliases of them, interfaces, and pointers to any of these.
bool automation_type(ITypeInfo* context, const TYPEDESC& t, int depth = 0) {
    if (depth > 8) return false;
    switch (t.vt) {
    case VT_I4: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_I2: case VT_BSTR: case VT_BOOL:
    case VT_VARIANT: case VT_UNKNOWN: case VT_DATE:
        return true;
    case VT_PTR:
        return automation_type(context, *t.lptdesc, depth + 1);
    case VT_CARRAY:
        return automation_type(context, t.lpadesc->tdescElem, depth + 1);
    case VT_USERDEFINED: {
        com_ptr<ITypeInfo> ref;
        if (FAILED(context->GetRefTypeInfo(t.hreftype, ref.put()))) return false;
        type_attr a(ref.p);
        if (a->typekind == TKIND_ALIAS) return automation_type(ref.p, a->tdescAlias, depth + 1);
        if (a->typekind == TKIND_INTERFACE || a->typekind == TKIND_DISPATCH) return true;
        if (a->typekind != TKIND_RECORD) return false;
        for (UINT i = 0; i < a->cVars; ++i) {
            VARDESC* v = nullptr;
            if (FAILED(ref->GetVarDesc(i, &v))) return false;
            bool ok = automation_type(ref.p, v->elemdescVar.tdesc, depth + 1);
            ref->ReleaseVarDesc(v);
            if (!ok) return false;
        }
        return true;
    }
    default:
        return false;
    }
}

// The record or alias a user-defined type names, through any aliases, with its size.
struct resolved {
    std::wstring name;
    ULONG size = 0;
    TYPEKIND kind = TKIND_MAX;
};
resolved resolve(ITypeInfo* context, const TYPEDESC& t) {
    if (t.vt == VT_PTR) return resolve(context, *t.lptdesc);
    REQUIRE(t.vt == VT_USERDEFINED);
    com_ptr<ITypeInfo> ref;
    REQUIRE(context->GetRefTypeInfo(t.hreftype, ref.put()) == S_OK);
    type_attr a(ref.p);
    resolved r{member_name(ref.p, MEMBERID_NIL), a->cbSizeInstance, a->typekind};
    if (a->typekind == TKIND_ALIAS && a->tdescAlias.vt == VT_USERDEFINED) {
        resolved inner = resolve(ref.p, a->tdescAlias);
        r.size = inner.size;
        r.kind = inner.kind;
    }
    return r;
}

struct loaded_library {
    com_apartment apartment;
    com_ptr<ITypeLib> lib;
    loaded_library() {
        std::wstring path = installer_testing::dist_file(L"orrisafe.tlb");
        INFO("type library: ", narrow(path));
        REQUIRE(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put()) == S_OK);
    }
    // The description of one function of the interface with the given IID.
    com_ptr<ITypeInfo> info_of(const IID& iid) {
        com_ptr<ITypeInfo> info;
        REQUIRE(lib->GetTypeInfoOfGuid(iid, info.put()) == S_OK);
        return info;
    }
};

TYPEDESC param_type(ITypeInfo* info, UINT func, UINT param) {
    FUNCDESC* f = nullptr;
    REQUIRE(info->GetFuncDesc(func, &f) == S_OK);
    REQUIRE(param < static_cast<UINT>(f->cParams));
    TYPEDESC t = f->lprgelemdescParam[param].tdesc;  // the descriptors live as long as the type info
    info->ReleaseFuncDesc(f);
    return t;
}

}  // namespace

TEST_CASE("the type library carries its identity and the build's architecture") {
    loaded_library l;
    TLIBATTR* attr = nullptr;
    REQUIRE(l.lib->GetLibAttr(&attr) == S_OK);
    CHECK(IsEqualGUID(attr->guid, LIBID_OrrisafeLib));
    GUID expected;
    REQUIRE(CLSIDFromString(L"{3B77F7C5-B1BF-479F-A138-6FE19AD0EBB8}", &expected) == S_OK);
    CHECK(IsEqualGUID(attr->guid, expected));
    CHECK(attr->syskind == (sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32));
    l.lib->ReleaseTLibAttr(attr);
}

TEST_CASE("each interface has its identifier, its base and its methods in slot order") {
    loaded_library l;
    for (const auto& layout : family) {
        CAPTURE(narrow(layout.name));
        com_ptr<ITypeInfo> info;
        REQUIRE(l.lib->GetTypeInfoOfGuid(*layout.iid, info.put()) == S_OK);
        CHECK(narrow(member_name(info.p, MEMBERID_NIL)) == narrow(layout.name));
        type_attr a(info.p);
        CHECK(a->typekind == TKIND_INTERFACE);
        CHECK((a->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) != 0);
        // Not dual: no interface of the family derives from IDispatch.
        CHECK((a->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE)) == 0);
        CHECK(a->cbSizeVft == (layout.first_slot + layout.methods.size()) * sizeof(void*));

        REQUIRE(a->cImplTypes == 1);
        HREFTYPE base_ref = 0;
        REQUIRE(info->GetRefTypeOfImplType(0, &base_ref) == S_OK);
        com_ptr<ITypeInfo> base;
        REQUIRE(info->GetRefTypeInfo(base_ref, base.put()) == S_OK);
        CHECK(IsEqualGUID(type_attr(base.p)->guid, *layout.base));

        REQUIRE(a->cFuncs == layout.methods.size());
        for (UINT i = 0; i < a->cFuncs; ++i) {
            FUNCDESC* f = nullptr;
            REQUIRE(info->GetFuncDesc(i, &f) == S_OK);
            CAPTURE(narrow(layout.methods[i].name));
            CHECK(narrow(member_name(info.p, f->memid)) == narrow(layout.methods[i].name));
            CHECK(f->oVft == static_cast<SHORT>((layout.first_slot + i) * sizeof(void*)));
            CHECK(f->cParams == layout.methods[i].params);
            CHECK(f->funckind == FUNC_PUREVIRTUAL);
            CHECK(f->callconv == CC_STDCALL);
            CHECK(f->elemdescFunc.tdesc.vt == VT_HRESULT);
            for (SHORT p = 0; p < f->cParams; ++p) {
                CAPTURE(p);
                CHECK(automation_type(info.p, f->lprgelemdescParam[p].tdesc));
                USHORT flags = f->lprgelemdescParam[p].paramdesc.wParamFlags;
                // Every parameter says which way it travels, and out parameters are pointers.
                CHECK((flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT)) != 0);
                if (flags & PARAMFLAG_FOUT) CHECK(f->lprgelemdescParam[p].tdesc.vt == VT_PTR);
            }
            info->ReleaseFuncDesc(f);
        }
    }
}

TEST_CASE("the library describes no interface but the family's as automation-marshalled") {
    // Registering the library must not take over the marshalling of any system interface.
    loaded_library l;
    int ours = 0;
    for (UINT i = 0; i < l.lib->GetTypeInfoCount(); ++i) {
        com_ptr<ITypeInfo> info;
        REQUIRE(l.lib->GetTypeInfo(i, info.put()) == S_OK);
        type_attr a(info.p);
        if (a->typekind != TKIND_INTERFACE && a->typekind != TKIND_DISPATCH) continue;
        bool registered = (a->wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL)) != 0;
        bool in_family = false;
        for (const auto& layout : family) in_family = in_family || IsEqualGUID(a->guid, *layout.iid);
        CAPTURE(narrow(member_name(info.p, MEMBERID_NIL)));
        CHECK(registered == in_family);
        ours += in_family;
    }
    CHECK(ours == 6);
}

TEST_CASE("times travel as a 24-byte record of access, creation and modification time") {
    loaded_library l;
    auto info = l.info_of(IID_IElementInfo);
    resolved times = resolve(info.p, param_type(info.p, 2, 0));  // GetTimes(out ElementTimes)
    CHECK(narrow(times.name) == "ElementTimes");
    CHECK(times.kind == TKIND_RECORD);
    CHECK(times.size == 24);
    CHECK(sizeof(ElementTimes) == 24);

    com_ptr<ITypeInfo> record;
    MEMBERID id = 0;
    USHORT found = 1;
    std::wstring name = L"ElementTimes";
    REQUIRE(l.lib->FindName(name.data(), 0, record.put(), &id, &found) == S_OK);
    REQUIRE(found == 1);
    type_attr a(record.p);
    REQUIRE(a->cVars == 3);
    const wchar_t* names[] = {L"access", L"creation", L"modification"};
    for (UINT i = 0; i < 3; ++i) {
        VARDESC* v = nullptr;
        REQUIRE(record->GetVarDesc(i, &v) == S_OK);
        CHECK(narrow(member_name(record.p, v->memid)) == narrow(names[i]));
        CHECK(v->oInst == i * sizeof(FILETIME));
        resolved field = resolve(record.p, v->elemdescVar.tdesc);
        CHECK(narrow(field.name).find("FILETIME") != std::string::npos);
        CHECK(field.size == sizeof(FILETIME));
        record->ReleaseVarDesc(v);
    }
    CHECK(offsetof(ElementTimes, access) == 0);
    CHECK(offsetof(ElementTimes, creation) == 8);
    CHECK(offsetof(ElementTimes, modification) == 16);

    // SetTimes takes the record by value, GetTimes of an element hands one out.
    auto file = l.info_of(IID_IStorageFile);
    CHECK(param_type(file.p, 0, 0).vt == VT_USERDEFINED);
    CHECK(narrow(resolve(file.p, param_type(file.p, 0, 0)).name) == "ElementTimes");
}

TEST_CASE("the digest is 16 bytes, sizes are unsigned 64-bit, keys are GUIDs by value") {
    loaded_library l;
    auto file = l.info_of(IID_IStorageFile);
    resolved digest = resolve(file.p, param_type(file.p, 2, 0));  // GetDigest
    CHECK(narrow(digest.name) == "StreamDigest");
    CHECK(digest.size == 16);
    CHECK(sizeof(StreamDigest) == 16);

    auto element = l.info_of(IID_IStorageElement);
    TYPEDESC size = param_type(element.p, 3, 0);  // GetSize
    REQUIRE(size.vt == VT_PTR);
    CHECK(size.lptdesc->vt == VT_UI8);
    for (UINT func : {5u, 6u, 7u}) {  // GetProperty, SetProperty, DeleteProperty
        TYPEDESC key = param_type(element.p, func, 0);
        CHECK(key.vt == VT_USERDEFINED);
        resolved r = resolve(element.p, key);
        CHECK(narrow(r.name) == "GUID");
        CHECK(r.size == 16);
    }
    CHECK(param_type(element.p, 6, 1).vt == VT_VARIANT);  // SetProperty's value by value
}
