#include "certmgr/cert_manager_dlg.h"

#include "certmgr/key_export.h"
#include "certmgr/key_install.h"
#include "certmgr/manager_texts.h"
#include "certmgr/resource.h"

#include <tools/certificate_deletion.h>
#include <tools/certificates.h>
#include <tools/text.h>
#include <tools/user_guide.h>

#include <exception>

namespace {

const wchar_t kActivateMessage[] = L"MSG Orrisafe Certificates Manager";
const wchar_t kInstanceMutex[] = L"Pellmoor:Orrisafe Certificates Manager";
const UINT kHelpCommand = 0xE146;  // the application's help command
const int kCertificateMenu = 1;    // "&Certificate" in the menu bar
const wchar_t kDeleteValidQuestion[] = L"Are you sure you want to delete valid certificate?";
const wchar_t kDeleteQuestion[] = L"Are you sure you want to delete this certificate?";
const wchar_t kDeleteKeyNote[] =
    L"\n\nNote: Storages protected with this certificate will need their key file to be opened again.";

std::wstring date_text(const FILETIME& time) {
    SYSTEMTIME date;
    if (!FileTimeToSystemTime(&time, &date)) return std::wstring();
    wchar_t text[80] = L"";
    if (!GetDateFormatW(LOCALE_USER_DEFAULT, 0, &date, L"d MMM yyyy", text, 80)) return std::wstring();
    return text;
}

std::wstring display_name(PCCERT_CONTEXT cert) {
    DWORD length = CertGetNameStringW(cert, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    std::wstring name(length, L'\0');
    if (length) CertGetNameStringW(cert, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, name.data(), length);
    name.resize(wcslen(name.c_str()));
    return name;
}

std::wstring current_exception_text() {
    try {
        throw;
    } catch (const std::exception& e) {
        return kErrorPrefix + tools::to_wide(e.what());
    } catch (...) {
        return L"Undefined error has occured.";
    }
}

struct sort_order {
    int column;
    int direction;
};

}  // namespace

const std::wstring& CCertManagerDlg::CRow::Column(int column) const {
    switch (column) {
    case 1: return purpose;
    case 2: return valid_from;
    case 3: return valid_to;
    default: return issued_to;
    }
}

CCertManagerDlg::CCertManagerDlg(PCCERT_CONTEXT issuing, HINSTANCE resources)
    : dialog(IDD_CERT_MANAGER, resources), issuing_(issuing) {}

CCertManagerDlg::~CCertManagerDlg() {
    if (images_) ImageList_Destroy(images_);
}

bool CCertManagerDlg::TakeSingleInstance() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutex);
    DWORD error = GetLastError();
    if (!mutex) return error != ERROR_ACCESS_DENIED;  // denied: another manager holds it under stricter rights
    instance_mutex_ = tools::auto_kernel_handle(mutex);
    if (error != ERROR_ALREADY_EXISTS) return true;
    instance_mutex_.reset();
    return false;
}

bool CCertManagerDlg::on_init_dialog() {
    activate_message_ = RegisterWindowMessageW(kActivateMessage);
    // One manager at a time: created and tested in one step, and held while this dialog is open.
    if (!TakeSingleInstance()) {
        PostMessageW(HWND_BROADCAST, activate_message_, 0, 0);
        end_dialog(IDCANCEL);
        return false;
    }
    HMENU system = GetSystemMenu(hwnd(), FALSE);
    AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(system, MF_STRING, IDM_ABOUT, L"&About Orrisafe...");
    big_icon_ = tools::auto_icon(static_cast<HICON>(LoadImageW(resources(), MAKEINTRESOURCEW(IDI_MANAGER), IMAGE_ICON,
                                                               GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
    small_icon_ = tools::auto_icon(static_cast<HICON>(LoadImageW(resources(), MAKEINTRESOURCEW(IDI_MANAGER), IMAGE_ICON,
                                                                 GetSystemMetrics(SM_CXSMICON),
                                                                 GetSystemMetrics(SM_CYSMICON), 0)));
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_.get()));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_.get()));
    SetUpList();
    Refresh();
    return true;
}

void CCertManagerDlg::SetUpList() {
    list_ = item(IDC_CERT_LIST);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE | LVS_EX_LABELTIP);
    images_ = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
    if (HICON key = static_cast<HICON>(LoadImageW(resources(), MAKEINTRESOURCEW(IDI_KEY), IMAGE_ICON, 16, 16, 0))) {
        ImageList_AddIcon(images_, key);
        DestroyIcon(key);
    }
    ListView_SetImageList(list_, images_, LVSIL_SMALL);

    const struct {
        const wchar_t* title;
        int width;
    } columns[] = {{L"Issued to", 200}, {L"Purpose", 80}, {L"Valid from", 80}, {L"Valid to", 80}};
    for (int i = 0; i < 4; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = columns[i].width;
        column.pszText = const_cast<wchar_t*>(columns[i].title);
        column.iSubItem = i;
        ListView_InsertColumn(list_, i, &column);
    }

    ListView_EnableGroupView(list_, TRUE);
    const wchar_t* groups[] = {L"Valid", L"Soon expire", L"Expired or not yet valid"};
    for (int id = 0; id < 3; ++id) {
        LVGROUP group{};
        group.cbSize = LVGROUP_V5_SIZE;  // the size every version of the control accepts
        group.mask = LVGF_HEADER | LVGF_GROUPID;
        group.pszHeader = const_cast<wchar_t*>(groups[id]);
        group.iGroupId = id;
        ListView_InsertGroup(list_, -1, &group);
    }
}

void CCertManagerDlg::Refresh() {
    try {
        ListView_DeleteAllItems(list_);
        rows_.clear();
        validity_.clear();
        // Closed before it is opened again: a registry store writes its deletions when it closes.
        store_.reset();
        store_ = tools::open_user_store(L"MY");
        ClassifyStoreCertificates(issuing_, validity_, store_.get());
        UpdateMenu(false);
        FillList();
    } catch (...) {
        ShowError(current_exception_text());
    }
}

void CCertManagerDlg::FillList() {
    for (DWORD group : {GroupValid, GroupSoonExpire, GroupExpiredOrNotYetValid}) {
        for (const tools::auto_cert_context& cert : validity_[group]) {
            auto row = std::make_unique<CRow>();
            row->cert = cert;
            row->group = group;
            row->issued_to = display_name(cert.get());
            row->purpose = L"Storage key";
            row->valid_from = date_text(cert.get()->pCertInfo->NotBefore);
            row->valid_to = date_text(cert.get()->pCertInfo->NotAfter);
            LVITEMW item{};
            item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_GROUPID;
            item.iItem = ListView_GetItemCount(list_);
            item.iImage = 0;
            item.iGroupId = static_cast<int>(group);
            item.pszText = row->issued_to.data();
            item.lParam = reinterpret_cast<LPARAM>(row.get());
            int index = ListView_InsertItem(list_, &item);
            if (index < 0) continue;
            for (int column = 1; column < 4; ++column)
                ListView_SetItemText(list_, index, column, const_cast<wchar_t*>(row->Column(column).c_str()));
            rows_.push_back(std::move(row));
        }
    }
}

int CCertManagerDlg::SelectedRow() const {
    int count = ListView_GetItemCount(list_);
    for (int i = 0; i < count; ++i)
        if (ListView_GetItemState(list_, i, LVIS_SELECTED) & LVIS_SELECTED) return i;
    return -1;
}

CCertManagerDlg::CRow* CCertManagerDlg::RowAt(int index) const {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (!ListView_GetItem(list_, &item)) return nullptr;
    return reinterpret_cast<CRow*>(item.lParam);
}

bool CCertManagerDlg::UpdateMenu(bool with_actions) {
    HMENU menu = GetMenu(hwnd());
    auto set = [menu](UINT id, bool enabled) {
        EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    };
    CRow* row = nullptr;
    int selected = SelectedRow();
    if (selected >= 0) row = RowAt(selected);
    if (!row) {
        set(ID_VIEW_CERT, false);
        set(ID_EXPORT_CERT, false);
        set(ID_DELETE_CERT, false);
        return false;
    }
    set(ID_VIEW_CERT, with_actions);
    set(ID_DELETE_CERT, with_actions);
    set(ID_EXPORT_CERT, with_actions && IsPrivateKeyExportable(row->cert.get()));
    return true;
}

void CCertManagerDlg::ShowCertificateMenu(POINT screen) {
    TrackPopupMenu(GetSubMenu(GetMenu(hwnd()), kCertificateMenu), TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y,
                   0, hwnd(), nullptr);
}

void CCertManagerDlg::ViewSelected() {
    int selected = SelectedRow();
    CRow* row = selected >= 0 ? RowAt(selected) : nullptr;
    if (row) tools::view_certificate(hwnd(), tools::cert_record(row->cert));
}

void CCertManagerDlg::ExportSelected() {
    int selected = SelectedRow();
    CRow* row = selected >= 0 ? RowAt(selected) : nullptr;
    if (row) ExportCertificate(hwnd(), row->cert.get());
}

void CCertManagerDlg::DeleteSelected() {
    int selected = SelectedRow();
    CRow* row = selected >= 0 ? RowAt(selected) : nullptr;
    if (!row) return;
    // An expired key still opens the storages bound to it, and its private key goes with the certificate: every
    // key is asked about, and No is the answer a stray Return gives.
    std::wstring question = row->group == GroupExpiredOrNotYetValid ? kDeleteQuestion : kDeleteValidQuestion;
    if (message_box(question + kDeleteKeyNote, kManagerCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    try {
        tools::delete_certificate_with_key(row->cert.get());
    } catch (...) {
        ShowError(current_exception_text());
        return;
    }
    Refresh();
}

void CCertManagerDlg::Sort(int column) {
    if (column < 0 || column > 3) return;
    sort_order order{column, directions_[column]};
    ListView_SortItems(list_, CompareRows, reinterpret_cast<LPARAM>(&order));
    directions_[column] = -directions_[column];
}

int CALLBACK CCertManagerDlg::CompareRows(LPARAM first, LPARAM second, LPARAM sort) {
    const auto* order = reinterpret_cast<const sort_order*>(sort);
    const auto* a = reinterpret_cast<const CRow*>(first);
    const auto* b = reinterpret_cast<const CRow*>(second);
    if (!a || !b) return 0;
    int compared = a->Column(order->column).compare(b->Column(order->column));
    if (compared == 0) return 0;
    return (compared < 0 ? -1 : 1) * order->direction;
}

void CCertManagerDlg::ShowError(const std::wstring& text) {
    message_box(text, kManagerCaption, MB_OK | MB_ICONERROR);
}

void CCertManagerDlg::OpenUserGuide() {
    tools::open_user_guide(kManagerCaption, hwnd(), resources());
}

bool CCertManagerDlg::on_command(int id, int code) {
    switch (id) {
    case ID_INSTALL_KEY:
        InstallKeyFromPfx(hwnd());
        Refresh();
        return true;
    case ID_REFRESH_LIST:
        Refresh();
        return true;
    case ID_CLOSE:
        end_dialog(IDOK);
        return true;
    case ID_VIEW_CERT:
        ViewSelected();
        return true;
    case ID_EXPORT_CERT:
        ExportSelected();
        return true;
    case ID_DELETE_CERT:
        DeleteSelected();
        return true;
    case ID_USER_GUIDE:
    case kHelpCommand:
        OpenUserGuide();
        return true;
    }
    return false;
}

bool CCertManagerDlg::on_notify(NMHDR* header, LRESULT& result) {
    if (header->hwndFrom != list_) return false;
    switch (header->code) {
    case LVN_KEYDOWN:
        switch (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey) {
        case VK_RETURN:
            ViewSelected();
            return true;
        case VK_DELETE:
            DeleteSelected();
            return true;
        case VK_APPS:
            if (UpdateMenu(true)) {
                RECT bounds{};
                ListView_GetItemRect(list_, SelectedRow(), &bounds, LVIR_BOUNDS);
                POINT at{bounds.left, bounds.bottom};
                ClientToScreen(list_, &at);
                ShowCertificateMenu(at);
            }
            return true;
        }
        return false;
    case NM_DBLCLK:
        ViewSelected();
        return true;
    case NM_CLICK:
    case LVN_ITEMACTIVATE:
        // Both only test the selection; which of them comes first differs between platforms.
        UpdateMenu(true);
        return true;
    case NM_RCLICK:
        if (UpdateMenu(true)) {
            POINT at;
            GetCursorPos(&at);
            ShowCertificateMenu(at);
        }
        return true;
    case LVN_COLUMNCLICK:
        Sort(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
        return true;
    }
    return false;
}

bool CCertManagerDlg::on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    if (activate_message_ && message == activate_message_) {
        SetForegroundWindow(hwnd());
        return true;
    }
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) != IDM_ABOUT) return false;
        OpenUserGuide();
        return true;
    case WM_HELP:
        OpenUserGuide();
        result = TRUE;
        return true;
    case WM_PAINT:
        Paint();
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(big_icon_.get());
        return true;
    }
    return false;
}

void CCertManagerDlg::on_ok() {
    // Return with the list focused views the selected key; the dialog has no default button to press.
    if (GetFocus() == list_) ViewSelected();
}

void CCertManagerDlg::Paint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd(), &paint);
    RECT client;
    GetClientRect(hwnd(), &client);
    if (IsIconic(hwnd())) {
        SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
        int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, big_icon_.get());
    } else {
        HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
        HGDIOBJ old_pen = SelectObject(dc, pen);
        HGDIOBJ old_brush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
        Rectangle(dc, 0, 0, client.right, client.bottom);
        SelectObject(dc, old_brush);
        SelectObject(dc, old_pen);
        DeleteObject(pen);
    }
    EndPaint(hwnd(), &paint);
}
