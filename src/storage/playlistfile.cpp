#include "storage/playlistfile.h"

#include "app/numbertext.h"
#include "storage/entrykeys.h"
#include "storage/entrytext.h"
#include "storage/modkelini.h"

#include <QFileInfo>

namespace storage {

QList<EntryRecord> ImportEntries;

namespace {

const QString kPlaylist = QStringLiteral("Playlist");

} // namespace

QString withPlayListExtension(const QString& path)
{
    return path.contains(QLatin1Char('.')) ? path : path + QStringLiteral(".obs");
}

WriteOutcome ExportPlayListFile(const QString& strFile, const QList<EntryRecord>& arrEntries)
{
    IniBatch batch(strFile);
    WriteINI(kMainSection, kFileCount, numtext::formatInt(std::max<qsizetype>(0, arrEntries.size() - 1)), strFile);
    qint64 i = 0;
    for (const EntryRecord& e : arrEntries) {
        const QString n = QString::number(i++);
        WriteINI(kPlaylist, kFileName + n, e.FileName, strFile);
        WriteINI(kPlaylist, kFileStart + n, numtext::format(e.Start), strFile);
        WriteINI(kPlaylist, kFileStop + n, numtext::format(e.Stop), strFile);
        WriteINI(kPlaylist, kFileRate + n, numtext::format(e.Rate), strFile);
        WriteINI(kPlaylist, kFileLoop + n, numtext::format(e.Loops), strFile);
        writePracticeKeys(kPlaylist, n, practiceTexts(e.Practice), strFile);
        writeTextKey(kPlaylist, n, e.Text, strFile);
    }
    batch.commit();
    return {batch.path(), batch.error(), batch.wrote()};
}

ImportOutcome ImportPlayListFile(const QString& strFile)
{
    ImportOutcome result;
    if (!QFileInfo(strFile).isFile()) return result;
    ImportEntries.clear();
    IniBatch hold(strFile);
    const qint64 count = numtext::parseWhole(ReadINI(kMainSection, kFileCount, QStringLiteral("0"), strFile)).value_or(0);
    // An entry without a file is no entry (a list numbered from 1, or an empty export),
    // so only numbers that have a file name are read.
    QList<qint64> numbers = ReadINIKeyNumbers(kPlaylist, {kFileName}, 0, count, strFile);
    const bool cut = numbers.size() > kMaxEntries;
    if (cut) numbers.resize(kMaxEntries);
    auto number = [&](const QString& key, const QString& n, const char* fallback, double& field) {
        numtext::assignIfParsed(numtext::parse(ReadINI(kPlaylist, key + n, QString::fromLatin1(fallback), strFile)),
                                field);
    };
    qint32 refused = 0;
    for (const qint64 i : std::as_const(numbers)) {
        const QString n = QString::number(i);
        EntryRecord e;
        e.FileName = ReadINI(kPlaylist, kFileName + n, QString(), strFile);
        if (e.FileName.isEmpty()) continue;
        number(kFileStart, n, "0", e.Start);
        number(kFileStop, n, "1", e.Stop);
        number(kFileRate, n, "1", e.Rate);
        number(kFileLoop, n, "1", e.Loops);
        int bad = 0;
        e.Practice = practiceOf(readPracticeKeys(kPlaylist, n, strFile), &bad);
        refused += bad;
        e.Text = readTextKey(kPlaylist, n, strFile);
        ImportEntries.append(e);
    }
    result.notice = {hold.path(), hold.readProblem(), cut || hold.valuesCut(), refused};
    result.status = result.notice.unreadable.isEmpty() ? ImportOutcome::Status::Read : ImportOutcome::Status::Unreadable;
    return result;
}

} // namespace storage
