#pragma once
// An output that hands sound over only when its caller pulls it: the engine then runs on a
// virtual clock, as fast as it renders, with no sound server and no real time. For tests
// and benchmarks; the program never uses it.
#include "audio/audiooutput.h"

#include <atomic>
#include <deque>
#include <mutex>

namespace audio {

class ManualOutput : public AudioOutput {
public:
    // `queueFrames`: how far the engine is pulled ahead of what the caller takes, as a sound
    // server's queue holds it; 0: a frame is heard the moment it is pulled.
    explicit ManualOutput(qint64 queueFrames = 0) : m_queueFrames(queueFrames) {}

    bool start(int sampleRate, Pull pull) override;
    void stop() override;
    int sampleRate() const override { return m_rate.load(); }
    // The engine's count of the frame the caller takes next: frames left out by a
    // replacement are skipped.
    double heardFrames() const override { return double(m_heard.load()); }
    const char* name() const override { return "manual"; }
    // With a queue: queued silence goes for sound at once, and a replacement takes the
    // queue from any frame the caller has not taken yet.
    void kick() override;
    qint64 replaceableFrom(Putting what) override;
    void replace(qint64 from, const std::function<void(bool replacing)>& ready) override;

    // Hands `frames` stereo frames to `out` and returns how many of them, from the first,
    // are sound; silence while stopped. Called on one thread only, the caller's.
    qint64 pull(float* out, qint64 frames);

private:
    struct Queued {
        qint64 frame;  // the engine's count of it
        bool sound;
    };
    void fill();  // under the lock

    // The engine starts and stops the output on its worker (a new file's sample rate)
    // while the caller may be pulling: the pull function is swapped under the lock.
    std::mutex m_mutex;
    Pull m_pull;
    const qint64 m_queueFrames;
    std::deque<Queued> m_queue;
    std::deque<float> m_samples;  // the queue's, two a frame
    std::atomic<int> m_rate{44100};
    std::atomic<qint64> m_pulled{0};
    std::atomic<qint64> m_heard{0};
};

} // namespace audio
