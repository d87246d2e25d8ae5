// An item's property sheet: its "General" page shows the name, type, size and comment; the name and the comment
// can be changed.
#include "item_commands.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <platform/dialog_framework.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <tools/auto_handle.h>
#include <tools/com_error.h>
#include "format_size.h"
#include "item_command_resources.h"
#include "item_type_text.h"
#include "storage_item_id.h"
#include "storage_shell_folder.h"

namespace shell {

namespace {

struct item_properties {
    bool accepted = false;
    bool name_changed = false;
    std::wstring name;
    std::wstring type_text;
    std::wstring size_text;  // empty for a folder
    tools::auto_icon icon;
    bool comment_changed = false;
    std::wstring comment;
};

constexpr int longest_name = 260;
constexpr int longest_comment = 65536;

class CGeneralPage final : public platform::property_page {
public:
    explicit CGeneralPage(item_properties& properties)
        : property_page(IDD_ITEM_GENERAL, platform::this_module()), properties_(properties) {}

protected:
    bool on_init_dialog() override {
        send_item(IDC_ITEM_ICON, STM_SETICON, reinterpret_cast<WPARAM>(properties_.icon.get()));
        send_item(IDC_ITEM_NAME, EM_LIMITTEXT, longest_name);
        set_item_text(IDC_ITEM_NAME, properties_.name);
        set_item_text(IDC_ITEM_TYPE, properties_.type_text);
        if (properties_.size_text.empty())
            show_item(IDC_ITEM_SIZE, false), show_item(IDC_ITEM_SIZE_LABEL, false);
        else
            set_item_text(IDC_ITEM_SIZE, properties_.size_text);
        send_item(IDC_ITEM_COMMENT, EM_LIMITTEXT, longest_comment);
        set_item_text(IDC_ITEM_COMMENT, properties_.comment);
        return true;
    }

    bool on_notify(NMHDR* header, LRESULT& result) override {
        if (header->code != PSN_APPLY) return false;
        properties_.accepted = true;
        // An emptied name takes nothing from the page, the comment included.
        const std::wstring name = item_text(IDC_ITEM_NAME);
        if (!name.empty()) {
            if (name != properties_.name) {
                properties_.name_changed = true;
                properties_.name = name;
            }
            // An emptied comment is not taken.
            const std::wstring comment = item_text(IDC_ITEM_COMMENT);
            if (!comment.empty() && comment != properties_.comment) {
                properties_.comment_changed = true;
                properties_.comment = comment;
            }
        }
        result = PSNRET_NOERROR;
        return true;
    }

private:
    item_properties& properties_;
};

tools::auto_icon item_icon(const ITEMIDLIST* full, const StorageItem& item) {
    SHFILEINFOW info{};
    if (SHGetFileInfoW(reinterpret_cast<LPCWSTR>(full), 0, &info, sizeof(info), SHGFI_PIDL | SHGFI_ICON) && info.hIcon)
        return tools::auto_icon(info.hIcon);
    // A storage's items are no files the shell can bind to by their list everywhere (Wine): their kind's icon.
    const DWORD attributes = item.type == FolderElementType ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    if (SHGetFileInfoW(item.name, attributes, &info, sizeof(info), SHGFI_USEFILEATTRIBUTES | SHGFI_ICON))
        return tools::auto_icon(info.hIcon);
    return {};
}

}  // namespace

bool ShowItemProperties(CStorageShellFolder& folder, HWND owner, const ITEMIDLIST* item) {
    const StorageItem* record = GetStorageItem(item);
    auto server = folder.GetServer();
    auto info = FindElementInfoOrThrow(server.get(), record->name);
    item_properties properties;
    // The name as the folder gives it for editing: renaming through the folder adds back an extension it hides.
    STRRET editing{};
    HRESULT hr = folder.GetDisplayNameOf(item, SHGDN_INFOLDER | SHGDN_FOREDITING, &editing);
    if (FAILED(hr)) _com_issue_error(hr);
    properties.name = editing.pOleStr;
    CoTaskMemFree(editing.pOleStr);
    const bool is_folder = GetTypeOrThrow(info.get()) == FolderElementType;
    properties.type_text = ItemTypeText(is_folder ? nullptr : record->name);
    if (!is_folder) {
        const UINT64 size = GetSizeOrThrow(info.get());
        properties.size_text = FormatSize(size, size_format::units) + L" (" + FormatSize(size, size_format::blanks) +
                               L" bytes)";
    }
    properties.icon = item_icon(CombineIdLists(folder.AbsoluteIdList(), item).get(), *record);
    auto element = FindElementOrThrow(server.get(), record->name);
    if (HasItemComment(element.get())) properties.comment = GetItemComment(element.get(), folder.GetStorageKey().bytes());
    info.reset();

    CGeneralPage page(properties);
    HPROPSHEETPAGE pages[] = {page.create_page()};
    PROPSHEETHEADERW sheet{};
    sheet.dwSize = sizeof(sheet);
    sheet.dwFlags = PSH_PROPTITLE | PSH_NOAPPLYNOW;
    sheet.hwndParent = owner;
    sheet.hInstance = platform::this_module();
    sheet.pszCaption = record->name;
    sheet.nPages = 1;
    sheet.phpage = pages;
    if (PropertySheetW(&sheet) < 0) tools::throw_last_error();
    if (!properties.accepted) return false;

    if (properties.comment_changed) SetItemComment(element.get(), properties.comment, folder.GetStorageKey().bytes());
    element.reset();
    // A failed rename has shown its own box.
    if (properties.name_changed)
        folder.SetNameOf(owner, item, properties.name.c_str(), SHGDN_INFOLDER | SHGDN_FOREDITING, nullptr);
    return true;
}

}  // namespace shell
