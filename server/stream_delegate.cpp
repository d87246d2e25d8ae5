#include "stream_delegate.h"

// Each delegate has its own count and one reference on what it wraps, so delegates released in any
// order are each freed at their own last Release.
CStreamDelegate::CStreamDelegate(const StreamHolder& wrapper)
    : wrapper_(wrapper), wrapped_(tools::interface_holder<IStream>::add_ref(wrapper->Stream())) {}

tools::interface_holder<IStream> CStreamDelegate::Make(const StreamHolder& wrapper) {
    if (!wrapper || !wrapper->Stream()) return {};
    return tools::interface_holder<IStream>(new CStreamDelegate(wrapper));
}
