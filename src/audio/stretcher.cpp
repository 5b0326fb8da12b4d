#include "audio/stretcher.h"

#include <algorithm>
#include <cmath>

namespace audio {

bool Stretcher::fill(LoopReader& reader, quint64 entry, const TurnFn& turn)
{
    for (;;) {
        pull();
        const qint64 ready = left();
        if (ready >= kChunkFrames || (m_final && ready > 0)) return true;
        if (m_final) return false;
        if (!feedHop(reader, entry, turn)) return false;
    }
}

bool Stretcher::feedHop(LoopReader& reader, quint64 entry, const TurnFn& turn)
{
    // Exactly the input of one hop a call, no more, no less: the finer engine works out
    // each hop's output length once a call, as if every call made one hop. Other sizes
    // make it round its hops otherwise, wherever a hop's output is not a whole number of
    // frames (rates 1.25 and 2): the phases drift from its offline render, music's 10 ms
    // windows up to 17 dB apart. (Asked with nothing made and not taken, it names that size.)
    if (m_padLeft > 0) leadIn(nullptr, 0);
    if (m_hopWant == 0) {
        m_hopWant = m_through ? kChunkFrames : std::max<qint64>(1, qint64(m_rb->getSamplesRequired()));
        m_hopGot = 0;
        m_in.resize(std::size_t(m_hopWant) * kChannels);
    }
    const qint64 want = m_hopWant;
    qint64 got = m_hopGot;
    bool last = false;
    m_waiting = false;
    while (got < want && !last) {
        if (reader.passPending() && turn().gap) {
            m_gap = true;
            last = true;
            break;
        }
        const Block b = reader.read(m_in.data() + got * kChannels, want - got);
        if (b.frames == 0 && reader.waiting()) {
            m_hopGot = got;
            m_waiting = true;
            return false;
        }
        if (b.frames > 0 || b.passStart) m_fed.push_back({m_fedFrames, b, entry});
        m_fedFrames += b.frames;
        got += b.frames;
        last = b.end || reader.ended() || reader.failed() || b.frames == 0;
    }
    // The last hop's rest, as the flush's hops: the frames past the end, else silence.
    const qint64 past = last && !m_gap ? reader.readPast(0, m_in.data() + got * kChannels, want - got) : 0;
    scratch(want);
    for (qint64 i = 0; i < want; ++i) {
        m_left[i] = i < got + past ? m_in[i * 2] : 0.0f;
        m_right[i] = i < got + past ? m_in[i * 2 + 1] : 0.0f;
    }
    remember(m_left.data(), m_right.data(), got);
    const float* ins[] = {m_left.data(), m_right.data()};
    if (m_through) keep(m_left.data(), m_right.data(), got);
    else m_rb->process(ins, std::size_t(want), false);
    m_hopWant = 0;
    if (last) flush(reader, past);
    return true;
}

void Stretcher::leadIn(const float* frames, qint64 n, qint64 wanted)
{
    // Padding in front and dropping the start delay line the output up with the input.
    // Sound that goes on from frames before it is heard further back than the padding:
    // the finer engine's longest window reaches past it, and silence there leaves the
    // first 10 ms up to 1.8 dB soft. So the frames before come after the padding, as the
    // engine run offline hears them (its own padding, then what it is given), and are fed
    // a hop a call like any input: a lead-in of other frames, or in one call, sets the
    // phases off from that render for the whole run, and where a later seam blends two
    // sounds that beat, its 10 ms windows came up to 3 dB apart. The output of the
    // lead-in is dropped as well.
    if (m_padLeft <= 0) return;
    const qint64 extra = n > 0 ? std::clamp<qint64>(wanted, 1, kLeadInExtra) : 0;
    const qint64 pad = m_padLeft + extra;
    frames += std::max<qint64>(0, n - extra) * kChannels;
    n = std::min(n, extra);
    m_drop += qint64(std::llround(double(extra) / m_rate));
    m_padLeft = 0;
    // m_in is free here: no hop is being gathered before the first fill.
    m_in.assign(std::size_t(pad) * kChannels, 0.0f);
    if (n > 0) std::copy_n(frames, n * kChannels, m_in.end() - n * kChannels);
    for (qint64 at = 0; at < pad;) {
        const qint64 k = std::min(pad - at, std::max<qint64>(1, qint64(m_rb->getSamplesRequired())));
        scratch(k);
        for (qint64 i = 0; i < k; ++i) {
            m_left[i] = m_in[std::size_t(at + i) * 2];
            m_right[i] = m_in[std::size_t(at + i) * 2 + 1];
        }
        if (at + k > pad - n) {
            const qint64 from = std::max<qint64>(0, pad - n - at);
            remember(m_left.data() + from, m_right.data() + from, k - from);
        }
        const float* ins[] = {m_left.data(), m_right.data()};
        m_rb->process(ins, std::size_t(k), false);
        at += k;
        pull();  // its output is dropped
    }
}

void Stretcher::remember(const float* left, const float* right, qint64 n)
{
    for (qint64 i = std::max<qint64>(0, n - kLeadInExtra); i < n; ++i, ++m_historyFrames) {
        const std::size_t at = std::size_t(m_historyFrames % kLeadInExtra) * 2;
        m_history[at] = left[i];
        m_history[at + 1] = right[i];
    }
}

std::vector<float> Stretcher::lastFed() const
{
    const qint64 n = std::min(m_historyFrames, kLeadInExtra);
    std::vector<float> out(std::size_t(n) * 2);
    for (qint64 i = 0; i < n; ++i) {
        const std::size_t at = std::size_t((m_historyFrames - n + i) % kLeadInExtra) * 2;
        out[std::size_t(i) * 2] = m_history[at];
        out[std::size_t(i) * 2 + 1] = m_history[at + 1];
    }
    return out;
}

void Stretcher::pull()
{
    if (m_through) return;  // kept as it was fed
    for (int avail; (avail = m_rb->available()) > 0;) {
        const qint64 n = std::min<qint64>(avail, 4096);
        scratch(n);
        float* outs[] = {m_left.data(), m_right.data()};
        m_rb->retrieve(outs, std::size_t(n));
        const qint64 skip = std::min(m_drop, n);
        m_drop -= skip;
        keep(m_left.data() + skip, m_right.data() + skip, n - skip);
    }
}

void Stretcher::keep(const float* left, const float* right, qint64 n)
{
    if (m_outAt > 0 && m_outEnd + n > qint64(m_outBuf.size() / 2)) {
        std::copy(m_outBuf.begin() + m_outAt * 2, m_outBuf.begin() + m_outEnd * 2, m_outBuf.begin());
        m_outEnd -= m_outAt;
        m_outAt = 0;
    }
    // Grows only while the first hops come (a few thousand frames), not in steady play.
    if (m_outEnd + n > qint64(m_outBuf.size() / 2)) m_outBuf.resize(std::size_t(m_outEnd + n + 4096) * 2);
    for (qint64 i = 0; i < n; ++i, ++m_outEnd) {
        m_outBuf[std::size_t(m_outEnd) * 2] = left[i];
        m_outBuf[std::size_t(m_outEnd) * 2 + 1] = right[i];
    }
}

void Stretcher::flush(LoopReader& reader, qint64 past)
{
    // The finer engine's own flush (a last call with `final`) leaves up to some 120 ms of
    // the input unsaid (a call of no frames at 0.6: 5,268 output frames short). More input
    // after the end, a hop at a time, brings all of it out; the output is cut where the
    // input ends. Where the next entry blends out of the frames past the stop, that input
    // is those frames, as the window would hear them if the sound went on (silence there
    // dips the last 10 ms by 2 dB); else silence. (Passing through, all of it is out.)
    for (int i = 0; !m_through && i < 256 && m_out + m_outEnd - m_outAt < endFrames(); ++i) {
        const qint64 want = std::max<qint64>(1, qint64(m_rb->getSamplesRequired()));
        m_in.resize(std::size_t(want) * kChannels);
        const qint64 got = m_gap ? 0 : reader.readPast(past, m_in.data(), want);
        past += got;
        scratch(want);
        for (qint64 k = 0; k < want; ++k) {
            m_left[k] = k < got ? m_in[k * 2] : 0.0f;
            m_right[k] = k < got ? m_in[k * 2 + 1] : 0.0f;
        }
        const float* ins[] = {m_left.data(), m_right.data()};
        m_rb->process(ins, std::size_t(want), false);
        pull();
    }
    m_final = true;
}

qint64 Stretcher::left() const
{
    const qint64 made = m_outEnd - m_outAt;
    if (!m_final) return made;
    // Flushed, the finer engine rings on for some 100 ms past the input's last frame (the
    // faster one stopped some 40 ms short at 0.5): the sound ends where the input does,
    // so a pass lasts its frames over the rate, to the frame.
    return std::clamp<qint64>(endFrames() - m_out, 0, made);
}

qint64 Stretcher::endFrames() const
{
    return stretchedFrames(double(m_fedFrames), m_rate);
}

void Stretcher::take(Chunk& c)
{
    qint64 n = std::min<qint64>(kChunkFrames, left());
    const double s0 = double(m_out) * m_rate;
    // A chunk ends where a pass begins, so the wrap is told at its own frame.
    for (const Fed& f : m_fed) {
        if (f.block.passStart && double(f.at) > s0 + 1e-9) {
            const qint64 until = stretchedFrames(double(f.at), m_rate) - m_out;
            if (until > 0) n = std::min(n, until);
            break;
        }
    }
    const Fed* at = nullptr;
    for (const Fed& f : m_fed)
        if (double(f.at) <= s0 + 1e-9) at = &f;
    std::copy_n(m_outBuf.begin() + m_outAt * 2, n * 2, c.data);
    m_outAt += n;
    c.frames = n;
    c.step = m_rate;
    c.sourcePos = at ? double(at->block.sourcePos) + (s0 - double(at->at)) : 0;
    c.entry = at ? at->entry : 0;
    c.passStart = at && at->block.passStart && s0 - double(at->at) < m_rate;
    m_out += n;
    // The end is told by a chunk of its own, at the exact place the source ended: the
    // stretcher's last frames map to a little before it.
    c.end = false;
    // What lies behind the output is no longer needed, but the block it is in.
    while (m_fed.size() > 1 && double(m_fed[1].at) <= double(m_out) * m_rate) m_fed.pop_front();
}

std::unique_ptr<RubberBand::RubberBandStretcher> Stretcher::make(const Settings& s)
{
    using RB = RubberBand::RubberBandStretcher;
    // The finer engine, always: the faster one loses level wherever the sound changes (a
    // chirp, a swelling note, any music), by 1-2 dB on most 10 ms windows of music and
    // down to -12 dB on a rising tone, whatever its transient and phase options; it also
    // misses a transposed tone's pitch by more than a tenth of a semitone. Run in real
    // time with the padding below, the finer engine gives its offline render to the
    // sample, for some 10 % of a core at 0.75 where the faster took 6 %.
    // High consistency keeps a transpose's resampler in use; without a transpose it only
    // colours the sound (+0.06 dB) and costs time, and no ratio changes on the fly.
    const auto pitch = s.pitchScale != 1.0 ? RB::OptionPitchHighConsistency : RB::OptionPitchHighSpeed;
    auto rb = std::make_unique<RB>(std::size_t(s.sampleRate), kChannels,
                                   RB::OptionProcessRealTime | RB::OptionEngineFiner | pitch, 1.0 / s.rate,
                                   s.pitchScale);
    return rb;
}

} // namespace audio
