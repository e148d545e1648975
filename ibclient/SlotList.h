// A list of non-owning pointers whose removed entries leave an empty slot that the next
// addition reuses, so that the indices handed out stay valid while others come and go.
#pragma once

#include <cstddef>
#include <vector>

namespace ibclient {

template <class T>
class TSlotList {
public:
    // Puts `item` into the first empty slot, or appends it; returns its index.
    int Add(T* item) {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i] == nullptr) {
                slots_[i] = item;
                return static_cast<int>(i);
            }
        }
        slots_.push_back(item);
        return static_cast<int>(slots_.size() - 1);
    }

    // Empties the slot `index` (ignored when out of range).
    void Remove(int index) noexcept {
        if (index >= 0 && static_cast<std::size_t>(index) < slots_.size()) {
            slots_[static_cast<std::size_t>(index)] = nullptr;
        }
    }

    // Index of `item`, or -1.
    int Find(const T* item) const noexcept {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i] == item) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    // Number of slots, empty ones included.
    int Count() const noexcept { return static_cast<int>(slots_.size()); }
    // Number of filled slots.
    int FilledCount() const noexcept {
        int n = 0;
        for (const T* item : slots_) {
            n += item != nullptr ? 1 : 0;
        }
        return n;
    }

    // The item in slot `index`; null for an empty slot or an index out of range.
    T* At(int index) const noexcept {
        return index >= 0 && static_cast<std::size_t>(index) < slots_.size()
                   ? slots_[static_cast<std::size_t>(index)]
                   : nullptr;
    }

    void Clear() noexcept { slots_.clear(); }

private:
    std::vector<T*> slots_;
};

}  // namespace ibclient
