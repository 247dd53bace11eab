// MP3 through libmpg123 and the run-time LAME encoder: lengths kept exactly
// through the encoder's header frame, quality bounds per bit rate, seeking, peer
// files from LAME's own tool, mono, saturation, and the writer without LAME.
#include "tests/support/Common.h"
#include "tests/support/IoFiles.h"
#include "tests/support/MemoryIO.h"
#include "tulv/io/SoundReaderMp3.h"
#include "tulv/io/SoundWriterMp3.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <tuple>

using namespace iotest;
using testsupport::fromDb;
using testsupport::rmsDbOf;

namespace {

constexpr unsigned int kRate = 44100;

class IoMp3 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SoundWriterMp3::Init()) << "the LAME library (libmp3lame) is not installed";
    }
};

} // namespace

TEST_F(IoMp3, RoundTripKeepsLengthAndSoundAtEachBitRate)
{
    QTemporaryDir dir;
    const unsigned int frames = 5 * kRate + 1001;
    // A chord per channel: more like music than one tone.
    Samples sound = sine(frames, 440, 0.3, kRate, 0.5, 554.4);
    const Samples upper = sine(frames, 1318.5, 0.15, kRate, 0.5, 2217.5);
    std::transform(sound.begin(), sound.end(), upper.begin(), sound.begin(), std::plus<>());
    // Shape: the error left after the best gain, under the signal's energy.
    // Level: full scale is encoded at 95 %, and LAME itself comes out about
    // 5 % quieter at 128 kbit/s than at 320 on this chord (its own
    // command-line tool does the same).
    for (const auto& [bitRate, maxShapeDb, minGain] : { std::tuple(128u, -40.0, 0.9), std::tuple(320u, -50.0, 0.98) }) {
        SCOPED_TRACE(bitRate);
        const QString name = dir.filePath(QStringLiteral("rt%1.mp3").arg(bitRate));
        ASSERT_TRUE(writeFile(name, sound, kRate, SoundTools::Int16, bitRate));
        SoundReaderMp3 reader;
        ASSERT_EQ(reader.open(name), SoundTools::Ok);
        EXPECT_EQ(reader.getSampleRate(), kRate);
        // The header frame written at close carries the encoder delay and
        // padding: the decoder returns exactly the frames encoded.
        EXPECT_EQ(reader.getFrameNB(), frames);
        const Samples back = readAll(reader);
        ASSERT_EQ(back.size(), sound.size());
        for (int channel : { 0, 1 }) {
            SCOPED_TRACE(channel);
            const double r = correlation(sound, back, channel);
            EXPECT_LT(10 * std::log10(1 - r * r + 1e-30), maxShapeDb);
            const double gain
                = fromDb(rmsDbOf(back, 0, SIZE_MAX, channel) - rmsDbOf(sound, 0, SIZE_MAX, channel)) / 0.95;
            EXPECT_GT(gain, minGain);
            EXPECT_LT(gain, 1.01);
        }
        // Seeking is sample-exact: the frames from a start point are those of
        // the whole decode; between frames, the nearest one; past the end, none.
        for (const auto& [seconds, frame] : { std::pair(0.5, 22050), std::pair(22050.6 / kRate, 22051),
                                              std::pair(10.0, int(frames)) }) {
            reader.setStartPoint(seconds);
            reader.rewind();
            EXPECT_EQ(reader.getOffset(), frame);
            const Samples tail = readAll(reader);
            ASSERT_EQ(tail.size(), back.size() - 2 * size_t(frame));
            EXPECT_TRUE(tail.empty() || correlation(Samples(back.begin() + 2 * frame, back.end()), tail, 0) > 0.9999);
        }
        // And sox, decoding on its own, finds the same rate and, at most a
        // frame of the codec away, the same length.
        const QString decoded = dir.filePath(QStringLiteral("sox%1.wav").arg(bitRate));
        ASSERT_TRUE(runTool("sox", { name, decoded })) << "sox cannot decode our MP3";
        Samples bySox;
        unsigned int soxRate = 0;
        ASSERT_TRUE(readFile(decoded, bySox, &soxRate));
        EXPECT_EQ(soxRate, kRate);
        EXPECT_NEAR(bySox.size() / 2.0, double(frames), 2 * 1152.0);
    }
}

TEST_F(IoMp3, FilesFromTheLameToolRead)
{
    QTemporaryDir dir;
    const unsigned int frames = 3 * kRate + 123;
    // Both sides alike, so that a mono file holds them whole.
    const Samples sound = sine(frames, 440, 0.5, kRate);
    const QString wav = dir.filePath("source.wav");
    ASSERT_TRUE(writeFile(wav, sound, kRate, SoundTools::Int16));
    // The name, LAME's options (none: our own mono writer beside them), mono.
    const std::tuple<const char*, QStringList, bool> cases[] = {
        { "cbr.mp3", { "-b", "192" }, false },
        { "vbr.mp3", { "-V", "2" }, false },
        { "mono.mp3", { "-m", "m", "-b", "96" }, true },
        { "ours-mono.mp3", {}, true },
    };
    for (const auto& [name, options, mono] : cases) {
        SCOPED_TRACE(name);
        const QString mp3 = dir.filePath(name);
        if (options.isEmpty()) {
            std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(mp3, kRate, 96, SoundTools::Int16, 1));
            ASSERT_EQ(writer->open(mp3), SoundTools::Ok);
            ASSERT_EQ(writeAll(*writer, sound, kRate), SoundTools::Ok);
            writer->close();
        } else {
            ASSERT_TRUE(runTool("lame", QStringList { "--quiet" } + options + QStringList { wav, mp3 }));
        }
        SoundReaderMp3 reader;
        ASSERT_EQ(reader.open(mp3), SoundTools::Ok);
        EXPECT_EQ(reader.getFrameNB(), frames);
        EXPECT_EQ(reader.getFileChannelNum(), mono ? 1u : 2u);
        const Samples back = readAll(reader);
        ASSERT_EQ(back.size(), sound.size());
        for (size_t i = 0; mono && i < back.size(); i += 2)
            ASSERT_EQ(back[i], back[i + 1]);
        for (int channel : { 0, 1 })
            EXPECT_GT(correlation(sound, back, channel), 0.995);
    }
}

TEST_F(IoMp3, LoudSamplesSaturateInsteadOfWrapping)
{
    QTemporaryDir dir;
    // Beyond 32767 / 31129.6 over much of each period.
    const Samples sound = sine(kRate, 220, 1.6, kRate, 0.5);
    const QString name = dir.filePath("loud.mp3");
    ASSERT_TRUE(writeFile(name, sound, kRate, SoundTools::Int16, 320));
    Samples back;
    ASSERT_TRUE(readFile(name, back));
    ASSERT_EQ(back.size(), sound.size());
    // A wrapped sample flips sign; a saturated one keeps it.
    size_t flipped = 0;
    for (size_t i = 0; i < sound.size(); ++i)
        flipped += std::fabs(sound[i]) > 1.3 && (back[i] > 0) != (sound[i] > 0);
    EXPECT_EQ(flipped, 0u);
    EXPECT_GT(correlation(sound, back, 0), 0.95);
}

TEST(IoMp3Absent, EverythingElseWorksWithoutTheEncoder)
{
    QTemporaryDir dir;
    testsupport::LameLibraryNames absent({ QStringLiteral("tulv-no-such-encoder"), QStringLiteral("neither-this") });
    EXPECT_FALSE(SoundWriterMp3::Init());

    const QString name = dir.filePath("none.mp3");
    std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(name, kRate, 128, SoundTools::Int16));
    ASSERT_TRUE(dynamic_cast<SoundWriterMp3*>(writer.get()));
    EXPECT_EQ(writer->open(name), SoundTools::Error);
    EXPECT_EQ(SoundDebuggableClass::getError(), QStringLiteral("This version doesn't support mp3 encoding"));
    EXPECT_EQ(writer->writeBuffer(testsupport::rampBlock(0, 64), 0), SoundTools::Error);
    EXPECT_EQ(SoundDebuggableClass::getError(), "SoundWriter::WriteBuffer : Incorrect number of channels");

    // The other formats are untouched.
    const Samples sound = sine(1000, 440, 0.5, kRate, 0.5, 660);
    ASSERT_TRUE(writeFile(dir.filePath("still.flac"), sound, kRate, SoundTools::Int16));
    Samples back;
    ASSERT_TRUE(readFile(dir.filePath("still.flac"), back));
    EXPECT_EQ(back.size(), sound.size());
}
