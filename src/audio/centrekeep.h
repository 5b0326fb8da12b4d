#pragma once
// What both channels share, found per frequency: a short-time Fourier transform of each
// channel (Hann window, a quarter of it a hop, overlap-add), each bin weighted by how alike
// the two channels are in it, in level and phase. A sound panned to one side has nothing of
// itself in the other channel and goes whole; one in the middle stays as it is; a matrix on
// the whole band cannot tell the two apart.
//
// The sound comes out latency() frames late. Every frame going in is kept (a few seconds'
// worth), so the transform can start at any time from what came before, and go back over
// frames an output replaced. Real-time safe after setRate(): no allocation, no locks.
#include <cstdint>
#include <memory>
#include <vector>

namespace audio {

class CentreKeep {
public:
    CentreKeep();
    ~CentreKeep();
    CentreKeep(CentreKeep&&) noexcept;
    CentreKeep& operator=(CentreKeep&&) noexcept;

    // Allocates: never while frames go through.
    void setRate(int rate);
    int latency() const { return m_size - 1; }
    bool running() const { return m_running; }

    // Frames only remembered, for a start later (nothing comes out).
    void remember(const float* frames, std::int64_t n);
    // Starts (again) from what was remembered: what comes out next is as if it had run all along.
    void start();
    void stop() { m_running = false; }
    // One frame in; out, the shared part of the frame latency() before.
    void frame(double& l, double& r);
    // The last `n` frames in did not happen (the output they went to dropped them).
    void forget(std::int64_t n);
    // The frames in as they went in, `back` frames (fractional, below the history's length
    // less latency()) before the last one: read between frames by a cubic, exact on one.
    void past(double back, double& l, double& r) const;

private:
    struct Fft;
    std::int64_t ring(std::int64_t at) const { return at & (m_history - 1); }
    void analyse(std::int64_t end, std::int64_t keepFrom);

    int m_size = 0;   // the transform's length, a power of two
    int m_hop = 0;
    std::int64_t m_history = 0;  // frames remembered, a power of two
    std::int64_t m_at = 0;       // frames in so far
    bool m_running = false;
    std::vector<float> m_in;     // interleaved, m_history frames
    std::vector<float> m_sum;    // interleaved overlap-add, m_size frames
    std::vector<float> m_window;
    std::vector<double> m_cross, m_power;  // per bin, smoothed over hops
    std::unique_ptr<Fft> m_fft;
};

} // namespace audio
