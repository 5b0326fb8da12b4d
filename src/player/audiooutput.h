#pragma once
// Where the engine's sound goes: the desktop's sound server (libpulse, which PipeWire's
// pulse server speaks too), or a null output that keeps real time where none answers.
// Each pulls stereo float frames on its own real-time thread.
#include <QtGlobal>

#include <functional>
#include <memory>

namespace player::audio {

class AudioOutput {
public:
    // Fills exactly `frames` frames (silence where nothing is ready); called on the
    // output's thread, so it must not lock or wait.
    using Pull = std::function<void(float* out, qint64 frames)>;

    virtual ~AudioOutput() = default;
    virtual bool start(int sampleRate, Pull pull) = 0;
    virtual void stop() = 0;
    virtual int sampleRate() const = 0;
    // Frames pulled so far that have been heard by now (fractional, monotonic).
    virtual double heardFrames() const = 0;
    // False once the output broke (the sound server went away).
    virtual bool healthy() const { return true; }
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
std::unique_ptr<AudioOutput> openNullOutput();

} // namespace player::audio
