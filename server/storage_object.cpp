#include "storage_object.h"

#include <server/idl/storage_identities.h>
#include <tools/hresult.h>

#include <vector>

#include "bstr_text.h"
#include "element_enum.h"
#include "element_info.h"
#include "element_path.h"
#include "storage_delegate.h"
#include "stream_object.h"

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

bool CStorageObject::HoldsOpenElement(const std::wstring& name) const {
    return children_.Find(name) || files_.find(name) != files_.end();
}

StorageHolder CStorageObject::StorageOfOpenFolder(const std::vector<std::wstring>& path) const {
    const CStorageObject* folder = this;
    for (const std::wstring& name : path)
        if (!(folder = folder->children_.Find(name))) return StorageHolder();
    return folder->storage_;
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

CStorageObject::Ref CStorageObject::OpenParentFolder(const std::vector<std::wstring>& names) {
    Ref folder = Ref::add_ref(this);
    for (size_t i = 0; i + 1 < names.size(); ++i) folder = folder->OpenChildFolder(names[i], false);
    return folder;
}

tools::interface_holder<IStorageFile> CStorageObject::OpenChildFile(const std::wstring& name, bool create) {
    StreamHolder stream = OpenChildStream(*storage_, name, create);
    if (!stream) ThrowFailureOf(*storage_);
    CStreamObject* file = CStreamObject::Create(std::move(stream), this, name);
    if (!file) ThrowHresult(E_FAIL);
    return tools::interface_holder<IStorageFile>(file);
}

HRESULT CStorageObject::FindChild(const std::wstring& name, ChildRecord& found) {
    std::vector<ChildRecord> children;
    if (!EnumChildren(*storage_, children)) return FailureOf(*storage_);
    for (ChildRecord& child : children) {
        if (!SameElementName(child.name, name)) continue;
        found = std::move(child);
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT CStorageObject::OpenFolderPath(const std::wstring& path, bool create, IStorageFolder** out) {
    std::vector<std::wstring> names;
    HRESULT hr = SplitElementPath(path, names);
    if (FAILED(hr)) return hr;
    // A trailing backslash names the folder before it; the empty path names none.
    if (names.back().empty()) names.pop_back();
    if (names.empty()) return E_FAIL;
    // With create, every missing folder along the path is made.
    Ref folder = Ref::add_ref(this);
    for (const std::wstring& name : names) folder = folder->OpenChildFolder(name, create);
    *out = folder.detach();
    return S_OK;
}

HRESULT CStorageObject::OpenFilePath(const std::wstring& path, bool create, IStorageFile** out) {
    std::vector<std::wstring> names;
    HRESULT hr = SplitElementPath(path, names);
    if (FAILED(hr)) return hr;
    if (names.size() == 1 && names[0].empty()) return E_FAIL;
    // A trailing backslash stays part of the file's name, which the name check then refuses.
    if (names.back().empty()) {
        names.pop_back();
        names.back() += L'\\';
    }
    // Only the file at the end of a path is ever created.
    *out = OpenParentFolder(names)->OpenChildFile(names.back(), create).detach();
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
        if (HoldsOpenElement(old_text)) {
            // A rename that is refused cuts nobody off. Folders open inside a renamed one are read where they are.
            HRESULT refused = CheckRename(*storage_, old_text, new_text, [this](const std::vector<std::wstring>& path) {
                return StorageOfOpenFolder(path);
            });
            if (FAILED(refused)) return refused;
            DisconnectOpenElement(old_text);
        }
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
    std::vector<std::wstring> names;
    HRESULT hr = SplitElementPath(path, names);
    if (FAILED(hr)) return hr;
    Ref folder = OpenParentFolder(names);
    ChildRecord child;
    // An empty last name (the empty path, a trailing backslash) matches no child: nothing is found.
    hr = folder->FindChild(names.back(), child);
    if (hr != S_OK) return hr;
    // Opened by the name as asked, as an open of it would be.
    tools::interface_holder<IUnknown> opened;
    if (child.is_folder) opened.reset(static_cast<IStorageFolder*>(folder->OpenChildFolder(names.back(), false).detach()));
    else opened.reset(folder->OpenChildFile(names.back(), false).detach());
    return opened->QueryInterface(IID_IStorageElement, reinterpret_cast<void**>(out));
}

HRESULT CStorageObject::FindElementInfoPath(const std::wstring& path, IElementInfo** out) {
    std::vector<std::wstring> names;
    HRESULT hr = SplitElementPath(path, names);
    if (FAILED(hr)) return hr;
    ChildRecord child;
    hr = OpenParentFolder(names)->FindChild(names.back(), child);
    if (hr != S_OK) return hr;
    *out = CElementInfo::Make(child).detach();
    return S_OK;
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
