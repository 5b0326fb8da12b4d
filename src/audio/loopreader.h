#pragma once
// The loop in samples: which source frames play next, where a pass wraps, and how the seam
// is blended. No threads and no clock, so every rule here is checked to the sample.
#include <QtGlobal>

#include <optional>
#include <vector>

namespace audio {

// Where the frames come from: a decoder in the engine, memory in tests. Stereo.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Frames in the source; -1 until known.
    virtual qint64 frames() const = 0;
    // Up to `n` frames from `pos` into `out`; fewer only at the end, -1 on an error.
    virtual qint64 readAt(qint64 pos, float* out, qint64 n) = 0;
};

inline constexpr int kChannels = 2;

// How long a seam blends. Over a shorter blend the turn of phase between the two ends (up
// to half a period) crowds into few samples: a 440 Hz tone meeting itself 140 degrees out
// steps 1.23 times its own largest step over 5 ms, 1.07 over 15, 1.04 over 30.
inline constexpr int kSeamBlendMs = 30;

struct Loop {
    qint64 start = 0;
    qint64 stop = 0;
    int wraps = 0;      // jumps back still to make; -1 without end
    bool hold = false;  // once no wraps are left, end at `stop`
};

// A run of output frames that continues the source from `sourcePos` without a jump.
struct Block {
    qint64 frames = 0;
    qint64 sourcePos = 0;
    bool passStart = false;  // the first frame is where a wrap lands
    bool end = false;        // nothing follows this block
};

// A run of output that plays the source on from one place: what a chunk of rendered sound
// holds, and what the listener hears from some output frame on.
struct SourceRun {
    quint64 epoch = 0;       // the engine's seek generation it belongs to
    quint64 entry = 0;       // the list entry it comes from
    double sourcePos = 0;    // source frame of its first frame
    double step = 1;         // source frames per output frame
    qint64 frames = 0;
    bool passStart = false;  // its first frame is where a pass begins
    bool end = false;        // nothing follows it
};

// Equal-power fade over `length` frames: the gain at frame i of a sound fading in or out
// against silence.
float fadeInGain(qint64 i, qint64 length);
float fadeOutGain(qint64 i, qint64 length);

// The seam blend's gains at frame i of `length`, for two sounds whose correlation over the
// blend is `correlation`: their sum keeps its power all through. Equal power assumes the
// two unrelated; a tone meeting itself out of phase would dip, in phase would swell.
struct BlendGains {
    float in = 0;
    float out = 0;
};
BlendGains blendGains(qint64 i, qint64 length, double correlation);
// Normalised correlation of two stereo runs of `frames` frames; 0 where either is silent.
double correlation(const float* a, const float* b, qint64 frames);

class LoopReader {
public:
    LoopReader(FrameSource& source, qint64 fadeFrames);

    // The next block starts at `pos`, with no blend; `passStart`: as a wrap lands there.
    void seek(qint64 pos, bool passStart = false);
    qint64 position() const { return m_pos; }
    // A loop whose stop is not after its start, or after the source's end, or that lies
    // behind the position, does not loop: playback runs on to the end.
    void setLoop(std::optional<Loop> loop);
    const std::optional<Loop>& loop() const { return m_loop; }
    // Something follows the hold (the list's next entry): the seam into it is blended, or
    // with `gap` (a pause before it) this end fades out and the next one fades in.
    void setFollowed(bool followed, bool gap = false)
    {
        m_followed = followed;
        m_gapAtHold = followed && gap;
    }
    // While on, and nothing is known to follow the hold, the blend's length before the stop
    // is not read (read() gives nothing and waiting() holds): whether it fades out depends
    // on what follows, which list play tells only once the last pass is heard.
    void awaitFollower(bool on) { m_await = on; }
    bool waiting() const { return m_waiting; }
    // Frames `from` on past the held end, for a stretcher's window to hear where the next
    // entry blends out of them: none where a gap follows, nothing is known to follow, or
    // the source has none. Only once the end was read.
    qint64 readPast(qint64 from, float* out, qint64 n);
    // The coming wrap leaves a gap (a pause before the next pass): the pass's end fades out
    // and the next one fades in from silence instead of the two blending.
    void setGapAtWrap(bool gap) { m_gapAtWrap = gap; }
    // The next block is the first of a pass.
    bool passPending() const { return m_passStart; }
    // The first frames to come blend out this sound (what played before).
    void setIncoming(std::vector<float> tail);
    // The first frames to come fade in from silence, as after a gap (call after seek and
    // setLoop: the fade is the seam's).
    void fadeIn();
    // What follows an end at a hold, for the next entry to blend out: the frames past the
    // stop, or silence where the source ends there (its end was faded).
    std::vector<float> takeTail();

    // Up to `n` frames into `out`; a block never spans a wrap.
    Block read(float* out, qint64 n);
    bool ended() const { return m_ended; }
    bool failed() const { return m_failed; }

private:
    qint64 fadeFor(const Loop& loop) const;
    bool tailAvailable(qint64 stop, qint64 fade) const;
    bool loopApplies() const;
    bool gapAhead() const;
    qint64 heldFrom(bool looping) const;
    void fillTail(qint64 stop, qint64 fade);
    qint64 fetch(qint64 pos, float* out, qint64 n);

    FrameSource& m_source;
    qint64 m_fade;
    qint64 m_pos = 0;
    std::optional<Loop> m_loop;
    bool m_followed = false;
    bool m_gapAtWrap = false;
    bool m_gapAtHold = false;
    bool m_ended = false;
    bool m_failed = false;
    bool m_await = false;
    bool m_waiting = false;
    bool m_passStart = false;
    qint64 m_knownEnd = -1;  // where the source turned out to end
    std::vector<float> m_incoming;  // frames still to blend out
    qint64 m_incomingAt = 0;
    qint64 m_incomingLength = 0;
    double m_blendCorrelation = 0;
    // The frames a blend begins with, read ahead to measure it against what blends out.
    std::vector<float> m_head;
    qint64 m_headAt = 0;
    qint64 m_headFrames = -1;  // -1: not read yet
};

} // namespace audio
