// A reference-counted holder of one polymorphic object, deleted through its virtual destructor at count zero.
#pragma once
#include <new>
#include <type_traits>
#include <utility>
#include "root_object.h"

namespace tools {

// The block that all holders of one object share. Its count is a plain integer: holders of one
// object are used on one thread at a time.
struct shared_block {
    long count;
    root_object* object;
};

template <class T>
class shared_holder {
public:
    shared_holder() noexcept = default;

    // Takes ownership of object (which may be null); deletes it if the block cannot be allocated.
    explicit shared_holder(T* object) {
        if (!object) return;
        try {
            block_ = new shared_block{1, object};
        } catch (...) {
            delete object;
            throw;
        }
    }

    // A counted reference from a block that some other holder owns (an object that knows its own block).
    static shared_holder from_block(shared_block* block) noexcept {
        shared_holder h;
        h.block_ = block;
        if (block) ++block->count;
        return h;
    }

    // A holder of a derived object converts to a holder of its base, sharing the same count.
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*> && !std::is_same_v<U, T>>>
    shared_holder(const shared_holder<U>& other) noexcept : shared_holder(from_block(other.block())) {}

    shared_holder(const shared_holder& other) noexcept : block_(other.block_) {
        if (block_) ++block_->count;
    }
    shared_holder(shared_holder&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    shared_holder& operator=(const shared_holder& other) noexcept {
        if (this != &other) {
            shared_holder copy(other);
            swap(copy);
        }
        return *this;
    }
    shared_holder& operator=(shared_holder&& other) noexcept {
        if (this != &other) {
            release();
            block_ = std::exchange(other.block_, nullptr);
        }
        return *this;
    }
    ~shared_holder() { release(); }

    // Drops this holder's count; at zero the object is deleted and the block freed. The holder is then empty.
    void release() noexcept {
        shared_block* block = std::exchange(block_, nullptr);
        if (block && --block->count == 0) {
            delete block->object;
            delete block;
        }
    }

    T* get() const noexcept { return block_ ? static_cast<T*>(block_->object) : nullptr; }
    T* operator->() const noexcept { return get(); }
    T& operator*() const noexcept { return *get(); }
    explicit operator bool() const noexcept { return get() != nullptr; }
    shared_block* block() const noexcept { return block_; }
    long use_count() const noexcept { return block_ ? block_->count : 0; }
    void swap(shared_holder& other) noexcept { std::swap(block_, other.block_); }

private:
    shared_block* block_ = nullptr;
};

}  // namespace tools
