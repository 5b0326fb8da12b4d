#pragma once
// The live loop keys as actions: shown in the player's Loop menu and the control panel's,
// they move the playing stretch, change its rate and pause, while it plays.
#include "player/liveloop.h"

#include <QList>
#include <QObject>
#include <functional>

class QAction;

namespace player {

class EntryPlayer;
class MediaPlayer;

// A change made by a key, for whoever keeps the entry's row.
struct LiveChange {
    QString file;
    LiveStretch was;  // the stretch as its row still reads
    bool wholeFile = false;
    LiveKey key = LiveKey::StartHere;
    LiveEdit edit;
    bool movesRate() const { return key == LiveKey::RateDown || key == LiveKey::RateUp; }
};

class LiveLoopKeys : public QObject {
    Q_OBJECT
public:
    LiveLoopKeys(EntryPlayer* playback, MediaPlayer* media, QObject* parent);

    // In menu order; nullptr stands for a separator.
    const QList<QAction*>& actions() const { return m_actions; }
    QAction* action(LiveKey key, bool coarse) const;
    QAction* playPause() const { return m_playPause; }

    // Whether keys are taken now (a window of someone else's may have the focus).
    void setAccepting(std::function<bool()> accepting) { m_accepting = std::move(accepting); }

    // The key's change applied to the playback; false when there was nothing to change.
    bool press(LiveKey key, bool coarse);

signals:
    void changed(const player::LiveChange& change);

private:
    QAction* add(const QString& caption, const QList<QKeySequence>& keys, std::function<void()> run);

    EntryPlayer* m_playback;
    MediaPlayer* m_media;
    QList<QAction*> m_actions;
    QAction* m_byKey[8][2] = {};
    QAction* m_playPause = nullptr;
    std::function<bool()> m_accepting;
};

} // namespace player
