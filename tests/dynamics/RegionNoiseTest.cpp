// Noise classification, noise estimation, local re-classification, merging
// and dynamic compression on region lists whose expected results follow from
// the levels by hand.
#include "tests/support/SplitSignals.h"
#include "tulv/dynamics/RMSStepDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using splitsignals::detectorFromRegions;
using splitsignals::DetectorPtr;
using Region = RMSStepDetector::Region;

namespace {

// Lists are written in steps of 10 ms (a region of 100 lasts 1 s); each step
// is kScale frames at the lowest rate a recording may have.
constexpr unsigned int kRate = 1000;
constexpr int kScale = 10;

Region region(int begin, int length, double level0, double level1, bool noise = false, int weight = 0)
{
    Region r;
    r.begin = begin * kScale;
    r.length = length * kScale;
    r.level0 = level0;
    r.level1 = level1;
    r.weight = weight ? weight : length * kScale;
    r.noise = noise;
    return r;
}

std::vector<bool> flags(const RMSStepDetector& detector)
{
    std::vector<bool> result;
    for (const Region& r : detector.getRegions())
        result.push_back(r.noise);
    return result;
}

double loudness(const Region& r)
{
    return std::max(r.level0, r.level1);
}

} // namespace

TEST(RegionNoiseClassification, RelativeToTheLoudestWeakerChannelOrAbsoluteInRealTime)
{
    // C has the largest weaker channel (1e-2): -30 dB puts the threshold at 1e-5.
    DetectorPtr detector = detectorFromRegions({ region(0, 100, 1e-6, 1e-6), region(100, 200, 1e-1, 1e-3),
                                                 region(300, 100, 2e-2, 1e-2), region(400, 100, 5e-7, 9e-6) },
                                               kRate);
    EXPECT_TRUE(detector->applyNoise(-30.0));
    EXPECT_EQ(flags(*detector), (std::vector<bool> { true, false, false, true }));
    EXPECT_NEAR(detector->getNoiseLevel(), std::pow(10.0, -30.0 / 20.0), 1e-15);
    // The same level again changes nothing.
    EXPECT_FALSE(detector->applyNoise(-30.0));
    // A lower level gives noise regions back to the signal.
    EXPECT_TRUE(detector->applyNoise(-60.0));
    EXPECT_EQ(flags(*detector), (std::vector<bool> { false, false, false, false }));

    // In real-time mode the level is absolute.
    DetectorPtr live = detectorFromRegions(
        { region(0, 100, 1e-6, 1e-6), region(100, 100, 2e-6, 1e-7), region(200, 100, 1e-2, 1e-2) }, kRate, true);
    EXPECT_TRUE(live->applyNoise(-60.0));
    EXPECT_EQ(flags(*live), (std::vector<bool> { true, false, false }));
}

TEST(RegionNoiseEstimate, FromTheQuietestRegionsAboveTheFloorOrMinusTheRatio)
{
    struct Case {
        const char* name;
        std::vector<Region> regions;
        double snrDb, expected;
    };
    const Case cases[] = {
        // One started 5-minute block: a quiet budget of 1 s is reached
        // inside the 3 s of noise at -60 dB under music at -20 dB.
        { "noise and music",
          { region(0, 300, 1e-6, 1e-6), region(300, 6000, 1e-2, 1e-2), region(6300, 1, 0, 0, true) }, 60.0,
          20.0 * std::log10(1.05 * std::sqrt(1e-6) / std::sqrt(1e-2)) },
        { "nothing to measure", {}, 45.0, -45.0 },
        // A dead channel leaves the live one to be relative to.
        { "one channel silent", { region(0, 300, 1e-6, 0.0), region(300, 6000, 1e-2, 0.0) }, 60.0,
          20.0 * std::log10(1.05 * std::sqrt(1e-6 / 1e-2)) },
        // The -60 dB region lies below the 30 dB floor and is passed over; the
        // 0.5 s at -40 dB do not fill the budget, which is reached at the
        // loudest region, nothing to measure either.
        { "budget reached at the loudest",
          { region(0, 300, 1e-6, 1e-6), region(300, 50, 1e-4, 1e-4), region(350, 6000, 1e-2, 1e-2) }, 30.0, -30.0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(detectorFromRegions(c.regions, kRate)->estimateNoise(1.0, c.snrDb), c.expected, 1e-9);
    }
    // The noise floor from a ratio: the loudest weaker channel minus it.
    EXPECT_NEAR(detectorFromRegions({ region(0, 10, 1e-1, 1e-2), region(10, 10, 1e-3, 1e-3) }, kRate)->getNoiseFromSNR(20.0),
                -40.0, 1e-12);
    EXPECT_EQ(DetectorPtr(new RMSStepDetector)->getNoiseFromSNR(20.0), -120.0);
}

TEST(RegionNoiseSplit, AQuietGapInsideALongRunBecomesNoise)
{
    // Two 30 s pieces joined by a 3 s gap that the first classification
    // missed, and a quiet passage 16 dB down inside the second piece.
    DetectorPtr detector = detectorFromRegions({ region(0, 1500, 1e-2, 1e-2), region(1500, 1500, 8e-3, 8e-3),
                                                 region(3000, 300, 1e-6, 1e-6), region(3300, 1000, 1e-2, 1e-2),
                                                 region(4300, 400, 2.5e-4, 2.5e-4), region(4700, 1600, 1e-2, 1e-2),
                                                 region(6300, 1, 0.0, 0.0, true) },
                                               kRate);
    EXPECT_EQ(detector->getSegmentsNumber(), 1);
    detector->split(600.0, 20.0, 30.0);
    EXPECT_EQ(flags(*detector), (std::vector<bool> { false, false, true, false, false, false, true }));
    EXPECT_EQ(detector->getSegmentsNumber(), 2);

    // A run no longer than the minimum (20 s here) is left alone.
    DetectorPtr shorter = detectorFromRegions({ region(0, 900, 1e-2, 1e-2), region(900, 100, 1e-7, 1e-7),
                                                region(1000, 1000, 1e-2, 1e-2), region(2000, 1, 0, 0, true) },
                                              kRate);
    shorter->split(600.0, 20.0, 30.0);
    EXPECT_EQ(flags(*shorter), (std::vector<bool> { false, false, false, true }));
    shorter->split(600.0, 19.0, 30.0);
    EXPECT_EQ(flags(*shorter), (std::vector<bool> { false, true, false, true }));
}

TEST(RegionMerge, NeighboursOfTheSameKindJoinWeightedByTheirWindowCounts)
{
    DetectorPtr detector = detectorFromRegions(
        { region(0, 100, 1e-6, 2e-6, true, 10), region(100, 50, 3e-6, 4e-6, true, 30),
          region(150, 200, 1e-2, 2e-2, false, 10), region(350, 300, 4e-2, 6e-2, false, 30),
          region(650, 1, 0.0, 0.0, true, 1) },
        kRate);
    const std::vector<Region> merged = detector->buildMergedRegions();
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0].begin, 0);
    EXPECT_EQ(merged[0].length, 150 * kScale);
    EXPECT_EQ(merged[0].weight, 40);
    EXPECT_DOUBLE_EQ(merged[0].level0, (1e-6 * 10 + 3e-6 * 30) / 40);
    EXPECT_EQ(merged[1].begin, 150 * kScale);
    EXPECT_EQ(merged[1].length, 500 * kScale);
    EXPECT_DOUBLE_EQ(merged[1].level1, (2e-2 * 10 + 6e-2 * 30) / 40);
    EXPECT_FALSE(merged[1].noise);
    EXPECT_EQ(merged[2].begin, 650 * kScale);
    EXPECT_TRUE(merged[2].noise);
    detector->mergeRegions();
    EXPECT_EQ(detector->getRegions().size(), 3u);
}

TEST(RegionCompression, RatioOneBringsEveryRegionOfARunToItsLoudest)
{
    DetectorPtr detector = detectorFromRegions(
        { region(0, 100, 1e-2, 5e-3), region(100, 100, 4e-3, 4e-3), region(200, 50, 1e-7, 1e-7, true),
          region(250, 100, 1e-3, 1e-3), region(350, 100, 2.5e-4, 1e-4), region(450, 1, 0, 0, true) },
        kRate);
    detector->compressDynamic(1.0);
    const std::vector<Region> regions = detector->getRegions();
    EXPECT_NEAR(loudness(regions[0]), 1e-2, 1e-15);
    EXPECT_NEAR(loudness(regions[1]), 1e-2, 1e-15);
    EXPECT_NEAR(loudness(regions[3]), 1e-3, 1e-15);
    EXPECT_NEAR(loudness(regions[4]), 1e-3, 1e-15);
    // The balance between the channels of a region is kept.
    EXPECT_NEAR(regions[4].level1 / regions[4].level0, 0.4, 1e-12);
    // Noise regions are not touched.
    EXPECT_EQ(regions[2].level0, 1e-7);
}

TEST(RegionCompression, TheMeanCorrectionWeighsTheGainsByLengthAndStaysFinite)
{
    // Ratio 2: exponent (1 - 1/2)^2 = 0.25; a region 20 dB below the peak
    // takes a squared gain of 100^0.75.
    DetectorPtr detector = detectorFromRegions(
        { region(0, 100, 1e-2, 1e-2), region(100, 300, 1e-4, 1e-4), region(400, 1, 0, 0, true) }, kRate);
    const double weighted = (100 * 1.0 + 300 * std::pow(100.0, 0.75)) / 400;
    EXPECT_NEAR(detector->compressDynamic(2.0), 10.0 * std::log10(weighted), 1e-9);
    // Equal gains throughout: the mean correction is that gain.
    DetectorPtr flat = detectorFromRegions({ region(0, 100, 1e-2, 1e-2), region(100, 300, 1e-2, 1e-2) }, kRate);
    EXPECT_NEAR(flat->compressDynamic(3.0), 0.0, 1e-12);
    // Unclassified lists may hold a silent region flagged as signal: it
    // takes no infinite gain.
    DetectorPtr silent = detectorFromRegions(
        { region(0, 100, 1e-2, 1e-2), region(100, 100, 0.0, 0.0), region(200, 100, 1e-3, 1e-3) }, kRate);
    EXPECT_TRUE(std::isfinite(silent->compressDynamic(2.0)));
    for (const Region& r : silent->getRegions())
        EXPECT_TRUE(std::isfinite(r.level0) && std::isfinite(r.level1));
}

TEST(RegionCompression, AFinalFadeOutKeepsTheLevelOfItsFirstRegion)
{
    // 800 frames of music then a fade of three 30-frame regions; a tenth of
    // the signal is 89 frames, reached at the fade's first region.
    std::vector<Region> list;
    for (int i = 0; i < 8; ++i)
        list.push_back(region(i * 100, 100, 1e-2, 1e-2));
    list.push_back(region(800, 30, 4e-3, 4e-3));
    list.push_back(region(830, 30, 1.6e-3, 1.6e-3));
    list.push_back(region(860, 30, 6.4e-4, 6.4e-4));
    list.push_back(region(890, 1, 0, 0, true));
    DetectorPtr detector = detectorFromRegions(list, kRate);
    detector->compressDynamic(4.0);
    const std::vector<Region> regions = detector->getRegions();
    EXPECT_DOUBLE_EQ(regions[9].level0, regions[8].level0);
    EXPECT_LT(regions[10].level0, regions[9].level0);
    EXPECT_NEAR(regions[0].level0, 1e-2, 1e-15);
}
