#include <doctest.h>
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <string>
#include <thread>

#include <tools/tests/test_support.h>
#include <tools/certificates.h>
#include <tools/file_io.h>
#include <tools/pfx_import.h>
#include <tools/win_except.h>
#include <wizard/keys/issuing_certificate.h>
#include <wizard/keys/key_certificate.h>
#include <wizard/keys/key_installation.h>

#include "key_test_support.h"

namespace {

const wchar_t* const title = L"Orrisafe Wizard";
const wchar_t* const password = L"Install-Me 1";
const wchar_t* const question_value = L"{79282F18-7951-4AE0-92BA-BEFDAA1F65BA}";

tools::byte_buffer make_key_file(const std::wstring& path) {
    CIssuingCertificate issuer;
    KeyCertificateRequest request;
    request.password = password;
    GetSystemTime(&request.not_before);
    request.not_after = request.not_before;
    request.not_after.wYear += 1;
    request.common_name = L"Installed key";
    tools::byte_buffer pfx;
    CreateKeyCertificate(issuer.get(), request, pfx);
    tools::write_file(path, pfx);
    return pfx;
}

// The key identifier of the certificate in a key file.
tools::byte_buffer key_identifier_of(const tools::byte_buffer& pfx) {
    tools::cert_list certs = tools::import_pfx(pfx, password);
    tools::byte_buffer id = tools::cert_key_identifier(certs.at(0));
    for (auto& c : certs) tools::delete_key_container(c);
    return id;
}

std::wstring container_of(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return {};
    tools::byte_buffer data(size);
    REQUIRE(CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size));
    return reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data())->pwszContainerName;
}

bool installed(const tools::byte_buffer& id) {
    try {
        tools::find_cert_by_key_identifier(L"MY", id);
        return true;
    } catch (const tools::win_except&) {
        return false;
    }
}

// Takes the key out of the user's store again, with its container.
void uninstall(const tools::byte_buffer& id) {
    tools::cert_record found(tools::find_cert_by_key_identifier(L"MY", id));
    tools::delete_key_container(found);
    tools::auto_cert_store store = tools::open_user_store(L"MY");
    PCCERT_CONTEXT in_store = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                         found.get(), nullptr);
    if (in_store) CertDeleteCertificateFromStore(in_store);
}

// Answers the password prompt (or cancels it when password is null); returns the text of the message that
// followed, if any came within a few seconds, after closing it.
std::wstring answer_prompt(const wchar_t* typed) {
    HWND prompt = keytest::wait_for_dialog(title);
    if (!prompt) return L"<no prompt>";
    if (typed) {
        SetWindowTextW(keytest::find_control(prompt, L"Edit"), typed);
        PostMessageW(prompt, WM_COMMAND, IDOK, 0);
    } else {
        PostMessageW(prompt, WM_COMMAND, IDCANCEL, 0);
    }
    for (int i = 0; i < 100 && IsWindow(prompt); ++i) Sleep(100);
    HWND message = keytest::wait_for_dialog(title, 8000);
    if (!message) return L"";
    std::wstring text = keytest::dialog_text(message);
    PostMessageW(message, WM_COMMAND, IDOK, 0);
    return text;
}

}  // namespace

TEST_CASE("a temporary key file lies directly in the local application-data folder, named by a new GUID") {
    wchar_t folder[MAX_PATH];
    REQUIRE(SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE));
    std::wstring first = TempKeyFilePath(), second = TempKeyFilePath();
    CHECK(first != second);
    for (const std::wstring& path : {first, second}) {
        CAPTURE(tools::to_narrow(path));
        REQUIRE(path.size() == wcslen(folder) + 1 + 38 + 4);
        CHECK(path.compare(0, wcslen(folder) + 1, std::wstring(folder) + L"\\") == 0);
        std::wstring name = path.substr(wcslen(folder) + 1);
        CHECK(name.substr(38) == L".pfx");
        CHECK_NOTHROW(tools::string_to_guid(name.substr(0, 38).c_str()));
        CHECK(GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES);
    }
}

TEST_CASE("installing a key file puts the certificate with its private key into the user's store") {
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"key.pfx");
    tools::byte_buffer pfx = make_key_file(path);
    tools::byte_buffer id = key_identifier_of(pfx);
    REQUIRE_FALSE(installed(id));

    std::wstring message;
    std::thread user([&message] { message = answer_prompt(password); });
    BOOL result = InstallKey(nullptr, path.c_str(), title);
    user.join();
    CHECK(result == TRUE);
    CHECK(message.find(L"The import was successful.") != std::wstring::npos);
    REQUIRE(installed(id));

    tools::cert_record found(tools::find_cert_by_key_identifier(L"MY", id));
    tools::byte_buffer content_key(16, 0x42);
    CHECK(tools::rsa_decrypt(found, tools::rsa_encrypt(found, content_key)) == content_key);

    SUBCASE("installed again, the key replaces its earlier copy, whose container goes") {
        std::wstring first_container = container_of(found.get());
        REQUIRE(keytest::container_exists(first_container));
        std::thread again([&message] { message = answer_prompt(password); });
        CHECK(InstallKey(nullptr, path.c_str(), title) == TRUE);
        again.join();
        tools::auto_cert_store store = tools::open_user_store(L"MY");
        int copies = 0;
        PCCERT_CONTEXT c = nullptr;
        while ((c = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, found.get(), c)))
            ++copies;
        CHECK(copies == 1);
        CHECK_FALSE(keytest::container_exists(first_container));
        found = tools::cert_record(tools::find_cert_by_key_identifier(L"MY", id));
        CHECK(tools::rsa_decrypt(found, tools::rsa_encrypt(found, content_key)) == content_key);
    }
    // The key file itself is left as it was.
    tools::byte_buffer after;
    tools::read_file(path, after);
    CHECK(after == pfx);
    uninstall(id);
    CHECK_FALSE(installed(id));
}

TEST_CASE("cancelling the installation is no error and installs nothing") {
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"key.pfx");
    tools::byte_buffer id = key_identifier_of(make_key_file(path));
    std::wstring message = L"<none>";
    std::thread user([&message] { message = answer_prompt(nullptr); });
    BOOL result = InstallKey(nullptr, path.c_str(), title);
    user.join();
    CHECK(result == TRUE);
    CHECK(message.empty());
    CHECK_FALSE(installed(id));
}

TEST_CASE("a key file that cannot be installed shows the system's reason and installs nothing") {
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"key.pfx");
    tools::byte_buffer pfx = make_key_file(path);
    tools::byte_buffer id = key_identifier_of(pfx);
    const wchar_t* typed = L"Install-Me 1";

    SUBCASE("a wrong password") { typed = L"Install-Me 2"; }
    SUBCASE("a damaged file") {
        pfx.resize(pfx.size() / 2);
        tools::write_file(path, pfx);
    }
    std::wstring message;
    std::thread user([&message, typed] { message = answer_prompt(typed); });
    BOOL result = InstallKey(nullptr, path.c_str(), title);
    user.join();
    CHECK(result == FALSE);
    CAPTURE(tools::to_narrow(message));
    CHECK(message.rfind(L"Unable to install key due to the following error:\n\n   ", 0) == 0);
    CHECK(message.find(L"\n\nPlease try to install the key manually.") != std::wstring::npos);
    CHECK_FALSE(installed(id));
}
namespace {

const wchar_t* const remembered = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DontShowMeThisDialogAgain";

// Asks the install question with a user who ticks the box (or not) and presses that button; the question's
// text, or nothing when no question came within a few seconds.
std::wstring ask_answering(bool tick, int button, int& result) {
    std::wstring text;
    std::atomic<bool> answered{false};
    std::thread user([&text, &answered, tick, button] {
        HWND question = nullptr;
        for (int i = 0; i < 100 && !question && !answered; ++i) question = keytest::wait_for_dialog(title, 100);
        if (!question) return;
        text = keytest::dialog_text(question) + L"|";
        if (tick) SendMessageW(keytest::find_control(question, L"Button", BS_AUTOCHECKBOX), BM_CLICK, 0, 0);
        SendMessageW(GetDlgItem(question, button), BM_CLICK, 0, 0);
    });
    result = AskInstallKey(nullptr);
    answered = true;
    user.join();
    return text;
}

}  // namespace

TEST_CASE("the install question asks until the user ticks the box, then keeps that answer") {
    LoadLibraryW(L"shlwapi.dll");  // the question uses the shell utilities only where the program has them
    RegDeleteKeyValueW(HKEY_CURRENT_USER, remembered, question_value);
    int result = 0;

    std::wstring text = ask_answering(false, IDYES, result);
    CHECK(result == IDYES);
    CHECK(text.find(L"The storage and it's key were successfully created.\n\nDo you want to install the key right now?") !=
          std::wstring::npos);
    CHECK(ask_answering(false, IDNO, result) != L"");
    CHECK(result == IDNO);

    int answer = IDYES;
    SUBCASE("a ticked No") { answer = IDNO; }
    SUBCASE("a ticked Yes") { answer = IDYES; }
    CHECK(ask_answering(true, answer, result) != L"");
    CHECK(result == answer);
    for (int i = 0; i < 2; ++i) {
        CHECK(ask_answering(false, IDYES, result) == L"");  // nothing is shown any more
        CHECK(result == answer);
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, remembered, question_value);
}
