#pragma once
// A line of text drawn by mpv over the picture (its OSD, as ASS events): the video's view
// is a native window of its own, over which no widget can draw.
#include <QByteArray>
#include <QSize>
#include <QString>

namespace engine {

// `text` as ASS shows it literally: no override tags, no escapes, its spaces and line
// breaks kept.
QString assLiteral(const QString& text);

// The font height, in device pixels, of a line over a picture `logical` in size at
// `devicePixelRatio`: grows with the picture, never under `minimumPixels` (logical).
int lineFontPixels(QSize logical, double devicePixelRatio, int minimumPixels);

// The ASS event that shows `text` centred at the bottom, white on a dark outline.
QByteArray lineEvent(const QString& text, int fontPixels);

} // namespace engine
