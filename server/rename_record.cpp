#include "rename_record.h"

#include <cstring>

#include <tools/element_name.h>
#include <tools/hresult.h>
#include <tools/interface_holder.h>
#include <tools/named_property.h>
#include <tools/text.h>

#include <platform/property_set_storage.h>

#include "element_store.h"

namespace {

constexpr DWORD child_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
// Never an element's name: a hashed name holds only radix-32 digits and blanks.
const wchar_t record_name[] = L"orrisafe-rename";
const wchar_t copied_mark[] = L"copied";
// A record is a few names; anything longer is none.
constexpr ULONGLONG longest_record = 64 * 1024;

using tools::check;

bool is_hashed_name(const std::wstring& name) {
    try {
        return !name.empty() && HashedElementName(ParseElementName(name)) == name;
    } catch (...) {
        return false;
    }
}

// One field a line, each line ended: the folder's names joined by backslashes, the old name, the new name,
// the identity; then, once the copy is whole, the mark. A record cut short lacks its last line end; a mark cut
// short is none (the old element began to go only after the mark was on disk).
std::wstring record_text(const RenameRecord& record) {
    std::wstring folder;
    for (const auto& name : record.folder) folder += (folder.empty() ? L"" : L"\\") + name;
    return folder + L"\n" + record.old_name + L"\n" + record.new_name + L"\n" + record.element_id + L"\n";
}

bool parse_record(const std::wstring& text, RenameRecord& record) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        fields.push_back(text.substr(start, end - start));
    if (fields.size() < 4) return false;
    record = RenameRecord();
    record.copied = fields.size() == 5 && fields[4] == copied_mark && start == text.size();
    for (size_t from = 0; !fields[0].empty();) {
        size_t end = fields[0].find(L'\\', from);
        record.folder.push_back(fields[0].substr(from, end == std::wstring::npos ? end : end - from));
        if (!is_hashed_name(record.folder.back())) return false;
        if (end == std::wstring::npos) break;
        from = end + 1;
    }
    record.old_name = fields[1];
    record.new_name = fields[2];
    record.element_id = fields[3];
    return is_hashed_name(record.old_name) && is_hashed_name(record.new_name) && record.old_name != record.new_name;
}

// The record's text; false when root holds none.
bool read_record(IStorage* root, std::wstring& text) {
    tools::interface_holder<IStream> stream;
    HRESULT hr = root->OpenStream(record_name, nullptr, child_mode, 0, stream.put());
    if (hr == STG_E_FILENOTFOUND) return false;
    check(hr);
    STATSTG stat{};
    check(stream->Stat(&stat, STATFLAG_NONAME));
    text.clear();
    if (stat.cbSize.QuadPart > longest_record) return true;
    text.resize(static_cast<size_t>(stat.cbSize.QuadPart) / sizeof(wchar_t));
    ULONG read = 0;
    check(stream->Read(text.data(), static_cast<ULONG>(text.size() * sizeof(wchar_t)), &read));
    text.resize(read / sizeof(wchar_t));
    return true;
}

// Whether the element whose set this is carries the identity (an absent one reads as empty). A copy's set is
// on disk before the copy begins: an element without a readable set is not the copy.
bool carries_identity(IPropertySetStorage* sets, const GUID& fmtid, const std::wstring& identity) {
    tools::interface_holder<IPropertyStorage> set;
    if (FAILED(sets->Open(fmtid, child_mode, set.put()))) return false;
    set.reset();
    VARIANT value;
    try {
        ReadNamedProperty(sets, fmtid, ElementIdProperty, &value);
    } catch (...) {
        return false;
    }
    bool same = value.vt == VT_EMPTY ? identity.empty()
                                     : value.vt == VT_BSTR && value.bstrVal &&
                                           identity == std::wstring(value.bstrVal, SysStringLen(value.bstrVal));
    VariantClear(&value);
    return same;
}

// The folder the record names, opened from the root; empty when it is gone.
tools::interface_holder<IStorage> open_folder(IStorage* root, const std::vector<std::wstring>& names) {
    tools::interface_holder<IStorage> folder = tools::interface_holder<IStorage>::add_ref(root);
    for (const auto& name : names) {
        tools::interface_holder<IStorage> child;
        HRESULT hr = folder->OpenStorage(name.c_str(), nullptr, child_mode, nullptr, 0, child.put());
        if (hr == STG_E_FILENOTFOUND) return {};
        check(hr);
        folder = std::move(child);
    }
    return folder;
}

}  // namespace

HRESULT WriteRenameRecord(IStorage* root, const RenameRecord& record) {
    return tools::com_boundary([&]() -> HRESULT {
        std::wstring text = record_text(record);
        tools::interface_holder<IStream> stream;
        check(root->CreateStream(record_name, child_mode, 0, 0, stream.put()));
        ULONG bytes = static_cast<ULONG>(text.size() * sizeof(wchar_t)), written = 0;
        HRESULT hr = stream->Write(text.data(), bytes, &written);
        if (SUCCEEDED(hr) && written != bytes) hr = STG_E_MEDIUMFULL;
        stream.reset();
        // The platform keeps what it writes in memory until a commit.
        if (SUCCEEDED(hr)) hr = root->Commit(STGC_DEFAULT);
        if (FAILED(hr)) root->DestroyElement(record_name);
        return hr;
    });
}

HRESULT MarkRenameCopied(IStorage* root) {
    return tools::com_boundary([&]() -> HRESULT {
        tools::interface_holder<IStream> stream;
        check(root->OpenStream(record_name, nullptr, child_mode, 0, stream.put()));
        LARGE_INTEGER none{};
        check(stream->Seek(none, STREAM_SEEK_END, nullptr));
        std::wstring line = std::wstring(copied_mark) + L"\n";
        ULONG bytes = static_cast<ULONG>(line.size() * sizeof(wchar_t)), written = 0;
        check(stream->Write(line.data(), bytes, &written));
        if (written != bytes) return STG_E_MEDIUMFULL;
        stream.reset();
        return root->Commit(STGC_DEFAULT);
    });
}

HRESULT RemoveRenameRecord(IStorage* root) {
    HRESULT hr = root->DestroyElement(record_name);
    return FAILED(hr) ? hr : root->Commit(STGC_DEFAULT);
}

HRESULT SettleRename(IStorage* folder, const RenameRecord& record) {
    return tools::com_boundary([&]() -> HRESULT {
        tools::interface_holder<IPropertySetStorage> sets;
        check(platform::property_set_storage(folder, sets.put()));
        GUID old_set = ParseElementName(record.old_name), new_set = ParseElementName(record.new_name);
        bool old_stands = StoredChildType(folder, record.old_name) != 0;
        bool copy_stands = StoredChildType(folder, record.new_name) != 0;
        if (record.copied && copy_stands && carries_identity(sets.get(), new_set, record.element_id)) {
            // The copy is whole: what stands under the old name may be the element half destroyed, emptied file
            // or folder with some children gone. It goes if it is the element's; the copy stays whatever happens.
            if (old_stands) {
                if (!carries_identity(sets.get(), old_set, record.element_id)) return S_OK;
                check(folder->DestroyElement(record.old_name.c_str()));
            }
            check(DropPropertySet(sets.get(), old_set));
        } else if (old_stands) {
            // Not finished: the element stands whole under its old name, and what stands under the new name is
            // its copy. Either is known by the element's identity; an element that does not carry it is not
            // the rename's, and is left alone, set and all.
            if (!carries_identity(sets.get(), old_set, record.element_id)) return S_OK;
            if (copy_stands && !carries_identity(sets.get(), new_set, record.element_id)) return S_OK;
            if (copy_stands) check(folder->DestroyElement(record.new_name.c_str()));
            check(DropPropertySet(sets.get(), new_set));
        } else if (copy_stands) {
            // The old element went only once its copy was whole: the rename is done but for the old set.
            check(DropPropertySet(sets.get(), old_set));
        }
        return folder->Commit(STGC_DEFAULT);
    });
}

HRESULT SettleInterruptedRename(IStorage* root) {
    return tools::com_boundary([&]() -> HRESULT {
        std::wstring text;
        if (!read_record(root, text)) return S_OK;
        RenameRecord record;
        if (parse_record(text, record)) {
            if (auto folder = open_folder(root, record.folder)) check(SettleRename(folder.get(), record));
        }
        return RemoveRenameRecord(root);
    });
}

platform::half_destroyed_element RenamedAwayElement() {
    return {record_name, [](const std::vector<unsigned char>& bytes) {
                std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
                if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
                RenameRecord record;
                std::vector<std::wstring> path;
                if (text.size() <= longest_record / sizeof(wchar_t) && parse_record(text, record) && record.copied) {
                    path = record.folder;
                    path.push_back(record.old_name);
                }
                return path;
            }};
}

bool IsRenameRecordName(const wchar_t* stored_name) { return stored_name && lstrcmpiW(stored_name, record_name) == 0; }
