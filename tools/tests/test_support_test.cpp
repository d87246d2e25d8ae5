#include "test_support.h"

#include <doctest.h>

TEST_CASE("run_process gives up on a child that outlives its time, also while collecting its output") {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    SetEnvironmentVariableW(L"ORRI_HANGING_CHILD", L"1");
    std::string output;
    DWORD start = GetTickCount();
    DWORD code = testing::run_process(L"\"" + std::wstring(self) + L"\" -tc=\"hanging child\"", &output, 1500);
    DWORD elapsed = GetTickCount() - start;
    SetEnvironmentVariableW(L"ORRI_HANGING_CHILD", nullptr);
    CHECK(code == static_cast<DWORD>(-1));
    CHECK(elapsed < 20000);

    // A child that ends in time still hands over all it wrote and its exit code.
    output.clear();
    code = testing::run_process(L"\"" + std::wstring(self) + L"\" -tc=\"hanging child\"", &output);
    CHECK(code == 0);
    CHECK(output.find("test cases: 1 | 1 passed") != std::string::npos);
}

TEST_CASE("hanging child") {
    if (testing::env(L"ORRI_HANGING_CHILD").empty()) return;  // only as the child of the test above
    Sleep(60000);
}
