// The other tools' loop lists, subtitles and lyrics (the first byte picks the format): any
// bytes are read, and what was read, written and read again stays the same from the second
// round on, texts too.
#include "fuzzkit.h"
#include "storage/looplists.h"

using storage::LoopListFormat;

namespace {

bool same(const QList<EntryRecord>& a, const QList<EntryRecord>& b)
{
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i].FileName != b[i].FileName || a[i].Start != b[i].Start || a[i].Stop != b[i].Stop || a[i].Text != b[i].Text)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    constexpr LoopListFormat formats[] = {LoopListFormat::AudacityLabels, LoopListFormat::Cue, LoopListFormat::M3u,
                                          LoopListFormat::MpvEdl, LoopListFormat::Srt, LoopListFormat::WebVtt,
                                          LoopListFormat::Lrc};
    const LoopListFormat format = formats[data[0] % std::size(formats)];
    const QString folder = QStringLiteral("/lists");
    const storage::LoopList first = storage::parseLoopList(format, fuzzkit::bytes(data + 1, size - 1), folder);
    const storage::LoopList second = storage::parseLoopList(format, storage::writeLoopList(format, first.entries).bytes, folder);
    const storage::LoopList third = storage::parseLoopList(format, storage::writeLoopList(format, second.entries).bytes, folder);
    FUZZ_CHECK(same(second.entries, third.entries));
    return 0;
}
