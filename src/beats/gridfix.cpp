#include "beats/gridfix.h"

#include <QList>

#include <algorithm>
#include <cmath>

namespace beats {
namespace {

constexpr double kMinBpm = 20, kMaxBpm = 400;

// Every beat doubled: one more between each two, the bars where they were.
void doubleTempo(BeatGrid& g)
{
    if (g.beats.size() < 2) return;
    std::vector<double> beats;
    beats.reserve(g.beats.size() * 2);
    for (size_t i = 0; i + 1 < g.beats.size(); ++i) {
        beats.push_back(g.beats[i]);
        beats.push_back((g.beats[i] + g.beats[i + 1]) / 2);
    }
    beats.push_back(g.beats.back());
    g.beats = std::move(beats);
    for (int& b : g.bars) b *= 2;
    g.meter = std::min(g.meter * 2, 16);
}

// Every other beat left out, keeping the ones the first downbeat falls on.
void halveTempo(BeatGrid& g)
{
    if (g.beats.size() < 3) return;
    const int phase = g.bars.empty() ? 0 : g.bars.front() % 2;
    std::vector<double> beats;
    for (size_t i = size_t(phase); i < g.beats.size(); i += 2) beats.push_back(g.beats[i]);
    std::vector<int> bars;
    for (int b : g.bars) {
        const int kept = (b - phase + 1) / 2;  // a bar on a dropped beat goes to the next kept one
        if (kept < int(beats.size()) && (bars.empty() || kept > bars.back())) bars.push_back(kept);
    }
    g.beats = std::move(beats);
    g.bars = std::move(bars);
    g.meter = std::max(1, g.meter / 2);
}

double firstDownbeat(const BeatGrid& g)
{
    if (!g.bars.empty()) return g.beats[size_t(g.bars.front())];
    return g.beats.empty() ? 0.0 : g.beats.front();
}

// Bars of `meter` beats through the beat nearest `at`, back to the first beat.
void evenBars(BeatGrid& g, double at, int meter)
{
    g.meter = meter;
    g.bars.clear();
    if (g.beats.empty()) return;
    const int k = g.nearestBeat(at);
    for (int i = k % meter; i < int(g.beats.size()); i += meter) g.bars.push_back(i);
}

} // namespace

bool GridFix::scaleTempo(int direction)
{
    if (tappedBpm > 0) {
        const double bpm = direction > 0 ? tappedBpm * 2 : tappedBpm / 2;
        if (bpm < kMinBpm || bpm > kMaxBpm) return false;
        tappedBpm = bpm;
        return true;
    }
    const int o = octaves + (direction > 0 ? 1 : -1);
    if (std::abs(o) > kMaxOctaves) return false;
    octaves = o;
    return true;
}

QByteArray GridFix::toText() const
{
    QByteArray t;
    if (downbeat) t += "downbeat " + QByteArray::number(*downbeat, 'g', 12) + '\n';
    if (octaves != 0) t += "octaves " + QByteArray::number(octaves) + '\n';
    if (tappedBpm > 0) t += "bpm " + QByteArray::number(tappedBpm, 'g', 12) + '\n';
    if (meter != 0) t += "meter " + QByteArray::number(meter) + '\n';
    return t;
}

GridFix GridFix::fromText(const QByteArray& text)
{
    GridFix f;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> kv = line.simplified().split(' ');
        if (kv.size() != 2) continue;
        bool ok = false;
        const double v = kv[1].toDouble(&ok);
        if (!ok || !std::isfinite(v)) continue;
        if (kv[0] == "downbeat" && v >= 0) f.downbeat = v;
        else if (kv[0] == "octaves" && v == std::round(v) && std::abs(v) <= kMaxOctaves) f.octaves = int(v);
        else if (kv[0] == "bpm" && v >= kMinBpm && v <= kMaxBpm) f.tappedBpm = v;
        else if (kv[0] == "meter" && v == std::round(v) && v >= kMinMeter && v <= kMaxMeter) f.meter = int(v);
    }
    return f;
}

BeatGrid applyFix(const BeatGrid& analysed, const GridFix& fix, double length)
{
    BeatGrid g = analysed;
    if (fix.tappedBpm > 0) {
        const double interval = 60.0 / fix.tappedBpm;
        const double anchor = fix.downbeat.value_or(firstDownbeat(analysed));
        const double last = analysed.beats.empty() ? anchor : analysed.beats.back();
        const double end = length > 0 ? length : std::max(anchor, last) + interval;
        g.beats.clear();
        for (double t = anchor - std::floor(anchor / interval) * interval; t <= end + 1e-9; t += interval)
            g.beats.push_back(t);
        evenBars(g, anchor, fix.meter ? fix.meter : std::clamp(analysed.meter, 1, GridFix::kMaxMeter));
        return g;
    }
    for (int i = 0; i < fix.octaves; ++i) doubleTempo(g);
    for (int i = 0; i > fix.octaves; --i) halveTempo(g);
    if (fix.downbeat || fix.meter) evenBars(g, fix.downbeat.value_or(firstDownbeat(g)), fix.meter ? fix.meter : g.meter);
    return g;
}

double TapTempo::tap(double seconds)
{
    const double gap = seconds - m_last;
    if (m_taps == 0 || gap <= 0 || gap > kRestartSeconds) {
        reset();
    } else {
        m_intervals.push_back(gap);
        if (int(m_intervals.size()) > kKeptIntervals) m_intervals.erase(m_intervals.begin());
    }
    m_last = seconds;
    ++m_taps;
    return bpm();
}

double TapTempo::bpm() const
{
    if (m_intervals.empty()) return 0;
    // The median: one late or doubled tap does not pull the tempo.
    std::vector<double> sorted = m_intervals;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    const double mid = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    return 60.0 / mid;
}

void TapTempo::reset()
{
    m_intervals.clear();
    m_taps = 0;
}

} // namespace beats
