// Our writer and reader against each other and against sox: every format
// and sample format keeps the length exactly and the content within its
// precision; files from sox read correctly, and sox reads ours. Back ends
// chosen by file name; start and end points on real files.
#include "tests/support/IoFiles.h"
#include "tests/support/MemoryIO.h"
#include "tulv/io/SoundReaderMp3.h"
#include "tulv/io/SoundReaderSndfile.h"
#include "tulv/io/SoundWriterMp3.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

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


TEST(IoRoundTrip, EveryFormatKeepsLengthAndContentForUsAndForSox)
{
    // Lossless: half a step of each format's quantiser, doubled for
    // libsndfile's asymmetric scaling (32767 on writing, 32768 on reading).
    // Vorbis at its default quality: pure tones come back correlated better
    // than 0.999 and with the error 30 dB under the signal.
    // What the reader reports back is the sample format asked for, or the
    // nearest one the container holds.
    struct Case {
        const char* ext;
        SoundTools::SoundFormat format, reported;
        double tolerance; // largest error a sample may carry; < 0: lossy
    };
    using S = SoundTools::SoundFormat;
    const Case cases[] = {
        { "wav", S::Int8, S::Int8, 2.0 / 128 },
        { "wav", S::Int16, S::Int16, 2.0 / 32768 },
        { "wav", S::Int24, S::Int24, 2.0 / 8388608 },
        { "wav", S::Int32, S::Int32, 2.0 / 2147483648.0 },
        { "wav", S::Float32, S::Float32, 6e-8 },
        { "wav", S::Float64, S::Float64, 0.0 },
        { "flac", S::Int8, S::Int16, 2.0 / 32768 },
        { "flac", S::Int16, S::Int16, 2.0 / 32768 },
        { "flac", S::Int24, S::Int24, 2.0 / 8388608 },
        { "flac", S::Float32, S::Int24, 2.0 / 8388608 },
        { "raw", S::Int16, S::Float32, 6e-8 }, // always float
        { "ogg", S::Float64, S::Int16, -1 },
    };
    QTemporaryDir dir;
    // An odd length that is no multiple of any block size, and more than
    // two of the Ogg writer's 44100-frame chunks.
    const unsigned int frames = 123457;
    const Samples sound = sine(frames, 441, 0.5, 48000, 0.5, 1234.5);
    int i = 0;
    for (const Case& c : cases) {
        const QString name = dir.filePath(QStringLiteral("rt%1.%2").arg(i++).arg(c.ext));
        SCOPED_TRACE(name.toStdString() + " format " + std::to_string(c.format));
        ASSERT_TRUE(writeFile(name, sound, 48000, c.format));
        const bool raw = QString(c.ext) == "raw";
        // A raw file is sox's "f32" with the rate and channels given; an Ogg
        // carries no sample count in a header, so sox decodes them both.
        QString bySox = name;
        if (raw || c.tolerance < 0) {
            bySox = name + ".wav";
            const QStringList input = raw ? QStringList { "-t", "f32", "-r", "48000", "-c", "2", name } : QStringList { name };
            ASSERT_TRUE(runTool("sox", input + QStringList { "-b", "32", "-e", "floating-point", bySox }));
        }
        long long soxFrames = 0;
        unsigned int soxRate = 0;
        ASSERT_TRUE(soxInfo(bySox, &soxFrames, &soxRate));
        EXPECT_EQ(soxFrames, frames);
        EXPECT_EQ(soxRate, 48000u);
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(raw ? bySox : name));
        ASSERT_EQ(reader->open(raw ? bySox : name), SoundTools::Ok);
        EXPECT_EQ(reader->getSampleRate(), 48000u);
        EXPECT_EQ(reader->getInputFormat(), c.reported);
        const Samples back = readAll(*reader);
        ASSERT_EQ(back.size(), sound.size());
        if (c.tolerance >= 0) {
            EXPECT_LE(maxDifference(sound, back), c.tolerance);
        } else {
            EXPECT_GT(correlation(sound, back, 0), 0.999);
            EXPECT_GT(correlation(sound, back, 1), 0.999);
            EXPECT_LT(errorToSignalDb(sound, back), -30.0);
        }
    }
}

// Beyond full scale, integer formats clip instead of wrapping; floats keep
// the sample as it is.
TEST(IoRoundTrip, IntegerFormatsClipInsteadOfWrapping)
{
    QTemporaryDir dir;
    Samples sound = sine(4410, 441, 1.7, 44100, 0.5);
    for (SoundTools::SoundFormat format : { SoundTools::Int8, SoundTools::Int16, SoundTools::Int24, SoundTools::Float32 }) {
        const QString name = dir.filePath(QStringLiteral("clip%1.wav").arg(format));
        ASSERT_TRUE(writeFile(name, sound, 44100, format));
        Samples back;
        ASSERT_TRUE(readFile(name, back));
        ASSERT_EQ(back.size(), sound.size());
        const double top = format == SoundTools::Float32 ? 2.0 : 1.0;
        for (size_t i = 0; i < sound.size(); ++i)
            ASSERT_NEAR(back[i], std::max(-top, std::min(top, sound[i])), 2.0 / 128) << "sample " << i << " format " << format;
    }
}

TEST(IoRoundTrip, SoxFilesReadAsStereo)
{
    QTemporaryDir dir;
    // Six channels of distinct tones; sox itself extracts the first two as
    // the reference, in 32-bit float so that nothing is lost on the way.
    const QStringList tones = { "sine", "300", "sine", "500", "sine", "700", "sine", "900", "sine", "1100", "sine", "1300" };
    const struct {
        QString name;
        QStringList format;
        int channels;
    } cases[] = {
        { "mono16.wav", { "-b", "16" }, 1 },  { "stereo16.wav", { "-b", "16" }, 2 }, { "six24.wav", { "-b", "24" }, 6 },
        { "mono24.flac", { "-b", "24" }, 1 }, { "six16.flac", { "-b", "16" }, 6 },   { "stereo.ogg", {}, 2 },
        { "six.ogg", {}, 6 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString file = dir.filePath(c.name);
        ASSERT_TRUE(runTool("sox", QStringList { "-n", "-r", "44100", "-c", QString::number(c.channels) } + c.format
                                       + QStringList { file, "synth", "1.5" } + tones.mid(0, 2 * c.channels)
                                       + QStringList { "vol", "0.4" }));
        long long soxFrames = 0;
        unsigned int soxRate = 0;
        ASSERT_TRUE(soxInfo(file, &soxFrames, &soxRate));
        SoundReaderSndfile reader;
        ASSERT_EQ(reader.open(file), SoundTools::Ok);
        EXPECT_EQ(reader.getFileChannelNum(), c.channels);
        EXPECT_EQ((long long)reader.getFrameNB(), soxFrames);
        EXPECT_EQ(reader.getSampleRate(), soxRate);
        const Samples ours = readAll(reader);

        const QString reference = dir.filePath("ref-" + c.name + ".wav");
        ASSERT_TRUE(runTool("sox", QStringList { file, "-e", "floating-point", "-b", "32", reference, "remix", "1",
                                                 c.channels == 1 ? "1" : "2" }));
        Samples expected;
        ASSERT_TRUE(readFile(reference, expected));
        ASSERT_EQ((long long)expected.size(), 2 * soxFrames);
        ASSERT_EQ(expected.size(), ours.size());
        // Vorbis decoders may differ in the last bit of a float; PCM is exact.
        EXPECT_LE(maxDifference(expected, ours), c.name.endsWith(".ogg") ? 1e-4 : 1e-7);
    }
}

TEST(IoRoundTrip, FilesStreamedThroughAPipeRead)
{
    // sox writing to a pipe cannot fill in the length: a WAV keeps a
    // placeholder far beyond the data, a FLAC declares no length at all.
    // Neither is a truncated file.
    QTemporaryDir dir;
    for (const QString type : { "wav", "flac" }) {
        const QString name = dir.filePath("piped." + type);
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(runTool("bash", { "-c", QStringLiteral("sox -n -r 44100 -c 2 -b 16 -t %1 - synth 1 sine 440 | cat > '%2'")
                                                .arg(type, name) }));
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(name));
        ASSERT_EQ(reader->open(name), SoundTools::Ok) << SoundDebuggableClass::getError().toStdString();
        EXPECT_EQ(reader->getFrameNB(), 44100u);
        EXPECT_EQ(readAll(*reader).size(), 2 * 44100u);
    }
}

TEST(IoFactory, BackEndByExtension)
{
    enum Kind { None, Mp3, Sndfile };
    const struct {
        const char* name;
        Kind kind;
    } cases[] = {
        { "", None }, { "song", None }, { "C:\\music\\album\\song", None }, { "C:\\music.d\\song", None },
        { "/home/me/dir.wav/song", None }, { "D:\\dir.mp3\\noext", None }, { "a.txt", None }, { "a.falc", None },
        { "x.mp3", Mp3 }, { "LOUD.MP3", Mp3 }, { "C:\\music\\a.b\\a.Mp3", Mp3 }, { "a.wav", Sndfile },
        { "/x/y/a.b.FLAC", Sndfile }, { "d:relative.ogg", Sndfile }, { "a.aiff", Sndfile }, { "a.AIF", Sndfile },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QString::fromUtf8(c.name);
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(name));
        EXPECT_EQ(SoundReader::isRecognized(name), c.kind != None);
        EXPECT_EQ(reader != nullptr, c.kind != None);
        EXPECT_EQ(dynamic_cast<SoundReaderMp3*>(reader.get()) != nullptr, c.kind == Mp3);
        EXPECT_EQ(dynamic_cast<SoundReaderSndfile*>(reader.get()) != nullptr, c.kind == Sndfile);
        std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(name, 44100, 128, SoundTools::Int16));
        EXPECT_EQ(dynamic_cast<SoundWriterMp3*>(writer.get()) != nullptr, c.kind == Mp3);
        // A mistyped extension is refused, never written as headerless samples.
        EXPECT_EQ(writer != nullptr, c.kind != None);
    }
    EXPECT_EQ(SoundReader::getExtension("c:name.WAV"), "wav");
    EXPECT_FALSE(SoundWriter::getFromFilename("/tmp/dir.d/noext", 44100, 128, SoundTools::Int16));
}

TEST(IoPoints, StartAndEndPointsAndRewind)
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
    // An end point stops the stream after exactly its frames, each the one
    // due at its place, with no stale frame left counted.
    reader.setStartPoint(0.0);
    reader.setEndPoint(0.5);
    EXPECT_EQ(reader.getEndOffset(), 22050);
    reader.rewind();
    auto buffer = SoundBuffer::createNew(44100);
    buffer->alloc(4096, 2, 1, 1);
    unsigned int total = 0;
    unsigned int last = 0;
    for (int calls = 0; !reader.atEnd() && calls < 100; ++calls) {
        last = reader.stereoRead(buffer, 0);
        for (unsigned int i = 0; i < last; ++i)
            ASSERT_EQ(buffer->getRelFrame(int(i))[0], rampValue(int(total + i), 0));
        total += last;
    }
    EXPECT_EQ(total, 22050u);
    EXPECT_LT(last, 4096u);
    EXPECT_EQ(reader.stereoRead(buffer, 0), 0u);
    EXPECT_EQ(buffer->getFrameNB(), 0u);
    // A file of no frames opens and reads nothing.
    const QString empty = dir.filePath("empty.wav");
    ASSERT_TRUE(writeFile(empty, Samples(), 44100, SoundTools::Int16));
    ASSERT_EQ(reader.open(empty), SoundTools::Ok);
    EXPECT_EQ(reader.getLengthString(), "00:00:00.000");
    EXPECT_TRUE(readAll(reader).empty());
}
