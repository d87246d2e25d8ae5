#include "wizard/summary_html.h"

#include "wizard/wizard_values.h"

namespace {

const wchar_t* const kLabels[] = {
    L"Storage file path",
    L"Key file path",
    L"Key saving options",
    L"Issued to (CN)",
    nullptr,  // the password is never shown
    L"End date",
    L"E-mail address (E)",
    L"Country name (C)",
    L"State or province name (S)",
    L"Locality name (L)",
    L"Street address (STREET)",
    L"Organization name (O)",
    L"Organizational unit name (OU)",
};

}  // namespace

std::wstring HtmlEscape(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        case L'\'': out += L"&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::wstring FormatSummaryDate(const SYSTEMTIME& date) {
    wchar_t buffer[256];
    if (!GetDateFormatW(LOCALE_USER_DEFAULT, 0, &date, L"d MMMM yyyy", buffer, 256)) return std::wstring();
    return buffer;
}

std::wstring KeySavingOptionLabel(int32_t option) {
    switch (option) {
    case 0: return L"Save key in separate file";
    case 1: return L"Save key in separate file and attach it to storage";
    case 2: return L"Attach key to storage only";
    default: return std::wstring();
    }
}

std::wstring BuildSummaryHtml(CWizardValues& values) {
    std::wstring html = L"<table border='0px'>";
    for (int32_t key = StoragePathValue; key <= OrganizationalUnitValue; ++key) {
        if (key == PasswordValue || !values[key]) continue;
        std::wstring value;
        if (key == KeySavingOptionValue)
            value = KeySavingOptionLabel(*values.Int(key));
        else if (key == EndDateValue)
            value = FormatSummaryDate(*values.Date(key));
        else
            value = *values.Text(key);
        if (value.empty()) continue;
        html += L"<tr><td><b>";
        html += kLabels[key];
        html += L":</b>&nbsp;</td><td>";
        html += HtmlEscape(value);
        html += L"</td></tr>";
    }
    html += L"</table>";
    return html;
}
