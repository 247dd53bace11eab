// The block loop's core promise: whatever the geometry of an algorithm and
// the size of the blocks, every frame of the source comes out once, in place.
#include "tests/support/GraphAlgos.h"
#include "tulv/spectral/SoundAlgoFFT.h"
#include "tulv/spectral/SoundAlgoFFTStats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace testsupport;

namespace {

// Runs one configuration and checks the written stream against the source
// delayed by the algorithm. Returns false (with a failure recorded) on the
// first mismatch so that a broken grid does not print thousands of lines.
// `make` builds the algorithm of geometry `g` (a GeometryCopy by default);
// `tolerance` allows the rounding of a transform round trip.
bool checkConservation(const Geometry& g, unsigned int block, unsigned int frames, int start,
                       const std::function<SoundAlgo*()>& make = {}, double tolerance = 0.0)
{
    DefaultBlockSize size(block);
    const auto fail = [&](const std::string& what) {
        ADD_FAILURE() << what << ": in overlap " << g.inOverlap << ", delay " << g.delay << ", out overlap "
                      << g.outOverlap << ", sample shift " << g.sampleShift << ", block " << block << ", stream "
                      << frames << ", start " << start;
        return false;
    };
    GeneratorReader reader(frames + static_cast<unsigned int>(start));
    reader.seek(start);
    CapturingWriter writer;
    AlgoRef<SoundAlgo> algo(make ? make() : new GeometryCopy(g));

    SoundAlgo::LoopContext context;
    if (algo->initProcessLoop(reader, context) != SoundTools::Ok)
        return fail("init failed");
    auto capacities = [&algo] {
        return std::make_pair(algo->getInBuffer(0)->getFrameNBAllocated(),
                              algo->getOutBuffer(0)->getFrameNBAllocated());
    };
    const auto initial = capacities();
    SoundTools::Status status;
    int blocks = 0;
    while ((status = algo->singleProcessLoop(reader, context, &writer)) == SoundTools::Ok) {
        // Constant memory: a block in the middle of the stream never grows a
        // buffer (the zero padding of the very end may).
        if (!reader.atEnd() && capacities() != initial)
            return fail("buffers grew in block " + std::to_string(blocks));
        if (++blocks > int(frames) + 10)
            return fail("loop does not end");
    }
    algo->endProcessLoop(context);
    if (status != SoundTools::EndOfStream || context.status != SoundTools::Ok)
        return fail("run ended with " + std::to_string(status) + "/" + std::to_string(context.status));

    // The expected output: `delay` zero frames, then the source, then silence.
    const size_t expected = size_t(frames) + g.delay;
    if (writer.frames() < expected)
        return fail("lost " + std::to_string(expected - writer.frames()) + " frames at the tail");
    for (size_t i = 0; i < 2 * writer.frames(); ++i) {
        const long long source = (long long)i / 2 - g.delay;
        const double want = source >= 0 && source < frames ? rampValue(int(source) + start, int(i % 2)) : 0.0;
        if (!(std::abs(writer.at(i / 2, i % 2) - want) <= tolerance))
            return fail("sample " + std::to_string(i) + " is " + std::to_string(writer.at(i / 2, i % 2)));
    }
    // The silence after the stream is only what the flush pushed through
    // (none at all for a pure copy).
    const size_t extra = writer.frames() - expected;
    return extra <= size_t(g.sampleShift) + g.inOverlap + g.delay || fail(std::to_string(extra) + " extra frames");
}

} // namespace

TEST(ProcessLoop, EveryFrameComesOutOnceInPlaceOverTheGeometryGrid)
{
    const unsigned int overlaps[] = { 0, 1, 7, 300 };
    const unsigned int delays[] = { 0, 1, 5, 300, 1500 };
    const unsigned int blocks[] = { 1, 7, 64, 1024 };
    const unsigned int lengths[] = { 0, 1, 5, 63, 64, 65, 299, 1000, 5000 };
    const int starts[] = { 0, 13 };
    int configurations = 0;
    for (unsigned int in : overlaps)
        for (unsigned int delay : delays)
            for (unsigned int out : overlaps)
                for (unsigned int extraShift : { 0u, 1u, 100u })
                    for (unsigned int block : blocks)
                        for (unsigned int frames : lengths)
                            for (int start : starts) {
                                // The flush at the end must push the overlaps out.
                                const Geometry g { in, delay, out, std::max(out, in) + extraShift };
                                if (g.sampleShift == 0 && delay > 0)
                                    continue; // nothing would flush the delayed tail
                                ++configurations;
                                if (!checkConservation(g, block, frames, start))
                                    return;
                            }

    // Spectral chains keep whole transform blocks back whatever the loop's
    // block: direct + inverse (every block mode, a transparent spectral
    // algorithm between, alone or in a composite, or not) is a copy with one
    // hop of input overlap; an
    // algorithm after it that looks ahead finds its context there.
    for (unsigned int n : { 16u, 64u })
        for (bool overlap : { false, true })
            for (int around : { 0, 1, 2, 3 })
                for (unsigned int block : blocks)
                    for (unsigned int frames : lengths)
                        for (int start : starts) {
                            auto make = [n, overlap, around]() -> SoundAlgo* {
                                auto* chain = new SoundAlgoComposite();
                                chain->pushAlgo(new SoundAlgoFFTDirectCompute(n, overlap, false));
                                if (around == 1)
                                    chain->pushAlgo(new SoundAlgoFFTStats());
                                if (around == 3) {
                                    auto* nested = new SoundAlgoComposite();
                                    nested->pushAlgo(new SoundAlgoFFTStats());
                                    chain->pushAlgo(nested);
                                }
                                chain->pushAlgo(new SoundAlgoFFTInverseCompute());
                                if (around == 2)
                                    chain->pushAlgo(new GeometryCopy({ 7, 0, 0, 7 }));
                                return chain;
                            };
                            const Geometry g { overlap ? n / 2 : n, 0, 0, n + 7 };
                            // Around: 1 statistics, 2 a look-ahead after, 3 statistics nested.
                            SCOPED_TRACE(testing::Message() << "transform " << n << " overlap " << overlap
                                                            << " around " << around);
                            ++configurations;
                            if (!checkConservation(g, block, frames, start, make, 1e-9))
                                return;
                        }
    RecordProperty("configurations", configurations);
}
