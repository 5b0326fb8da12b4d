#pragma once
// What the desktop's media controls need of the program's windows, so that the remote
// control reaches no form: the player window implements it.
#include <QString>

namespace playback { class EngineControl; class EntryPlayer; }
namespace desktop {

class RemoteHost {
public:
    virtual ~RemoteHost() = default;

    virtual playback::EngineControl* engineControl() const = 0;
    virtual playback::EntryPlayer* entryPlayback() const = 0;
    // The list's rows, and its cursor (1-based; 0 or past the end when it points nowhere).
    virtual int entryCount() const = 0;
    virtual int currentEntry() const = 0;
    // Selects the row and plays the list from it, or loops it alone.
    virtual void playEntry(int row, bool loop) = 0;
    // Plays the list's row so many steps on (wrapping), looped if the entry now is.
    virtual void stepLine(int step) = 0;
    // As the control panel's "Stop".
    virtual void stopEntries() = 0;
    // Plays a file from outside the list, as File > Open does.
    virtual void openOutsideFile(const QString& path) = 0;
    virtual void showPlayer() = 0;
    virtual void quitProgram() = 0;

protected:
    RemoteHost() = default;
    RemoteHost(const RemoteHost&) = default;
    RemoteHost& operator=(const RemoteHost&) = default;
};

} // namespace desktop
