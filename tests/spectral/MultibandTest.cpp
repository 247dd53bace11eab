// Multiband trees and what is built on them: the bands add back to the input
// (or to the crossover's known sum), a band's gain touches only the tones in
// that band, the automatic gain brings every band to its target and follows
// a player's level commands, and lists that cannot make a tree are refused.
#include "tests/support/Common.h"
#include "tests/support/MemoryIO.h"
#include "tests/support/SplitSignals.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/spectral/SoundAlgoFFTMultibandAmplifier.h"
#include "tulv/spectral/SoundAlgoFilterMultibandAmplifier.h"
#include "tulv/spectral/SoundAlgoMultibandScale.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <complex>
#include <functional>

using namespace testsupport;
using splitsignals::detectorFromRegions;

namespace {

constexpr unsigned int kRate = 44100;
using Splitter = SoundAlgoComposite::SplitterType;
// Two octaves or more from the crossovers of {200, 4000} Hz, each a whole
// number of periods over the measured last 0.2 s of a 0.4 s tone.
const double kTones[] = { 25.0, 900.0, 16000.0 };

// The gain in dB at `hz` of a tree of fourth-order Butterworth crossovers
// with band gains `gainsDb`, from the analog prototypes at the prewarped
// frequency: band b passes the high passes below it and its own low pass.
double crossoverTreeDb(double hz, const std::vector<double>& freqs, const std::vector<double>& gainsDb)
{
    const auto butterworth4 = [hz](double fc, bool low) {
        const std::complex<double> s(0.0, std::tan(M_PI * hz / kRate) / std::tan(M_PI * fc / kRate));
        const std::complex<double> b = (s * s + 0.7653668647301796 * s + 1.0) * (s * s + 1.8477590650225735 * s + 1.0);
        return (low ? std::complex<double>(1.0) : s * s * s * s) / b;
    };
    const auto g = [&gainsDb](size_t band) { return std::pow(10.0, gainsDb[band] / 20.0); };
    std::complex<double> h = g(freqs.size());
    for (size_t i = freqs.size(); i-- > 0;)
        h = g(i) * butterworth4(freqs[i], true) + butterworth4(freqs[i], false) * h;
    return 20.0 * std::log10(std::abs(h));
}

// The gain in dB of `algo` on a 0.1-amplitude tone, once settled.
double toneGainDb(SoundAlgo& algo, double hz)
{
    const std::vector<double> in = sine(17640, hz, 0.1, kRate), out = runThrough(algo, in);
    EXPECT_EQ(out.size(), in.size());
    return rmsDbOf(out, 8820) - rmsDbOf(in, 8820);
}

using Amplifier = AlgoRef<SoundAlgoFilterMultibandAmplifier>;
// Takes over the caller's reference of `detector`.
SoundAlgoFilterMultibandAmplifier* amplifier(double target, RMSStepDetector* detector,
                                             const std::vector<double>& offsets,
                                             const std::vector<double>& freqs = { 200.0, 4000.0 })
{
    auto* amp = new SoundAlgoFilterMultibandAmplifier(freqs, target, 0.005, 0.2, 1.0, detector,
                                                      Splitter::SplitCrossover, 0, 40.0, offsets);
    if (detector)
        detector->release();
    return amp;
}

} // namespace

TEST(MultibandTree, ListsThatCannotMakeATreeAreRefused)
{
    struct Case {
        const char* message;
        std::function<SoundAlgoComposite*()> make;
    };
    // A builder that gives a band nothing: the tree is built but broken.
    FrequencyScaleBuilder oneGain({ 0.0 });
    const auto bandLeftEmpty = [&oneGain] {
        auto* tree = new SoundAlgoComposite;
        tree->buildMultibandTree({ 1000.0 }, oneGain, Splitter::SplitOrder1);
        return tree;
    };
    const Case cases[] = {
        { "at least one crossover frequency", [] { return new SoundAlgoMultibandScale({}, {}, Splitter(2)); } },
        { "unknown splitter type 7", [] { return new SoundAlgoMultibandScale({ 1000.0 }, { 0, 0 }, Splitter(7)); } },
        { "must ascend", [] { return new SoundAlgoMultibandScale({ 2000.0, 200.0 }, { 0, 0, 0 }, Splitter(0)); } },
        { "2 gains for 3 bands", [] { return new SoundAlgoMultibandScale({ 200.0, 2000.0 }, { 0, 0 }, Splitter(1)); } },
        { "2 band offsets for 3 bands", [] { return amplifier(-20.0, nullptr, { -3.0, 0.0 }); } },
        { "at least one crossover frequency", [] { return amplifier(-20.0, nullptr, {}, {}); } },
        { "no gain for band 1", bandLeftEmpty },
        // Every FFT band above the first starts 150 Hz over its crossover.
        { "band 1 from 650 Hz to 650 Hz is empty",
          [] { return new SoundAlgoFFTMultibandAmplifier({ 500, 650 }, -20, 0.005, 0.2, nullptr, 4096, true); } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        testsupport::MessageLog log;
        AlgoRef<SoundAlgoComposite> algo(c.make());
        EXPECT_TRUE(log.has(QStringLiteral("C:") + c.message)) << log.lines().join('\n').toStdString();
        EXPECT_EQ(algo->isEmpty(), &c != &cases[6]) << "nothing is built from a list that does not fit";
        EXPECT_EQ(runStatus(*algo, sine(2000, 440, 0.1)), SoundTools::Error) << "the run must fail";
    }
    EXPECT_EQ(Amplifier(amplifier(-20.0, nullptr, {}, {}))->getLevel(1.0), 0.0);
}

TEST(MultibandScale, BandsAddBackAndOneBandAtMinusSixAttenuatesOnlyThatBand)
{
    // The complementary splits give back the input itself, whatever the block.
    std::vector<double> broad(2 * 30011);
    for (size_t i = 0; i < broad.size(); ++i)
        broad[i] = testsupport::rampValue(int(i / 2), int(i % 2)) * 1e-5;
    for (const auto& [splitter, block] : { std::pair { Splitter(0), 1000u }, { Splitter(1), 333u } }) {
        SCOPED_TRACE(splitter);
        AlgoRef<SoundAlgoMultibandScale> scale(new SoundAlgoMultibandScale({ 200, 2000, 9000 }, { 0, 0, 0, 0 },
                                                                           splitter));
        const std::vector<double> out = runThrough(*scale, broad, block);
        ASSERT_EQ(out.size(), broad.size());
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_NEAR(out[i], broad[i], 1e-12) << "sample " << i;
    }
    // The crossover pair sums to (1 + s^4) / B(s): +3.01 dB at the crossover.
    AlgoRef<SoundAlgoMultibandScale> flat(new SoundAlgoMultibandScale({ 1000 }, { 0, 0 }, Splitter(2)));
    EXPECT_NEAR(crossoverTreeDb(1000, { 1000 }, { 0, 0 }), 3.0103, 1e-4);
    EXPECT_NEAR(toneGainDb(*flat, 1000), 3.0103, 0.005);
    for (size_t band = 0; band < 3; ++band) {
        std::vector<double> gains(3, 0.0);
        gains[band] = -6.0;
        AlgoRef<SoundAlgoMultibandScale> scale(new SoundAlgoMultibandScale({ 200, 4000 }, gains, Splitter(2)));
        for (size_t t = 0; t < 3; ++t) {
            SCOPED_TRACE(testing::Message() << "band " << band << " at -6 dB, tone " << kTones[t]);
            const double expected = crossoverTreeDb(kTones[t], { 200, 4000 }, gains);
            EXPECT_NEAR(expected, t == band ? -6.0 : 0.0, 0.1) << "the tone lies in one band";
            EXPECT_NEAR(toneGainDb(*scale, kTones[t]), expected, 0.005);
        }
    }
}

TEST(MultibandAmplifier, EveryBandReachesItsTargetAndFollowsTheLevelCommands)
{
    // Without a detector every band is a fixed gain of its target plus its
    // offset; the limiter after the sum takes 0.3 dB off.
    Amplifier amp(amplifier(-20.0, nullptr, { -3.0, 0.0, 3.0 }));
    for (double t : kTones)
        EXPECT_NEAR(toneGainDb(*amp, t), crossoverTreeDb(t, { 200, 4000 }, { -23.3, -20.3, -17.3 }), 0.005) << t;
    amp->setLevel(-12.0);
    for (double t : kTones)
        EXPECT_NEAR(toneGainDb(*amp, t), crossoverTreeDb(t, { 200, 4000 }, { -12.3, -12.3, -12.3 }), 0.005) << t;

    // The FFT band bank: a target of 0 only splits and adds back (within the
    // band filters' ripple); any other brings each band to it, on the sum or
    // on the band's own output.
    struct FftCase {
        const char* name;
        bool sum;
        int port;
        double hz, splitDb; // the gain of the split alone, within 0.3 dB; below −100: blocked
    };
    const FftCase fftCases[] = {
        { "summed, low tone", true, 0, 100, 0 },       { "summed, high tone", true, 0, 5000, 0 },
        { "low band output", false, 0, 100, 0 },       { "high band output", false, 1, 5000, 0 },
        { "high tone on the low output", false, 0, 5000, -200 },
    };
    for (const FftCase& c : fftCases) {
        SCOPED_TRACE(c.name);
        double gainDb[2];
        for (int on : { 0, 1 }) {
            AlgoRef<SoundAlgoComposite> fft(new SoundAlgoComposite);
            fft->pushAlgo(new SoundAlgoFFTMultibandAmplifier({ 500 }, -20.0 * on, 0.005, 0.2, nullptr, 4096, c.sum));
            if (!c.sum)
                fft->pushAlgo(new SoundAlgoSelectChannel(c.port, 2));
            gainDb[on] = toneGainDb(*fft, c.hz);
        }
        const bool blocked = c.splitDb < -100;
        EXPECT_TRUE(blocked ? gainDb[0] < -60.0 && gainDb[1] < -80.0 : std::fabs(gainDb[0] - c.splitDb) < 0.3)
            << gainDb[0];
        EXPECT_TRUE(blocked || std::fabs(gainDb[1] - gainDb[0] + 20.0) < 0.005) << gainDb[1] - gainDb[0];
    }

    // Following a detector: two regions of a 1 kHz tone, 10 dB apart, each
    // brought to the target.
    const std::vector<RegionLayout> layout = { { 3.0, -30.0 }, { 3.0, -40.0 } };
    Amplifier following(amplifier(-20.0, detectorFromRegions(regionsOf(layout, kRate), kRate).release(), {}));
    const std::vector<double> out = runThrough(*following, recordingOf(layout, kRate));
    ASSERT_EQ(out.size(), 2u * 6 * kRate);
    for (size_t second : { 2, 5 })
        EXPECT_NEAR(rmsDbOf(out, second * kRate, (second + 1) * kRate), -20.3, 0.1) << "at " << second << " s";
}

TEST(MultibandAmplifierThreaded, BitIdenticalOnOneAndTwoThreadsAndSafeWhileAPlayerSetsLevels)
{
    const std::vector<RegionLayout> layout = { { 1.0, -30.0 }, { 1.0, -20.0 } };
    const std::vector<double> in = recordingOf(layout, kRate);
    std::vector<std::vector<double>> outputs;
    // Each run has a thread of its own: the thread count dies with it.
    for (int threads : { 1, 2 })
        testsupport::runWithDeadline(
            [&] {
                omp_set_num_threads(threads);
                Amplifier amp(amplifier(-20.0, detectorFromRegions(regionsOf(layout, kRate), kRate).release(),
                                        { -1, 0, 1, 2 }, { 150, 1200, 5000 }));
                outputs.push_back(runThrough(*amp, in, 1000));
            },
            120);
    ASSERT_EQ(outputs[0].size(), in.size());
    EXPECT_TRUE(outputs[0] == outputs[1]);

    Amplifier amp(amplifier(-20.0, detectorFromRegions(regionsOf(layout, kRate), kRate).release(), {}));
    int pokes = 0;
    testsupport::VectorReader reader(in, kRate);
    const auto poke = [&] {
        amp->setLevel(-18.0 - ++pokes % 5);
        amp->SetBalanceFromRMS({ -20.0, -21.0 - pokes % 2 });
        if (pokes % 3 == 0)
            amp->reset();
    };
    EXPECT_GE(runWhilePoked(*amp, reader, poke, 200).size(), in.size());
    EXPECT_GT(pokes, 3);
}
