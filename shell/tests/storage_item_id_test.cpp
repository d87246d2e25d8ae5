// Item IDs: the layout a built record has, and which foreign or damaged records are refused.
#include <doctest.h>
#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <string>
#include <vector>

#include <server/idl/storage_identities.h>
#include <shell/storage_item_id.h>
#include <tools/com_error.h>

#include <tools/tests/test_support.h>

#include "item_id_fixture.h"

using shell_testing::info_stand_in;

namespace {

std::vector<BYTE> bytes_of(const CIdList& list) {
    const BYTE* p = reinterpret_cast<const BYTE*>(list.get());
    return std::vector<BYTE>(p, p + list.get()->mkid.cb + 2);
}

HRESULT raised_by_get(const void* record) {
    return testing::raised([&] { GetStorageItem(static_cast<const ITEMIDLIST*>(record)); });
}

}  // namespace

TEST_CASE("a built item ID has the fixed layout, zeroed reserved bytes and a list terminator") {
    info_stand_in info(L"R\u00e9sum\u00e9.txt", FileElementType, 0x0123456789ABCDEFull);
    CIdList list = BuildStorageItemId(&info);
    REQUIRE(list);
    std::vector<BYTE> bytes = bytes_of(list);
    size_t n = 10;
    REQUIRE(bytes.size() == 36 + 2 * n);
    CHECK(list.get()->mkid.cb == 34 + 2 * n);
    CHECK(std::memcmp(bytes.data() + 2, &StorageItemSignature, 16) == 0);
    CHECK(bytes[18] == 2);
    const BYTE size_bytes[8] = {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
    CHECK(std::memcmp(bytes.data() + 22, size_bytes, 8) == 0);
    CHECK(std::memcmp(bytes.data() + 30, L"R\u00e9sum\u00e9.txt", 2 * n + 2) == 0);
    for (size_t at = 32 + 2 * n; at < bytes.size(); ++at) CHECK(bytes[at] == 0);  // reserved, then the terminator
    CHECK(ILGetSize(list.get()) == bytes.size());  // one item, then the terminator

    const StorageItem* item = GetStorageItem(list.get());
    CHECK(item->type == FileElementType);
    CHECK(item->size == 0x0123456789ABCDEFull);
    CHECK(std::wstring(item->name) == L"R\u00e9sum\u00e9.txt");

    CIdList copy = list;  // a copy is a clone of its own
    CHECK(copy.get() != list.get());
    CHECK(bytes_of(copy) == bytes);

    info_stand_in empty(L"", FolderElementType, 0);
    CIdList smallest = BuildStorageItemId(&empty);
    CHECK(smallest.get()->mkid.cb == 34);
    CHECK(IsStorageItemId(smallest.get()));
    CHECK(GetStorageItem(smallest.get())->name[0] == 0);
}

TEST_CASE("foreign, truncated and unterminated records are refused, and a failing query builds nothing") {
    info_stand_in info(L"abc", FolderElementType, 5);
    std::vector<BYTE> good = bytes_of(BuildStorageItemId(&info));  // cb 40
    CHECK(IsStorageItemId(reinterpret_cast<const ITEMIDLIST*>(good.data())));
    CHECK_FALSE(IsStorageItemId(nullptr));

    // Shorter records that still carry the signature: 28 and the lengths 29 to 33 whose fields reach past them.
    for (USHORT cb = 28; cb < 34; ++cb) {
        std::vector<BYTE> cut(good.begin(), good.begin() + cb);
        cut.resize(cb + 2, 0);
        std::memcpy(cut.data(), &cb, 2);
        CAPTURE(cb);
        CHECK_FALSE(IsStorageItemId(reinterpret_cast<const ITEMIDLIST*>(cut.data())));
        CHECK(raised_by_get(cut.data()) == E_INVALIDARG);
    }
    std::vector<BYTE> odd = good;
    odd[0] = 39;
    CHECK_FALSE(IsStorageItemId(reinterpret_cast<const ITEMIDLIST*>(odd.data())));
    std::vector<BYTE> foreign = good;
    foreign[17] ^= 1;
    CHECK(raised_by_get(foreign.data()) == E_INVALIDARG);
    // A name that runs up to the reserved bytes without its NUL would be read past the record.
    std::vector<BYTE> unterminated = good;
    unterminated[36] = 'x';
    CHECK_FALSE(IsStorageItemId(reinterpret_cast<const ITEMIDLIST*>(unterminated.data())));

    info_stand_in failing(L"abc", FileElementType, 1, RPC_E_DISCONNECTED);
    CHECK_THROWS_AS(BuildStorageItemId(&failing), _com_error);
    info_stand_in too_long(std::wstring(40000, L'n'), FileElementType, 1);
    try {
        BuildStorageItemId(&too_long);
        FAIL("a name longer than a record holds was built");
    } catch (const _com_error& e) {
        CHECK(e.Error() == E_INVALIDARG);
    }
}
