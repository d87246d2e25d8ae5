// The names under which the storage server is known to COM and to the service control manager.
#pragma once
#include <windows.h>

namespace server {

// {30000000-9A79-48F0-A26B-FDA05AE1AD1C}: the server class, and its AppID.
inline constexpr CLSID CLSID_StorageServer = {0x30000000, 0x9A79, 0x48F0, {0xA2, 0x6B, 0xFD, 0xA0, 0x5A, 0xE1, 0xAD, 0x1C}};
inline constexpr wchar_t storage_server_clsid_text[] = L"{30000000-9A79-48F0-A26B-FDA05AE1AD1C}";
inline constexpr wchar_t type_library_id_text[] = L"{3B77F7C5-B1BF-479F-A138-6FE19AD0EBB8}";
inline constexpr wchar_t server_prog_id[] = L"Orrisafe.3.0";
inline constexpr wchar_t service_name[] = L"orriserver";

}  // namespace server
