// Multiband trees and what is built on them: the bands add back to the input
// (or to the crossover's known sum), each band's gain touches only tones in
// that band, the automatic gain brings every band to its target and follows
// the player's level commands, and lists that cannot make a tree are refused.
#include "tests/support/DynRegions.h"
#include "tests/support/DynSignals.h"
#include "tests/support/GraphAlgos.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/spectral/SoundAlgoFilterMultibandAmplifier.h"
#include "tulv/spectral/SoundAlgoMultibandScale.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <complex>
#include <functional>

using namespace dyntest;

namespace {

constexpr unsigned int kRate = 44100;
using Splitter = SoundAlgoComposite::SplitterType;

// The gain in dB at `hz` of a tree of fourth-order Butterworth crossovers
// with linear band gains `g`, from the analog prototypes at the prewarped
// frequency: band b passes the high passes below it and its own low pass.
double crossoverTreeDb(double hz, const std::vector<double>& freqs, const std::vector<double>& g)
{
    const auto butterworth4 = [hz](double fc, bool low) {
        const std::complex<double> s(0.0, std::tan(M_PI * hz / kRate) / std::tan(M_PI * fc / kRate));
        const std::complex<double> b = (s * s + 0.7653668647301796 * s + 1.0) * (s * s + 1.8477590650225735 * s + 1.0);
        return (low ? std::complex<double>(1.0) : s * s * s * s) / b;
    };
    std::complex<double> h = g.back();
    for (size_t i = freqs.size(); i-- > 0;)
        h = g[i] * butterworth4(freqs[i], true) + butterworth4(freqs[i], false) * h;
    return 20.0 * std::log10(std::abs(h));
}

std::vector<double> tone(double hz, unsigned int frames, double amplitude = 0.1)
{
    return sine(frames, hz, amplitude, kRate);
}

// RMS ratio in dB of out over in, left channel, on frames [from, end).
double gainDb(const std::vector<double>& in, const std::vector<double>& out, size_t from)
{
    double a = 0.0, b = 0.0;
    for (size_t i = from; i < in.size() / 2; ++i) {
        a += in[2 * i] * in[2 * i];
        b += out[2 * i] * out[2 * i];
    }
    return 10.0 * std::log10(b / a);
}

// Exposes the band lists of the amplifier.
class OpenAmplifier : public SoundAlgoFilterMultibandAmplifier {
public:
    using SoundAlgoFilterMultibandAmplifier::SoundAlgoFilterMultibandAmplifier;
    using SoundAlgoFilterMultibandAmplifier::amplifiers;
    using SoundAlgoFilterMultibandAmplifier::limiters;

protected:
    ~OpenAmplifier() override = default;
};

OpenAmplifier* amplifier(double target, RMSStepDetector* detector, const std::vector<double>& offsets,
                         const std::vector<double>& freqs = { 200.0, 4000.0 })
{
    return new OpenAmplifier(freqs, target, 0.005, 0.2, 1.0, detector, SoundAlgoComposite::SplitCrossover, 0, 40.0,
                             offsets);
}

} // namespace

TEST(MultibandTree, BandsAreNamedAndNestedFromTheLowest)
{
    struct Recorder : SoundAlgoComposite::FrequencyAlgoBuilder {
        std::vector<std::pair<SoundAlgoComposite*, QString>> calls;
        void buildAlgo(SoundAlgoComposite* owner, unsigned int band, const QString& name) override
        {
            EXPECT_EQ(band, calls.size());
            calls.emplace_back(owner, name);
            owner->pushAlgo(new SoundAlgoScale(0.0));
        }
    } recorder;
    AlgoPtr<SoundAlgoComposite> tree(new SoundAlgoComposite);
    tree->buildMultibandTree({ 199.9, 2000.0 }, recorder, SoundAlgoComposite::SplitOrder1);
    ASSERT_EQ(recorder.calls.size(), 3u);
    EXPECT_EQ(recorder.calls[0].second, "[0-199]");
    EXPECT_EQ(recorder.calls[1].second, "[199-2000]");
    EXPECT_EQ(recorder.calls[2].second, "[2000-22050]");
    // Band 0 sits in the outer split; bands 1 and 2 in the split nested in it.
    EXPECT_NE(recorder.calls[0].first, recorder.calls[1].first);
    EXPECT_EQ(recorder.calls[1].first, recorder.calls[2].first);
}

TEST(MultibandTree, ListsThatCannotMakeATreeAreRefused)
{
    struct Case {
        const char* name;
        std::function<SoundAlgoComposite*()> make;
        const char* message;
    };
    const Case cases[] = {
        { "no frequency", [] { return new SoundAlgoMultibandScale({}, {}, Splitter::SplitCrossover); },
          "at least one crossover frequency" },
        { "unknown splitter", [] { return new SoundAlgoMultibandScale({ 1000.0 }, { 0, 0 }, Splitter(7)); },
          "unknown splitter type 7" },
        { "descending", [] { return new SoundAlgoMultibandScale({ 2000.0, 200.0 }, { 0, 0, 0 }, Splitter(0)); },
          "must ascend" },
        { "short gains", [] { return new SoundAlgoMultibandScale({ 200.0, 2000.0 }, { 0, 0 }, Splitter(1)); },
          "2 gains for 3 bands" },
        { "short offsets", [] { return amplifier(-20.0, nullptr, { -3.0, 0.0 }); }, "2 band offsets for 3 bands" },
        { "amplifier without frequency", [] { return amplifier(-20.0, nullptr, {}, {}); },
          "at least one crossover frequency" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::MessageLog log;
        AlgoPtr<SoundAlgoComposite> algo(c.make());
        EXPECT_TRUE(log.has(QStringLiteral("C:") + c.message)) << log.lines().join('\n').toStdString();
        EXPECT_TRUE(algo->isEmpty());
        EXPECT_TRUE(runThrough(*algo, tone(440, 2000)).empty()) << "the run must fail";
    }
    AlgoPtr<OpenAmplifier> bandless(amplifier(-20.0, nullptr, {}, {}));
    EXPECT_EQ(bandless->getLevel(1.0), 0.0);

    // A builder that gives a band nothing leaves a tree that refuses to run.
    testsupport::MessageLog log;
    FrequencyScaleBuilder oneGain({ 0.0 });
    AlgoPtr<SoundAlgoComposite> tree(new SoundAlgoComposite);
    tree->buildMultibandTree({ 1000.0 }, oneGain, SoundAlgoComposite::SplitOrder1);
    EXPECT_TRUE(log.has("C:no gain for band 1"));
    EXPECT_TRUE(runThrough(*tree, tone(440, 2000)).empty());
}

TEST(MultibandScale, BandsAddBackToTheInput)
{
    // A sound with energy everywhere: a ramp of distinct values.
    std::vector<double> broad(2 * 30011);
    for (size_t i = 0; i < broad.size(); ++i)
        broad[i] = testsupport::rampValue(int(i / 2), int(i % 2)) * 1e-5;
    struct Case {
        Splitter splitter;
        unsigned int block;
    };
    // The complementary splits give back the input itself, whatever the block.
    for (const Case& c : { Case { Splitter::SplitOrder1, 1000 }, Case { Splitter::SplitBiquad, 333 } }) {
        SCOPED_TRACE(c.splitter);
        AlgoPtr<SoundAlgoMultibandScale> scale(new SoundAlgoMultibandScale({ 200, 2000, 9000 }, { 0, 0, 0, 0 }, c.splitter));
        const std::vector<double> out = runThrough(*scale, broad, c.block);
        ASSERT_EQ(out.size(), broad.size());
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_NEAR(out[i], broad[i], 1e-12) << "sample " << i;
    }
    // The fourth-order Butterworth pair sums to (1 + s^4) / B(s): 3.01 dB up
    // at the crossover, 0 dB far from it.
    for (double hz : { 1000.0, 2000.0 }) {
        SCOPED_TRACE(hz);
        const double expected = crossoverTreeDb(hz, { 1000.0 }, { 1.0, 1.0 });
        AlgoPtr<SoundAlgoMultibandScale> scale(new SoundAlgoMultibandScale({ 1000 }, { 0, 0 }, Splitter::SplitCrossover));
        const std::vector<double> in = tone(hz, 17640);
        EXPECT_NEAR(gainDb(in, runThrough(*scale, in), 8820), expected, 0.01);
    }
}

TEST(MultibandScale, OneBandAtMinusSixAttenuatesOnlyTonesInThatBand)
{
    // Tones two octaves or more from the crossovers of {200, 4000} Hz, each a
    // whole number of periods over the measured 0.2 s.
    const double tones[] = { 25.0, 900.0, 16000.0 };
    for (size_t band = 0; band < 3; ++band) {
        std::vector<double> gains(3, 0.0);
        gains[band] = -6.0;
        for (size_t t = 0; t < 3; ++t) {
            SCOPED_TRACE(testing::Message() << "band " << band << " tone " << tones[t]);
            AlgoPtr<SoundAlgoMultibandScale> scale(new SoundAlgoMultibandScale({ 200, 4000 }, gains, Splitter::SplitCrossover));
            const std::vector<double> in = tone(tones[t], 17640);
            std::vector<double> linear(3, 1.0);
            linear[band] = std::pow(10.0, -6.0 / 20.0);
            const double expected = crossoverTreeDb(tones[t], { 200, 4000 }, linear);
            EXPECT_NEAR(expected, t == band ? -6.0 : 0.0, 0.1) << "the tone lies in one band";
            EXPECT_NEAR(gainDb(in, runThrough(*scale, in), 8820), expected, 0.005);
        }
    }
}

TEST(MultibandAmplifier, EveryBandReachesItsTargetAndFollowsTheLevelCommands)
{
    // Without a detector every band is a fixed gain of its target level; the
    // limiter after the sum takes 0.3 dB off.
    const double offsets[] = { -3.0, 0.0, 3.0 };
    const double tones[] = { 25.0, 900.0, 16000.0 };
    AlgoPtr<OpenAmplifier> amp(amplifier(-20.0, nullptr, { -3.0, 0.0, 3.0 }));
    ASSERT_EQ(amp->amplifiers.size(), 3u);
    ASSERT_EQ(amp->limiters.size(), 2u) << "the top band has no limiter of its own";
    EXPECT_EQ(amp->amplifiers[2]->getId(), "[4000-22050]");
    for (size_t b = 0; b < 3; ++b) {
        SCOPED_TRACE(tones[b]);
        const std::vector<double> in = tone(tones[b], 17640);
        const std::vector<double> linear = { std::pow(10.0, -23.3 / 20), std::pow(10.0, -20.3 / 20),
                                             std::pow(10.0, -17.3 / 20) };
        EXPECT_NEAR(gainDb(in, runThrough(*amp, in), 8820), crossoverTreeDb(tones[b], { 200, 4000 }, linear), 0.005);
        EXPECT_NEAR(crossoverTreeDb(tones[b], { 200, 4000 }, linear), -20.0 + offsets[b] - 0.3, 0.1);
    }
    amp->setLevel(-12.0);
    for (size_t b = 0; b < 3; ++b) {
        SCOPED_TRACE(tones[b]);
        const std::vector<double> in = tone(tones[b], 17640);
        EXPECT_NEAR(gainDb(in, runThrough(*amp, in), 8820), -12.3 + crossoverTreeDb(tones[b], { 200, 4000 }, { 1, 1, 1 }),
                    0.005);
    }

    // Following a detector: two regions of a 1 kHz tone, 10 dB apart, each
    // brought to the target; the band limiters write their diagnostics.
    const std::vector<RegionSpec> layout = { { 3.0, -30.0 }, { 3.0, -40.0 } };
    RMSStepDetector* detector = detectorWith(regionsOf(layout, kRate), kRate);
    AlgoPtr<OpenAmplifier> following(amplifier(-20.0, detector, {}));
    detector->release();
    QTemporaryDir dir;
    following->SetDebugFile(dir.filePath("out"));
    const std::vector<double> in = recordingOf(layout, kRate);
    const std::vector<double> out = runThrough(*following, in);
    ASSERT_EQ(out.size(), in.size());
    for (double second : { 2.0, 5.0 }) {
        const size_t from = size_t(second * kRate);
        const std::vector<double> inPart(in.begin() + 2 * from, in.begin() + 2 * (from + kRate));
        const std::vector<double> outPart(out.begin() + 2 * from, out.begin() + 2 * (from + kRate));
        EXPECT_NEAR(layout[second > 3].rmsDb + gainDb(inPart, outPart, 0), -20.3, 0.1)
            << "at " << second << " s";
    }
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("out.channel_0")));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("out.channel_1")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out.channel_2")));
}

TEST(MultibandAmplifierThreaded, BitIdenticalOnOneAndTwoThreadsAndSafeWhileAPlayerSetsLevels)
{
    const std::vector<RegionSpec> layout = { { 1.0, -30.0 }, { 1.0, -20.0 } };
    const std::vector<double> in = recordingOf(layout, kRate);
    const int savedThreads = omp_get_max_threads();
    std::vector<std::vector<double>> outputs;
    for (int threads : { 1, 2 }) {
        testsupport::runWithDeadline(
            [&] {
                omp_set_num_threads(threads);
                RMSStepDetector* detector = detectorWith(regionsOf(layout, kRate), kRate);
                AlgoPtr<OpenAmplifier> amp(amplifier(-20.0, detector, { -1.0, 0.0, 1.0, 2.0 }, { 150, 1200, 5000 }));
                detector->release();
                outputs.push_back(runThrough(*amp, in, 1000));
            },
            120);
    }
    omp_set_num_threads(savedThreads);
    ASSERT_EQ(outputs[0].size(), in.size());
    EXPECT_TRUE(outputs[0] == outputs[1]);

    RMSStepDetector* detector = detectorWith(regionsOf(layout, kRate), kRate);
    AlgoPtr<OpenAmplifier> amp(amplifier(-20.0, detector, {}));
    detector->release();
    int pokes = 0;
    testsupport::VectorReader reader(in, kRate);
    const std::vector<double> out = runWhilePoked(
        *amp, reader,
        [&] {
            switch (pokes++ % 3) {
            case 0: amp->setLevel(-18.0 - pokes % 5); break;
            case 1: amp->SetBalanceFromRMS({ -20.0, -21.0 }); break;
            default: amp->reset();
            }
        },
        200);
    EXPECT_GE(out.size(), in.size());
    EXPECT_GT(pokes, 3);
}
