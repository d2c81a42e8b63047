#pragma once
// A bounded ring that reuses its slots: once full, a new element takes the
// oldest one's place, and an emptied ring keeps its slots, so elements that
// own memory (a frame's bytes) hand it on instead of freeing and allocating
// it again for every frame.

#include <cstddef>
#include <vector>

namespace rio::monitor {

template <typename T> class Ring {
public:
    explicit Ring(std::size_t capacity) : m_capacity(capacity) {}

    [[nodiscard]] std::size_t size() const { return m_size; }
    [[nodiscard]] std::size_t capacity() const { return m_capacity; }
    [[nodiscard]] bool empty() const { return m_size == 0; }

    // The slot for a new newest element, holding whatever it held before;
    // when the ring is full that is the oldest element, which leaves.
    [[nodiscard]] T& push() {
        if (m_size < m_capacity) {
            // Not full: the elements sit in slots 0 .. size-1.
            if (m_size == m_slots.size())
                m_slots.emplace_back();
            return m_slots[m_size++];
        }
        T& slot = m_slots[m_first];
        m_first = (m_first + 1) % m_capacity;
        return slot;
    }

    // Index 0 is the oldest.
    [[nodiscard]] const T& at(std::size_t index) const { return m_slots[slot(index)]; }
    [[nodiscard]] T& at(std::size_t index) { return m_slots[slot(index)]; }

    void clear() {
        m_size = 0;
        m_first = 0;
    }

private:
    [[nodiscard]] std::size_t slot(std::size_t index) const {
        return m_size < m_capacity ? index : (m_first + index) % m_capacity;
    }

    std::size_t m_capacity;
    std::vector<T> m_slots;
    std::size_t m_first = 0; // the oldest element's slot once full
    std::size_t m_size = 0;
};

} // namespace rio::monitor
