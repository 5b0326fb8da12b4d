// The media probe on any file: it says what the file holds or why not, without harm, and
// a length it gives is a length.
#include "fuzzkit.h"
#include "engine/mediaprobe.h"
#include "storage/filebytes.h"

#include <QFile>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A new name each time: the probe remembers files by name and date.
    static int n = 0;
    const QString path = fuzzkit::scratch("probe") + QString::number(n++ % 2) + QStringLiteral(".bin");
    QFile::remove(path);
    FUZZ_CHECK(storage::writeFileBytes(path, fuzzkit::bytes(data, size)).isEmpty());
    const engine::MediaProbe probe = engine::probeMedia(path);
    FUZZ_CHECK(std::isfinite(probe.duration) && probe.duration >= 0);
    FUZZ_CHECK(probe.ok || !probe.error.isEmpty());
    return 0;
}
