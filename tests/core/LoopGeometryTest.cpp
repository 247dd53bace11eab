// The block loop's core promise: whatever the geometry of an algorithm and
// the size of the blocks, every frame of the source comes out once, in place.
#include "tests/support/GraphAlgos.h"
#include "tulv/spectral/SoundAlgoFFT.h"
#include "tulv/spectral/SoundAlgoFFTStats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

using namespace testsupport;

namespace {

std::string describe(const Geometry& g, unsigned int block, unsigned int frames, int start)
{
    std::ostringstream text;
    text << "in overlap " << g.inOverlap << ", delay " << g.delay << ", out overlap " << g.outOverlap
         << ", sample shift " << g.sampleShift << ", block " << block << ", stream " << frames << ", start "
         << start;
    return text.str();
}

// Runs one configuration and checks the written stream against the source
// delayed by the algorithm. Returns false (with a failure recorded) on the
// first mismatch so that a broken grid does not print thousands of lines.
// `make` builds the algorithm of geometry `g` (a GeometryCopy by default);
// `tolerance` allows the rounding of a transform round trip.
bool checkConservation(const Geometry& g, unsigned int block, unsigned int frames, int start,
                       const std::function<SoundAlgo*()>& make = {}, double tolerance = 0.0)
{
    DefaultBlockSize size(block);
    const std::string where = describe(g, block, frames, start);
    GeneratorReader reader(frames + static_cast<unsigned int>(start));
    reader.seek(start);
    CapturingWriter writer;
    AlgoRef<SoundAlgo> algo(make ? make() : new GeometryCopy(g));

    SoundAlgo::LoopContext context;
    if (algo->initProcessLoop(reader, context) != SoundTools::Ok) {
        ADD_FAILURE() << "init failed: " << where;
        return false;
    }
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
        if (!reader.atEnd() && capacities() != initial) {
            ADD_FAILURE() << "buffers grew in block " << blocks << ": " << where;
            return false;
        }
        if (++blocks > int(frames) + 10) {
            ADD_FAILURE() << "loop does not end: " << where;
            return false;
        }
    }
    algo->endProcessLoop(context);
    if (status != SoundTools::EndOfStream || context.status != SoundTools::Ok) {
        ADD_FAILURE() << "run ended with " << status << "/" << context.status << ": " << where;
        return false;
    }

    // The expected output: `delay` zero frames, then the source, then silence.
    const size_t expected = size_t(frames) + g.delay;
    if (writer.frames() < expected) {
        ADD_FAILURE() << "lost " << expected - writer.frames() << " frames at the tail: " << where;
        return false;
    }
    for (size_t i = 0; i < writer.frames(); ++i) {
        for (unsigned int c = 0; c < 2; ++c) {
            const long long source = (long long)i - g.delay;
            const double want = source >= 0 && source < frames ? rampValue(int(source) + start, int(c)) : 0.0;
            if (!(std::abs(writer.at(i, c) - want) <= tolerance)) {
                ADD_FAILURE() << "frame " << i << " channel " << c << " is " << writer.at(i, c) << ", expected "
                              << want << ": " << where;
                return false;
            }
        }
    }
    // The silence after the stream is only what the flush pushed through
    // (none at all for a pure copy).
    const size_t extra = writer.frames() - expected;
    if (extra > size_t(g.sampleShift) + g.inOverlap + g.delay) {
        ADD_FAILURE() << extra << " extra frames written: " << where;
        return false;
    }
    return true;
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
                            SCOPED_TRACE(testing::Message() << "transform " << n << (overlap ? " overlap" : "")
                                                            << (around == 1 ? " with statistics" : "")
                                                            << (around == 2 ? " then a look-ahead" : "")
                                                            << (around == 3 ? " with nested statistics" : ""));
                            ++configurations;
                            if (!checkConservation(g, block, frames, start, make, 1e-9))
                                return;
                        }
    RecordProperty("configurations", configurations);
}
