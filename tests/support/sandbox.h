#pragma once
// A fresh program state for window tests: a temporary folder holding the INI file and
// three small media files, and a clock driver for the player's timers.
#include <QString>
#include <QTemporaryDir>
#include <functional>

class FakeEngine;
namespace playback { class EntryPlayer; }

namespace testkit {

struct Sandbox {
    Sandbox();  // points the INI file into the folder and forgets cached files
    QTemporaryDir dir;
    QString a, b, c;  // three playable files: a.wav, b.wav, c.wav
    QString path(const QString& name) const { return dir.filePath(name); }
};

// For window tests: settings kept apart from the user's, plain number text, and fake
// engines; `lastMade` (when given) always points at the newest one.
void useFakeEngines(FakeEngine** lastMade = nullptr);

// Says what entry playback could not play in message boxes, as the player window does.
void sayRefusals(playback::EntryPlayer& playback);

// Runs the clock a millisecond at a time, firing the player's running timer every 10 ms,
// then `afterTick`.
void runPlayer(FakeEngine& engine, playback::EntryPlayer& playback, int ms, const std::function<void()>& afterTick = {});

} // namespace testkit
