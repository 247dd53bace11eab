// The block loop's core promise: whatever the geometry of an algorithm and
// the size of the blocks, every frame of the source comes out once, in place.
#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundAlgo.h"

#include <gtest/gtest.h>

#include <sstream>

using testsupport::CapturingWriter;
using testsupport::GeneratorReader;
using testsupport::rampValue;

namespace {

struct Geometry {
    unsigned int inOverlap = 0;
    unsigned int delay = 0;
    unsigned int outOverlap = 0;
    unsigned int sampleShift = 0;
};

// Copies its input to its output, late by its delay: out(j) = in(j − delay).
// The first `outOverlap` frames of each output block were produced by the
// block before, so only the frames after them are computed.
class CopyAlgo : public SoundAlgo {
public:
    explicit CopyAlgo(Geometry g)
        : mGeometry(g)
    {
    }
    SoundTools::Status process() override
    {
        auto in = getInBuffer(0);
        auto out = getOutBuffer(0);
        const int first = getOutOrigin() + static_cast<int>(mGeometry.outOverlap);
        const int end = getOutOrigin() + static_cast<int>(getOutFrameNb());
        for (int j = first; j < end; ++j) {
            const double* source = in->getFrame(j - static_cast<int>(mGeometry.delay));
            double* target = out->getFrame(j);
            if (!source || !target || j - static_cast<int>(mGeometry.delay) > in->getEnd())
                return SoundTools::Error;
            target[0] = source[0];
            target[1] = source[1];
        }
        return SoundTools::Ok;
    }
    unsigned int inputCapacity() const { return getInBuffer(0)->getFrameNBAllocated(); }
    unsigned int outputCapacity() const { return getOutBuffer(0)->getFrameNBAllocated(); }

protected:
    unsigned int getInOverlap(unsigned int) const override { return mGeometry.inOverlap; }
    unsigned int getDelay(unsigned int) const override { return mGeometry.delay; }
    unsigned int getOutOverlap(unsigned int) const override { return mGeometry.outOverlap; }
    unsigned int getSampleShift(unsigned int) const override { return mGeometry.sampleShift; }

private:
    Geometry mGeometry;
};

struct Released {
    void operator()(SoundAlgo* algo) const { algo->release(); }
};
using AlgoPtr = std::unique_ptr<CopyAlgo, Released>;

class DefaultSizeGuard {
public:
    explicit DefaultSizeGuard(unsigned int size)
        : mSaved(SoundBuffer::getDefaultSize())
    {
        SoundBuffer::setDefaultSize(size);
    }
    ~DefaultSizeGuard() { SoundBuffer::setDefaultSize(mSaved); }

private:
    unsigned int mSaved;
};

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
bool checkConservation(const Geometry& g, unsigned int block, unsigned int frames, int start)
{
    DefaultSizeGuard size(block);
    const std::string where = describe(g, block, frames, start);
    GeneratorReader reader(frames + static_cast<unsigned int>(start));
    reader.seek(start);
    CapturingWriter writer;
    AlgoPtr algo(new CopyAlgo(g));

    SoundAlgo::LoopContext context;
    if (algo->initProcessLoop(reader, context) != SoundTools::Ok) {
        ADD_FAILURE() << "init failed: " << where;
        return false;
    }
    const unsigned int inCapacity = algo->inputCapacity();
    const unsigned int outCapacity = algo->outputCapacity();
    SoundTools::Status status;
    int blocks = 0;
    while ((status = algo->singleProcessLoop(reader, context, &writer)) == SoundTools::Ok) {
        // Constant memory: a block in the middle of the stream never grows a
        // buffer (the zero padding of the very end may).
        if (!reader.atEnd() && (algo->inputCapacity() != inCapacity || algo->outputCapacity() != outCapacity)) {
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
            if (writer.at(i, c) != want) {
                ADD_FAILURE() << "frame " << i << " channel " << c << " is " << writer.at(i, c) << ", expected "
                              << want << ": " << where;
                return false;
            }
        }
    }
    // The silence after the stream is only what the flush pushed through.
    const size_t extra = writer.frames() - expected;
    if (extra > size_t(g.sampleShift) + g.inOverlap + g.delay) {
        ADD_FAILURE() << extra << " extra frames written: " << where;
        return false;
    }
    return true;
}

// The flush at the end must push the output overlap out.
unsigned int sufficientShift(const Geometry& g)
{
    return std::max(g.outOverlap, g.inOverlap);
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
                                Geometry g { in, delay, out, 0 };
                                g.sampleShift = sufficientShift(g) + extraShift;
                                if (g.sampleShift == 0)
                                    continue; // a pure copy: covered by the test below
                                ++configurations;
                                if (!checkConservation(g, block, frames, start))
                                    return;
                            }
    RecordProperty("configurations", configurations);
}

TEST(ProcessLoop, WithoutGeometryTheOutputIsExactlyTheStream)
{
    for (unsigned int block : { 1u, 3u, 1024u })
        for (unsigned int frames : { 0u, 1u, 1023u, 1024u, 1025u, 4096u }) {
            DefaultSizeGuard size(block);
            GeneratorReader reader(frames);
            CapturingWriter writer;
            AlgoPtr algo(new CopyAlgo(Geometry {}));
            ASSERT_EQ(algo->processAll(reader, &writer), SoundTools::Ok);
            ASSERT_EQ(writer.frames(), frames) << "block " << block;
            for (size_t i = 0; i < frames; ++i)
                ASSERT_EQ(writer.at(i, 1), rampValue(int(i), 1));
        }
}
