#pragma once
// The sound server's output for a server that may go away and come back (a restart of the
// desktop's sound server, a headset taken away): while none answers the sound goes on over
// the null output, which keeps real time, and the server is asked again now and then.
#include "audio/audiooutput.h"

namespace audio {

// Which output takes the sound.
enum class Link {
    Stopped,
    Server,
    Null,  // the server went away; asked again every so often
};

enum class LinkEvent {
    Start,
    Lost,      // the server or its stream broke, or a start on it failed
    Answered,  // a server answers again
    Stop,
};

// What a step does to the outputs.
enum class Move {
    None,
    StartServer,
    ServerToNull,
    NullToServer,
    StopServer,
    StopNull,
};

struct LinkStep {
    Link link;
    Move move;
};

LinkStep linkStep(Link now, LinkEvent event);

// Where the output that takes over goes on: from the frame heard on the one before (so the
// position neither jumps nor stands), handing over again what that one took and never
// played, as far as the `kept` frames before `pulled` reach.
struct Handover {
    qint64 from = 0;    // the first frame the new output plays
    qint64 replay = 0;  // frames from `from` that were pulled already
};

Handover handoverAt(double heard, qint64 pulled, qint64 kept);

// The server's output, switching to the null output and back by itself; it never fails.
// A watcher thread of its own notices a loss within a fraction of a second and connects
// again, so neither the UI thread nor the pull threads ever wait on the server.
std::unique_ptr<AudioOutput> openFailoverOutput(int connectTimeoutMs);
// The same over any two outputs: the first may break and reconnect, the second never fails.
std::unique_ptr<AudioOutput> makeFailoverOutput(std::unique_ptr<AudioOutput> server,
                                                std::unique_ptr<AudioOutput> fallback, int connectTimeoutMs);

} // namespace audio
