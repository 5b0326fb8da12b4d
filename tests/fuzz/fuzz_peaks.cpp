// The waveform peaks cache: any bytes are refused or read, and peaks read are written back
// as bytes that read as the same peaks.
#include "fuzzkit.h"
#include "waveform/peaks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto peaks = waveform::Peaks::deserialize(fuzzkit::bytes(data, size));
    if (!peaks) return 0;
    float lo = 0, hi = 0;
    (void)peaks->range(0, peaks->framesDone, lo, hi);
    const QByteArray written = peaks->serialize();
    const auto again = waveform::Peaks::deserialize(written);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->serialize() == written);
    return 0;
}
