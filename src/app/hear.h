#pragma once
// How an entry is heard, to pick one part out of a mix: a band, the centre cancelled or kept,
// one channel, and a gain. Every part is off by default, so an entry without these settings
// sounds exactly as before.
#include <QtGlobal>

#include <array>

struct HearSettings {
    // The band's edges in Hz; 0 leaves that side open.
    double lowCut = 0;
    double highCut = 0;

    // Cancel keeps what differs between the channels (the centre goes); keep keeps only what
    // they share.
    enum class Centre { Normal = 0, Cancel = 1, Keep = 2 };
    Centre centre = Centre::Normal;

    // Left or right: that channel alone, on both sides; mono: both, mixed.
    enum class Channels { Both = 0, Left = 1, Right = 2, Mono = 3 };
    Channels channels = Channels::Both;

    double gainDb = 0;

    bool hasBand() const { return lowCut > 0 || highCut > 0; }
    bool any() const { return hasBand() || centre != Centre::Normal || channels != Channels::Both || gainDb != 0; }
    // The centre and channel choice as one matrix on (left, right): left out is
    // m[0] l + m[1] r, right out m[2] l + m[3] r. Every engine mixes by it.
    std::array<double, 4> matrix() const;
    bool operator==(const HearSettings&) const = default;
};

// Bounds of what an entry may ask for; anything beyond is refused, not cut.
namespace hear {
inline constexpr double kMinCut = 20, kMaxCut = 20000;
inline constexpr double kMinGainDb = -24, kMaxGainDb = 24;

// The bands a part is usually found in.
struct Preset {
    const char* name;
    double lowCut, highCut;
};
inline constexpr Preset kPresets[] = {{"bass", 40, 300}, {"voice", 200, 4000}, {"treble", 2000, 0}};
} // namespace hear
