// The INI reader: any bytes are read; written back unchanged they are the same bytes, and
// a value set is read back from the bytes written.
#include "fuzzkit.h"
#include "storage/inifile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray in = fuzzkit::bytes(data, size);
    storage::IniFile doc = storage::IniFile::fromBytes(in);
    FUZZ_CHECK(doc.toBytes() == in);
    for (const QString& section : doc.sectionNames()) (void)doc.keys(section);
    if (doc.setValue(QStringLiteral("Main"), QStringLiteral("FileCount"), QStringLiteral("7 x"))) {
        const storage::IniFile again = storage::IniFile::fromBytes(doc.toBytes());
        FUZZ_CHECK(again.value(QStringLiteral("main"), QStringLiteral("filecount")) == QStringLiteral("7 x"));
    }
    return 0;
}
