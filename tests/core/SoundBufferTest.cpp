#include "tulv/core/SoundBuffer.h"
#include "tulv/core/SoundDebuggableClass.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// Captures the diagnostic stream for the duration of a test.
class DiagnosticCapture {
public:
    DiagnosticCapture() { SoundDebuggableClass::setOStream(&mText); }
    ~DiagnosticCapture() { SoundDebuggableClass::setOStream(&std::cout); }
    std::string text() const { return mText.str(); }

private:
    std::ostringstream mText;
};

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

TEST(SoundBufferWindow, KeepMarginSlidesOriginAndMovesTheTail)
{
    auto buffer = numbered(10, 100);
    EXPECT_EQ(buffer->keepMargin(3), 3u);
    EXPECT_EQ(buffer->getOrigin(), 107);
    EXPECT_EQ(buffer->getFrameNB(), 10u) << "the caller sets the count afterwards";
    for (int i = 107; i < 110; ++i)
        EXPECT_EQ(buffer->getFrame(i)[0], i);
}

TEST(SoundBufferWindow, KeepMarginOfTheWholeWindowMovesNothing)
{
    auto buffer = numbered(4, 20);
    EXPECT_EQ(buffer->keepMargin(4), 0u);
    EXPECT_EQ(buffer->keepMargin(9), 0u);
    EXPECT_EQ(buffer->getOrigin(), 20);
    EXPECT_EQ(buffer->getFrame(20)[0], 20);
}

TEST(SoundBufferWindow, InitialDelayZeroesTheFirstFillOnce)
{
    auto buffer = numbered(16, 0);
    buffer->setInitialDelay(5);
    EXPECT_EQ(buffer->getOrigin(), -5);
    EXPECT_EQ(buffer->getFrameNB(), 0u);
    EXPECT_EQ(buffer->keepMargin(3), 5u);
    EXPECT_EQ(buffer->getOrigin(), -5);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(buffer->getRelFrame(i)[0], 0.0) << "frame " << i;
    EXPECT_EQ(buffer->getRelFrame(8)[0], 8.0) << "only margin + delay frames are cleared";
    // A later empty window must not bring the silence back.
    EXPECT_EQ(buffer->keepMargin(3), 0u);
}

TEST(SoundBufferWindow, RotateAdvancesByAtMostTheValidFrames)
{
    auto buffer = numbered(6, 0);
    buffer->rotate(2);
    EXPECT_EQ(buffer->getOrigin(), 2);
    EXPECT_EQ(buffer->getFrame(2)[0], 2);
    EXPECT_EQ(buffer->getFrame(5)[1], -5);

    auto whole = numbered(6, 0);
    whole->rotate(50);
    EXPECT_EQ(whole->getOrigin(), 6);

    auto none = numbered(6, 0);
    none->rotate(0);
    EXPECT_EQ(none->getOrigin(), 0);
    EXPECT_EQ(none->getFrame(3)[0], 3);
}

TEST(SoundBufferStorage, GrowingThroughSetFrameNBClearsButAppendMarginKeeps)
{
    auto cleared = numbered(4, 0);
    cleared->setFrameNB(8);
    EXPECT_EQ(cleared->getFrameNBAllocated(), 8u);
    EXPECT_EQ(cleared->getFrame(3)[0], 0.0);

    auto kept = numbered(4, 0);
    kept->appendMargin(5);
    EXPECT_EQ(kept->getFrameNB(), 9u);
    EXPECT_EQ(kept->getFrameNBAllocated(), 9u);
    EXPECT_EQ(kept->getFrame(3)[0], 3.0);
    for (int i = 4; i < 9; ++i)
        EXPECT_EQ(kept->getFrame(i)[1], 0.0);
}

TEST(SoundBufferStorage, SmallerShapeKeepsStorageAndValues)
{
    auto buffer = numbered(8, 0);
    double* before = buffer->getRelFrame(0);
    buffer->alloc(4, 2, 1, 1);
    EXPECT_EQ(buffer->getRelFrame(0), before);
    EXPECT_EQ(buffer->getFrameNBAllocated(), 4u);
    EXPECT_EQ(buffer->getFrameNB(), 0u);
    EXPECT_EQ(buffer->getRelFrame(2)[0], 2.0);
}

TEST(SoundBufferStorage, AssignmentCopiesTheWindowButNotTheDelay)
{
    auto source = numbered(5, 40);
    source->setStartOffset(42);
    SoundBuffer copy(8000);
    copy = *source;
    EXPECT_EQ(copy.getOrigin(), 40);
    EXPECT_EQ(copy.getStartPoint(), 42);
    EXPECT_EQ(copy.getSampleRate(), 48000u);
    EXPECT_EQ(copy.getFrame(44)[1], -44);
    EXPECT_NE(copy.getFrame(44), source->getFrame(44));
}

TEST(SoundBufferArithmetic, CoversEveryChannelOfEveryValidFrame)
{
    auto buffer = numbered(3, 0);
    buffer->normBuffer(1.0, 0.5); // (x + 1) / 2
    EXPECT_EQ(buffer->getFrame(2)[0], 1.5);
    EXPECT_EQ(buffer->getFrame(2)[1], -0.5);
    buffer->mulBuffer(4.0);
    buffer->addBuffer(-1.0);
    EXPECT_EQ(buffer->getFrame(0)[0], 1.0);
    EXPECT_EQ(buffer->getFrame(1)[1], -1.0);
}

TEST(SoundBufferAccess, OutOfRangeReportsAndReturnsNull)
{
    DiagnosticCapture capture;
    auto buffer = numbered(4, 10);
    EXPECT_EQ(buffer->getFrame(9), nullptr);
    EXPECT_EQ(buffer->getStereoFrame(9), nullptr);
    EXPECT_EQ(buffer->getRelFrame(-1), nullptr);
    EXPECT_NE(capture.text().find("Frame 9 inferior to 10"), std::string::npos) << capture.text();
    EXPECT_NE(capture.text().find("Frame negative"), std::string::npos);
    EXPECT_EQ(buffer->getStereoFrame(11)->right, -11.0);
}

TEST(SoundBufferAccess, GeometryQueries)
{
    auto buffer = numbered(4, 10);
    EXPECT_EQ(buffer->getEnd(), 13);
    EXPECT_EQ(buffer->getFrameNB(12), 2);
    EXPECT_TRUE(buffer->isStereo());
    EXPECT_TRUE(buffer->hasValidFrames());
    buffer->setStartOffset(14);
    EXPECT_FALSE(buffer->hasValidFrames()) << "no valid frame at or after the start point";

    auto spectrum = SoundBuffer::createNew(48000);
    spectrum->alloc(4, 2, 2, 1);
    EXPECT_FALSE(spectrum->isStereo());
    EXPECT_EQ(spectrum->getFrameStride(), 4u);
}

TEST(SoundBufferDefaults, DefaultBlockSizeIgnoresZero)
{
    const unsigned int saved = SoundBuffer::getDefaultSize();
    EXPECT_EQ(saved, 1024u);
    SoundBuffer::setDefaultSize(0);
    EXPECT_EQ(SoundBuffer::getDefaultSize(), 1024u);
    SoundBuffer::setDefaultSize(256);
    EXPECT_EQ(SoundBuffer::getDefaultSize(), 256u);
    SoundBuffer::setDefaultSize(saved);
}
