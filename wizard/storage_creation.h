// The wizard's Finish without its windows: the key, the key file and the storage file bound to the key.
#pragma once
#include "tools/element_wrapper.h"
#include "tools/text.h"
#include "wizard/keys/key_certificate.h"

#include <windows.h>
#include <cstdint>
#include <string>

class CWizardValues;

// How the new key is kept (value-map key 2).
enum KeySavingOption : int32_t {
    SeparateFile = 0,
    SeparateFileAndAttach = 1,
    AttachOnly = 2,
};

// Everything a Finish needs, read from the value map.
struct CStorageCreationRequest {
    std::wstring storage_path;
    std::wstring key_file_path;  // empty with AttachOnly
    KeySavingOption option = AttachOnly;
    std::wstring common_name;
    std::wstring password;
    SYSTEMTIME end_date{};
    std::wstring email, country, state, locality, street, organization, organizational_unit;
    // The user agreed to replace a file that stands at the storage path / the key file path.
    bool replace_storage = false;
    bool replace_key_file = false;
};

// Reads the request; a value the pages never wrote throws std::runtime_error.
CStorageCreationRequest ReadStorageCreationRequest(CWizardValues& values);

// The country as the certificate carries it: the row as listed, or only its two-letter code where the row
// has characters that the country field's printable string cannot hold.
std::wstring CertificateCountry(const std::wstring& row);

// The start of the key's validity: the given local time one day earlier.
SYSTEMTIME KeyNotBefore(const SYSTEMTIME& local_now);

// The subject and validity of the new key certificate. Texts point into request and country; empty optional
// fields are null, the common name never is.
KeyCertificateRequest BuildKeyCertificateRequest(const CStorageCreationRequest& request, const SYSTEMTIME& not_before,
                                                 std::wstring& country);

// Creates the compound file (4096-byte sectors, exclusive) and writes its storage identifier. Never throws:
// an empty holder on failure, with nothing left at the path.
CStorageWrapper::holder CreateStorageFile(const std::wstring& path, HRESULT* result = nullptr);

// Whether a file, not a folder, stands at the path: what a Finish replaces when the user agrees.
bool FileStandsAt(const std::wstring& path);

// Creates the key, writes the key file unless the key is only attached, creates the storage and writes its root
// properties. A file already standing at a path is replaced only when the request allows it, and is back in
// place when the Finish fails; what the system would not delete (a folder, a read-only file) is left as it is
// and its reason raised before anything is made. On failure every file this call created is removed, every key container it
// imported is deleted, and the exception (std::exception) goes to the caller. Returns the key's PKCS#12 bytes.
tools::byte_buffer CreateStorageAndKey(const CStorageCreationRequest& request);
