// The simple limiter: a straight fall of the gain over the look-ahead in
// front of a peak, and nothing above full scale whatever comes in.
#include "tests/support/Common.h"
#include "tulv/dynamics/SoundAlgoSimpleLimiter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace testsupport;

namespace {
constexpr unsigned int kRate = 44100;
}

TEST(LimiterSimple, PeakAfterQuietInputIsMetByALinearFall)
{
    // 0.002 s at 44100 Hz: L = 88 frames.
    const int L = 88;
    const int peakAt = 4000;
    std::vector<double> in = constant(8000, 0.1);
    in[2 * peakAt] = 1.5;
    in[2 * peakAt + 1] = -1.5;
    AlgoRef<SoundAlgoSimpleLimiter> limiter(new SoundAlgoSimpleLimiter(0.002));
    const std::vector<double> out = runThrough(*limiter, in, 0, kRate);
    ASSERT_EQ(out.size(), in.size());

    const double step = -0.34 / L;
    for (int frame = 0; frame < peakAt - L; ++frame)
        ASSERT_EQ(out[2 * frame], in[2 * frame]) << "frame " << frame;
    // The first frame of the ramp already takes one step, so the gain is
    // 0.66 on the frame before the peak and one step lower on the peak.
    for (int j = 0; j < L; ++j) {
        const int frame = peakAt - L + j;
        EXPECT_NEAR(out[2 * frame] / in[2 * frame], 1.0 + (j + 1) * step, 1e-12) << "frame " << frame;
    }
    EXPECT_NEAR(out[2 * (peakAt - 1)] / in[2 * (peakAt - 1)], 0.66, 1e-12);
    EXPECT_NEAR(out[2 * peakAt] / in[2 * peakAt], 0.66 + step, 1e-12);
    EXPECT_LT(peakOf(out), 0.99);
    // The gain only ever falls: it stays where the ramp left it, into the next run.
    EXPECT_NEAR(out[2 * 7999] / in[2 * 7999], 0.66 + step, 1e-12);
    EXPECT_NEAR(runThrough(*limiter, constant(1000, 0.5), 0, kRate)[0], 0.5 * (0.66 + step), 1e-12);
}

TEST(LimiterSimple, NothingLeavesAboveFullScale)
{
    std::mt19937 random(99);
    std::uniform_real_distribution<double> amplitude(-5.0, 5.0);
    std::uniform_int_distribution<int> position(0, 49999);
    std::vector<double> clicks = sine(50000, 200.0, 0.3);
    for (int k = 0; k < 300; ++k) {
        const int at = position(random);
        clicks[2 * at] = amplitude(random);
        clicks[2 * at + 1] = amplitude(random);
    }
    std::vector<double> square(2 * 20000);
    for (int i = 0; i < 20000; ++i)
        square[2 * i] = square[2 * i + 1] = ((i / 3) % 2 ? -1.0 : 1.0) * (1.0 + i * 1e-4);
    for (const std::vector<double>* signal : { &clicks, &square }) {
        for (double lookAhead : { 0.0, 0.001, 0.005 }) {
            for (unsigned int block : { 1u, 1024u, 3000u }) {
                AlgoRef<SoundAlgoSimpleLimiter> limiter(new SoundAlgoSimpleLimiter(lookAhead));
                const std::vector<double> out = runThrough(*limiter, *signal, block, kRate);
                ASSERT_EQ(out.size(), signal->size());
                EXPECT_LE(peakOf(out), 1.0) << "look-ahead " << lookAhead << " block " << block;
                for (size_t s = 0; s < out.size(); ++s)
                    ASSERT_GE(out[s] * (*signal)[s], 0.0) << "sample " << s;
            }
        }
    }
}
