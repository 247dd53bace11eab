// Start and end points, rewind, the end-of-stream padding of stereoRead,
// lengths as text, and the writer's range, on real files.
#include "tests/support/IoFiles.h"
#include "tests/support/MemoryIO.h"
#include "tulv/io/SoundReaderSndfile.h"
#include "tulv/io/SoundWriterSndfile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>

using namespace iotest;

namespace {

// A 64-bit float WAV holding the ramp of the test support: every frame's
// value names its index exactly.
QString rampFile(const QTemporaryDir& dir, unsigned int frames, unsigned int rate = 44100)
{
    Samples ramp(2 * size_t(frames));
    for (unsigned int i = 0; i < frames; ++i) {
        ramp[2 * i] = testsupport::rampValue(int(i), 0);
        ramp[2 * i + 1] = testsupport::rampValue(int(i), 1);
    }
    const QString name = dir.filePath(QStringLiteral("ramp%1.wav").arg(frames));
    EXPECT_TRUE(writeFile(name, ramp, rate, SoundTools::Float64));
    return name;
}

// Writes a WAV header for `frames` frames of 8-bit mono and extends the
// file sparsely: long files at no cost in disk space.
QString sparseWav(const QTemporaryDir& dir, const QString& base, quint32 frames, quint32 rate)
{
    QByteArray h("RIFF", 4);
    auto put32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            h.append(char((v >> (8 * i)) & 0xFF));
    };
    auto put16 = [&](quint16 v) {
        h.append(char(v & 0xFF));
        h.append(char(v >> 8));
    };
    put32(36 + frames + (frames & 1));
    h.append("WAVEfmt ", 8);
    put32(16);
    put16(1);
    put16(1);
    put32(rate);
    put32(rate);
    put16(1);
    put16(8);
    h.append("data", 4);
    put32(frames);
    const QString name = dir.filePath(base);
    QFile file(name);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(h);
    file.resize(44 + frames + (frames & 1));
    return name;
}

} // namespace

TEST(IoPoints, EndPointStopsAfterExactlyItsFrames)
{
    QTemporaryDir dir;
    const QString name = rampFile(dir, 100000);
    SoundReaderSndfile reader;
    ASSERT_EQ(reader.open(name), SoundTools::Ok);
    reader.setEndPoint(1.0);
    EXPECT_EQ(reader.getEndOffset(), 44100);
    auto buffer = SoundBuffer::createNew(44100);
    buffer->alloc(4096, 2, 1, 1);
    unsigned int total = 0;
    unsigned int last = 0;
    int calls = 0;
    while (!reader.atEnd() && calls < 100) {
        last = reader.stereoRead(buffer, 0);
        // Every frame is the one due at its absolute place.
        for (unsigned int i = 0; i < last; ++i)
            ASSERT_EQ(buffer->getRelFrame(int(i))[0], testsupport::rampValue(int(total + i), 0));
        total += last;
        ++calls;
    }
    EXPECT_EQ(total, 44100u);
    EXPECT_LT(last, 4096u);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(reader.stereoRead(buffer, 0), 0u);
}

TEST(IoPoints, StartPointAndRewind)
{
    QTemporaryDir dir;
    const QString name = rampFile(dir, 50000);
    SoundReaderSndfile reader;
    ASSERT_EQ(reader.open(name), SoundTools::Ok);
    EXPECT_EQ(reader.getOffset(), 0);
    reader.setStartPoint(0.5);
    EXPECT_EQ(reader.getStartOffset(), 22050);
    reader.rewind();
    EXPECT_EQ(reader.getOffset(), 22050);
    Samples tail = readAll(reader);
    ASSERT_EQ(tail.size(), 2 * size_t(50000 - 22050));
    EXPECT_EQ(tail[0], testsupport::rampValue(22050, 0));
    EXPECT_EQ(tail[1], testsupport::rampValue(22050, 1));
    // Read to the end, then rewind again: the same frames once more.
    reader.rewind();
    EXPECT_FALSE(reader.atEnd());
    EXPECT_EQ(readAll(reader), tail);
    // A start point at or past the end positions at frame 0.
    for (double seconds : {50000 / 44100.0, 5.0}) {
        reader.setStartPoint(seconds);
        reader.rewind();
        EXPECT_EQ(reader.getOffset(), 0);
        EXPECT_EQ(readAll(reader).size(), 2 * 50000u);
    }
}

TEST(IoPoints, ShortTailIsPaddedThroughTheMargin)
{
    // 1124 frames in blocks of 1024 with a margin of 300: the second read
    // finds 100 frames, fewer than the margin; it says so and pads zeros
    // so that the window holds twice the margin.
    QTemporaryDir dir;
    const QString name = rampFile(dir, 1124);
    SoundReaderSndfile reader;
    ASSERT_EQ(reader.open(name), SoundTools::Ok);
    auto buffer = SoundBuffer::createNew(44100);
    buffer->alloc(1024, 2, 1, 1);
    EXPECT_EQ(reader.stereoRead(buffer, 300), 1024u);
    EXPECT_FALSE(reader.atEnd());
    EXPECT_EQ(reader.stereoRead(buffer, 300), 100u);
    EXPECT_TRUE(reader.atEnd());
    ASSERT_EQ(buffer->getFrameNB(), 600u);
    EXPECT_EQ(buffer->getOrigin(), 1024 - 300);
    // The kept margin, the new frames, then the zeros.
    EXPECT_EQ(buffer->getFrame(724)[0], testsupport::rampValue(724, 0));
    EXPECT_EQ(buffer->getFrame(1123)[1], testsupport::rampValue(1123, 1));
    for (int i = 1124; i < 1324; ++i)
        ASSERT_EQ(buffer->getFrame(i)[0], 0.0) << i;
}

TEST(IoPoints, LengthAsText)
{
    QTemporaryDir dir;
    const QString empty = dir.filePath("empty.wav");
    ASSERT_TRUE(writeFile(empty, Samples(), 44100, SoundTools::Int16));
    SoundReaderSndfile reader;
    ASSERT_EQ(reader.open(empty), SoundTools::Ok);
    EXPECT_EQ(reader.getFrameNB(), 0u);
    EXPECT_EQ(reader.getLengthString(), "00:00:00.000");
    EXPECT_TRUE(readAll(reader).empty());

    ASSERT_EQ(reader.open(sparseWav(dir, "short.wav", 474000, 8000)), SoundTools::Ok);
    EXPECT_EQ(reader.getLengthString(), "00:00:59.250");
    ASSERT_EQ(reader.open(sparseWav(dir, "hour.wav", 29804000, 8000)), SoundTools::Ok);
    EXPECT_EQ(reader.getLengthString(), "01:02:05.500");
    EXPECT_DOUBLE_EQ(reader.getLength(), 3725.5);
}

namespace {

// Writes 400-frame ramp blocks at the given origins into a 64-bit float WAV
// and reads the file back.
Samples writeBlocks(const QString& name, std::initializer_list<int> origins, int rangeEnd)
{
    SoundWriterSndfile writer(44100, 2, SoundTools::Float64, SoundWriterSndfile::Wav);
    EXPECT_EQ(writer.open(name), SoundTools::Ok);
    writer.setRange(0, rangeEnd);
    auto block = SoundBuffer::createNew(44100);
    block->alloc(400, 2, 1, 1);
    for (int origin : origins) {
        block->setOrigin(origin);
        block->setFrameNB(400);
        for (int i = 0; i < 400; ++i) {
            block->getFrame(origin + i)[0] = testsupport::rampValue(origin + i, 0);
            block->getFrame(origin + i)[1] = testsupport::rampValue(origin + i, 1);
        }
        EXPECT_EQ(writer.writeBuffer(block, 0), SoundTools::Ok);
    }
    writer.close();
    Samples back;
    EXPECT_TRUE(readFile(name, back));
    return back;
}

} // namespace

TEST(IoPoints, WriterRangeOverlapsAndGaps)
{
    QTemporaryDir dir;
    // Overlapping blocks add only their new frames; nothing at or past
    // absolute frame 1000 is written.
    Samples back = writeBlocks(dir.filePath("range.wav"), {0, 300, 600, 900, 1300}, 1000);
    ASSERT_EQ(back.size(), 2 * 1000u);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(back[2 * i], testsupport::rampValue(i, 0)) << i;

    // A block after a gap follows the last frame written: no silence between.
    back = writeBlocks(dir.filePath("gap.wav"), {0, 5000}, INT_MAX);
    ASSERT_EQ(back.size(), 2 * 800u);
    EXPECT_EQ(back[2 * 399], testsupport::rampValue(399, 0));
    EXPECT_EQ(back[2 * 400], testsupport::rampValue(5000, 0));
    EXPECT_EQ(back[2 * 799 + 1], testsupport::rampValue(5399, 1));
}
