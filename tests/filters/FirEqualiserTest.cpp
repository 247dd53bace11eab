// The Parks–McClellan FIR equaliser: valid bands (including the cases whose
// edges used to cross), the designed taps against SciPy's exchange, the
// convolution against a direct one, its delay lined up with a plain branch,
// and thread independence.
#include "tests/support/FilterReference.h"
#include "tests/support/IoFiles.h"
#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/filters/SoundAlgoEqFIR.h"

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>

using namespace SoundTools;
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

// Designs through a run's start, as a host would, and keeps the taps and the bands it made.
std::pair<std::vector<double>, std::vector<RemezBand>> design(Fir& fir, unsigned int rate)
{
    GeneratorReader reader(10, rate);
    SoundAlgo::LoopContext context;
    if (fir.initProcessLoop(reader, context) != Ok)
        return {};
    std::pair<std::vector<double>, std::vector<RemezBand>> made { fir.getCoefficients(), fir.getBands() };
    fir.endProcessLoop(context);
    return made;
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

// SciPy's exchange, given our length and bands, finds the one equiripple
// optimum on the same grid: the taps agree to rounding. One design a line.
const char* const kScipyRemez = R"(import sys, scipy.signal as s
for design in sys.argv[1:]:
    b = [float(v) for v in design.split()[1:]]
    edges = [v for i in range(0, len(b), 4) for v in b[i:i + 2]]
    print(*s.remez(int(design.split()[0]), edges, b[2::4], weight=b[3::4], fs=1).tolist()))";

TEST(FirDesign, ValidBandsGiveTheOptimumOfTheirLength)
{
    QStringList arguments { QStringLiteral("-c"), kScipyRemez };
    std::vector<std::vector<double>> designed;
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.f1 << "-" << c.f2 << " @" << c.rate);
        const auto [taps, bands] = design(*makeFir(c.type, c.f1, c.f2), c.rate);
        ASSERT_FALSE(taps.empty());
        designed.push_back(taps);
        QString line = QString::number(taps.size());
        // Every band set ascending inside half the sample rate, no band of negative width.
        double edge = 0.0, worstPass = 0.0, worstStop = 0.0;
        for (const RemezBand& band : bands) {
            EXPECT_GE(band.low, edge);
            EXPECT_GT(band.high, band.low);
            EXPECT_LE(band.high, 0.5);
            edge = band.high;
            for (double v : { band.low, band.high, band.desired, band.weight })
                line += QLatin1Char(' ') + QString::number(v, 'g', 17);
            double& worst = band.desired > 0.5 ? worstPass : worstStop;
            for (double f = band.low; f <= band.high; f += 0.025 / double(taps.size()))
                worst = std::max(worst, std::fabs(filtertest::firMagnitude(taps, f) - band.desired));
        }
        arguments << line;
        // The band stop 500–2000 Hz keeps a real stop band between its edges.
        EXPECT_TRUE(c.type != BandStop || c.f1 != 500 || bands.size() == 3);
        // Kaiser's estimate of the length falls short of the ripple it aims
        // at, most for short filters (35 taps: 0.43 dB and −35 dB instead of
        // 0.25 dB and −40 dB) and for three bands; the optimum of that length
        // keeps the ripples in the ratio of the weights.
        EXPECT_LE(worstPass, kPassRipple * 2.0);
        EXPECT_LE(worstStop, kStopRipple * 2.0);
        EXPECT_NEAR(worstPass / worstStop, kPassRipple / kStopRipple, 0.05 * kPassRipple / kStopRipple);
    }
    QString reference;
    ASSERT_TRUE(iotest::runTool(QStringLiteral("/usr/bin/python3"), arguments, &reference));
    const QStringList lines = reference.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(size_t(lines.size()), designed.size());
    for (size_t k = 0; k < designed.size(); ++k) {
        const QStringList taps = lines[int(k)].split(QLatin1Char(' '));
        ASSERT_EQ(size_t(taps.size()), designed[k].size()) << "case " << k;
        for (size_t n = 0; n < designed[k].size(); ++n)
            ASSERT_NEAR(designed[k][n], taps[int(n)].toDouble(), 1e-6) << "case " << k << " tap " << n;
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

TEST(FirFiltering, OutputIsTheConvolutionTimesTheGainAndLinesUpWithAPlainBranch)
{
    // Branch 0: the FIR; branch 1: the sound itself. The composite delays the
    // plain branch by what the FIR declares, so the centre of the FIR's answer
    // lands on the frame of its input: out = gain·(h ∗ x)[t] − x[t − half],
    // over the stream, its whole ringing tail, and silence after. Blocks of at
    // least 8192 frames: 8192, then 10000, across a stream of several blocks;
    // the second size with an output gain of −6 dB.
    const std::vector<double> left = testsupport::noise(45000, 1), right = testsupport::noise(45000, 2);
    const std::vector<double> in = testsupport::interleave(left, right);
    for (unsigned int block : { 1024u, 10000u })
        for (FilterType type : { LowPass, HighPass }) {
            SCOPED_TRACE(testing::Message() << "block " << block << " type " << type);
            testsupport::DefaultBlockSize size(block);
            const double gain = block > 8192 ? std::pow(10.0, -6.0 / 20.0) : 1.0;
            auto* fir = new SoundAlgoEqFIR(type, 1000.0, 0.0);
            fir->SetOutputGain(testsupport::toDb(gain));
            testsupport::AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite(QStringLiteral("graph")));
            auto* parallel = new SoundAlgoComposite(QStringLiteral("parallel"));
            parallel->pushAlgo(fir);
            parallel->addNewBranch();
            parallel->pushAlgo(new SoundAlgoScale(0.0));
            graph->pushAlgo(parallel);
            graph->pushAlgo(new SoundAlgoSub());
            const std::vector<double> out = runWithTail(*graph, in), taps = design(*makeFir(type, 1000.0), 44100).first;
            const std::vector<double> want = testsupport::interleave(filtertest::convolve(taps, left),
                                                                     filtertest::convolve(taps, right));
            const size_t shift = taps.size() - 1; // half the taps, in interleaved samples
            ASSERT_GE(out.size(), want.size());
            for (size_t i = 0; i < out.size(); ++i) {
                const double plain = i >= shift && i - shift < in.size() ? in[i - shift] : 0.0;
                ASSERT_NEAR(out[i], (i < want.size() ? gain * want[i] : 0.0) - plain, 1e-13) << "frame " << i / 2;
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
