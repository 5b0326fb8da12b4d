#pragma once
// Our own engine for files with sound and no pictures. A worker thread decodes, loops and
// stretches ahead; the sound server's thread takes the result from a lock-free ring; this
// object, on the UI thread, reads back what is heard: the position, the wraps, the end.
// Loops wrap by sample index and their seams blend; the next list entry follows the last
// sample of the current one.
#include "engine/mediaengine.h"
#include "audio/loopreader.h"

#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace audio { class AudioOutput; }
namespace engine {

class SampleEngine : public MediaEngine {
    Q_OBJECT
public:
    struct Options {
        bool audioOutput = true;  // false: the null output, which keeps real time
        int crossfadeMs = audio::kSeamBlendMs;  // the seam blend; 0 cuts hard, sample-exact
        // Where the sound goes instead, when set: a test's hand-pulled output.
        std::function<std::unique_ptr<audio::AudioOutput>()> output;
    };

    explicit SampleEngine(QObject* parent = nullptr);
    explicit SampleEngine(const Options& options, QObject* parent = nullptr);
    ~SampleEngine() override;

    void load(const QString& path) override;
    bool waitForLoad(int timeoutMs) override;
    QString path() const override { return m_path; }

    void play() override;
    void pause() override;
    void stop() override;
    PlayState state() const override { return m_state; }

    double position() const override;
    void seek(double seconds) override;
    double duration() const override { return m_load == Load::Ready ? m_duration : 0.0; }

    void setRate(double rate) override;
    double rate() const override { return m_rate; }

    void setLoop(const LoopRange& range) override;
    void clearLoop() override;
    LoopRange loop() const override { return m_loop.value_or(LoopRange{}); }

    QHash<QString, QString> metadata() const override { return m_load == Load::Ready ? m_tags : QHash<QString, QString>{}; }
    bool hasVideo() const override { return false; }

    bool queueNext(const NextEntry& next) override;
    bool takeBackNext() override;
    void setPractice(const PracticeSettings& practice, int pass) override;
    PracticeSettings practice() const { return m_practice; }
    void setBeats(const QString& path, std::shared_ptr<const beats::BeatGrid> grid) override;
    void setMetronome(bool on) override;
    bool metronome() const override;
    void setHear(const HearSettings& hear) override;
    void setStemMix(const StemSet& mix) override;

    // Which output took the sound: "pulse" or "null"; empty before the first load.
    QString outputName() const;
    // How often the sound server found the output's queue empty where sound was due.
    qint64 outputUnderflows() const;

    // For an output pulled by hand (tests, benchmarks), where no real time passes:
    // renderAhead() returns once the worker has taken every command and rendered all it
    // may ahead (false if it did not within `timeoutMs`, a guard against a hung worker);
    // pollHeard() does what the heard-timer does when it fires, if it runs.
    bool renderAhead(int timeoutMs = 10000);
    void pollHeard();

    struct Shared;

    // What is heard from output frame `at` on: a run of the source, or silence. Told by
    // the output thread as it hands each run to the sound server.
    struct Heard : audio::SourceRun {
        double at = 0;
        bool silence = false;
        bool standsKnown = false;  // a silence whose sourcePos is where it stands
    };
    // What the output holds already when a plan comes: played out, or not to be heard.
    enum class Quiet {
        None,
        Pause,  // silent from the frame heard on, and played again from there
        Stop,   // silent; the plan starts afresh
    };
    // For an output pulled by hand: the runs the UI side knows of now, heard or still to be.
    std::vector<Heard> knownRuns() const;

private:
    struct Run : Heard {
        bool handled = false;
    };

    void opened(quint64 generation);
    void sendPlan(std::optional<double> from);
    void replan();
    void flushPlan();
    void tick();
    void scheduleTick(double heard);
    // The worker learns that the entry heard now plays its last pass, once the UI had its
    // chance to hand over the one after it.
    void tellPassHeard();
    void drainRuns() const;
    double heardFrame() const;
    void setState(PlayState s);
    void failLoad(const QString& reason);
    void showPassRate();

    Options m_options;
    std::unique_ptr<Shared> m_shared;
    std::thread m_worker;
    QTimer m_heardTimer;

    QString m_path;
    quint64 m_generation = 0;
    enum class Load { None, Opening, Ready };  // None: no file, or it failed to open
    Load m_load = Load::None;
    bool m_loadHeld = false;  // m_path's load goes with the next plan (or waitForLoad())
    int m_sampleRate = 44100;
    double m_duration = 0;
    QHash<QString, QString> m_tags;

    PlayState m_state = PlayState::Stopped;
    double m_rate = 1.0;
    std::optional<LoopRange> m_loop;

    quint64 m_epoch = 0;             // the plan the worker renders now
    quint64 m_entry = 0;             // the entry it began with; a hand-over adds one
    double m_planStart = 0;          // where that plan begins (seconds)
    bool m_atEnd = false;            // an end was heard
    double m_endPos = 0;
    bool m_pauseWanted = false;
    bool m_planDirty = false;
    Quiet m_quiet = Quiet::None;     // goes with the next plan
    std::optional<double> m_planFrom;
    mutable std::deque<Run> m_runs;
    mutable double m_heard = 0;
    double m_changedAt = 0;          // the frame heard as the last plan or next entry went to the worker
    std::deque<NextEntry> m_next;    // handed to the worker in order, not heard yet
    bool m_nextTakenBack = false;    // the next plan tells the worker to drop its next entry
    bool m_remix = false;            // the next plan changes the stems' levels alone
    PracticeSettings m_practice;
    int m_practicePass = 0;          // passes heard since the practice began
    bool m_prerollDue = false;       // the first pass's pause and count-in are still to come
    std::pair<quint64, quint64> m_passHeardOf{0, 0};  // the plan and entry last heard, for tellPassHeard()

    // Where a plan starts and how it sounds, for telling a plan asked for again (its range
    // aside) from one rendered already.
    struct PlanKey {
        double from = 0;
        double rate = 1;
        PracticeSettings practice;
        int pass = 0;
        bool preroll = false;
        bool operator==(const PlanKey&) const = default;
    };
    PlanKey planKey(double from, bool preroll) const;
    // The plan rendered while nothing plays, none of it taken yet (its epoch and key).
    std::optional<std::pair<quint64, PlanKey>> m_idlePlan;
};

} // namespace engine
