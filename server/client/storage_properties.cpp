#include "storage_properties.h"

#include <server/idl/storage_identities.h>
#include <tools/bstr.h>
#include <tools/com_error.h>

#include "comment_codec.h"
#include "server_calls.h"

namespace {

// The value under key, which must be of type; nothing else is accepted.
tools::auto_variant required(IStorageElement* element, const GUID& key, VARTYPE type) {
    tools::auto_variant value = GetStorageProperty(element, key);
    if (value.type() != type) _com_issue_error(E_UNEXPECTED);
    return value;
}

std::wstring required_text(IStorageElement* element, const GUID& key) {
    tools::auto_variant value = required(element, key, VT_BSTR);
    BSTR text = value->bstrVal;
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

tools::byte_buffer required_base64(IStorageElement* element, const GUID& key) {
    return tools::base64_decode(tools::to_narrow(required_text(element, key)).c_str());
}

void set_text(IStorageElement* element, const GUID& key, const std::wstring& text) {
    tools::bstr stored(text);
    VARIANT value;
    value.vt = VT_BSTR;
    value.bstrVal = stored;
    SetPropertyOrThrow(element, key, value);
}

void set_base64(IStorageElement* element, const GUID& key, const tools::byte_buffer& bytes) {
    set_text(element, key, tools::to_wide(tools::base64_encode(bytes)));
}

}  // namespace

GUID GetStorageId(IStorageElement* element) {
    return tools::string_to_guid(required_text(element, ElementIdProperty).c_str());
}

tools::byte_buffer GetKeyIdentifier(IStorageElement* root) { return required_base64(root, KeyIdentifierProperty); }

tools::byte_buffer GetContentKey(IStorageElement* root) { return required_base64(root, ContentKeyProperty); }

bool IsStorageFrozen(IStorageElement* root) { return required(root, FrozenProperty, VT_BOOL)->boolVal != 0; }

void SetStorageFrozen(IStorageElement* root, bool frozen) {
    VARIANT value;
    value.vt = VT_BOOL;
    value.boolVal = frozen ? VARIANT_TRUE : VARIANT_FALSE;
    SetPropertyOrThrow(root, FrozenProperty, value);
}

ULONGLONG GetStorageFlags(IStorageElement* root) {
    tools::auto_variant value = GetStorageProperty(root, StorageFlagsProperty);
    if (value.type() == VT_EMPTY) return 0;
    if (value.type() != VT_UI8) _com_issue_error(E_UNEXPECTED);
    return value->ullVal;
}

void SetStorageFlags(IStorageElement* root, ULONGLONG flags) {
    VARIANT value;
    value.vt = VT_UI8;
    value.ullVal = flags;
    SetPropertyOrThrow(root, StorageFlagsProperty, value);
}

tools::byte_buffer GetAttachedKey(IStorageElement* root) { return required_base64(root, AttachedKeyProperty); }

void SetAttachedKey(IStorageElement* root, const tools::byte_buffer& key_file) {
    set_base64(root, AttachedKeyProperty, key_file);
}

bool HasItemComment(IStorageElement* element) {
    return GetStorageProperty(element, CommentProperty).type() != VT_EMPTY;
}

std::wstring GetItemComment(IStorageElement* element, const tools::byte_buffer& content_key) {
    return DecodeItemComment(tools::to_narrow(required_text(element, CommentProperty)), content_key);
}

void SetItemComment(IStorageElement* element, const std::wstring& text, const tools::byte_buffer& content_key) {
    set_text(element, CommentProperty, tools::to_wide(EncodeItemComment(text, content_key)));
}

StreamDigest GetContentDigest(IStorageElement* file) {
    return tools::string_to_guid(required_text(file, ContentDigestProperty).c_str());
}

void SetContentDigest(IStorageElement* file, const StreamDigest& digest) {
    set_text(file, ContentDigestProperty, tools::guid_to_string(digest));
}
