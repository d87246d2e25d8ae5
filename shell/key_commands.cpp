#include "key_commands.h"

#include <orrisafe.h>
#include <optional>

#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <tools/certificate_deletion.h>
#include <tools/certificates.h>
#include <tools/file_io.h>
#include <tools/pfx_import.h>
#include <tools/win_except.h>
#include <wizard/keys/key_installation.h>

#include "input_prompt.h"
#include "key_file_dialog.h"
#include "message_boxes.h"
#include "storage_at_path.h"
#include "storage_freeze.h"
#include "storage_key_map.h"
#include "storage_unlock.h"
#include "transient_secrets.h"

namespace shell {

namespace {

// The install question that the wizard asks under the same name: one ticked answer serves both.
constexpr wchar_t install_question_value[] = L"{79282F18-7951-4AE0-92BA-BEFDAA1F65BA}";

int Ask(HWND owner, const wchar_t* text, UINT style) { return MessageBoxW(BoxOwner(owner), text, box_caption, style); }

bool KeyAttached(IStorageElement* root) { return (GetStorageFlags(root) & StorageFlagKeyAttached) != 0; }

// The bytes of the storage's attached key; nothing when none is attached.
std::optional<tools::byte_buffer> AttachedKey(const std::wstring& path) {
    auto root = OpenStorageAtPath(path);
    if (!KeyAttached(root.get())) return std::nullopt;
    return GetAttachedKey(root.get());
}

// The key file's bytes when they hold the storage's own key under the password; nothing when they cannot be read,
// opened with that password, or hold another key. The keys imported to look are gone again on return.
bool HoldsStorageKey(const std::wstring& key_file, const wchar_t* password, const std::wstring& path,
                     tools::byte_buffer& bytes) {
    transient_keys imported;
    try {
        tools::read_file(key_file, bytes);
        imported.certs = tools::import_pfx(bytes, password);
    } catch (...) {
        return false;
    }
    if (imported.certs.empty()) return false;
    auto root = OpenStorageAtPath(path);
    // The identifier only names the key: a file with the certificate alone, or with a private key that is not the
    // certificate's, would be attached and leave no way in once the installed key is gone.
    return tools::cert_key_identifier(imported.certs.front()) == GetKeyIdentifier(root.get()) &&
           UnlocksContentKey(imported.certs.front(), root.get());
}

// Deletes the file when it goes, whatever happened meanwhile.
struct temporary_file {
    std::wstring path;
    ~temporary_file() { DeleteFileW(path.c_str()); }
};

}  // namespace

void ViewKey(HWND owner, const std::wstring& path) {
    tools::cert_record key(FindInstalledKeyAtPath(path));
    if (key.get()) tools::view_certificate(BoxOwner(owner), key);
}

bool DeleteInstalledKey(HWND owner, const std::wstring& path) {
    auto root = OpenStorageAtPath(path);
    tools::auto_cert_context key = FindInstalledKey(root.get());
    if (!key) return false;
    const bool attached = KeyAttached(root.get());
    const GUID id = GetStorageId(root.get());
    root.reset();
    const wchar_t* question =
        attached ? L"Do you really want to delete installed storage key for current user account?\n\nYou have a key "
                   L"attached to the storage so you can install it at any moment you need."
                 : L"WARNING: You have no storage key attached. If you have no any reserve copy of the key you want to "
                   L"delete than you'll not be able to access this storage any more.\n\nDo you really want to delete "
                   L"installed storage key for current user account (it couldn't be undone) ?";
    if (Ask(owner, question, MB_YESNO | MB_ICONWARNING) != IDYES) return false;
    CStorageKeyMap::Instance().Remove(id);
    SetStorageFreeze(path, true);
    // Deleted through a store that stays open meanwhile, as the delete needs.
    tools::auto_cert_store store = tools::open_user_store(L"MY");
    tools::auto_cert_context in_store(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                                 0, CERT_FIND_EXISTING, key.get(), nullptr));
    if (!in_store) tools::throw_last_error();
    tools::delete_certificate_with_key(in_store.get());
    return true;
}

bool AttachKey(HWND owner, const std::wstring& path) {
    for (;;) {
        std::wstring key_file;
        if (!ChooseKeyFileToOpen(owner, L"Select a storage key to attach", key_file)) return false;
        wiped_text password;
        if (!AskKeyPassword(owner, password.text)) return false;
        tools::byte_buffer bytes;
        if (HoldsStorageKey(key_file, password.text.c_str(), path, bytes)) {
            {
                auto root = OpenStorageAtPath(path);
                SetAttachedKey(root.get(), bytes);
                SetStorageFlags(root.get(), GetStorageFlags(root.get()) | StorageFlagKeyAttached);
            }
            RefreshStorageItem(path);
            return true;
        }
        Ask(owner,
            L"The key you have selected does not belong to this storage  or the password is invalid.\nPlease, select an "
            L"appropriate key or try another password.",
            MB_ICONWARNING);
    }
}

bool DetachKey(HWND owner, const std::wstring& path) {
    if (Ask(owner,
            L"Do you really want to remove attached key?\n\nNote: If you don't have a reserve copy of the key than you "
            L"couldn't access a storage any more and all data inside the storage will be lost.",
            MB_YESNO | MB_ICONWARNING) != IDYES)
        return false;
    {
        auto root = OpenStorageAtPath(path);
        const ULONGLONG flags = GetStorageFlags(root.get());
        if (!(flags & StorageFlagKeyAttached)) return false;
        DeletePropertyOrThrow(root.get(), AttachedKeyProperty);
        SetStorageFlags(root.get(), flags & ~StorageFlagKeyAttached);
    }
    RefreshStorageItem(path);
    return true;
}

bool InstallAttachedKey(HWND owner, const std::wstring& path) {
    std::optional<tools::byte_buffer> bytes = AttachedKey(path);
    if (!bytes) return false;
    temporary_file key_file{TempKeyFilePath()};
    tools::write_file(key_file.path, *bytes);
    // Should this process end before the file is deleted, the next restart removes it.
    MoveFileExW(key_file.path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    InstallKey(BoxOwner(owner), key_file.path.c_str(), box_caption);
    return true;
}

bool ExportKey(HWND owner, const std::wstring& path) {
    std::optional<tools::byte_buffer> bytes = AttachedKey(path);
    if (!bytes) return false;
    std::wstring target;
    if (!ChooseKeyFileToSave(owner, L"Storage key export", target)) return false;
    tools::write_file(target, *bytes);
    if (ShowMessageBoxCheck(owner, L"The key was successfuly exported.\n\nDo you want to install it right now?",
                            box_caption, install_question_value) == IDYES)
        InstallKey(BoxOwner(owner), target.c_str(), box_caption);
    return true;
}

}  // namespace shell
