// Level statistics: the levels of known signals, the sliding RMS lined up with
// its input across block edges, the JSON form rebuilt through the registry,
// and the levels of tones read back from the right bands of a tree.
#include "tests/support/DynSignals.h"
#include "tulv/analysis/SoundAlgoStats.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace dyntest;

namespace {

double dB(double amplitude)
{
    return amplitude <= 1e-10 ? -100.0 : 20.0 * std::log10(amplitude);
}

std::vector<double> tones(unsigned int frames, const std::vector<std::pair<double, double>>& hzAndAmplitude,
                          bool rightSilent = false, unsigned int rate = 44100)
{
    std::vector<double> v(2 * size_t(frames), 0.0);
    for (const auto& [hz, amplitude] : hzAndAmplitude)
        for (unsigned int i = 0; i < frames; ++i) {
            v[2 * i] += amplitude * std::sin(2 * M_PI * hz * i / rate);
            if (!rightSilent)
                v[2 * i + 1] = v[2 * i];
        }
    return v;
}

} // namespace

TEST(SoundAlgoStatsLevels, KnownSignalsGiveTheirLevelsOverExactlyTheSourceFrames)
{
    const unsigned int n = 44100;
    std::vector<double> square(2 * n);
    for (unsigned int i = 0; i < n; ++i)
        square[2 * i] = square[2 * i + 1] = (i / 50) % 2 ? 1.0 : -1.0;
    struct Case {
        const char* name;
        std::vector<double> in;
        SoundAlgoStats::OutputType type;
        double window;
        double rmsL, rmsR, peakL, peakR, full;
    };
    const double sineRms = dB(0.5 / std::sqrt(2.0));
    const Case cases[] = {
        { "full-scale square", square, SoundAlgoStats::StatsOnly, 0.0, 0, 0, 0, 0, 0 },
        // The sliding window's padding must not be counted as sound.
        { "sine left, silence right, with a window", tones(n, { { 441.0, 0.5 } }, true),
          SoundAlgoStats::RMSAndStats, 0.05, sineRms, -100, dB(0.5), -100, 10 * std::log10(0.125 / 2) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlgoPtr<SoundAlgoStats> stats(new SoundAlgoStats(c.type, c.window));
        ASSERT_EQ(runThrough(*stats, c.in, 1000).size(), c.in.size());
        EXPECT_EQ(stats->getCount(), n);
        SoundTools::StereoFrame<double> rms {}, peak {};
        double full = 1.0;
        stats->getGlobalStats(rms, full, peak);
        EXPECT_NEAR(rms.left, c.rmsL, 1e-3);
        EXPECT_NEAR(rms.right, c.rmsR, 1e-3);
        EXPECT_NEAR(peak.left, c.peakL, 1e-3);
        EXPECT_NEAR(peak.right, c.peakR, 1e-3);
        EXPECT_NEAR(full, c.full, 1e-3);
    }

    // A sliding RMS alone accumulates nothing, and nothing is written.
    AlgoPtr<SoundAlgoStats> rmsOnly(new SoundAlgoStats(SoundAlgoStats::RMSOnly, 0.01));
    ASSERT_FALSE(runThrough(*rmsOnly, square).empty());
    SoundTools::StereoFrame<double> untouched { 7.0, 7.0 };
    rmsOnly->getRMS(untouched);
    EXPECT_EQ(untouched.left, 7.0);
    EXPECT_EQ(rmsOnly->getFullRMS(), 0.0);

    // Without a window there is no sliding RMS to give: the run is refused.
    AlgoPtr<SoundAlgoStats> noWindow(new SoundAlgoStats(SoundAlgoStats::RMSOnly, 0.0));
    EXPECT_TRUE(runThrough(*noWindow, square).empty());
}

TEST(SoundAlgoStatsLevels, SlidingRmsIsCentredOnEachFrameAcrossBlockEdges)
{
    struct Case {
        unsigned int rate;
        unsigned int block;
        int halfWindow; // the window holds 2 · halfWindow + 1 frames
    };
    for (const Case& c : { Case { 44100, 1000, 220 }, Case { 48000, 4096, 240 } }) {
        SCOPED_TRACE(c.rate);
        const unsigned int n = 5000;
        // Bursts of differing levels: a misplaced window shows at every edge.
        std::vector<double> in(2 * n);
        for (unsigned int i = 0; i < n; ++i) {
            in[2 * i] = (i / 700) % 2 ? 0.0 : 0.1 * (1 + i / 700) * ((i % 3) - 1.0);
            in[2 * i + 1] = 0.25;
        }
        AlgoPtr<SoundAlgoStats> stats(new SoundAlgoStats(SoundAlgoStats::RMSOnly, 0.01));
        const std::vector<double> out = runThrough(*stats, in, c.block, c.rate);
        ASSERT_EQ(out.size(), in.size());
        const int w = 2 * c.halfWindow + 1;
        for (int j = 0; j < int(n); ++j) {
            double sumL = 0.0, sumR = 0.0;
            for (int k = j - c.halfWindow; k <= j + c.halfWindow; ++k)
                if (k >= 0 && k < int(n)) {
                    sumL += in[2 * k] * in[2 * k];
                    sumR += in[2 * k + 1] * in[2 * k + 1];
                }
            ASSERT_NEAR(out[2 * j] * out[2 * j], sumL / w, 1e-12) << "frame " << j;
            ASSERT_NEAR(out[2 * j + 1] * out[2 * j + 1], sumR / w, 1e-12) << "frame " << j;
        }
    }
}

TEST(SoundAlgoStatsJson, TotalsRoundTripThroughTheRegistry)
{
    AlgoPtr<SoundAlgoStats> stats(new SoundAlgoStats(SoundAlgoStats::RMSAndStats, 0.02));
    ASSERT_FALSE(runThrough(*stats, tones(20000, { { 100.0, 0.3 }, { 3000.0, 0.2 } }), 0, 48000).empty());
    QJsonObject object;
    stats->writeToJSon(object);
    AlgoPtr<SoundAlgo> rebuilt(SoundAlgo::createFromJSon(object));
    auto* copy = dynamic_cast<SoundAlgoStats*>(rebuilt.get());
    ASSERT_NE(copy, nullptr);
    QJsonObject again;
    copy->writeToJSon(again);
    EXPECT_EQ(again, object);
    EXPECT_EQ(copy->getSampleRate(), 48000u);
    EXPECT_EQ(copy->getFullRMS(), stats->getFullRMS());

    struct Case {
        const char* name;
        const char* key;
        QJsonValue value;
    };
    const Case broken[] = { { "another class", "Class", QStringLiteral("RMSStepDetector") },
                            { "type not a number", "OutputType", QStringLiteral("2") },
                            { "type out of range", "OutputType", 3 },
                            { "no window", "WindowTime", QJsonValue() } };
    for (const Case& c : broken) {
        SCOPED_TRACE(c.name);
        QJsonObject bad = object;
        bad.insert(QLatin1String(c.key), c.value);
        EXPECT_EQ(SoundAlgoStats::createFromJSon(bad), nullptr);
    }
}

TEST(SoundAlgoStatsBands, TonesAreMeasuredInTheirOwnBands)
{
    // Each tone sits at least two octaves from a crossover, where the
    // fourth-order slopes have let the neighbouring bands fall by 48 dB.
    const double amplitudes[] = { 0.5, 0.25, 0.125 };
    const std::vector<double> in = tones(44100, { { 50.0, 0.5 }, { 630.0, 0.25 }, { 8000.0, 0.125 } });
    SoundAlgoStats::FrequencyBuilder builder;
    AlgoPtr<SoundAlgoComposite> tree(new SoundAlgoComposite);
    tree->buildMultibandTree({ 200.0, 2000.0 }, builder, SoundAlgoComposite::SplitCrossover);
    ASSERT_FALSE(runThrough(*tree, in).empty());
    const std::vector<SoundAlgoStats*>& bands = builder.getStatsVector();
    ASSERT_EQ(bands.size(), 3u);
    const char* names[] = { "[0-200]", "[200-2000]", "[2000-22050]" };
    for (size_t b = 0; b < 3; ++b) {
        SCOPED_TRACE(names[b]);
        EXPECT_EQ(bands[b]->getId(), names[b]);
        SoundTools::StereoFrame<double> rms {};
        bands[b]->getRMS(rms);
        // The filters' start-up costs a few hundredths of a dB.
        EXPECT_NEAR(rms.left, dB(amplitudes[b] / std::sqrt(2.0)), 0.1);
    }
}
