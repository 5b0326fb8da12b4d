#include "storage/stemfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <array>

namespace storage {

namespace {

// The names separation tools give their stems, in the order a mixer shows them.
constexpr std::array kWords{"vocals", "drums", "bass", "other", "piano", "guitar", "accompaniment"};
constexpr std::array kSoundExtensions{"wav", "flac", "mp3", "ogg", "opus", "m4a", "aiff", "aif", "wv"};

int wordRank(const QString& word)
{
    for (std::size_t i = 0; i < kWords.size(); ++i)
        if (word == QLatin1String(kWords[i])) return int(i);
    return -1;
}

// The name without its extension, where the extension is a sound file's; else none.
QString soundBase(const QString& fileName)
{
    const int dot = fileName.lastIndexOf(u'.');
    if (dot <= 0) return {};
    const QString ext = fileName.mid(dot + 1).toLower();
    if (std::none_of(kSoundExtensions.begin(), kSoundExtensions.end(), [&](const char* e) { return ext == QLatin1String(e); }))
        return {};
    return fileName.left(dot);
}

struct Parsed {
    QString song, word;
};

Parsed parse(const QString& fileName)
{
    const QString base = soundBase(fileName);
    if (base.isEmpty()) return {};
    const QString lower = base.toLower();
    for (const char* w : kWords) {
        const QLatin1String word(w);
        if (lower == word) return {QString(), word};
        // The song's name, a separator, the word.
        if (lower.size() > word.size() + 1 && lower.endsWith(word)) {
            const QChar sep = lower.at(lower.size() - word.size() - 1);
            if (sep == u'.' || sep == u'_' || sep == u'-' || sep == u' ')
                return {base.left(base.size() - word.size() - 1), word};
        }
    }
    return {};
}

QStringList stemsOfSong(const QString& song, const QStringList& names)
{
    QStringList found;
    QSet<QString> words;
    for (const QString& n : names) {
        const Parsed p = parse(n);
        if (p.word.isEmpty() || p.song != song || words.contains(p.word)) continue;
        words.insert(p.word);
        found << n;
    }
    if (found.size() < 2) return {};
    std::stable_sort(found.begin(), found.end(),
                     [](const QString& a, const QString& b) { return wordRank(parse(a).word) < wordRank(parse(b).word); });
    return found;
}

} // namespace

QString stemWordOf(const QString& fileName) { return parse(fileName).word; }
QString stemSongOf(const QString& fileName) { return parse(fileName).song; }

QStringList stemsBeside(const QString& fileName, const QStringList& names)
{
    const Parsed p = parse(fileName);
    // The song itself: its stems carry its name.
    const QString song = p.word.isEmpty() ? soundBase(fileName) : p.song;
    if (p.word.isEmpty() && song.isEmpty()) return {};
    return stemsOfSong(song, names);
}

QStringList stemsOfFolder(const QStringList& names)
{
    QStringList songs;
    for (const QString& n : names) {
        const Parsed p = parse(n);
        if (!p.word.isEmpty() && !songs.contains(p.song)) songs << p.song;
    }
    for (const QString& song : songs)
        if (QStringList s = stemsOfSong(song, names); !s.isEmpty()) return s;
    return {};
}

QStringList findStems(const QString& path)
{
    const QFileInfo info(path);
    const QDir dir = info.absoluteDir();
    if (QStringList s = stemsBeside(info.fileName(), dir.entryList(QDir::Files)); !s.isEmpty()) return s;
    const QDir own(dir.filePath(info.completeBaseName()));
    if (!own.exists()) return {};
    QStringList s = stemsOfFolder(own.entryList(QDir::Files));
    for (QString& n : s) n = info.completeBaseName() + u'/' + n;
    return s;
}

} // namespace storage
