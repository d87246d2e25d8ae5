#include "storage_unlock.h"

#include <optional>
#include <string>

#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <tools/certificates.h>
#include <tools/com_error.h>
#include <tools/content_key_wrapping.h>
#include <tools/pfx_import.h>
#include <tools/win_except.h>

#include "input_prompt.h"
#include "storage_key_map.h"
#include "transient_secrets.h"

namespace {

using shell::transient_keys;
using shell::wiped_text;

constexpr size_t content_key_size = 16;

// The content key deciphered with the certificate's private key, or nothing when that key cannot do it.
std::optional<ContentKey> Decipher(const tools::cert_record& cert, const tools::byte_buffer& locked) {
    try {
        tools::byte_buffer clear = tools::rsa_decrypt(cert, tools::unwrap_content_key(locked));
        if (clear.size() == content_key_size) return ContentKey(std::move(clear));
        SecureZeroMemory(clear.data(), clear.size());
    } catch (const tools::win_except&) {
    } catch (const _com_error&) {
    }
    return std::nullopt;
}

// The attached key, opened with a password the user gives; asks again after a wrong password.
std::optional<ContentKey> UnlockWithAttachedKey(HWND owner, IStorageFolder* root, const tools::byte_buffer& key_id,
                                                const tools::byte_buffer& locked) {
    if (!(GetStorageFlags(root) & StorageFlagKeyAttached)) return std::nullopt;
    tools::byte_buffer pfx = GetAttachedKey(root);
    for (;;) {
        wiped_text password;
        if (!AskKeyPassword(owner, password.text)) return std::nullopt;
        transient_keys imported;
        try {
            imported.certs = tools::import_pfx(pfx, password.text.c_str());
        } catch (const tools::win_except& e) {
            if (e.code() != ERROR_INVALID_PASSWORD) return std::nullopt;
            MessageBoxW(owner, L"The password is invalid.\nPlease, try another password.", L"Orrisafe", MB_ICONWARNING);
            continue;
        }
        for (const auto& cert : imported.certs)
            if (tools::cert_key_identifier(cert) == key_id) return Decipher(cert, locked);
        return std::nullopt;
    }
}

tools::auto_cert_context FindInstalledKey(const tools::byte_buffer& key_id) {
    try {
        return tools::find_cert_by_key_identifier(L"MY", key_id);
    } catch (const tools::win_except& e) {
        if (static_cast<HRESULT>(e.code()) == CRYPT_E_NOT_FOUND) return tools::auto_cert_context();
        throw;
    }
}

}  // namespace

tools::auto_cert_context FindInstalledKey(IStorageElement* root) { return FindInstalledKey(GetKeyIdentifier(root)); }

bool UnlocksContentKey(const tools::cert_record& cert, IStorageElement* root) {
    return Decipher(cert, GetContentKey(root)).has_value();
}

void UnlockStorage(HWND owner, IStorageFolder* root, const GUID& storage_id) {
    CStorageKeyMap& map = CStorageKeyMap::Instance();
    if (map.Contains(storage_id)) {
        map.AddRef(storage_id);
        return;
    }
    // A window of another thread would make the prompt wait on that thread's messages.
    if (owner && GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()) owner = nullptr;

    tools::byte_buffer key_id = GetKeyIdentifier(root);
    tools::byte_buffer locked = GetContentKey(root);
    tools::cert_record installed(FindInstalledKey(key_id));
    std::optional<ContentKey> key;
    if (installed.get()) key = Decipher(installed, locked);
    if (!key) {
        installed = tools::cert_record();
        key = UnlockWithAttachedKey(owner, root, key_id, locked);
    }
    if (!key) _com_issue_error(E_ACCESSDENIED);
    try {
        map.Register(storage_id, std::move(*key), std::move(installed.context));
    } catch (const tools::win_except& e) {
        // Another folder unlocked the same storage meanwhile: share its entry.
        if (e.code() != ERROR_ALREADY_INITIALIZED) throw;
        map.AddRef(storage_id);
    }
}
