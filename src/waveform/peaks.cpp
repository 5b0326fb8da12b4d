#include "waveform/peaks.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace waveform {
namespace {

constexpr quint32 kMagic = 0x56504b31;  // "VPK1"
// Past this a file is damaged, not long: some 16 days of sound at 192 kHz.
constexpr qint64 kMaxFrames = qint64(1) << 38;

Peak merged(Peak a, Peak b) { return {std::min(a.min, b.min), std::max(a.max, b.max)}; }

} // namespace

namespace {
// Outwards, but a value on the 1/32767 grid stays on its step whatever float rounding did.
qint16 quantize(float v, double (*outwards)(double))
{
    if (!(v == v)) return 0;  // NaN
    const double q = std::clamp(double(v) * 32767.0, -32767.0, 32767.0);
    const double nearest = std::round(q);
    return qint16(std::abs(q - nearest) < 1e-3 ? nearest : outwards(q));
}
} // namespace

qint16 quantizeDown(float v) { return quantize(v, [](double q) { return std::floor(q); }); }

qint16 quantizeUp(float v) { return quantize(v, [](double q) { return std::ceil(q); }); }

void Peaks::append(PeakDelta delta)
{
    if (levels.size() < delta.levels.size()) levels.resize(delta.levels.size());
    for (size_t l = 0; l < delta.levels.size(); ++l) {
        if (levels[l].empty()) levels[l] = std::move(delta.levels[l]);
        else levels[l].insert(levels[l].end(), delta.levels[l].begin(), delta.levels[l].end());
    }
    framesDone = std::max(framesDone, delta.framesDone);
    if (delta.final) {
        complete = true;
        frames = framesDone;
    }
}

namespace {
// Whole buckets of `level` inside the span, the ragged ends from the levels below, so the
// band is exact to level 0's buckets. Coarse levels still being made count as ragged.
void gather(const std::vector<std::vector<Peak>>& levels, int level, qint64 from, qint64 to, std::optional<Peak>& out)
{
    if (from >= to) return;
    const std::vector<Peak>& peaks = levels[size_t(level)];
    const qint64 size = bucketFrames(level);
    auto take = [&](qint64 a, qint64 b) {
        for (qint64 i = a; i < b; ++i) out = out ? merged(*out, peaks[size_t(i)]) : peaks[size_t(i)];
    };
    if (level == 0) {
        take(from / size, std::min<qint64>(qint64(peaks.size()), (to + size - 1) / size));
        return;
    }
    const qint64 first = (from + size - 1) / size;
    const qint64 last = std::min<qint64>(to / size, qint64(peaks.size()));
    if (first >= last) {
        gather(levels, level - 1, from, to, out);
        return;
    }
    gather(levels, level - 1, from, first * size, out);
    take(first, last);
    gather(levels, level - 1, last * size, to, out);
}
} // namespace

bool Peaks::range(qint64 from, qint64 to, float& lo, float& hi) const
{
    if (levels.empty() || to <= from) return false;
    int level = 0;
    while (level + 1 < int(levels.size()) && bucketFrames(level + 1) <= to - from) ++level;
    std::optional<Peak> p;
    gather(levels, level, std::max<qint64>(0, from), to, p);
    if (!p) return false;
    lo = toFloat(p->min);
    hi = toFloat(p->max);
    return true;
}

QByteArray Peaks::serialize() const
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s << kMagic << qint32(sampleRate) << qint32(channels) << qint64(frames) << qint32(kBaseBucket)
      << qint32(kLevelFactor) << qint32(levels.size());
    for (const auto& level : levels) {
        s << qint64(level.size());
        for (const Peak& p : level) s << p.min << p.max;
    }
    return out;
}

std::optional<Peaks> Peaks::deserialize(const QByteArray& bytes)
{
    QDataStream s(bytes);
    s.setByteOrder(QDataStream::LittleEndian);
    quint32 magic = 0;
    qint32 rate = 0, channels = 0, base = 0, factor = 0, count = 0;
    qint64 frames = 0;
    s >> magic >> rate >> channels >> frames >> base >> factor >> count;
    if (s.status() != QDataStream::Ok || magic != kMagic || base != kBaseBucket || factor != kLevelFactor)
        return std::nullopt;
    if (rate <= 0 || channels <= 0 || frames < 0 || frames > kMaxFrames || count < 0 || count > kMaxLevels)
        return std::nullopt;
    Peaks p;
    p.sampleRate = rate;
    p.channels = channels;
    p.frames = p.framesDone = frames;
    p.complete = true;
    p.levels.resize(size_t(count));
    for (int l = 0; l < count; ++l) {
        qint64 n = 0;
        s >> n;
        // Each level holds exactly the buckets its length needs.
        if (s.status() != QDataStream::Ok || n != (frames + bucketFrames(l) - 1) / bucketFrames(l)) return std::nullopt;
        if (n * 4 > bytes.size()) return std::nullopt;
        auto& level = p.levels[size_t(l)];
        level.resize(size_t(n));
        if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN && sizeof(Peak) == 4) {
            if (s.readRawData(reinterpret_cast<char*>(level.data()), int(n * 4)) != n * 4) return std::nullopt;
        } else {
            for (Peak& peak : level) s >> peak.min >> peak.max;
        }
        if (s.status() != QDataStream::Ok) return std::nullopt;
    }
    if (!s.atEnd()) return std::nullopt;
    return p;
}

PeakBuilder::PeakBuilder(int channels) : m_channels(std::max(1, channels)) {}

void PeakBuilder::add(const float* interleaved, qint64 frames)
{
    for (qint64 f = 0; f < frames; ++f) {
        const float* frame = interleaved + f * m_channels;
        float lo = frame[0], hi = frame[0];
        for (int c = 1; c < m_channels; ++c) {
            lo = std::min(lo, frame[c]);
            hi = std::max(hi, frame[c]);
        }
        if (m_count == 0) {
            m_lo = lo;
            m_hi = hi;
        } else {
            m_lo = std::min(m_lo, lo);
            m_hi = std::max(m_hi, hi);
        }
        if (++m_count == kBaseBucket) {
            push(0, {quantizeDown(m_lo), quantizeUp(m_hi)});
            m_count = 0;
        }
    }
    m_frames += frames;
}

void PeakBuilder::push(int level, Peak p)
{
    if (m_pending.levels.size() <= size_t(level)) m_pending.levels.resize(size_t(level) + 1);
    m_pending.levels[size_t(level)].push_back(p);
    ++m_acc[level].emitted;
    if (level + 1 >= kMaxLevels) return;
    Acc& up = m_acc[level + 1];
    up.peak = up.count == 0 ? p : merged(up.peak, p);
    if (++up.count == kLevelFactor) {
        const Peak done = up.peak;
        up.count = 0;
        push(level + 1, done);
    }
}

void PeakBuilder::flush(int level)
{
    Acc& a = m_acc[level];
    if (a.count == 0) return;
    const Peak p = a.peak;
    a.count = 0;
    push(level, p);
}

void PeakBuilder::finish()
{
    if (m_finished) return;
    m_finished = true;
    if (m_count > 0) {
        push(0, {quantizeDown(m_lo), quantizeUp(m_hi)});
        m_count = 0;
    }
    // A level exists while the one below it has more than one peak.
    for (int level = 1; level < kMaxLevels && m_acc[level - 1].emitted > 1; ++level) flush(level);
    // Levels begun on the way up but not needed: a single bucket below them.
    int levels = 1;
    while (levels < kMaxLevels && m_acc[levels - 1].emitted > 1) ++levels;
    if (m_pending.levels.size() > size_t(levels)) m_pending.levels.resize(size_t(levels));
    m_pending.final = true;
}

PeakDelta PeakBuilder::take()
{
    PeakDelta out = std::move(m_pending);
    m_pending = PeakDelta{};
    out.framesDone = m_frames;
    return out;
}

} // namespace waveform
