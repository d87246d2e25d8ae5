// The summary of the wizard's values as an HTML table: what step 4 shows before Finish.
#pragma once
#include <windows.h>
#include <string>

class CWizardValues;

// Text made safe for HTML element content and attribute values.
std::wstring HtmlEscape(const std::wstring& text);

// The end date as the summary shows it ("d MMMM yyyy" in the user's locale); empty when it can't be formatted.
std::wstring FormatSummaryDate(const SYSTEMTIME& date);

// The label of a key saving option in the summary; empty for an unknown option.
std::wstring KeySavingOptionLabel(int32_t option);

// The table of every filled value except the password, labels in bold, values escaped.
std::wstring BuildSummaryHtml(CWizardValues& values);
