#include "id_list_set.h"

#include <shellapi.h>
#include <shlwapi.h>
#include <memory>

#include <tools/com_error.h>
#include <tools/interface_holder.h>

namespace {

// The medium of one format, released with the object.
class medium {
public:
    medium(IDataObject* data, CLIPFORMAT format) {
        FORMATETC wanted = {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        ok_ = data && SUCCEEDED(data->GetData(&wanted, &medium_)) && medium_.tymed == TYMED_HGLOBAL && medium_.hGlobal;
    }
    ~medium() {
        if (ok_) ReleaseStgMedium(&medium_);
    }
    medium(const medium&) = delete;
    medium& operator=(const medium&) = delete;
    HGLOBAL get() const noexcept { return ok_ ? medium_.hGlobal : nullptr; }

private:
    STGMEDIUM medium_{};
    bool ok_ = false;
};

class locked_memory {
public:
    explicit locked_memory(HGLOBAL memory) : memory_(memory), bytes_(memory ? static_cast<const BYTE*>(GlobalLock(memory)) : nullptr) {}
    ~locked_memory() {
        if (bytes_) GlobalUnlock(memory_);
    }
    locked_memory(const locked_memory&) = delete;
    locked_memory& operator=(const locked_memory&) = delete;
    const BYTE* bytes() const noexcept { return bytes_; }
    SIZE_T size() const noexcept { return bytes_ ? GlobalSize(memory_) : 0; }

private:
    HGLOBAL memory_;
    const BYTE* bytes_;
};

// Whether a whole ID list, its terminator included, lies inside the block from offset on.
bool list_inside(const BYTE* block, SIZE_T size, SIZE_T offset) {
    for (;;) {
        if (offset > size || size - offset < sizeof(USHORT)) return false;
        USHORT cb = *reinterpret_cast<const UNALIGNED USHORT*>(block + offset);
        if (cb == 0) return true;
        if (cb < sizeof(USHORT) || cb > size - offset) return false;
        offset += cb;
    }
}

}  // namespace

size_t GetShellIdList(IdListSet& set, IDataObject* data) {
    set.parent.reset();
    set.children.clear();
    static const CLIPFORMAT format = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"Shell IDList Array"));
    medium held(data, format);
    locked_memory memory(held.get());
    const BYTE* block = memory.bytes();
    const SIZE_T size = memory.size();
    if (!block || size < sizeof(UINT)) return 0;
    const CIDA* array = reinterpret_cast<const CIDA*>(block);
    const SIZE_T count = array->cidl;
    // The count and count + 1 offsets.
    if (count == 0 || size / sizeof(UINT) < 2 || count > size / sizeof(UINT) - 2) return 0;
    for (SIZE_T i = 0; i <= count; ++i)
        if (!list_inside(block, size, array->aoffset[i])) return 0;
    IdListSet read;
    read.parent = CIdList::Clone(reinterpret_cast<const ITEMIDLIST*>(block + array->aoffset[0]));
    read.children.reserve(count);
    for (SIZE_T i = 1; i <= count; ++i)
        read.children.push_back(CIdList::Clone(reinterpret_cast<const ITEMIDLIST*>(block + array->aoffset[i])));
    set = std::move(read);
    return set.count();
}

std::vector<std::wstring> IdListSetPaths(const IdListSet& set) {
    auto check = [](HRESULT hr) {
        if (FAILED(hr)) _com_issue_error(hr);
    };
    CIdList parent(ILCreateFromPathW(IdListPath(set.parent.get()).c_str()));
    if (!parent) _com_issue_error(E_FAIL);
    tools::interface_holder<IShellFolder> above;
    const ITEMIDLIST* last = nullptr;
    check(SHBindToParent(parent.get(), IID_IShellFolder, above.put_void(), &last));
    tools::interface_holder<IShellFolder> folder;
    check(above->BindToObject(last, nullptr, IID_IShellFolder, folder.put_void()));
    std::vector<std::wstring> paths;
    for (const CIdList& child : set.children) {
        STRRET name{};
        check(folder->GetDisplayNameOf(child.get(), SHGDN_FORPARSING, &name));
        wchar_t* text = nullptr;
        check(StrRetToStrW(&name, child.get(), &text));
        std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(text, &CoTaskMemFree);
        paths.emplace_back(text);
    }
    return paths;
}

std::vector<std::wstring> GetDropFileNames(IDataObject* data) {
    std::vector<std::wstring> names;
    medium held(data, CF_HDROP);
    if (!held.get()) return names;
    HDROP drop = static_cast<HDROP>(held.get());
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        wchar_t name[MAX_PATH] = L"";
        DragQueryFileW(drop, i, name, MAX_PATH);
        names.emplace_back(name);
    }
    return names;
}
