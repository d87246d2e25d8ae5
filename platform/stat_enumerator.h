// Stands in for Wine's IEnumSTATPROPSTG / IEnumSTATPROPSETSTG: an enumerator over a snapshot.
#pragma once
#include <windows.h>
#include <propidl.h>
#include <new>
#include <string>
#include <vector>
#include "com_unknown.h"

namespace platform {

inline STATPROPSTG copy_stat(const STATPROPSTG& s, bool* ok) {
    STATPROPSTG copy = s;
    if (s.lpwstrName) {
        size_t bytes = (wcslen(s.lpwstrName) + 1) * sizeof(wchar_t);
        copy.lpwstrName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (copy.lpwstrName) memcpy(copy.lpwstrName, s.lpwstrName, bytes);
        else *ok = false;
    }
    return copy;
}
inline STATPROPSETSTG copy_stat(const STATPROPSETSTG& s, bool*) { return s; }
inline void free_stat(STATPROPSTG& s) { CoTaskMemFree(s.lpwstrName); }
inline void free_stat(STATPROPSETSTG&) {}

// The snapshot owns the name strings of its items (CoTaskMem); Next hands out copies.
template <class Enum, class Item>
class stat_enumerator final : public com_unknown<Enum> {
public:
    explicit stat_enumerator(std::vector<Item> items) : items_(std::move(items)) {}
    ~stat_enumerator() override {
        for (auto& item : items_) free_stat(item);
    }

    STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) return STG_E_INVALIDPARAMETER;
        ULONG n = 0;
        while (n < count && position_ < items_.size()) {
            bool ok = true;
            Item copy = copy_stat(items_[position_], &ok);
            if (!ok) {
                for (ULONG i = 0; i < n; ++i) free_stat(out[i]);
                if (fetched) *fetched = 0;
                return E_OUTOFMEMORY;
            }
            out[n++] = copy;
            ++position_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        size_t left = items_.size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Enum** out) override {
        if (!out) return STG_E_INVALIDPARAMETER;
        *out = nullptr;
        std::vector<Item> items;
        try {
            for (const auto& item : items_) {
                bool ok = true;
                items.push_back(copy_stat(item, &ok));
                if (!ok) throw std::bad_alloc();
            }
            auto* clone = new stat_enumerator(std::move(items));
            clone->position_ = position_;
            *out = clone;
            return S_OK;
        } catch (...) {
            for (auto& item : items) free_stat(item);
            return E_OUTOFMEMORY;
        }
    }

private:
    std::vector<Item> items_;
    size_t position_ = 0;
};

}  // namespace platform
