// The bass boost raises the low band by 0.6 × level, lowers the rest by
// 0.4 × level, adds harmonics of the bass notes and never lets a peak past
// the limiter's ceiling.
#include "tests/support/Common.h"
#include "tulv/dynamics/SoundAlgoBassBoost.h"
#include "tulv/dynamics/SoundAlgoLimiter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace testsupport;

namespace {

constexpr unsigned int kRate = 44100;

// Amplitude of the component at `frequency` in the left channel over
// [from, from + frames): a projection on one frequency of a window holding
// whole periods.
double amplitudeAt(const std::vector<double>& samples, double frequency, size_t from, size_t frames)
{
    std::complex<double> sum = 0.0;
    const double w = 2.0 * M_PI * frequency / kRate;
    for (size_t i = 0; i < frames; ++i)
        sum += samples[2 * (from + i)] * std::polar(1.0, -w * double(i));
    return 2.0 * std::abs(sum) / double(frames);
}

} // namespace

TEST(BassBoostGains, HighBandIsLoweredByFourTenthsOfTheLevelAndLoudBassNeverPassesTheCeiling)
{
    const double amplitude = 0.05;
    const std::vector<double> high = sine(3 * kRate, 3000.0, amplitude);
    std::vector<double> loud = sine(2 * kRate, 45.0, 0.9, kRate, 0.5) + sine(kRate, 2000.0, 0.99);
    for (size_t i = 0; i < frameCount(loud); i += 5000)
        loud[2 * i] = 1.0;
    for (bool integrator : { false, true }) {
        SCOPED_TRACE(integrator ? "integrator" : "rectifier");
        const auto make = [integrator](double level, double hz) {
            return AlgoRef<SoundAlgoBassBoost>(integrator ? SoundAlgoBassBoost::buildIntegrator(level, hz)
                                                          : SoundAlgoBassBoost::buildRectifier(level, hz));
        };
        // −12 dB on the high band, +7.2 dB from the limiter: −4.8 dB, over
        // one second from the middle (3000 whole periods).
        const std::vector<double> out = runThrough(*make(12.0, 80.0), high, 0, kRate);
        ASSERT_EQ(out.size(), high.size());
        EXPECT_NEAR(toDb(amplitudeAt(out, 3000.0, kRate, kRate) / amplitude), -4.8, 0.1);
        const std::vector<double> limited = runThrough(*make(18.0, 100.0), loud, 0, kRate);
        ASSERT_EQ(limited.size(), loud.size());
        EXPECT_LE(peakOf(limited), SoundAlgoLimiter::sRepairThreshold);
    }
}

TEST(BassBoostGains, LowBandIsRaisedAndGetsHarmonicsOnlyWhileTheBassIsAudible)
{
    // A 50 Hz note under a 100 Hz crossover: the limiter's +9 dB (0.6 × 15)
    // on the fundamental, and x + 0.5·|x| adds a 100 Hz component of
    // 0.5 × 4/(3π) of the fundamental, which the 200 Hz low pass keeps.
    const double amplitude = 0.02;
    const std::vector<double> in = sine(3 * kRate, 50.0, amplitude);
    AlgoRef<SoundAlgoBassBoost> boost(new SoundAlgoBassBoost());
    const std::vector<double> out = runThrough(*boost, in, 0, kRate);
    ASSERT_EQ(out.size(), in.size());
    const double fundamental = amplitudeAt(out, 50.0, kRate, kRate);
    const double second = amplitudeAt(out, 100.0, kRate, kRate);
    // The 100 Hz high pass leaks 0.06 × −15 dB of the fundamental back in.
    EXPECT_NEAR(toDb(fundamental / amplitude), 9.0, 0.3);
    EXPECT_NEAR(toDb(second / fundamental), toDb(0.5 * 4.0 / (3.0 * M_PI)), 0.5);

    // The integrator's sawtooth of each period brings a 120 Hz component that
    // a 60 Hz sine of 0.1 does not have: about 0.1 × 2/(2π) before the +7.2 dB.
    const std::vector<double> note = sine(2 * kRate, 60.0, 0.1) + constant(kRate, 0.0);
    AlgoRef<SoundAlgoBassBoost> integrator(SoundAlgoBassBoost::buildIntegrator(12.0, 80.0));
    const std::vector<double> sawed = runThrough(*integrator, note, 0, kRate);
    ASSERT_EQ(sawed.size(), note.size());
    EXPECT_GT(amplitudeAt(sawed, 120.0, kRate / 2, kRate), 0.03);
    // In the silence after the note the gate has shut: nothing periodic.
    const size_t quiet = 2 * kRate + kRate / 2;
    EXPECT_LT(amplitudeAt(sawed, 60.0, quiet, kRate / 4), 1e-4);
    EXPECT_LT(amplitudeAt(sawed, 120.0, quiet, kRate / 4), 1e-4);
}
