// The step detector on tones whose levels are known exactly: which level
// changes make a region, where regions begin, the fade zone, the end marker,
// the output modes and the queries.
#include "tests/support/Common.h"
#include "tests/support/MemoryIO.h"
#include "tests/support/SplitSignals.h"
#include "tulv/dynamics/RMSStepDetector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

using splitsignals::DetectorPtr;
using testsupport::RegionLayout;
using Region = RMSStepDetector::Region;

namespace {

constexpr unsigned int kRate = 8000;
constexpr int kWindow = 1600; // 0.2 s at 8 kHz
constexpr double kPi = 3.14159265358979323846;

int frames(double seconds)
{
    return static_cast<int>(std::lround(seconds * kRate));
}

// Tones whose RMS is each piece's level, one piece after another; -INFINITY
// is digital silence.
testsupport::GeneratorReader tones(const std::vector<RegionLayout>& pieces)
{
    return testsupport::VectorReader(testsupport::recordingOf(pieces, kRate), kRate);
}

DetectorPtr run(testsupport::GeneratorReader reader, RMSStepDetector::OutputMode mode = RMSStepDetector::NoOutput,
                testsupport::CapturingWriter* writer = nullptr)
{
    DetectorPtr detector(new RMSStepDetector(-40.0, 0.2, 1.0, mode, false));
    EXPECT_EQ(detector->processAll(reader, writer), SoundTools::Ok);
    return detector;
}

// The region that holds the frame at `seconds`; a default region if none.
Region regionAt(const RMSStepDetector& detector, double seconds)
{
    for (const Region& region : detector.getRegions())
        if (region.begin <= frames(seconds) && region.begin + region.length > frames(seconds))
            return region;
    ADD_FAILURE() << "no region at " << seconds << " s";
    return Region();
}

} // namespace

TEST(DetectorSteps, SmallStepsNeedALongRegionBeforeThemLargeOnesLess)
{
    // Under 1 dB never; 1.5 dB once the region has lasted 10 s; 6 dB after
    // 2 s; a rise in the last 10 s (the fade zone) still starts a region.
    // The second region's start, -1 for one region only.
    using Case = std::tuple<const char*, std::vector<RegionLayout>, double>;
    const Case cases[] = {
        { "0.9 dB", { { 12.0, -20.0 }, { 12.0, -19.1 }, { 12.0, -20.0 } }, -1 },
        { "1.5 dB after 5 s", { { 5.0, -20.0 }, { 20.0, -18.5 } }, -1 },
        { "1.5 dB after 12 s", { { 12.0, -20.0 }, { 20.0, -18.5 } }, 12.0 },
        { "6 dB after 2.5 s", { { 2.5, -20.0 }, { 6.0, -14.0 }, { 15.0, -14.0 } }, 2.5 },
        { "rise in the fade zone", { { 15.0, -20.0 }, { 5.0, -14.0 } }, 15.0 },
    };
    for (const auto& [name, pieces, secondBegins] : cases) {
        SCOPED_TRACE(name);
        DetectorPtr detector = run(tones(pieces));
        const std::vector<Region> regions = detector->getRegions();
        ASSERT_EQ(regions.size(), secondBegins < 0 ? 2u : 3u);
        // Consecutive regions tile the stream, up to a silent marker one
        // frame long at the absolute end.
        EXPECT_EQ(regions[0].begin + regions[0].length, regions[1].begin);
        const Region& marker = regions.back();
        EXPECT_EQ(std::tuple(marker.begin, marker.length, marker.level0, marker.noise),
                  std::tuple(int(tones(pieces).getFrameNB()), 1, 0.0, true));
        EXPECT_EQ(detector->getFullLength(), tones(pieces).getFrameNB());
        if (secondBegins < 0)
            continue;
        EXPECT_NEAR(regions[1].begin, frames(secondBegins), kWindow);
        // A long region has its own level.
        if (secondBegins >= 10.0) {
            EXPECT_NEAR(testsupport::toDb(std::sqrt(regions[0].level0)), pieces[0].rmsDb, 0.1);
            EXPECT_NEAR(testsupport::toDb(std::sqrt(regions[1].level0)), pieces.back().rmsDb, 0.1);
        }
    }
}

namespace {
// 15 s of tone, a linear fade to zero over 8 s, then `after` seconds of tone.
testsupport::GeneratorReader fadeOut(double after)
{
    const int fadeStart = frames(15.0);
    const int fadeEnd = frames(23.0);
    const double amplitude = std::sqrt(2.0) * std::pow(10.0, -14.0 / 20.0);
    return testsupport::GeneratorReader(static_cast<unsigned int>(fadeEnd + frames(after)), kRate, [=](int i, int c) {
        const double gain = i >= fadeEnd ? 0.5 : i >= fadeStart ? double(fadeEnd - i) / (fadeEnd - fadeStart) : 1.0;
        return amplitude * gain * std::sin(2.0 * kPi * 441.0 * i / kRate + c);
    });
}

// 12 s of tone at -14 dB, 3 s of hiss at -60 dB with a click of -30 dB peak
// every 0.3 s, 12 s of tone.
testsupport::GeneratorReader clicksInAGap()
{
    const int gapBegin = frames(12.0), gapEnd = frames(15.0);
    const double amplitude = std::sqrt(2.0) * std::pow(10.0, -14.0 / 20.0);
    return testsupport::GeneratorReader(static_cast<unsigned int>(frames(27.0)), kRate, [=](int i, int c) {
        if (i < gapBegin || i >= gapEnd)
            return amplitude * std::sin(2.0 * kPi * 441.0 * i / kRate + c);
        const double hiss = 1e-3 * std::sin(1.7 * i + c) * std::sin(0.37 * i);
        const int k = (i - gapBegin) % frames(0.3);
        return hiss + (k < 8 ? 0.03 * std::exp(-k / 2.0) : 0.0);
    });
}

long regionsBeginningIn(const RMSStepDetector& detector, double from, double to)
{
    const std::vector<Region> regions = detector.getRegions();
    return std::count_if(regions.begin(), regions.end(),
                         [&](const Region& r) { return r.begin >= frames(from) && r.begin < frames(to); });
}
} // namespace

TEST(DetectorSteps, QuietStretchesStandOnTheirOwnFromWhereTheyBegin)
{
    // Name, input, a time in the region checked, where that region begins (within a tolerance in frames), a time
    // it lasts to, and whether it is noise.
    using Case = std::tuple<const char*, testsupport::GeneratorReader, double, double, int, double, bool>;
    const Case cases[] = {
        // A region that begins 1.5 s before the sound stops: the 4 s of near
        // silence after it must not be averaged into it.
        { "quiet after a short region", tones({ { 12, -20 }, { 1.5, -14 }, { 4, -70 }, { 12, -20 } }), 15.5, 13.5,
          kWindow, 17.0, true },
        { "clicks in a gap below the noise level do not break it up", clicksInAGap(), 13.5, 12.0, kWindow, 14.8, true },
        { "lead-out noise after the last track", tones({ { 15, -14 }, { 5, -70 } }), 16.0, 15.0, kWindow, 19.5, true },
        { "the track before it", tones({ { 15, -14 }, { 5, -70 } }), 14.0, 0.0, kWindow, 14.8, false },
        // 0.3 s of zeros, more than a window, within the first block: the
        // first region begins where the window first holds sound.
        { "leading silence", tones({ { 0.3, -INFINITY }, { 5, -20 } }), 0.15, 0.3 - 0.2 + 1.0 / kRate, 0, 0.2, false },
    };
    for (const auto& [name, reader, at, begins, tolerance, endsAfter, noise] : cases) {
        SCOPED_TRACE(name);
        const Region region = regionAt(*run(reader), at);
        EXPECT_NEAR(region.begin, frames(begins), tolerance);
        EXPECT_GE(region.begin + region.length, frames(endsAfter));
        EXPECT_EQ(region.noise, noise);
    }
}

TEST(DetectorFadeZone, AFadeInTheMiddleIsASlopeAndAtTheEndOneRegion)
{
    // In the middle of a stream the fade makes a staircase, and a slope that
    // the region after it ends.
    DetectorPtr inside = run(fadeOut(12.0));
    EXPECT_GE(regionsBeginningIn(*inside, 15.0, 22.5), 2);
    Region out;
    const SoundRMSSlopeDetector::Region* slope = inside->getSlopeRegion(frames(19.0), 0, out);
    ASSERT_NE(slope, nullptr);
    EXPECT_NEAR(slope->start, frames(15.0), frames(1.0));
    EXPECT_NEAR(slope->end, frames(23.0), frames(0.5));
    EXPECT_GT(out.begin, slope->start);
    EXPECT_GE(out.begin + out.length - 1, slope->end);
    EXPECT_EQ(inside->getSlopeRegion(frames(5.0), 0, out), nullptr);
    // In the last 10 s the fade is one region from its start to the point
    // where it sinks into silence.
    DetectorPtr atEnd = run(fadeOut(0.0));
    EXPECT_EQ(regionsBeginningIn(*atEnd, 15.0, 22.5), 1);
    const std::vector<Region> regions = atEnd->getRegions();
    ASSERT_GE(regions.size(), 2u);
    EXPECT_GE(regions[1].begin + regions[1].length, frames(22.5));
}

TEST(DetectorEnd, TheBackupHoldsTheRunAndPositionsAreThoseOfTheStream)
{
    // The backup holds the regions of the run.
    EXPECT_EQ(run(tones({ { 5.0, -20.0 } }))->size(true), 2);
    // A reader that starts 2 s in: positions stay those of the stream.
    testsupport::GeneratorReader later(static_cast<unsigned int>(frames(7.0)), kRate,
                                       [](int i, int c) { return 0.1 * std::sin(0.3 * i + c); });
    later.seek(frames(2.0));
    const std::vector<Region> tail = run(later)->getRegions();
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.front().begin, frames(2.0));
    EXPECT_EQ(tail.back().begin, frames(7.0));
}

TEST(DetectorOutput, WindowPowerRegionLevelAndPassThrough)
{
    // A sine at -20 dB RMS whose periods do not fit the window, so that
    // every window differs a little from the one before.
    const double meanSquare = std::pow(10.0, -20.0 / 10.0);
    const auto tone = [](int i, int c) { return 0.1 * std::sqrt(2.0) * std::sin(2.0 * kPi * 441.0 * i / kRate + c); };
    testsupport::CapturingWriter power(kRate), level(kRate), copy(kRate);
    run(testsupport::GeneratorReader(unsigned(frames(4.0)), kRate, tone), RMSStepDetector::WindowPower, &power);
    run(testsupport::GeneratorReader(unsigned(frames(4.0)), kRate, tone), RMSStepDetector::RegionLevel, &level);
    run(testsupport::GeneratorReader(unsigned(frames(4.0)), kRate, tone), RMSStepDetector::PassThrough, &copy);
    ASSERT_GE(std::min({ power.frames(), level.frames(), copy.frames() }), size_t(frames(4.0)));
    int changes = 0;
    for (size_t i = 1; i < size_t(frames(3.0)); ++i) {
        // Window power: mean squares that change once per window.
        changes += power.at(i, 0) != power.at(i - 1, 0);
        ASSERT_NEAR(power.at(i, 0), meanSquare, meanSquare * 0.01) << "frame " << i;
        // Region level: the region's RMS, once the first window is full.
        if (i >= size_t(frames(0.5))) {
            ASSERT_NEAR(level.at(i, 1), std::sqrt(meanSquare), std::sqrt(meanSquare) * 0.01) << "frame " << i;
        }
        // Pass-through: the tone itself.
        ASSERT_EQ(copy.at(i, 0), tone(int(i), 0));
    }
    EXPECT_NEAR(changes, frames(3.0) / kWindow, 2);
}
