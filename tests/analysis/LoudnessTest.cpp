// The loudness meter's true peak: libebur128's own figure over every frame,
// to the bit, although the meter hands it only the stretches where the peak
// can still rise.
#include "tests/support/Common.h"
#include "tulv/analysis/SoundAlgoLoudness.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace testsupport;

TEST(SoundAlgoLoudness, TruePeakIsTheMetersOwnOverEveryFrame)
{
    // A random walk near full scale: it crosses the loud-or-quiet line
    // thousands of times, so the meter resumes after a skip again and again.
    std::mt19937 random(7);
    std::normal_distribution<double> step(0.0, 0.02);
    std::vector<double> walk(2 * 200000);
    for (size_t i = 2; i < walk.size(); ++i)
        walk[i] = std::clamp(walk[i - 2] + step(random), -0.9, 0.9);
    // A quarter-rate sine sampled 45 degrees off its crests: its samples reach
    // 0.64, its true peak 0.9, after a smooth sine of 0.8 has set the peak.
    std::vector<double> hidden = sine(50000, 441.0, 0.8) + constant(50000, 0.0);
    for (size_t i = 50000; i < 100000; ++i)
        hidden[2 * i] = hidden[2 * i + 1] = 0.9 * std::sin(M_PI / 2 * double(i) + M_PI / 4);
    std::vector<double> mono = walk;
    for (size_t i = 0; i < mono.size(); i += 2)
        mono[i + 1] = mono[i];
    struct Case {
        const char* name;
        const std::vector<double>& in;
        unsigned int channels, rate, block;
    };
    const Case cases[] = { { "random walk", walk, 2, 44100, 4096 },
                           { "random walk in blocks shorter than the memory", walk, 2, 44100, 7 },
                           { "peak between samples", hidden, 2, 44100, 1000 },
                           { "mono at 176.4 kHz, twice oversampled", mono, 1, 176400, 333 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlgoRef<SoundAlgoLoudness> meter(new SoundAlgoLoudness(c.channels));
        ASSERT_EQ(runThrough(*meter, c.in, c.block, c.rate).size(), c.in.size());
        ebur128_state* whole = ebur128_init(c.channels, c.rate, EBUR128_MODE_TRUE_PEAK);
        std::vector<double> samples = c.in;
        if (c.channels == 1)
            for (size_t i = 0; i < samples.size() / 2; ++i)
                samples[i] = samples[2 * i];
        ebur128_add_frames_double(whole, samples.data(), samples.size() / 2);
        double peak = 0.0;
        for (unsigned int channel = 0; channel < c.channels; ++channel) {
            double value = 0.0;
            ebur128_true_peak(whole, channel, &value);
            peak = std::max(peak, value);
        }
        ebur128_destroy(&whole);
        EXPECT_EQ(meter->getTruePeak(), 20.0 * std::log10(peak));
    }
}
