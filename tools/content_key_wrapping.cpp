#include "content_key_wrapping.h"

namespace tools {

byte_buffer wrap_content_key(const byte_buffer& encrypted) {
    return byte_buffer(encrypted.rbegin(), encrypted.rend());
}

byte_buffer unwrap_content_key(const byte_buffer& wrapped) {
    return byte_buffer(wrapped.rbegin(), wrapped.rend());
}

}  // namespace tools
