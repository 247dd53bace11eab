// Our writer and reader against each other and against sox: every format
// and sample format keeps the length exactly and the content within its
// precision; files from sox read correctly, and sox reads ours.
#include "tests/support/IoCopyAlgo.h"
#include "tests/support/IoFiles.h"
#include "tulv/io/SoundReaderSndfile.h"
#include "tulv/io/SoundWriterSndfile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace iotest;

namespace {

constexpr unsigned int kRate = 44100;

struct Lossless {
    const char* ext;
    SoundTools::SoundFormat format;
    double tolerance; // largest error a sample of this format may carry
};

// Half a step of each format's quantiser, doubled for libsndfile's
// asymmetric scaling (32767 on writing, 32768 on reading, and alike).
const Lossless kLossless[] = {
    {"wav", SoundTools::Int8, 2.0 / 128},          {"wav", SoundTools::Int16, 2.0 / 32768},
    {"wav", SoundTools::Int24, 2.0 / 8388608},     {"wav", SoundTools::Int32, 2.0 / 2147483648.0},
    {"wav", SoundTools::Float32, 6e-8},            {"wav", SoundTools::Float64, 0.0},
    {"flac", SoundTools::Int16, 2.0 / 32768},      {"flac", SoundTools::Int24, 2.0 / 8388608},
    {"raw", SoundTools::Float32, 6e-8},
};

} // namespace

TEST(IoRoundTrip, LosslessFormatsKeepLengthAndContent)
{
    QTemporaryDir dir;
    // An odd length that is no multiple of any block size.
    const unsigned int frames = 3 * kRate + 777;
    const Samples sound = stereoSine(frames, kRate, 441, 1234.5, 0.8);
    int i = 0;
    for (const Lossless& c : kLossless) {
        const QString name = dir.filePath(QStringLiteral("rt%1.%2").arg(i++).arg(c.ext));
        SCOPED_TRACE(name.toStdString() + " format " + std::to_string(c.format));
        ASSERT_TRUE(writeFile(name, sound, kRate, c.format));
        if (QString(c.ext) == "raw")
            continue; // no header: nothing but the byte count to read back by name
        Samples back;
        unsigned int rate = 0;
        ASSERT_TRUE(readFile(name, back, &rate));
        EXPECT_EQ(rate, kRate);
        ASSERT_EQ(back.size(), sound.size());
        EXPECT_LE(maxDifference(sound, back), c.tolerance);
    }
}

TEST(IoRoundTrip, OggVorbisKeepsLengthAndSound)
{
    QTemporaryDir dir;
    // 100000 frames is written in chunks of 44100, 44100 and 11800.
    const Samples sound = stereoSine(100000, kRate, 441, 1234.5, 0.5);
    const QString name = dir.filePath("rt.ogg");
    ASSERT_TRUE(writeFile(name, sound, kRate, SoundTools::Int16));
    Samples back;
    ASSERT_TRUE(readFile(name, back));
    ASSERT_EQ(back.size(), sound.size());
    // Vorbis at its default quality: pure tones come back correlated better
    // than 0.999 and with the error 30 dB under the signal.
    EXPECT_GT(correlation(sound, back, 0), 0.999);
    EXPECT_GT(correlation(sound, back, 1), 0.999);
    EXPECT_LT(errorToSignalDb(sound, back), -30.0);
}

TEST(IoRoundTrip, IntegerFormatsClipInsteadOfWrapping)
{
    QTemporaryDir dir;
    Samples sound = stereoSine(4410, kRate, 441, 441, 1.0);
    for (double& x : sound)
        x *= 1.7;
    for (SoundTools::SoundFormat format : {SoundTools::Int8, SoundTools::Int16, SoundTools::Int24}) {
        const QString name = dir.filePath(QStringLiteral("clip%1.wav").arg(format));
        ASSERT_TRUE(writeFile(name, sound, kRate, format));
        Samples back;
        ASSERT_TRUE(readFile(name, back));
        ASSERT_EQ(back.size(), sound.size());
        for (size_t i = 0; i < sound.size(); ++i) {
            const double expected = std::max(-1.0, std::min(1.0, sound[i]));
            ASSERT_NEAR(back[i], expected, 2.0 / 128) << "sample " << i << " format " << format;
        }
    }
}

TEST(IoRoundTrip, LoopCopiesFileToFileExactly)
{
    // Through processAll, with and without an input overlap that makes the
    // loop pad zeros through the end of the stream: within the writer's
    // range the output is the input.
    QTemporaryDir dir;
    const unsigned int frames = 2 * kRate + 313;
    const Samples sound = stereoSine(frames, kRate, 300, 500, 0.7);
    const QString source = dir.filePath("source.wav");
    ASSERT_TRUE(writeFile(source, sound, kRate, SoundTools::Float64));
    for (unsigned int overlap : {0u, 1u, 100u, 5000u}) {
        SCOPED_TRACE("overlap " + std::to_string(overlap));
        const QString target = dir.filePath(QStringLiteral("copy%1.flac").arg(overlap));
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(source));
        ASSERT_EQ(reader->open(source), SoundTools::Ok);
        std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(target, kRate, 0, SoundTools::Int24));
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
    if (!haveTool("sox"))
        GTEST_SKIP() << "sox is not installed";
    QTemporaryDir dir;
    // Six channels of distinct tones; sox itself extracts the first two as
    // the reference, in 32-bit float so that nothing is lost on the way.
    const QStringList tones = {"sine", "300", "sine", "500", "sine", "700", "sine", "900", "sine", "1100",
                               "sine", "1300"};
    struct Case {
        QString name;
        QStringList format;
        int channels;
    };
    const QList<Case> cases = {
        {"mono16.wav", {"-b", "16"}, 1},  {"stereo16.wav", {"-b", "16"}, 2}, {"six24.wav", {"-b", "24"}, 6},
        {"mono24.flac", {"-b", "24"}, 1}, {"six16.flac", {"-b", "16"}, 6},   {"stereo.ogg", {}, 2},
        {"six.ogg", {}, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString file = dir.filePath(c.name);
        QStringList args = {"-n", "-r", "44100", "-c", QString::number(c.channels)};
        args << c.format << file << "synth" << "1.5";
        args << tones.mid(0, 2 * c.channels) << "vol" << "0.4";
        ASSERT_TRUE(runTool("sox", args));
        long long soxFrames = 0;
        unsigned int soxRate = 0;
        ASSERT_TRUE(soxInfo(file, &soxFrames, &soxRate));

        SoundReaderSndfile reader;
        ASSERT_EQ(reader.open(file), SoundTools::Ok);
        EXPECT_EQ(reader.getFileChannelNum(), c.channels);
        EXPECT_EQ((long long)reader.getFrameNB(), soxFrames);
        EXPECT_EQ(reader.getSampleRate(), soxRate);
        const Samples ours = readAll(reader);
        ASSERT_EQ((long long)ours.size(), 2 * soxFrames);

        const QString reference = dir.filePath("ref-" + c.name + ".wav");
        QStringList remix = {file, "-e", "floating-point", "-b", "32", reference, "remix"};
        remix << (c.channels == 1 ? QStringList{"1", "1"} : QStringList{"1", "2"});
        ASSERT_TRUE(runTool("sox", remix));
        Samples expected;
        ASSERT_TRUE(readFile(reference, expected));
        ASSERT_EQ(expected.size(), ours.size());
        // Vorbis decoders may differ in the last bit of a float; PCM is exact.
        EXPECT_LE(maxDifference(expected, ours), c.name.endsWith(".ogg") ? 1e-4 : 1e-7);
        if (c.channels == 1) {
            for (size_t i = 0; i < ours.size(); i += 2)
                ASSERT_EQ(ours[i], ours[i + 1]);
        }
    }
}

TEST(IoRoundTrip, SoxReadsOurFilesWithTheSameLengthAndRate)
{
    if (!haveTool("sox"))
        GTEST_SKIP() << "sox is not installed";
    QTemporaryDir dir;
    const unsigned int frames = 123457;
    const Samples sound = stereoSine(frames, 48000, 441, 1234.5, 0.5);
    int i = 0;
    for (const Lossless& c : kLossless) {
        if (QString(c.ext) == "raw")
            continue;
        const QString name = dir.filePath(QStringLiteral("ours%1.%2").arg(i++).arg(c.ext));
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(writeFile(name, sound, 48000, c.format));
        long long soxFrames = 0;
        unsigned int soxRate = 0;
        ASSERT_TRUE(soxInfo(name, &soxFrames, &soxRate));
        EXPECT_EQ(soxFrames, frames);
        EXPECT_EQ(soxRate, 48000u);
    }
    const QString ogg = dir.filePath("ours.ogg");
    ASSERT_TRUE(writeFile(ogg, sound, 48000, SoundTools::Int16));
    // Vorbis files carry no sample count in a header: sox decodes them.
    const QString decoded = dir.filePath("ogg-by-sox.wav");
    ASSERT_TRUE(runTool("sox", {ogg, decoded}));
    long long soxFrames = 0;
    unsigned int soxRate = 0;
    ASSERT_TRUE(soxInfo(decoded, &soxFrames, &soxRate));
    EXPECT_EQ(soxFrames, frames);
    EXPECT_EQ(soxRate, 48000u);
    // And a raw file is sox's "f32" with the rate and channels given.
    const QString raw = dir.filePath("ours.raw");
    ASSERT_TRUE(writeFile(raw, sound, 48000, SoundTools::Float32));
    const QString fromRaw = dir.filePath("raw-by-sox.wav");
    ASSERT_TRUE(runTool("sox", {"-t", "f32", "-r", "48000", "-c", "2", raw, "-b", "32", "-e", "floating-point",
                                fromRaw}));
    Samples back;
    ASSERT_TRUE(readFile(fromRaw, back));
    EXPECT_LE(maxDifference(sound, back), 6e-8);
}

TEST(IoRoundTrip, FilesStreamedThroughAPipeRead)
{
    // sox writing to a pipe cannot fill in the length: a WAV keeps a
    // placeholder far beyond the data, a FLAC declares no length at all.
    // Neither is a truncated file.
    if (!haveTool("sox"))
        GTEST_SKIP() << "sox is not installed";
    QTemporaryDir dir;
    for (const QString& type : {QStringLiteral("wav"), QStringLiteral("flac")}) {
        const QString name = dir.filePath("piped." + type);
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(runTool("bash", {"-c", QStringLiteral("sox -n -r 44100 -c 2 -b 16 -t %1 - synth 1 sine 440 "
                                                          "| cat > '%2'")
                                               .arg(type, name)}));
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(name));
        ASSERT_EQ(reader->open(name), SoundTools::Ok) << SoundDebuggableClass::getError().toStdString();
        EXPECT_EQ(reader->getFrameNB(), 44100u);
        EXPECT_EQ(readAll(*reader).size(), 2 * 44100u);
    }
}
