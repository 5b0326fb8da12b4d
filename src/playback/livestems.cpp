#include "playback/livestems.h"

#include "playback/entryplayer.h"
#include "playback/listplay.h"
#include "playback/liveloop.h"
#include "storage/stemfiles.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace playback {

namespace {
constexpr double kLevelStepDb = 3;
}

StemSet steppedStems(StemSet set, int stem, StemStep step)
{
    if (stem < 0 || stem >= set.stems.size()) return set;
    Stem& s = set.stems[stem];
    switch (step) {
    case StemStep::Mute: s.mute = !s.mute; break;
    case StemStep::Solo: s.solo = !s.solo; break;
    case StemStep::LevelUp: s.levelDb = std::min(stems::kMaxLevelDb, s.levelDb + kLevelStepDb); break;
    case StemStep::LevelDown: s.levelDb = std::max(stems::kMinLevelDb, s.levelDb - kLevelStepDb); break;
    case StemStep::LevelZero: s.levelDb = 0; break;
    }
    return set;
}

QString stemCaption(const Stem& stem)
{
    const QString name = QFileInfo(stem.file).fileName();
    const QString word = storage::stemWordOf(name);
    return word.isEmpty() ? name : word;
}

QString stemPathFor(const QString& entryFile, const QString& path)
{
    const QDir folder = QFileInfo(entryFile).absoluteDir();
    const QString whole = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString relative = folder.relativeFilePath(whole);
    return relative.startsWith(QLatin1String("../")) || relative == QLatin1String("..") || QDir::isAbsolutePath(relative)
               ? whole
               : relative;
}

StemSet withStemsAdded(StemSet set, const QStringList& files)
{
    for (const QString& f : files) {
        if (set.stems.size() >= stems::kMaxStems) break;
        const bool held = std::any_of(set.stems.begin(), set.stems.end(), [&](const Stem& s) { return s.file == f; });
        if (!held) set.stems << Stem{f};
    }
    return set;
}

LiveStems::LiveStems(EntryPlayer* playback, QObject* parent) : QObject(parent), m_playback(playback) {}

StemSet LiveStems::current() const
{
    return m_playback->inPlay() ? m_playback->current().practice.stems : StemSet{};
}

void LiveStems::apply(int stem, StemStep step)
{
    if (m_playback->inPlay()) change(steppedStems(current(), stem, step));
}

bool LiveStems::findBeside()
{
    if (!m_playback->inPlay()) return false;
    const QStringList found = storage::findStems(m_playback->current().file);
    if (found.isEmpty()) return false;
    StemSet set;
    for (const QString& f : found) set.stems << Stem{f};
    change(set);
    return true;
}

void LiveStems::clear()
{
    if (m_playback->inPlay() && current().any()) change(StemSet{});
}

void LiveStems::change(const StemSet& set)
{
    const EntryStretch& e = m_playback->current();
    PracticeSettings practice = e.practice;
    practice.stems = set;
    m_playback->changePractice(practice);
    const int row = m_playingRow ? m_playingRow() : 0;
    if (changeRowPractice(m_list ? m_list() : nullptr, row, e.file, e.start, e.stop, e.wholeFile,
                          [&](PracticeSettings& kept) { kept.stems = set; }))
        emit rowChanged(row);
}

} // namespace playback
