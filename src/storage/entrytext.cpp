#include "storage/entrytext.h"

#include "storage/entrykeys.h"
#include "storage/modkelini.h"

namespace storage {

QString textToValue(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\') out += QLatin1String("\\\\");
        else if (c == u'\n') out += QLatin1String("\\n");
        else if (c == u'\r') out += QLatin1String("\\r");
        else out += c;
    }
    return out;
}

QString textFromValue(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar next = i + 1 < value.size() ? value[i + 1] : QChar();
        if (value[i] != u'\\' || (next != u'\\' && next != u'n' && next != u'r')) {
            out += value[i];
            continue;
        }
        out += next == u'n' ? QChar(u'\n') : next == u'r' ? QChar(u'\r') : QChar(u'\\');
        ++i;
    }
    return out;
}

QString readTextKey(const QString& section, const QString& n, const QString& strFile)
{
    return textFromValue(ReadINI(section, kFileText + n, QString(), strFile));
}

void writeTextKey(const QString& section, const QString& n, const QString& text, const QString& strFile)
{
    if (text.isEmpty() && ReadINI(section, kFileText + n, QString(), strFile).isEmpty()) return;
    WriteINI(section, kFileText + n, textToValue(text), strFile);
}

} // namespace storage
