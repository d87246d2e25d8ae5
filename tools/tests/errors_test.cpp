#include <doctest.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include <tools/text.h>
#include <tools/win_except.h>

#include <new>
#include <stdexcept>

namespace {
std::wstring system_text(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                             GetUserDefaultLangID(), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n ? std::wstring(buffer, n) : std::wstring();
    if (buffer) LocalFree(buffer);
    return text;
}
}  // namespace

TEST_CASE("format_win_error gives the system's text or the hexadecimal fallback") {
    std::wstring known = system_text(ERROR_ACCESS_DENIED);
    REQUIRE_FALSE(known.empty());
    CHECK(tools::format_win_error(ERROR_ACCESS_DENIED) == known);

    DWORD unknown = 0x1F4ABCD;
    if (system_text(unknown).empty()) CHECK(tools::format_win_error(unknown) == L"Undefined error #1F4ABCD");
    // A code of the storage family, which Wine has no text for: whatever the system says is what we say.
    std::wstring storage = system_text(0x80030002);
    CHECK(tools::format_win_error(0x80030002) == (storage.empty() ? L"Undefined error #80030002" : storage));
}

TEST_CASE("a system text with an insertion place is given as it stands, not the fallback") {
    // ERROR_BAD_EXE_FORMAT's text names the program through "%1"; no arguments are ever supplied.
    std::wstring text = tools::format_win_error(ERROR_BAD_EXE_FORMAT);
    CHECK(text.find(L"Undefined error") == std::wstring::npos);
    CHECK(text.find(L"%1") != std::wstring::npos);
    CHECK(std::string(tools::win_except(ERROR_BAD_EXE_FORMAT).what()) == tools::to_narrow(text));
}

TEST_CASE("win_except carries the code and the narrow message, and survives copying") {
    tools::win_except e(ERROR_FILE_NOT_FOUND);
    CHECK(e.code() == ERROR_FILE_NOT_FOUND);
    CHECK(std::string(e.what()) == tools::to_narrow(tools::format_win_error(ERROR_FILE_NOT_FOUND)));
    tools::win_except copy = e;
    CHECK(std::string(copy.what()) == e.what());
    SetLastError(ERROR_INVALID_HANDLE);
    try {
        tools::throw_last_error();
        FAIL("no throw");
    } catch (const tools::win_except& t) {
        CHECK(t.code() == ERROR_INVALID_HANDLE);
    }
    CHECK_THROWS_AS(tools::throw_invalid_thread(), tools::win_except);
}

TEST_CASE("a failed call that left no error code is a failure, never success") {
    // Some of Wine's calls fail without setting an error code (its PKCS#12 export stub, for one).
    SetLastError(0);
    try {
        tools::check_win(FALSE);
        FAIL("no throw");
    } catch (const tools::win_except& e) {
        CHECK(e.code() != 0);
    }
    SetLastError(0);
    CHECK(FAILED(tools::com_boundary([] { tools::throw_last_error(); })));
}

TEST_CASE("the exception-to-HRESULT rule, row by row") {
    auto map = [](auto thrower) { return tools::com_boundary([&] { thrower(); }); };
    CHECK(map([] { throw std::bad_alloc(); }) == E_OUTOFMEMORY);
    CHECK(map([] { _com_issue_error(E_POINTER); }) == E_POINTER);
    CHECK(map([] { throw static_cast<long>(0x80030002); }) == static_cast<HRESULT>(0x80030002));
    CHECK(map([] { throw tools::win_except(5); }) == static_cast<HRESULT>(0x80070005));
    CHECK(map([] { throw tools::win_except(0); }) == S_OK);
    CHECK(map([] { throw tools::win_except(0x12345678); }) == static_cast<HRESULT>(0x80075678));
    CHECK(map([] { throw tools::win_except(0x80030002); }) == static_cast<HRESULT>(0x80030002));
    CHECK(map([] { throw std::runtime_error("x"); }) == E_UNEXPECTED);
    CHECK(map([] { throw std::invalid_argument("An argument is invalid"); }) == E_UNEXPECTED);
    CHECK(map([] { throw 7; }) == E_UNEXPECTED);
    CHECK(map([] {}) == S_OK);
    CHECK(tools::com_boundary([]() -> HRESULT { return S_FALSE; }) == S_FALSE);
}
