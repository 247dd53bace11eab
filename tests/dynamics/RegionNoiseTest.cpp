// Noise classification, noise estimation, local re-classification, merging
// and dynamic compression on region lists whose expected results follow from
// the levels by hand.
#include "tests/support/Common.h"
#include "tests/support/SplitSignals.h"
#include "tulv/dynamics/RMSStepDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

using splitsignals::detectorFromRegions;
using splitsignals::DetectorPtr;
using testsupport::toDb;
using Region = RMSStepDetector::Region;

namespace {

// Lists are written in steps of 10 ms (a region of 100 lasts 1 s); each step
// is kScale frames at the lowest rate a recording may have.
constexpr unsigned int kRate = 1000;
constexpr int kScale = 10;

struct Piece {
    int length; // steps
    double level0, level1;
    bool noise = false;
    int weight = 0; // 0: one window per frame
};

// A detector holding the pieces one after another from frame 0.
DetectorPtr detector(const std::vector<Piece>& pieces, bool realTimeMode = false)
{
    std::vector<Region> regions;
    int begin = 0;
    for (const Piece& p : pieces) {
        const int length = p.length * kScale;
        regions.push_back({ begin, length, p.level0, p.level1, p.weight ? p.weight : length, p.noise });
        begin += length;
    }
    return detectorFromRegions(regions, kRate, realTimeMode);
}

std::vector<bool> flags(const RMSStepDetector& detector)
{
    std::vector<bool> result;
    for (const Region& r : detector.getRegions())
        result.push_back(r.noise);
    return result;
}

} // namespace

TEST(RegionNoiseClassification, RelativeToTheLoudestWeakerChannelOrAbsoluteInRealTime)
{
    // C has the largest weaker channel (1e-2): -30 dB puts the threshold at 1e-5.
    DetectorPtr list = detector({ { 100, 1e-6, 1e-6 }, { 200, 1e-1, 1e-3 }, { 100, 2e-2, 1e-2 }, { 100, 5e-7, 9e-6 } });
    EXPECT_TRUE(list->applyNoise(-30.0));
    EXPECT_EQ(flags(*list), (std::vector<bool> { true, false, false, true }));
    EXPECT_NEAR(list->getNoiseLevel(), std::pow(10.0, -30.0 / 20.0), 1e-15);
    // The same level again changes nothing.
    EXPECT_FALSE(list->applyNoise(-30.0));
    // A lower level gives noise regions back to the signal.
    EXPECT_TRUE(list->applyNoise(-60.0));
    EXPECT_EQ(flags(*list), (std::vector<bool> { false, false, false, false }));

    // In real-time mode the level is absolute.
    DetectorPtr live = detector({ { 100, 1e-6, 1e-6 }, { 100, 2e-6, 1e-7 }, { 100, 1e-2, 1e-2 } }, true);
    EXPECT_TRUE(live->applyNoise(-60.0));
    EXPECT_EQ(flags(*live), (std::vector<bool> { true, false, false }));
}

TEST(RegionNoiseEstimate, FromTheQuietestRegionsAboveTheFloorOrMinusTheRatio)
{
    using Case = std::tuple<const char*, std::vector<Piece>, double, double>; // name, pieces, ratio, estimate
    const Case cases[] = {
        // One started 5-minute block: a quiet budget of 1 s is reached
        // inside the 3 s of noise at -60 dB under music at -20 dB.
        { "noise and music", { { 300, 1e-6, 1e-6 }, { 6000, 1e-2, 1e-2 }, { 1, 0, 0, true } }, 60.0, toDb(1.05e-2) },
        { "nothing to measure", {}, 45.0, -45.0 },
        // A dead channel leaves the live one to be relative to.
        { "one channel silent", { { 300, 1e-6, 0.0 }, { 6000, 1e-2, 0.0 } }, 60.0, toDb(1.05e-2) },
        // The -60 dB region lies below the 30 dB floor and is passed over; the
        // 0.5 s at -40 dB do not fill the budget, which is reached at the
        // loudest region, nothing to measure either.
        { "budget met at the loudest", { { 300, 1e-6, 1e-6 }, { 50, 1e-4, 1e-4 }, { 6000, 1e-2, 1e-2 } }, 30.0, -30.0 },
    };
    for (const auto& [name, pieces, snrDb, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_NEAR(detector(pieces)->estimateNoise(1.0, snrDb), expected, 1e-9);
    }
    // The noise floor from a ratio: the loudest weaker channel minus it.
    EXPECT_NEAR(detector({ { 10, 1e-1, 1e-2 }, { 10, 1e-3, 1e-3 } })->getNoiseFromSNR(20.0), -40.0, 1e-12);
    EXPECT_EQ(DetectorPtr(new RMSStepDetector)->getNoiseFromSNR(20.0), -120.0);
}

TEST(RegionNoiseSplit, AQuietGapInsideALongRunBecomesNoise)
{
    // Two 30 s pieces joined by a 3 s gap that the first classification
    // missed, and a quiet passage 16 dB down inside the second piece.
    DetectorPtr list = detector({ { 1500, 1e-2, 1e-2 }, { 1500, 8e-3, 8e-3 }, { 300, 1e-6, 1e-6 }, { 1000, 1e-2, 1e-2 },
                                  { 400, 2.5e-4, 2.5e-4 }, { 1600, 1e-2, 1e-2 }, { 1, 0.0, 0.0, true } });
    EXPECT_EQ(list->getSegmentsNumber(), 1);
    list->split(600.0, 20.0, 30.0);
    EXPECT_EQ(flags(*list), (std::vector<bool> { false, false, true, false, false, false, true }));
    EXPECT_EQ(list->getSegmentsNumber(), 2);

    // A run no longer than the minimum (20 s here) is left alone.
    DetectorPtr run = detector({ { 900, 1e-2, 1e-2 }, { 100, 1e-7, 1e-7 }, { 1000, 1e-2, 1e-2 }, { 1, 0, 0, true } });
    run->split(600.0, 20.0, 30.0);
    EXPECT_EQ(flags(*run), (std::vector<bool> { false, false, false, true }));
    run->split(600.0, 19.0, 30.0);
    EXPECT_EQ(flags(*run), (std::vector<bool> { false, true, false, true }));
}

TEST(RegionMerge, NeighboursOfTheSameKindJoinWeightedByTheirWindowCounts)
{
    auto list = detector({ { 100, 1e-6, 2e-6, true, 10 }, { 50, 3e-6, 4e-6, true, 30 }, { 200, 1e-2, 2e-2, false, 10 },
                            { 300, 4e-2, 6e-2, false, 30 }, { 1, 0, 0, true, 1 } });
    const std::vector<Region> merged = list->buildMergedRegions();
    ASSERT_EQ(merged.size(), 3u);
    const Region want[] = { { 0, 1500, (1e-6 * 10 + 3e-6 * 30) / 40, (2e-6 * 10 + 4e-6 * 30) / 40, 40, true },
                            { 1500, 5000, (1e-2 * 10 + 4e-2 * 30) / 40, (2e-2 * 10 + 6e-2 * 30) / 40, 40 },
                            { 6500, 10, 0, 0, 1, true } };
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(std::tie(merged[k].begin, merged[k].length, merged[k].weight, merged[k].noise),
                  std::tie(want[k].begin, want[k].length, want[k].weight, want[k].noise)) << k;
        EXPECT_DOUBLE_EQ(merged[k].level0, want[k].level0) << k;
        EXPECT_DOUBLE_EQ(merged[k].level1, want[k].level1) << k;
    }
    list->mergeRegions();
    EXPECT_EQ(list->getRegions().size(), 3u);
}

TEST(RegionCompression, RatioOneBringsARunToItsLoudestAndTheMeanCorrectionWeighsTheGainsByLength)
{
    DetectorPtr list = detector({ { 100, 1e-2, 5e-3 }, { 100, 4e-3, 4e-3 }, { 50, 1e-7, 1e-7, true },
                                  { 100, 1e-3, 1e-3 }, { 100, 2.5e-4, 1e-4 }, { 1, 0, 0, true } });
    list->compressDynamic(1.0);
    const std::vector<Region> regions = list->getRegions();
    for (const auto& [k, loudest] : { std::pair { 0, 1e-2 }, { 1, 1e-2 }, { 3, 1e-3 }, { 4, 1e-3 } })
        EXPECT_NEAR(std::max(regions[k].level0, regions[k].level1), loudest, 1e-15) << k;
    // The balance between the channels of a region is kept.
    EXPECT_NEAR(regions[4].level1 / regions[4].level0, 0.4, 1e-12);
    // Noise regions are not touched.
    EXPECT_EQ(regions[2].level0, 1e-7);

    // Ratio 2: exponent (1 - 1/2)^2 = 0.25; a region 20 dB below the peak
    // takes a squared gain of 100^0.75.
    const double weighted = (100 * 1.0 + 300 * std::pow(100.0, 0.75)) / 400;
    EXPECT_NEAR(detector({ { 100, 1e-2, 1e-2 }, { 300, 1e-4, 1e-4 }, { 1, 0, 0, true } })->compressDynamic(2.0),
                10.0 * std::log10(weighted), 1e-9);
    // Equal gains throughout: the mean correction is that gain.
    EXPECT_NEAR(detector({ { 100, 1e-2, 1e-2 }, { 300, 1e-2, 1e-2 } })->compressDynamic(3.0), 0.0, 1e-12);
    // Unclassified lists may hold a silent region flagged as signal: it
    // takes no infinite gain.
    DetectorPtr silent = detector({ { 100, 1e-2, 1e-2 }, { 100, 0.0, 0.0 }, { 100, 1e-3, 1e-3 } });
    EXPECT_TRUE(std::isfinite(silent->compressDynamic(2.0)));
    for (const Region& r : silent->getRegions())
        EXPECT_TRUE(std::isfinite(r.level0) && std::isfinite(r.level1));
}

TEST(RegionCompression, AFinalFadeOutKeepsTheLevelOfItsFirstRegion)
{
    // 800 frames of music then a fade of three 30-frame regions; a tenth of
    // the signal is 89 frames, reached at the fade's first region.
    std::vector<Piece> pieces(8, { 100, 1e-2, 1e-2 });
    for (double level : { 4e-3, 1.6e-3, 6.4e-4 })
        pieces.push_back({ 30, level, level });
    pieces.push_back({ 1, 0, 0, true });
    DetectorPtr list = detector(pieces);
    list->compressDynamic(4.0);
    const std::vector<Region> regions = list->getRegions();
    EXPECT_DOUBLE_EQ(regions[9].level0, regions[8].level0);
    EXPECT_LT(regions[10].level0, regions[9].level0);
    EXPECT_NEAR(regions[0].level0, 1e-2, 1e-15);
}
