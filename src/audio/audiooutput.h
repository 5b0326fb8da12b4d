#pragma once
// Where the engine's sound goes: the desktop's sound server (libpulse, which PipeWire's
// pulse server speaks too), or a null output that keeps real time where none answers.
// Each pulls stereo float frames on its own real-time thread.
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <memory>

namespace audio {

// Silence queued ahead on the sound server because nothing was ready is written over once
// sound comes, so the sound is heard at once rather than after the queue. The frames the
// engine handed over then run ahead of the server's count of frames by what was left out;
// this keeps, for the last few rewrites, from which server frame on how many were left
// out in all, so a frame heard maps back to the frame handed over.
class Rewrites {
public:
    // Where sound that follows queued silence goes: at the silence's first frame
    // (`silentFrom`, -1 when the queue ends in sound) if the server will not have read it
    // by then, else `lead` past where it reads (`reading`); never after the queue's end
    // (`next`). Sound that ran short inside a write (`goesOn`) goes on at `silentFrom`
    // while the server is still before it: the lead would put silence inside the sound.
    static qint64 soundAt(qint64 next, qint64 silentFrom, qint64 reading, qint64 lead, bool goesOn)
    {
        if (silentFrom < 0) return next;
        if (goesOn && silentFrom >= reading) return std::min(next, silentFrom);
        return std::min(next, std::max(silentFrom, reading + lead));
    }
    // Where the server reads `age` frames after a report of its read index: it takes sound
    // in blocks, up to its latency ahead of the frame heard, so this counts from the frame
    // heard then (`ahead` behind the index) plus the most it was seen ahead, not from
    // wherever in a block the report caught it.
    static qint64 readingAt(qint64 readIndex, qint64 ahead, qint64 mostAhead, qint64 age)
    {
        return readIndex - ahead + std::max(ahead, mostAhead) + age;
    }
    // From server frame `at` on, `leftOut` frames in all were left out.
    void add(qint64 at, qint64 leftOut);
    qint64 leftOutAt(double frame) const;
    // The server frame that frame `pulled` (as handed over) went to.
    qint64 serverFrameOf(qint64 pulled) const;
    void clear();

private:
    static constexpr int kKept = 4;
    std::array<std::atomic<qint64>, kKept> m_at{};
    std::array<std::atomic<qint64>, kKept> m_leftOut{};
    std::atomic<int> m_count{0};
    std::atomic<qint64> m_before{0};  // left out before the oldest kept
};

class AudioOutput {
public:
    // Fills exactly `frames` frames and returns how many of them, from the first, are
    // sound; the rest is silence because nothing was ready. Called on the output's thread,
    // so it must not lock or wait; kick() may call it on the kicking thread instead. Never
    // two calls at once: each output keeps its kicks apart from its own thread's pulls, and
    // what it pulls from (the engine's ring) relies on having one consumer at a time.
    using Pull = std::function<qint64(float* out, qint64 frames)>;

    virtual ~AudioOutput() = default;
    virtual bool start(int sampleRate, Pull pull) = 0;
    virtual void stop() = 0;
    virtual int sampleRate() const = 0;
    // How often the sound server found the queue empty where sound was due, since this
    // output was made (0 where nothing tells). Any thread.
    virtual qint64 underflows() const { return 0; }
    // Frames pulled so far that have been heard by now (fractional, monotonic).
    virtual double heardFrames() const = 0;
    // Sound is ready after silence: hand it over now rather than when next asked. Called
    // on a worker thread, never on the UI thread; may pull on that thread (see Pull).
    virtual void kick() {}
    // What a replacement puts in place of the queue: sound that goes on from it, or silence
    // (a pause, a stop), which may also go over a queue already ending in silence.
    enum class Putting { Sound, Silence };
    // The first frame handed over that is not heard yet and that replace() could still
    // put other sound in place of, by the time a write made now reaches the server; -1
    // where what was handed over is out of reach (it is heard as it was pulled), or, for
    // silence, where no sound is queued past it. Called on a worker thread.
    virtual qint64 replaceableFrom(Putting what = Putting::Sound)
    {
        (void)what;
        return -1;
    }
    // The frames handed over from `from` on are not to be heard: what is pulled next goes
    // in their place, at once (pulled on the calling thread, as in kick()), or as close
    // after `from` as the server's reading allows; the old sound fades into the new over a
    // few milliseconds, so a cut to silence does not click. `ready` makes that sound ready
    // to pull; it runs once, on the calling thread where no pull comes between it and the
    // replacing write (so it may act as the pulling thread), and is told whether the queue
    // is replaced (else the sound follows it).
    virtual void replace(qint64 from, const std::function<void(bool replacing)>& ready)
    {
        (void)from;
        ready(false);
        kick();
    }
    // Sound that is to replace the frames handed over from `from` on, put in the server's
    // queue ahead of the replace() from `from` that follows with the same frames, so that
    // it is heard before all of it is rendered: `fill(skip, out, frames)` puts up to
    // `frames` of it in `out`, from its frame `skip` on (those the server read past), and
    // returns how many (0: none). It runs as replace()'s `ready` does, where no pull comes
    // between. Nothing counts as pulled; the queue past the preview keeps the old sound,
    // faded back into, unless `goesOn`: what is pulled next goes on from the preview's end,
    // which it filled to. False where nothing was put. Called on a worker thread.
    using Fill = std::function<qint64(qint64 skip, float* out, qint64 frames)>;
    virtual bool preview(qint64 from, const Fill& fill, bool goesOn = false)
    {
        (void)from;
        (void)fill;
        (void)goesOn;
        return false;
    }
    // False once the output broke (the sound server went away, or its stream did).
    virtual bool healthy() const { return true; }
    // Told, on the output's own thread, when it breaks; it must neither lock nor wait.
    virtual void setOnLost(std::function<void()> lost) { (void)lost; }
    // Reaches the server again after it went away (true at once while it still answers).
    // Waits up to `timeoutMs`, so never on the UI or a pull thread; not while started.
    virtual bool reconnect(int timeoutMs)
    {
        (void)timeoutMs;
        return false;
    }
    virtual const char* name() const = 0;
};

// What the sound server last told of the stream: the time of the sample heard at a moment
// of the monotonic clock.
struct TimingReport {
    qint64 streamUs = 0;
    qint64 stampNs = 0;
};

// Frames heard at `nowNs`: the report run on by the clock, for no longer than `runOnNs`
// (an output that stopped reporting has stopped playing), never past the frames written.
double heardFramesAt(const TimingReport& report, qint64 nowNs, qint64 written, int sampleRate, qint64 runOnNs);

// The sound server's output, or nullptr when no server answers within `timeoutMs`.
std::unique_ptr<AudioOutput> openPulseOutput(int timeoutMs);
// The same, connected or not: reconnect() reaches a server later.
std::unique_ptr<AudioOutput> makePulseOutput();
std::unique_ptr<AudioOutput> openNullOutput();

} // namespace audio
