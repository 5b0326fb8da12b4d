#pragma once
// Clicks on an output stream of our own beside mpv's: the count-in between two passes and
// the metronome while mpv plays. Each click is placed on the stream's own frames (as
// pulled: heardFrames() and written() count alike), ahead of what the stream has written.
// The UI thread places and cuts; the stream's thread renders and never waits; a worker of
// its own opens the stream and cuts what the server holds queued.
#include "audio/audiooutput.h"
#include "audio/spscqueue.h"

#include <QElapsedTimer>

#include <array>
#include <atomic>
#include <memory>
#include <thread>

namespace engine {

class ClickOutput {
public:
    static constexpr int kRate = 44100;

    ClickOutput();
    ~ClickOutput();

    bool ready() const { return m_ready.load(std::memory_order_acquire); }
    // Frames heard by now and frames handed to the server; 0 until ready().
    double heardFrames() const { return ready() ? m_output->heardFrames() : 0.0; }
    qint64 written() const { return m_written.load(std::memory_order_acquire); }
    // Milliseconds until the server's timing of a new stream can be trusted (measured: the
    // first clicks came 0.4 s after it said); 0 once it can.
    int settlingMs() const;

    // A click beginning at frame `at`; one that comes after its frame was written is
    // dropped rather than heard late. False when the queue is full. UI thread.
    bool place(qint64 at, bool accent);
    // Every click placed so far goes, the queued ones cut at the server within some 10 ms
    // (through a short fade). Clicks placed before cutting() turns false again land off
    // their frames (the cut moves the frames on), so placing waits for it. UI thread.
    void silence();
    bool cutting() const { return m_cutDone.load(std::memory_order_acquire) != m_cutAsked.load(std::memory_order_relaxed); }

private:
    struct Click {
        qint64 at = 0;
        bool accent = false;
        quint32 epoch = 0;
    };

    void work();
    // The stream's thread, or the worker's while it cuts (the output never pulls twice at
    // once): no locks, no allocation.
    void pull(float* out, qint64 frames);

    std::thread m_worker;
    std::unique_ptr<audio::AudioOutput> m_output;  // set by the worker before m_ready
    std::atomic<bool> m_ready{false};
    QElapsedTimer m_opened;
    std::atomic<qint64> m_written{0};
    // Clicks of an older epoch than this were silenced.
    std::atomic<quint32> m_epoch{0};
    audio::SpscQueue<Click> m_queue{256};
    // The pull's own: clicks taken from the queue and not done sounding.
    std::array<Click, 64> m_pending{};
    int m_pendingCount = 0;
    // Cuts asked by the UI thread and done by the worker; the worker waits on m_cutAsked.
    std::atomic<int> m_cutAsked{0};
    std::atomic<int> m_cutDone{0};
    std::atomic<bool> m_quit{false};
};

} // namespace engine
