// The library's empty root class: the common base whose only virtual operation is its destructor.
#pragma once

namespace tools {

class root_object {
public:
    virtual ~root_object() = default;
};

}  // namespace tools
