#pragma once
// The metronome on the video engine: every beat of the file playing clicks on our own
// output where mpv's sound is heard, the bars' first beats higher. Clicks put into mpv's
// filters would be stretched with the sound, so they go beside it, placed every few
// milliseconds from the position heard (mpv's audio-pts, see MpvEngine) a little ahead of
// what the click output has written. UI thread.
#include "beats/beatgrid.h"
#include "engine/mpv/beatschedule.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace engine {

class ClickOutput;

class MpvMetronome : public QObject {
    Q_OBJECT
public:
    // What plays, given the click output's frame heard now.
    using Heard = std::function<HeardRun(qint64 heardFrame)>;
    // The click output, opened when `open` (none until then).
    using Output = std::function<ClickOutput*(bool open)>;

    MpvMetronome(Heard heard, Output output, QObject* parent = nullptr);

    void setBeats(const QString& path, std::shared_ptr<const beats::BeatGrid> grid);
    // The beats of `path` (at least two), or nullptr.
    const beats::BeatGrid* grid(const QString& path) const;
    // The file whose beats click.
    void setFile(const QString& path);
    void setOn(bool on);
    bool on() const { return m_on; }
    // Whether the engine plays (a hold between passes included): the clicks are placed
    // only then, so that a stopped engine is not woken every few milliseconds.
    void setPlaying(bool playing);
    // The clicks placed stop at once (a pause, a seek, a new rate); placing goes on from
    // what is heard next.
    void silence();
    // Places what is due now rather than at the next tick (a held pass's first beat).
    void tick();

private:
    void update();

    Heard m_heard;
    Output m_output;
    bool m_on = false;
    bool m_playing = false;
    QString m_file;
    // The last few files given beats, the last given last.
    std::vector<std::pair<QString, std::shared_ptr<const beats::BeatGrid>>> m_grids;
    std::vector<beats::Tick> m_beats;  // the file's, all of them
    BeatPlacer m_placer;
    HeardSmoother m_smoother;
    QTimer m_timer;
};

} // namespace engine
