#include <doctest.h>

#include "wizard/summary_html.h"
#include "wizard/summary_view.h"
#include "wizard/wizard_values.h"

namespace {

CWizardValues FilledValues() {
    CWizardValues values;
    values.SetText(StoragePathValue, L"C:\\Data\\new.orrisafe");
    values.SetText(KeyFilePathValue, L"C:\\Data\\new.pfx");
    values.SetInt(KeySavingOptionValue, 1);
    values.SetText(CommonNameValue, L"John <b>Smith</b>");
    values.SetText(PasswordValue, L"Secret#Pass1");
    values.SetDate(EndDateValue, SYSTEMTIME{2036, 12, 0, 9, 6, 30, 0, 0});
    values.SetText(EmailValue, L"");
    values.SetText(CountryValue, L"France (FR)");
    values.SetText(OrganizationValue, L"Smith & Sons 'Ltd' \"Q\"");
    return values;
}

}  // namespace

TEST_CASE("summary markup") {
    CWizardValues values = FilledValues();
    std::wstring html = BuildSummaryHtml(values);

    SUBCASE("table of the filled rows in key order, password never shown") {
        CHECK(html.rfind(L"<table border='0px'>", 0) == 0);
        CHECK(html.size() >= 8);
        CHECK(html.substr(html.size() - 8) == L"</table>");
        CHECK(html.find(L"Secret#Pass1") == std::wstring::npos);
        CHECK(html.find(L"E-mail address") == std::wstring::npos);  // empty
        CHECK(html.find(L"State or province") == std::wstring::npos);  // absent
        auto rows = ParseSummaryRows(html);
        REQUIRE(rows.size() == 7);
        CHECK(rows[0].first == L"Storage file path");
        CHECK(rows[0].second == L"C:\\Data\\new.orrisafe");
        CHECK(rows[1].first == L"Key file path");
        CHECK(rows[2].first == L"Key saving options");
        CHECK(rows[2].second == L"Save key in separate file and attach it to storage");
        CHECK(rows[3].first == L"Issued to (CN)");
        CHECK(rows[4].first == L"End date");
        CHECK(rows[4].second == FormatSummaryDate(SYSTEMTIME{2036, 12, 0, 9, 6, 30, 0, 0}));
        CHECK(rows[4].second.find(L"2036") != std::wstring::npos);
        CHECK(rows[5].first == L"Country name (C)");
        CHECK(rows[6].first == L"Organization name (O)");
        CHECK(html.find(L"<tr><td><b>Country name (C):</b>&nbsp;</td><td>France (FR)</td></tr>") != std::wstring::npos);
    }
    SUBCASE("values are escaped and come back whole") {
        CHECK(html.find(L"<b>Smith</b>") == std::wstring::npos);
        CHECK(html.find(L"John &lt;b&gt;Smith&lt;/b&gt;") != std::wstring::npos);
        CHECK(html.find(L"Smith &amp; Sons &#39;Ltd&#39; &quot;Q&quot;") != std::wstring::npos);
        auto rows = ParseSummaryRows(html);
        CHECK(rows[3].second == L"John <b>Smith</b>");
        CHECK(rows[6].second == L"Smith & Sons 'Ltd' \"Q\"");
    }
    SUBCASE("attach only: no key file row; option labels") {
        values.SetText(KeyFilePathValue, L"");
        values.SetInt(KeySavingOptionValue, 2);
        std::wstring attached = BuildSummaryHtml(values);
        CHECK(attached.find(L"Key file path") == std::wstring::npos);
        CHECK(attached.find(L"Attach key to storage only") != std::wstring::npos);
        values.SetInt(KeySavingOptionValue, 0);
        CHECK(BuildSummaryHtml(values).find(L"Save key in separate file</td>") != std::wstring::npos);
    }
    SUBCASE("an empty map gives an empty table") {
        CWizardValues empty;
        CHECK(BuildSummaryHtml(empty) == L"<table border='0px'></table>");
    }
}

TEST_CASE("value map holders") {
    CWizardValues values;
    CHECK(values.Text(CommonNameValue) == nullptr);  // looking up creates an empty holder
    values.SetText(CommonNameValue, L"a");
    values.SetText(CommonNameValue, L"b");
    REQUIRE(values.Text(CommonNameValue));
    CHECK(*values.Text(CommonNameValue) == L"b");
    std::unique_ptr<CWizardValue> copy(values[CommonNameValue]->Clone());
    values.SetText(CommonNameValue, L"c");
    CHECK(*static_cast<std::wstring*>(copy->Get()) == L"b");
}
