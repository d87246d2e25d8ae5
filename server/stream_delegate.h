// The IStream handed to clients and used by file objects in place of the compound file's own: it passes
// every call on and keeps the element store's wrapper, and so the stream, open while it lives. All
// delegates of one file work on its one stream and so share one seek position.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <tools/forwarding_stream.h>
#include <tools/interface_holder.h>
#include "element_store.h"

class CStreamDelegate final : public tools::forwarding_stream {
public:
    // A delegate over the wrapper's stream with one reference for the caller; empty when the wrapper
    // holds no stream.
    static tools::interface_holder<IStream> Make(const StreamHolder& wrapper);

protected:
    IStream* inner() const noexcept override { return wrapped_.get(); }

private:
    explicit CStreamDelegate(const StreamHolder& wrapper);

    StreamHolder wrapper_;
    tools::interface_holder<IStream> wrapped_;
};
