// What the hear filters cost on their own: a minute of stereo noise through the filters
// at 44.1 kHz, in blocks as the output pulls them, for each setting, as a share of one core
// (the thread's CPU time over the sound's length). The filters run after the stretcher, at
// the output's rate, so the play's rate does not change what they cost.
//
//   hear_cost [SECONDS]
#include "audio/partfilter.h"
#include "storage/practicekeys.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

static double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    constexpr int kRate = 44100, kBlock = 512;
    std::vector<float> noise(std::size_t(kRate) * 2);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-0.3f, 0.3f);
    for (float& v : noise) v = uniform(random);
    std::vector<float> block(kBlock * 2);
    std::printf("| hear | %% of a core |\n|---|---|\n");
    for (const char* text : {"", "200-4000 cancel left +6dB", "200-4000 keep left +6dB", "keep"}) {
        audio::PartFilter filter;
        filter.setRate(kRate);
        filter.set(*storage::hearOf(QString::fromLatin1(text)));
        const double start = threadSeconds();
        const long blocks = long(seconds * kRate / kBlock);
        for (long b = 0; b < blocks; ++b) {
            const std::size_t at = std::size_t(b * kBlock % (kRate - kBlock)) * 2;
            std::copy(noise.begin() + at, noise.begin() + at + kBlock * 2, block.begin());
            filter.process(block.data(), kBlock);
        }
        std::printf("| %s | %.2f |\n", *text ? text : "none", 100 * (threadSeconds() - start) / seconds);
    }
    return 0;
}
