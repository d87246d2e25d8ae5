// The names under which the storage server is known to COM and to the service control manager.
#pragma once
#include <windows.h>
#include <server/idl/storage_identities.h>

namespace server {

// CLSID_StorageServer (the server class and its AppID) is declared with the other identities.
inline constexpr wchar_t storage_server_clsid_text[] = L"{30000000-9A79-48F0-A26B-FDA05AE1AD1C}";
inline constexpr wchar_t type_library_id_text[] = L"{3B77F7C5-B1BF-479F-A138-6FE19AD0EBB8}";
inline constexpr wchar_t server_prog_id[] = L"Orrisafe.3.0";
// The default value of the ProgID, the AppID and the class key.
inline constexpr wchar_t server_description[] = L"Orrisafe Service";
inline constexpr wchar_t service_name[] = L"orriserver";

}  // namespace server
