#include "wizard/storage_creation.h"

#include "server/idl/storage_identities.h"
#include "tools/auto_handle.h"
#include "tools/certificates.h"
#include "tools/content_key_wrapping.h"
#include "tools/file_io.h"
#include "tools/paths.h"
#include "tools/pfx_import.h"
#include "tools/win_except.h"
#include "wizard/keys/issuing_certificate.h"
#include "wizard/path_rules.h"
#include "wizard/wizard_values.h"

#include <cstdio>
#include <stdexcept>

namespace {

const ULONGLONG kOneDay = 864000000000ULL;  // in units of 100 ns
const size_t kLongestName = 255;            // characters of one name in a path

std::wstring RequiredText(CWizardValues& values, int32_t key) {
    const std::wstring* text = values.Text(key);
    if (!text) throw std::runtime_error("The wizard has no value for step field " + std::to_string(key));
    return *text;
}

bool Exists(const std::wstring& path) {
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string HexCode(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The full path in the form that may pass MAX_PATH ("\\?\C:\...", "\\?\UNC\server\share\..."): a path near
// the limit leaves no room for another name beside its file.
std::wstring LongPathForm(const std::wstring& path) {
    std::wstring full = tools::full_path(path);
    if (full.empty()) tools::throw_last_error();
    if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// A file that stands where a new one goes is moved aside, not deleted: it comes back when the Finish fails and
// goes for good when it succeeds. What the system would not delete is not moved either: its reason is raised
// and nothing has changed.
class CFileSetAside {
public:
    explicit CFileSetAside(const std::wstring& path) {
        if (!Exists(path)) return;
        std::wstring full = LongPathForm(path);
        RequireDeletable(full);
        // Beside the file under its own name and a mark, so that a Finish that never ends (the process killed)
        // leaves it where the user finds it; the name is cut where it would pass the longest a name may be.
        std::wstring mark = L"." + tools::guid_to_string(tools::new_guid()) + L".replaced";
        std::wstring name = tools::path_file_name(full).substr(0, kLongestName - mark.size());
        std::wstring aside = tools::path_directory(full) + L"\\" + name + mark;
        if (!MoveFileExW(full.c_str(), aside.c_str(), 0)) tools::throw_last_error();
        path_ = std::move(full);
        aside_ = std::move(aside);
    }
    ~CFileSetAside() {
        if (!aside_.empty()) MoveFileExW(aside_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    CFileSetAside(const CFileSetAside&) = delete;
    CFileSetAside& operator=(const CFileSetAside&) = delete;
    // The Finish succeeded: the old file goes for good.
    void Discard() {
        if (!aside_.empty()) DeleteFileW(aside_.c_str());
        aside_.clear();
    }

private:
    // A folder, a file this user may not delete and a read-only file are refused as a deletion refuses them.
    // A rename would pass the read-only file, and the copy set aside could then not be removed.
    static void RequireDeletable(const std::wstring& path) {
        HANDLE opened = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (opened == INVALID_HANDLE_VALUE) tools::throw_last_error();
        tools::auto_kernel_handle file(opened);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(opened, &info)) tools::throw_last_error();
        if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) throw tools::win_except(ERROR_ACCESS_DENIED);
    }

    std::wstring path_;
    std::wstring aside_;
};

// A file this Finish made; removed again unless the Finish succeeds.
class CCreatedFile {
public:
    CCreatedFile() = default;
    ~CCreatedFile() {
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }
    CCreatedFile(const CCreatedFile&) = delete;
    CCreatedFile& operator=(const CCreatedFile&) = delete;
    void Made(const std::wstring& path) { path_ = path; }
    void Keep() { path_.clear(); }

private:
    std::wstring path_;
};

// An imported certificate whose key container is wanted only for the moment.
class CImportedKey {
public:
    explicit CImportedKey(tools::cert_record cert) : cert_(std::move(cert)) {}
    ~CImportedKey() {
        try {
            tools::delete_key_container(cert_);
        } catch (...) {
            // The container stays; nothing else may fail because of it.
        }
    }
    CImportedKey(const CImportedKey&) = delete;
    CImportedKey& operator=(const CImportedKey&) = delete;
    const tools::cert_record& cert() const { return cert_; }

private:
    tools::cert_record cert_;
};

void WriteRootProperty(CStorageWrapper& root, const GUID& key, const VARIANT& value, const char* name) {
    if (!root.WriteProperty(key, value))
        throw std::runtime_error(std::string("Unable to write the storage's ") + name + " (error " +
                                 HexCode(root.LastResult()) + ")");
}

void WriteRootText(CStorageWrapper& root, const GUID& key, const std::string& text, const char* name) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(tools::to_wide(text).c_str());
    if (!value.bstrVal) throw std::bad_alloc();
    try {
        WriteRootProperty(root, key, value, name);
    } catch (...) {
        VariantClear(&value);
        throw;
    }
    VariantClear(&value);
}

}  // namespace

bool FileStandsAt(const std::wstring& path) {
    DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

CStorageCreationRequest ReadStorageCreationRequest(CWizardValues& values) {
    CStorageCreationRequest request;
    request.storage_path = RequiredText(values, StoragePathValue);
    const int32_t* option = values.Int(KeySavingOptionValue);
    if (!option || *option < SeparateFile || *option > AttachOnly)
        throw std::runtime_error("The wizard has no key saving option");
    request.option = static_cast<KeySavingOption>(*option);
    if (request.option != AttachOnly) request.key_file_path = RequiredText(values, KeyFilePathValue);
    request.common_name = RequiredText(values, CommonNameValue);
    request.password = RequiredText(values, PasswordValue);
    const SYSTEMTIME* end = values.Date(EndDateValue);
    if (!end) throw std::runtime_error("The wizard has no end date");
    request.end_date = *end;
    request.email = values.TextOr(EmailValue);
    request.country = values.TextOr(CountryValue);
    request.state = values.TextOr(StateValue);
    request.locality = values.TextOr(LocalityValue);
    request.street = values.TextOr(StreetValue);
    request.organization = values.TextOr(OrganizationValue);
    request.organizational_unit = values.TextOr(OrganizationalUnitValue);
    return request;
}

std::wstring CertificateCountry(const std::wstring& row) {
    static const wchar_t kPrintable[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 '()+,-./:=?";
    if (row.find_first_not_of(kPrintable) == std::wstring::npos) return row;
    size_t open = row.rfind(L'(');
    size_t close = row.rfind(L')');
    if (open != std::wstring::npos && close == open + 3) return row.substr(open + 1, 2);
    return row;
}

SYSTEMTIME KeyNotBefore(const SYSTEMTIME& local_now) {
    FILETIME file;
    tools::check_win(SystemTimeToFileTime(&local_now, &file));
    ULARGE_INTEGER value{{file.dwLowDateTime, file.dwHighDateTime}};
    value.QuadPart -= kOneDay;
    file.dwLowDateTime = value.LowPart;
    file.dwHighDateTime = value.HighPart;
    SYSTEMTIME result;
    tools::check_win(FileTimeToSystemTime(&file, &result));
    return result;
}

KeyCertificateRequest BuildKeyCertificateRequest(const CStorageCreationRequest& request, const SYSTEMTIME& not_before,
                                                 std::wstring& country) {
    auto optional = [](const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); };
    country = CertificateCountry(request.country);
    KeyCertificateRequest out;
    out.password = request.password.c_str();
    out.not_before = not_before;
    out.not_after = request.end_date;
    out.common_name = request.common_name.c_str();
    out.locality = optional(request.locality);
    out.organization = optional(request.organization);
    out.organizational_unit = optional(request.organizational_unit);
    out.email = optional(request.email);
    out.country = optional(country);
    out.state = optional(request.state);
    out.street = optional(request.street);
    return out;
}

CStorageWrapper::holder CreateStorageFile(const std::wstring& path, HRESULT* result) {
    HRESULT hr = S_OK;
    CStorageWrapper::holder root;
    IStorage* storage = nullptr;
    STGOPTIONS options{};
    options.usVersion = 2;
    options.ulSectorSize = 4096;
    hr = StgCreateStorageEx(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0, &options, nullptr,
                            IID_IStorage, reinterpret_cast<void**>(&storage));
    if (FAILED(hr)) {
        if (result) *result = hr;
        return root;
    }
    try {
        root = CStorageWrapper::Make(storage, CStorageWrapper::holder());
        storage->Release();
        storage = nullptr;
        VARIANT id;
        VariantInit(&id);
        id.vt = VT_BSTR;
        id.bstrVal = SysAllocString(tools::guid_to_string(tools::new_guid()).c_str());
        bool written = id.bstrVal && root->WriteProperty(ElementIdProperty, id);
        VariantClear(&id);
        if (!written) hr = E_UNEXPECTED;
    } catch (long thrown) {
        hr = thrown;
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    if (FAILED(hr)) {
        root = CStorageWrapper::holder();
        if (storage) storage->Release();
        DeleteFileW(path.c_str());
    }
    if (result) *result = hr;
    return root;
}

tools::byte_buffer CreateStorageAndKey(const CStorageCreationRequest& request) {
    bool key_file = request.option != AttachOnly;
    if (key_file && IsSameFilePath(request.key_file_path, request.storage_path))
        throw std::runtime_error("The key file can not be the storage file itself. Please, choose another key file name.");
    if (FileStandsAt(request.storage_path) && !request.replace_storage)
        throw std::runtime_error("The storage file already exists.");
    if (key_file && FileStandsAt(request.key_file_path) && !request.replace_key_file)
        throw std::runtime_error("The key file already exists.");

    // Files that stand in the way are set aside first; the files this Finish makes go after them, so on
    // failure the new ones are removed before the old ones come back.
    CFileSetAside old_storage(request.storage_path);
    std::unique_ptr<CFileSetAside> old_key_file;
    if (key_file) old_key_file = std::make_unique<CFileSetAside>(request.key_file_path);
    CCreatedFile new_key_file;
    CCreatedFile new_storage;

    tools::byte_buffer pfx;
    {
        CIssuingCertificate issuer;
        SYSTEMTIME now;
        GetLocalTime(&now);
        std::wstring country;
        KeyCertificateRequest subject = BuildKeyCertificateRequest(request, KeyNotBefore(now), country);
        CreateKeyCertificate(issuer.get(), subject, pfx);
    }
    if (key_file) {
        new_key_file.Made(request.key_file_path);
        tools::write_file(request.key_file_path, pfx);
    }

    {
        HRESULT hr = S_OK;
        CStorageWrapper::holder root = CreateStorageFile(request.storage_path, &hr);
        if (!root.get()) throw std::runtime_error("Unable to create storage file");
        new_storage.Made(request.storage_path);

        tools::cert_list imported = tools::import_pfx(pfx, request.password.c_str());
        if (imported.empty()) throw tools::win_except(CRYPT_E_NOT_FOUND);
        CImportedKey key(imported.front());
        for (size_t i = 1; i < imported.size(); ++i) CImportedKey extra(imported[i]);

        GUID content = tools::new_guid();
        tools::byte_buffer content_key(reinterpret_cast<unsigned char*>(&content),
                                       reinterpret_cast<unsigned char*>(&content) + sizeof(content));
        tools::byte_buffer wrapped = tools::wrap_content_key(tools::rsa_encrypt(key.cert(), content_key));
        SecureZeroMemory(content_key.data(), content_key.size());
        SecureZeroMemory(&content, sizeof(content));

        WriteRootText(*root, ContentKeyProperty, tools::base64_encode(wrapped), "content key");
        WriteRootText(*root, KeyIdentifierProperty, tools::base64_encode(tools::cert_key_identifier(key.cert())),
                      "key identifier");
        VARIANT frozen;
        VariantInit(&frozen);
        frozen.vt = VT_BOOL;
        frozen.boolVal = VARIANT_FALSE;
        WriteRootProperty(*root, FrozenProperty, frozen, "frozen state");
        VARIANT flags;
        VariantInit(&flags);
        flags.vt = VT_UI8;
        flags.ullVal = request.option == SeparateFile ? 0 : StorageFlagKeyAttached;
        WriteRootProperty(*root, StorageFlagsProperty, flags, "flags");
        if (request.option != SeparateFile)
            WriteRootText(*root, AttachedKeyProperty, tools::base64_encode(pfx), "attached key");
        if (!root->CommitStorage())
            throw std::runtime_error("Unable to write the storage file (error " + HexCode(root->LastResult()) + ")");
    }
    // The storage file is closed: everything is in place.
    new_storage.Keep();
    new_key_file.Keep();
    old_storage.Discard();
    if (old_key_file) old_key_file->Discard();
    return pfx;
}
