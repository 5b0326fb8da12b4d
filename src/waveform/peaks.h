#pragma once
// Min/max peaks of a sound at several resolutions, so a waveform of any zoom is drawn from
// a few thousand numbers. Level 0 holds one peak per kBaseBucket frames; each level above
// holds one per kLevelFactor peaks of the level below. Channels are folded together.
#include <QByteArray>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace waveform {

constexpr qint64 kBaseBucket = 64;
constexpr int kLevelFactor = 4;
constexpr int kMaxLevels = 16;

// Sample values in 1/32767 steps, rounded outwards so the band always holds the sound.
struct Peak {
    qint16 min = 0;
    qint16 max = 0;
    bool operator==(const Peak&) const = default;
};

constexpr qint64 bucketFrames(int level) { return kBaseBucket << (2 * level); }

// Peaks completed since the last hand-over, level by level.
struct PeakDelta {
    std::vector<std::vector<Peak>> levels;
    qint64 framesDone = 0;
    bool final = false;
};

class Peaks {
public:
    int sampleRate = 0;
    int channels = 0;
    // The sound's length in frames; -1 until known (the end of a decode tells it at last).
    qint64 frames = -1;
    qint64 framesDone = 0;
    bool complete = false;
    std::vector<std::vector<Peak>> levels;

    void clear() { *this = Peaks{}; }
    void append(PeakDelta delta);

    // Lowest and highest value over the frames [from, to), from the coarsest level whose
    // buckets are no wider than the span. False where nothing is known yet.
    bool range(qint64 from, qint64 to, float& lo, float& hi) const;

    QByteArray serialize() const;
    // Refuses anything damaged or inconsistent rather than trusting its sizes.
    static std::optional<Peaks> deserialize(const QByteArray& bytes);
};

// Turns interleaved float frames into peaks, handing them over as they complete.
class PeakBuilder {
public:
    explicit PeakBuilder(int channels);

    void add(const float* interleaved, qint64 frames);
    // Completes the partial buckets at the end of the sound.
    void finish();
    // What completed since the last call.
    PeakDelta take();
    qint64 framesDone() const { return m_frames; }

private:
    struct Acc {
        Peak peak{32767, -32767};
        int count = 0;
        qint64 emitted = 0;
    };
    void push(int level, Peak p);
    void flush(int level);

    int m_channels;
    qint64 m_frames = 0;
    float m_lo = 0, m_hi = 0;
    int m_count = 0;
    Acc m_acc[kMaxLevels + 1];
    PeakDelta m_pending;
    bool m_finished = false;
};

qint16 quantizeDown(float v);
qint16 quantizeUp(float v);
inline float toFloat(qint16 v) { return v / 32767.0f; }

} // namespace waveform
