// Track finding on synthesized record sides, each with its own truth: one
// track per true track, both ends within half a second, on the sides where a
// plain silence threshold goes wrong; and no track at all where there is no
// music.
#include "tests/support/SplitSignals.h"

#include <tulv/tulv.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace splitsignals;

namespace {

DetectorPtr detect(const SideLayout& layout)
{
    SideReader reader(layout);
    // The window of 'tulv split'.
    DetectorPtr detector(new RMSStepDetector(-40.0, 0.05, 1.0, RMSStepDetector::NoOutput, false));
    return detector->processAll(reader, nullptr) == SoundTools::Ok ? std::move(detector) : nullptr;
}

} // namespace

TEST(SplitSide, EveryTrackFoundWithinHalfASecond)
{
    struct Case {
        std::string name;
        std::function<void(SideLayout&)> make;
        int tracks = 0; // known in advance; 0: not known
    };
    auto crackle = [](double perSecond) {
        return [perSecond](SideLayout& side) {
            side.clicksPerSecond = perSecond;
            side.clickPeakMinDb = -30.0;
            side.clickPeakMaxDb = -15.0;
        };
    };
    std::vector<Case> cases = {
        { "typical side: quiet passage 20 dB down, thump in a gap, slow fade", [](SideLayout&) {} },
        { "mono in the right channel, the left dead, 10 ms of digital silence first",
          [](SideLayout& side) {
              side.channelGain[0] = 0.0;
              side.digitalSilenceSeconds = 0.01;
          } },
        { "mono in the left channel, the right nearly silent", [](SideLayout& side) { side.channelGain[1] = 0.003; } },
        { "hiss at -45 dBFS",
          [](SideLayout& side) {
              side.surfaceNoiseDb = -45.0;
              side.clickPeakMaxDb = -38.0;
          } },
        { "hiss at -50 dBFS, normal ending",
          [](SideLayout& side) {
              side.surfaceNoiseDb = -50.0;
              side.tracks.back().fadeOutSeconds = 0.0;
          } },
        { "hiss at -65 dBFS", [](SideLayout& side) { side.surfaceNoiseDb = -65.0; } },
        { "quiet passage 3 dB above the hiss",
          [](SideLayout& side) {
              side.tracks[1].quietSeconds = 6.0;
              side.tracks[1].quietLevelDb = side.surfaceNoiseDb + 3.0;
          } },
        { "crackle of 6 clicks/s up to -15 dBFS", crackle(6.0) },
        { "crackle of 6 clicks/s, 4 tracks known", crackle(6.0), 4 },
        { "hiss at -62 dBFS, a 1.2 s gap between a 0.3 s fade-out and a 1 s fade-in",
          [](SideLayout& side) {
              side.surfaceNoiseDb = -62.0;
              side.tracks[0].fadeOutSeconds = 0.3;
              side.tracks[1].fadeInSeconds = 1.0;
              side.gapSeconds[0] = 1.2;
          } },
        { "no lead-in, no lead-out, last track fading for 15 s",
          [](SideLayout& side) {
              side.leadInSeconds = 0.0;
              side.leadOutSeconds = 0.0;
              side.tracks.back() = { 45.0, -15.0 };
              side.tracks.back().fadeOutSeconds = 15.0;
          } },
        { "CD rip: gaps of digital silence, a passage 20 dB down",
          [](SideLayout& side) {
              side.surfaceNoiseDb = -300.0;
              side.clicksPerSecond = 0.0;
              side.bursts.clear();
          } },
        { "clean gaps 68 dB below the music",
          [](SideLayout& side) {
              side = SideLayout();
              side.tracks = { { 8.0, -6.0 }, { 8.0, -6.0 } };
              side.surfaceNoiseDb = -74.0;
              side.clicksPerSecond = 0.0;
          } },
        { "clean gaps 68 dB below the music, at 8 kHz",
          [](SideLayout& side) {
              side = SideLayout();
              side.tracks = { { 8.0, -6.0 }, { 8.0, -6.0 } };
              side.sampleRate = 8000;
              side.surfaceNoiseDb = -74.0;
              side.clicksPerSecond = 0.0;
          } },
        { "45-minute side at 22.05 kHz",
          [](SideLayout& side) {
              side = SideLayout();
              side.sampleRate = 22050;
              side.seed = 7;
              const double seconds[] = { 285, 340, 195, 230, 310, 260, 250, 270, 280, 270, 190 };
              for (int k = 0; k < 11; ++k) {
                  side.tracks.push_back({ seconds[k], -13.0 - (k * 7) % 8 });
                  side.gapSeconds.push_back(1.5 + (k % 3));
              }
              side.tracks[4].quietAtSeconds = 100.0;
              side.tracks[4].quietSeconds = 6.0;
              side.tracks[4].quietLevelDb = side.tracks[4].levelDb - 20.0;
              side.tracks.back().fadeOutSeconds = 12.0;
          } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SideLayout side = typicalSide();
        c.make(side);
        DetectorPtr detector = detect(side);
        ASSERT_TRUE(detector);
        // The first region begins with the first window to hold sound,
        // whichever channel that sound is in.
        const int silence = int(side.digitalSilenceSeconds * side.sampleRate + 0.5);
        EXPECT_EQ(detector->getRegion(0, false).begin, std::max(0, silence - int(0.05 * side.sampleRate + 0.5) + 1));
        SoundTrackFinder::Settings settings;
        settings.tracks = c.tracks;
        SoundTrackFinder finder(settings);
        finder.find(*detector);
        const SideTruth truth = truthOf(side);
        const auto& found = finder.tracks();
        const int tolerance = int(side.sampleRate / 2);
        ASSERT_EQ(found.size(), truth.tracks.size()) << finder.reason().toStdString();
        for (size_t k = 0; k < found.size(); ++k) {
            EXPECT_NEAR(found[k].begin, truth.tracks[k].begin, tolerance) << "track " << k + 1;
            EXPECT_NEAR(found[k].end, truth.tracks[k].end, tolerance) << "track " << k + 1;
        }
    }
}

TEST(SplitSide, NoTrackWithoutMusic)
{
    for (const auto& [name, noiseDb, clicksPerSecond] :
         { std::tuple { "digital silence", -400.0, 0.0 }, { "dither at 16 bits", -101.0, 0.0 },
           { "surface noise with crackle", -50.0, 4.0 }, { "loud noise", -20.0, 0.0 } }) {
        SCOPED_TRACE(name);
        SideLayout side;
        side.leadInSeconds = 60.0;
        side.surfaceNoiseDb = noiseDb;
        side.clicksPerSecond = clicksPerSecond;
        DetectorPtr detector = detect(side);
        ASSERT_TRUE(detector);
        SoundTrackFinder finder;
        EXPECT_FALSE(finder.find(*detector)) << finder.tracks().size() << " tracks";
        EXPECT_FALSE(finder.reason().isEmpty());
    }
    // A run of sound exactly the minimum track length long is a track; one
    // frame shorter, none.
    for (const int shorter : { 0, 1 }) {
        const int minimum = 5 * 44100;
        DetectorPtr detector = detectorFromRegions({ { 0, 44100, 1e-8, 1e-8, 10, true },
                                                     { 44100, minimum - shorter, 1e-2, 1e-2, 10, false },
                                                     { 44100 + minimum - shorter, 44100, 1e-8, 1e-8, 10, true },
                                                     { 88200 + minimum - shorter, 1, 0.0, 0.0, 1, true } },
                                                   44100);
        SoundTrackFinder finder;
        EXPECT_EQ(finder.findAsClassified(*detector), shorter == 0) << shorter;
    }
}
