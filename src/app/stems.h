#pragma once
// Stems: separate parts of one recording (vocals, drums, bass ...), files of the same length
// that play together in place of the entry's own file, each with a level, mute and solo.
// An entry without stems plays its file as before.
#include <QString>
#include <QVector>

#include <cmath>

struct Stem {
    QString file;      // as the entry keeps it: relative to the entry's file's folder, or absolute
    double levelDb = 0;
    bool mute = false;
    bool solo = false;
    bool operator==(const Stem&) const = default;
};

struct StemSet {
    QVector<Stem> stems;

    bool any() const { return !stems.isEmpty(); }
    bool anySolo() const
    {
        for (const Stem& s : stems)
            if (s.solo) return true;
        return false;
    }
    // The linear gain stem `i` is mixed at: muted, or not soloed while another is, is 0.
    double gain(int i) const
    {
        const Stem& s = stems.at(i);
        if (s.mute || (!s.solo && anySolo())) return 0;
        return std::pow(10.0, s.levelDb / 20.0);
    }
    // The same files in the same order (the levels aside): nothing to open anew.
    bool sameFiles(const StemSet& o) const
    {
        if (o.stems.size() != stems.size()) return false;
        for (int i = 0; i < stems.size(); ++i)
            if (stems[i].file != o.stems[i].file) return false;
        return true;
    }
    bool operator==(const StemSet&) const = default;
};

namespace stems {
// More stems than a separation tool makes; the engine's mix holds this many.
inline constexpr int kMaxStems = 8;
inline constexpr double kMinLevelDb = -60, kMaxLevelDb = 12;
} // namespace stems
