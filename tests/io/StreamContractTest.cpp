// What the block loop relies on from every reader and writer, checked on the
// base classes with in-memory back ends.
#include "tests/support/MemoryIO.h"

#include <gtest/gtest.h>

#include <cmath>

using testsupport::CapturingWriter;
using testsupport::GeneratorReader;
using testsupport::rampBlock;
using testsupport::rampValue;

TEST(StereoRead, KeepsTheMarginPadsTheEndWithSilenceAndRefusesTooSmallABuffer)
{
    // At the real end of the source the kept margin is followed by at least
    // a margin of zeros that flushes it through; a source shorter than the
    // margin stays whole in place.
    struct Case {
        unsigned int source, capacity, margin;
        std::vector<unsigned int> reads; // what each stereoRead returns
        int origin;                      // of the last window
        unsigned int minFrames;          // in the last window
    };
    const Case cases[] = {
        { 1030, 1040, 16, { 1030, 0 }, 1030 - 16, 32 },
        { 1124, 1024, 300, { 1024, 100 }, 1024 - 300, 600 }, // a tail shorter than the margin
        { 5, 600, 300, { 5, 0 }, 0, 300 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("source " + std::to_string(c.source) + ", margin " + std::to_string(c.margin));
        GeneratorReader reader(c.source);
        auto buffer = SoundBuffer::createNew(44100);
        buffer->alloc(c.capacity, 2, 1, 1);
        for (unsigned int expected : c.reads)
            EXPECT_EQ(reader.stereoRead(buffer, c.margin), expected);
        EXPECT_TRUE(reader.atEnd());
        EXPECT_EQ(buffer->getOrigin(), c.origin);
        if (c.source > c.margin) {
            EXPECT_EQ(buffer->getFrameNB(), c.minFrames);
        } else {
            EXPECT_GE(buffer->getFrameNB(), c.minFrames);
        }
        for (int i = c.origin; i <= buffer->getEnd(); ++i)
            ASSERT_EQ(buffer->getFrame(i)[1], i < int(c.source) ? rampValue(i, 1) : 0.0) << "frame " << i;
    }
    // A buffer too small for its margin is refused without moving the reader.
    GeneratorReader reader(100);
    auto buffer = SoundBuffer::createNew(44100);
    buffer->alloc(8, 2, 1, 1);
    reader.stereoRead(buffer, 0);
    const int offset = reader.getOffset();
    EXPECT_EQ(reader.stereoRead(buffer, 8), 0u);
    EXPECT_EQ(reader.getOffset(), offset);
    EXPECT_FALSE(reader.atEnd());
}

TEST(WriteBuffer, TrimsHoldsBackClosesGapsAndHonoursTheRange)
{
    CapturingWriter writer;
    ASSERT_EQ(writer.writeBuffer(rampBlock(0, 10), 0), SoundTools::Ok);
    // Overlapping the frames already written: only 10..14 are new. After a
    // gap: written straight after the last frame, no silence inserted.
    ASSERT_EQ(writer.writeBuffer(rampBlock(5, 10), 0), SoundTools::Ok);
    ASSERT_EQ(writer.writeBuffer(rampBlock(100, 3), 0), SoundTools::Ok);
    ASSERT_EQ(writer.frames(), 18u);
    EXPECT_EQ(writer.at(14, 0), rampValue(14, 0));
    EXPECT_EQ(writer.at(15, 1), rampValue(100, 1));

    // Blocks overlapping by their held-back tail, within a range.
    CapturingWriter ranged;
    ranged.setRange(0, 1000);
    for (int origin = 0; origin < 3000; origin += 256)
        ASSERT_EQ(ranged.writeBuffer(rampBlock(origin, 300), 44), SoundTools::Ok);
    ASSERT_EQ(ranged.frames(), 1000u);
    for (size_t i = 0; i < ranged.frames(); ++i)
        ASSERT_EQ(ranged.at(i, 0), rampValue(int(i), 0));

    // Writing starts at the buffer's start point.
    CapturingWriter started;
    auto block = rampBlock(-8, 20);
    block->setStartOffset(0);
    ASSERT_EQ(started.writeBuffer(block, 2), SoundTools::Ok);
    ASSERT_EQ(started.frames(), 10u);
    EXPECT_EQ(started.at(0, 0), rampValue(0, 0));
}

TEST(WriteBuffer, RefusesWhatItCannotWrite)
{
    CapturingWriter writer(44100);
    EXPECT_EQ(writer.writeBuffer(rampBlock(0, 4, 48000), 0), SoundTools::Error);
    EXPECT_EQ(SoundDebuggableClass::getError(), "SoundWriter::WriteBuffer : Samplerate conversion not implemented");

    CapturingWriter wide(44100, 3);
    EXPECT_EQ(wide.writeBuffer(rampBlock(0, 4), 0), SoundTools::Error);
    EXPECT_EQ(SoundDebuggableClass::getError(), "SoundWriter::WriteBuffer : Incorrect number of channels");
    EXPECT_EQ(wide.frames(), 0u);

    // A mono output takes the mean of the two sides: a mono source, read as
    // two equal sides, comes back exactly. A NaN or infinite sample becomes
    // silence, counted, with the first one's frame.
    CapturingWriter mono(44100, 1);
    auto block = rampBlock(0, 4);
    block->getRelFrame(2)[1] = std::nan("");
    block->getRelFrame(3)[0] = -INFINITY;
    ASSERT_EQ(mono.writeBuffer(block, 0), SoundTools::Ok);
    ASSERT_EQ(mono.frames(), 4u);
    EXPECT_EQ(mono.at(1, 0), (rampValue(1, 0) + rampValue(1, 1)) / 2);
    EXPECT_EQ(mono.at(2, 0), 0.0);
    EXPECT_EQ(mono.at(3, 0), 0.0);
    EXPECT_EQ(mono.getNonFiniteSamples(), 2);
    EXPECT_EQ(mono.getFirstNonFiniteFrame(), 2);

    // A mono block reaches a stereo output on both sides, frame by frame.
    CapturingWriter stereo;
    auto single = SoundBuffer::createNew(44100);
    single->alloc(3, 1, 1, 1);
    single->setFrameNB(3);
    for (int i = 0; i < 3; ++i)
        single->getRelFrame(i)[0] = i + 1.0;
    ASSERT_EQ(stereo.writeBuffer(single, 0), SoundTools::Ok);
    EXPECT_EQ(stereo.samples(), (std::vector<double> { 1, 1, 2, 2, 3, 3 }));

    CapturingWriter shortWrite;
    shortWrite.failAfter(3);
    EXPECT_EQ(shortWrite.writeBuffer(rampBlock(0, 4), 0), SoundTools::Error) << "a short write is a failure";
}

TEST(ReaderTimes, LengthStringAndPointConversions)
{
    EXPECT_EQ(GeneratorReader(0).getLengthString(), "00:00:00.000");
    EXPECT_EQ(GeneratorReader(44100 * 3725 + 22050).getLengthString(), "01:02:05.500");
    EXPECT_EQ(GeneratorReader(4000 * 59 + 1000, 4000).getLengthString(), "00:00:59.250");
    GeneratorReader reader(1000, 8000);
    reader.setStartPoint(0.00006); // 0.48 frames: rounds down
    reader.setEndPoint(0.0000625); // 0.5 frames: rounds half up
    EXPECT_EQ(reader.getStartOffset(), 0);
    EXPECT_EQ(reader.getEndOffset(), 1);
    reader.setStartPoint(0.0000625);
    EXPECT_EQ(reader.getStartOffset(), 1);
}
