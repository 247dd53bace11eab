// Our writer and reader against each other and against sox: every format
// and sample format keeps the length exactly and the content within its
// precision; files from sox read correctly, and sox reads ours.
#include "tests/support/IoCopyAlgo.h"
#include "tests/support/IoFiles.h"
#include "tulv/io/SoundReaderSndfile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace iotest;

TEST(IoRoundTrip, EveryFormatKeepsLengthAndContentForUsAndForSox)
{
    // Lossless: half a step of each format's quantiser, doubled for
    // libsndfile's asymmetric scaling (32767 on writing, 32768 on reading).
    // Vorbis at its default quality: pure tones come back correlated better
    // than 0.999 and with the error 30 dB under the signal.
    struct Case {
        const char* ext;
        SoundTools::SoundFormat format;
        double tolerance; // largest error a sample may carry; < 0: lossy
    };
    const Case cases[] = {
        { "wav", SoundTools::Int8, 2.0 / 128 },         { "wav", SoundTools::Int16, 2.0 / 32768 },
        { "wav", SoundTools::Int24, 2.0 / 8388608 },    { "wav", SoundTools::Int32, 2.0 / 2147483648.0 },
        { "wav", SoundTools::Float32, 6e-8 },           { "wav", SoundTools::Float64, 0.0 },
        { "flac", SoundTools::Int16, 2.0 / 32768 },     { "flac", SoundTools::Int24, 2.0 / 8388608 },
        { "raw", SoundTools::Float32, 6e-8 },           { "ogg", SoundTools::Int16, -1 },
    };
    QTemporaryDir dir;
    // An odd length that is no multiple of any block size, and more than
    // two of the Ogg writer's 44100-frame chunks.
    const unsigned int frames = 123457;
    const Samples sound = stereoSine(frames, 48000, 441, 1234.5, 0.5);
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
        Samples back;
        unsigned int rate = 0;
        ASSERT_TRUE(readFile(raw ? bySox : name, back, &rate));
        EXPECT_EQ(rate, 48000u);
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

TEST(IoRoundTrip, IntegerFormatsClipInsteadOfWrapping)
{
    QTemporaryDir dir;
    Samples sound = stereoSine(4410, 44100, 441, 441, 1.7);
    for (SoundTools::SoundFormat format : { SoundTools::Int8, SoundTools::Int16, SoundTools::Int24 }) {
        const QString name = dir.filePath(QStringLiteral("clip%1.wav").arg(format));
        ASSERT_TRUE(writeFile(name, sound, 44100, format));
        Samples back;
        ASSERT_TRUE(readFile(name, back));
        ASSERT_EQ(back.size(), sound.size());
        for (size_t i = 0; i < sound.size(); ++i)
            ASSERT_NEAR(back[i], std::max(-1.0, std::min(1.0, sound[i])), 2.0 / 128) << "sample " << i << " format " << format;
    }
}

TEST(IoRoundTrip, LoopCopiesFileToFileExactly)
{
    // Through processAll, with and without an input overlap that makes the
    // loop pad zeros through the end of the stream: within the writer's
    // range the output is the input.
    QTemporaryDir dir;
    const unsigned int frames = 2 * 44100 + 313;
    const Samples sound = stereoSine(frames, 44100, 300, 500, 0.7);
    const QString source = dir.filePath("source.wav");
    ASSERT_TRUE(writeFile(source, sound, 44100, SoundTools::Float64));
    for (unsigned int overlap : { 0u, 1u, 100u, 5000u }) {
        SCOPED_TRACE("overlap " + std::to_string(overlap));
        const QString target = dir.filePath(QStringLiteral("copy%1.flac").arg(overlap));
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(source));
        ASSERT_EQ(reader->open(source), SoundTools::Ok);
        std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(target, 44100, 0, SoundTools::Int24));
        ASSERT_EQ(writer->open(target), SoundTools::Ok);
        // The zeros that flush the overlap lie beyond the source's end.
        writer->setRange(0, static_cast<int>(frames));
        auto* algo = new CopyAlgo(overlap);
        const SoundTools::Status status = algo->processAll(*reader, writer.get());
        algo->release();
        writer->close();
        EXPECT_NE(status, SoundTools::Error);
        Samples back;
        ASSERT_TRUE(readFile(target, back));
        ASSERT_EQ(back.size(), sound.size());
        EXPECT_LE(maxDifference(sound, back), 2.0 / 8388608);
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
