// The typed properties and the comment codec, on storages the wizard's Finish made, through the service.
#include "client_test_support.h"

#include <oleauto.h>

#include <server/client/comment_codec.h>
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <server/tests/service_fixture.h>
#include <tools/certificates.h>
#include <tools/pfx_import.h>
#include <tools/tests/test_support.h>
#include <wizard/storage_creation.h>

using namespace client_testing;

namespace {

CStorageCreationRequest Request(const testing::scratch_dir& dir) {
    CStorageCreationRequest request;
    request.storage_path = dir.file(L"made.orrisafe");
    request.key_file_path = dir.file(L"made.pfx");
    request.option = SeparateFileAndAttach;
    request.common_name = L"Client Test";
    request.password = L"Client#Pass1";
    GetLocalTime(&request.end_date);
    request.end_date.wYear = static_cast<WORD>(request.end_date.wYear + 5);
    return request;
}

// The storage identifier as the file itself holds it, read without the server.
GUID StoredStorageId(const std::wstring& path) {
    tools::interface_holder<IStorage> storage;
    REQUIRE(StgOpenStorageEx(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0, nullptr, nullptr,
                             IID_IStorage, storage.put_void()) == S_OK);
    CStorageWrapper::holder root = CStorageWrapper::Make(storage.get(), CStorageWrapper::holder());
    tools::auto_variant id;
    REQUIRE(root->ReadElementId(id.put()));
    REQUIRE(id.type() == VT_BSTR);
    return tools::string_to_guid(id->bstrVal);
}

std::wstring StoredText(IStorageElement* element, const GUID& key) {
    tools::auto_variant value = GetStorageProperty(element, key);
    REQUIRE(value.type() == VT_BSTR);
    return value->bstrVal;
}

}  // namespace

TEST_CASE("a comment is stored as base64 of its UTF-16LE bytes under RC4") {
    // "AB" is 41 00 42 00; RC4 under 01 02 03 04 05 begins b2 39 63 05 (RFC 6229): f3 39 21 05.
    tools::byte_buffer key = {1, 2, 3, 4, 5};
    CHECK(EncodeItemComment(L"AB", key) == "8zkhBQ");
    CHECK(EncodeItemComment(L"AB", {}) == "QQBCAA");  // no key: the bytes as they are
    CHECK(DecodeItemComment("8zkhBQ", key) == L"AB");
    CHECK(DecodeItemComment("8zkh", key) == L"A");  // a damaged odd length loses its last byte only
}

TEST_CASE("typed properties read what the wizard's Finish wrote and keep what they write") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::scratch_dir dir;
    CStorageCreationRequest request = Request(dir);
    tools::byte_buffer pfx = CreateStorageAndKey(request);
    GUID stored_id = StoredStorageId(request.storage_path);
    tools::byte_buffer key_id;
    {
        tools::cert_list certs = tools::import_pfx(pfx, request.password.c_str());
        REQUIRE(certs.size() == 1);
        key_id = tools::cert_key_identifier(certs[0]);
        tools::delete_key_container(certs[0]);
    }
    std::wstring plain = dir.file(L"plain.orrisafe");
    create_storage_file(plain);

    com_apartment apartment;
    auto server = ConnectServer();
    auto root = OpenStorageOrThrow(server.get(), request.storage_path);
    CHECK(GetStorageId(root.get()) == stored_id);
    CHECK(GetKeyIdentifier(root.get()) == key_id);
    CHECK(GetContentKey(root.get()).size() == 256);
    CHECK_FALSE(IsStorageFrozen(root.get()));
    CHECK(GetStorageFlags(root.get()) == StorageFlagKeyAttached);
    CHECK(GetAttachedKey(root.get()) == pfx);

    SetStorageFrozen(root.get(), true);
    CHECK(IsStorageFrozen(root.get()));
    SetStorageFlags(root.get(), 0x8000000000000001ull);
    CHECK(GetStorageFlags(root.get()) == 0x8000000000000001ull);
    tools::byte_buffer other_key = {0, 1, 2, 0xFE, 0xFF};
    SetAttachedKey(root.get(), other_key);
    CHECK(GetAttachedKey(root.get()) == other_key);

    // Comments: the same key reads the text back, another key reads other characters without an error.
    auto file = OpenFileOrThrow(root.get(), L"commented.txt", VARIANT_TRUE);
    tools::byte_buffer content_key(16, 0x5A), wrong_key(16, 0xA5);
    CHECK_FALSE(HasItemComment(file.get()));
    std::wstring comment = L"\u00c9t\u00e9 \u2713 note";
    SetItemComment(file.get(), comment, content_key);
    CHECK(HasItemComment(file.get()));
    CHECK(GetItemComment(file.get(), content_key) == comment);
    CHECK(GetItemComment(file.get(), wrong_key) != comment);
    CHECK(StoredText(file.get(), CommentProperty) == tools::to_wide(EncodeItemComment(comment, content_key)));
    VARIANT number;
    number.vt = VT_UI8;
    number.ullVal = 7;
    SetPropertyOrThrow(file.get(), CommentProperty, number);
    CHECK(HasItemComment(file.get()));
    CHECK(raised([&] { GetItemComment(file.get(), content_key); }) == E_UNEXPECTED);

    // The content digest is kept as upper-case braced GUID text and reads back as the same 16 bytes.
    StreamDigest digest = GetDigestOrThrow(file.get());
    digest.Data4[7] ^= 0xAB;  // not all zero, so the text shows case
    SetContentDigest(file.get(), digest);
    CHECK(GetContentDigest(file.get()) == digest);
    std::wstring text = StoredText(file.get(), ContentDigestProperty);
    CHECK(text == tools::guid_to_string(digest));
    CHECK(text.find_first_of(L"abcdef") == std::wstring::npos);

    // A storage that never stored these: flags 0, the others raise E_UNEXPECTED.
    auto bare = OpenStorageOrThrow(server.get(), plain);
    CHECK(GetStorageFlags(bare.get()) == 0);
    CHECK(raised([&] { IsStorageFrozen(bare.get()); }) == E_UNEXPECTED);
    CHECK(raised([&] { GetKeyIdentifier(bare.get()); }) == E_UNEXPECTED);
    CHECK(raised([&] { GetContentKey(bare.get()); }) == E_UNEXPECTED);
    CHECK(raised([&] { GetAttachedKey(bare.get()); }) == E_UNEXPECTED);
    CHECK(raised([&] { GetContentDigest(bare.get()); }) == E_UNEXPECTED);
}
