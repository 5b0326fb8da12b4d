#pragma once
// Plays MIDI files on an engine that plays only sound files: a MIDI file is rendered to a
// WAV of the same length (in the background, cached per user), and that plays in its
// place. Everything else goes straight to the engine underneath. To callers the MIDI file
// is the file: path() reads it back, positions and the duration are the song's own.
#include "engine/mediaengine.h"
#include "midi/midifile.h"

#include <memory>
#include <optional>

namespace midi { class RenderHandle; }
namespace engine {

class MidiEngine : public MediaEngine {
    Q_OBJECT
public:
    // Takes ownership of `inner`.
    explicit MidiEngine(MediaEngine* inner, QObject* parent = nullptr);
    ~MidiEngine() override;

    MediaEngine* inner() const { return m_inner; }
    // True while a MIDI file is being rendered.
    bool rendering() const { return m_phase == Phase::Rendering; }

    void load(const QString& path) override;
    // While a MIDI file renders this waits only briefly (kRenderWaitMs) so the window
    // stays responsive; the duration is known anyway.
    bool waitForLoad(int timeoutMs) override;
    QString path() const override;

    void play() override;
    void pause() override;
    void stop() override;
    PlayState state() const override;

    double position() const override;
    void seek(double seconds) override;
    double duration() const override;

    void setRate(double rate) override { m_inner->setRate(rate); }
    double rate() const override { return m_inner->rate(); }

    void setLoop(const LoopRange& range) override { m_inner->setLoop(range); }
    void clearLoop() override { m_inner->clearLoop(); }
    LoopRange loop() const override { return m_inner->loop(); }

    QHash<QString, QString> metadata() const override;
    bool hasVideo() const override;

    QWidget* createVideoView(QWidget* parent) override { return m_inner->createVideoView(parent); }
    bool setOverlayLine(const QString& text) override { return m_inner->setOverlayLine(text); }
    // A MIDI file is rendered first, so only other files are handed over.
    bool queueNext(const NextEntry& next) override;
    bool takeBackNext() override { return m_inner->takeBackNext(); }
    void setPractice(const PracticeSettings& practice, int pass) override { m_inner->setPractice(practice, pass); }
    // A MIDI file's beats are its rendering's: they go with the rendering once it plays.
    void setBeats(const QString& path, std::shared_ptr<const beats::BeatGrid> grid) override;
    void setMetronome(bool on) override { m_inner->setMetronome(on); }
    bool metronome() const override { return m_inner->metronome(); }
    void setHear(const HearSettings& hear) override { m_inner->setHear(hear); }
    void setStemMix(const StemSet& mix) override { m_inner->setStemMix(mix); }

    static constexpr int kRenderWaitMs = 300;

private:
    enum class Phase {
        Direct,     // not a MIDI file: the inner engine has it
        Rendering,  // a MIDI file is being rendered
        Rendered,   // the inner engine has the MIDI file's rendering
        Failed,     // the MIDI file cannot be played
    };

    bool passesThrough() const { return m_phase == Phase::Direct || m_phase == Phase::Rendered; }
    void loadMidi(const QString& path);
    void dropJob();
    void playRendering(const QString& wav);
    void renderFinished();
    void fail(const QString& reason);
    void syncState();

    MediaEngine* m_inner;
    Phase m_phase = Phase::Direct;
    QString m_path;
    QString m_rendering;  // the WAV that plays for the MIDI file
    QString m_beatsPath;
    std::shared_ptr<const beats::BeatGrid> m_beats;
    midi::Song m_song;
    std::unique_ptr<midi::RenderHandle> m_job;
    PlayState m_reported = PlayState::Stopped;

    // What was asked while rendering, handed over with the rendering.
    bool m_stopped = false;
    bool m_pauseWanted = false;
    std::optional<double> m_seek;
};

} // namespace engine
