#pragma once
// A fixed ring between exactly one producing and one consuming thread, without locks:
// the sound server's thread takes from it and never waits on anyone.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio {

template <typename T>
class SpscQueue {
public:
    explicit SpscQueue(std::size_t capacity) : m_slots(capacity) {}

    // Producer: the slot to fill, `after` slots past those filled and not yet handed over,
    // or nullptr when full; publish(n) hands the first n over at once.
    T* slot(std::size_t after = 0)
    {
        const std::uint64_t head = m_head.load(std::memory_order_relaxed) + after;
        if (head - m_tail.load(std::memory_order_acquire) >= m_slots.size()) return nullptr;
        return &m_slots[head % m_slots.size()];
    }
    void publish(std::size_t n = 1) { m_head.store(m_head.load(std::memory_order_relaxed) + n, std::memory_order_release); }
    bool push(const T& value)
    {
        T* s = slot();
        if (!s) return false;
        *s = value;
        publish();
        return true;
    }

    // Consumer: the oldest item, or nullptr when empty; pop() frees it.
    T* front()
    {
        const std::uint64_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail == m_head.load(std::memory_order_acquire)) return nullptr;
        return &m_slots[tail % m_slots.size()];
    }
    void pop() { m_tail.store(m_tail.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

    std::size_t size() const
    {
        return std::size_t(m_head.load(std::memory_order_acquire) - m_tail.load(std::memory_order_acquire));
    }
    std::size_t capacity() const { return m_slots.size(); }

private:
    std::vector<T> m_slots;
    alignas(64) std::atomic<std::uint64_t> m_head{0};
    alignas(64) std::atomic<std::uint64_t> m_tail{0};
};

} // namespace audio
