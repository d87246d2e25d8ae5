#include "storage_object.h"

#include <server/idl/storage_identities.h>
#include <tools/hresult.h>

#include <vector>

#include "bstr_text.h"
#include "element_enum.h"
#include "element_info.h"
#include "storage_delegate.h"
#include "stream_object.h"

namespace {

// A relative path read as parts separated by backslashes; reading stops at the first empty part.
struct PathParts {
    explicit PathParts(const std::wstring& path) {
        size_t separator = path.find(L'\\');
        first = path.substr(0, separator);
        if (separator != std::wstring::npos) rest = path.substr(separator + 1);
    }
    bool HasPart() const noexcept { return !first.empty(); }
    bool HasMore() const noexcept { return !rest.empty() && rest[0] != L'\\'; }

    std::wstring first, rest;
};

}  // namespace

CStorageObject::CStorageObject(StorageHolder storage, CStorageObject* parent, std::wstring own_name,
                               COpenStorageTable* table)
    : CElementObject<IStorageFolder>(parent), children_(std::move(own_name), table, this), storage_(std::move(storage)) {}

CStorageObject::~CStorageObject() {
    // Every open file holds this folder, so none is left here at an ordinary last Release.
    files_.clear();
    storage_.release();
}

CStorageObject* CStorageObject::CreateRootFolder(COpenStorageTable& table, const std::wstring& path,
                                                 HRESULT* result) noexcept {
    try {
        StorageHolder root = OpenStorageFile(path, result);
        if (!root) return nullptr;
        Ref made(new CStorageObject(std::move(root), nullptr, path, &table));
        table.Add(path, made.get());
        return made.detach();
    } catch (...) {
        if (result) *result = tools::current_exception_hresult();
        return nullptr;
    }
}

void CStorageObject::DisconnectTree() {
    // Children release their references on this folder as they go: keep it alive for the whole walk.
    Ref self = Ref::add_ref(this);
    while (!files_.empty()) files_.begin()->second->Disconnect();
    while (!children_.Empty()) {
        size_t before = children_.Size();
        children_.First()->DisconnectTree();
        if (children_.Size() >= before) ThrowHresult(E_ACCESSDENIED);
    }
    CoDisconnectObject(static_cast<IStorageFolder*>(this), 0);
    CutOff();
}

void CStorageObject::CutOff() noexcept {
    children_.Leave();
    storage_.release();
    parent_.reset();
}

void CStorageObject::AddOpenFile(const std::wstring& name, CStreamObject* file) { files_.emplace(name, file); }

void CStorageObject::RemoveOpenFile(const std::wstring& name, CStreamObject* file) noexcept {
    auto [begin, end] = files_.equal_range(name);
    for (auto it = begin; it != end; ++it) {
        if (it->second == file) {
            files_.erase(it);
            return;
        }
    }
}

void CStorageObject::DisconnectOpenElement(const std::wstring& name) {
    if (CStorageObject* folder = children_.Find(name)) folder->DisconnectTree();
    for (auto found = files_.find(name); found != files_.end(); found = files_.find(name)) found->second->Disconnect();
}

HRESULT CStorageObject::Stat(STATSTG* stat) {
    auto storage = CStorageDelegate::Make(storage_);
    if (!storage) return E_POINTER;
    return storage->Stat(stat, STATFLAG_DEFAULT);
}

STDMETHODIMP CStorageObject::GetType(long* type) {
    if (!type) return E_POINTER;
    *type = FolderElementType;
    return S_OK;
}

STDMETHODIMP CStorageObject::GetProperty(GUID key, VARIANT* value) {
    if (!value) return E_POINTER;
    return Call([&]() -> HRESULT {
        if (!storage_->IsRoot() || !IsEqualGUID(key, ElementNameProperty))
            return CElementObject<IStorageFolder>::GetProperty(key, value);
        // The root has no name of its own: it is called as the compound file calls it.
        STATSTG stat{};
        HRESULT hr = Stat(&stat);
        if (FAILED(hr)) return hr;
        BSTR name = SysAllocString(stat.pwcsName ? stat.pwcsName : L"");
        CoTaskMemFree(stat.pwcsName);
        if (!name) return E_OUTOFMEMORY;
        VariantInit(value);
        value->vt = VT_BSTR;
        value->bstrVal = name;
        return S_OK;
    });
}

STDMETHODIMP CStorageObject::IsRoot(VARIANT_BOOL* root) {
    if (!root) return E_POINTER;
    return Call([&]() -> HRESULT {
        *root = parent_ ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    });
}

STDMETHODIMP CStorageObject::EnumElements(IElementEnum** elements) {
    if (!elements) return E_POINTER;
    *elements = nullptr;
    return Call([&]() -> HRESULT {
        auto made = CElementEnum::Make(*storage_);
        if (!made) return FailureOf(*storage_);
        *elements = made.detach();
        return S_OK;
    });
}

CStorageObject::Ref CStorageObject::OpenChildFolder(const std::wstring& name, bool create) {
    if (CStorageObject* open = children_.Find(name)) return Ref::add_ref(open);
    StorageHolder child = OpenChildStorage(*storage_, name, create);
    if (!child) ThrowFailureOf(*storage_);
    Ref made(new CStorageObject(std::move(child), this, name, &children_));
    children_.Add(name, made.get());
    return made;
}

HRESULT CStorageObject::OpenFolderPath(const std::wstring& name, bool create, IStorageFolder** out) {
    PathParts parts(name);
    if (!parts.HasPart()) return E_FAIL;
    Ref child = OpenChildFolder(parts.first, create);
    if (parts.HasMore()) return child->OpenFolderPath(parts.rest, create, out);
    *out = child.detach();
    return S_OK;
}

HRESULT CStorageObject::OpenFilePath(const std::wstring& name, bool create, IStorageFile** out) {
    PathParts parts(name);
    if (!parts.HasPart()) return E_FAIL;
    if (parts.HasMore()) {
        // Only the file at the end of a path is ever created.
        Ref folder = OpenChildFolder(parts.first, false);
        return folder->OpenFilePath(parts.rest, create, out);
    }
    // The whole name, as given: a trailing backslash fails the name check.
    StreamHolder stream = OpenChildStream(*storage_, name, create);
    if (!stream) ThrowFailureOf(*storage_);
    CStreamObject* file = CStreamObject::Create(std::move(stream), this, name);
    if (!file) return E_FAIL;
    *out = file;
    return S_OK;
}

STDMETHODIMP CStorageObject::OpenFolder(BSTR name, VARIANT_BOOL create, IStorageFolder** folder) {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    return Call([&] { return OpenFolderPath(BstrText(name), create == VARIANT_TRUE, folder); });
}

STDMETHODIMP CStorageObject::OpenFile(BSTR name, VARIANT_BOOL create, IStorageFile** file) {
    if (!file) return E_POINTER;
    *file = nullptr;
    return Call([&] { return OpenFilePath(BstrText(name), create == VARIANT_TRUE, file); });
}

STDMETHODIMP CStorageObject::RenameElement(BSTR old_name, BSTR new_name) {
    return Call([&]() -> HRESULT {
        std::wstring old_text = BstrText(old_name), new_text = BstrText(new_name);
        // A name that cannot be given cuts nobody off.
        if (!ValidateElementName(*storage_, new_text)) return STG_E_INVALIDNAME;
        DisconnectOpenElement(old_text);
        if (!RenameChild(*storage_, old_text, new_text)) return FailureOf(*storage_);
        return S_OK;
    });
}

STDMETHODIMP CStorageObject::DeleteElement(BSTR name) {
    return Call([&]() -> HRESULT {
        std::wstring text = BstrText(name);
        DisconnectOpenElement(text);
        if (!DeleteChild(*storage_, text)) return FailureOf(*storage_);
        children_.Remove(text);
        return S_OK;
    });
}

HRESULT CStorageObject::FindElementPath(const std::wstring& path, IStorageElement** out) {
    size_t separator = path.find(L'\\');
    if (separator != std::wstring::npos) {
        std::wstring first = path.substr(0, separator);
        if (first.empty()) return E_FAIL;
        return OpenChildFolder(first, false)->FindElementPath(path.substr(separator + 1), out);
    }
    std::vector<ChildRecord> children;
    if (!EnumChildren(*storage_, children)) return FailureOf(*storage_);
    for (const ChildRecord& child : children) {
        if (_wcsicmp(child.name.c_str(), path.c_str()) != 0) continue;
        tools::interface_holder<IUnknown> opened;
        HRESULT hr = child.is_folder ? OpenFolderPath(path, false, reinterpret_cast<IStorageFolder**>(opened.put()))
                                     : OpenFilePath(path, false, reinterpret_cast<IStorageFile**>(opened.put()));
        if (FAILED(hr)) return hr;
        return opened->QueryInterface(IID_IStorageElement, reinterpret_cast<void**>(out));
    }
    return E_NOINTERFACE;
}

HRESULT CStorageObject::FindElementInfoPath(const std::wstring& path, IElementInfo** out) {
    size_t separator = path.find(L'\\');
    if (separator != std::wstring::npos) {
        std::wstring first = path.substr(0, separator);
        if (first.empty()) return E_FAIL;
        return OpenChildFolder(first, false)->FindElementInfoPath(path.substr(separator + 1), out);
    }
    std::vector<ChildRecord> children;
    if (!EnumChildren(*storage_, children)) return FailureOf(*storage_);
    for (const ChildRecord& child : children) {
        if (_wcsicmp(child.name.c_str(), path.c_str()) != 0) continue;
        *out = CElementInfo::Make(child).detach();
        return S_OK;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP CStorageObject::FindElement(BSTR path, IStorageElement** element) {
    if (!element) return E_POINTER;
    *element = nullptr;
    return Call([&] { return FindElementPath(BstrText(path), element); });
}

STDMETHODIMP CStorageObject::FindElementInfo(BSTR path, IElementInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    return Call([&] { return FindElementInfoPath(BstrText(path), info); });
}
