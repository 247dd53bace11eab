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

#include <algorithm>
#include <memory>

using namespace iotest;
using testsupport::rampValue;
using testsupport::rmsDbOf;

TEST(IoRoundTrip, EveryFormatKeepsLengthAndContentForUsAndForSox)
{
    // Lossless: half a step of each format's quantiser, doubled for
    // libsndfile's asymmetric scaling (32767 on writing, 32768 on reading).
    // Vorbis at its default quality: pure tones come back correlated better
    // than 0.999 and at their level.
    // What the reader reports back is the sample format asked for, or the
    // nearest one the container holds; beyond full scale, integers clip
    // instead of wrapping and floats keep the sample as it is.
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
    // two of the Ogg writer's 44100-frame chunks; its first period peaks at 1.7.
    const unsigned int frames = 123457;
    Samples sound = sine(frames, 441, 0.5, 48000, 0.5, 1234.5);
    std::for_each(sound.begin(), sound.begin() + 240, [](double& x) { x *= 3.4; });
    int i = 0;
    for (const Case& c : cases) {
        const QString name = dir.filePath(QStringLiteral("rt%1.%2").arg(i++).arg(c.ext));
        SCOPED_TRACE(name.toStdString() + " format " + std::to_string(c.format));
        ASSERT_TRUE(writeFile(name, sound, 48000, c.format));
        // sox decodes each file on its own; a raw file is its "f32" with the
        // rate and channels given.
        const bool raw = QString(c.ext) == "raw";
        const QString bySox = name + ".wav";
        const QStringList in = raw ? QStringList { "-t", "f32", "-r", "48000", "-c", "2", name } : QStringList { name };
        ASSERT_TRUE(runTool("sox", in + QStringList { "-b", "32", "-e", "floating-point", bySox }));
        Samples fromSox;
        unsigned int soxRate = 0;
        ASSERT_TRUE(readFile(bySox, fromSox, &soxRate));
        EXPECT_EQ(fromSox.size(), sound.size());
        EXPECT_EQ(soxRate, 48000u);
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(raw ? bySox : name));
        ASSERT_EQ(reader->open(raw ? bySox : name), SoundTools::Ok);
        EXPECT_EQ(reader->getSampleRate(), 48000u);
        EXPECT_EQ(reader->getInputFormat(), c.reported);
        const Samples back = readAll(*reader);
        // sox clips the floats of a raw file on its way.
        Samples expected = sound;
        for (double& x : expected)
            x = c.reported <= S::Int32 || raw ? std::clamp(x, -1.0, 1.0) : x;
        if (c.tolerance >= 0) {
            EXPECT_LE(maxDifference(expected, back), c.tolerance);
        }
        for (int channel = 0; c.tolerance < 0 && channel < 2; ++channel) {
            EXPECT_GT(correlation(expected, back, channel), 0.999);
            EXPECT_NEAR(rmsDbOf(back, 0, SIZE_MAX, channel), rmsDbOf(expected, 0, SIZE_MAX, channel), 0.1);
        }
    }
}

TEST(IoRoundTrip, SoxFilesReadAsStereo)
{
    QTemporaryDir dir;
    // Six channels of distinct tones; sox itself extracts the first two as
    // the reference, in 32-bit float so that nothing is lost on the way.
    // Written to a pipe, sox cannot fill in the length: a WAV keeps a
    // placeholder far beyond the data, a FLAC declares none. Neither is a
    // truncated file.
    const QStringList tones
        = { "sine", "300", "sine", "500", "sine", "700", "sine", "900", "sine", "1100", "sine", "1300" };
    const struct {
        QString name;
        QStringList format;
        int channels;
        bool piped;
    } cases[] = {
        { "mono16.wav", { "-b", "16" }, 1, false },  { "stereo16.wav", { "-b", "16" }, 2, true },
        { "six24.wav", { "-b", "24" }, 6, false },   { "mono24.flac", { "-b", "24" }, 1, false },
        { "six16.flac", { "-b", "16" }, 6, true },   { "stereo.ogg", {}, 2, false },
        { "six.ogg", {}, 6, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString file = dir.filePath(c.name);
        const QString out = c.piped ? "-t " + c.name.section('.', -1) + " -" : file;
        const QStringList make = QStringList { "-n", "-r", "44100", "-c", QString::number(c.channels) } + c.format
                                 + QStringList { out, "synth", "1.5" } + tones.mid(0, 2 * c.channels)
                                 + QStringList { "vol", "0.4" };
        ASSERT_TRUE(c.piped ? runTool("bash", { "-c", "sox -R " + make.join(' ') + " | cat > '" + file + "'" })
                            : runTool("sox", make));
        SoundReaderSndfile reader;
        ASSERT_EQ(reader.open(file), SoundTools::Ok) << SoundDebuggableClass::getError().toStdString();
        EXPECT_EQ(reader.getFileChannelNum(), c.channels);
        EXPECT_EQ(reader.getFrameNB(), 66150u);
        EXPECT_EQ(reader.getSampleRate(), 44100u);
        const Samples ours = readAll(reader);
        const QString reference = dir.filePath("ref-" + c.name + ".wav");
        ASSERT_TRUE(runTool("sox", QStringList { file, "-e", "floating-point", "-b", "32", reference, "remix", "1",
                                                 c.channels == 1 ? "1" : "2" }));
        Samples expected;
        ASSERT_TRUE(readFile(reference, expected));
        ASSERT_EQ(expected.size(), 2 * 66150u);
        // Vorbis decoders may differ in the last bit of a float; PCM is exact.
        EXPECT_LE(maxDifference(expected, ours), c.name.endsWith(".ogg") ? 1e-4 : 1e-7);
    }
}

TEST(IoFactory, BackEndByExtension)
{
    enum Kind { None, Mp3, Sndfile };
    const std::pair<const char*, Kind> cases[] = {
        { "", None }, { "song", None }, { "C:\\music\\album\\song", None }, { "C:\\music.d\\song", None },
        { "/home/me/dir.wav/song", None }, { "D:\\dir.mp3\\noext", None }, { "a.txt", None }, { "a.falc", None },
        { "x.mp3", Mp3 }, { "LOUD.MP3", Mp3 }, { "C:\\music\\a.b\\a.Mp3", Mp3 }, { "a.wav", Sndfile },
        { "/x/y/a.b.FLAC", Sndfile }, { "d:relative.ogg", Sndfile }, { "a.aiff", Sndfile }, { "a.AIF", Sndfile },
    };
    for (const auto& [path, kind] : cases) {
        SCOPED_TRACE(path);
        const QString name = QString::fromUtf8(path);
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(name));
        EXPECT_EQ(SoundReader::isRecognized(name), kind != None);
        EXPECT_EQ(reader != nullptr, kind != None);
        EXPECT_EQ(dynamic_cast<SoundReaderMp3*>(reader.get()) != nullptr, kind == Mp3);
        EXPECT_EQ(dynamic_cast<SoundReaderSndfile*>(reader.get()) != nullptr, kind == Sndfile);
        std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(name, 44100, 128, SoundTools::Int16));
        EXPECT_EQ(dynamic_cast<SoundWriterMp3*>(writer.get()) != nullptr, kind == Mp3);
        // A mistyped extension is refused, never written as headerless samples.
        EXPECT_EQ(writer != nullptr, kind != None);
    }
}

TEST(IoPoints, StartAndEndPointsAndRewind)
{
    // A 64-bit float file of the ramp: every frame's value names its index.
    QTemporaryDir dir;
    Samples ramp(2 * 50000);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = rampValue(int(i / 2), int(i % 2));
    ASSERT_TRUE(writeFile(dir.filePath("ramp.wav"), ramp, 44100, SoundTools::Float64));
    SoundReaderSndfile reader;
    ASSERT_EQ(reader.open(dir.filePath("ramp.wav")), SoundTools::Ok);
    // A start point between frames goes to the nearest one; one at or past
    // the end, to frame 0. Each rewind follows a read to the end.
    for (const auto& [seconds, frame] : { std::pair(0.5, 22050), std::pair(22050.4 / 44100, 22050),
                                          std::pair(22050.6 / 44100, 22051), std::pair(50000 / 44100.0, 0),
                                          std::pair(5.0, 0) }) {
        SCOPED_TRACE(seconds);
        reader.setStartPoint(seconds);
        reader.rewind();
        EXPECT_EQ(reader.getOffset(), frame);
        EXPECT_EQ(readAll(reader), Samples(ramp.begin() + 2 * frame, ramp.end()));
    }
    // An end point stops the stream after exactly its frames, with no stale
    // frame left counted.
    reader.setStartPoint(0.0);
    reader.setEndPoint(0.5);
    reader.rewind();
    EXPECT_EQ(readAll(reader), Samples(ramp.begin(), ramp.begin() + 2 * 22050));
    auto buffer = SoundBuffer::createNew(44100);
    buffer->alloc(4096, 2, 1, 1);
    EXPECT_EQ(reader.stereoRead(buffer, 0), 0u);
    EXPECT_EQ(buffer->getFrameNB(), 0u);
}
