#include <doctest.h>
#include "tools/tests/test_support.h"

#include "wizard/key_properties_page.h"
#include "wizard/password_rules.h"
#include "wizard/path_rules.h"
#include "tools/program_start.h"
#include "wizard/wizard_app.h"

#include <fstream>

TEST_CASE("password complexity rule") {
    SUBCASE("eight characters of three classes are strong") {
        CHECK_FALSE(IsWeakPassword(L"Abcdefg1"));
        CHECK_FALSE(IsWeakPassword(L"abcdef1!"));
        CHECK_FALSE(IsWeakPassword(L"ABCDEF1 "));  // the blank counts as a symbol
    }
    SUBCASE("too short, too few classes or a triple are weak") {
        CHECK(IsWeakPassword(L""));
        CHECK(IsWeakPassword(L"Abcde1!"));          // seven
        CHECK(IsWeakPassword(L"abcdefg1"));         // lower case and digits only
        CHECK(IsWeakPassword(L"ABCDEFGH"));
        CHECK(IsWeakPassword(L"Abcccde1"));         // three in a row
        CHECK(IsWeakPassword(L"Ab1!Ab1!xxx"));
        CHECK_FALSE(IsWeakPassword(L"Abccdde1"));   // pairs are allowed
    }
    SUBCASE("characters outside the four classes count for none") {
        CHECK(IsWeakPassword(L"\u00e9\u00e9\u00e8abcd12"));          // accents add no class
        CHECK_FALSE(IsWeakPassword(L"\u00e9\u00e8Abcd12"));
        CHECK(IsWeakPassword(L"abcd\t\t12"));                         // a tab is not the blank
    }
    SUBCASE("every symbol of the list counts") {
        for (wchar_t symbol : std::wstring(L" !@#$%^&*()_+-=[]{}\"\\;:<>,./`~'")) {
            std::wstring password = L"abcdef1";
            password += symbol;
            CHECK_MESSAGE(!IsWeakPassword(password), static_cast<int>(symbol));
        }
        CHECK(IsWeakPassword(L"abcdef1?"));  // ? is not in the list
    }
    SUBCASE("strength bars") {
        CHECK(PasswordStrengthBars(L"abc") == 0);
        CHECK(PasswordStrengthBars(L"Abcdefg1") == 1);
        CHECK(PasswordStrengthBars(L"Abcdefghij1k") == 2);      // 12
        CHECK(PasswordStrengthBars(L"Abcdefghij1") == 1);       // 11
        CHECK(PasswordStrengthBars(L"Abcdefghijklmn1o") == 3);  // 16
        CHECK(PasswordStrengthBars(L"Abcdefghijklmn1") == 2);   // 15
        CHECK(PasswordStrengthBars(L"aaabcdefghijklmnopqrsT1") == 0);
    }
    SUBCASE("trimming") {
        CHECK(TrimText(L"  a b \t\r\n") == L"a b");
        CHECK(TrimText(L" \t ") == L"");
    }
}

TEST_CASE("path usability and extensions") {
    testing::scratch_dir dir;
    std::wstring file = dir.file(L"existing.orrisafe");
    std::ofstream(file.c_str()) << "x";

    SUBCASE("folders and devices are not usable, files and missing paths are") {
        CHECK_FALSE(IsUsableFilePath(dir.path()));
        CHECK_FALSE(IsUsableFilePath(dir.path() + L"\\"));
        CHECK(IsUsableFilePath(file));
        CHECK(IsUsableFilePath(dir.file(L"new.orrisafe")));
        CHECK(IsUsableFilePath(dir.file(L"missing\\folder\\new.orrisafe")));
        CHECK_FALSE(IsUsableFilePath(std::wstring(L"C:\\") + std::wstring(300, L'a')));
    }
    SUBCASE("the path completed with its extension is judged too") {
        REQUIRE(CreateDirectoryW(dir.file(L"taken.orrisafe").c_str(), nullptr));
        CHECK(IsUsableFilePath(dir.file(L"taken")));
        CHECK_FALSE(IsUsableCompletedPath(dir.file(L"taken"), L".orrisafe"));
        CHECK(IsUsableCompletedPath(dir.file(L"taken"), L".pfx"));
        CHECK(IsUsableCompletedPath(file, L".orrisafe"));
        std::wstring longest = L"C:\\" + std::wstring(120, L'a') + L"\\" + std::wstring(MAX_PATH - 125, L'b');
        CHECK(IsUsableFilePath(longest));
        CHECK_FALSE(IsUsableCompletedPath(longest, L".orrisafe"));
    }
    SUBCASE("the extension is that of the last component") {
        CHECK(PathExtension(L"C:\\Data\\new.orrisafe") == L".orrisafe");
        CHECK(PathExtension(L"C:\\Data.d\\new") == L"");
        CHECK(PathExtension(L"C:\\Data\\a.txt") == L".txt");
        CHECK(WithExtension(L"C:\\Data\\new", L".orrisafe") == L"C:\\Data\\new.orrisafe");
        CHECK(WithExtension(L"C:\\Data\\new.ORRISAFE", L".orrisafe") == L"C:\\Data\\new.ORRISAFE");
        CHECK(WithExtension(L"C:\\Data\\a.txt", L".orrisafe") == L"C:\\Data\\a.txt.orrisafe");
        CHECK(WithExtension(L"C:\\Data.d\\key", L".pfx") == L"C:\\Data.d\\key.pfx");
    }
    SUBCASE("the key file proposal replaces the storage's extension") {
        CHECK(ProposeKeyFilePath(L"C:\\Data\\new.orrisafe") == L"C:\\Data\\new.pfx");
        CHECK(ProposeKeyFilePath(L"C:\\Data.d\\new") == L"C:\\Data.d\\new.pfx");
        CHECK(ProposeKeyFilePath(L"C:\\Data\\a.b.orrisafe") == L"C:\\Data\\a.b.pfx");
    }
    SUBCASE("the same file under two spellings") {
        CHECK(IsSameFilePath(dir.file(L"A.pfx"), dir.path() + L"\\sub\\..\\a.PFX"));
        CHECK_FALSE(IsSameFilePath(dir.file(L"a.pfx"), dir.file(L"a.orrisafe")));
    }
}

TEST_CASE("default end date and start-up refusals") {
    SYSTEMTIME now{2026, 12, 3, 9, 6, 30, 15, 0};
    SYSTEMTIME end = DefaultKeyEndDate(now);
    CHECK(end.wYear == 2036);
    CHECK(end.wMonth == 12);
    CHECK(end.wDay == 9);
    CHECK(end.wHour == 6);
    SYSTEMTIME leap{2028, 2, 2, 29, 12, 0, 0, 0};
    SYSTEMTIME leap_end = DefaultKeyEndDate(leap);
    CHECK(leap_end.wYear == 2038);
    CHECK(leap_end.wMonth == 2);
    CHECK(leap_end.wDay == 28);
    SYSTEMTIME leap_to_leap{2032, 2, 0, 29, 12, 0, 0, 0};
    CHECK(DefaultKeyEndDate(leap_to_leap).wDay == 28);  // ten years after a leap year never is one

    // The Guest test comes first.
    CHECK(std::wstring(tools::startup_refusal(true, true)) == L"You can not start this application under the Guest account.");
    CHECK(std::wstring(tools::startup_refusal(false, true)) ==
          L"You can not start this application because Windows is loaded in Safe Mode.");
    CHECK(tools::startup_refusal(false, false) == nullptr);
}
