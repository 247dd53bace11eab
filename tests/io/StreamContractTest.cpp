// What the block loop relies on from every reader and writer, checked on the
// base classes with in-memory back ends.
#include "tests/support/MemoryIO.h"

#include <gtest/gtest.h>

using testsupport::CapturingWriter;
using testsupport::GeneratorReader;
using testsupport::rampValue;

namespace {

std::shared_ptr<SoundBuffer> stereoBlock(unsigned int capacity, unsigned int rate = 44100)
{
    auto buffer = SoundBuffer::createNew(rate);
    buffer->alloc(capacity, 2, 1, 1);
    return buffer;
}

// A block of `frames` frames at `origin` holding the ramp.
std::shared_ptr<SoundBuffer> rampBlock(int origin, unsigned int frames)
{
    auto buffer = stereoBlock(frames);
    buffer->setFrameNB(frames);
    buffer->setOrigin(origin);
    for (unsigned int i = 0; i < frames; ++i) {
        buffer->getRelFrame(int(i))[0] = rampValue(origin + int(i), 0);
        buffer->getRelFrame(int(i))[1] = rampValue(origin + int(i), 1);
    }
    return buffer;
}

} // namespace

TEST(StereoRead, EndPointDeliversExactlyUpToIt)
{
    GeneratorReader reader(100000);
    reader.setEndPoint(1.0);
    EXPECT_EQ(reader.getEndOffset(), 44100);
    auto buffer = stereoBlock(1024);
    unsigned int total = 0;
    unsigned int last = 0;
    while (!reader.atEnd()) {
        last = reader.stereoRead(buffer, 0);
        total += last;
    }
    EXPECT_EQ(total, 44100u);
    EXPECT_LT(last, 1024u);
    EXPECT_EQ(reader.stereoRead(buffer, 0), 0u);
    EXPECT_EQ(buffer->getFrameNB(), 0u) << "no stale frame is left counted at the end point";
}

TEST(StereoRead, KeepsTheMarginAndPadsTheEndWithSilence)
{
    GeneratorReader reader(1030);
    auto buffer = stereoBlock(1024 + 16);
    EXPECT_EQ(reader.stereoRead(buffer, 16), 1030u);
    EXPECT_EQ(buffer->getOrigin(), 0);
    EXPECT_TRUE(reader.atEnd());
    // The source is exhausted: the last 16 frames come back at the head,
    // followed by a margin of zero frames that flushes them through.
    EXPECT_EQ(reader.stereoRead(buffer, 16), 0u);
    EXPECT_EQ(buffer->getOrigin(), 1030 - 16);
    EXPECT_EQ(buffer->getFrameNB(), 32u);
    EXPECT_EQ(buffer->getFrame(1029)[1], rampValue(1029, 1));
    EXPECT_EQ(buffer->getFrame(1030)[0], 0.0);
    EXPECT_EQ(buffer->getFrame(1045)[1], 0.0);
}

TEST(StereoRead, ASourceShorterThanTheMarginIsKeptWhole)
{
    GeneratorReader reader(5);
    auto buffer = stereoBlock(2 * 300);
    EXPECT_EQ(reader.stereoRead(buffer, 300), 5u);
    EXPECT_EQ(reader.stereoRead(buffer, 300), 0u);
    EXPECT_EQ(buffer->getOrigin(), 0) << "the 5 frames are all overlap and stay in place";
    EXPECT_EQ(buffer->getFrame(4)[0], rampValue(4, 0));
    EXPECT_GE(buffer->getFrameNB(), 300u);
    EXPECT_EQ(buffer->getFrame(299)[0], 0.0);
}

TEST(StereoRead, TooSmallABufferIsRefusedWithoutMovingTheReader)
{
    GeneratorReader reader(100);
    auto buffer = stereoBlock(8);
    reader.stereoRead(buffer, 0);
    const int offset = reader.getOffset();
    EXPECT_EQ(reader.stereoRead(buffer, 8), 0u);
    EXPECT_EQ(reader.getOffset(), offset);
    EXPECT_FALSE(reader.atEnd());
}

TEST(WriteBuffer, SkipsWhatWasWrittenAndClosesGaps)
{
    CapturingWriter writer;
    ASSERT_EQ(writer.writeBuffer(rampBlock(0, 10), 0), SoundTools::Ok);
    // Overlapping the frames already written: only 10..14 are new.
    ASSERT_EQ(writer.writeBuffer(rampBlock(5, 10), 0), SoundTools::Ok);
    ASSERT_EQ(writer.frames(), 15u);
    EXPECT_EQ(writer.at(14, 0), rampValue(14, 0));
    // After a gap: written straight after the last frame, no silence inserted.
    ASSERT_EQ(writer.writeBuffer(rampBlock(100, 3), 0), SoundTools::Ok);
    ASSERT_EQ(writer.frames(), 18u);
    EXPECT_EQ(writer.at(15, 1), rampValue(100, 1));
}

TEST(WriteBuffer, HoldsBackTheTailAndHonoursTheRange)
{
    CapturingWriter writer;
    writer.setRange(0, 1000);
    for (int origin = 0; origin < 3000; origin += 256)
        ASSERT_EQ(writer.writeBuffer(rampBlock(origin, 300), 44), SoundTools::Ok);
    ASSERT_EQ(writer.frames(), 1000u);
    for (size_t i = 0; i < writer.frames(); ++i)
        ASSERT_EQ(writer.at(i, 0), rampValue(int(i), 0));
}

TEST(WriteBuffer, StartsAtTheBuffersStartPoint)
{
    CapturingWriter writer;
    auto block = rampBlock(-8, 20);
    block->setStartOffset(0);
    ASSERT_EQ(writer.writeBuffer(block, 2), SoundTools::Ok);
    ASSERT_EQ(writer.frames(), 10u);
    EXPECT_EQ(writer.at(0, 0), rampValue(0, 0));
}

TEST(WriteBuffer, RefusesWhatItCannotWrite)
{
    CapturingWriter writer(44100);
    auto otherRate = stereoBlock(4, 48000);
    otherRate->setFrameNB(4);
    EXPECT_EQ(writer.writeBuffer(otherRate, 0), SoundTools::Error);
    EXPECT_EQ(SoundDebuggableClass::getError(), "SoundWriter::WriteBuffer : Samplerate conversion not implemented");

    CapturingWriter mono(44100, 1);
    EXPECT_EQ(mono.writeBuffer(rampBlock(0, 4), 0), SoundTools::Error);
    EXPECT_EQ(SoundDebuggableClass::getError(), "SoundWriter::WriteBuffer : Incorrect number of channels");
    EXPECT_EQ(mono.frames(), 0u);

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
}

TEST(FileNames, ExtensionRule)
{
    EXPECT_TRUE(SoundReader::isRecognized("side.FLAC"));
    EXPECT_TRUE(SoundReader::isRecognized("C:\\music\\a.b\\track.Mp3"));
    EXPECT_TRUE(SoundReader::isRecognized("/x/y.ogg"));
    EXPECT_FALSE(SoundReader::isRecognized("/x.wav/track"));
    EXPECT_FALSE(SoundReader::isRecognized("D:\\dir.mp3\\noext"));
    EXPECT_FALSE(SoundReader::isRecognized(""));
    EXPECT_FALSE(SoundReader::isRecognized("track.aiff"));
    EXPECT_EQ(SoundReader::getExtension("c:name.WAV"), "wav");
}
