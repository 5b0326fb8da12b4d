#pragma once
// A sequence count that lets a writer publish a few atomics together and readers on other
// threads take one consistent reading of them without a lock or a wait on the writer:
// odd while a write is under way, moved on by every write. Writes must not overlap (the
// caller's lock or thread keeps them apart); the values are relaxed atomics.
#include <atomic>
#include <cstdint>

namespace audio {

class SeqCount {
public:
    // The release fence keeps the stores that follow after the odd count: a reader that
    // sees any of them sees the count moved and reads again.
    void beginWrite()
    {
        m_seq.fetch_add(1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
    }
    void endWrite() { m_seq.fetch_add(1, std::memory_order_release); }

    // Calls `read` until it ran with no write under way or in between, and returns what it
    // returned on that run. The acquire fence keeps its loads before the second load of the
    // count, which an acquire load of the count alone does not (it orders only what follows).
    template <typename Read>
    auto read(Read&& read) const
    {
        for (;;) {
            const std::uint64_t before = m_seq.load(std::memory_order_acquire);
            if (before & 1) continue;
            auto value = read();
            std::atomic_thread_fence(std::memory_order_acquire);
            if (before == m_seq.load(std::memory_order_relaxed)) return value;
        }
    }

private:
    std::atomic<std::uint64_t> m_seq{0};
};

} // namespace audio
