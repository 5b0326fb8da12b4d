#pragma once
// What an entry may add to its five fields for practice. Every part is off by default, so
// an entry without these settings plays exactly as before.
#include "app/hear.h"
#include "app/stems.h"

#include <QtGlobal>

struct PracticeSettings {
    // Silence before each pass, in seconds.
    double pause = 0;
    // Or, above 0, that silence as a multiple of the pass's own heard length ("1.5x"), so a
    // learner has time to repeat a line of any length.
    double pauseFactor = 0;

    // Clicks before the first pass (or before every pass), at `countInBpm` clicks a minute.
    enum class CountInWhen { First = 0, EveryPass = 1 };
    qint32 countInClicks = 0;
    double countInBpm = 120;
    CountInWhen countInWhen = CountInWhen::First;
    // The count-in is one bar of the file's own beats instead, at its tempo and meter, the
    // clicks above being what plays while no beats are known.
    bool countInAuto = false;
    // A click on every beat of the file while a pass plays, the bars' first beats higher.
    bool metronome = false;

    // Speed trainer: the first pass at `trainerStartRate`, then `trainerStep` more (or less)
    // every `trainerPassesPerStep` passes until the entry's own rate, then staying there.
    // A start rate of 0 means no trainer.
    double trainerStartRate = 0;
    double trainerStep = 0.05;
    qint32 trainerPassesPerStep = 1;

    // Transpose, independent of the rate.
    qint32 transposeSemitones = 0;
    qint32 transposeCents = 0;

    // How the entry is heard; the engines take it apart from the passes, so changing it
    // never starts a pass again.
    HearSettings hear;
    // Stems played in place of the file; their levels change live, as the hear settings do.
    StemSet stems;

    bool hasPause() const { return pause > 0; }
    bool hasPauseFactor() const { return pauseFactor > 0; }
    bool hasCountIn() const { return countInClicks > 0 && countInBpm > 0; }
    bool usesBeats() const { return (countInAuto && hasCountIn()) || metronome; }
    bool hasTrainer() const { return trainerStartRate > 0; }
    bool hasTranspose() const { return transposeSemitones != 0 || transposeCents != 0; }
    bool any() const
    {
        return hasPause() || hasPauseFactor() || hasCountIn() || hasTrainer() || hasTranspose() || metronome || hear.any() || stems.any();
    }
    double pitchScale() const;  // frequency ratio of the transpose

    bool operator==(const PracticeSettings&) const = default;
};

// Bounds of what an entry may ask for; anything beyond is refused, not cut. The playlist
// file's reader holds its texts to them, and the engines size their buffers by them.
namespace practice {
inline constexpr double kMaxPause = 60;
inline constexpr double kMinPauseFactor = 0.1, kMaxPauseFactor = 10;
inline constexpr qint32 kMaxCountInClicks = 32;
// The bar an automatic count-in plays where no beats are known yet.
inline constexpr qint32 kAutoCountInClicks = 4;
inline constexpr double kMinCountInBpm = 20, kMaxCountInBpm = 400;
inline constexpr double kMinTrainerRate = 0.1, kMaxTrainerRate = 4;
inline constexpr double kMinTrainerStep = 0.001, kMaxTrainerStep = 1;
inline constexpr qint32 kMaxTrainerPassesPerStep = 100;
inline constexpr qint32 kMaxSemitones = 24, kMaxCents = 99;
} // namespace practice
