// The automatic gain brings each signal region of a recording to the target
// level, ramps between regions over the lengths its scale gives, leaves noise
// alone and never passes its maximum gain.
#include "tests/support/Common.h"
#include "tests/support/SplitSignals.h"
#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/dynamics/SoundAlgoRMSAmplifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace testsupport;
using splitsignals::detectorFromRegions;

namespace {

constexpr unsigned int kRate = 44100;

// The gain applied to each frame, read on the left channel; frames where the
// input is too close to zero to tell take the gain of the frame before.
std::vector<double> gains(const std::vector<double>& in, const std::vector<double>& out)
{
    std::vector<double> result(frameCount(in), 0.0);
    double last = 0.0;
    for (size_t i = 0; i < result.size(); ++i) {
        if (std::fabs(in[2 * i]) > 1e-6)
            last = out[2 * i] / in[2 * i];
        result[i] = last;
    }
    return result;
}

AlgoRef<SoundAlgoRMSAmplifier> amplifier(double target, RMSStepDetector* detector, double maxRamp = 3.0,
                                         int smoothing = 0, double range = 30.0, double maxGain = 20.0)
{
    AlgoRef<SoundAlgoRMSAmplifier> amp(new SoundAlgoRMSAmplifier(target, detector, maxRamp, smoothing, range, maxGain));
    if (detector)
        detector->release(); // the amplifier holds its own reference
    return amp;
}

// Ramp length for an amplitude ratio, from the scale: 1 s up to 1 dB, the
// maximum ramp time from 5 dB, linear in the ratio between.
int expectedRampFrames(double changeDb, double maxRamp)
{
    const double x = std::clamp((fromDb(std::fabs(changeDb)) - fromDb(1.0)) / (fromDb(5.0) - fromDb(1.0)), 0.0, 1.0);
    return int(std::floor((x * (maxRamp - 1.0) + 1.0) * kRate + 0.5));
}

// A recording made of `layouts`, through an amplifier following the regions
// they describe: the input, the output and the gain of every frame.
struct RegionRun {
    std::vector<RMSStepDetector::Region> regions;
    std::vector<double> in, out, gain;
};
RegionRun runRegions(const std::vector<RegionLayout>& layouts, double target, double maxRamp = 3.0, int smoothing = 0,
                     double range = 30.0, double maxGain = 20.0, unsigned int block = 0)
{
    RegionRun r { regionsOf(layouts, kRate), recordingOf(layouts, kRate), {}, {} };
    auto amp = amplifier(target, detectorFromRegions(r.regions, kRate).release(), maxRamp, smoothing, range, maxGain);
    r.out = runThrough(*amp, r.in, block, kRate);
    EXPECT_EQ(r.out.size(), r.in.size());
    r.gain = gains(r.in, r.out);
    return r;
}

// Finite, never negative, never above the maximum of 20 dB.
void expectBounded(const std::vector<double>& g, unsigned int block)
{
    for (double gain : g)
        ASSERT_TRUE(std::isfinite(gain) && gain >= 0.0 && gain <= fromDb(20.0) * (1 + 1e-12))
            << gain << ", block " << block;
}

} // namespace

TEST(AmplifierPlainGain, WithoutRegionsTheOutputIsTheInputTimesTheLevelAndTheBalance)
{
    const std::vector<double> in = sine(5000, 440.0, 0.7, kRate, 0.3);
    // The balance raises the quieter channel; it and a new level outlive the run.
    auto amp = amplifier(-3.0, nullptr);
    amp->setBalanceFromRMS({ -20.0, -26.0 });
    for (double level : { -3.0, -6.0 }) {
        const std::vector<double> out = runThrough(*amp, in, 0, kRate);
        ASSERT_EQ(out.size(), in.size());
        for (size_t i = 0; i < frameCount(in); ++i) {
            ASSERT_EQ(out[2 * i], in[2 * i] * fromDb(level));
            ASSERT_NEAR(out[2 * i + 1], in[2 * i + 1] * fromDb(level + 6.0), 1e-15);
        }
        amp->setLevel(-6.0);
    }
    // A detector with no regions leaves the stream alone.
    auto empty = amplifier(-3.0, detectorFromRegions({}, kRate).release());
    EXPECT_EQ(runThrough(*empty, in, 0, kRate), in);
}

TEST(AmplifierRegions, EachSignalRegionReachesTheTargetAfterItsRamp)
{
    // Quiet passage, a pause, a loud passage and a moderate one, brought to
    // -15 dB over ramps of up to 3 s.
    const std::vector<RegionLayout> layouts = { { 3, -25 }, { 2, -55, true }, { 6, -8 }, { 5, -17 } };
    std::vector<double> reference;
    for (unsigned int block : { 1u, 1024u, 4096u, 50000u }) {
        SCOPED_TRACE(block);
        const RegionRun r = runRegions(layouts, -15.0, 3.0, 0, 30.0, 20.0, block);
        // The first region takes its gain at once: +10 dB.
        EXPECT_NEAR(rmsDbOf(r.out, 0, size_t(r.regions[0].length)), -15.0, 0.5);
        EXPECT_NEAR(toDb(r.gain[100]), 10.0, 1e-9);
        // The pause keeps the gain the quiet passage had: it is neither
        // brought to the target nor ramped anywhere.
        for (int i = r.regions[1].begin; i < r.regions[2].begin; ++i)
            ASSERT_NEAR(r.gain[size_t(i)], fromDb(10.0), 1e-9) << "frame " << i;
        // +10 dB to −7 dB is a change of more than 5 dB: the full ramp.
        const size_t settled = size_t(r.regions[2].begin + expectedRampFrames(-17.0, 3.0));
        EXPECT_NEAR(toDb(r.gain[settled]), -7.0, 1e-9);
        EXPECT_GT(toDb(r.gain[settled - 200]), -7.0 + 1e-3) << "the ramp ended early";
        EXPECT_NEAR(rmsDbOf(r.out, settled, size_t(r.regions[3].begin)), -15.0, 0.5);
        // −7 dB to +2 dB: again more than 5 dB.
        const size_t settled2 = size_t(r.regions[3].begin + expectedRampFrames(9.0, 3.0));
        EXPECT_NEAR(rmsDbOf(r.out, settled2, size_t(r.regions[4].begin)), -15.0, 0.5);
        // However the stream is cut into blocks, the gain follows one path.
        EXPECT_TRUE(reference.empty() || r.out == reference);
        reference = r.out;
    }
}

TEST(AmplifierRegions, RampLengthsFollowTheScale)
{
    // A change of 0.5 dB takes one second, 3 dB takes 1 + 0.443 × (max − 1)
    // seconds, 8 dB the maximum ramp time.
    const double maxRamp = 4.0;
    for (double change : { 0.5, 3.0, -3.0, 8.0 }) {
        const RegionRun r = runRegions({ { 2.0, -20.0 }, { 6.0, -20.0 - change } }, -20.0, maxRamp);
        int reached = -1;
        for (size_t i = size_t(r.regions[1].begin); i < r.gain.size() && reached < 0; ++i)
            if (std::fabs(r.gain[i] - fromDb(change)) < 1e-12)
                reached = int(i) - r.regions[1].begin;
        // The frame of the region change keeps the coefficient; the ramp
        // runs over the frames after it.
        EXPECT_NEAR(reached, expectedRampFrames(change, maxRamp), 1) << "change " << change << " dB";
    }
}

TEST(AmplifierRegions, GainStaysUnderTheMaximumOverTheFloorAndNoiseIsNeverBroughtUp)
{
    // −50 dB would need +35 dB to reach −15 dB: the maximum of 20 dB holds.
    const RegionRun capped = runRegions({ { 2.0, -50.0 } }, -15.0, 3.0, 0, 30.0, 20.0);
    expectBounded(capped.gain, 0);
    EXPECT_NEAR(rmsDbOf(capped.out, 0, frameCount(capped.in)), -30.0, 0.5);
    // With a pull of 1/2 towards the loudest level (−25 dB for a detector
    // that never ran) the region would come out at −34 dB; the floor of
    // 10 dB under the target raises it to −25 dB, which the maximum allows.
    EXPECT_NEAR(toDb(runRegions({ { 2.0, -50.0 } }, -15.0, 3.0, 2, 10.0, 30.0).gain[500]), 25.0, 1e-9);
    // A recording that starts and ends in noise: the gain there is unity,
    // and it never rises while the noise lasts.
    const RegionRun r = runRegions({ { 1.5, -60.0, true }, { 3.0, -30.0 }, { 2.0, -62.0, true } }, -15.0);
    for (int i = 0; i < r.regions[1].begin; ++i)
        ASSERT_EQ(r.out[2 * i], r.in[2 * i]) << "frame " << i;
    for (size_t i = size_t(r.regions[2].begin); i < r.gain.size(); ++i)
        ASSERT_NEAR(r.gain[i], r.gain[size_t(r.regions[2].begin - 1)], 1e-12) << "frame " << i;
}

TEST(AmplifierLevel, GetLevelReadsTheRegionsAndSearchesOnlyForward)
{
    const std::vector<RegionLayout> layouts = { { 2.0, -25.0 }, { 1.0, -60.0, true }, { 2.0, -10.0 } };
    auto amp = amplifier(-15.0, detectorFromRegions(regionsOf(layouts, kRate), kRate).release());
    EXPECT_NEAR(amp->getLevel(0.5), 10.0, 1e-9);
    EXPECT_EQ(amp->getLevel(2.5), 0.0);
    EXPECT_NEAR(amp->getLevel(4.0), -5.0, 1e-9);
    // Backwards: the search does not go back until reset.
    EXPECT_NEAR(amp->getLevel(0.5), -5.0, 1e-9);
    amp->reset();
    EXPECT_NEAR(amp->getLevel(0.5), 10.0, 1e-9);

    EXPECT_EQ(amplifier(-15.0, detectorFromRegions({}, kRate).release())->getLevel(1.0), 0.0);
    EXPECT_NEAR(amplifier(-6.0, nullptr)->getLevel(12.0), -6.0, 1e-12); // without a detector: the level set
}

TEST(AmplifierSlopes, FollowingADetectorThatRunsInTheSamePassStaysBounded)
{
    // Played live: the detector cuts regions block by block just ahead of
    // the amplifier, so slopes are seen while they are still going on and
    // are often already over by the time a block starts. Steady, a rise of
    // 24 dB, steady, a fall of 18 dB, steady: a 220 Hz tone.
    std::vector<double> in(2 * size_t(16 * kRate));
    for (unsigned int i = 0; i < 16 * kRate; ++i) {
        const double t = double(i) / kRate;
        const double db = t < 3 ? -36 : t < 7 ? -36 + 6 * (t - 3) : t < 9 ? -12 : t < 12 ? -12 - 6 * (t - 9) : -30;
        in[2 * i] = in[2 * i + 1] = fromDb(db) * std::sqrt(2.0) * std::sin(2 * M_PI * 220.0 * i / kRate);
    }
    // Blocks of one detector window (0.2 s) start on the frame where the
    // detector last measured the rise: the slope then ends exactly at the
    // first frame of the amplifier's block.
    for (unsigned int block : { 1024u, 4096u, 8820u }) {
        RMSStepDetector* detector = new RMSStepDetector(-70.0, 0.2, 0.5, RMSStepDetector::PassThrough, true);
        detector->addRef();
        AlgoRef<SoundAlgoComposite> chain(new SoundAlgoComposite());
        chain->pushAlgo(detector);
        chain->pushAlgo(new SoundAlgoRMSAmplifier(-20.0, detector, 2.0, 0, 40.0, 20.0));
        const std::vector<double> out = runThrough(*chain, in, block, kRate);
        detector->release();
        ASSERT_EQ(out.size(), in.size());
        expectBounded(gains(in, out), block);
        EXPECT_NEAR(rmsDbOf(out, 2 * kRate, 3 * kRate), -20.0, 0.5) << "block " << block;
        // Past the rise the amplifier still follows the regions.
        EXPECT_NEAR(rmsDbOf(out, 7 * kRate, 9 * kRate), -20.0, 2.0) << "block " << block;
    }
}

TEST(AmplifierThreaded, SetLevelFromAnotherThreadDuringARun)
{
    const std::vector<RegionLayout> layouts = { { 10, -25 }, { 3, -60, true }, { 12, -8 }, { 10, -17 } };
    const std::vector<double> in = recordingOf(layouts, kRate);
    auto amp = amplifier(-15.0, detectorFromRegions(regionsOf(layouts, kRate), kRate).release());
    VectorReader reader(in, kRate);
    double level = -20.0;
    int levelsSet = 0;
    const std::vector<double> out = runWhilePoked(*amp, reader, [&] {
        amp->setLevel(level);
        (void)amp->getLevel(3.0);
        level = level > -10.0 ? -20.0 : level + 1.0;
        ++levelsSet;
    }, 300);
    EXPECT_GT(levelsSet, 0);
    ASSERT_EQ(out.size(), in.size());
    // Whatever level was set last, the gain stayed within its bounds.
    expectBounded(gains(in, out), 0);
}
