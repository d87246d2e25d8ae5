#include "wizard/summary_page.h"

void CSummaryPage::OnFinish() {
    message_box(L"Finish is not available yet.", L"Orrisafe Wizard", MB_OK);
}

bool CSummaryPage::ConfirmReplace(const std::wstring&) { return false; }
