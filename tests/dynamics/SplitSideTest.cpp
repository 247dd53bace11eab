// Track splitting on synthesized record sides: the first pass and the region
// analysis must find one run of sound per track, within half a second of the
// true boundaries, on the sides where a plain silence threshold goes wrong:
// lead-out noise, the tail of a fade-out, a quiet passage inside a track, and
// a surface that crackles a few times a second.
#include "tests/support/SplitSignals.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace splitsignals;

namespace {

std::string describe(const std::vector<Span>& runs, unsigned int rate)
{
    std::ostringstream text;
    for (const Span& run : runs)
        text << "[" << run.begin / double(rate) << " s, " << run.end / double(rate) << " s) ";
    return text.str();
}

// One run per track, each within half a second of the track at both ends.
::testing::AssertionResult splitsIntoTracks(const SideSpec& layout, std::vector<Span>* found = nullptr)
{
    SideReader reader(layout);
    const SplitSettings settings;
    DetectorPtr detector = analyseSide(reader, settings);
    if (!detector)
        return ::testing::AssertionFailure() << "the first pass failed";
    const std::vector<Span> runs = soundRuns(*detector, settings.minTrackSeconds);
    if (found)
        *found = runs;
    const SideTruth& truth = reader.truth();
    const int tolerance = static_cast<int>(layout.sampleRate / 2);
    if (runs.size() != truth.tracks.size())
        return ::testing::AssertionFailure() << runs.size() << " runs for " << truth.tracks.size()
                                             << " tracks: " << describe(runs, layout.sampleRate);
    for (size_t k = 0; k < runs.size(); ++k)
        if (std::abs(runs[k].begin - truth.tracks[k].begin) > tolerance
            || std::abs(runs[k].end - truth.tracks[k].end) > tolerance)
            return ::testing::AssertionFailure() << "track " << k + 1 << " is ["
                                                 << truth.tracks[k].begin / double(layout.sampleRate) << " s, "
                                                 << truth.tracks[k].end / double(layout.sampleRate)
                                                 << " s); runs: " << describe(runs, layout.sampleRate);
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(SplitSide, TheTypicalSideGivesOneRunPerTrack)
{
    std::vector<Span> runs;
    ASSERT_TRUE(splitsIntoTracks(typicalSide(), &runs));
    // The short burst in the last gap makes no run of its own.
    const SideTruth truth = SideSynth(typicalSide()).truth();
    for (const Span& run : runs)
        EXPECT_FALSE(run.begin <= truth.bursts[0].begin && run.end >= truth.bursts[0].end);
}

TEST(SplitSide, LeadOutNoiseStaysOutOfTheLastTrack)
{
    SideSpec layout = typicalSide();
    layout.leadOutSeconds = 8.0;
    std::vector<Span> runs;
    ASSERT_TRUE(splitsIntoTracks(layout, &runs));
    const SideTruth truth = SideSynth(layout).truth();
    EXPECT_LT(runs.back().end, truth.tracks.back().end + int(layout.sampleRate / 2));
    EXPECT_LT(runs.back().end, truth.frames - int(7 * layout.sampleRate));
}

TEST(SplitSide, TheTailOfASlowFadeOutIsKept)
{
    SideSpec layout = typicalSide();
    layout.tracks.back().fadeOutSeconds = 15.0;
    std::vector<Span> runs;
    ASSERT_TRUE(splitsIntoTracks(layout, &runs));
    const SideTruth truth = SideSynth(layout).truth();
    // Half a second before its end the fade is 30 dB down, still 15 dB
    // above the surface noise.
    EXPECT_GT(runs.back().end, truth.tracks.back().end - int(layout.sampleRate / 2));
}

TEST(SplitSide, AQuietPassageDoesNotSplitItsTrack)
{
    SideSpec layout = typicalSide();
    layout.tracks[1].quietSeconds = 8.0;
    layout.tracks[1].quietLevelDb = -36.0; // 22 dB below the track
    std::vector<Span> runs;
    ASSERT_TRUE(splitsIntoTracks(layout, &runs));
    const Span passage = SideSynth(layout).truth().quietPassages[0];
    EXPECT_TRUE(runs[1].begin < passage.begin && runs[1].end > passage.end);
}

TEST(SplitSide, ACracklingSurfaceDoesNotJoinTheTracks)
{
    SideSpec layout = typicalSide();
    // Clicks up to -26 dBFS: each one lifts the 0.2 s window by more than
    // a decibel over the hiss.
    layout.clicksPerSecond = 6.0;
    layout.clickPeakMinDb = -40.0;
    layout.clickPeakMaxDb = -26.0;
    EXPECT_TRUE(splitsIntoTracks(layout));
}

TEST(SplitSide, ANoisierSurfaceIsFoundByTheLocalEstimate)
{
    // Surface noise 38 dB under the loudest track: the detector's own -40 dB
    // classification finds no gap; the estimate and split must.
    SideSpec layout = typicalSide();
    layout.surfaceNoiseDb = -52.0;
    layout.clickPeakMinDb = -46.0;
    layout.clickPeakMaxDb = -40.0;
    layout.tracks[1].quietLevelDb = -30.0;
    EXPECT_TRUE(splitsIntoTracks(layout));
}

TEST(SplitSide, ATwentyMinuteSideWithLeadingDigitalSilence)
{
    SideSpec layout;
    layout.sampleRate = 22050;
    layout.seed = 7;
    layout.digitalSilenceSeconds = 1.5;
    const double seconds[] = { 185, 240, 95, 130, 210, 60, 150, 170 };
    const double levels[] = { -14, -18, -12, -20, -15, -17, -13, -16 };
    for (int k = 0; k < 8; ++k) {
        TrackSpec track;
        track.seconds = seconds[k];
        track.levelDb = levels[k];
        if (k == 4) {
            track.quietAtSeconds = 100.0;
            track.quietSeconds = 6.0;
            track.quietLevelDb = levels[k] - 20.0;
        }
        layout.tracks.push_back(track);
        layout.gapSeconds.push_back(2.0 + (k % 3));
    }
    layout.tracks.back().fadeOutSeconds = 12.0;
    EXPECT_TRUE(splitsIntoTracks(layout));
}

TEST(SplitSide, NoiseFloorsFromMinus45ToMinus65DbfsWithEitherEnding)
{
    // The lead-out must stay out of the last track and the tail of a fade in
    // it, whether the hiss lies below the detector's own noise level (-58,
    // -65) or above it (-45, -50: 30 to 35 dB under the music).
    for (const double noiseDb : { -45.0, -50.0, -58.0, -65.0 }) {
        for (const bool fade : { true, false }) {
            SideSpec layout = typicalSide();
            layout.surfaceNoiseDb = noiseDb;
            if (!fade)
                layout.tracks.back().fadeOutSeconds = 0.0;
            const std::string what = std::to_string(int(noiseDb)) + " dBFS, " + (fade ? "fade-out" : "normal ending");
            std::vector<Span> runs;
            ASSERT_TRUE(splitsIntoTracks(layout, &runs)) << what;
            const SideTruth truth = SideSynth(layout).truth();
            const int half = int(layout.sampleRate / 2);
            // Lead-out excluded, and the last sound kept.
            EXPECT_LT(runs.back().end, truth.tracks.back().end + half) << what;
            EXPECT_GT(runs.back().end, truth.tracks.back().end - half) << what;
        }
    }
}
