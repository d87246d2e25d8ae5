#include <doctest.h>

#include "server/idl/storage_identities.h"
#include "tools/certificates.h"
#include "tools/content_key_wrapping.h"
#include "tools/auto_handle.h"
#include "tools/file_io.h"
#include "tools/pfx_import.h"
#include "tools/tests/test_support.h"
#include "tools/win_except.h"
#include "wizard/key_properties_page.h"
#include "wizard/resource.h"
#include "wizard/storage_creation.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace {

CStorageCreationRequest Request(const testing::scratch_dir& dir, KeySavingOption option) {
    CStorageCreationRequest request;
    request.storage_path = dir.file(L"new.orrisafe");
    request.key_file_path = option == AttachOnly ? std::wstring() : dir.file(L"new.pfx");
    request.option = option;
    request.common_name = L"John Smith";
    request.password = L"Strong#Pass1";
    GetLocalTime(&request.end_date);
    request.end_date.wYear = static_cast<WORD>(request.end_date.wYear + 10);
    request.country = L"C\u00f4te d'Ivoire (CI)";
    request.organization = L"Smith & Sons";
    return request;
}

struct RootProperties {
    std::set<std::wstring> names;
    VARIANT values[6];
    RootProperties() { for (auto& v : values) VariantInit(&v); }
    ~RootProperties() { for (auto& v : values) VariantClear(&v); }
};

const GUID* const kRootKeys[] = {&ElementIdProperty, &ContentKeyProperty, &KeyIdentifierProperty,
                                 &FrozenProperty, &StorageFlagsProperty, &AttachedKeyProperty};

// Reads the root set of a storage file through the property layer, and every name the set holds.
void ReadRoot(const std::wstring& path, RootProperties& out) {
    IStorage* storage = nullptr;
    REQUIRE(SUCCEEDED(StgOpenStorageEx(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0, nullptr,
                                       nullptr, IID_IStorage, reinterpret_cast<void**>(&storage))));
    {
        CStorageWrapper::holder root = CStorageWrapper::Make(storage, CStorageWrapper::holder());
        storage->Release();
        for (size_t i = 0; i < 6; ++i) CHECK(root->ReadProperty(*kRootKeys[i], &out.values[i]));
        auto sets = root->GetPropertySetStorage();
        IPropertyStorage* set = nullptr;
        REQUIRE(SUCCEEDED(sets->Open(GUID_NULL, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set)));
        IEnumSTATPROPSTG* list = nullptr;
        REQUIRE(SUCCEEDED(set->Enum(&list)));
        STATPROPSTG stat;
        while (list->Next(1, &stat, nullptr) == S_OK) {
            if (stat.lpwstrName) out.names.insert(stat.lpwstrName);
            CoTaskMemFree(stat.lpwstrName);
        }
        list->Release();
        set->Release();
    }
}

std::string ReadAll(const std::wstring& path) {
    tools::byte_buffer bytes;
    tools::read_file(path, bytes);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST_CASE("the storage file is a 4096-byte-sector compound file with its identifier") {
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"plain.orrisafe");
    HRESULT hr = E_FAIL;
    {
        CStorageWrapper::holder root = CreateStorageFile(path, &hr);
        REQUIRE(root.get());
        CHECK(hr == S_OK);
    }
    std::string header = ReadAll(path);
    REQUIRE(header.size() >= 4096);
    CHECK(header.compare(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") == 0);
    CHECK(static_cast<unsigned char>(header[0x1A]) == 4);   // major version 4
    CHECK(static_cast<unsigned char>(header[0x1E]) == 12);  // sectors of 2^12 bytes
    RootProperties root;
    ReadRoot(path, root);
    REQUIRE(root.values[0].vt == VT_BSTR);
    CHECK(SysStringLen(root.values[0].bstrVal) == 38);
    CHECK(root.names == std::set<std::wstring>{tools::guid_to_string(ElementIdProperty)});

    SUBCASE("an existing file is never overwritten") {
        CStorageWrapper::holder again = CreateStorageFile(path, &hr);
        CHECK_FALSE(again.get());
        CHECK(FAILED(hr));
        CHECK(ReadAll(path) == header);
    }
    SUBCASE("a missing folder fails and leaves nothing") {
        CHECK_FALSE(CreateStorageFile(dir.file(L"missing\\x.orrisafe"), &hr).get());
        CHECK(FAILED(hr));
    }
}

TEST_CASE("the Finish binds a new storage to a new key") {
    testing::scratch_dir dir;
    std::set<std::wstring> containers_before = testing::key_container_names();

    SUBCASE("separate file and attached: every root property in its form") {
        CStorageCreationRequest request = Request(dir, SeparateFileAndAttach);
        tools::byte_buffer pfx = CreateStorageAndKey(request);
        tools::byte_buffer key_file;
        tools::read_file(request.key_file_path, key_file);
        CHECK(key_file == pfx);

        RootProperties root;
        ReadRoot(request.storage_path, root);
        std::set<std::wstring> expected;
        for (const GUID* key : kRootKeys) expected.insert(tools::guid_to_string(*key));
        CHECK(root.names == expected);
        REQUIRE(root.values[1].vt == VT_BSTR);
        REQUIRE(root.values[2].vt == VT_BSTR);
        CHECK(root.values[3].vt == VT_BOOL);
        CHECK(root.values[3].boolVal == VARIANT_FALSE);
        CHECK(root.values[4].vt == VT_UI8);
        CHECK(root.values[4].ullVal == 1);
        REQUIRE(root.values[5].vt == VT_BSTR);
        CHECK(tools::base64_decode(tools::to_narrow(root.values[5].bstrVal).c_str()) == pfx);

        // The content key opens with the key file's private key; the identifier is that key's.
        tools::cert_list key = tools::import_pfx(key_file, request.password.c_str());
        REQUIRE(key.size() == 1);
        tools::byte_buffer wrapped = tools::base64_decode(tools::to_narrow(root.values[1].bstrVal).c_str());
        CHECK(wrapped.size() == 256);
        tools::byte_buffer content = tools::rsa_decrypt(key[0], tools::unwrap_content_key(wrapped));
        CHECK(content.size() == 16);
        CHECK(tools::base64_decode(tools::to_narrow(root.values[2].bstrVal).c_str()) == tools::cert_key_identifier(key[0]));

        // The subject: the accented country as its code, validity from a day before now.
        char subject[512] = "";
        CertNameToStrA(X509_ASN_ENCODING, &key[0].get()->pCertInfo->Subject, CERT_X500_NAME_STR, subject, sizeof(subject));
        CHECK(std::string(subject).find("C=CI") != std::string::npos);
        CHECK(std::string(subject).find("CN=John Smith") != std::string::npos);
        CHECK(std::string(subject).find("Smith & Sons") != std::string::npos);
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        CHECK(CompareFileTime(&key[0].get()->pCertInfo->NotBefore, &now) < 0);
        tools::delete_key_container(key[0]);
    }
    SUBCASE("separate file: nothing attached") {
        CStorageCreationRequest request = Request(dir, SeparateFile);
        CreateStorageAndKey(request);
        RootProperties root;
        ReadRoot(request.storage_path, root);
        CHECK(root.names.size() == 5);
        CHECK(root.values[4].ullVal == 0);
        CHECK(root.values[5].vt == VT_EMPTY);
    }
    SUBCASE("attach only: no key file, a file at an earlier key path stays") {
        std::wstring earlier = dir.file(L"new.pfx");
        tools::write_file(earlier, tools::byte_buffer{1, 2, 3});
        CStorageCreationRequest request = Request(dir, AttachOnly);
        tools::byte_buffer pfx = CreateStorageAndKey(request);
        CHECK(ReadAll(earlier) == std::string("\x01\x02\x03"));
        RootProperties root;
        ReadRoot(request.storage_path, root);
        CHECK(root.values[4].ullVal == 1);
        CHECK(tools::base64_decode(tools::to_narrow(root.values[5].bstrVal).c_str()) == pfx);
    }
    // Neither the issuing key nor the new key stays in the user's key set.
    CHECK(testing::key_container_names() == containers_before);
}

TEST_CASE("a failed Finish leaves nothing half-made and loses nothing") {
    testing::scratch_dir dir;
    CStorageCreationRequest request = Request(dir, SeparateFile);

    SUBCASE("existing files are replaced only when allowed") {
        tools::write_file(request.storage_path, tools::byte_buffer{7});
        CHECK_THROWS_AS(CreateStorageAndKey(request), std::runtime_error);
        CHECK(ReadAll(request.storage_path) == "\x07");
        CHECK(GetFileAttributesW(request.key_file_path.c_str()) == INVALID_FILE_ATTRIBUTES);
        request.replace_storage = true;
        CreateStorageAndKey(request);
        CHECK(ReadAll(request.storage_path).size() >= 4096);
    }
    SUBCASE("a storage that cannot be created removes the new key file and restores the old one") {
        tools::write_file(request.key_file_path, tools::byte_buffer{9, 9});
        request.replace_key_file = true;
        request.storage_path = dir.file(L"missing\\new.orrisafe");
        try {
            CreateStorageAndKey(request);
            FAIL("no error");
        } catch (const std::runtime_error& e) {
            CHECK(std::string(e.what()) == "Unable to create storage file");
        }
        CHECK(ReadAll(request.key_file_path) == "\x09\x09");
    }
    SUBCASE("a storage file in use is not replaced") {
        tools::write_file(request.storage_path, tools::byte_buffer{5});
        HANDLE held = CreateFileW(request.storage_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
        request.replace_storage = true;
        CHECK_THROWS(CreateStorageAndKey(request));
        CloseHandle(held);
        CHECK(ReadAll(request.storage_path) == "\x05");
        CHECK(GetFileAttributesW(request.key_file_path.c_str()) == INVALID_FILE_ATTRIBUTES);
    }
    SUBCASE("a folder at the storage path is left as it is, with the system's reason") {
        REQUIRE(CreateDirectoryW(request.storage_path.c_str(), nullptr));
        tools::write_file(request.storage_path + L"\\inside.txt", tools::byte_buffer{3});
        request.replace_storage = true;
        try {
            CreateStorageAndKey(request);
            FAIL("no error");
        } catch (const tools::win_except& e) {
            CHECK(e.code() == ERROR_ACCESS_DENIED);
        }
        CHECK((GetFileAttributesW(request.storage_path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0);
        CHECK(ReadAll(request.storage_path + L"\\inside.txt") == "\x03");
        CHECK(GetFileAttributesW(request.key_file_path.c_str()) == INVALID_FILE_ATTRIBUTES);
        RemoveDirectoryW(request.storage_path.c_str());
    }
    SUBCASE("a read-only file is not replaced, and the other file comes back") {
        tools::write_file(request.storage_path, tools::byte_buffer{4});
        tools::write_file(request.key_file_path, tools::byte_buffer{6});
        REQUIRE(SetFileAttributesW(request.key_file_path.c_str(), FILE_ATTRIBUTE_READONLY));
        request.replace_storage = request.replace_key_file = true;
        try {
            CreateStorageAndKey(request);
            FAIL("no error");
        } catch (const tools::win_except& e) {
            CHECK(e.code() == ERROR_ACCESS_DENIED);
        }
        CHECK(ReadAll(request.storage_path) == "\x04");
        CHECK(ReadAll(request.key_file_path) == "\x06");
        CHECK((GetFileAttributesW(request.key_file_path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0);
        SetFileAttributesW(request.key_file_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    SUBCASE("the key file may not be the storage file") {
        request.key_file_path = request.storage_path;
        CHECK_THROWS_AS(CreateStorageAndKey(request), std::runtime_error);
        CHECK(GetFileAttributesW(request.storage_path.c_str()) == INVALID_FILE_ATTRIBUTES);
    }
    // The folder holds nothing but what the subcase put there itself.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir.path() + L"\\*.replaced").c_str(), &found);
    CHECK(search == INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

// The names files in a folder were renamed to, as the system reports them from the moment this is made.
class folder_renames {
public:
    explicit folder_renames(const std::wstring& folder) : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        HANDLE opened = CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        REQUIRE(opened != INVALID_HANDLE_VALUE);
        folder_.take_over(opened);
        read();
    }
    // The first name a file was renamed to; empty when none came within seconds.
    std::wstring first_new_name() {
        while (WaitForSingleObject(done_.get(), 5000) == WAIT_OBJECT_0) {
            DWORD bytes = 0;
            if (!GetOverlappedResult(folder_.get(), &overlapped_, &bytes, FALSE) || bytes == 0) break;
            for (auto* info = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(buffer_);;
                 info = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(reinterpret_cast<BYTE*>(info) + info->NextEntryOffset)) {
                if (info->Action == FILE_ACTION_RENAMED_NEW_NAME)
                    return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
                if (!info->NextEntryOffset) break;
            }
            read();
        }
        return {};
    }
    ~folder_renames() { CancelIoEx(folder_.get(), &overlapped_); }

private:
    void read() {
        ResetEvent(done_.get());
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = done_.get();
        REQUIRE((ReadDirectoryChangesW(folder_.get(), buffer_, sizeof(buffer_), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME,
                                       nullptr, &overlapped_, nullptr) ||
                 GetLastError() == ERROR_IO_PENDING));
    }

    tools::auto_kernel_handle folder_;
    tools::auto_kernel_handle done_;
    OVERLAPPED overlapped_{};
    alignas(DWORD) BYTE buffer_[64 * 1024];
};

TEST_CASE("a file whose name or path leaves no room for a longer name beside it is replaced all the same") {
    testing::scratch_dir dir;
    CStorageCreationRequest request = Request(dir, SeparateFile);
    // A name as long as the path allows, and a short name in folders as deep as it allows.
    std::wstring deep = dir.path();
    while (deep.size() < 200) {
        deep += L"\\" + std::wstring(40, L'd');
        REQUIRE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    for (const std::wstring& folder : {dir.path(), deep}) {
        request.storage_path = folder + L"\\" + std::wstring(245 - folder.size(), L's') + L".orrisafe";
        CAPTURE(request.storage_path.size());
        REQUIRE(request.storage_path.size() < MAX_PATH);
        tools::write_file(request.storage_path, tools::byte_buffer{8});
        folder_renames renames(folder);
        request.replace_storage = request.replace_key_file = true;
        CreateStorageAndKey(request);
        // The old file waited under its own name, cut to fit, so that a Finish that never ended leaves it findable.
        std::wstring name = renames.first_new_name(), old_name = request.storage_path.substr(folder.size() + 1);
        size_t kept = std::min<size_t>(old_name.size(), 255 - 48);  // 48: ".{GUID}.replaced"
        CHECK(name.size() == kept + 48);
        CHECK(name.substr(0, kept) == old_name.substr(0, kept));
        CHECK(name.substr(name.size() - 9) == L".replaced");
        CHECK(ReadAll(request.storage_path).size() >= 4096);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*.replaced").c_str(), &found);
        CHECK(search == INVALID_HANDLE_VALUE);
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }
}

TEST_CASE("subject and validity of the key request") {
    CStorageCreationRequest request;
    request.common_name = L"";
    request.password = L"p";
    request.locality = L"Seattle";
    std::wstring country;
    SYSTEMTIME now{2026, 3, 0, 1, 0, 30, 0, 0};
    SYSTEMTIME before = KeyNotBefore(now);
    CHECK(before.wYear == 2026);
    CHECK(before.wMonth == 2);
    CHECK(before.wDay == 28);
    CHECK(before.wMinute == 30);
    KeyCertificateRequest built = BuildKeyCertificateRequest(request, before, country);
    REQUIRE(built.common_name);  // always set, even empty
    CHECK(std::wstring(built.common_name).empty());
    CHECK(std::wstring(built.locality) == L"Seattle");
    CHECK(built.country == nullptr);
    CHECK(built.email == nullptr);
    CHECK(built.organization == nullptr);
    CHECK(built.title == nullptr);
    CHECK(built.domain_component == nullptr);
    request.country = L"France (FR)";
    built = BuildKeyCertificateRequest(request, before, country);
    CHECK(std::wstring(built.country) == L"France (FR)");
}

TEST_CASE("every country row encodes in the certificate's country field") {
    // The rows come from the page's own template, through the dialog framework.
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    std::vector<std::wstring> rows;
    {
        CKeyPropertiesPage page;
        page.create_child(parent);
        HWND list = GetDlgItem(page.hwnd(), IDC_COUNTRY);
        LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[128] = L"";
            SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            rows.push_back(text);
        }
        CHECK(SendMessageW(list, CB_GETCURSEL, 0, 0) == 0);
    }
    DestroyWindow(parent);
    REQUIRE(rows.size() == 247);
    CHECK(rows[0] == L"<Not specified>");
    CHECK(rows[1] == L"United States (US)");
    CHECK(rows[246] == L"Zimbabwe (ZW)");
    std::set<std::wstring> codes;
    for (size_t i = 1; i < rows.size(); ++i) codes.insert(rows[i].substr(rows[i].size() - 3, 2));
    CHECK(codes.size() == 246);

    std::vector<std::wstring> mapped;
    for (size_t i = 1; i < rows.size(); ++i) {
        std::wstring country = CertificateCountry(rows[i]);
        if (country != rows[i]) mapped.push_back(rows[i]);
        std::wstring text = L"C=\"" + country + L"\"";
        DWORD size = 0;
        CHECK_MESSAGE(CertStrToNameW(X509_ASN_ENCODING, text.c_str(), CERT_X500_NAME_STR | CERT_NAME_STR_CRLF_FLAG,
                                     nullptr, nullptr, &size, nullptr),
                      tools::to_narrow(rows[i]));
    }
    CHECK(mapped == std::vector<std::wstring>{L"C\u00f4te d'Ivoire (CI)", L"R\u00e9union (RE)", L"Saint Barth\u00e9lemy (BL)"});
    CHECK(CertificateCountry(L"R\u00e9union (RE)") == L"RE");
}
