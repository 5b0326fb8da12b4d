#pragma once
// The live loop keys as actions: shown in the player's Loop menu and the control panel's,
// they move the playing stretch, change its rate and pause, while it plays.
#include "app/practice.h"
#include "playback/liveloop.h"

#include <QList>
#include <QObject>
#include <functional>

class QAction;

namespace playback {

class EntryList;
class EntryPlayer;
class EngineControl;

// A change made by a key, for whoever keeps the entry's row.
struct LiveChange {
    int row = 0;      // the list row it is written to; 0: none
    QString file;
    LiveStretch was;  // the stretch as its row still reads
    bool wholeFile = false;
    LiveKey key = LiveKey::StartHere;
    LiveEdit edit;
    bool heard = false;  // the playback takes it too (not only the row)
    bool movesRate() const { return key == LiveKey::RateDown || key == LiveKey::RateUp; }
};

class LiveLoopKeys : public QObject {
    Q_OBJECT
public:
    LiveLoopKeys(EntryPlayer* playback, EngineControl* media, QObject* parent);

    // In menu order; nullptr stands for a separator.
    const QList<QAction*>& actions() const { return m_actions; }
    QAction* action(LiveKey key, bool coarse) const;
    QAction* playPause() const { return m_playPause; }
    QAction* loopBars(int bars) const;
    QAction* snapAction() const { return m_snap; }
    bool snapping() const;

    // The beat grid known for a file (nullptr: none yet). While snapping is on the keys move
    // the stretch onto its beats; Alt held with a key leaves them where they are.
    void setGrids(std::function<const beats::BeatGrid*(const QString& file)> grids) { m_grids = std::move(grids); }

    // Whether keys are taken now (a window of someone else's may have the focus).
    void setAccepting(std::function<bool()> accepting) { m_accepting = std::move(accepting); }

    // The list the keys write to, and the row the entry in play came from (0: a file opened
    // on its own). Without them the keys change only what plays.
    void setList(std::function<EntryList*()> list, std::function<int()> playingRow)
    {
        m_list = std::move(list);
        m_playingRow = std::move(playingRow);
    }

    // Where "Previous Line" and "Next Line" go: the list's row so many steps on.
    void setLineStep(std::function<void(int step)> step) { m_lineStep = std::move(step); }

    // The key's change applied to the playback, or while nothing plays to the selected row
    // (else the one last played); false when there was nothing to change.
    // `bars`: the length LoopBars sets.
    bool press(LiveKey key, bool coarse, int bars = 1);

    // Row `row` was edited from `before` to `after`: when it is the playing entry's, the
    // playback takes the edit at once, so the row and what is heard stay one.
    void rowEdited(int row, const QStringList& before, const QStringList& after, const PracticeSettings& practice);

signals:
    void changed(const LiveChange& change);

private:
    QAction* add(const QString& caption, const QList<QKeySequence>& keys, std::function<void()> run);
    int playingRow() const { return m_playingRow ? m_playingRow() : 0; }
    // What a key changes while nothing plays; false when there is no such row.
    bool stoppedTarget(LiveChange& change, LiveNow& now) const;
    // The grid a key snaps to on `file` now; nullptr when it does not snap.
    const beats::BeatGrid* snapGrid(const QString& file) const;

    EntryPlayer* m_playback;
    EngineControl* m_media;
    QList<QAction*> m_actions;
    QAction* m_byKey[kLiveKeys][2] = {};
    QAction* m_loopBars[4] = {};
    QAction* m_playPause = nullptr;
    QAction* m_snap = nullptr;
    std::function<const beats::BeatGrid*(const QString&)> m_grids;
    std::function<bool()> m_accepting;
    std::function<EntryList*()> m_list;
    std::function<int()> m_playingRow;
    std::function<void(int)> m_lineStep;
};

} // namespace playback
