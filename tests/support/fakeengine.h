#pragma once
// An engine whose clock the test advances by hand, so playback rules can be checked to
// the millisecond. It loops a handed range the way the real engine does.
#include "engine/mediaengine.h"

#include <QStringList>

#include <optional>

class FakeEngine : public engine::MediaEngine {
    Q_OBJECT
public:
    explicit FakeEngine(QObject* parent = nullptr) : MediaEngine(parent) {}

    // Length of every file loaded from now on (seconds); a path listed in
    // `undecodable` fails to load.
    double fileDuration = 60.0;
    QStringList undecodable;
    // False: an engine that ends at a file's end even where a range asks to wrap there.
    bool wrapsAtEnd = true;
    // True: a load finishes later, as a real engine's does: from the event loop, inside
    // waitForLoad(), or when the clock moves on, whichever comes first.
    bool async = false;
    // True: takes the list's next entry at a held stop, as the sample engine does, and no
    // longer gives it back in the last 50 ms before the stop (the output has it then).
    bool handsOver = false;

    // Moves the clock on; playback advances by ms * rate while playing.
    void advance(int ms);
    // The loaded file's length turns out other than its headers said, as a count does.
    void countLength(double seconds)
    {
        m_duration = seconds;
        reportDuration();
    }

    // What the program asked for, for the test to inspect.
    int loads = 0;
    int seeks = 0;
    int plays = 0;
    int stops = 0;
    QStringList calls;
    QStringList passStarts;  // the file of each pass begun: by a load, a wrap, a hand-over

    void load(const QString& path) override;
    bool waitForLoad(int timeoutMs) override;
    QString path() const override { return m_path; }
    void play() override;
    void pause() override;
    void stop() override;
    engine::PlayState state() const override { return m_state; }
    double position() const override { return m_position; }
    void seek(double seconds) override;
    double duration() const override { return m_load == Load::Loaded ? m_duration : 0.0; }
    void setRate(double rate) override;
    double rate() const override { return m_rate; }
    void setLoop(const engine::LoopRange& range) override;
    void clearLoop() override;
    engine::LoopRange loop() const override { return m_loop; }
    bool queueNext(const engine::NextEntry& next) override { return handsOver && next.after == 0 && (m_next = next); }
    bool takeBackNext() override { return m_next && m_position < m_loop.stop - 0.05 * m_rate && !(m_next = {}); }
    QHash<QString, QString> metadata() const override { return m_load == Load::Loaded ? tags : QHash<QString, QString>{}; }
    bool hasVideo() const override { return false; }

    QHash<QString, QString> tags;

private:
    void setState(engine::PlayState s);
    bool loopActive() const;
    void finishLoad();

    QString m_path;
    enum class Load { None, Pending, Loaded } m_load = Load::None;
    engine::PlayState m_wanted = engine::PlayState::Playing;  // once loaded
    quint64 m_generation = 0;
    double m_duration = 0;
    double m_position = 0;
    double m_rate = 1;
    engine::PlayState m_state = engine::PlayState::Stopped;
    engine::LoopRange m_loop;
    bool m_hasLoop = false;
    std::optional<engine::NextEntry> m_next;
};
