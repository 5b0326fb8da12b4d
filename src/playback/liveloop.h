#pragma once
// The live loop keys: what a key press makes of the playing stretch. Pure, so the clamps
// and the rounding are checked without a player.
#include "beats/beatgrid.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace playback {

// Playback speeds a user may pick; beyond them the stretcher only makes noise.
inline constexpr double kMinimumRate = 0.1;
inline constexpr double kMaximumRate = 4.0;

enum class LiveKey { StartHere, StopHere, StartEarlier, StartLater, StopEarlier, StopLater, RateDown, RateUp, LoopBars };
inline constexpr int kLiveKeys = int(LiveKey::LoopBars) + 1;

struct LiveStretch {
    double start = 0;
    double stop = 0;
    double rate = 1;
    bool operator==(const LiveStretch&) const = default;
};

// What is playing and heard when the key comes.
struct LiveNow {
    LiveStretch stretch;
    double heard = 0;     // the position heard, seconds; NaN when another file is loaded
    double duration = 0;  // the file's length; 0 while unknown
    // Snapping: positions go to its beats, nudges a beat (coarse: a bar) on. None: they
    // stay where heard and nudges move by time.
    const beats::BeatGrid* grid = nullptr;
    int bars = 1;  // LoopBars: the stretch's length, from the start of the bar heard
};

// The new stretch as the row's number texts and as the numbers read back from them, so
// the row and the playback never disagree by a rounding.
struct LiveEdit {
    bool changed = false;
    LiveStretch stretch;
    QString start, stop, rate;
};

namespace live {
inline constexpr double kNudge = 0.010;        // seconds
inline constexpr double kCoarseNudge = 0.100;  // seconds, with Shift
inline constexpr double kRateStep = 0.05;
inline constexpr double kMinStretch = 0.050;   // shortest stretch a key leaves, seconds
} // namespace live

// The stretch after `key`; `changed` is false when the clamps leave nothing to change, and
// for LoopBars without a grid.
LiveEdit liveEdit(const LiveNow& now, LiveKey key, bool coarse);

// Whether a grid row (file, start, end, ...) is the entry playing `file` from `start` to
// `stop`; a whole file plays from a row whose start and end are both 0.
bool rowPlays(const QStringList& row, const QString& file, double start, double stop, bool wholeFile);

// A grid row's stretch and rate; a whole file runs to `duration` and has none while that
// is unknown. None as well where a number does not read.
std::optional<LiveStretch> rowStretch(const QStringList& row, double duration);
bool rowIsWholeFile(const QStringList& row);

// The row the keys change while nothing plays: the one selected, else the one last played.
int stoppedKeyRow(int selected, int lastPlayed);

// An edit of the playing entry's row, as the playback takes it at once.
struct RowEdit {
    bool follows = false;   // the row played the entry and still names its file
    bool moves = false;     // the stretch moves to `stretch`; a row made whole keeps what plays
    LiveStretch stretch;
};
RowEdit followEdit(const QStringList& before, const QStringList& after, const QString& file, const LiveStretch& was,
                   bool wholeFile);

} // namespace playback
