#include "storage/playlistfile.h"

#include "app/numbertext.h"
#include "services/messages.h"
#include "storage/modkelini.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace storage {

const char* const kPlayListFilter = "Vamplet PlayList File|*.obs;*.vamplet|All Files (*.*)|*.*|";

QList<EntryRecord> ImportEntries;

namespace {

const QString kMain = QStringLiteral("Main");
const QString kPlaylist = QStringLiteral("Playlist");
const QString kCount = QStringLiteral("FileCount");

// The highest entry number any key of the section carries, -1 for none.
qint64 highestEntryKey(const QString& file)
{
    static const QRegularExpression entryKey(QStringLiteral("^File(?:Name|Start|Stop|Rate|Loop)(\\d{1,10})$"),
                                             QRegularExpression::CaseInsensitiveOption);
    qint64 highest = -1;
    for (const QString& key : ReadINIKeys(kPlaylist, file)) {
        const QRegularExpressionMatch m = entryKey.match(key);
        if (m.hasMatch()) highest = std::max(highest, m.captured(1).toLongLong());
    }
    return highest;
}

} // namespace

QString withPlayListExtension(const QString& path)
{
    return path.contains(QLatin1Char('.')) ? path : path + QStringLiteral(".obs");
}

bool confirmOverwrite(const QString& strFile)
{
    return !QFileInfo::exists(strFile) ||
           services::MsgBox(QStringLiteral("File Exists!\n\nOverwrite?"), services::MsgButtons::YesNo,
                            services::MsgIcon::Question, QStringLiteral("Overwrite File?")) == services::vbYes;
}

bool ExportPlayListFile(const QString& strFile, const QList<EntryRecord>& arrEntries)
{
    if (!confirmOverwrite(strFile)) return false;
    // The caller says whether it worked; one message, not one per key.
    IniBatch batch(strFile, FailureReport::ToCaller);
    bool ok = WriteINI(kMain, kCount, numtext::formatInt(std::max<qsizetype>(0, arrEntries.size() - 1)), strFile);
    qint64 i = 0;
    for (const EntryRecord& e : arrEntries) {
        const QString n = QString::number(i++);
        ok &= WriteINI(kPlaylist, QStringLiteral("FileName") + n, e.FileName, strFile);
        ok &= WriteINI(kPlaylist, QStringLiteral("FileStart") + n, numtext::format(e.Start), strFile);
        ok &= WriteINI(kPlaylist, QStringLiteral("FileStop") + n, numtext::format(e.Stop), strFile);
        ok &= WriteINI(kPlaylist, QStringLiteral("FileRate") + n, numtext::format(e.Rate), strFile);
        ok &= WriteINI(kPlaylist, QStringLiteral("FileLoop") + n, numtext::format(e.Loops), strFile);
    }
    return batch.commit() && ok;
}

bool ImportPlayListFile(const QString& strFile)
{
    if (!QFileInfo(strFile).isFile()) {
        services::MsgBox(QStringLiteral("File Not Found!"), services::MsgButtons::OK, services::MsgIcon::Exclamation,
                         QStringLiteral("No File Found!"));
        return false;
    }
    ImportEntries.clear();
    const qint64 count = numtext::parseWhole(ReadINI(kMain, kCount, QStringLiteral("0"), strFile)).value_or(0);
    const qint64 last = std::min(count, highestEntryKey(strFile));
    auto number = [&](const QString& key, const QString& n, const char* fallback, double& field) {
        numtext::assignIfParsed(numtext::parse(ReadINI(kPlaylist, key + n, QString::fromLatin1(fallback), strFile)),
                                field);
    };
    for (qint64 i = 0; i <= last; ++i) {
        const QString n = QString::number(i);
        EntryRecord e;
        e.FileName = ReadINI(kPlaylist, QStringLiteral("FileName") + n, QString(), strFile);
        // An entry without a file is no entry: a list numbered from 1, or an empty export.
        if (e.FileName.isEmpty()) continue;
        number(QStringLiteral("FileStart"), n, "0", e.Start);
        number(QStringLiteral("FileStop"), n, "1", e.Stop);
        number(QStringLiteral("FileRate"), n, "1", e.Rate);
        number(QStringLiteral("FileLoop"), n, "1", e.Loops);
        ImportEntries.append(e);
    }
    return true;
}

} // namespace storage
