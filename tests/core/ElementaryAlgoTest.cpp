// The elementary algorithms computing what they say on streams run through
// the block loop, alone or fed by a fan-out inside a composite.
#include "tests/support/GraphAlgos.h"
#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

constexpr unsigned int kRate = 44100;

// A stream with negative and positive values on both channels, none zero
// except where the ramp crosses it.
std::vector<double> signedRamp()
{
    std::vector<double> x(2 * 3000);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = (int(i / 2) % 101 - 50) / 64.0 + (i % 2 ? 0.001 : 0.0);
    return x;
}

// A graph of one chain: fan-out, then the algorithms under test.
AlgoRef<SoundAlgoComposite> chain(std::vector<FanOut::Line> lines, std::vector<SoundAlgo*> rest)
{
    AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite);
    graph->pushAlgo(new FanOut(std::move(lines)));
    for (SoundAlgo* algo : rest)
        graph->pushAlgo(algo);
    return graph;
}

// Builds an algorithm and reads back the geometry it declares.
template <class T, class... Args> SoundAlgo* declare(Geometry& g, Args... args)
{
    auto* algo = new T(args...);
    g = { 0, algo->getDelay(kRate), algo->getOutOverlap(kRate), algo->getSampleShift(kRate) };
    return algo;
}

} // namespace

TEST(ElementaryAlgos, EachComputesItsFormulaOnAStream)
{
    using Lines = std::vector<FanOut::Line>;
    using X = const std::vector<double>&;
    static const double kWeights[] = { 0.5, 2.0 };
    const Lines two { { 1.0, 0.0 }, { 3.0, 0.5 } };
    const Lines three { { 1.0, 0.0 }, { -2.0, 0.25 }, { 0.5, -1.0 } };
    struct Case {
        const char* name;
        Lines lines; // empty: the algorithm reads the stream itself
        SoundAlgo* algo; // used once
        std::function<double(X)> expected;
        double tolerance;
        int port = -1; // an output of the algorithm other than the first
    };
    const Case cases[] = {
        { "scale -20 dB", {}, new SoundAlgoScale(-20.0), [](X x) { return 0.1 * x[0]; }, 1e-15 },
        { "scale 0 dB", {}, new SoundAlgoScale(0.0), [](X x) { return x[0]; }, 0 },
        { "abs", {}, new SoundAlgoAbs(), [](X x) { return std::fabs(x[0]); }, 0 },
        { "abs added", {}, new SoundAlgoAbs(true, 1.0), [](X x) { return x[0] + std::fabs(x[0]); }, 0 },
        { "add", two, new SoundAlgoAdd(), [](X x) { return x[0] + x[1]; }, 0 },
        { "weighted add", two, new SoundAlgoAdd(2, true, kWeights), [](X x) { return 0.5 * x[0] + 2.0 * x[1]; }, 0 },
        // Output 0 of an adder is the sum; the others pass its inputs on.
        { "add of 3", three, new SoundAlgoAdd(3, false, nullptr), [](X x) { return x[0] + x[1] + x[2]; }, 0, 0 },
        { "add passes input 2 on", three, new SoundAlgoAdd(3, false, nullptr), [](X x) { return x[2]; }, 0, 2 },
        { "add sqr", two, new SoundAlgoAddSqr(), [](X x) { return std::sqrt(x[0] * x[0] + x[1] * x[1]); }, 1e-15 },
        { "sub", two, new SoundAlgoSub(), [](X x) { return x[0] - x[1]; }, 0 },
        { "sub of 3", three, new SoundAlgoSub(3, true), [](X x) { return x[0] - x[1] - x[2]; }, 0 },
        { "select", two, new SoundAlgoSelectChannel(1, 2), [](X x) { return x[1]; }, 0 },
    };
    const std::vector<double> in = signedRamp();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SoundAlgo*> algos { c.algo };
        if (c.port >= 0)
            algos.push_back(new SoundAlgoSelectChannel(c.port, int(c.lines.size())));
        AlgoRef<SoundAlgo> graph(c.lines.empty() ? algos[0] : chain(c.lines, algos).release());
        const std::vector<double> out = runWithTail(*graph, in);
        ASSERT_EQ(out.size(), in.size());
        for (size_t i = 0; i < in.size(); ++i) {
            std::vector<double> x;
            for (const auto& line : c.lines.empty() ? Lines { { 1.0, 0.0 } } : c.lines)
                x.push_back(line.gain * in[i] + line.offset);
            ASSERT_NEAR(out[i], c.expected(x), c.tolerance) << "frame " << i / 2 << " channel " << i % 2;
        }
    }
}

TEST(ElementaryAlgos, DelaysAndBypassesShiftByExactlyTheirDelay)
{
    struct Case {
        const char* name;
        std::function<SoundAlgo*(Geometry&)> make;
        Geometry declared; // in overlap (given to the bypass), delay, out overlap, sample shift
    };
    const Case cases[] = {
        { "true delay", [](Geometry& g) { return declare<SoundAlgoDelay>(g, 0.01, false); }, { 0, 441, 0, 0 } },
        { "delay as overlap", [](Geometry& g) { return declare<SoundAlgoDelay>(g, 0.01, true); }, { 0, 0, 441, 441 } },
        // The held-back output frames keep their place in time.
        { "bypass", [](Geometry& g) { return declare<SoundAlgoBypass>(g, 5, 7, 3); }, { 5, 7, 3, 8 } },
        { "plain bypass", [](Geometry& g) { return declare<SoundAlgoBypass>(g); }, { 0, 0, 0, 0 } },
    };
    const std::vector<double> in = signedRamp();
    for (const Case& c : cases)
        for (unsigned int block : { 16u, 1024u }) {
            SCOPED_TRACE(std::string(c.name) + ", block " + std::to_string(block));
            Geometry g;
            AlgoRef<SoundAlgo> algo(c.make(g));
            EXPECT_EQ(g.delay, c.declared.delay);
            EXPECT_EQ(g.outOverlap, c.declared.outOverlap);
            EXPECT_EQ(g.sampleShift, c.declared.sampleShift);
            const std::vector<double> out = runThrough(*algo, in, block, kRate, true);
            ASSERT_GE(out.size(), in.size() + 2 * c.declared.delay);
            for (size_t i = 0; i < out.size(); ++i) {
                const size_t source = i - 2 * c.declared.delay; // wraps past the end before the delay
                ASSERT_EQ(out[i], source < in.size() ? in[source] : 0.0) << "frame " << i / 2;
            }
        }
}
