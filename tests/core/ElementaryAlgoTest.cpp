// The elementary algorithms computing what they say on streams run through
// the block loop, alone or fed by a fan-out inside a composite.
#include "tests/support/GraphAlgos.h"
#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>

using namespace testsupport;

namespace {

constexpr unsigned int kRate = 44100;

// A stream with negative and positive values on both channels, none zero
// except where the ramp crosses it.
double signedRamp(int index, int channel)
{
    return (index % 101 - 50) / 64.0 + (channel ? 0.001 : 0.0);
}

// A graph of one chain: fan-out, then the algorithm under test, then
// whatever follows it.
AlgoRef<SoundAlgoComposite> chain(std::vector<FanOut::Line> lines, std::vector<SoundAlgo*> rest)
{
    AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite);
    graph->pushAlgo(new FanOut(std::move(lines)));
    for (SoundAlgo* algo : rest)
        graph->pushAlgo(algo);
    return graph;
}

// Expected output frame for the fan-out lines combined by `combine`.
void expectCombination(const RunResult& run, unsigned int frames, const std::vector<FanOut::Line>& lines,
                       const std::function<double(const std::vector<double>&)>& combine)
{
    ASSERT_EQ(run.status, SoundTools::Ok);
    ASSERT_EQ(run.frames(), frames);
    for (unsigned int t = 0; t < frames; ++t) {
        for (unsigned int c = 0; c < 2; ++c) {
            std::vector<double> x;
            for (const auto& line : lines)
                x.push_back(line.gain * signedRamp(int(t), int(c)) + line.offset);
            ASSERT_EQ(run.at(t, c), combine(x)) << "frame " << t << " channel " << c;
        }
    }
}

} // namespace

TEST(ElementaryGain, ScaleMultipliesByTheGainInDecibels)
{
    const unsigned int frames = 3000;
    for (double db : { -20.0, 0.0, 6.0 }) {
        GeneratorReader reader(frames, kRate, signedRamp);
        AlgoRef<SoundAlgoScale> scale(new SoundAlgoScale(db));
        const RunResult run = runGraph(*scale, reader);
        ASSERT_EQ(run.status, SoundTools::Ok);
        ASSERT_EQ(run.frames(), frames);
        const double factor = db == -20.0 ? 0.1 : db == 0.0 ? 1.0 : 1.9952623149688795;
        for (unsigned int t = 0; t < frames; ++t)
            ASSERT_NEAR(run.at(t, 1), factor * signedRamp(int(t), 1), 1e-15) << db << " dB, frame " << t;
        if (db == 0.0) {
            EXPECT_EQ(run.at(7, 0), signedRamp(7, 0));
        }
    }
}

TEST(ElementaryGain, AbsRectifiesOrAddsTheRectifiedSignal)
{
    VectorReader plain({ -0.5, 0.5, 0.25, -0.75 });
    AlgoRef<SoundAlgoAbs> abs(new SoundAlgoAbs());
    RunResult run = runGraph(*abs, plain);
    ASSERT_EQ(run.samples, (std::vector<double> { 0.5, 0.5, 0.25, 0.75 }));

    VectorReader added({ -0.5, 0.5, 0.25, -0.75 });
    AlgoRef<SoundAlgoAbs> halfWave(new SoundAlgoAbs(true, 1.0));
    run = runGraph(*halfWave, added);
    ASSERT_EQ(run.samples, (std::vector<double> { 0.0, 1.0, 0.5, 0.0 }));
}

TEST(ElementaryDelay, TrueDelayShiftsTheStreamBy441FramesAt44100Hz)
{
    AlgoRef<SoundAlgoDelay> delay(new SoundAlgoDelay(0.01, false));
    EXPECT_EQ(delay->getDelay(kRate), 441u);
    EXPECT_EQ(delay->getOutOverlap(kRate), 0u);
    EXPECT_EQ(delay->getSampleShift(kRate), 0u);

    const unsigned int frames = 5000;
    GeneratorReader reader(frames, kRate, signedRamp);
    const RunResult run = runGraph(*delay, reader);
    ASSERT_EQ(run.status, SoundTools::Ok);
    ASSERT_EQ(run.frames(), frames + 441);
    for (unsigned int t = 0; t < run.frames(); ++t)
        ASSERT_EQ(run.at(t, 0), t < 441 ? 0.0 : signedRamp(int(t) - 441, 0)) << "frame " << t;
}

TEST(ElementaryDelay, AsOverlapHoldsFramesBackWithoutShiftingThem)
{
    AlgoRef<SoundAlgoDelay> delay(new SoundAlgoDelay(0.01, true));
    EXPECT_EQ(delay->getDelay(kRate), 0u);
    EXPECT_EQ(delay->getOutOverlap(kRate), 441u);
    EXPECT_EQ(delay->getSampleShift(kRate), 441u);

    const unsigned int frames = 5000;
    GeneratorReader reader(frames, kRate, signedRamp);
    const RunResult run = runGraph(*delay, reader);
    ASSERT_EQ(run.status, SoundTools::Ok);
    ASSERT_GE(run.frames(), frames);
    for (unsigned int t = 0; t < run.frames(); ++t)
        ASSERT_EQ(run.at(t, 1), t < frames ? signedRamp(int(t), 1) : 0.0) << "frame " << t;
}

TEST(ElementaryBypass, DeclaresItsGeometryAndDelaysByExactlyItsDelay)
{
    AlgoRef<SoundAlgoBypass> bypass(new SoundAlgoBypass(5, 7, 3));
    EXPECT_EQ(bypass->getInOverlap(kRate), 5u);
    EXPECT_EQ(bypass->getDelay(kRate), 7u);
    EXPECT_EQ(bypass->getOutOverlap(kRate), 3u);
    EXPECT_EQ(bypass->getSampleShift(kRate), 8u);

    // The held-back output frames keep their place in time: what comes out is
    // the input, 7 frames late, every frame once.
    for (unsigned int block : { 16u, 1024u }) {
        const unsigned int saved = SoundBuffer::getDefaultSize();
        SoundBuffer::setDefaultSize(block);
        const unsigned int frames = 2000;
        GeneratorReader reader(frames, kRate, signedRamp);
        const RunResult run = runGraph(*bypass, reader);
        SoundBuffer::setDefaultSize(saved);
        ASSERT_EQ(run.status, SoundTools::Ok);
        ASSERT_GE(run.frames(), frames + 7);
        for (unsigned int t = 0; t < frames + 7; ++t)
            ASSERT_EQ(run.at(t, 0), t < 7 ? 0.0 : signedRamp(int(t) - 7, 0)) << "block " << block << " frame " << t;
    }

    AlgoRef<SoundAlgoBypass> plain(new SoundAlgoBypass());
    EXPECT_EQ(plain->getInOverlap(kRate) + plain->getDelay(kRate) + plain->getOutOverlap(kRate), 0u);
}

TEST(ElementaryCombination, AddSumsWeightedInputsAndPassesTheOthersOn)
{
    const unsigned int frames = 2500;
    const std::vector<FanOut::Line> three { { 1.0, 0.0 }, { -2.0, 0.25 }, { 0.5, -1.0 } };
    // Output 0 is the sum; outputs 1 and 2 are inputs 1 and 2 unchanged.
    for (int port = 0; port < 3; ++port) {
        GeneratorReader reader(frames, kRate, signedRamp);
        auto graph = chain(three, { new SoundAlgoAdd(3, false, nullptr), new SoundAlgoSelectChannel(port, 3) });
        expectCombination(runGraph(*graph, reader), frames, three, [port](const std::vector<double>& x) {
            return port == 0 ? x[0] + x[1] + x[2] : x[size_t(port)];
        });
    }

    const double weights[] = { 0.5, 2.0 };
    const std::vector<FanOut::Line> two { { 1.0, 0.0 }, { 3.0, 0.5 } };
    GeneratorReader reader(frames, kRate, signedRamp);
    auto weighted = chain(two, { new SoundAlgoAdd(2, true, weights) });
    expectCombination(runGraph(*weighted, reader), frames, two,
                      [](const std::vector<double>& x) { return 0.5 * x[0] + 2.0 * x[1]; });

    GeneratorReader plainReader(frames, kRate, signedRamp);
    auto plain = chain(two, { new SoundAlgoAdd() });
    expectCombination(runGraph(*plain, plainReader), frames, two,
                      [](const std::vector<double>& x) { return x[0] + x[1]; });
}

TEST(ElementaryCombination, AddSqrIsTheEuclideanNorm)
{
    // Lines 3·x and 4·x over x = 1 then 0: (3, 4) gives 5, (0, 0) gives 0.
    VectorReader reader({ 1.0, 1.0, 0.0, 0.0, -1.0, 0.5 });
    auto graph = chain({ { 3.0, 0.0 }, { 4.0, 0.0 } }, { new SoundAlgoAddSqr() });
    const RunResult run = runGraph(*graph, reader);
    ASSERT_EQ(run.status, SoundTools::Ok);
    ASSERT_EQ(run.samples, (std::vector<double> { 5.0, 5.0, 0.0, 0.0, 5.0, 2.5 }));
}

TEST(ElementaryCombination, SubTakesTheOtherInputsFromTheFirst)
{
    const unsigned int frames = 1500;
    const std::vector<FanOut::Line> three { { 1.0, 0.0 }, { 0.5, 0.125 }, { -0.25, 2.0 } };
    GeneratorReader reader(frames, kRate, signedRamp);
    auto graph = chain(three, { new SoundAlgoSub(3, true) });
    expectCombination(runGraph(*graph, reader), frames, three,
                      [](const std::vector<double>& x) { return x[0] - x[1] - x[2]; });

    GeneratorReader twoReader(frames, kRate, signedRamp);
    auto two = chain({ three[0], three[1] }, { new SoundAlgoSub() });
    expectCombination(runGraph(*two, twoReader), frames, { three[0], three[1] },
                      [](const std::vector<double>& x) { return x[0] - x[1]; });
}

TEST(ElementarySelect, TheSelectedInputBufferIsTheOutput)
{
    const unsigned int frames = 1200;
    const std::vector<FanOut::Line> two { { 1.0, 0.0 }, { -3.0, 0.5 } };
    auto* select = new SoundAlgoSelectChannel(1, 2);
    select->addRef(); // kept beyond the graph to look at its ports
    auto graph = chain(two, { select });

    GeneratorReader reader(frames, kRate, signedRamp);
    SoundAlgo::LoopContext context;
    ASSERT_EQ(graph->initProcessLoop(reader, context), SoundTools::Ok);
    EXPECT_EQ(select->getOutBuffer(0), select->getInBuffer(1));
    EXPECT_NE(select->getOutBuffer(0), select->getInBuffer(0));
    graph->endProcessLoop(context);

    reader.rewind();
    expectCombination(runGraph(*graph, reader), frames, two, [](const std::vector<double>& x) { return x[1]; });
    select->release();
}

TEST(ElementaryThreaded, AddOfEightInputsIsBitIdenticalOnOneAndTwoThreads)
{
    std::vector<FanOut::Line> eight;
    double weights[8];
    for (int i = 0; i < 8; ++i) {
        eight.push_back({ 1.0 / (i + 3), 0.1 * i });
        weights[i] = 0.3 + 0.7 / (i + 1);
    }
    const unsigned int frames = 200000;
    std::vector<std::vector<double>> outputs;
    const int savedThreads = omp_get_max_threads();
    // Blocks large enough for the adder to share their frames out.
    const unsigned int savedBlock = SoundBuffer::getDefaultSize();
    SoundBuffer::setDefaultSize(65536);
    for (int threads : { 1, 2 }) {
        runWithDeadline(
            [&] {
                omp_set_num_threads(threads);
                GeneratorReader reader(frames, kRate, signedRamp);
                auto graph = chain(eight, { new SoundAlgoAdd(8, true, weights) });
                const RunResult run = runGraph(*graph, reader);
                EXPECT_EQ(run.status, SoundTools::Ok);
                outputs.push_back(run.samples);
            },
            60);
    }
    omp_set_num_threads(savedThreads);
    SoundBuffer::setDefaultSize(savedBlock);
    ASSERT_EQ(outputs.size(), 2u);
    ASSERT_EQ(outputs[0].size(), 2u * frames);
    EXPECT_TRUE(outputs[0] == outputs[1]);
    // And the sum is the weighted sum, within the rounding of eight terms.
    double worst = 0;
    for (unsigned int t = 0; t < frames; ++t) {
        double want = 0;
        for (int i = 0; i < 8; ++i)
            want += weights[i] * (eight[size_t(i)].gain * signedRamp(int(t), 1) + eight[size_t(i)].offset);
        worst = std::max(worst, std::fabs(outputs[0][2 * t + 1] - want));
    }
    EXPECT_LT(worst, 1e-14);
}
