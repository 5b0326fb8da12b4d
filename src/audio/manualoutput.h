#pragma once
// An output that hands sound over only when its caller pulls it: the engine then runs on a
// virtual clock, as fast as it renders, with no sound server and no real time. For tests
// and benchmarks; the program never uses it.
#include "audio/audiooutput.h"

#include <atomic>
#include <mutex>

namespace audio {

class ManualOutput : public AudioOutput {
public:
    bool start(int sampleRate, Pull pull) override;
    void stop() override;
    int sampleRate() const override { return m_rate.load(); }
    // What was pulled since the last start: a frame is heard the moment it is pulled.
    double heardFrames() const override { return double(m_pulled.load()); }
    const char* name() const override { return "manual"; }

    // Pulls `frames` stereo frames into `out` and returns how many of them, from the first,
    // are sound; silence while stopped. Called on one thread only, the caller's.
    qint64 pull(float* out, qint64 frames);

private:
    // The engine starts and stops the output on its worker (a new file's sample rate)
    // while the caller may be pulling: the pull function is swapped under the lock.
    std::mutex m_mutex;
    Pull m_pull;
    std::atomic<int> m_rate{44100};
    std::atomic<qint64> m_pulled{0};
};

} // namespace audio
