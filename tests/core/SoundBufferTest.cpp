#include "tests/support/Common.h"
#include "tulv/core/SoundBuffer.h"

#include <gtest/gtest.h>


namespace {

// A stereo buffer of `frames` frames at origin `origin`, frame i holding (i, −i).
std::shared_ptr<SoundBuffer> numbered(unsigned int frames, int origin = 0)
{
    auto buffer = SoundBuffer::createNew(48000);
    buffer->alloc(frames, 2, 1, 1);
    buffer->setFrameNB(frames);
    buffer->setOrigin(origin);
    for (unsigned int i = 0; i < frames; ++i) {
        buffer->getRelFrame(int(i))[0] = origin + int(i);
        buffer->getRelFrame(int(i))[1] = -(origin + int(i));
    }
    return buffer;
}

} // namespace

TEST(SoundBufferWindow, KeepMarginRotateAndTheInitialDelay)
{
    auto buffer = numbered(10, 100);
    EXPECT_EQ(buffer->keepMargin(3), 3u);
    EXPECT_EQ(buffer->getOrigin(), 107);
    EXPECT_EQ(buffer->getFrameNB(), 10u) << "the caller sets the count afterwards";
    for (int i = 107; i < 110; ++i)
        EXPECT_EQ(buffer->getFrame(i)[0], i);

    // The delay's zeros fill the first window only.
    auto delayed = numbered(16, 0);
    delayed->setInitialDelay(5);
    EXPECT_EQ(delayed->getOrigin(), -5);
    EXPECT_EQ(delayed->getFrameNB(), 0u);
    EXPECT_EQ(delayed->keepMargin(3), 5u);
    EXPECT_EQ(delayed->getOrigin(), -5);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(delayed->getRelFrame(i)[0], 0.0) << "frame " << i;
    EXPECT_EQ(delayed->getRelFrame(8)[0], 8.0) << "only margin + delay frames are cleared";
    EXPECT_EQ(delayed->keepMargin(3), 0u) << "a later empty window must not bring the silence back";

    // rotate advances by at most the valid frames.
    for (int step : { 0, 2, 50 }) {
        auto rotated = numbered(6, 0);
        rotated->rotate(step);
        EXPECT_EQ(rotated->getOrigin(), std::min(step, 6));
        EXPECT_TRUE(step >= 6 || rotated->getFrame(5)[1] == -5) << "step " << step;
    }
}

TEST(SoundBufferStorage, GrowingShrinkingArithmeticAndAccess)
{
    auto cleared = numbered(4, 0);
    cleared->setFrameNB(8);
    EXPECT_EQ(cleared->getFrameNBAllocated(), 8u);
    EXPECT_EQ(cleared->getFrame(3)[0], 0.0) << "growing through setFrameNB clears";

    auto shrunk = numbered(8, 0);
    shrunk->alloc(4, 2, 1, 1);
    EXPECT_EQ(shrunk->getFrameNB(), 0u);
    EXPECT_EQ(shrunk->getRelFrame(2)[0], 2.0) << "a smaller shape keeps the values";

    auto arithmetic = numbered(3, 0);
    arithmetic->normBuffer(1.0, 0.5); // (x + 1) / 2
    EXPECT_EQ(arithmetic->getFrame(2)[1], -0.5);
    arithmetic->mulBuffer(4.0);
    arithmetic->addBuffer(-1.0);
    EXPECT_EQ(arithmetic->getFrame(0)[0], 1.0);
    EXPECT_EQ(arithmetic->getFrame(2)[0], 5.0);

    // Out of range: reported, and null.
    auto buffer = numbered(4, 10);
    testsupport::DebugCapture quiet;
    EXPECT_EQ(buffer->getFrame(9), nullptr);
    EXPECT_EQ(buffer->getStereoFrame(9), nullptr);
    EXPECT_EQ(buffer->getRelFrame(-1), nullptr);
    EXPECT_EQ(buffer->getStereoFrame(11)->right, -11.0);
    EXPECT_EQ(buffer->getFrameNB(12), 2);
    buffer->setStartOffset(14);
    EXPECT_FALSE(buffer->hasValidFrames()) << "no valid frame at or after the start point";
}
