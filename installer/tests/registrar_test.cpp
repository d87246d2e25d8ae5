// orritypes.exe run as the installer runs it, against the build's real type library.
#include <doctest.h>
#include <windows.h>

#include <orrisafe.h>
#include <tools/tests/test_support.h>

#include <string>

#include "installer_paths.h"

namespace {

struct outcome {
    DWORD code;
    std::string text;  // standard output with line ends as "\n"
};

outcome orritypes(const std::wstring& args) {
    outcome o;
    std::string raw;
    o.code = testing::run_process(L"\"" + installer_testing::dist_file(L"orritypes.exe") + L"\" " + args, &raw);
    for (size_t i = 0; i < raw.size(); ++i)
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) o.text += raw[i];
    return o;
}

const wchar_t typelib_key[] = L"TypeLib\\{3B77F7C5-B1BF-479F-A138-6FE19AD0EBB8}";

bool key_exists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::wstring key_default(const std::wstring& path) {
    wchar_t value[MAX_PATH] = {};
    LONG size = sizeof(value);
    if (RegQueryValueW(HKEY_CLASSES_ROOT, path.c_str(), value, &size) != ERROR_SUCCESS) return L"";
    return value;
}

std::wstring iid_text(const IID& iid) {
    wchar_t buf[40];
    StringFromGUID2(iid, buf, 40);
    return buf;
}

const char usage_body[] =
    "Description: type library command line registrar.\n"
    "\n"
    "Usage:\n"
    "\n"
    "orritypes.exe -[i|u] file.tlb\n"
    "\n"
    "\ti - install type library\n"
    "\tu - uninstall type library\n";

bool shows_usage(const outcome& o) {
    size_t at = o.text.find(usage_body);
    // One opening line comes first; nothing but the closing line break follows.
    return at != std::string::npos && o.text.find('\n') == at - 1 && o.text.substr(at) == std::string(usage_body) + "\n";
}

bool is_hresult_line(const std::string& text, const std::string& prefix) {
    if (text.rfind(prefix + "[0x", 0) != 0) return false;
    std::string rest = text.substr(prefix.size() + 3);
    if (rest.size() != 9 || rest[8] != ']') return false;
    for (int i = 0; i < 8; ++i)
        if (!isxdigit(static_cast<unsigned char>(rest[i])) || islower(static_cast<unsigned char>(rest[i]))) return false;
    return true;
}

// Restores the registry and the working folder whatever a case leaves behind.
struct cleanup {
    wchar_t folder[MAX_PATH];
    cleanup() { GetCurrentDirectoryW(MAX_PATH, folder); }
    ~cleanup() {
        SetCurrentDirectoryW(folder);
        orritypes(L"-u orrisafe.tlb");
    }
};

}  // namespace

TEST_CASE("orritypes shows its usage and fails on a command line it does not know") {
    for (const wchar_t* args : {L"", L"-x orrisafe.tlb", L"-i", L"i orrisafe.tlb", L"-i orrisafe.tlb extra", L"-install orrisafe.tlb"}) {
        CAPTURE(std::string(args, args + lstrlenW(args)));
        outcome o = orritypes(args);
        CHECK(o.code == 1);
        CHECK(shows_usage(o));
    }
}

TEST_CASE("orritypes registers and unregisters the type library named beside it") {
    cleanup restore;
    // The file is found beside the program, not in the folder the installer runs it from.
    testing::scratch_dir elsewhere;
    REQUIRE(SetCurrentDirectoryW(elsewhere.path().c_str()));

    outcome installed = orritypes(L"-I orrisafe.tlb");
    CHECK(installed.code == 0);
    CHECK(installed.text == "OK. Type library was successfuly registered\n");
    CHECK(key_exists(typelib_key));
    std::wstring win = sizeof(void*) == 8 ? L"win64" : L"win32";
    std::wstring registered_path = key_default(std::wstring(typelib_key) + L"\\1.0\\0\\" + win);
    CHECK(lstrcmpiW(registered_path.c_str(), installer_testing::dist_file(L"orrisafe.tlb").c_str()) == 0);
    // Each interface of the family now marshals through the type library.
    for (const IID* iid : {&IID_IStorageServer, &IID_IStorageFolder, &IID_IStorageFile, &IID_IStorageElement,
                           &IID_IElementEnum, &IID_IElementInfo}) {
        std::wstring key = L"Interface\\" + iid_text(*iid);
        CHECK(key_default(key + L"\\ProxyStubClsid32") == L"{00020424-0000-0000-C000-000000000046}");
        CHECK(key_default(key + L"\\TypeLib") == L"{3B77F7C5-B1BF-479F-A138-6FE19AD0EBB8}");
    }

    outcome removed = orritypes(L"-u orrisafe.tlb");
    CHECK(removed.code == 0);
    CHECK(removed.text == "OK. Type library was successfuly unregistered\n");
    CHECK_FALSE(key_exists(typelib_key));
    CHECK_FALSE(key_exists(L"Interface\\" + iid_text(IID_IStorageServer)));

    // Removing what is not there is reported, and still counts as done.
    outcome again = orritypes(L"-U orrisafe.tlb");
    CHECK(again.code == 0);
    CHECK(is_hresult_line(again.text, "Error: Unable unregister type library "));
}

TEST_CASE("orritypes takes a full path as it stands") {
    cleanup restore;
    testing::scratch_dir folder;
    std::wstring copy = folder.file(L"copy of orrisafe.tlb");
    REQUIRE(CopyFileW(installer_testing::dist_file(L"orrisafe.tlb").c_str(), copy.c_str(), FALSE));
    outcome installed = orritypes(L"-i \"" + copy + L"\"");
    CHECK(installed.code == 0);
    std::wstring win = sizeof(void*) == 8 ? L"win64" : L"win32";
    CHECK(lstrcmpiW(key_default(std::wstring(typelib_key) + L"\\1.0\\0\\" + win).c_str(), copy.c_str()) == 0);
    outcome removed = orritypes(L"-u \"" + copy + L"\"");
    CHECK(removed.code == 0);
    CHECK_FALSE(key_exists(typelib_key));
}

TEST_CASE("orritypes reports a library it cannot load or locate and fails") {
    cleanup restore;
    for (const wchar_t* op : {L"-i", L"-u"}) {
        outcome missing = orritypes(std::wstring(op) + L" missing.tlb");
        CHECK(missing.code == 1);
        CHECK(is_hresult_line(missing.text, "Error: Unable to load type library file "));
        // A file that is not a type library is refused the same way.
        outcome wrong = orritypes(std::wstring(op) + L" orriprecheck.dll");
        CHECK(wrong.code == 1);
        CHECK(is_hresult_line(wrong.text, "Error: Unable to load type library file "));
    }
    CHECK_FALSE(key_exists(typelib_key));

    // A name too long for a path ends in an error line, not in an abnormal end.
    outcome too_long = orritypes(L"-i " + std::wstring(300, L'a') + L".tlb");
    CHECK(too_long.code == 1);
    CHECK(too_long.text == "Error: Unable to build type library path [0x800700CE]");
}
