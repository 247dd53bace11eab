// The FFT engine against NumPy's transform of the same streams, and the
// spectral algorithms against what they compute by definition: linear
// convolution with their taps, the autocorrelation sums and bin powers.
#include "tests/support/FilterReference.h"
#include "tests/support/IoFiles.h"
#include "tulv/tulv.h"

#include <gtest/gtest.h>

#include <QJsonObject>

#include <cmath>

using namespace testsupport;

namespace {

// NumPy's FFT of the same two channels, every bin of every size from 8 to
// 65536: one line per size and channel, real and imaginary parts side by side.
const char* const kNumpyFft = R"(import numpy as np
for n in (2 ** k for k in range(3, 17)):
    i = np.arange(n)
    for x in ((i * 7919) % 10007 / 5003.5 - 1, (i * 104729 + 17) % 10009 / 5004.5 - 1):
        print(*np.fft.rfft(x).view(float).tolist()))";

// The whole output of a run of `interleaved` through `algo`, which it owns.
std::vector<double> run(SoundAlgo* algo, const std::vector<double>& interleaved)
{
    return runWithTail(*AlgoRef<SoundAlgo>(algo), interleaved);
}

} // namespace

TEST(FFTEngine, TransformsEqualNumPysAndInvertOverEverySize)
{
    QString output;
    ASSERT_TRUE(iotest::runTool(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), kNumpyFft }, &output));
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 28);
    FFTARadix2 engine;
    for (unsigned int n = 8, row = 0; n <= 65536; n *= 2, row += 2) {
        SCOPED_TRACE(n);
        engine.setSize(static_cast<int>(n));
        std::vector<double> block(2 * n), left(n);
        for (unsigned long long i = 0; i < n; ++i) {
            block[2 * i] = left[i] = double((i * 7919) % 10007) / 5003.5 - 1;
            block[2 * i + 1] = double((i * 104729 + 17) % 10009) / 5004.5 - 1;
        }
        std::vector<double> spectrum(2 * n + 4), real(n + 2), back(2 * n);
        engine.forwardStereo(block.data(), spectrum.data());
        engine.forwardReal(left.data(), real.data());
        // The largest error over the bins, relative to the largest bin.
        for (const double* got : { spectrum.data(), spectrum.data() + n + 2, real.data() }) {
            const QStringList want = lines[int(row) + (got == spectrum.data() + n + 2)].split(QLatin1Char(' '));
            ASSERT_EQ(size_t(want.size()), n + 2);
            double error = 0.0, scale = 0.0;
            for (unsigned int k = 0; k < n + 2; ++k) {
                const double reference = want[int(k)].toDouble();
                error = std::max(error, std::abs(got[k] - reference));
                scale = std::max(scale, std::abs(reference));
            }
            EXPECT_LT(error / scale, 1e-12) << (got == real.data() ? "real" : "stereo");
        }
        EXPECT_EQ(spectrum[1], 0.0);
        EXPECT_EQ(spectrum[n + 1], 0.0);

        engine.inverseStereo(spectrum.data(), back.data());
        double worst = 0.0;
        for (size_t i = 0; i < back.size(); ++i)
            worst = std::max(worst, std::abs(back[i] - block[i]));
        EXPECT_LT(worst, 1e-13);
    }
}

TEST(FFTAlgorithms, SizeRoundsDownToAPowerOfTwoAndFramesCountHalfBlocksWithOverlap)
{
    DebugCapture quiet;
    EXPECT_EQ(AlgoRef<SoundAlgoFFTDirectCompute>(new SoundAlgoFFTDirectCompute(1000, true, false))->getSize(), 512u);
    AlgoRef<SoundAlgoFFTDirectCompute> withOverlap(new SoundAlgoFFTDirectCompute(8, true, false));
    AlgoRef<SoundAlgoFFTDirectCompute> without(new SoundAlgoFFTDirectCompute(8, false, false));
    EXPECT_EQ(withOverlap->frame2FFTFrame(16), 3u);
    EXPECT_EQ(withOverlap->FFTFrame2frame(3), 12u);
    EXPECT_EQ(withOverlap->frame2FFTFrame(3), 0u);
    EXPECT_EQ(without->frame2FFTFrame(16), 2u);
    EXPECT_EQ(without->FFTFrame2frame(2), 16u);
}

// Linear convolution with the odd-length design, whatever the transform
// size; corners the clamping alone would turn into empty bands still design.
TEST(FFTEqualiser, IsALinearConvolutionWithItsOddLengthDesign)
{
    struct Case {
        const char* name;
        SoundTools::FilterType type;
        double f1, f2;
        unsigned int size, taps;
        // Probes where amplitude 1 and 0 are expected; a design cut to N/2 + 1 taps ripples more.
        double passHz, stopHz, passTolerance;
    };
    const Case cases[] = {
        { "low pass 1 kHz", SoundTools::LowPass, 1000, 0, 8192, 447, 500, 2000, 0.02 },
        { "low pass, short transform", SoundTools::LowPass, 1000, 0, 512, 257, 200, 5000, 0.2 },
        // An even length would force 0 at half the sample rate.
        { "high pass, short transform", SoundTools::HighPass, 5000, 0, 512, 257, 22050, 1000, 0.2 },
        // A corner at half the sample rate keeps a stop band above it.
        { "low pass at half the sample rate", SoundTools::LowPass, 22050, 0, 8192, 447, 15000, 22050, 0.02 },
        { "band pass", SoundTools::BandPass, 2000, 6000, 2048, 447, 4000, 500, 0.05 },
        // Narrower than its transitions: widened around its centre.
        { "narrow band stop", SoundTools::BandStop, 3000, 3050, 8192, 447, 500, 3025, 0.02 },
    };
    const std::vector<double> left = noise(3000, 1), right = noise(3000, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlgoRef<SoundAlgoEqFFT> eq(new SoundAlgoEqFFT(c.type, c.f1, c.f2, c.size));
        const std::vector<double> out = runWithTail(*eq, interleave(left, right)), taps = eq->getFilter()->getTaps();
        ASSERT_EQ(taps.size(), c.taps);
        EXPECT_NEAR(filtertest::firMagnitude(taps, c.passHz / 44100), 1.0, c.passTolerance);
        EXPECT_LT(filtertest::firMagnitude(taps, c.stopHz / 44100), 0.02);

        const std::vector<double> wantL = filtertest::convolve(taps, left), wantR = filtertest::convolve(taps, right);
        const std::vector<double> want = interleave(wantL, wantR);
        ASSERT_GE(out.size(), 2 * (left.size() + (c.taps - 1) / 2));
        double worst = 0.0;
        for (size_t i = 0; i < out.size(); ++i)
            worst = std::max(worst, std::abs(out[i] - (i < want.size() ? want[i] : 0.0)));
        EXPECT_LT(worst, 1e-9);
    }
}

// Each block of N/2 frames gives its lags j = Σ x[n]·x[n+j] over the block,
// divided by N/2 − j (50 for the longest lags).
TEST(FFTAutocorrelation, ChainGivesTheLaggedSumsOfEachBlock)
{
    const unsigned int n = 256, half = n / 2;
    const std::vector<double> in = stereoNoise(5 * half + 30, 3), out = run(new SoundFFTAutocorrelChain(n), in);
    ASSERT_GE(out.size(), in.size());
    double worst = 0.0;
    // Sample s is frame s / 2 of channel s % 2.
    for (size_t s = 0; s + 2 * half <= in.size(); ++s) {
        const size_t t = s / 2, block = t / half * half, j = t % half;
        long double sum = 0;
        for (size_t i = block; i + j < block + half; ++i)
            sum += in[2 * i + s % 2] * in[2 * (i + j) + s % 2];
        const double divisor = half - j >= 51 ? half - j : 50.0;
        worst = std::max(worst, std::abs(out[s] - double(sum / divisor)));
    }
    EXPECT_LT(worst, 1e-12);
}

// The period detector behind the chain: a sine at the period of a tone and
// of a pulse train (without its mean), nothing for silence.
TEST(FFTAutocorrelation, PeriodDetectorFindsThePeriod)
{
    struct Case {
        const char* name;
        std::function<double(int)> signal;
        int period; // 0: silence expected
    };
    const Case cases[] = {
        { "441 Hz tone", [](int i) { return std::sin(2 * M_PI * 441 * i / 44100.0); }, 100 },
        { "pulse train", [](int i) { return (i % 80 < 8 ? 1.0 : 0.0) - 0.1; }, 80 },
        { "silence", [](int) { return 0.0; }, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> mono(20000);
        for (int i = 0; i < int(mono.size()); ++i)
            mono[size_t(i)] = c.signal(i);
        auto* chain = new SoundAlgoComposite();
        chain->pushAlgo(new SoundFFTAutocorrelChain(2048));
        chain->pushAlgo(new SoundAutocorrelStats(0));
        const std::vector<double> out = run(chain, interleave(mono, mono));
        ASSERT_GE(out.size(), 2 * mono.size());
        // A block of 1024 output frames, well inside the stream.
        double peak = 0.0, worst = 0.0;
        for (size_t t = 8192; t < 8192 + 1024 - 100; ++t) {
            peak = std::max(peak, std::abs(out[2 * t]));
            EXPECT_EQ(out[2 * t], out[2 * t + 1]);
            if (c.period > 0)
                worst = std::max(worst, std::abs(out[2 * (t + size_t(c.period) / 2)] + out[2 * t]));
        }
        EXPECT_NEAR(peak, c.period > 0 ? 1.0 : 0.0, 1e-3);
        EXPECT_LT(worst, 1e-9) << "half a period later the sine is opposite";
    }
}

TEST(FFTStatistics, BinPowersAndBandLevels)
{
    const unsigned int n = 1024, k = 10, blocks = 8;
    std::vector<double> tone(n * blocks);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = std::cos(2 * M_PI * k * double(i) / n);
    struct Case {
        const char* name;
        std::vector<double> signal;
        int translate; // bins, through a translation before the statistics
        size_t loudBin;
    };
    const Case cases[] = {
        { "cosine on a bin", tone, 0, k },             { "cosine moved up two bins", tone, 2, k + 2 },
        { "cosine moved down three bins", tone, -3, k - 3 }, { "silence", std::vector<double>(n * blocks), 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlgoRef<SoundAlgoFFTStats> stats(new SoundAlgoFFTStats());
        stats->addRef(); // and the chain holds another
        auto* chain = new SoundAlgoComposite();
        chain->pushAlgo(new SoundAlgoFFTDirectCompute(n, false, false));
        if (c.translate != 0)
            chain->pushAlgo(new SoundAlgoFFTTranslate(c.translate));
        chain->pushAlgo(stats.get());
        run(chain, interleave(c.signal, c.signal));
        EXPECT_EQ(stats->getStatCount(), 2.0 * blocks);
        const std::vector<double> db = stats->getStats();
        ASSERT_EQ(db.size(), n / 2 + 1);
        // Mean power 0.25 on the bin (each channel's bin holds N/2), rounding
        // noise elsewhere; silence reads −100 dB.
        for (size_t b = 0; b < db.size(); ++b) {
            if (c.loudBin == 0)
                EXPECT_EQ(db[b], -100.0) << b;
            else if (b == c.loudBin)
                EXPECT_NEAR(db[b], 20 * std::log10(0.5), 1e-9);
            else // bins a translation emptied are exactly 0
                EXPECT_TRUE(db[b] < -200.0 || db[b] == -100.0) << b << ": " << db[b];
        }
        const std::vector<double> bands = stats->getStats({ 100, 1000 });
        ASSERT_EQ(bands.size(), 3u);
        // The loud bin (k·44100/1024 Hz) lies in the middle band.
        EXPECT_TRUE(c.loudBin == 0 || bands[1] == 0.0) << bands[1];
        EXPECT_EQ(stats->getFrequencies()[1], 44100.0 / n);
        // Read back by statistics files; an object of another class is refused.
        QJsonObject json;
        stats->writeToJSon(json);
        json.insert(QStringLiteral("Class"), QStringLiteral("SoundAlgoStats"));
        EXPECT_FALSE(SoundAlgoFFTStats::createFromJSon(json));
    }
}
