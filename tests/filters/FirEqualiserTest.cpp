// The Parks–McClellan FIR equaliser: valid bands (including the cases whose
// edges used to cross), the designed response against its own bands, the
// convolution against a direct one, its delay lined up with a plain branch,
// and thread independence.
#include "tests/support/FilterReference.h"
#include "tests/support/GraphAlgos.h"
#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/filters/SoundAlgoEqFIR.h"

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <cstring>

using namespace SoundTools;
using testsupport::CapturingWriter;
using testsupport::GeneratorReader;
using testsupport::runWithTail;

namespace {

const double kStopRipple = 0.01; // −40 dB
const double kPassRipple = (1.0 - std::pow(10.0, -0.025)) / 2.0; // ±0.125 dB

using Fir = SoundAlgoEqFIR;
using FirPtr = testsupport::AlgoRef<Fir>;

FirPtr makeFir(FilterType type, double f1, double f2 = 0.0)
{
    return FirPtr(new Fir(type, f1, f2));
}

struct Designed {
    std::vector<double> taps;
    std::vector<RemezBand> bands;
};

// Designs through a run's start, as a host would, and keeps what it made.
Designed design(Fir& fir, unsigned int rate)
{
    GeneratorReader reader(10, rate);
    SoundAlgo::LoopContext context;
    Designed d;
    if (fir.initProcessLoop(reader, context) != Ok)
        return d;
    d.taps = fir.getCoefficients();
    d.bands = fir.getBands();
    fir.endProcessLoop(context);
    return d;
}

struct Case {
    FilterType type;
    double f1, f2;
    unsigned int rate;
};

// The cases a user meets, and those whose band edges used to cross or leave
// [0, 0.5]: a band stop narrower than 5:1, low passes above fs/6, band
// edges near Nyquist.
const Case kCases[] = {
    { LowPass, 1000, 0, 44100 },     { HighPass, 1000, 0, 44100 },   { HighPass, 1010, 0, 44100 },
    { BandPass, 1000, 4000, 44100 }, { BandStop, 2000, 12000, 48000 }, { BandStop, 500, 2000, 44100 },
    { BandStop, 1000, 1500, 44100 }, { LowPass, 10000, 0, 44100 },   { LowPass, 20000, 0, 44100 },
    { BandPass, 3000, 21000, 44100 }, { BandStop, 3000, 22050, 44100 }, { HighPass, 2000, 0, 96000 },
};

} // namespace

TEST(FirDesign, ValidBandsMetWithEqualRipple)
{
    for (const Case& c : kCases) {
        FirPtr fir = makeFir(c.type, c.f1, c.f2);
        const Designed d = design(*fir, c.rate);
        ASSERT_FALSE(d.taps.empty()) << c.type << " " << c.f1 << "-" << c.f2;
        const std::string what = std::to_string(c.type) + " " + std::to_string(c.f1) + "-" + std::to_string(c.f2)
            + " @" + std::to_string(c.rate) + " L=" + std::to_string(d.taps.size());
        // Every band set ascending inside half the sample rate, no band of negative width.
        double edge = 0.0;
        for (const RemezBand& band : d.bands) {
            EXPECT_GE(band.low, edge) << what;
            EXPECT_GT(band.high, band.low) << what;
            EXPECT_LE(band.high, 0.5) << what;
            edge = band.high;
        }
        // The band stop 500–2000 Hz keeps a real stop band between its edges.
        if (c.type == BandStop && c.f1 == 500) {
            EXPECT_EQ(d.bands.size(), 3u);
        }
        // The taps are symmetric: linear phase.
        for (size_t n = 0; n < d.taps.size(); ++n)
            ASSERT_NEAR(d.taps[n], d.taps[d.taps.size() - 1 - n], 1e-12) << what;

        // Signed weighted error over a fine grid of every band, as the
        // alternation theorem states it for the amplitude response.
        const int M = int(d.taps.size() - 1) / 2;
        std::vector<double> error;
        double worstPass = 0.0, worstStop = 0.0, largest = 0.0;
        for (const RemezBand& band : d.bands) {
            const int points = std::max(2, int((band.high - band.low) * 40.0 * d.taps.size()));
            for (int i = 0; i <= points; ++i) {
                const double f = band.low + (band.high - band.low) * i / points;
                double amplitude = d.taps[size_t(M)];
                for (int k = 1; k <= M; ++k)
                    amplitude += 2.0 * d.taps[size_t(M - k)] * std::cos(2.0 * M_PI * f * k);
                const double e = band.weight * (band.desired - amplitude);
                error.push_back(e);
                largest = std::max(largest, std::fabs(e));
                if (band.desired > 0.5)
                    worstPass = std::max(worstPass, std::fabs(amplitude - band.desired));
                else
                    worstStop = std::max(worstStop, std::fabs(amplitude));
            }
        }
        // Kaiser's estimate of the length falls short of the ripple it aims
        // at, most for short filters (35 taps: 0.43 dB and −35 dB instead of
        // 0.25 dB and −40 dB) and for three bands; what the exchange must
        // deliver is the best filter of that length: ripples in the ratio of
        // the weights, equal ripple everywhere.
        EXPECT_LE(worstPass, kPassRipple * 2.0) << what;
        EXPECT_LE(worstStop, kStopRipple * 2.0) << what;
        EXPECT_NEAR(worstPass / worstStop, kPassRipple / kStopRipple, 0.05 * kPassRipple / kStopRipple) << what;
        // Equiripple: at least M + 2 alternating extrema at the full error.
        int alternations = 0;
        double lastSign = 0.0;
        for (double e : error)
            if (std::fabs(e) >= 0.98 * largest && (e > 0.0 ? 1.0 : -1.0) != lastSign) {
                ++alternations;
                lastSign = e > 0.0 ? 1.0 : -1.0;
            }
        EXPECT_GE(alternations, M + 2) << what;
    }
}

TEST(FirDesign, ImpossibleBandsFailWithAReason)
{
    testsupport::MessageLog capture;
    for (auto [type, f1, f2] : { std::make_tuple(LowPass, 0.0, 0.0), std::make_tuple(HighPass, -5.0, 0.0),
                                 std::make_tuple(BandPass, 4000.0, 1000.0), std::make_tuple(HighPass, 0.01, 0.0),
                                 std::make_tuple(BandPass, 300.0, 3000.0), // an exchange gone astray
                                 std::make_tuple(BandEq, 1000.0, 0.0) }) { // a shape no FIR here designs
        SoundDebuggableClass::setError("none", nullptr);
        EXPECT_EQ(testsupport::runStatus(*makeFir(type, f1, f2), testsupport::constant(100, 0.0)), Error);
        EXPECT_TRUE(type == BandEq || SoundDebuggableClass::getError().contains("cannot design the FIR filter"))
            << SoundDebuggableClass::getError().toStdString();
    }
}

TEST(FirFiltering, OutputIsTheDirectConvolutionOfTheWholeStreamTimesTheOutputGain)
{
    // Blocks of at least 8192 frames: 8192, then 10000, across a stream of
    // several blocks; the second size with an output gain of −6 dB.
    const std::vector<double> left = testsupport::noise(45000, 1), right = testsupport::noise(45000, 2);
    for (unsigned int block : { 1024u, 10000u }) {
        testsupport::DefaultBlockSize size(block);
        const double gain = block > 8192 ? std::pow(10.0, -6.0 / 20.0) : 1.0;
        for (FilterType type : { LowPass, HighPass }) {
            FirPtr fir = makeFir(type, 1000);
            const std::vector<double> taps = design(*fir, 44100).taps;
            fir->SetOutputGain(testsupport::toDb(gain));
            const std::vector<double> got = runWithTail(*fir, testsupport::interleave(left, right));
            const std::vector<double> expectL = filtertest::convolve(taps, left);
            const std::vector<double> expectR = filtertest::convolve(taps, right);
            // The stream and its whole ringing tail; anything the loop writes
            // after that is silence.
            ASSERT_GE(got.size() / 2, expectL.size()) << "block " << block;
            for (size_t i = 2 * expectL.size(); i < got.size(); ++i)
                ASSERT_EQ(got[i], 0.0) << "sample " << i << " block " << block;
            for (size_t n = 0; n < expectL.size(); ++n) {
                ASSERT_NEAR(got[2 * n], gain * expectL[n], 1e-13) << "frame " << n << " block " << block;
                ASSERT_NEAR(got[2 * n + 1], gain * expectR[n], 1e-13) << "frame " << n << " block " << block;
            }
        }
    }
}

TEST(FirFiltering, ThreadedOneAndTwoThreadsGiveTheSameBits)
{
    const std::vector<double> in = testsupport::stereoNoise(20000, 8);
    std::vector<double> results[2];
    // The thread count is set on the thread runWithDeadline starts, and dies with it.
    testsupport::runWithDeadline(
        [&] {
            for (int threads : { 1, 2 }) {
                omp_set_num_threads(threads);
                results[threads - 1] = runWithTail(*makeFir(BandPass, 700, 3000), in);
            }
        },
        120);
    EXPECT_TRUE(testsupport::sameBits(results[0], results[1]));
}

TEST(SoundAlgoEqFIRInGraphs, FilteredBranchLinesUpWithAPlainBranch)
{
    // Branch 0: the FIR; branch 1: the sound itself. The composite delays the
    // plain branch by what the FIR declares, so an impulse and the centre of
    // the FIR's answer to it land on the same frame.
    const unsigned int rate = 44100, frames = 4000, at = 1500;
    for (FilterType type : { LowPass, HighPass }) {
        testsupport::AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite(QStringLiteral("graph")));
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
        const std::vector<double> taps = design(*makeFir(type, 1000.0), rate).taps;
        const size_t L = taps.size(), half = (L - 1) / 2;
        ASSERT_GE(out.size() / 2, at + L);
        for (size_t t = 0; t < at + L; ++t) {
            const double expected = (t >= at ? taps[t - at] : 0.0) - (t == at + half ? 1.0 : 0.0);
            ASSERT_NEAR(out[2 * t], expected, 1e-12) << "frame " << t << " type " << type;
        }
    }
}

TEST(RemezExchange, RefusesWhatNoFilterOfThatKindCanBe)
{
    std::vector<double> h;
    // Crossing edges, a band past Nyquist, no weight.
    EXPECT_FALSE(remez(31, { { 0.0, 0.2, 1.0, 1.0 }, { 0.1, 0.5, 0.0, 1.0 } }, h));
    EXPECT_FALSE(remez(31, { { 0.0, 0.2, 1.0, 1.0 }, { 0.3, 0.6, 0.0, 1.0 } }, h));
    EXPECT_FALSE(remez(31, { { 0.0, 0.2, 1.0, 0.0 }, { 0.3, 0.5, 0.0, 1.0 } }, h));
    // An even length cannot pass half the sample rate.
    EXPECT_FALSE(remez(32, { { 0.0, 0.2, 0.0, 1.0 }, { 0.3, 0.5, 1.0, 1.0 } }, h));
    EXPECT_TRUE(h.empty());
    // …but makes a fine low pass.
    ASSERT_TRUE(remez(32, { { 0.0, 0.2, 1.0, 1.0 }, { 0.3, 0.5, 0.0, 1.0 } }, h));
    ASSERT_EQ(h.size(), 32u);
    EXPECT_NEAR(filtertest::firMagnitude(h, 0.0), 1.0, 0.01);
    EXPECT_LT(filtertest::firMagnitude(h, 0.4), 0.01);
    EXPECT_NEAR(filtertest::firMagnitude(h, 0.5), 0.0, 1e-12);
}
