#pragma once
// Threads that keep the sound going run ahead of busy programs where the system lets them:
// on a machine loaded with builds (two cores, load 20) a thread at the ordinary priority
// ran some 10 % of the time, and the sound ran dry for 20-400 ms again and again.
#include <cstddef>

namespace audio {

enum class ThreadRole {
    Output,  // hands sound to the server as it asks: the most urgent, never long busy
    Render,  // decodes and stretches ahead of the output, in bursts
};

// What this thread got.
enum class Raised {
    RealTime,  // a real-time class (SCHED_FIFO or SCHED_RR), under the sound server's own
    Nice,      // a better nice value, where real time is refused
    None,      // left as it was
};

// Raises the calling thread for its role, quietly falling back to what is allowed. Children
// forked from it start at the ordinary priority again. For the renderer it may wait up to
// a second on the system bus: call it where nothing waits for the thread yet.
Raised raiseThisThread(ThreadRole role);
// Names the calling thread (15 characters at most), as `top -H` and the benchmarks see it.
void nameThisThread(const char* name);

// How many chunks to render ahead of the output. A worker held up (by a busy machine) finds
// the output took more than it planned for by the time it runs again: the target grows to
// twice what was taken, so the same hold leaves half to spare; once no hold came near it
// for `calmWakes` wake-ups it falls back a chunk at a time. Between `base` and `most` (the
// ring's room). Grown or not, what is rendered ahead stays cuttable: a change drops it.
class RenderAhead {
public:
    RenderAhead(std::size_t base, std::size_t most, int calmWakes = 256);
    // The worker woke to top up and found `left` chunks still to be taken, of `target()`.
    void woke(std::size_t left);
    std::size_t target() const { return m_target; }

private:
    std::size_t m_base;
    std::size_t m_most;
    int m_calmWakes;
    std::size_t m_target;
    int m_calm = 0;
};

} // namespace audio
