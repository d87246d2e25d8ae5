#include "guid_transform.h"

#include <cstring>

#include <tools/md5.h>
#include <tools/rc4.h>

FileKey GuidTransform(const ContentKey& content_key, const GUID& element_id) {
    const tools::byte_buffer& key = content_key.bytes();
    tools::md5_digest digest = tools::md5(key.data() ? key.data() : reinterpret_cast<const unsigned char*>(""), key.size());
    FileKey result;
    static_assert(sizeof(GUID) == 16);
    std::memcpy(result.bytes.data(), &element_id, 16);
    tools::rc4_crypt(digest.data(), digest.size(), result.bytes.data(), result.bytes.size());
    SecureZeroMemory(digest.data(), digest.size());
    return result;
}
