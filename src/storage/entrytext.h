#pragma once
// An entry's text (a subtitle's line, a lyric, a label) as one INI value under "FileText"
// followed by the entry's number, beside the five keys. A value holds one line, so a line
// break in the text is written "\n" (a carriage return "\r") and a backslash "\\"; any
// other backslash reads as itself. The value is bounded on reading like every other one.
#include <QString>

namespace storage {

QString textToValue(const QString& text);
QString textFromValue(const QString& value);

// The text of entry `n` in `section` of `strFile` ("" is the program's INI file).
QString readTextKey(const QString& section, const QString& n, const QString& strFile);
// An entry with no text writes no key, and empties one that holds a value now, so no
// reader meets a stale text.
void writeTextKey(const QString& section, const QString& n, const QString& text, const QString& strFile);

} // namespace storage
