#pragma once
// What marks a bar's first beat in a recording besides the spectral change the tracker's
// downbeat finder hears: the bass drum or bass note that lands on it (a rise of the low
// band's energy) and the chord that changes there (a change of the pitch classes sounding).
// Pure functions of a mono sound at a low rate; any thread.
#include <array>
#include <cstddef>
#include <vector>

namespace beats {

using Chroma = std::array<double, 12>;

// The rise of the energy under about 150 Hz at each beat (`beats`: positions in samples of
// `sound`, ascending), in log units, the steepest within a step either side.
std::vector<double> lowRise(const float* sound, size_t length, double rate, const std::vector<double>& beats);

// The pitch classes sounding between each beat and the next (one fewer than the beats),
// each of unit length; all zero where nothing sounds.
std::vector<Chroma> chromaBetween(const float* sound, size_t length, double rate, const std::vector<double>& beats);

// At each beat, how far the chroma of the `span` beats after it lies from that of the
// `span` before (1 - cosine); 0 where either side is missing or silent.
std::vector<double> harmonicChange(const std::vector<Chroma>& between, size_t beats, size_t span);

// What each beat's being a downbeat is worth, for Analyser's bar following: the spectral
// change into it (`changeInto[i]` belongs to beat i + 1, as the downbeat finder gives it),
// plus half of each other cue at the beat (`low`, `harmonic`, `onset`: one a beat), each
// taken against its own mean over the piece. One a beat from the second on, mean about 1.
std::vector<double> barAccents(const std::vector<double>& changeInto, const std::vector<double>& low,
                               const std::vector<double>& harmonic, const std::vector<double>& onset);

} // namespace beats
