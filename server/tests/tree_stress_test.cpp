// Many clients working on one tree at once in any order, through the root object: whatever they do and
// whenever they let go, nothing crashes, nothing stays open, and the tree left behind lists completely.
#include <doctest.h>
#include <tools/com_initializer.h>
#include <windows.h>

#include <orrisafe.h>
#include <server/idl/storage_identities.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <server_class_factory.h>
#include <storage_server.h>
#include <tools/interface_holder.h>
#include <tools/tests/test_support.h>

#include "object_test_support.h"

using object_testing::bstr;
using Held = tools::interface_holder<IUnknown>;

namespace {

using apartment = tools::com_initializer;

template <class Interface>
tools::interface_holder<Interface> as(const Held& held, REFIID iid) {
    tools::interface_holder<Interface> out;
    held->QueryInterface(iid, out.put_void());
    return out;
}

// Lists a folder and every folder below it; false when some listing fails.
bool lists_completely(IStorageFolder* folder, int depth = 0) {
    tools::interface_holder<IElementEnum> elements;
    if (FAILED(folder->EnumElements(elements.put()))) return false;
    for (;;) {
        tools::interface_holder<IElementInfo> info;
        HRESULT hr = elements->Next(info.put());
        if (hr != S_OK) return hr == S_FALSE;
        long type = 0;
        BSTR name = nullptr;
        if (FAILED(info->GetType(&type)) || FAILED(info->GetName(&name))) return false;
        std::wstring text(name, SysStringLen(name));
        SysFreeString(name);
        if (type != FolderElementType || depth > 8) continue;
        tools::interface_holder<IStorageFolder> child;
        if (FAILED(folder->OpenFolder(bstr(text), 0, child.put()))) return false;
        if (!lists_completely(child.get(), depth + 1)) return false;
    }
}

}  // namespace

TEST_CASE("clients doing anything in any order leave no crash, nothing open and a tree that lists") {
    apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"stress.orrisafe");
    object_testing::create_storage_file(path);
    const wchar_t* names[] = {L"a", L"A", L"b", L"c", L"a\\b", L"b\\a", L"a\\c\\", L"x.txt", L"X.TXT", L"a\\x.txt", L"", L"bad|name"};
    const GUID comment = {0xF64FAA41, 0x9EC6, 0x4361, {0x88, 0x94, 0x7F, 0x29, 0x52, 0x25, 0x64, 0x82}};

    for (unsigned seed = 1; seed <= 6; ++seed) {
        INFO("seed " << seed);
        CServerClassFactory factory;
        tools::interface_holder<IStorageServer> server;
        REQUIRE(factory.CreateInstance(nullptr, IID_IStorageServer, server.put_void()) == S_OK);
        std::mt19937 random(seed);
        auto pick_name = [&] { return bstr(names[random() % (sizeof names / sizeof *names)]); };
        std::vector<Held> held;
        auto pick = [&]() -> Held { return held.empty() ? Held() : held[random() % held.size()]; };
        auto keep = [&](IUnknown* p) {
            if (p) held.emplace_back(p);
        };
        const VARIANT_BOOL flags[] = {VARIANT_TRUE, VARIANT_FALSE, 1};

        for (int step = 0; step < 2000; ++step) {
            Held some = pick();
            auto folder = some ? as<IStorageFolder>(some, IID_IStorageFolder) : tools::interface_holder<IStorageFolder>();
            auto file = some ? as<IStorageFile>(some, IID_IStorageFile) : tools::interface_holder<IStorageFile>();
            auto stream = some ? as<IStream>(some, IID_IStream) : tools::interface_holder<IStream>();
            auto elements = some ? as<IElementEnum>(some, IID_IElementEnum) : tools::interface_holder<IElementEnum>();
            switch (random() % 14) {
                case 0: {
                    IStorageFolder* root = nullptr;
                    server->OpenStorage(bstr(path), &root);
                    keep(root);
                    break;
                }
                case 1:
                    if (random() % 16 == 0) server->CloseStorage(bstr(path));
                    break;
                case 2:
                    if (folder) {
                        IStorageFolder* out = nullptr;
                        folder->OpenFolder(pick_name(), flags[random() % 3], &out);
                        keep(out);
                    }
                    break;
                case 3:
                    if (folder) {
                        IStorageFile* out = nullptr;
                        folder->OpenFile(pick_name(), flags[random() % 3], &out);
                        keep(out);
                    }
                    break;
                case 4:
                    if (folder && random() % 3 == 0) folder->DeleteElement(pick_name());
                    break;
                case 5:
                    if (folder && random() % 3 == 0) folder->RenameElement(pick_name(), pick_name());
                    break;
                case 6:
                    if (folder) {
                        IElementEnum* out = nullptr;
                        folder->EnumElements(&out);
                        keep(out);
                    }
                    break;
                case 7:
                    if (folder) {
                        IStorageElement* found = nullptr;
                        IElementInfo* info = nullptr;
                        folder->FindElement(pick_name(), &found);
                        folder->FindElementInfo(pick_name(), &info);
                        keep(found);
                        keep(info);
                    } else if (elements) {
                        IElementInfo* info = nullptr;
                        if (elements->Next(&info) == S_FALSE) elements->Reset();
                        keep(info);
                    }
                    break;
                case 8:
                    if (file) {
                        IStream* out = nullptr;
                        file->GetStream(&out);
                        keep(out);
                        StreamDigest digest;
                        file->GetDigest(&digest);
                    } else if (stream) {
                        std::string data(random() % 9000, 'd');
                        ULONG done = 0;
                        if (random() % 2) stream->Write(data.data(), static_cast<ULONG>(data.size()), &done);
                        else stream->Read(data.data(), static_cast<ULONG>(data.size()), &done);
                    }
                    break;
                case 9:
                    if (some) {
                        auto element = as<IStorageElement>(some, IID_IStorageElement);
                        if (element) {
                            VARIANT value;
                            VariantInit(&value);
                            value.vt = VT_BSTR;
                            value.bstrVal = SysAllocString(L"comment");
                            element->SetProperty(comment, value);
                            VariantClear(&value);
                            element->GetProperty(comment, &value);
                            VariantClear(&value);
                            BSTR name = nullptr;
                            element->GetName(&name);
                            SysFreeString(name);
                            ElementTimes times;
                            element->GetTimes(&times);
                        }
                    }
                    break;
                case 10:
                    if (folder && random() % 4 == 0) {
                        IStorageFolder* parent = nullptr;
                        folder->DetachParent(&parent);
                        keep(parent);
                    }
                    break;
                default:
                    if (held.size() > 40 || random() % 3 == 0) {
                        if (!held.empty()) held.erase(held.begin() + random() % held.size());
                    } else {
                        IStorageFolder* root = nullptr;
                        server->OpenStorage(bstr(path), &root);
                        keep(root);
                    }
            }
        }
        std::shuffle(held.begin(), held.end(), random);
        held.clear();
        VARIANT_BOOL open = VARIANT_TRUE;
        CHECK(server->IsStorageOpen(bstr(path), &open) == S_OK);
        CHECK(open == VARIANT_FALSE);
        CHECK(object_testing::file_is_free(path));

        tools::interface_holder<IStorageFolder> root;
        REQUIRE(server->OpenStorage(bstr(path), root.put()) == S_OK);
        CHECK(lists_completely(root.get()));
        root.reset();
        server.reset();
        CHECK(factory.Teardown() == S_OK);
        CHECK(object_testing::file_is_free(path));
    }
}
