#include "app/hear.h"

std::array<double, 4> HearSettings::matrix() const
{
    // Cancel keeps a sound panned to one side whole in its own channel (and its inverse in
    // the other) and nothing of one in the middle; keep is the middle alone.
    std::array<double, 4> m = centre == Centre::Cancel ? std::array{1.0, -1.0, -1.0, 1.0}
                              : centre == Centre::Keep ? std::array{0.5, 0.5, 0.5, 0.5}
                                                       : std::array{1.0, 0.0, 0.0, 1.0};
    switch (channels) {
    case Channels::Left: return {m[0], m[1], m[0], m[1]};
    case Channels::Right: return {m[2], m[3], m[2], m[3]};
    case Channels::Mono: {
        const double a = (m[0] + m[2]) / 2, b = (m[1] + m[3]) / 2;
        return {a, b, a, b};
    }
    case Channels::Both: break;
    }
    return m;
}
