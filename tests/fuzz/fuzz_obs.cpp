// Importing a playlist file: any bytes are read, and what was read, exported and imported
// again, stays the same from the second round on (the first may round numbers).
#include "app/numbertext.h"
#include "fuzzkit.h"
#include "storage/filebytes.h"
#include "storage/playlistfile.h"

#include <QFile>

namespace {

QList<EntryRecord> roundTrip(const QList<EntryRecord>& entries, const QString& path)
{
    QFile::remove(path);
    FUZZ_CHECK(storage::ExportPlayListFile(path, entries));
    FUZZ_CHECK(storage::ImportPlayListFile(path));
    return storage::ImportEntries;
}

bool same(const QList<EntryRecord>& a, const QList<EntryRecord>& b)
{
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const EntryRecord &x = a[i], &y = b[i];
        auto n = [](double v) { return numtext::format(v); };
        if (x.FileName != y.FileName || n(x.Start) != n(y.Start) || n(x.Stop) != n(y.Stop) || n(x.Rate) != n(y.Rate) ||
            n(x.Loops) != n(y.Loops) || x.Text != y.Text ||
            storage::practiceTexts(x.Practice) != storage::practiceTexts(y.Practice))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString in = fuzzkit::scratch("in.obs"), out = fuzzkit::scratch("out.obs");
    QFile::remove(in);
    FUZZ_CHECK(storage::writeFileBytes(in, fuzzkit::bytes(data, size)).isEmpty());
    if (!storage::ImportPlayListFile(in)) return 0;
    // Entries whose name cannot be one line are refused by the export as a whole.
    for (const EntryRecord& e : std::as_const(storage::ImportEntries))
        if (e.FileName.contains(u'\n') || e.FileName.contains(u'\r')) return 0;
    const QList<EntryRecord> once = roundTrip(storage::ImportEntries, out);
    FUZZ_CHECK(same(roundTrip(once, out), once));
    return 0;
}
