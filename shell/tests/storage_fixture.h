// Storages and keys for the shell's tests: made by the wizard's Finish, and a key installed in "MY" for a scope.
#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include <orrisafe.h>

#include <server/tests/service_fixture.h>
#include <shell/id_list.h>
#include <tools/certificates.h>
#include <tools/interface_holder.h>
#include <tools/tests/test_support.h>
#include <wizard/storage_creation.h>

namespace shell_testing {

// The password of every key these tests make.
inline constexpr wchar_t key_password[] = L"Unlock#Pass1";

// A storage <name>.orrisafe in the folder, its key kept as the option says (a key file <name>.pfx beside it,
// attached, or both); pfx receives the key's PKCS#12 bytes. Returns the storage's path.
std::wstring MakeStorage(const testing::scratch_dir& dir, const std::wstring& name, KeySavingOption option,
                         tools::byte_buffer& pfx);

// What the storage tests start from: the installed service, a COM apartment on the test's thread, a scratch folder
// and room for a key file's bytes.
struct storage_bench {
    service_testing::installed_server installed;
    testing::com_apartment apartment;
    testing::scratch_dir dir;
    tools::byte_buffer pfx;
    storage_bench();
};

// The children's names in the server's own order.
std::vector<std::wstring> ServerListing(IStorageFolder* folder);

// The key installed in "MY" for the object's life, removed with its container on every path.
class installed_key {
public:
    explicit installed_key(const tools::byte_buffer& pfx);
    ~installed_key();
    installed_key(const installed_key&) = delete;
    installed_key& operator=(const installed_key&) = delete;

private:
    tools::cert_record cert_;
    tools::auto_cert_context added_;
};

// A storage the wizard made, its key installed unless told otherwise, open through the installed service; closed
// there again when the object goes.
class served_storage {
public:
    explicit served_storage(const std::wstring& name, bool install_key = true);
    ~served_storage();
    served_storage(const served_storage&) = delete;
    served_storage& operator=(const served_storage&) = delete;

    // A new connection and root folder.
    void Connect();
    // A file of size bytes (a pattern of its own), its digest recorded unless told otherwise; its folders are made
    // where they are missing.
    void Write(const std::wstring& relative, size_t size, bool record_digest = true);
    // The folder at the path, made where it is missing.
    tools::interface_holder<IStorageFolder> FindFolder(const std::wstring& relative);
    bool Exists(const std::wstring& relative);
    // The storage file's ID list.
    CIdList List() const;

    testing::scratch_dir dir;
    tools::byte_buffer pfx;
    std::wstring path;
    std::unique_ptr<installed_key> key;
    tools::interface_holder<IStorageServer> server;
    tools::interface_holder<IStorageFolder> root;
    GUID id{};
};

// The shell's setting that hides file name extensions, as the folder reads it, for the object's life (Wine reads its
// registry value the other way round from Windows, so the value is chosen by what the setting then says).
class extensions_shown_as {
public:
    explicit extensions_shown_as(bool shown);
    ~extensions_shown_as();
    extensions_shown_as(const extensions_shown_as&) = delete;
    extensions_shown_as& operator=(const extensions_shown_as&) = delete;

private:
    DWORD old_ = 0;
    bool had_ = false;
};

}  // namespace shell_testing
