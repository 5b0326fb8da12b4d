#include "beats/beatgrid.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace beats {
namespace {

constexpr quint32 kMagic = 0x56424731;  // "VBG1"
// More beats than two hours at 400 a minute: a damaged count, not a piece.
constexpr quint32 kMaxBeats = 60000;

// floor(v) as an int, held within a range far beyond any grid's so that times far outside
// it (a year of seconds) cannot overflow.
int floorIndex(double v)
{
    constexpr double kLimit = 1 << 30;
    if (std::isnan(v)) return 0;
    return int(std::floor(std::clamp(v, -kLimit, kLimit)));
}

} // namespace

bool BeatGrid::valid() const
{
    if (meter < 1) return false;
    for (size_t i = 0; i < beats.size(); ++i)
        if (!std::isfinite(beats[i]) || (i > 0 && beats[i] <= beats[i - 1])) return false;
    for (size_t i = 0; i < bars.size(); ++i)
        if (bars[i] < 0 || bars[i] >= int(beats.size()) || (i > 0 && bars[i] <= bars[i - 1])) return false;
    return true;
}

int BeatGrid::nearestBeat(double seconds) const
{
    if (beats.empty()) return -1;
    const auto it = std::lower_bound(beats.begin(), beats.end(), seconds);
    if (it == beats.begin()) return 0;
    if (it == beats.end()) return int(beats.size()) - 1;
    const int after = int(it - beats.begin());
    return seconds - beats[after - 1] <= beats[after] - seconds ? after - 1 : after;
}

double BeatGrid::snap(double seconds) const
{
    const int i = nearestBeat(seconds);
    return i < 0 ? seconds : beats[size_t(i)];
}

double BeatGrid::beatPosition(double seconds) const
{
    const int n = int(beats.size());
    const int after = int(std::upper_bound(beats.begin(), beats.end(), seconds) - beats.begin());
    const int i = std::clamp(after - 1, 0, n - 2);
    return i + (seconds - beats[size_t(i)]) / (beats[size_t(i) + 1] - beats[size_t(i)]);
}

double BeatGrid::timeOfBeat(double position) const
{
    const int n = int(beats.size());
    const int i = std::clamp(floorIndex(position), 0, n - 2);
    return beats[size_t(i)] + (position - i) * (beats[size_t(i) + 1] - beats[size_t(i)]);
}

std::optional<double> BeatGrid::barBeat(int n) const
{
    if (bars.empty()) return std::nullopt;
    const int last = int(bars.size()) - 1;
    if (n < 0) return double(bars.front()) + double(n) * meter;
    if (n <= last) return double(bars[size_t(n)]);
    return double(bars.back()) + double(n - last) * meter;
}

std::optional<int> BeatGrid::barAt(double seconds) const
{
    if (bars.empty() || beats.size() < 2) return std::nullopt;
    const double p = beatPosition(seconds);
    if (p < bars.front()) return floorIndex((p - bars.front()) / meter);
    const int k = int(std::upper_bound(bars.begin(), bars.end(), p) - bars.begin()) - 1;
    if (k < int(bars.size()) - 1) return k;
    return floorIndex(k + (p - bars.back()) / meter);
}

std::optional<double> BeatGrid::barStart(int n) const
{
    if (beats.size() < 2) return std::nullopt;
    const std::optional<double> b = barBeat(n);
    if (!b) return std::nullopt;
    return timeOfBeat(*b);
}

std::optional<double> BeatGrid::barsFrom(double seconds, int n) const
{
    const std::optional<int> bar = barAt(seconds);
    if (!bar) return std::nullopt;
    const double into = beatPosition(seconds) - *barBeat(*bar);
    const double target = *barBeat(*bar + n);
    // A shorter bar there holds the place no further than its end.
    const double length = *barBeat(*bar + n + 1) - target;
    return timeOfBeat(target + std::min(into, length));
}

double BeatGrid::tempoAt(double seconds) const
{
    if (beats.size() < 2) return 0;
    const double p = beatPosition(seconds);
    const int i = std::clamp(floorIndex(p), 0, int(beats.size()) - 2);
    return 60.0 / (beats[size_t(i) + 1] - beats[size_t(i)]);
}

QByteArray BeatGrid::serialize() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kMagic << qint32(meter) << quint32(beats.size());
    for (double b : beats) out << b;
    out << quint32(bars.size());
    for (int b : bars) out << qint32(b);
    return bytes;
}

std::optional<BeatGrid> BeatGrid::deserialize(const QByteArray& bytes)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0, count = 0;
    qint32 meter = 0;
    in >> magic >> meter >> count;
    if (in.status() != QDataStream::Ok || magic != kMagic || count > kMaxBeats) return std::nullopt;
    BeatGrid g;
    g.meter = meter;
    g.beats.resize(count);
    for (double& b : g.beats) in >> b;
    in >> count;
    if (in.status() != QDataStream::Ok || count > g.beats.size()) return std::nullopt;
    g.bars.resize(count);
    for (int& b : g.bars) {
        qint32 v = 0;
        in >> v;
        b = v;
    }
    if (in.status() != QDataStream::Ok || !in.atEnd() || !g.valid()) return std::nullopt;
    return g;
}

} // namespace beats
