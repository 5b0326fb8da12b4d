#pragma once
// Practice on the video engine. mpv repeats the stretch by itself and decodes each pass
// ahead of what is heard; between two passes mpv is held still for the pause and the
// count-in, whose clicks play through our own output, and each pass is decoded at its
// trainer rate.
#include "app/practice.h"
#include "audio/practiceplan.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace engine {

// Where a preroll heard from now begins on an output that has `heard` frames heard and
// `written` frames written: its clicks cannot go where the output has written already,
// so then the whole preroll waits for them, and the hold grows by as much.
struct PrerollPlace {
    qint64 at = 0;          // the output frame the preroll begins at
    qint64 holdFrames = 0;  // how long the picture and its sound stand still
};
PrerollPlace placePreroll(const audio::PassPlan& plan, qint64 heard, qint64 written);

// The passes as mpv decodes and as the listener hears them. No clock, no threads.
class PassBreaks {
public:
    // `pass`: the pass that starts at the next landing of a seek or load, or
    // MediaEngine::kGoOn to count on.
    void setPractice(const PracticeSettings& practice, int pass, double entryRate);
    void setEntryRate(double rate);
    // The seconds of source a pass plays, for a pause by the pass's length.
    void setStretch(double seconds) { m_stretchSeconds = seconds; }
    // The bar an automatic count-in clicks, from the file's beats; none: the typed clicks.
    void setCountInBar(std::vector<audio::SourceClick> bar) { m_bar = std::move(bar); }
    // The speed of the pass decoded last.
    double speed() const;
    // mpv decoded a wrap: the speed of the pass after it.
    double wrapDecoded();
    // The listener hears a wrap: that pass's plan (its preroll first).
    audio::PassPlan wrapHeard();
    // A seek or load landed: the first pass's plan where one was due, else none.
    std::optional<audio::PassPlan> startLanded();
    // The next landing begins with a hold.
    bool startHoldDue() const { return m_startDue && plan().pass(m_heard).prerollFrames > 0; }
    int heardPass() const { return m_heard; }
    double heardRate() const { return plan().rateOf(m_heard); }
    // The pass after the one heard: its rate, and whether mpv is held before it.
    double nextRate() const { return plan().rateOf(m_heard + 1); }
    bool nextHolds() const { return plan().pass(m_heard + 1).prerollFrames > 0; }
    bool trains() const { return m_settings.hasTrainer(); }

private:
    audio::PracticePlan plan() const;

    static constexpr int kClickRate = 44100;
    PracticeSettings m_settings;
    double m_entryRate = 1;
    double m_stretchSeconds = 0;
    int m_heard = 0;
    int m_decoded = 0;
    bool m_startDue = false;
    std::vector<audio::SourceClick> m_bar;
};

class ClickOutput;

class MpvPractice : public QObject {
    Q_OBJECT
public:
    explicit MpvPractice(QObject* parent = nullptr);
    ~MpvPractice() override;

    void setPractice(const PracticeSettings& practice, int pass, double entryRate);
    void setEntryRate(double rate) { m_breaks.setEntryRate(rate); }
    void setStretch(double seconds) { m_breaks.setStretch(seconds); }
    void setCountInBar(std::vector<audio::SourceClick> bar) { m_breaks.setCountInBar(std::move(bar)); }
    double speed() const { return m_breaks.speed(); }
    double heardRate() const { return m_breaks.heardRate(); }
    double nextRate() const { return m_breaks.nextRate(); }
    bool nextHolds() const { return m_breaks.nextHolds(); }
    double wrapDecoded() { return m_breaks.wrapDecoded(); }
    // True when the pass heard now begins with a hold: mpv stands still until released().
    // `quietSeconds`: silent already since the stop; the hold is that much shorter.
    bool wrapsHeard(int count, double quietSeconds = 0);
    // `quietSeconds`: silent already before the landing; the hold is that much shorter.
    bool startLanded(double quietSeconds = 0);
    bool startHoldDue() const { return m_breaks.startHoldDue(); }
    // A seek, stop or load: a hold under way ends, its clicks silenced.
    void cancel();
    bool holding() const { return m_hold.isActive(); }
    int holdLeftMs() const { return m_hold.isActive() ? m_hold.remainingTime() : 0; }
    // While held: the click output's frame the pass starts at, where that output times
    // the hold.
    std::optional<qint64> passStartFrame() const { return m_hold.isActive() ? m_passAt : std::nullopt; }
    // How far behind mpv's audio-pts a pass at `rate` is heard, in the source's seconds: a
    // hold timed by a count-in's clicks ends that much earlier, so the pass is on their beat.
    void setSoundLag(std::function<double(double rate)> lag) { m_soundLag = std::move(lag); }
    // Whether the metronome clicks the passes' beats: a pass after a hold then starts no
    // sooner than the click output can still place its first beat.
    void setMetronome(bool on) { m_metronome = on; }
    // The output of the count-in's and the metronome's clicks, opened when `open`.
    ClickOutput* clicks(bool open);

signals:
    void released();
    void passRateChanged(double rate);

private:
    bool hold(const audio::PassPlan& plan, double quietSeconds = 0);
    void holdEnded();
    void tellRate();

    PassBreaks m_breaks;
    QTimer m_hold;
    int m_holdDueMs = 0;
    QElapsedTimer m_holdSince;
    std::optional<audio::PassPlan> m_clicksDue;  // placed once the click output can be timed
    std::optional<qint64> m_passAt;
    std::function<double(double)> m_soundLag;
    bool m_metronome = false;
    std::unique_ptr<ClickOutput> m_clicks;
};

} // namespace engine
