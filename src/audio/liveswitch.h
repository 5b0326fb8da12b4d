#pragma once
// A change made while the sound plays (a new stop, a new rate) replaces what was rendered
// ahead of the output from a chunk boundary a little ahead of what the output takes: the
// sound runs on without a gap, and the change is heard within the server's buffer rather
// than after all the worker had rendered. No threads and no clock.
#include <QtGlobal>

#include <deque>
#include <functional>
#include <optional>

namespace audio {

// A chunk as it went into the ring.
struct Rendered {
    quint64 seq = 0;
    double sourcePos = 0;  // source frame of its first frame
    double step = 1;       // source frames a frame (0: a pause holding still)
    qint64 frames = 0;
    bool passStart = false;
    int pass = 0;          // the pass its frames are in, counted as the passes begun are heard
    quint64 entry = 0;     // the list entry it belongs to, counted as the engine hands over
    // A pause or count-in's chunk (step 0): frames into that hold at its first frame, and
    // the pass it comes before (one past `pass` where the pass begins with a wrap).
    qint64 holdAt = -1;
    int holdPass = 0;
};

struct Switch {
    quint64 keepUntil = 0;  // the last chunk still played; the ones after it are dropped
    double from = 0;        // the source frame the new rendering begins at
    int pass = 0;           // the pass the new rendering goes on in
};

// `taken`: the chunk the output plays now; `lead`: chunks left to play while the new ones
// are rendered. None when nothing is ahead of the output.
std::optional<Switch> chooseSwitch(const std::deque<Rendered>& rendered, quint64 taken, quint64 lead);

// What a change asks of the sound the output took and nobody has heard yet.
enum class Change {
    Plan,   // a new range or rate: that sound plays on where it agrees with the change
    Pause,  // none of it is to be heard
    Mix,    // the same sound at other levels: all of it within reach is rendered again
};

// Where a change takes over: what is kept, and from which frame pulled the output's queue
// is replaced (-1: all the output took plays out).
struct Takeover {
    Switch keep;
    qint64 replaceFrom = -1;
    quint64 entry = 0;   // the entry of the frame cut at
    qint64 holdAt = -1;  // cut inside a hold: frames into it at the cut (see Rendered)
    int holdPass = 0;
};

// `pulledAt(seq)`: where chunk `seq`'s first frame went among the frames pulled (chunks up
// to `taken`). `replaceable`: the first frame pulled the output can still replace (-1:
// none), counted from what is heard, not from what was taken: with a deep queue the output
// holds a wrap or a stop long before it is heard. `stop`: the new range's stop (source
// frames), where it has one. A change the kept sound goes against (it runs to or past the
// new stop, or a pass begins in it) is taken over from `replaceable`; a pause and a mix
// always are (a mix not in a hold, whose silence has no levels).
// None: nothing to change (nothing ahead, or for a pause nothing within reach).
// A cut falls in the entry rendered now, or for a pause in any from `firstEntry` on (an
// entry handed over and not heard yet is taken back, its file opened again).
std::optional<Takeover> chooseTakeover(const std::deque<Rendered>& rendered,
                                       const std::function<qint64(quint64 seq)>& pulledAt, quint64 taken,
                                       quint64 lead, qint64 replaceable, std::optional<double> stop, Change change,
                                       std::optional<quint64> firstEntry = std::nullopt);

// The wraps left to a range that had `wraps` when pass `heardPass` was heard, once the
// rendering goes on in pass `pass`. Passes begun in chunks the output took but the
// listener has not heard yet count as well: the output's buffer holds some 100 ms.
int wrapsLeft(int wraps, int heardPass, int pass);

// Whether a remix of entry `entry` has any of it left to render again: a chunk of it the
// output has not taken, or one that runs past `replaceable` (the first frame pulled the
// output can still replace; -1: none). A remix for the entry before one handed over that
// has none leaves all as it is: the next entry keeps its own mix.
bool remixReaches(const std::deque<Rendered>& rendered, const std::function<qint64(quint64 seq)>& pulledAt,
                  quint64 taken, qint64 replaceable, quint64 entry);

// How far a remix of the stems has come while the old sound plays on, in frames.
struct RemixProgress {
    qint64 pastQueue = 0;  // rendered past what the output holds, from where it replaces
    qint64 oldAhead = 0;   // of the old sound, rendered and not yet taken by the output
    double speed = 0;      // its rendering so far, in times real time
};
// Whether the remix replaces the output's queue now. A worker fast enough to top up again
// before the server runs out goes as soon as `slack` lies past the queue; a slower one (a
// busy machine) holds the remix until it is as far ahead as the old sound it replaces,
// which plays on meanwhile: the change is heard later, and never as a gap.
bool remixReady(const RemixProgress& p, qint64 slack, double fastSpeed);

// Whether the remix rendered so far (`held` frames, `previewed` of them already put over the
// output's queue) goes over it again now: first once `first` frames are rendered, then each
// `step` more, so that its sound keeps ahead of the server's reading until the whole
// replacement follows. Only while the last chunk came `fastSpeed` times faster than real time
// (`recentSpeed`): a worker held up would let the old sound come back between two of them.
bool previewDue(qint64 held, qint64 previewed, double recentSpeed, qint64 first, qint64 step, double fastSpeed);

} // namespace audio
