// The beat grid cache: any bytes are refused or read; a grid read answers every question
// without reading outside itself, and is written back as bytes that read as the same grid.
#include "beats/beatgrid.h"
#include "fuzzkit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto grid = beats::BeatGrid::deserialize(fuzzkit::bytes(data, size));
    if (!grid) return 0;
    const double at[] = {-1e9, -1, 0, 0.5, 1e9};
    for (double t : at) {
        (void)grid->snap(t);
        (void)grid->tempoAt(t);
        (void)grid->barsFrom(t, 4);
        (void)grid->barStart(-3);
    }
    const QByteArray written = grid->serialize();
    FUZZ_CHECK(beats::BeatGrid::deserialize(written) == grid);
    return 0;
}
