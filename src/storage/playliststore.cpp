#include "storage/playliststore.h"

#include "app/numbertext.h"
#include "services/messages.h"
#include "storage/modkelini.h"

#include <algorithm>

namespace storage {
namespace {

const QString kMain = QStringLiteral("Main");
const QString kPlayListCount = QStringLiteral("PlayListCount");
const QString kPlayList = QStringLiteral("PlayList");
const QString kLastPlayList = QStringLiteral("LastPlayList");
const QString kMissingName = QStringLiteral("INI FILE ERROR!");
const QString kFileCount = QStringLiteral("FileCount");
const QString kFileName = QStringLiteral("FileName");
const QString kFileStart = QStringLiteral("FileStart");
const QString kFileStop = QStringLiteral("FileStop");
const QString kFileRate = QStringLiteral("FileRate");
const QString kFileLoop = QStringLiteral("FileLoop");

QString read(const QString& section, const QString& key, const QString& defaultValue)
{
    return DoINI(section, key, defaultValue, false, QString());
}

void write(const QString& section, const QString& key, const QString& value)
{
    DoINI(section, key, value, true, QString());
}

qint32 storedCount(const std::optional<qint32>& parsed)
{
    return std::clamp(parsed.value_or(0), 0, kMaxStoredCount);
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
    const qint32 count = storedCount(numtext::parseWhole(read(kMain, kPlayListCount, QStringLiteral("0"))));
    result.last = read(kMain, kLastPlayList, QString());
    result.names.reserve(count);
    for (qint32 n = 1; n <= count; ++n) result.names.append(read(kMain, kPlayList + QString::number(n), kMissingName));
    return result;
}

bool AddNewPlayList(const QString& strNewList)
{
    IniBatch batch;
    const qint64 n = qint64(numtext::parseWhole(read(kMain, kPlayListCount, QStringLiteral("0"))).value_or(0)) + 1;
    write(kMain, kPlayListCount, numtext::formatInt(n));
    write(kMain, kPlayList + QString::number(n), strNewList);
    write(kMain, kLastPlayList, strNewList);
    return batch.commit();
}

QString AddPlayListFromPrompt()
{
    const QString name = services::InputBox(QStringLiteral("Enter the name of the new Play List"),
                                            QStringLiteral("New Play List"), QStringLiteral("My Play List"));
    if (name.isEmpty()) return {};
    AddNewPlayList(name);
    return name;
}

QList<EntryRecord> loadPlayList(const QString& name)
{
    IniBatch hold;
    const qint32 count = storedCount(numtext::parseWhole(u'0' + read(name, kFileCount, QStringLiteral("0"))));
    QList<EntryRecord> entries;
    entries.reserve(count);
    // Carried from entry to entry: a value that does not convert keeps the last one.
    double start = 0, stop = 0, rate = 0, loops = 0;
    const QString zero = QStringLiteral("0"), one = QStringLiteral("1");
    for (qint32 i = 1; i <= count; ++i) {
        const QString n = QString::number(i);
        EntryRecord e;
        e.Index = i;
        e.FileName = read(name, kFileName + n, QString());
        numtext::assignIfParsed(numtext::parseZeroPrefixed(read(name, kFileStart + n, zero)), start);
        numtext::assignIfParsed(numtext::parseZeroPrefixed(read(name, kFileStop + n, one)), stop);
        numtext::assignIfParsed(numtext::parseZeroPrefixed(read(name, kFileRate + n, one)), rate);
        numtext::assignIfParsed(numtext::parseZeroPrefixed(read(name, kFileLoop + n, one)), loops);
        e.Start = start;
        e.Stop = stop;
        e.Rate = rate;
        e.Loops = loops;
        entries.append(std::move(e));
    }
    return entries;
}

void setLastPlayList(const QString& name)
{
    write(kMain, kLastPlayList, name);
}

void showNoPlayListMessage(QWidget* parent)
{
    services::MsgBox(QStringLiteral("You must create a playlist first!\nClick on the + button next to the drop down box"),
                     services::MsgButtons::OK, services::MsgIcon::None, QString(), parent);
}

SaveResult SavePlayList(const QString& name, const QList<EntryTexts>& rows)
{
    // The rule belongs to saving, wherever the save is started from.
    if (name.isEmpty()) {
        showNoPlayListMessage();
        return SaveResult::NoPlayList;
    }
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
    }
    return batch.commit() ? SaveResult::Saved : SaveResult::Failed;
}

} // namespace storage
