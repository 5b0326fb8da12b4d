// The MIDI reader: any bytes are read or refused without harm, and what is read is bounded
// and timed within the song.
#include "fuzzkit.h"
#include "midi/midifile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto song = midi::parse(fuzzkit::bytes(data, size));
    if (!song) return 0;
    FUZZ_CHECK(song->duration > 0 && song->duration <= 2 * 60 * 60);
    for (const midi::Event& e : song->events) FUZZ_CHECK(e.seconds >= 0 && e.sysex.size() <= qsizetype(size));
    return 0;
}
