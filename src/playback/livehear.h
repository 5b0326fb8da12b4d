#pragma once
// The hear settings as actions, live: the player's Hear menu and the control panel's. A
// change is heard at once (the engine takes it without starting the pass again) and is
// written to the playing entry's row, as the live loop keys write theirs.
#include "app/hear.h"

#include <QList>
#include <QObject>
#include <functional>

class QAction;
class QActionGroup;

namespace playback {

class EntryList;
class EntryPlayer;
class EngineControl;

// One step of the menu, on settings as they are.
enum class HearStep { BandOff, Bass, Voice, Treble, Normal, Cancel, Keep, Both, Left, Right, Mono, GainUp, GainDown, GainOff };
// Cancel and mono together are silence: choosing one of them lets go of the other.
HearSettings steppedHear(HearSettings hear, HearStep step);

class LiveHear : public QObject {
    Q_OBJECT
public:
    LiveHear(EntryPlayer* playback, EngineControl* media, QObject* parent);

    // In menu order; nullptr stands for a separator.
    const QList<QAction*>& actions() const { return m_actions; }
    void setAccepting(std::function<bool()> accepting) { m_accepting = std::move(accepting); }
    // The list the changes are written to and the row the entry in play came from (0: none).
    void setList(std::function<EntryList*()> list, std::function<int()> playingRow)
    {
        m_list = std::move(list);
        m_playingRow = std::move(playingRow);
    }

    // What is heard now: the playing entry's settings, else the last ones set.
    HearSettings current() const;
    void apply(HearStep step);
    // The actions' checks follow what is heard (call before a menu shows).
    void sync();

signals:
    // Row `row` of the list took the change; it is to be saved.
    void rowChanged(int row);

private:
    EntryPlayer* m_playback;
    EngineControl* m_media;
    HearSettings m_idle;  // set while nothing plays: the next entry's own settings replace it
    QList<QAction*> m_actions;
    QList<std::pair<QAction*, HearStep>> m_checkable;
    std::function<bool()> m_accepting;
    std::function<EntryList*()> m_list;
    std::function<int()> m_playingRow;
};

} // namespace playback
