// The limiter's promises: nothing leaves it above the ceiling, whatever comes
// in and however the stream is cut into blocks; what is already quiet enough
// comes out multiplied by the level exactly; and the gain comes back no
// faster than its slope allows.
#include "tests/support/Common.h"
#include "tests/support/MemoryIO.h"
#include "tulv/dynamics/SoundAlgoLimiter.h"
#include "tulv/dynamics/SoundAlgoSimpleLimiter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace testsupport;

namespace {

constexpr unsigned int kRate = 44100;
// round(44100 × 0.005) and round(44100 × 0.01): the bass boost's timing.
constexpr double kLookAhead = 0.005;
constexpr double kRelease = 0.01;
constexpr int kA = 221;
constexpr int kR = 441;

AlgoRef<SoundAlgoLimiter> makeLimiter(double levelDb, double lookAhead = kLookAhead, double release = kRelease)
{
    return AlgoRef<SoundAlgoLimiter>(new SoundAlgoLimiter(levelDb, lookAhead, release));
}

// The gain applied to frame i, seen on a channel that never crosses zero.
double gainAt(const std::vector<double>& in, const std::vector<double>& out, size_t frame)
{
    return out[2 * frame] / in[2 * frame];
}

using Adversary = std::pair<const char*, std::vector<double>>;

// Inputs built to defeat look-ahead planning: lone clicks, full-scale and
// over-full-scale square waves, bursts that start and stop exactly on or
// just around block boundaries of every block size tried below, and a
// click train denser than the look-ahead.
std::vector<Adversary> adversaries()
{
    std::vector<Adversary> result;
    std::mt19937 random(1234);
    std::uniform_real_distribution<double> amplitude(0.5, 4.0);
    std::uniform_int_distribution<int> position(0, 60000);

    std::vector<double> clicks = constant(66000, 0.0);
    for (int k = 0; k < 200; ++k) {
        const int at = position(random);
        const double a = amplitude(random);
        clicks[2 * at] = (k % 2) ? a : -a;
        clicks[2 * at + 1] = (k % 3) ? -a : a;
    }
    clicks[0] = 1.0; // at the very first frame of the stream
    clicks[1] = -1.0;
    result.push_back({ "isolated clicks", clicks });

    for (int period : { 2, 7, 64, 441, 1000 }) {
        std::vector<double> square(2 * 30000);
        for (int i = 0; i < 30000; ++i)
            square[2 * i] = square[2 * i + 1] = ((i / period) % 2) ? -1.0 : 1.0;
        result.push_back({ "full-scale square", square });
        for (double& s : square)
            s *= 3.0;
        result.push_back({ "square at three times full scale", square });
    }

    std::vector<double> bursts = sine(70000, 997.0, 0.05);
    for (int block : { 662, 1024, 1500, 4096 }) {
        for (int k = 1; k * block < 68000; k += 3) {
            for (int offset : { -kA - 1, -1, 0, 1, kA }) {
                const int at = k * block + offset;
                if (at < 0 || at + 40 >= 70000)
                    continue;
                for (int j = 0; j < 40; ++j) {
                    bursts[2 * (at + j)] = (j % 2 ? -1.0 : 1.0) * (1.0 + 0.05 * offset / kA + 0.1 * j);
                    bursts[2 * (at + j) + 1] = -bursts[2 * (at + j)];
                }
            }
        }
    }
    result.push_back({ "bursts at block boundaries", bursts });

    std::vector<double> train = constant(30000, 0.01);
    for (int i = 100; i < 30000; i += 97) {
        train[2 * i] = 1.0 + (i % 5);
        train[2 * i + 1] = -(1.0 + (i % 7));
    }
    result.push_back({ "click train", train });
    return result;
}

} // namespace

TEST(LimiterTransparency, QuietSignalIsExactlyTimesTheLevel)
{
    // 0.5 × 10^(5/20) = 0.889 stays under 0.98: nothing to limit.
    const std::vector<double> in = sine(20000, 440.0, 0.5, kRate, 1.0) + sine(5000, 3000.0, 0.55);
    const double G = std::pow(10.0, 5.0 / 20.0);
    for (unsigned int block : { 1u, 700u, 1024u, 4096u }) {
        auto limiter = makeLimiter(5.0);
        const std::vector<double> out = runThrough(*limiter, in, block, kRate);
        ASSERT_EQ(out.size(), in.size()) << "block " << block;
        for (size_t s = 0; s < in.size(); ++s)
            ASSERT_EQ(out[s], in[s] * G) << "sample " << s << " block " << block;
        EXPECT_EQ(limiter->getPositiveAttacks(), 0);
        EXPECT_EQ(limiter->getFilteredClippings(), 0);
    }
    // A peak exactly at the ceiling passes untouched.
    std::vector<double> atCeiling = constant(3000, 0.2);
    atCeiling[2 * 1500] = 0.98;
    EXPECT_EQ(runThrough(*makeLimiter(0.0), atCeiling, 0, kRate), atCeiling);
}

TEST(LimiterAttack, LoneClickIsMetByALinearFallOverTheLookAheadAndReleasedOverTheReleaseTime)
{
    // A constant background shows the gain frame by frame.
    const int click = 5000;
    std::vector<double> in = constant(12000, 0.1);
    in[2 * click] = 1.0;
    in[2 * click + 1] = -1.0;
    auto limiter = makeLimiter(0.0);
    const std::vector<double> out = runThrough(*limiter, in, 0, kRate);
    ASSERT_EQ(out.size(), in.size());
    for (int frame = 0; frame < click - kA; ++frame)
        ASSERT_EQ(out[2 * frame], in[2 * frame]) << "frame " << frame;
    for (int j = 0; j <= kA; ++j)
        EXPECT_NEAR(gainAt(in, out, size_t(click - kA + j)), 1.0 + j * (0.98 - 1.0) / kA, 1e-12) << "attack " << j;
    EXPECT_NEAR(out[2 * click], 0.98, 1e-12);
    EXPECT_NEAR(out[2 * click + 1], -0.98, 1e-12);
    // After the click the gain climbs back by (1 − 0.98) / R per frame...
    for (int j = 1; j < kR - 1; ++j)
        EXPECT_NEAR(gainAt(in, out, size_t(click + j)), 0.98 + j * (1.0 - 0.98) / kR, 1e-9) << "release " << j;
    // ...and once released, the stream is exactly the input again.
    for (int frame = click + kR + 1; frame < 12000; ++frame)
        ASSERT_EQ(out[2 * frame], in[2 * frame]) << "frame " << frame;
    EXPECT_EQ(limiter->getPositiveAttacks(), 0);
    EXPECT_EQ(limiter->getFilteredClippings(), 0);
}

TEST(LimiterRelease, NeverClimbsFasterThanTheSlopeMaximum)
{
    // A slope maximum of 6 dB is a rise of 2.0 per second: far slower than
    // the release time asks for, so the slope decides. The second click
    // comes while the first is still being met.
    const double maxRise = std::pow(10.0, 6.0 / 20.0) / kRate;
    for (double level : { 0.0, 6.0 }) {
        const double G = std::pow(10.0, level / 20.0);
        // From 0.98 / 2 the climb to G takes (G − 0.49) / maxRise frames.
        const int climb = int((G - 0.49) / maxRise);
        const int frames = 20000 + climb + 2000;
        std::vector<double> in = constant(unsigned(frames), 0.01);
        for (int at : { 3000, 3100, 9000, 20000 }) {
            in[2 * at] = 2.0;
            in[2 * at + 1] = 2.0;
        }
        auto limiter = makeLimiter(level);
        limiter->SetSlopeMax(6.0);
        const std::vector<double> out = runThrough(*limiter, in, 0, kRate);
        ASSERT_EQ(out.size(), in.size());
        int rising = 0;
        for (int frame = 1; frame < frames; ++frame) {
            const double rise = gainAt(in, out, size_t(frame)) - gainAt(in, out, size_t(frame - 1));
            ASSERT_LE(rise, maxRise * (1 + 1e-9)) << "frame " << frame << " level " << level;
            if (frame > 20000 && rise > 0.5 * maxRise)
                ++rising;
            ASSERT_LE(gainAt(in, out, size_t(frame)), G * (1 + 1e-12));
        }
        EXPECT_NEAR(rising, climb, 2);
        EXPECT_EQ(out[2 * (frames - 1)], in[2 * (frames - 1)] * G);
    }
}

TEST(LimiterCeiling, AdversarialInputsNeverExceedTheCeilingWithOrWithoutLookAhead)
{
    // Nothing above the ceiling, no sample turned over, nothing not finite.
    const auto check = [](const std::vector<double>& in, const std::vector<double>& out, double ceiling) {
        ASSERT_EQ(out.size(), in.size());
        EXPECT_LE(peakOf(out), ceiling);
        for (size_t s = 0; s < out.size(); ++s)
            ASSERT_TRUE(out[s] * in[s] >= 0.0 && std::isfinite(out[s])) << "sample " << s;
    };
    const double repair = SoundAlgoLimiter::sRepairThreshold;
    for (const auto& [name, signal] : adversaries()) {
        for (double level : { 0.0, 6.0, 20.0 }) {
            // A + R = 662 frames is the shortest block the loop can use.
            for (unsigned int block : { 1u, 1024u, 1500u, 4096u }) {
                SCOPED_TRACE(testing::Message() << name << ", level " << level << " dB, block " << block);
                check(signal, runThrough(*makeLimiter(level), signal, block, kRate), repair);
            }
        }
        // Without look-ahead or release no frame ahead is visible and the
        // gain may come back at once: the repair alone holds the ceiling.
        SCOPED_TRACE(name);
        check(signal, runThrough(*makeLimiter(6.0, 0.0, 0.0), signal, 0, kRate), repair);
        // The simple limiter promises full scale, with or without look-ahead.
        for (double lookAhead : { 0.0, 0.005 })
            for (unsigned int block : { 1u, 3000u }) {
                AlgoRef<SoundAlgoSimpleLimiter> simple(new SoundAlgoSimpleLimiter(lookAhead));
                check(signal, runThrough(*simple, signal, block, kRate), 1.0);
            }
    }
}

TEST(LimiterSimple, PeakAfterQuietInputIsMetByALinearFallThatLasts)
{
    // 0.002 s at 44100 Hz: L = 88 frames; the first frame of the ramp already
    // takes one step towards 0.99 / 1.5 = 0.66 on the frame before the peak.
    const int L = 88, peakAt = 4000;
    std::vector<double> in = constant(8000, 0.1);
    in[2 * peakAt] = 1.5;
    in[2 * peakAt + 1] = -1.5;
    AlgoRef<SoundAlgoSimpleLimiter> limiter(new SoundAlgoSimpleLimiter(0.002));
    const std::vector<double> out = runThrough(*limiter, in, 0, kRate);
    ASSERT_EQ(out.size(), in.size());
    const double step = -0.34 / L;
    for (int frame = 0; frame < 8000; ++frame) {
        const int j = std::min(frame - (peakAt - L), L);
        ASSERT_NEAR(gainAt(in, out, size_t(frame)), j < 0 ? 1.0 : 1.0 + (j + 1) * step, 1e-12) << "frame " << frame;
    }
    // The gain only ever falls: it stays where the ramp left it, into the next run.
    EXPECT_NEAR(runThrough(*limiter, constant(1000, 0.5), 0, kRate)[0], 0.5 * (0.66 + step), 1e-12);
}

TEST(LimiterRepair, LoudFirstFrameOfABlockIsStillBroughtToTheCeiling)
{
    // Nothing of the block lies before the frame, so there is nothing to
    // fade; the frame itself must still come down.
    std::vector<double> in = constant(3000, 0.1);
    in[0] = 2.0;
    in[1] = -1.0;
    auto limiter = makeLimiter(0.0);
    std::vector<double> out = runThrough(*limiter, in, 0, kRate);
    ASSERT_EQ(out.size(), in.size());
    EXPECT_NEAR(out[0], 0.98, 1e-12);
    EXPECT_NEAR(out[1], -0.49, 1e-12);
    EXPECT_EQ(limiter->getFilteredClippings(), 1);

    // At the start of a run nothing was planned for the first A frames: a
    // loud frame there is repaired by a straight fade from 1 at frame 0.
    const int loud = 100;
    in = constant(3000, 0.1);
    in[2 * loud] = 1.5;
    in[2 * loud + 1] = -1.5;
    limiter = makeLimiter(0.0);
    out = runThrough(*limiter, in, 0, kRate);
    ASSERT_EQ(out.size(), in.size());
    for (int j = 0; j <= loud; ++j)
        EXPECT_NEAR(gainAt(in, out, size_t(j)), 1.0 + j * (0.98 / 1.5 - 1.0) / loud, 1e-12) << "frame " << j;
    EXPECT_NEAR(out[2 * loud + 1], -0.98, 1e-12);
    EXPECT_EQ(limiter->getFilteredClippings(), 1);

    // That repair drops the attack already planned for a peak of 2.0 at frame
    // 300, which the look-ahead has passed; a release of one frame brings the
    // gain back to 1 at once. The peak is repaired in the middle of the
    // block by a fade over the A frames before it, from 1 down to 0.49.
    in[2 * 300] = in[2 * 300 + 1] = 2.0;
    limiter = makeLimiter(0.0, kLookAhead, 0.0);
    out = runThrough(*limiter, in, 0, kRate);
    ASSERT_EQ(out.size(), in.size());
    for (int j = 130; j <= 300; ++j)
        ASSERT_NEAR(gainAt(in, out, size_t(j)), 1.0 + (j - (300 - kA)) * (0.49 - 1.0) / kA, 1e-12) << "frame " << j;
    EXPECT_EQ(limiter->getFilteredClippings(), 2);
}

TEST(LimiterThreaded, LevelChangesFromAnotherThreadDuringARun)
{
    const unsigned int frames = 3 * kRate * 10;
    GeneratorReader reader(frames, kRate, [](int index, int channel) {
        return (channel ? 1.3 : 0.9) * std::sin(index * 0.01) * ((index / 5000) % 2 ? 1.0 : 0.1);
    });
    auto limiter = makeLimiter(0.0);
    double level = -12.0;
    const std::vector<double> out = runWhilePoked(*limiter, reader, [&] {
        limiter->setLevel(level);
        (void)limiter->getLevel(1.0);
        level = level > 11.0 ? -12.0 : level + 1.0;
    }, 200);
    ASSERT_EQ(frameCount(out), frames);
    EXPECT_LE(peakOf(out), SoundAlgoLimiter::sRepairThreshold);
}
