#pragma once
// The position as heard. A decoder runs ahead of what is heard by its output buffer, so
// jumps back (loop wraps) and ends are decoded some time before anyone hears them. This
// keeps a sample of the heard position and the time it was taken, runs it on at the rate,
// and holds back the wraps and the end decoded meanwhile until the clock reaches them.
// No threads, no event loop: the time comes from the source it is given.
#include <functional>
#include <optional>

namespace audio {

class HeardClock {
public:
    using TimeSource = std::function<double()>;  // monotonic seconds

    enum class End {
        None,
        Due,      // decoded, not heard yet
        Reached,  // heard: the clock stands at it
    };

    // Where a reader may see the position go, besides the end: the stop of a loop the
    // decoder wraps at, a stop it holds at, and the file's length (0: unknown).
    struct Bounds {
        std::optional<double> wrapStop;
        std::optional<double> holdStop;
        double duration = 0;
    };

    // What became heard by a call to resolve() or reachEnd().
    struct Heard {
        int wraps = 0;
        bool ended = false;
    };

    explicit HeardClock(TimeSource now);

    double rate() const { return m_rate; }
    // Re-anchored first, so the time run so far counts at the old rate.
    void setRate(double rate);

    bool running() const { return m_running; }
    double anchor() const { return m_anchorPos; }
    // The sample run on by the time since it was taken; no wraps or ends applied.
    double raw() const;
    // The position a reader sees: raw() held below wraps and ends still to come.
    double heard(const Bounds& bounds) const;

    // Standing still at `at`. A pass's start, too: the sound may begin a little before it
    // (a video's sound starts with the frame shown there), and the position reads the
    // start until the samples pass it, rather than going back below it.
    void holdAt(double at);
    // Standing still where the clock has run to.
    void freeze();
    // Running on from the anchor, from now.
    void run();
    // A position sample from the output (before the wraps decoded since), and whether the
    // clock runs on from it.
    void sample(double value, bool running);

    int wrapsPending() const { return m_wrapsPending; }
    double wrapStop() const { return m_wrapStop; }
    // A jump from `stop` back to `start` decoded; a wrap already pending keeps its range.
    void wrapDecoded(double start, double stop);

    End end() const { return m_end; }
    double endPos() const { return m_endPos; }
    void endDecoded(double at);
    // A due end that turned out not to come (the decoder left it).
    void endWithdrawn();
    // Off the end reached, standing where it was.
    void leaveEnd();
    // The output was flushed: nothing decoded before is ever heard.
    void cancelPending();

    // Takes the wraps the clock has run past (moving back by each; the position then holds
    // at their start as after holdAt()), and tells whether a due
    // end is reached now. The caller then calls reachEnd() for it.
    Heard resolve();
    // Stands at the due end; the wraps still pending count as heard with it. Nothing
    // happens when no end is due.
    Heard reachEnd();

    // Seconds of real time since the running clock passed `at`: less than 0 while `at` is
    // still ahead; 0 standing.
    double secondsPast(double at) const;

    // Seconds of real time until the next wrap or end is heard; none when nothing is due
    // or the clock stands still.
    std::optional<double> untilDue() const;

private:
    TimeSource m_now;
    double m_rate = 1.0;
    double m_anchorPos = 0;
    double m_anchorTime = 0;
    bool m_running = false;
    // Where the pass heard now began (a hold, or a wrap heard): raw() up to kMaxLead
    // below it reads it.
    double m_passStart = 0;

    int m_wrapsPending = 0;
    double m_wrapStart = 0;
    double m_wrapStop = 0;

    End m_end = End::None;
    double m_endPos = 0;
};

} // namespace audio
