// The noise gate opens as soon as signal enters the window ahead of a frame
// and closes over the release time once the window has become quiet.
#include "tests/support/Common.h"
#include "tulv/dynamics/SoundAlgoNoiseGate.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

constexpr unsigned int kRate = 44100;
constexpr int kW = 4411; // round(44100 × 0.1) made odd
constexpr int kRelease = 221; // round(44100 × 0.005)

// The first frame whose window (that frame and the kW − 1 after it, zeros
// past the end) has (`above`) or has not an RMS of −35 dB or more in its
// louder channel, from prefix sums of squares: prefix[2j + c] sums channel c
// over the frames before j.
int firstFrame(const std::vector<double>& signal, bool above)
{
    const size_t n = frameCount(signal);
    std::vector<long double> prefix(2 * (n + kW + 1), 0.0L);
    for (size_t i = 0; i < 2 * (n + kW); ++i)
        prefix[i + 2] = prefix[i] + (i < 2 * n ? (long double)signal[i] * signal[i] : 0.0L);
    for (size_t i = 0; i < n; ++i) {
        const long double sum
            = std::max(prefix[2 * (i + kW)] - prefix[2 * i], prefix[2 * (i + kW) + 1] - prefix[2 * i + 1]);
        if ((double(std::sqrt(sum / kW)) >= std::pow(10.0, -35.0 / 20.0)) == above)
            return int(i);
    }
    return -1;
}

} // namespace

TEST(GateTiming, OpensAtOnceWhenSignalEntersTheWindowFadesOverTheReleaseAndStaysShutBelowTheThreshold)
{
    // A sine whose RMS is −30 dB, for one second, then silence.
    const double amplitude = std::pow(10.0, -30.0 / 20.0) * std::sqrt(2.0);
    const std::vector<double> in = sine(44100, 440.0, amplitude) + constant(22050, 0.0);
    const int closing = firstFrame(in, false);
    ASSERT_GT(closing, 44100 - kW);

    for (unsigned int block : { 0u, 5000u, 9000u }) {
        AlgoRef<SoundAlgoNoiseGate> gate(new SoundAlgoNoiseGate(-35.0, 0.005, 0.1));
        const std::vector<double> out = runThrough(*gate, in, block, kRate);
        ASSERT_EQ(out.size(), in.size());
        for (int i = 0; i < closing; ++i)
            ASSERT_EQ(out[2 * i], in[2 * i]) << "frame " << i << " block " << block;
        for (int k = 0; closing + k < 44100; ++k) {
            const double gain = std::max(1.0 - double(k + 1) / kRelease, 0.0);
            ASSERT_NEAR(out[2 * (closing + k)], in[2 * (closing + k)] * gain, 1e-15)
                << "frame " << closing + k << " block " << block;
        }
    }

    // A tone at −20 dB after silence.
    const std::vector<double> rise = constant(20000, 0.0) + sine(20000, 1000.0, 0.1);
    const int opening = firstFrame(rise, true);
    ASSERT_GT(opening, 20000 - kW);
    AlgoRef<SoundAlgoNoiseGate> gate(new SoundAlgoNoiseGate(-35.0, 0.005, 0.1));
    const std::vector<double> out = runThrough(*gate, rise, 0, kRate);
    ASSERT_EQ(out.size(), rise.size());
    // The gate was shut long before; from the opening frame on, everything
    // passes, including the whole attack of the tone, until the window
    // reaches the silence past the end.
    for (size_t i = size_t(opening); i + kW < frameCount(rise); ++i)
        ASSERT_EQ(out[2 * i], rise[2 * i]) << "frame " << i;

    // Noise below the threshold is silenced; −60 dB is above a threshold of
    // −70 dB, and the same noise then passes.
    const std::vector<double> hiss = sine(30000, 300.0, 0.001, kRate, 0.5);
    EXPECT_EQ(peakOf(runThrough(*gate, hiss, 0, kRate), kRelease), 0.0);
    gate->SetThreshold(-70.0);
    const std::vector<double> passed = runThrough(*gate, hiss, 0, kRate);
    ASSERT_EQ(passed.size(), hiss.size());
    for (size_t i = 0; i + kW < frameCount(hiss); ++i)
        ASSERT_EQ(passed[2 * i], hiss[2 * i]) << "frame " << i;
}
