#pragma once
// Media that tests and benchmarks write for themselves.
#include <QByteArray>
#include <QString>

namespace testmedia {

// 16-bit mono at 44.1 kHz: a 440 Hz tone that swells, with `title` as its tag.
bool writeWav(const QString& path, double seconds, const QByteArray& title);

bool writeFile(const QString& path, const QByteArray& bytes);

// A test-card video made by ffmpeg (`withSound` adds a tone); false when ffmpeg is
// missing or fails.
bool makeVideo(const QString& path, double seconds, bool withSound);

} // namespace testmedia
