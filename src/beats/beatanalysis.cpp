#include "beats/beatanalysis.h"

#include "beats/barcues.h"

#include "audio/audiodecoder.h"
#include "midi/midifile.h"

#include <dsp/onsets/DetectionFunction.h>
#include <dsp/tempotracking/DownBeat.h>
#include <dsp/tempotracking/TempoTrackV2.h>

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <map>
#include <thread>

namespace beats {
namespace {

// One detection value every 11.6 ms over windows twice as long, the step the tempo
// tracker's filters are built for (512 frames at 44.1 kHz).
constexpr size_t kStep = 256;
constexpr size_t kFrameLength = 2 * kStep;
// The downbeat finder listens at about 2.8 kHz.
constexpr size_t kDecimation = 8;
// The first detection values compare against silence before the sound: left out.
constexpr size_t kSkippedValues = 2;
// A beat found at detection value i sounds this many steps later (measured on rendered
// pieces: bench/beats).
constexpr double kLatencySteps = 1.0;
// Less than some 6 s of detection values give the tempo tracker no window to work on.
constexpr size_t kMinValues = 520;
constexpr qint64 kReadFrames = 8192;
// Beats are looked for in the first hour: the downsampled sound the downbeats need is kept
// whole (40 MB an hour), and a longer file is a film or a mix rather than a piece.
constexpr qint64 kMaxFrames = qint64(kAnalysisRate) * 60 * 60;
// The onset envelopes' blocks: 1.45 ms.
constexpr size_t kOnsetBlock = 32;
// A detection value under this share of the mean is no onset.
constexpr double kOnsetLevel = 0.5;

QString tr(const char* text) { return QCoreApplication::translate("player::beats", text); }

// The detection function's peak at a beat found at `step` (a fraction of a step off either way).
double peakAt(const std::vector<double>& df, double step)
{
    const auto at = [&](double s) { return df[size_t(std::clamp(std::lround(s), 0L, long(df.size()) - 1))]; };
    return std::max({at(step - 1), at(step), at(step + 1)});
}

// What each beat's being a downbeat is worth (see barAccents()); `sound`: the downbeat
// finder's sound, `found`: the beats in detection steps, `change`: the spectral change into each.
std::vector<double> accentsAt(const float* sound, size_t length, const std::vector<double>& found,
                              const std::vector<double>& df, const std::vector<double>& change)
{
    // A bar of four beats either side: harmony changes from bar to bar more than within one.
    constexpr size_t kHarmonySpan = 4;
    const double rate = double(kAnalysisRate) / kDecimation;
    std::vector<double> at, onset;
    for (double b : found) {
        at.push_back(b * double(kStep) / kDecimation);
        onset.push_back(peakAt(df, b));
    }
    const std::vector<double> harmony = harmonicChange(chromaBetween(sound, length, rate, at), at.size(), kHarmonySpan);
    return barAccents(change, lowRise(sound, length, rate, at), harmony, onset);
}

DFConfig detectionConfig()
{
    DFConfig c;
    c.stepSize = kStep;
    c.frameLength = kFrameLength;
    c.DFType = DF_COMPLEXSD;
    c.dbRise = 3;
    c.adaptiveWhitening = false;
    c.whiteningRelaxCoeff = -1;
    c.whiteningFloor = -1;
    return c;
}

} // namespace

Analyser::Analyser()
    : m_df(std::make_unique<DetectionFunction>(detectionConfig())),
      m_downBeat(std::make_unique<DownBeat>(float(kAnalysisRate), kDecimation, kStep)),
      m_frame(kFrameLength), m_block(kStep), m_onsets(kAnalysisRate, kOnsetBlock)
{
}

Analyser::~Analyser() = default;

void Analyser::rest() const
{
    if (m_rest.count() > 0) std::this_thread::sleep_for(m_rest);
}

void Analyser::add(const float* mono, qint64 frames)
{
    m_onsets.add(mono, size_t(frames));
    for (qint64 i = 0; i < frames;) {
        // Both buffers fill in steps: the window holds one step more than the block.
        const size_t n = std::min<size_t>(size_t(frames - i), kStep - m_blockFill);
        std::copy(mono + i, mono + i + qint64(n), m_frame.begin() + qint64(m_frameFill));
        std::copy(mono + i, mono + i + qint64(n), m_block.begin() + qint64(m_blockFill));
        m_frameFill += n;
        m_blockFill += n;
        i += qint64(n);
        if (m_blockFill == kStep) {
            m_downBeat->pushAudioBlock(m_block.data());
            m_blockFill = 0;
        }
        if (m_frameFill == kFrameLength) {
            m_detection.push_back(m_df->processTimeDomain(m_frame.data()));
            std::copy(m_frame.begin() + kStep, m_frame.end(), m_frame.begin());
            m_frameFill = kStep;
        }
    }
}

Analyser::Bars Analyser::followBars(const std::vector<double>& beatChange, size_t n, int meter)
{
    // A path through each beat's place in its bar: the next place at each beat, or (rarely:
    // a beat the tracker added or lost around a tempo change) any other place at a cost.
    // A downbeat earns its beat's spectral change, over the mean change.
    double mean = 0;
    for (double c : beatChange) mean += c / double(beatChange.size());
    if (n < 2 || !(mean > 0)) return {{}, 0};
    constexpr double kSwitchCost = 4.0;
    const size_t m = size_t(meter);
    std::vector<double> score(m, 0.0), next(m);
    std::vector<std::vector<int>> from(n, std::vector<int>(m, 0));
    for (size_t i = 1; i < n; ++i) {
        const size_t best = size_t(std::max_element(score.begin(), score.end()) - score.begin());
        for (size_t place = 0; place < m; ++place) {
            const size_t before = (place + m - 1) % m;
            const bool jump = score[best] - kSwitchCost > score[before];
            next[place] = jump ? score[best] - kSwitchCost : score[before];
            from[i][place] = int(jump ? best : before);
            if (place == 0 && i <= beatChange.size()) next[place] += beatChange[i - 1] / mean - 1;
        }
        score.swap(next);
    }
    Bars bars;
    std::vector<int>& downbeats = bars.downbeats;
    size_t place = size_t(std::max_element(score.begin(), score.end()) - score.begin());
    bars.score = score[place];
    for (size_t i = n; i-- > 0;) {
        if (place == 0) downbeats.push_back(int(i));
        place = size_t(from[i][place]);
    }
    std::reverse(downbeats.begin(), downbeats.end());
    return bars;
}

BeatGrid Analyser::finish()
{
    BeatGrid grid = findGrid();
    // The tracker's beats lie on its steps: each goes to its note's onset within a step.
    grid.beats = beatsOnOnsets(grid.beats, m_onsets, double(kStep) / kAnalysisRate);
    return grid;
}

BeatGrid Analyser::findGrid()
{
    size_t used = m_detection.size();
    while (used > 0 && m_detection[used - 1] <= 0) --used;
    if (used < kSkippedValues + kMinValues) return {};
    std::vector<double> df(m_detection.begin() + qint64(kSkippedValues), m_detection.begin() + qint64(used));
    std::vector<double> periods(df.size(), 0.0), tempi, found;
    TempoTrackV2 tracker(float(kAnalysisRate), kStep);
    tracker.calculateBeatPeriod(df, periods, tempi, 120.0, false);
    rest();
    tracker.calculateBeats(df, periods, found, 0.9, 4.0);
    rest();

    // The tracker goes on beating through the last chord's decay: beats more than half a
    // beat after the last clear onset are left out.
    double level = 0;
    for (double v : df) level += v / double(df.size());
    size_t lastOnset = df.size();
    while (lastOnset > 0 && df[lastOnset - 1] < kOnsetLevel * level) --lastOnset;
    while (found.size() > 2) {
        const double period = found[found.size() - 1] - found[found.size() - 2];
        if (found.back() <= double(lastOnset) + period / 2) break;
        found.pop_back();
    }

    if (found.size() >= 16) found = beatsOnTheNotes(df, std::move(found));
    if (found.size() >= 16) found = beatsBetweenToo(df, std::move(found), kStep / double(kAnalysisRate));
    const auto timesOf = [](const std::vector<double>& steps) {
        std::vector<double> times;
        for (double b : steps) {
            const double t = (b + kLatencySteps) * double(kStep) / kAnalysisRate;
            if (times.empty() || t > times.back()) times.push_back(t);
        }
        return times;
    };
    BeatGrid grid;
    grid.beats = timesOf(found);
    if (grid.beats.size() < 8) return grid;

    // The spectral change at each beat (positions in steps, as found); the downbeat
    // finder's own choice holds one phase for the whole piece, so the bars are followed here.
    size_t length = 0;
    const float* low = m_downBeat->getBufferedAudio(length);
    std::vector<double> change = changeAt(low, length, found);
    rest();
    // Beats merged above shift no index when none were (the usual case); otherwise the
    // bars are left out rather than misplaced.
    if (grid.beats.size() != found.size()) return grid;
    // In the right meter the downbeats gather the great changes; in a wrong one they take
    // ordinary beats too, or pay for shifting the bar again and again. Two beats a bar (6/8
    // counted in dotted quarters) always fit where four do, with half the bars: they must
    // gather well over what four do, where a true 6/8 gathers twice as much.
    const auto meterOf = [&](const std::vector<double>& c) {
        constexpr double kTwoOverFour = 1.5;
        const double four = followBars(c, grid.beats.size(), 4).score,
                     three = followBars(c, grid.beats.size(), 3).score,
                     two = followBars(c, grid.beats.size(), 2).score;
        if (two > std::max(four, three) && two > kTwoOverFour * four) return 2;
        return three > four ? 3 : 4;
    };
    grid.meter = meterOf(change);
    // A tracker that beat the offbeats (a syncopated part sounding more there) finds bars
    // far clearer between its beats than on them: the beat is there.
    std::vector<double> between;
    for (size_t i = 0; i + 1 < found.size(); ++i) between.push_back((found[i] + found[i + 1]) / 2);
    std::vector<double> changeBetween = changeAt(low, length, between);
    rest();
    if (offTheBeat(change, changeBetween, grid.meter) && timesOf(between).size() == between.size()) {
        found = std::move(between);
        change = std::move(changeBetween);
        grid.beats = timesOf(found);
        grid.meter = meterOf(change);
    }
    // The meter is the spectral change's choice (the other cues favour no meter on the
    // rendered pieces); the bars' phase hears them all.
    rest();
    grid.bars = followBars(accentsAt(low, length, found, df, change), grid.beats.size(), grid.meter).downbeats;
    if (grid.meter == 3) return compoundBeats(std::move(grid), df, found);
    return grid;
}

BeatGrid Analyser::compoundBeats(BeatGrid grid, const std::vector<double>& df, const std::vector<double>& found)
{
    // Bars of three beats may be a 6/8 whose eighths the tracker took in twos: then the bar's
    // middle, between its second and third beat, sounds more than those beats do, and the
    // beat is the dotted quarter, two to a bar.
    constexpr double kCompound = 1.2;
    const auto peak = [&](double step) { return peakAt(df, step); };
    double middles = 0, beats = 0;
    for (size_t k = 0; k + 1 < grid.bars.size(); ++k) {
        const size_t a = size_t(grid.bars[k]);
        if (grid.bars[k + 1] - grid.bars[k] != 3) continue;
        middles += peak((found[a] + found[a + 3]) / 2);
        beats += (peak(found[a + 1]) + peak(found[a + 2])) / 2;
    }
    if (grid.bars.size() < 4 || !(middles > kCompound * beats)) return grid;
    BeatGrid dotted;
    dotted.meter = 2;
    for (size_t k = 0; k < grid.bars.size(); ++k) {
        const int bar = grid.bars[k];
        const int next = k + 1 < grid.bars.size() ? grid.bars[k + 1] : int(grid.beats.size());
        dotted.bars.push_back(int(dotted.beats.size()));
        dotted.beats.push_back(grid.beats[size_t(bar)]);
        // A bar cut short where the bars shifted has no middle of its own.
        if (next - bar >= 2 && bar + 2 < int(grid.beats.size())) dotted.beats.push_back(grid.timeOfBeat(bar + 1.5));
    }
    return dotted;
}

std::vector<double> Analyser::changeAt(const float* low, size_t length, const std::vector<double>& found)
{
    std::vector<int> unused;
    std::vector<double> change;
    m_downBeat->setBeatsPerBar(4);
    m_downBeat->findDownBeats(low, length, found, unused);
    m_downBeat->getBeatSD(change);
    return change;
}

bool Analyser::offTheBeat(const std::vector<double>& changeOn, const std::vector<double>& changeBetween, int meter)
{
    // Twice as clear: no rendered piece's midpoints reach 0.9 of its beats' (bench/beats).
    constexpr double kClearer = 2.0;
    const size_t on = changeOn.size() + 1, between = changeBetween.size() + 1;
    const double onScore = followBars(changeOn, on, meter).score / double(on);
    const double betweenScore = followBars(changeBetween, between, meter).score / double(between);
    return betweenScore > 0 && betweenScore > kClearer * std::max(0.0, onScore);
}

std::vector<double> beatsOnTheNotes(const std::vector<double>& df, std::vector<double> found)
{
    constexpr double kEmpty = 0.25;
    double parity[2] = {0, 0};
    for (size_t i = 0; i < found.size(); ++i) parity[i % 2] += peakAt(df, found[i]);
    const int weak = parity[0] < parity[1] ? 0 : 1;
    if (!(parity[weak] < kEmpty * parity[1 - weak])) return found;
    std::vector<double> kept;
    for (size_t i = size_t(1 - weak); i < found.size(); i += 2) kept.push_back(found[i]);
    return kept;
}

std::vector<double> beatsBetweenToo(const std::vector<double>& df, std::vector<double> found, double secondsPerStep)
{
    constexpr double kAsStrong = 0.85;
    constexpr double kFastestBeat = 60.0 / 210.0;  // seconds
    std::vector<double> periods;
    for (size_t i = 0; i + 1 < found.size(); ++i) periods.push_back(found[i + 1] - found[i]);
    std::nth_element(periods.begin(), periods.begin() + qint64(periods.size() / 2), periods.end());
    if (periods.size() < 2 || periods[periods.size() / 2] * secondsPerStep / 2 < kFastestBeat) return found;
    double on = 0, between = 0;
    for (size_t i = 0; i + 1 < found.size(); ++i) {
        on += peakAt(df, found[i]);
        between += peakAt(df, (found[i] + found[i + 1]) / 2);
    }
    if (!(between >= kAsStrong * on)) return found;
    std::vector<double> doubled;
    for (size_t i = 0; i + 1 < found.size(); ++i) {
        doubled.push_back(found[i]);
        doubled.push_back((found[i] + found[i + 1]) / 2);
    }
    doubled.push_back(found.back());
    return doubled;
}

BeatGrid fromSong(const midi::Song& song)
{
    BeatGrid grid;
    std::map<int, int> lengths;  // beats a bar: how many bars
    for (const midi::Beat& b : song.beats) {
        if (!grid.beats.empty() && b.seconds <= grid.beats.back()) continue;
        if (b.downbeat) {
            if (!grid.bars.empty()) ++lengths[int(grid.beats.size()) - grid.bars.back()];
            grid.bars.push_back(int(grid.beats.size()));
        }
        grid.beats.push_back(b.seconds);
    }
    int most = 0;
    for (const auto& [beats, bars] : lengths)
        if (bars > most) {
            most = bars;
            grid.meter = beats;
        }
    return grid;
}

std::optional<BeatGrid> analyseFile(const QString& path, QString* error, const std::atomic<bool>* cancel,
                                    std::chrono::microseconds rest)
{
    auto fail = [&](const QString& why) -> std::optional<BeatGrid> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (midi::isMidiFile(path)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return fail(tr("The file cannot be read."));
        const std::optional<midi::Song> song = midi::parse(file.read(midi::kMaxFileBytes + 1), error);
        if (!song) return std::nullopt;
        return fromSong(*song);
    }
    audio::Decoder decoder;
    if (!decoder.open(path, error, kAnalysisRate)) return std::nullopt;
    const int channels = decoder.format().channels;
    if (channels <= 0) return fail(tr("The sound of this file cannot be read."));
    std::vector<float> buffer(size_t(kReadFrames * channels));
    std::vector<float> mono(static_cast<size_t>(kReadFrames));
    Analyser analyser;
    analyser.setRest(rest);
    for (qint64 done = 0; done < kMaxFrames;) {
        if (cancel && *cancel) return std::nullopt;
        const qint64 n = decoder.read(buffer.data(), kReadFrames);
        if (n < 0) return fail(tr("The sound of this file cannot be read to its end."));
        if (n == 0) break;
        for (qint64 f = 0; f < n; ++f) {
            float sum = 0;
            for (int c = 0; c < channels; ++c) sum += buffer[size_t(f * channels + c)];
            mono[size_t(f)] = sum / channels;
        }
        analyser.add(mono.data(), n);
        done += n;
        if (rest.count() > 0) std::this_thread::sleep_for(rest);
    }
    if (cancel && *cancel) return std::nullopt;
    return analyser.finish();
}

} // namespace beats
