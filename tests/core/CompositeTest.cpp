// Composites: how they are assembled, how they equalise their branches, what
// their parallel branches compute on real streams, and who owns the members.
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

// A parallel composite of one GeometryCopy per branch, summed by an adder:
// the output must be Σ gain_b · x(t − D), D the largest branch delay.
struct BranchLayout {
    std::vector<Geometry> members;
    double gain;
    bool nested = false; // the members sit in a composite of their own
};

Geometry geometry(unsigned int in, unsigned int delay, unsigned int out)
{
    // Inside a chain nothing pads the look-ahead for it at the end of the
    // stream: the flush must cover both what it reads ahead and what it
    // holds back.
    return Geometry { in, delay, out, in + out };
}

// Checks a summed-branches run against the sum computed directly.
void expectAlignedSum(const std::vector<BranchLayout>& layouts, unsigned int frames, unsigned int block)
{
    auto* parallel = new SoundAlgoComposite(QStringLiteral("parallel"));
    unsigned int delay = 0;
    for (size_t b = 0; b < layouts.size(); ++b) {
        if (b > 0)
            parallel->addNewBranch();
        auto* target = layouts[b].nested ? new SoundAlgoComposite(QStringLiteral("nested %1").arg(b)) : parallel;
        unsigned int branchDelay = 0;
        for (size_t m = 0; m < layouts[b].members.size(); ++m) {
            target->pushAlgo(new GeometryCopy(layouts[b].members[m], m == 0 ? layouts[b].gain : 1.0));
            branchDelay += layouts[b].members[m].delay;
        }
        delay = std::max(delay, branchDelay);
        if (target != parallel)
            parallel->pushAlgo(target);
    }
    AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite(QStringLiteral("graph")));
    graph->pushAlgo(parallel);
    graph->pushAlgo(new SoundAlgoAdd(int(layouts.size())));
    const std::vector<double> in = stereoNoise(frames, block), out = runThrough(*graph, in, block, kRate, true);
    ASSERT_GE(out.size(), in.size() + 2 * delay) << "block " << block;
    for (size_t i = 0; i < out.size(); ++i) {
        const size_t source = i - 2 * delay; // wraps to past the end before the delay
        double want = 0;
        for (const auto& layout : layouts)
            want += source < in.size() ? layout.gain * in[source] : 0.0;
        ASSERT_NEAR(out[i], want, 1e-12) << "frame " << i / 2 << " channel " << i % 2 << " block " << block;
    }
}

} // namespace

TEST(CompositeBuilding, ACompositeNeverHeadsABranchAndALockedOneRefusesChanges)
{
    // Put in front: a plain algorithm heads the branch, a composite goes
    // behind the plain bypass that feeds it.
    AlgoRef<OpenComposite> outer(new OpenComposite);
    auto* scale = new SoundAlgoScale(0.0);
    outer->pushAlgo(scale);
    auto* front = new SoundAlgoComposite;
    outer->pushAlgoFront(front);
    auto* abs = new SoundAlgoAbs;
    outer->pushAlgoFront(abs);
    ASSERT_EQ(outer->branches().size(), 1u);
    const auto& branch = outer->branches()[0];
    EXPECT_EQ(branch, (std::vector<SoundAlgo*> { abs, branch[1], front, scale }));
    auto* bypass = dynamic_cast<SoundAlgoBypass*>(branch[1]);
    EXPECT_TRUE(bypass && bypass->getInOverlap(kRate) + bypass->getDelay(kRate) + bypass->getOutOverlap(kRate) == 0);

    AlgoRef<OpenComposite> locked(new OpenComposite);
    locked->setReadOnly();
    AlgoRef<SoundAlgoScale> refused(new SoundAlgoScale(1.0));
    locked->pushAlgo(refused.get());
    locked->pushAlgoFront(refused.get());
    locked->addNewBranch();
    std::vector<SoundAlgo*> members { refused.get() };
    locked->pushBranch(members);
    EXPECT_TRUE(locked->isEmpty());
    EXPECT_EQ(refused->getRefCount(), 1);

    // The preferred block is the power of two above every member's.
    DefaultBlockSize size(1024);
    AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite);
    graph->pushAlgo(new SoundAlgoScale(0.0));
    graph->addNewBranch();
    graph->pushAlgo(new SoundAlgoBypass(3000, 0, 0));
    EXPECT_EQ(graph->getPreferredBufferSize(kRate), 4096u);
    EXPECT_EQ(graph->getInOverlap(kRate), 3000u);
    EXPECT_EQ(graph->getSampleShift(kRate), 3000u);
}

TEST(CompositeStreams, BranchesOfDifferentGeometriesStaySampleAligned)
{
    // A fixed pseudo-random walk through branch shapes, reproducible.
    unsigned int seed = 12345;
    auto next = [&seed](unsigned int modulo) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % modulo;
    };
    const unsigned int overlaps[] = { 0, 1, 13, 100 };
    const unsigned int delays[] = { 0, 3, 50 };
    const unsigned int outs[] = { 0, 2, 31 };
    for (int graph = 0; graph < 40; ++graph) {
        std::vector<BranchLayout> layouts(2 + next(2));
        for (auto& layout : layouts) {
            layout.gain = 0.25 * (1 + next(7));
            layout.nested = next(4) == 0;
            for (unsigned int m = 1 + next(3); m > 0; --m)
                layout.members.push_back(geometry(overlaps[next(4)], delays[next(3)], outs[next(3)]));
        }
        for (unsigned int block : { 16u, 1024u }) {
            SCOPED_TRACE("random graph " + std::to_string(graph));
            expectAlignedSum(layouts, 2500, block);
            if (HasFatalFailure())
                return;
        }
    }
}

TEST(CompositeStreams, SeparateInputBranchesReadTheirOwnInputs)
{
    // Three streams; branch 0 reads the first, branch 1 (a subtractor) the
    // next two: out = f0 + 0.1 · (f1 − f2).
    AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite);
    graph->pushAlgo(new FanOut({ { 1.0, 0.0 }, { 2.0, 0.5 }, { -1.0, 0.25 } }));
    auto* parallel = new SoundAlgoComposite(QStringLiteral("separate"), false);
    parallel->pushAlgo(new SoundAlgoScale(0.0));
    parallel->addNewBranch();
    parallel->pushAlgo(new SoundAlgoSub);
    parallel->pushAlgo(new SoundAlgoScale(-20.0));
    graph->pushAlgo(parallel);
    graph->pushAlgo(new SoundAlgoAdd);
    const std::vector<double> in = stereoNoise(3000, 4), out = runWithTail(*graph, in);
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_NEAR(out[i], in[i] + 0.1 * ((2.0 * in[i] + 0.5) - (-in[i] + 0.25)), 1e-14) << "sample " << i;
}

TEST(CompositeStatus, BranchResultsCombine)
{
    // Per branch what its member answers (Ok: it works), and the composite's answer.
    const std::vector<std::pair<std::vector<SoundTools::Status>, SoundTools::Status>> cases {
        { { SoundTools::Error }, SoundTools::Error },     { { SoundTools::EndOfStream }, SoundTools::Stopped },
        { { SoundTools::Waiting }, SoundTools::Stopped }, { { SoundTools::Ok, SoundTools::Ok }, SoundTools::Ok },
        { { SoundTools::Ok, SoundTools::Error }, SoundTools::Error },
        { { SoundTools::Error, SoundTools::Ok, SoundTools::Ok }, SoundTools::Error },
    };
    for (const auto& c : cases) {
        auto* parallel = new SoundAlgoComposite;
        for (size_t b = 0; b < c.first.size(); ++b) {
            if (b > 0)
                parallel->addNewBranch();
            auto* member = new GeometryCopy({});
            member->failWith(c.first[b]);
            parallel->pushAlgo(member);
            parallel->pushAlgo(new SoundAlgoScale(0.0));
        }
        AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite);
        graph->pushAlgo(parallel);
        graph->pushAlgo(new SoundAlgoAdd(int(c.first.size())));
        GeneratorReader reader(100);
        SoundAlgo::LoopContext context;
        ASSERT_EQ(graph->initProcessLoop(reader, context), SoundTools::Ok);
        reader.stereoRead(context.inBuffer, 0);
        EXPECT_EQ(parallel->process(), c.second) << "case with " << c.first.size() << " branches";
        graph->endProcessLoop(context);
    }
}

TEST(CompositeOwnership, MembersGoExactlyOnceAndSharedOnesSurvive)
{
    int destroyed = 0;
    auto* kept = new GeometryCopy({});
    kept->setDestructionCounter(&destroyed);
    {
        AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite);
        auto* inner = new SoundAlgoComposite;
        for (int b = 0; b < 3; ++b) {
            if (b > 0)
                inner->addNewBranch();
            auto* member = new GeometryCopy({});
            member->setDestructionCounter(&destroyed);
            inner->pushAlgo(member);
        }
        kept->addRef(); // the test holds a reference of its own
        inner->pushAlgo(kept);
        graph->pushAlgo(inner);
        graph->pushAlgo(new SoundAlgoAdd(3));
        // A run adds equalising bypasses, owned like any member.
        runWithTail(*graph, stereoNoise(50, 1));
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(kept->getRefCount(), 1);
    kept->release();
    EXPECT_EQ(destroyed, 4);
}

// A graph gives the same bits on one thread as on two: parallel branches of
// different geometries, each fanning the stream out to an adder of eight
// weighted inputs that shares the frames of a large block out.
TEST(CompositeThreaded, BranchesAndAddersAreBitIdenticalOnOneAndTwoThreads)
{
    std::vector<FanOut::Line> eight;
    double weights[8];
    double slope = 0; // Σ wᵢ · gᵢ
    for (int i = 0; i < 8; ++i) {
        eight.push_back({ 1.0 / (i + 3), 0.1 * i });
        weights[i] = 0.3 + 0.7 / (i + 1);
        slope += weights[i] * eight.back().gain;
    }
    const std::vector<double> in = stereoNoise(200000, 2);
    std::vector<std::vector<double>> outputs;
    for (int threads : { 1, 2 })
        runWithDeadline(
            [&] {
                // The thread count dies with the thread runWithDeadline starts.
                omp_set_num_threads(threads);
                AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite);
                auto* parallel = new SoundAlgoComposite;
                for (int b = 0; b < 2; ++b) {
                    if (b > 0)
                        parallel->addNewBranch();
                    parallel->pushAlgo(new GeometryCopy(geometry(b ? 0 : 64, b ? 5 : 0, 0), b ? 0.3 : -1.7));
                    parallel->pushAlgo(new FanOut(eight));
                    parallel->pushAlgo(new SoundAlgoAdd(8, true, weights));
                }
                graph->pushAlgo(parallel);
                graph->pushAlgo(new SoundAlgoSub);
                outputs.push_back(runThrough(*graph, in, 65536, kRate, true));
            },
            60);
    ASSERT_EQ(outputs.size(), 2u);
    ASSERT_GE(outputs[0].size(), in.size() + 10);
    EXPECT_TRUE(outputs[0] == outputs[1]);
    // Aligned on the later branch, the offsets cancel: (−1.7 − 0.3) · slope · x(t − 5).
    double worst = 0;
    for (size_t i = 0; i < in.size() + 10; ++i)
        worst = std::max(worst, std::fabs(outputs[0][i] + 2.0 * slope * (i < 10 ? 0.0 : in[i - 10])));
    EXPECT_LT(worst, 1e-12);
}
