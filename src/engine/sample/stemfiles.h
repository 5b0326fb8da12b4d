#pragma once
// An entry's stems opened for the sample engine's worker: decoded at the rate the entry's
// own file is, mixed at the set's gains.
#include "app/stems.h"
#include "audio/stemmix.h"

#include <QStringList>

#include <memory>
#include <vector>

namespace engine {

struct OpenStems {
    std::unique_ptr<audio::StemMix> mix;  // none: the entry plays its own file
    QStringList paths;                    // absolute, the set's identity
};

// The stems' files as absolute paths, relative ones taken from `mainPath`'s folder.
QStringList stemPaths(const StemSet& set, const QString& mainPath);
std::vector<float> stemGains(const StemSet& set);
// Opens the set's files at `sampleRate`; `frames` is the entry's file's length. A file that
// does not open is left out (silent); none open, no mix.
OpenStems openStems(const StemSet& set, const QString& mainPath, int sampleRate, qint64 frames);

} // namespace engine
