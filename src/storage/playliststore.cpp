#include "storage/playliststore.h"

#include "app/numbertext.h"
#include "storage/entrykeys.h"
#include "storage/entrytext.h"
#include "storage/filebytes.h"
#include "storage/modkelini.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace storage {
namespace {

const QString kPlayListCount = QStringLiteral("PlayListCount");
const QString kPlayList = QStringLiteral("PlayList");
const QString kLastPlayList = QStringLiteral("LastPlayList");
const QString kMissingName = QStringLiteral("INI FILE ERROR!");

QString read(const QString& section, const QString& key, const QString& defaultValue)
{
    return DoINI(section, key, defaultValue, false, QString());
}

void write(const QString& section, const QString& key, const QString& value)
{
    DoINI(section, key, value, true, QString());
}

ReadNotice noticeOf(const IniBatch& batch, bool cut, qint32 refused = 0)
{
    return {batch.path(), batch.readProblem(), cut || batch.valuesCut(), refused};
}

WriteOutcome outcomeOf(IniBatch& batch)
{
    batch.commit();
    return {batch.path(), batch.error(), batch.wrote()};
}

} // namespace

int PlayListNames::selection() const
{
    if (last.isEmpty()) return names.isEmpty() ? -1 : 0;
    return int(names.indexOf(last));
}

PlayListNames readPlayListNames()
{
    IniBatch hold;  // one look at the file for all the reads
    PlayListNames result;
    const qint64 count = std::max(0, numtext::parseWhole(read(kMainSection, kPlayListCount, QStringLiteral("0"))).value_or(0));
    result.last = read(kMainSection, kLastPlayList, QString());
    // A registered number without a name shows as an error item, but only up to the
    // highest name the file holds: a count alone makes no items.
    const QList<qint64> present = ReadINIKeyNumbers(kMainSection, {kPlayList}, 1, count, QString());
    const qint64 highest = present.isEmpty() ? 0 : present.last();
    const qint64 shown = std::min<qint64>(highest, kMaxPlayLists);
    result.names.reserve(shown);
    for (qint64 n = 1; n <= shown; ++n) result.names.append(read(kMainSection, kPlayList + QString::number(n), kMissingName));
    result.notice = noticeOf(hold, shown < highest);
    return result;
}

WriteOutcome AddNewPlayList(const QString& strNewList)
{
    IniBatch batch;
    const qint64 n = qint64(numtext::parseWhole(read(kMainSection, kPlayListCount, QStringLiteral("0"))).value_or(0)) + 1;
    write(kMainSection, kPlayListCount, numtext::formatInt(n));
    write(kMainSection, kPlayList + QString::number(n), strNewList);
    write(kMainSection, kLastPlayList, strNewList);
    return outcomeOf(batch);
}

QList<EntryRecord> loadPlayList(const QString& name, ReadNotice* notice)
{
    IniBatch hold;
    const qint64 count = numtext::parseWhole(u'0' + read(name, kFileCount, QStringLiteral("0"))).value_or(0);
    QList<qint64> numbers =
        ReadINIKeyNumbers(name, {kFileName, kFileStart, kFileStop, kFileRate, kFileLoop}, 1, count, QString());
    const bool cut = numbers.size() > kMaxEntries;
    if (cut) numbers.resize(kMaxEntries);
    QList<EntryRecord> entries;
    entries.reserve(numbers.size());
    // Carried from entry to entry: a value that does not convert keeps the last one.
    double start = 0, stop = 0, rate = 0, loops = 0;
    const QString zero = QStringLiteral("0"), one = QStringLiteral("1");
    qint32 row = 0, refused = 0;
    for (const qint64 i : std::as_const(numbers)) {
        const QString n = QString::number(i);
        EntryRecord e;
        e.Index = ++row;
        e.FileName = read(name, kFileName + n, QString());
        numtext::assignIfParsed(numtext::parseZeroPrefixed(read(name, kFileStart + n, zero)), start);
        numtext::assignIfParsed(numtext::parseZeroPrefixed(read(name, kFileStop + n, one)), stop);
        numtext::assignIfParsed(numtext::parseZeroPrefixed(read(name, kFileRate + n, one)), rate);
        numtext::assignIfParsed(numtext::parseZeroPrefixed(read(name, kFileLoop + n, one)), loops);
        e.Start = start;
        e.Stop = stop;
        e.Rate = rate;
        e.Loops = loops;
        int bad = 0;
        e.Practice = practiceOf(readPracticeKeys(name, n, QString()), &bad);
        refused += bad;
        e.Text = readTextKey(name, n, QString());
        entries.append(std::move(e));
    }
    if (notice) *notice = noticeOf(hold, cut, refused);
    return entries;
}

WriteOutcome setLastPlayList(const QString& name)
{
    IniBatch batch;
    // No "LastPlayList" already means the first one: the program showing it at start-up
    // is no choice of the user's to write down.
    const bool implied = read(kMainSection, kLastPlayList, QString()).isEmpty() &&
                         read(kMainSection, kPlayList + QStringLiteral("1"), QString()) == name &&
                         readPlayListNames().selection() == 0;
    if (!implied) write(kMainSection, kLastPlayList, name);
    return outcomeOf(batch);
}

QString noPlayListText()
{
    return QStringLiteral("You must create a playlist first!\nClick on the + button next to the drop down box");
}

SaveResult SavePlayList(const QString& name, const QList<EntryTexts>& rows, WriteOutcome* outcome)
{
    // The rule belongs to saving, wherever the save is started from.
    if (name.isEmpty()) return SaveResult::NoPlayList;
    IniBatch batch;
    write(name, kFileCount, numtext::formatInt(rows.size()));
    qint32 i = 0;
    for (const EntryTexts& row : rows) {
        const QString n = QString::number(++i);
        write(name, kFileName + n, row.fileName);
        write(name, kFileStart + n, row.start);
        write(name, kFileStop + n, row.stop);
        write(name, kFileRate + n, row.rate);
        write(name, kFileLoop + n, row.loops);
        writePracticeKeys(name, n, row.practice, QString());
        writeTextKey(name, n, row.text, QString());
    }
    const WriteOutcome result = outcomeOf(batch);
    if (outcome) *outcome = result;
    return result ? SaveResult::Saved : SaveResult::Failed;
}

QString playListFileWriteProblem()
{
    // A file that cannot be read is told so when it is read: that is the whole story.
    const QString path = iniFilePath(QString());
    if (::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK, AT_EACCESS) != 0 && errno != ENOENT) return {};
    return writeProblem(path);
}

} // namespace storage
