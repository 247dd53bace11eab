// The integrator turns each channel into a ramp per period that restarts at
// every upward zero crossing, scaled by the largest period sum seen.
#include "tests/support/Common.h"
#include "tulv/dynamics/SoundAlgoFWIntegrator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace testsupport;

namespace {

constexpr unsigned int kRate = 44100;
constexpr double kScale = 0.05;

bool upwardCrossing(const std::vector<double>& signal, size_t frame, int channel)
{
    return frame + 1 < frameCount(signal) && signal[2 * frame + channel] < 0.0
        && signal[2 * (frame + 1) + channel] >= 0.0;
}

} // namespace

TEST(IntegratorRamp, OneRampPerPeriodFromMinusToPlusScaleOfTheLargestSumSeen)
{
    // 100 Hz: a period of 441 frames; the right channel a third of a period
    // later, so each channel restarts at its own crossings.
    const std::vector<double> in = sine(44100, 100.0, 0.5, kRate, -2.0 * M_PI / 3.0);
    AlgoRef<SoundAlgoFWIntegrator> integrator(new SoundAlgoFWIntegrator(kScale));
    const std::vector<double> out = runThrough(*integrator, in, 0, kRate);
    ASSERT_EQ(out.size(), in.size());
    // The next frame of the last frame of a block lies in the overlap: frame
    // by frame, the crossings are where they were.
    AlgoRef<SoundAlgoFWIntegrator> byFrame(new SoundAlgoFWIntegrator(kScale));
    EXPECT_EQ(runThrough(*byFrame, in, 1, kRate), out);
    for (int c = 0; c < 2; ++c) {
        int crossings = 0;
        size_t previous = 0;
        // The last frame sees the silence after the end as its next frame.
        for (size_t i = 0; i + 1 < frameCount(in); ++i) {
            if (upwardCrossing(in, i, c)) {
                ++crossings;
                EXPECT_EQ(out[2 * i + c], -kScale) << "frame " << i;
                if (crossings > 2) {
                    // The frame before the crossing ends a whole period:
                    // its sum is the largest seen, within one sample.
                    EXPECT_GT(out[2 * (i - 1) + c], kScale * 0.97) << "frame " << i - 1;
                    EXPECT_LE(out[2 * (i - 1) + c], kScale);
                    EXPECT_NEAR(double(i - previous), 441.0, 1.0);
                }
                previous = i;
            } else if (i > 0 && crossings > 0 && !upwardCrossing(in, i - 1, c)) {
                ASSERT_GE(out[2 * i + c], out[2 * (i - 1) + c]) << "frame " << i << " channel " << c;
            }
        }
        EXPECT_NEAR(crossings, 100, 1) << "channel " << c;
    }
    // The largest sums outlive the run: at half the amplitude, half the
    // period sum, the ramps now end half way, at (2 × 1/2 − 1) × scale = 0.
    const std::vector<double> half = runThrough(*integrator, sine(44100, 100.0, 0.25), 0, kRate);
    EXPECT_NEAR(*std::max_element(half.begin(), half.end()), 0.0, kScale * 0.02);
}
