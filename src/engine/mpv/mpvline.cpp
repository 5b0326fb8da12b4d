#include "engine/mpv/mpvline.h"

#include <algorithm>
#include <cmath>

namespace engine {

QString assLiteral(const QString& text)
{
    QString out;
    out.reserve(text.size() + 8);
    bool lineStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) continue;
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            out += QLatin1String("\\N");
            lineStart = true;
            continue;
        }
        if (c == QLatin1Char(' ') && lineStart) {
            out += QLatin1String("\\h");  // libass drops a line's leading spaces
            continue;
        }
        lineStart = false;
        if (c == QLatin1Char('{')) {
            out += QLatin1String("\\{");  // not the start of override tags
        } else if (c == QLatin1Char('\\')) {
            // A word joiner after it: "\N", "\h" and the like stay as written.
            out += QLatin1Char('\\');
            out += QChar(0x2060);
        } else {
            out += c;
        }
    }
    return out;
}

int lineFontPixels(QSize logical, double devicePixelRatio, int minimumPixels)
{
    // About a twelfth of the picture's height, as subtitles are set, and no wider than
    // some thirty characters across its width would allow.
    const double byHeight = logical.height() / 12.0;
    const double byWidth = logical.width() / 16.0;
    const double px = std::max<double>(minimumPixels, std::min(byHeight, byWidth));
    return std::max(1, int(std::lround(px * std::max(1.0, devicePixelRatio))));
}

QByteArray lineEvent(const QString& text, int fontPixels)
{
    // Bottom centre, bold, with a dark outline of a twelfth of its height: readable on any picture.
    const int outline = std::max(1, fontPixels / 12);
    const QString tags = QStringLiteral("{\\an2\\b1\\fs%1\\bord%2\\shad%3\\1c&HFFFFFF&\\3c&H000000&}")
                             .arg(fontPixels)
                             .arg(outline)
                             .arg(std::max(1, outline / 2));
    return (tags + assLiteral(text)).toUtf8();
}

} // namespace engine
