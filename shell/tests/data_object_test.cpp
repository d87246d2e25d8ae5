// Storage items out of a storage as virtual files, against the installed service: the data object's formats,
// descriptors and contents, read by a consumer of the tests' own that then reports its effect as Explorer does; names
// that would leave the target's folder; the item menu, the clipboard and "Extract to...".
#include <doctest.h>
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include <platform/running_under_wine.h>
#include <server/client/server_calls.h>
#include <server/tests/service_fixture.h>
#include <shell/dword_formats.h>
#include <shell/extract_items.h>
#include <shell/file_descriptors.h>
#include <shell/item_menu.h>
#include <shell/message_boxes.h>
#include <shell/storage_data_object.h>
#include <shell/transfer_items.h>

#include "item_id_fixture.h"
#include "transfer_fixture.h"
#include "window_driver.h"

using namespace shell_testing;

namespace {

CIdList parsed(IShellFolder* folder, const wchar_t* name) {
    ITEMIDLIST* item = nullptr;
    REQUIRE(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(name), nullptr, &item, nullptr) == S_OK);
    return CIdList(item);
}

tools::interface_holder<IDataObject> items_data(CStorageShellFolder* folder, const std::vector<const wchar_t*>& names) {
    std::vector<CIdList> items;
    std::vector<const ITEMIDLIST*> pointers;
    for (const wchar_t* name : names) {
        items.push_back(parsed(folder, name));
        pointers.push_back(items.back().get());
    }
    tools::interface_holder<IDataObject> data;
    REQUIRE(folder->GetUIObjectOf(nullptr, static_cast<UINT>(pointers.size()), pointers.data(), IID_IDataObject,
                                  nullptr, data.put_void()) == S_OK);
    return data;
}

FORMATETC format_of(CLIPFORMAT id, DWORD tymed, LONG index = -1, DWORD aspect = DVASPECT_CONTENT) {
    return {id, nullptr, aspect, index, tymed};
}

std::vector<FILEDESCRIPTORW> descriptors_of(IDataObject* data, HRESULT* result = nullptr) {
    FORMATETC wanted = format_of(FileGroupDescriptorFormat(), TYMED_HGLOBAL);
    STGMEDIUM medium{};
    std::vector<FILEDESCRIPTORW> records;
    HRESULT hr = data->GetData(&wanted, &medium);
    if (result) *result = hr;
    if (FAILED(hr)) return records;
    const auto* group = static_cast<const FILEGROUPDESCRIPTORW*>(GlobalLock(medium.hGlobal));
    records.assign(group->fgd, group->fgd + group->cItems);
    GlobalUnlock(medium.hGlobal);
    ReleaseStgMedium(&medium);
    return records;
}

HRESULT contents_of(IDataObject* data, LONG index, std::vector<BYTE>& bytes, DWORD aspect = DVASPECT_CONTENT,
                    DWORD tymed = TYMED_ISTREAM) {
    FORMATETC wanted = format_of(FileContentsFormat(), tymed, index, aspect);
    STGMEDIUM medium{};
    HRESULT hr = data->GetData(&wanted, &medium);
    if (FAILED(hr)) return hr;
    bytes.clear();
    BYTE block[1000];
    ULONG read = 0;
    while (SUCCEEDED(medium.pstm->Read(block, sizeof block, &read)) && read) bytes.insert(bytes.end(), block, block + read);
    ReleaseStgMedium(&medium);
    return S_OK;
}

tools::interface_holder<IStream> stream_of(IDataObject* data, LONG index) {
    FORMATETC wanted = format_of(FileContentsFormat(), TYMED_ISTREAM, index);
    STGMEDIUM medium{};
    REQUIRE(data->GetData(&wanted, &medium) == S_OK);
    return tools::interface_holder<IStream>(medium.pstm);
}

ULONGLONG read_through(IStream* stream, ULONGLONG count) {
    tools::interface_holder<IStream> sink;
    REQUIRE(CreateStreamOnHGlobal(nullptr, TRUE, sink.put()) == S_OK);
    ULARGE_INTEGER wanted, read{};
    wanted.QuadPart = count;
    CHECK(SUCCEEDED(stream->CopyTo(sink.get(), wanted, &read, nullptr)));
    return read.QuadPart;
}

void seek_to(IStream* stream, LONGLONG offset, DWORD origin = STREAM_SEEK_SET) {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    REQUIRE(stream->Seek(to, origin, nullptr) == S_OK);
}

// What Explorer does with virtual files pasted into a folder: the records, one stream per file (but the one skipped),
// then its report.
void receive(IDataObject* data, const std::wstring& target, const std::wstring& skipped = L"") {
    const std::vector<FILEDESCRIPTORW> records = descriptors_of(data);
    for (size_t i = 0; i < records.size(); ++i) {
        const std::wstring path = target + L"\\" + records[i].cFileName;
        if (records[i].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CreateDirectoryW(path.c_str(), nullptr);
            continue;
        }
        if (records[i].cFileName == skipped) continue;
        std::vector<BYTE> bytes;
        REQUIRE(contents_of(data, static_cast<LONG>(i), bytes) == S_OK);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        REQUIRE(file != INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
}

void consume(IDataObject* data, const std::wstring& target, DWORD effect) {
    receive(data, target);
    REQUIRE(SetDwordFormat(data, DwordFormat::performed_drop_effect, effect));
}

std::vector<std::wstring> menu_texts(HMENU menu) {
    std::vector<std::wstring> texts;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = L"";
        GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

std::vector<std::wstring> merged(CStorageShellFolder& folder, IDataObject* data, UINT flags, int version) {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 1, L"Shell's own");
    QCMINFO qcm{menu, 0, 100, 200, nullptr};
    CHECK(MergeItemMenu(qcm, folder, data, flags, version) == S_OK);
    CHECK(qcm.idCmdFirst == 103);
    CHECK(folder.FirstItemCommand() == 100);
    std::vector<std::wstring> texts = menu_texts(menu);
    CHECK(GetMenuState(menu, 102, MF_BYCOMMAND) != static_cast<UINT>(-1));
    DestroyMenu(menu);
    return texts;
}

// The folder chooser of the tests: what it was asked, and the folder it answers with (none when cancelling).
std::wstring chosen_folder, chooser_title;
UINT chooser_flags = 0;
bool chooser_cancels = false;
PIDLIST_ABSOLUTE WINAPI choose_folder(BROWSEINFOW* info) {
    chooser_title = info->lpszTitle;
    chooser_flags = info->ulFlags;
    return chooser_cancels ? nullptr : ILCreateFromPathW(chosen_folder.c_str());
}

}  // namespace

TEST_CASE("storage items handed out as virtual files, the item menu and the clipboard") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    REQUIRE(SUCCEEDED(OleInitialize(nullptr)));
    storage_under_test storage;
    storage.write_stored(L"docs\\b.txt", pattern(5000, 1));
    storage.write_stored(L"docs\\c.txt", pattern(3, 2));
    storage.write_stored(L"a.bin", pattern(10, 3));
    storage.write_stored(L"x.bin", pattern(20, 4));
    CStorageShellFolder& folder = *storage.folder.get();

    SUBCASE("formats, descriptors and contents read by a consumer, and its reports") {
        auto data = items_data(&folder, {L"docs", L"a.bin"});
        CHECK(IsStorageSource(data.get()));
        FORMATETC contents = format_of(FileContentsFormat(), TYMED_ISTREAM, 0);
        FORMATETC group = format_of(FileGroupDescriptorFormat(), TYMED_HGLOBAL);
        CHECK(data->QueryGetData(&contents) == S_OK);
        CHECK(data->QueryGetData(&group) == S_OK);
        std::vector<BYTE> bytes;
        // Before the records are read there is nothing to ask contents of.
        CHECK(contents_of(data.get(), 0, bytes) == DV_E_LINDEX);

        tools::interface_holder<IEnumFORMATETC> formats;
        REQUIRE(data->EnumFormatEtc(DATADIR_GET, formats.put()) == S_OK);
        std::vector<FORMATETC> listed(16);
        ULONG count = 0;
        formats->Next(16, listed.data(), &count);
        listed.resize(count);
        REQUIRE(count >= 3);
        CHECK(listed[count - 2].cfFormat == FileContentsFormat());
        CHECK(listed[count - 2].tymed == TYMED_ISTREAM);
        CHECK(listed[count - 1].cfFormat == FileGroupDescriptorFormat());
        CHECK(listed[count - 1].lindex == -1);
        formats->Reset();
        formats->Skip(count - 2);
        tools::interface_holder<IEnumFORMATETC> clone;
        REQUIRE(formats->Clone(clone.put()) == S_OK);
        CHECK(formats->Skip(3) == S_FALSE);
        FORMATETC next{};
        CHECK(formats->Next(1, &next, nullptr) == S_FALSE);
        CHECK(clone->Next(1, &next, nullptr) == S_OK);
        CHECK(next.cfFormat == FileContentsFormat());
        REQUIRE(data->EnumFormatEtc(DATADIR_SET, formats.put()) == S_OK);
        listed.assign(16, FORMATETC{});
        formats->Next(16, listed.data(), &count);
        REQUIRE(count >= 2);
        CHECK(listed[count - 2].cfFormat == DwordFormatId(DwordFormat::performed_drop_effect));
        CHECK(listed[count - 1].cfFormat == DwordFormatId(DwordFormat::paste_succeeded));

        // A folder's record comes before its contents, each named by its path below the selection's folder.
        const std::vector<FILEDESCRIPTORW> records = descriptors_of(data.get());
        REQUIRE(records.size() == 4);
        CHECK(std::wstring(records[0].cFileName) == L"docs");
        CHECK(records[0].dwFlags == 0x403C);
        CHECK(records[0].dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY);
        CHECK(std::wstring(records[3].cFileName) == L"a.bin");
        CHECK(records[3].dwFlags == 0x407C);
        CHECK(records[3].nFileSizeLow == 10);
        std::vector<std::wstring> inside{records[1].cFileName, records[2].cFileName};
        std::sort(inside.begin(), inside.end());
        CHECK(inside == std::vector<std::wstring>{L"docs\\b.txt", L"docs\\c.txt"});

        CHECK(contents_of(data.get(), 4, bytes) == DV_E_LINDEX);
        CHECK(contents_of(data.get(), 3, bytes, DVASPECT_THUMBNAIL) == DV_E_DVASPECT);
        CHECK(contents_of(data.get(), 3, bytes, DVASPECT_CONTENT, TYMED_HGLOBAL) == DV_E_TYMED);
        FORMATETC other = format_of(CF_UNICODETEXT, TYMED_HGLOBAL);
        STGMEDIUM medium{};
        CHECK(data->GetData(&other, &medium) == DV_E_FORMATETC);
        // Storage items have no file names: the file that holds them is never handed out in their place.
        FORMATETC names = format_of(CF_HDROP, TYMED_HGLOBAL);
        CHECK(data->QueryGetData(&names) == DV_E_FORMATETC);
        CHECK(data->GetData(&names, &medium) == DV_E_FORMATETC);

        // A copy: every byte arrives, and its report deletes nothing.
        testing::scratch_dir target;
        consume(data.get(), target.path(), DROPEFFECT_COPY);
        CHECK(file_bytes(target.file(L"docs\\b.txt")) == pattern(5000, 1));
        CHECK(file_bytes(target.file(L"docs\\c.txt")) == pattern(3, 2));
        CHECK(file_bytes(target.file(L"a.bin")) == pattern(10, 3));
        DWORD performed = 0;
        CHECK(GetDwordFormat(data.get(), DwordFormat::performed_drop_effect, performed));
        CHECK(performed == DROPEFFECT_COPY);
        CHECK(storage.Exists(L"docs\\b.txt"));
        CHECK(storage.Exists(L"a.bin"));

        // A move: reported before the records were read it deletes nothing; after them, the items leave the storage
        // whole, once.
        auto moved = items_data(&folder, {L"docs", L"a.bin"});
        REQUIRE(SetDwordFormat(moved.get(), DwordFormat::performed_drop_effect, DROPEFFECT_MOVE));
        CHECK(storage.Exists(L"a.bin"));
        testing::scratch_dir moved_to;
        consume(moved.get(), moved_to.path(), DROPEFFECT_MOVE);
        CHECK(file_bytes(moved_to.file(L"docs\\b.txt")) == pattern(5000, 1));
        CHECK(file_bytes(moved_to.file(L"a.bin")) == pattern(10, 3));
        CHECK_FALSE(storage.Exists(L"docs"));
        CHECK_FALSE(storage.Exists(L"a.bin"));
        CHECK(storage.Exists(L"x.bin"));
        storage.write_stored(L"a.bin", pattern(10, 9));
        CHECK(SetDwordFormat(moved.get(), DwordFormat::performed_drop_effect, DROPEFFECT_MOVE));
        CHECK(storage.stored(L"a.bin") == pattern(10, 9));

        // Back onto a storage folder, its own or another: refused.
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        CHECK(folder.DragEnter(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect) == S_OK);
        CHECK(effect == DROPEFFECT_NONE);
        effect = DROPEFFECT_COPY;
        CHECK(folder.Drop(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect) == S_OK);
        CHECK(effect == DROPEFFECT_NONE);
        effect = DROPEFFECT_COPY;
        CHECK_FALSE(TransferItems(folder, data.get(), nullptr, &effect));
        CHECK(effect == DROPEFFECT_NONE);
    }

    SUBCASE("a move deletes only what the target received, as it was when received; added files keep their folders") {
        storage.FindFolder(L"docs\\hollow");
        storage.write_stored(L"docs\\replaced.txt", pattern(6, 6));
        auto data = items_data(&folder, {L"docs", L"a.bin", L"x.bin"});
        REQUIRE(descriptors_of(data.get()).size() == 7);
        // After the list was read: a file saved into the cut folder, and one into a listed folder below it.
        storage.write_stored(L"docs\\new.txt", pattern(7, 7));
        storage.write_stored(L"docs\\hollow\\deeper\\new.txt", pattern(8, 8));
        testing::scratch_dir target;
        receive(data.get(), target.path(), L"x.bin");
        // A listed file replaced after it went out: another element under the same name.
        DeleteElementOrThrow(storage.FindFolder(L"docs").get(), L"replaced.txt");
        storage.write_stored(L"docs\\replaced.txt", pattern(6, 9));
        box_answerer boxes;
        REQUIRE(SetDwordFormat(data.get(), DwordFormat::performed_drop_effect, DROPEFFECT_MOVE));
        CHECK(boxes.texts().empty());
        CHECK(file_bytes(target.file(L"docs\\replaced.txt")) == pattern(6, 6));
        CHECK_FALSE(storage.Exists(L"docs\\b.txt"));
        CHECK_FALSE(storage.Exists(L"docs\\c.txt"));
        CHECK_FALSE(storage.Exists(L"a.bin"));
        CHECK(storage.stored(L"docs\\new.txt") == pattern(7, 7));
        CHECK(storage.stored(L"docs\\hollow\\deeper\\new.txt") == pattern(8, 8));
        CHECK(storage.stored(L"docs\\replaced.txt") == pattern(6, 9));
        // Never asked for: not received, so not deleted.
        CHECK(storage.stored(L"x.bin") == pattern(20, 4));
        std::vector<std::wstring> left = ServerListing(storage.FindFolder(L"docs").get());
        std::sort(left.begin(), left.end());
        CHECK(left == std::vector<std::wstring>{L"hollow", L"new.txt", L"replaced.txt"});

        // Received whole, nothing added since: the listed folders go too, the deepest first.
        auto hollow = items_data(&folder, {L"docs"});
        DeleteElementOrThrow(storage.FindFolder(L"docs").get(), L"new.txt");
        DeleteElementOrThrow(storage.FindFolder(L"docs").get(), L"replaced.txt");
        testing::scratch_dir again;
        consume(hollow.get(), again.path(), DROPEFFECT_MOVE);
        CHECK(file_bytes(again.file(L"docs\\hollow\\deeper\\new.txt")) == pattern(8, 8));
        CHECK_FALSE(storage.Exists(L"docs"));
    }

    SUBCASE("a move deletes only the files that the target read from their start to their end") {
        const std::vector<BYTE> part = pattern(20000, 5), sought = pattern(9000, 8), gap = pattern(9000, 9);
        storage.write_stored(L"part.bin", part);
        storage.write_stored(L"whole.bin", pattern(9000, 6));
        storage.write_stored(L"copied.bin", pattern(9000, 7));
        storage.write_stored(L"sought.bin", sought);
        storage.write_stored(L"gap.bin", gap);
        const std::vector<BYTE> refused = pattern(3000, 10);
        storage.write_stored(L"refused.bin", refused);
        auto data = items_data(&folder, {L"part.bin", L"whole.bin", L"copied.bin", L"sought.bin", L"gap.bin",
                                         L"refused.bin"});
        REQUIRE(descriptors_of(data.get()).size() == 6);
        BYTE block[4096];
        ULONG read = 0;
        // A copy cut short.
        CHECK(stream_of(data.get(), 0)->Read(block, sizeof block, &read) == S_OK);
        // Asked for twice: the first let go unread, the second read to the end.
        stream_of(data.get(), 1);
        std::vector<BYTE> bytes;
        CHECK(contents_of(data.get(), 1, bytes) == S_OK);
        CHECK(bytes == pattern(9000, 6));
        // Through CopyTo, in part, then again from a point before where it stopped.
        auto copied = stream_of(data.get(), 2);
        CHECK(read_through(copied.get(), 5000) == 5000);
        seek_to(copied.get(), 2000);
        CHECK(read_through(copied.get(), 1u << 20) == 7000);
        copied.reset();
        // Sought to its end unread; and read on both sides of a gap that was sought over.
        seek_to(stream_of(data.get(), 3).get(), 0, STREAM_SEEK_END);
        auto holed = stream_of(data.get(), 4);
        CHECK(holed->Read(block, 1000, &read) == S_OK);
        seek_to(holed.get(), 4096);
        CHECK(read_through(holed.get(), 1u << 20) == 9000 - 4096);
        holed.reset();
        // Read to its end by a CopyTo whose target refused the bytes (a full disk).
        testing::scratch_dir sink_dir;
        CloseHandle(CreateFileW(sink_dir.file(L"sink").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        tools::interface_holder<IStream> sink;
        REQUIRE(SHCreateStreamOnFileEx(sink_dir.file(L"sink").c_str(), STGM_READ, 0, FALSE, nullptr, sink.put()) == S_OK);
        ULARGE_INTEGER all{}, got{}, put{};
        all.QuadPart = 1u << 20;
        CHECK(FAILED(stream_of(data.get(), 5)->CopyTo(sink.get(), all, &got, &put)));
        box_answerer boxes;
        REQUIRE(SetDwordFormat(data.get(), DwordFormat::performed_drop_effect, DROPEFFECT_MOVE));
        CHECK(boxes.texts().empty());
        CHECK(storage.stored(L"part.bin") == part);
        CHECK_FALSE(storage.Exists(L"whole.bin"));
        CHECK_FALSE(storage.Exists(L"copied.bin"));
        CHECK(storage.stored(L"sought.bin") == sought);
        CHECK(storage.stored(L"gap.bin") == gap);
        CHECK(storage.stored(L"refused.bin") == refused);
    }

    SUBCASE("names that would lead out of the target's folder are refused") {
        CHECK(IsPlainFileName(L"a.txt"));
        CHECK(IsPlainFileName(L"...x"));
        for (const wchar_t* name : {L"", L".", L"..", L". .", L"a\\b", L"a/b", L"c:x", L"x:stream"}) {
            CAPTURE(tools::to_narrow(name));
            CHECK_FALSE(IsPlainFileName(name));
        }
        storage.write_stored(L"up\\..\\evil.txt", pattern(4));
        auto data = items_data(&folder, {L"up"});
        HRESULT result = S_OK;
        CHECK(descriptors_of(data.get(), &result).empty());
        CHECK(result == HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
    }

    SUBCASE("the item menu's entries, help and commands, and the clipboard") {
        auto docs = items_data(&folder, {L"docs"});
        auto files = items_data(&folder, {L"a.bin", L"x.bin"});
        CHECK(ClassifySelection(docs.get()) == SelectionKind::one_folder);
        CHECK(ClassifySelection(files.get()) == SelectionKind::files);
        CHECK(merged(folder, docs.get(), CMF_NORMAL, 3) ==
              std::vector<std::wstring>{L"Check integrity", L"Extract to...", L"Shell's own"});
        CHECK(merged(folder, docs.get(), CMF_DEFAULTONLY, 2) ==
              std::vector<std::wstring>{L"Open", L"Check integrity", L"Extract to...", L"Shell's own"});
        CHECK(merged(folder, files.get(), CMF_DEFAULTONLY, 2) ==
              std::vector<std::wstring>{L"Extract to...", L"Check integrity", L"Shell's own"});

        IShellFolder* shell_folder = static_cast<IShellFolder*>(&folder);
        wchar_t help[80] = L"";
        CHECK(ItemMenuCallback(shell_folder, nullptr, docs.get(), 11, MAKEWPARAM(1, 80),
                               reinterpret_cast<LPARAM>(help)) == S_OK);
        CHECK(std::wstring(help) == L"Test whether selected file or group of files were corrupted or not.");
        CHECK(ItemMenuCallback(shell_folder, nullptr, docs.get(), 11, MAKEWPARAM(2, 80),
                               reinterpret_cast<LPARAM>(help)) == S_OK);
        CHECK(std::wstring(help) == L"Extract selected object(s) to a folder on the computer.");
        CHECK(ItemMenuCallback(shell_folder, nullptr, docs.get(), 11, MAKEWPARAM(0, 80),
                               reinterpret_cast<LPARAM>(help)) == E_NOTIMPL);
        tools::interface_holder<IShellFolder> desktop;
        REQUIRE(SHGetDesktopFolder(desktop.put()) == S_OK);
        CHECK(ItemMenuCallback(desktop.get(), nullptr, docs.get(), 11, MAKEWPARAM(1, 80),
                               reinterpret_cast<LPARAM>(help)) == E_NOTIMPL);
        tools::interface_holder<IContextMenu> menu;
        CIdList a = parsed(&folder, L"a.bin");
        const ITEMIDLIST* one[] = {a.get()};
        CHECK(folder.GetUIObjectOf(nullptr, 1, one, IID_IContextMenu, nullptr, menu.put_void()) == S_OK);

        // Copy and cut put the selection on the clipboard with the effect they propose; pasted back into a storage
        // folder it is refused.
        box_answerer boxes;
        CHECK(ItemMenuCallback(shell_folder, nullptr, files.get(), DFM_INVOKECOMMAND, DFM_CMD_COPY, 0) == S_OK);
        tools::interface_holder<IDataObject> clipboard;
        REQUIRE(OleGetClipboard(clipboard.put()) == S_OK);
        DWORD proposed = 0;
        CHECK(GetDwordFormat(clipboard.get(), DwordFormat::preferred_drop_effect, proposed));
        CHECK(proposed == DROPEFFECT_COPY);
        CHECK(IsStorageSource(clipboard.get()));
        CHECK(ItemMenuCallback(shell_folder, nullptr, files.get(), DFM_INVOKECOMMAND, DFM_CMD_MOVE, 0) == S_OK);
        CHECK(GetDwordFormat(files.get(), DwordFormat::preferred_drop_effect, proposed));
        CHECK(proposed == DROPEFFECT_MOVE);
        CHECK(ItemMenuCallback(shell_folder, nullptr, files.get(), DFM_INVOKECOMMAND, DFM_CMD_PASTE, 0) == S_OK);
        CHECK_FALSE(PasteFromClipboard(folder));
        OleSetClipboard(nullptr);
        CHECK(ItemMenuCallback(shell_folder, nullptr, files.get(), DFM_INVOKECOMMAND, DFM_CMD_LINK, 0) == E_NOTIMPL);
        CHECK(boxes.texts().empty());
        CHECK(storage.stored(L"a.bin") == pattern(10, 3));
    }

    SUBCASE("Extract to...: the choice of a folder, then that folder's own drop target; a failure shown") {
        box_answerer boxes;
        testing::scratch_dir target;
        chosen_folder = target.path();
        folder_chooser previous = SetFolderChooser(&choose_folder);
        auto data = items_data(&folder, {L"a.bin"});
        IShellFolder* shell_folder = static_cast<IShellFolder*>(&folder);
        chooser_cancels = true;
        CHECK(ItemMenuCallback(shell_folder, nullptr, data.get(), DFM_INVOKECOMMAND, extract_items_command, 0) == S_OK);
        chooser_cancels = false;
        const HRESULT hr =
            ItemMenuCallback(shell_folder, nullptr, data.get(), DFM_INVOKECOMMAND, extract_items_command, 0);
        SetFolderChooser(previous);
        CHECK(chooser_title == L"Select folder where you want to export selected selected object(s).");
        CHECK(chooser_flags == (BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE));
        if (platform::running_under_wine()) {
            // Wine's file-system folder takes dropped items by their file names only, and storage items have none.
            CHECK(hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
            auto texts = boxes.texts();
            REQUIRE(texts.size() == 1);
            CHECK(texts[0] == shell::ErrorBoxText(static_cast<DWORD>(hr), L"Unable to complete operation"));
        } else {
            CHECK(hr == S_OK);
            CHECK(file_bytes(target.file(L"a.bin")) == pattern(10, 3));
        }
        CHECK(storage.stored(L"a.bin") == pattern(10, 3));
    }
    OleUninitialize();
}
