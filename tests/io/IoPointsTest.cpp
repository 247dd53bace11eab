// Start and end points and rewind on real files.
#include "tests/support/IoFiles.h"
#include "tests/support/MemoryIO.h"
#include "tulv/io/SoundReaderSndfile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace iotest;
using testsupport::rampValue;

namespace {

// A 64-bit float WAV holding the ramp of the test support: every frame's
// value names its index exactly.
QString rampFile(const QTemporaryDir& dir, unsigned int frames)
{
    Samples ramp(2 * size_t(frames));
    for (unsigned int i = 0; i < 2 * frames; ++i)
        ramp[i] = rampValue(int(i / 2), int(i % 2));
    const QString name = dir.filePath(QStringLiteral("ramp%1.wav").arg(frames));
    EXPECT_TRUE(writeFile(name, ramp, 44100, SoundTools::Float64));
    return name;
}

} // namespace

TEST(IoPoints, EndPointStopsAfterExactlyItsFrames)
{
    QTemporaryDir dir;
    SoundReaderSndfile reader;
    ASSERT_EQ(reader.open(rampFile(dir, 100000)), SoundTools::Ok);
    reader.setEndPoint(1.0);
    EXPECT_EQ(reader.getEndOffset(), 44100);
    auto buffer = SoundBuffer::createNew(44100);
    buffer->alloc(4096, 2, 1, 1);
    unsigned int total = 0;
    unsigned int last = 0;
    for (int calls = 0; !reader.atEnd() && calls < 100; ++calls) {
        last = reader.stereoRead(buffer, 0);
        // Every frame is the one due at its absolute place.
        for (unsigned int i = 0; i < last; ++i)
            ASSERT_EQ(buffer->getRelFrame(int(i))[0], rampValue(int(total + i), 0));
        total += last;
    }
    EXPECT_EQ(total, 44100u);
    EXPECT_LT(last, 4096u);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(reader.stereoRead(buffer, 0), 0u);
    EXPECT_EQ(buffer->getFrameNB(), 0u) << "no stale frame is left counted at the end point";
}

TEST(IoPoints, StartPointAndRewind)
{
    QTemporaryDir dir;
    SoundReaderSndfile reader;
    ASSERT_EQ(reader.open(rampFile(dir, 50000)), SoundTools::Ok);
    EXPECT_EQ(reader.getOffset(), 0);
    // A start point between frames goes to the nearest one, the same in
    // the reader's seek as in its offset arithmetic.
    Samples tail;
    for (const auto& c : { std::make_pair(0.5, 22050), std::make_pair(22050.4 / 44100, 22050),
                           std::make_pair(22050.6 / 44100, 22051) }) {
        SCOPED_TRACE(c.first);
        reader.setStartPoint(c.first);
        EXPECT_EQ(reader.getStartOffset(), c.second);
        reader.rewind();
        EXPECT_EQ(reader.getOffset(), c.second);
        tail = readAll(reader);
        ASSERT_EQ(tail.size(), 2 * size_t(50000 - c.second));
        EXPECT_EQ(tail[0], rampValue(c.second, 0));
        EXPECT_EQ(tail[1], rampValue(c.second, 1));
    }
    // Read to the end, then rewind again: the same frames once more.
    reader.rewind();
    EXPECT_FALSE(reader.atEnd());
    EXPECT_EQ(readAll(reader), tail);
    // A start point at or past the end positions at frame 0.
    for (double seconds : { 50000 / 44100.0, 5.0 }) {
        reader.setStartPoint(seconds);
        reader.rewind();
        EXPECT_EQ(reader.getOffset(), 0);
        EXPECT_EQ(readAll(reader).size(), 2 * 50000u);
    }
    // A file of no frames opens and reads nothing.
    const QString empty = dir.filePath("empty.wav");
    ASSERT_TRUE(writeFile(empty, Samples(), 44100, SoundTools::Int16));
    ASSERT_EQ(reader.open(empty), SoundTools::Ok);
    EXPECT_EQ(reader.getLengthString(), "00:00:00.000");
    EXPECT_TRUE(readAll(reader).empty());
}
