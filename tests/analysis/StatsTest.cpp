// Level statistics: the levels of known signals over exactly the source's
// frames, the sliding RMS centred on its frame across block edges, the JSON
// form rebuilt through the registry, and tones measured in their own bands.
#include "tests/support/Common.h"
#include "tulv/analysis/SoundAlgoStats.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

TEST(SoundAlgoStatsLevels, KnownSignalsGiveTheirLevelsOverExactlyTheSourceFramesAndBadSettingsAreRefused)
{
    std::vector<double> square(2 * 44100);
    for (size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 100) % 2 ? 1.0 : -1.0;
    std::vector<double> leftOnly = sine(44100, 441.0, 0.5);
    for (size_t i = 1; i < leftOnly.size(); i += 2)
        leftOnly[i] = 0.0;
    struct Case {
        const char* name;
        std::vector<double> in;
        SoundAlgoStats::OutputType type;
        double window, rmsL, rmsR, peakL, peakR, full;
    };
    // The sliding window pads the stream with zeros that must not count.
    const Case cases[] = { { "full-scale square", square, SoundAlgoStats::StatsOnly, 0.0, 0, 0, 0, 0, 0 },
                           { "sine left, silence right, windowed", leftOnly,
                             SoundAlgoStats::RMSAndStats, 0.05, -9.0309, -100, -6.0206, -100, -12.0412 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlgoRef<SoundAlgoStats> stats(new SoundAlgoStats(c.type, c.window));
        ASSERT_EQ(runThrough(*stats, c.in, 1000).size(), c.in.size());
        EXPECT_EQ(stats->getCount(), 44100u);
        SoundTools::StereoFrame<double> rms {}, peak {};
        double full = 1.0;
        stats->getGlobalStats(rms, full, peak);
        for (const auto& [got, want] : { std::pair { rms.left, c.rmsL }, { rms.right, c.rmsR }, { peak.left, c.peakL },
                                         { peak.right, c.peakR }, { full, c.full } })
            EXPECT_NEAR(got, want, 1e-3);
    }
    // A sliding RMS alone accumulates nothing; without a window it has nothing to give and refuses to run.
    AlgoRef<SoundAlgoStats> rmsOnly(new SoundAlgoStats(SoundAlgoStats::RMSOnly, 0.01));
    ASSERT_FALSE(runThrough(*rmsOnly, square).empty());
    EXPECT_EQ(rmsOnly->getCount(), 0u);
    AlgoRef<SoundAlgoStats> noWindow(new SoundAlgoStats(SoundAlgoStats::RMSOnly, 0.0));
    EXPECT_EQ(runStatus(*noWindow, square), SoundTools::Error);
    // Objects of another class or output type are refused.
    QJsonObject object;
    AlgoRef<SoundAlgoStats>(new SoundAlgoStats(SoundAlgoStats::RMSAndStats, 0.02))->writeToJSon(object);
    for (const auto& [key, value] : { std::pair<QString, QJsonValue> { "Class", "RMSStepDetector" },
                                      { "OutputType", 3 }, { "WindowTime", QJsonValue() } }) {
        QJsonObject bad = object;
        bad.insert(key, value);
        EXPECT_EQ(SoundAlgoStats::createFromJSon(bad), nullptr) << key.toStdString();
    }
}

TEST(SoundAlgoStatsLevels, SlidingRmsIsCentredOnEachFrameAcrossBlockEdges)
{
    // rate, block, half window: 0.01 s makes 441 and 481 frames.
    for (const auto& [rate, block, half] : { std::tuple { 44100u, 1000u, 220 }, { 48000u, 4096u, 240 } }) {
        SCOPED_TRACE(rate);
        const int n = 5000;
        std::vector<double> in(2 * n, 0.25);
        for (int i = 0; i < n; ++i) // bursts of differing levels
            in[2 * i] = (i / 700) % 2 ? 0.0 : 0.1 * (1 + i / 700) * ((i % 3) - 1.0);
        AlgoRef<SoundAlgoStats> stats(new SoundAlgoStats(SoundAlgoStats::RMSOnly, 0.01));
        const std::vector<double> out = runThrough(*stats, in, block, rate);
        ASSERT_EQ(out.size(), in.size());
        for (int j = 0; j < 2 * n; ++j) {
            double sum = 0.0;
            for (int k = std::max(0, j / 2 - half); k <= std::min(n - 1, j / 2 + half); ++k)
                sum += in[2 * k + j % 2] * in[2 * k + j % 2];
            ASSERT_NEAR(out[j] * out[j], sum / (2 * half + 1), 1e-12) << "sample " << j;
        }
    }
}

TEST(SoundAlgoStatsBands, TonesAreMeasuredInTheirOwnBands)
{
    // Each tone lies two octaves or more from a crossover, where the
    // fourth-order slopes have taken the other bands down by 48 dB.
    SoundAlgoStats::FrequencyBuilder builder;
    AlgoRef<SoundAlgoComposite> tree(new SoundAlgoComposite);
    tree->buildMultibandTree({ 199.9, 2000.0 }, builder, SoundAlgoComposite::SplitCrossover);
    std::vector<double> chord = sine(44100, 50.0, 0.5);
    const std::vector<double> middle = sine(44100, 630.0, 0.25), high = sine(44100, 8000.0, 0.125);
    for (size_t i = 0; i < chord.size(); ++i)
        chord[i] += middle[i] + high[i];
    ASSERT_FALSE(runThrough(*tree, chord).empty());
    ASSERT_EQ(builder.getStatsVector().size(), 3u);
    const char* names[] = { "[0-199]", "[199-2000]", "[2000-22050]" };
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(builder.getStatsVector()[b]->getId(), names[b]);
        SoundTools::StereoFrame<double> rms {};
        builder.getStatsVector()[b]->getRMS(rms);
        EXPECT_NEAR(rms.left, 20 * std::log10(0.5 / std::sqrt(2.0)) - 6.0206 * b, 0.1) << names[b];
    }
}
