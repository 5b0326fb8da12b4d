#pragma once
// The sample engine's stretcher and the chunks it hands the output.
#include "audio/loopreader.h"

#include <rubberband/RubberBandStretcher.h>

#include <cmath>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace audio {

constexpr qint64 kChunkFrames = 512;

// The output frames `frames` of input last at `rate`, rounded up: a pass of n frames lasts
// this long, and the next begins on the frame after. The quotient of a whole number of
// frames is taken as such (n / 0.7 in doubles lands a hair above 10 n / 7).
inline qint64 stretchedFrames(double frames, double rate)
{
    return qint64(std::ceil(frames / rate - 1e-9));
}

struct Chunk : SourceRun {
    quint64 seq = 0;
    float data[kChunkFrames * kChannels];
    // The metronome's clicks for these frames, mono, mixed in by the output only while it
    // is on, so that switching it is heard at the next buffer.
    bool hasClicks = false;
    float clicks[kChunkFrames];
};

// Pitch-kept stretching, fed without a break; positions map back through what was fed.
class Stretcher {
public:
    // What the next pass asks of the stretcher, told just before its first frame is fed.
    struct Turn {
        // A preroll or a new rate comes first: this pass's sound is finished, and the
        // stretcher starts over. (A ratio changed on the fly smears the pass start over
        // the stretcher's latency, and the positions with it.)
        bool gap = false;
        double rate = 1;
    };
    using TurnFn = std::function<Turn()>;

    void start(int sampleRate, double rate, double pitchScale)
    {
        const Settings wanted{sampleRate, rate, pitchScale};
        // A pass at rate 1 untransposed (a trainer's step reaching the entry's rate) takes
        // the source's own frames: the real-time engine at ratio 1 does not give them back,
        // it drifts up to 3 dB off them on a gliding tone.
        m_through = wanted.passesThrough();
        if (m_through) {
            m_rb.reset();
        } else if (m_spare && m_spareFor == wanted) {
            m_rb = std::move(m_spare);
        } else {
            m_rb = make(wanted);
        }
        m_padLeft = m_through ? 0 : qint64(m_rb->getPreferredStartPad());
        m_drop = m_through ? 0 : qint64(m_rb->getStartDelay());
        m_rate = rate;
        m_outAt = m_outEnd = 0;
        m_fed.clear();
        m_fedFrames = 0;
        m_out = 0;
        m_final = false;
        m_gap = false;
        m_waiting = false;
        m_hopWant = m_hopGot = 0;
        m_historyFrames = 0;
        m_history.resize(std::size_t(kLeadInExtra) * kChannels);  // once: start() runs on the worker
    }
    // A stretcher made ready ahead of need: building one takes a millisecond or two of
    // the next start's first sound.
    void keepSpare(int sampleRate, double rate, double pitchScale)
    {
        const Settings wanted{sampleRate, rate, pitchScale};
        if (!wanted.passesThrough() && (!m_spare || !(m_spareFor == wanted))) {
            m_spare = make(wanted);
            m_spareFor = wanted;
        }
    }
    // The frames before the first one fed, as many as leadInWanted() (fewer: silence before
    // them; more: the last of them), for the stretcher's window to hear where the sound does
    // not rise from silence:
    // without them its first 10 ms come some 3 dB soft. Only between start() and the first fill().
    qint64 leadInWanted() const { return kLeadInExtra; }
    // `wanted`: how far back the window hears them, where a fresh start must be quick (a
    // remix heard at once): the rest of the lead-in is most of the time to its first chunk.
    void leadIn(const float* frames, qint64 n, qint64 wanted = kLeadInExtra);
    // The last frames fed since start() (its lead-in included), some 4096 of them: the
    // sound heard just before a seam, for the next stretcher's lead-in where the next start
    // blends out of it. Empty when nothing was fed.
    std::vector<float> lastFed() const;
    bool active() const { return m_rb != nullptr || m_through; }
    void stopUsing()
    {
        m_rb.reset();
        m_through = false;
        m_historyFrames = 0;
    }
    // The last fill ended at a gap before a pass, not at the end.
    bool atGap() const { return m_gap; }
    // The last fill stopped where the reader waits (LoopReader::waiting()): its hop is kept
    // and goes on from there.
    bool waiting() const { return m_waiting; }

    struct Fed {
        qint64 at;
        Block block;
        quint64 entry;
    };

    // Feeds the reader until a chunk is ready; false at the end (or a gap) with nothing left,
    // or while the reader waits.
    bool fill(LoopReader& reader, quint64 entry, const TurnFn& turn);

    // The next chunk of output; its frames run on from one place in the source.
    void take(Chunk& c);

private:
    struct Settings {
        int sampleRate = 0;
        double rate = 1;
        double pitchScale = 1;
        bool operator==(const Settings&) const = default;
        bool passesThrough() const { return rate == 1.0 && pitchScale == 1.0; }
    };

    static std::unique_ptr<RubberBand::RubberBandStretcher> make(const Settings& s);

    // One hop's input, read on from `reader` (silence after its end or a gap); false while
    // the reader waits, the hop not yet whole.
    bool feedHop(LoopReader& reader, quint64 entry, const TurnFn& turn);
    // Moves what the stretcher has made into m_outBuf, its start delay dropped.
    void pull();
    // Appends `n` output frames to m_outBuf.
    void keep(const float* left, const float* right, qint64 n);
    // No more input: what the stretcher holds comes out, its window hearing what the
    // reader has past the end from `past` on (else silence).
    void flush(LoopReader& reader, qint64 past);
    // Output frames ready to take.
    qint64 left() const;
    // Where the output ends once flushed: the input's frames over the rate.
    qint64 endFrames() const;
    // Keeps the input's last frames for lastFed().
    void remember(const float* left, const float* right, qint64 n);
    void scratch(qint64 n)
    {
        if (qint64(m_left.size()) < n) {
            m_left.resize(std::size_t(n));
            m_right.resize(std::size_t(n));
        }
    }

    static constexpr qint64 kLeadInExtra = 4096;

    std::unique_ptr<RubberBand::RubberBandStretcher> m_rb;  // none while passing through
    bool m_through = false;  // the input is the output, frame for frame
    std::unique_ptr<RubberBand::RubberBandStretcher> m_spare;
    Settings m_spareFor;
    qint64 m_padLeft = 0;  // frames to feed before the first, whose output is dropped
    double m_rate = 1;
    qint64 m_drop = 0;
    std::deque<Fed> m_fed;
    qint64 m_fedFrames = 0;
    qint64 m_out = 0;
    bool m_final = false;
    bool m_gap = false;
    bool m_waiting = false;
    qint64 m_hopWant = 0, m_hopGot = 0;  // the hop being gathered (0: none)
    std::vector<float> m_in, m_left, m_right;
    // A ring of the last kLeadInExtra frames fed, interleaved; m_historyFrames counts all
    // fed since start().
    std::vector<float> m_history;
    qint64 m_historyFrames = 0;
    // Made and not yet taken, interleaved: frames m_outAt to m_outEnd.
    std::vector<float> m_outBuf;
    qint64 m_outAt = 0, m_outEnd = 0;
};

} // namespace audio
