// Filters inside algorithm graphs: the crossover's two bands and their sum
// against the analytic Butterworth responses, and the FIR equaliser lined up
// with the other branches of a composite.
#include "tests/support/FilterReference.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/filters/SoundAlgoEqFIR.h"
#include "tulv/filters/SoundAlgoFilterCrossover.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace SoundTools;
using namespace filtertest;
using GraphPtr = AlgoRef<SoundAlgoComposite>;

namespace {

// The response at `hz` of a graph, from its answer to an impulse.
double impulseResponseDb(const std::vector<double>& out, int channel, double hz, double fs)
{
    std::complex<double> sum = 0.0;
    for (size_t n = 0; n < out.size() / 2; ++n)
        sum += out[2 * n + size_t(channel)] * std::polar(1.0, -2.0 * M_PI * hz * double(n) / fs);
    return toDb(std::abs(sum));
}

std::vector<double> impulse(size_t frames)
{
    std::vector<double> v(2 * frames, 0.0);
    v[0] = 1.0;
    v[1] = 1.0;
    return v;
}

} // namespace

TEST(SoundAlgoFilterCrossover, EachBandIsFourthOrderButterworthAndTheirSumIsExpected)
{
    const double fc = 1000.0;
    for (unsigned int rate : { 44100u, 48000u }) {
        const double fs = rate;
        std::vector<double> outputs[3];
        for (int which = 0; which < 3; ++which) {
            GraphPtr graph(new SoundAlgoComposite(QStringLiteral("probe")));
            auto* crossover = new SoundAlgoFilterCrossover(fc);
            graph->pushAlgo(crossover);
            if (which < 2)
                graph->pushAlgo(new SoundAlgoSelectChannel(which, 2));
            else
                graph->pushAlgo(new SoundAlgoAdd(2));
            outputs[which] = runWithTail(*graph, impulse(16384), rate);
            ASSERT_GE(outputs[which].size(), 2u * 16384u);
        }
        EXPECT_NEAR(impulseResponseDb(outputs[0], 0, fc, fs), -3.0103, 0.01);
        EXPECT_NEAR(impulseResponseDb(outputs[1], 1, fc, fs), -3.0103, 0.01);
        for (double hz = 100.0; hz < 15000.0; hz *= 1.3) {
            const double low = filtertest::butterworthDb(4, true, fc, hz, fs);
            const double high = filtertest::butterworthDb(4, false, fc, hz, fs);
            if (low > -60.0) {
                EXPECT_NEAR(impulseResponseDb(outputs[0], 0, hz, fs), low, 0.05) << hz;
            }
            if (high > -60.0) {
                EXPECT_NEAR(impulseResponseDb(outputs[1], 1, hz, fs), high, 0.05) << hz;
            }
            // Low + high = (1 + s⁴)/B(s): flat far from the crossover, +3 dB at
            // it — a Butterworth pair is not an all-pass (a Linkwitz–Riley pair
            // would be).
            // In power the two bands are complementary: |L|² + |H|² = 1.
            const double lowDb = impulseResponseDb(outputs[0], 0, hz, fs);
            const double highDb = impulseResponseDb(outputs[1], 1, hz, fs);
            EXPECT_NEAR(10.0 * std::log10(std::pow(10.0, lowDb / 10.0) + std::pow(10.0, highDb / 10.0)), 0.0, 0.01)
                << hz;
            const double w = std::pow(std::tan(M_PI * hz / fs) / std::tan(M_PI * fc / fs), 4.0);
            const double sum = 20.0 * std::log10((1.0 + w) / std::sqrt(1.0 + w * w));
            EXPECT_NEAR(impulseResponseDb(outputs[2], 0, hz, fs), sum, 0.05) << hz;
        }
        EXPECT_NEAR(impulseResponseDb(outputs[2], 0, fc, fs), 3.0103, 0.02);
    }
}

TEST(SoundAlgoEqFIRInGraphs, FilteredBranchLinesUpWithAPlainBranch)
{
    // Branch 0: the FIR; branch 1: the sound itself. The composite delays the
    // plain branch by what the FIR declares, so an impulse and the centre of
    // the FIR's answer to it land on the same frame.
    const unsigned int rate = 44100, frames = 4000, at = 1500;
    for (FilterType type : { LowPass, HighPass }) {
        GraphPtr graph(new SoundAlgoComposite(QStringLiteral("graph")));
        auto* parallel = new SoundAlgoComposite(QStringLiteral("parallel"));
        parallel->pushAlgo(new SoundAlgoEqFIR(type, 1000.0, 0.0));
        parallel->addNewBranch();
        parallel->pushAlgo(new SoundAlgoScale(0.0));
        graph->pushAlgo(parallel);
        graph->pushAlgo(new SoundAlgoSub());
        std::vector<double> in(2 * frames, 0.0);
        in[2 * at] = in[2 * at + 1] = 1.0;
        const std::vector<double> out = runWithTail(*graph, in, rate);

        // FIR(x) − x: the taps around the impulse, with the centre tap less one.
        AlgoRef<SoundAlgoEqFIR> alone(new SoundAlgoEqFIR(type, 1000.0, 0.0));
        const size_t L = alone->getLength(rate), half = (L - 1) / 2;
        const std::vector<double> taps = runWithTail(*alone, impulse(L), rate);
        ASSERT_GE(out.size() / 2, at + L);
        for (size_t t = 0; t < at + L; ++t) {
            double expected = t >= at ? taps[2 * (t - at)] : 0.0;
            if (t == at + half)
                expected -= 1.0;
            ASSERT_NEAR(out[2 * t], expected, 1e-12) << "frame " << t << " type " << type;
        }
        // A symmetric answer centred on the impulse: for a high pass the
        // centre tap is where the whole band is, 1 − transition share.
        EXPECT_GT(std::fabs(taps[2 * half]), std::fabs(taps[2 * (half + 1)]));
    }
}
