// A plain read-only control that shows the summary table where the browser control cannot render it.
// Its window text is the summary markup (BuildSummaryHtml); it draws the rows as label and value columns.
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

// The window class of the view; registered on first use.
const wchar_t* SummaryViewClass();

// The rows of the summary markup: each row's label (without its colon) and value, entities decoded.
std::vector<std::pair<std::wstring, std::wstring>> ParseSummaryRows(const std::wstring& markup);
