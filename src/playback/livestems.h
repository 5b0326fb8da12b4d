#pragma once
// The stems of the entry in play, live: a level, mute and solo each, heard at once (the
// engine remixes from the frame heard) and written to the entry's row, as the hear
// settings are. Stems found beside the file by their names can be given to it here.
#include "app/stems.h"

#include <QObject>
#include <QStringList>

#include <functional>

namespace playback {

class EntryList;
class EntryPlayer;

// One change to a set, by stem.
enum class StemStep { Mute, Solo, LevelUp, LevelDown, LevelZero };
StemSet steppedStems(StemSet set, int stem, StemStep step);
// The word a stem is shown by: the stem's name in its file's name, else the file's name.
QString stemCaption(const Stem& stem);

// How an entry keeps a stem's file: relative to the entry's file's folder where it lies
// there or below, else whole (an entry moved with its folder keeps its stems).
QString stemPathFor(const QString& entryFile, const QString& path);
// `set` with stems for `files` (as the entry keeps them) after its own: a file it holds
// already is not added again, nor any past the most the engine mixes.
StemSet withStemsAdded(StemSet set, const QStringList& files);

class LiveStems : public QObject {
    Q_OBJECT
public:
    LiveStems(EntryPlayer* playback, QObject* parent);
    void setList(std::function<EntryList*()> list, std::function<int()> playingRow)
    {
        m_list = std::move(list);
        m_playingRow = std::move(playingRow);
    }
    // The playing entry's stems; none while nothing plays.
    StemSet current() const;
    void apply(int stem, StemStep step);
    // Gives the playing entry the stems found beside its file (none found: false).
    bool findBeside();
    // The entry plays its own file again.
    void clear();

signals:
    void rowChanged(int row);

private:
    void change(const StemSet& set);

    EntryPlayer* m_playback;
    std::function<EntryList*()> m_list;
    std::function<int()> m_playingRow;
};

} // namespace playback
