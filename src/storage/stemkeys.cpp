#include "storage/stemkeys.h"

#include "app/numbertext.h"

#include <QRegularExpression>
#include <QStringList>

namespace storage {

namespace {

const QChar kItemSep = u'|';
const QChar kPartSep = u';';

QString dbText(double v)
{
    QString t = QString::number(v, 'f', 6);
    while (t.endsWith(u'0')) t.chop(1);
    if (t.endsWith(u'.')) t.chop(1);
    return (v > 0 ? QStringLiteral("+") : QString()) + t + QStringLiteral("dB");
}

std::optional<double> dbOf(const QString& part)
{
    static const QRegularExpression form(QStringLiteral("^[+-]?[0-9]{1,3}(\\.[0-9]{1,6})?dB$"));
    if (!form.match(part).hasMatch()) return std::nullopt;
    return part.chopped(2).toDouble();
}

} // namespace

QString stemsText(const StemSet& set)
{
    QStringList items;
    for (const Stem& s : set.stems) {
        QString item = s.file;
        if (s.levelDb != 0) item += kPartSep + dbText(s.levelDb);
        if (s.mute) item += kPartSep + QStringLiteral("mute");
        if (s.solo) item += kPartSep + QStringLiteral("solo");
        items << item;
    }
    return items.join(kItemSep);
}

std::optional<StemSet> stemsOf(const QString& text)
{
    StemSet set;
    if (text.isEmpty()) return set;
    for (const QString& item : text.split(kItemSep)) {
        const QStringList parts = item.split(kPartSep);
        Stem s;
        s.file = parts.first();
        bool level = false;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QString& p = parts[i];
            if (p == QLatin1String("mute") && !s.mute) {
                s.mute = true;
            } else if (p == QLatin1String("solo") && !s.solo) {
                s.solo = true;
            } else if (const auto db = dbOf(p); db && !level && !s.mute && !s.solo) {
                s.levelDb = *db;
                level = true;
            } else {
                return std::nullopt;
            }
        }
        set.stems << s;
    }
    if (!stemsProblem(set).isEmpty()) return std::nullopt;
    return set;
}

QString stemsProblem(const StemSet& set)
{
    if (set.stems.size() > stems::kMaxStems)
        return QStringLiteral("An entry plays at most %1 stems.").arg(stems::kMaxStems);
    for (const Stem& s : set.stems) {
        if (s.file.trimmed().isEmpty()) return QStringLiteral("A stem needs a file.");
        if (s.file.contains(kItemSep) || s.file.contains(kPartSep))
            return QStringLiteral("A stem's file name may not hold \"|\" or \";\": %1").arg(s.file);
        if (!(s.levelDb >= stems::kMinLevelDb && s.levelDb <= stems::kMaxLevelDb))
            return QStringLiteral("A stem's level must be from %1 to %2 dB.")
                .arg(numtext::format(stems::kMinLevelDb), numtext::format(stems::kMaxLevelDb));
    }
    return {};
}

} // namespace storage
