#include <doctest.h>
#include <tools/com_initializer.h>

#include "gui_driver.h"
#include "server/idl/storage_identities.h"
#include "server/server_class_factory.h"
#include "tools/certificates.h"
#include "tools/element_wrapper.h"
#include "tools/file_io.h"
#include "tools/pfx_import.h"
#include "tools/tests/test_support.h"
#include "wizard/path_rules.h"
#include "wizard/resource.h"
#include "wizard/summary_page.h"
#include "wizard/summary_view.h"

#include <commctrl.h>
#include <fstream>
#include <functional>

namespace {

bool GuiRun() {
    return testing::env(L"ORRI_WIZARD_GUI") == L"1";
}

// The wizard's desktop is searched by handle, so the test's own thread drives (assertions on a second
// thread of this runtime crash at that thread's exit).
void OnDriverThread(const std::function<void()>& body) {
    body();
}

// The buttons follow a page's OnSetActive, which runs just after the page is shown: states are awaited.
std::wstring SummaryOf(CWizardDriver& wizard) {
    return wizard.Text(kSummaryViewId);
}

}  // namespace

TEST_SUITE("gui") {

TEST_CASE("the wizard walks its four steps and refuses what the rules refuse") {
    if (!GuiRun()) return;
    testing::scratch_dir dir;
    std::wstring storage = dir.file(L"My storage");
    OnDriverThread([&] {
        CWizardDriver wizard(L"");
        REQUIRE(wizard.Wizard() != nullptr);

        // Step 1: the documents folder is proposed, a folder is not usable.
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_STORAGE_PATH); }));
        CHECK(wizard.Text(IDC_STORAGE_PATH).back() == L'\\');
        CHECK(wizard.WaitFor([&] { return !wizard.Enabled(IDC_NEXT); }));
        CHECK(wizard.WaitFor([&] { return !wizard.Enabled(IDC_PREVIOUS); }));
        wizard.Type(IDC_STORAGE_PATH, dir.path());
        CHECK(wizard.WaitFor([&] { return !wizard.Enabled(IDC_NEXT); }));
        wizard.Type(IDC_STORAGE_PATH, storage);
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_NEXT); }));
        // A folder where the completed path goes is refused as a typed folder is.
        REQUIRE(CreateDirectoryW(dir.file(L"taken.orrisafe").c_str(), nullptr));
        wizard.Type(IDC_STORAGE_PATH, dir.file(L"taken"));
        CHECK(wizard.WaitFor([&] { return !wizard.Enabled(IDC_NEXT); }));
        wizard.Type(IDC_STORAGE_PATH, storage);
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_NEXT); }));
        CHECK(wizard.Shot("step1"));
        wizard.Click(IDC_NEXT);

        // Step 2: the key file is proposed from the completed storage path.
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_KEY_PATH); }));
        CHECK(wizard.Text(IDC_KEY_PATH) == dir.file(L"My storage.pfx"));
        CHECK_FALSE(IsWindowEnabled(wizard.Control(IDC_KEY_PATH)));
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_PREVIOUS); }));
        wizard.Click(IDC_SEPARATE_AND_ATTACH);
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_KEY_PATH); }));
        wizard.Type(IDC_KEY_PATH, dir.path());
        CHECK(wizard.WaitFor([&] { return !wizard.Enabled(IDC_NEXT); }));
        wizard.Type(IDC_KEY_PATH, dir.file(L"key"));
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_NEXT); }));
        REQUIRE(CreateDirectoryW(dir.file(L"taken.pfx").c_str(), nullptr));
        wizard.Type(IDC_KEY_PATH, dir.file(L"taken"));
        CHECK(wizard.WaitFor([&] { return !wizard.Enabled(IDC_NEXT); }));
        wizard.Type(IDC_KEY_PATH, dir.file(L"key"));
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_NEXT); }));
        CHECK(wizard.Shot("step2"));
        wizard.Click(IDC_NEXT);

        // Step 3: Next needs a name and a password; the rules are asked only when leaving forward.
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_ISSUED_TO); }));
        CHECK(wizard.Text(IDC_KEY_PATH).empty());  // step 2 is hidden now
        CHECK(wizard.WaitFor([&] { return !wizard.Enabled(IDC_NEXT); }));
        wizard.Type(IDC_ISSUED_TO, L"  John Smith ");
        wizard.Type(IDC_PASSWORD, L"weakpass");
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_NEXT); }));
        CHECK_FALSE(wizard.Visible(IDC_BAR_1));
        wizard.Click(IDC_NEXT);
        Sleep(500);
        CHECK(wizard.Visible(IDC_ISSUED_TO));  // still step 3
        CHECK(wizard.Shot("step3-weak"));

        wizard.Type(IDC_PASSWORD, L"Strong#Pass16chr");
        CHECK(wizard.WaitFor([&] { return wizard.Visible(IDC_BAR_3); }));
        wizard.Type(IDC_CONFIRM, L"Strong#Pass16chX");
        wizard.Click(IDC_NEXT);
        HWND question = nullptr;
        REQUIRE(wizard.WaitFor([&] { return (question = wizard.Question()) != nullptr; }));
        CHECK(wizard.Text(GetDlgItem(question, 0xFFFF)) == L"The passwords you entered are different. Please, try again.");
        CHECK(wizard.Shot("step3-mismatch"));
        wizard.ClickIn(question, IDOK);
        CHECK(wizard.WaitFor([&] { return wizard.Question() == nullptr; }));
        CHECK(wizard.Visible(IDC_ISSUED_TO));

        wizard.Type(IDC_CONFIRM, L"Strong#Pass16chr");
        HWND country = wizard.Control(IDC_COUNTRY);
        CHECK(SendMessageW(country, CB_GETCOUNT, 0, 0) == 247);
        SendMessageW(country, CB_SETCURSEL, 55, 0);
        wizard.Type(IDC_ORGANIZATION, L"Smith & <Sons>");
        CHECK(wizard.Shot("step3"));
        wizard.Click(IDC_NEXT);

        // Step 4: the summary shows the values, escaped in its markup, never the password.
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(kSummaryViewId) || wizard.Visible(IDC_BROWSER); }));
        CHECK(wizard.Text(IDC_NEXT) == L"Finish");
        std::wstring summary = SummaryOf(wizard);
        auto rows = ParseSummaryRows(summary);
        REQUIRE(rows.size() == 7);
        CHECK(rows[0].second == storage + L".orrisafe");
        CHECK(rows[1].second == dir.file(L"key.pfx"));
        CHECK(rows[2].second == L"Save key in separate file and attach it to storage");
        CHECK(rows[3].second == L"John Smith");
        CHECK(rows[5].second == L"C\u00f4te d'Ivoire (CI)");
        CHECK(rows[6].second == L"Smith & <Sons>");
        CHECK(summary.find(L"Smith &amp; &lt;Sons&gt;") != std::wstring::npos);
        CHECK(summary.find(L"Strong#Pass16chr") == std::wstring::npos);
        CHECK(wizard.Shot("step4"));

        // Back to step 3 and a changed field shows in the summary.
        wizard.Click(IDC_PREVIOUS);
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_ISSUED_TO); }));
        wizard.Type(IDC_ISSUED_TO, L"Jane Smith");
        wizard.Click(IDC_NEXT);
        REQUIRE(wizard.WaitFor([&] { return wizard.Text(IDC_NEXT) == L"Finish"; }));
        CHECK(ParseSummaryRows(SummaryOf(wizard))[3].second == L"Jane Smith");

        // Cancel asks; No keeps everything, Yes ends the wizard.
        wizard.Click(IDCANCEL);
        REQUIRE(wizard.WaitFor([&] { return (question = wizard.Question()) != nullptr; }));
        CHECK(wizard.Text(GetDlgItem(question, 0xFFFF)) == L"Are you sure you want to exit wizard?");
        CHECK(wizard.Shot("cancel-question"));
        wizard.ClickIn(question, IDNO);
        CHECK(wizard.WaitFor([&] { return wizard.Question() == nullptr; }));
        CHECK(wizard.Text(IDC_NEXT) == L"Finish");
        wizard.Click(IDCANCEL);
        REQUIRE(wizard.WaitFor([&] { return (question = wizard.Question()) != nullptr; }));
        wizard.ClickIn(question, IDYES);
        DWORD code = 0;
        CHECK(wizard.Ended(10000, &code));
    });
    // Nothing was created by walking and cancelling.
    CHECK(GetFileAttributesW((storage + L".orrisafe").c_str()) == INVALID_FILE_ATTRIBUTES);
    CHECK(GetFileAttributesW(dir.file(L"key.pfx").c_str()) == INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("Finish creates the storage and its key, then offers to install the key") {
    if (!GuiRun()) return;
    testing::scratch_dir dir;
    std::wstring storage = dir.file(L"finished.orrisafe");
    std::wstring key = dir.file(L"finished.pfx");
    OnDriverThread([&] {
        CWizardDriver wizard(L"\"" + storage + L"\"");
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_KEY_PATH); }));
        wizard.Click(IDC_SEPARATE_FILE);
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_KEY_PATH); }));
        wizard.Click(IDC_NEXT);
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_ISSUED_TO); }));
        wizard.Type(IDC_ISSUED_TO, L"Finish Tester");
        wizard.Type(IDC_PASSWORD, L"Finish#Pass1");
        wizard.Type(IDC_CONFIRM, L"Finish#Pass1");
        REQUIRE(wizard.WaitFor([&] { return wizard.Enabled(IDC_NEXT); }));
        wizard.Click(IDC_NEXT);
        REQUIRE(wizard.WaitFor([&] { return wizard.Text(IDC_NEXT) == L"Finish"; }));
        wizard.Click(IDC_NEXT);
        HWND question = nullptr;
        REQUIRE(wizard.WaitFor([&] { return (question = wizard.Question()) != nullptr; }, 60000));
        CHECK(wizard.Wizard() == nullptr);  // the wizard closed before asking
        CHECK(wizard.Shot("finish-install-question"));
        wizard.ClickIn(question, IDNO);
        DWORD code = 1;
        CHECK(wizard.Ended(15000, &code));
        CHECK(code == 0);
    });
    tools::byte_buffer pfx;
    REQUIRE(tools::read_file(key, pfx) > 0);
    // The key file opens with the password and the storage carries that key's identifier.
    tools::cert_list certs = tools::import_pfx(pfx, L"Finish#Pass1");
    REQUIRE(certs.size() == 1);
    IStorage* opened = nullptr;
    REQUIRE(SUCCEEDED(StgOpenStorageEx(storage.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0, nullptr,
                                       nullptr, IID_IStorage, reinterpret_cast<void**>(&opened))));
    {
        CStorageWrapper::holder root = CStorageWrapper::Make(opened, CStorageWrapper::holder());
        opened->Release();
        VARIANT id;
        VariantInit(&id);
        CHECK(root->ReadProperty(KeyIdentifierProperty, &id));
        REQUIRE(id.vt == VT_BSTR);
        CHECK(tools::base64_decode(tools::to_narrow(id.bstrVal).c_str()) == tools::cert_key_identifier(certs[0]));
        VARIANT content;
        VariantInit(&content);
        CHECK(root->ReadProperty(ContentKeyProperty, &content));
        // For the host's openssl: the key file, its password, and the storage's content key and key identifier.
        std::wstring out = testing::env(L"ORRI_WIZARD_KEYS");
        if (!out.empty() && content.vt == VT_BSTR) {
            std::wstring folder = WindowsPathOf(out);
            CreateDirectoryW(folder.c_str(), nullptr);
            tools::write_file(folder + L"\\finished.pfx", pfx);
            std::string pass = "Finish#Pass1", ident = tools::to_narrow(id.bstrVal), key = tools::to_narrow(content.bstrVal);
            tools::write_file(folder + L"\\finished.pass", tools::byte_buffer(pass.begin(), pass.end()));
            tools::write_file(folder + L"\\finished.keyid", tools::byte_buffer(ident.begin(), ident.end()));
            tools::write_file(folder + L"\\finished.content", tools::byte_buffer(key.begin(), key.end()));
        }
        VariantClear(&content);
        VariantClear(&id);
        VARIANT attached;
        VariantInit(&attached);
        CHECK(root->ReadProperty(AttachedKeyProperty, &attached));
        CHECK(attached.vt == VT_EMPTY);
    }
    // The storage itself too, for the server's end-to-end test to open through the service.
    if (std::wstring out = testing::env(L"ORRI_WIZARD_KEYS"); !out.empty())
        CHECK(CopyFileW(storage.c_str(), (WindowsPathOf(out) + L"\\finished.orrisafe").c_str(), FALSE));
    tools::delete_key_container(certs[0]);

    // The storage server's root object opens what the wizard made, and the storage takes a folder and lists it.
    tools::com_initializer com;
    {
        CServerClassFactory factory;
        tools::interface_holder<IStorageServer> server;
        REQUIRE(factory.CreateInstance(nullptr, IID_IStorageServer, server.put_void()) == S_OK);
        BSTR path = SysAllocString(storage.c_str());
        BSTR name = SysAllocString(L"Documents");
        IStorageFolder* folder = nullptr;
        CHECK(server->OpenStorage(path, &folder) == S_OK);
        if (folder) {
            IStorageFolder* sub = nullptr;
            CHECK(folder->OpenFolder(name, VARIANT_TRUE, &sub) == S_OK);
            if (sub) sub->Release();
            IElementEnum* list = nullptr;
            CHECK(folder->EnumElements(&list) == S_OK);
            int count = 0;
            IElementInfo* info = nullptr;
            while (list && list->Next(&info) == S_OK && info) {
                ++count;
                info->Release();
                info = nullptr;
            }
            if (list) list->Release();
            CHECK(count == 1);
            folder->Release();
        }
        SysFreeString(name);
        SysFreeString(path);
        server.reset();
        factory.Teardown();
    }
}

TEST_CASE("a command-line path that names a folder is refused like a typed one") {
    if (!GuiRun()) return;
    testing::scratch_dir dir;
    OnDriverThread([&] {
        CWizardDriver wizard(L"\"" + dir.path() + L"\"");
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_STORAGE_PATH); }));
        CHECK(wizard.Text(IDC_STORAGE_PATH) == dir.path());
        CHECK(wizard.WaitFor([&] { return !wizard.Enabled(IDC_NEXT); }));
        wizard.Type(IDC_STORAGE_PATH, dir.file(L"typed"));
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_NEXT); }));
        wizard.Click(IDC_NEXT);
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_KEY_PATH); }));
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_PREVIOUS); }));
    });
}

TEST_CASE("started with a storage path the wizard opens on step 2") {
    if (!GuiRun()) return;
    testing::scratch_dir dir;
    std::wstring storage = dir.file(L"from explorer");
    OnDriverThread([&] {
        CWizardDriver wizard(L"\"" + storage + L"\"");
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_KEY_PATH); }));
        CHECK(wizard.Text(IDC_KEY_PATH) == dir.file(L"from explorer.pfx"));
        CHECK(wizard.WaitFor([&] { return !wizard.Enabled(IDC_PREVIOUS); }));
        CHECK(wizard.WaitFor([&] { return wizard.Enabled(IDC_NEXT); }));
        CHECK(wizard.Shot("started-with-path"));
        wizard.Click(IDC_NEXT);
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_ISSUED_TO); }));
        wizard.Click(IDC_PREVIOUS);
        REQUIRE(wizard.WaitFor([&] { return wizard.Visible(IDC_KEY_PATH); }));
        CHECK(wizard.WaitFor([&] { return !wizard.Enabled(IDC_PREVIOUS); }));
    });
}

}  // TEST_SUITE
