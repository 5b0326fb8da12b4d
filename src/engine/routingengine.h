#pragma once
// Chooses the engine by the file's content: a file with pictures (a cover picture does
// not count) plays on the video engine, everything else on the sample engine. Callers see
// one engine; the other one is idle.
#include "engine/mediaengine.h"

namespace engine {

class RoutingEngine : public MediaEngine {
    Q_OBJECT
public:
    // Takes ownership of both.
    RoutingEngine(MediaEngine* sound, MediaEngine* video, QObject* parent = nullptr);

    MediaEngine* active() const { return m_active; }

    void load(const QString& path) override;
    bool waitForLoad(int timeoutMs) override { return m_active->waitForLoad(timeoutMs); }
    QString path() const override { return m_active->path(); }
    void play() override { m_active->play(); }
    void pause() override { m_active->pause(); }
    void stop() override { m_active->stop(); }
    PlayState state() const override { return m_active->state(); }
    double position() const override { return m_active->position(); }
    void seek(double seconds) override { m_active->seek(seconds); }
    double duration() const override { return m_active->duration(); }
    void setRate(double rate) override;
    double rate() const override { return m_active->rate(); }
    void setLoop(const LoopRange& range) override { m_active->setLoop(range); }
    void clearLoop() override { m_active->clearLoop(); }
    LoopRange loop() const override { return m_active->loop(); }
    QHash<QString, QString> metadata() const override { return m_active->metadata(); }
    bool hasVideo() const override { return m_active->hasVideo(); }
    bool queueNext(const NextEntry& next) override;
    bool takeBackNext() override { return m_active->takeBackNext(); }
    // Both take it: the load that follows picks the engine.
    void setPractice(const PracticeSettings& practice, int pass) override
    {
        m_sound->setPractice(practice, pass);
        m_video->setPractice(practice, pass);
    }
    void setBeats(const QString& path, std::shared_ptr<const beats::BeatGrid> grid) override
    {
        m_sound->setBeats(path, grid);
        m_video->setBeats(path, std::move(grid));
    }
    void setMetronome(bool on) override
    {
        m_sound->setMetronome(on);
        m_video->setMetronome(on);
    }
    bool metronome() const override { return m_active->metronome(); }
    void setHear(const HearSettings& hear) override
    {
        m_sound->setHear(hear);
        m_video->setHear(hear);
    }
    void setStemMix(const StemSet& mix) override { m_sound->setStemMix(mix); }
    QWidget* createVideoView(QWidget* parent) override { return m_video->createVideoView(parent); }
    bool setOverlayLine(const QString& text) override { return m_video->setOverlayLine(text); }

private:
    void wire(MediaEngine* engine);
    MediaEngine* choose(const QString& path) const;

    MediaEngine* m_sound;
    MediaEngine* m_video;
    MediaEngine* m_active;
};

} // namespace engine
