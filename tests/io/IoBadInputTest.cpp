// Bad input of every kind gives a clear error naming the file, leaves the
// reader or writer closed, and never leaves a half-written file behind.
#include "tests/support/Common.h"
#include "tests/support/IoFiles.h"
#include "tests/support/MemoryIO.h"
#include "tulv/io/SoundReaderSndfile.h"
#include "tulv/io/SoundWriterMp3.h"
#include "tulv/io/SoundWriterSndfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace iotest;

namespace {

// Opens through the factory and expects a refusal that names the file and
// contains `reason`; the reader must be closed afterwards.
void expectRefused(const QString& fileName, const QString& reason = QString())
{
    SCOPED_TRACE(fileName.toStdString());
    std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(fileName));
    ASSERT_TRUE(reader);
    SoundDebuggableClass::setError(QStringLiteral("stale"), "before");
    EXPECT_EQ(reader->open(fileName), SoundTools::Error);
    const QString error = SoundDebuggableClass::getError();
    EXPECT_TRUE(error.startsWith(fileName + " : ")) << error.toStdString();
    EXPECT_TRUE(error.contains(reason, Qt::CaseInsensitive)) << error.toStdString();
    // Closed: nothing to read, and closing again is harmless.
    EXPECT_EQ(reader->getFrameNB(), 0u);
    EXPECT_EQ(reader->stereoRead(testsupport::rampBlock(0, 256), 0), 0u);
    reader->close();
}

} // namespace

TEST(IoBadInput, EveryKindOfUnreadableFileIsRefused)
{
    QTemporaryDir dir;
    const Samples sound = sine(4410, 440, 0.5, 44100, 0.5, 660);
    QRandomGenerator random(1234);
    for (const QString ext : { "wav", "flac", "ogg", "mp3" }) {
        expectRefused(dir.filePath("absent." + ext), "no such file");
        QDir(dir.path()).mkdir("folder." + ext);
        expectRefused(dir.filePath("folder." + ext), "directory");
        ASSERT_TRUE(writeBytes(dir.filePath("empty." + ext), QByteArray()));
        expectRefused(dir.filePath("empty." + ext), "empty");
        for (int trial = 0; trial < 8; ++trial) {
            QByteArray bytes(20000 + 3000 * trial, '\0');
            for (char& c : bytes)
                c = static_cast<char>(random.bounded(256));
            const QString name = dir.filePath(QStringLiteral("noise%1.%2").arg(trial).arg(ext));
            ASSERT_TRUE(writeBytes(name, bytes));
            expectRefused(name);
        }
        // Cut inside the header: the first 30 bytes hold no complete header
        // in any of the containers.
        const QString full = dir.filePath("full." + ext);
        ASSERT_TRUE(writeFile(full, sound, 44100, SoundTools::Int16));
        ASSERT_TRUE(writeBytes(dir.filePath("cut." + ext), readBytes(full).left(30)));
        expectRefused(dir.filePath("cut." + ext));
        if (ext == "mp3")
            continue;
        // The same content under an .mp3 name: the error names what it is.
        const QString disguised = dir.filePath(ext + "-inside.mp3");
        ASSERT_TRUE(QFile::copy(full, disguised));
        expectRefused(disguised, "not MP3");
    }
    expectRefused(dir.filePath("wav-inside.mp3"), "WAV");
    // A WAV header saying MPEG Layer III over data that is none.
    QByteArray mpegWav = readBytes(dir.filePath("full.wav"));
    mpegWav[20] = 0x55;
    mpegWav.replace(44, mpegWav.size() - 44, QByteArray(mpegWav.size() - 44, '\0'));
    ASSERT_TRUE(writeBytes(dir.filePath("mpeg.wav"), mpegWav));
    expectRefused(dir.filePath("mpeg.wav"), "declares MPEG audio");
}

// A truncated file opens with the frames present and says how many the
// header declares beyond them (an MP3, in the Info tag its encoder wrote at
// close). What a peer decodes from the cut is what is present: flac itself
// (its WAV header repeats the declared length; the data tells), or sox, to
// within two MPEG frames. A file cut while it is read ends the stream there.
TEST(IoBadInput, TruncatedDataOpensWithTheFramesPresent)
{
    QTemporaryDir dir;
    const unsigned int frames = 88200;
    const Samples sound = sine(frames, 440, 0.5, 44100, 0.5, 660);
    for (const auto& [ext, tolerance] : { std::pair("wav", 0.0), std::pair("flac", 0.0), std::pair("mp3", 2304.0) }) {
        SCOPED_TRACE(ext);
        const QString whole = dir.filePath(QStringLiteral("whole.") + ext);
        const QString cut = dir.filePath(QStringLiteral("cut.") + ext);
        const QString rescued = dir.filePath(QStringLiteral("rescued-%1.wav").arg(ext));
        ASSERT_TRUE(writeFile(whole, sound, 44100, SoundTools::Int16));
        ASSERT_TRUE(writeBytes(cut, readBytes(whole).left(readBytes(whole).size() / 2)));
        ASSERT_TRUE(QString(ext) == "flac" ? runTool("flac", { "-d", "-F", "-s", "-f", "-o", rescued, cut })
                                           : runTool("sox", { cut, rescued }));
        Samples present;
        ASSERT_TRUE(readFile(rescued, present));
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(cut));
        ASSERT_EQ(reader->open(cut), SoundTools::Ok);
        EXPECT_EQ(reader->getFrameNB() + reader->getMissingFrames(), frames);
        EXPECT_NEAR(double(reader->getFrameNB()), present.size() / 2.0, tolerance);
        EXPECT_EQ(readAll(*reader).size(), 2 * size_t(reader->getFrameNB()));
    }

    // Cut by another program after it was opened: the stream ends at the cut
    // and the error says what is missing.
    const QString wav = dir.filePath("whole.wav");
    SoundReaderSndfile shrinking;
    ASSERT_EQ(shrinking.open(wav), SoundTools::Ok);
    ASSERT_TRUE(QFile::resize(wav, 44 + 4 * 40000));
    SoundDebuggableClass::setError(QStringLiteral("none"), nullptr);
    EXPECT_EQ(readAll(shrinking).size(), 2 * 40000u);
    EXPECT_TRUE(shrinking.atEnd());
    const QString error = SoundDebuggableClass::getError();
    EXPECT_TRUE(error.startsWith(wav) && error.contains("48200 frames missing")) << error.toStdString();
    EXPECT_EQ(shrinking.getMissingFrames(), 48200);
}

TEST(IoBadInput, HeaderLimitsHoldAtTheirEdges)
{
    // 8-bit mono WAV headers over sparse data: only the declared length or
    // rate can make them fail. One of no frames opens and reads nothing.
    struct Case {
        const char* name;
        long long frames;
        quint32 rate;
        const char* refusal; // null: the file reads to its end
    };
    const Case cases[] = {
        { "no frames", 0, 44100, nullptr },
        { "longest", SoundReader::kMaxFrames, 44100, nullptr },
        { "one frame too long", SoundReader::kMaxFrames + 1, 44100, "at most" },
        { "beyond 31 bits", 0x80000000LL + 100, 44100, "at most" },
        { "lowest rate", 4000, 1000, nullptr },
        { "1 Hz", 4000, 1, "1 Hz" },
        { "800 kHz", 4000, 800000, "800000 Hz" },
        { "2^31-1 Hz", 4000, 2147483647u, "2147483647 Hz" },
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = dir.filePath(QString::fromLatin1(c.name) + ".wav");
        ASSERT_TRUE(writeSparseWav(name, quint32(c.frames), c.rate));
        if (c.refusal) {
            expectRefused(name, QString::fromLatin1(c.refusal));
            continue;
        }
        // The last 3000 frames through a window keeping an 8192-frame
        // overlap, as a long analysis window does: the padding behind the
        // last frame must not run the positions past the 32-bit range.
        SoundReaderSndfile reader;
        ASSERT_EQ(reader.open(name), SoundTools::Ok);
        const long long start = std::max(0LL, c.frames - 3000);
        reader.setStartPoint(double(start) / c.rate);
        reader.rewind();
        auto buffer = SoundBuffer::createNew(c.rate);
        buffer->alloc(16384, 2, 1, 1);
        long long got = 0;
        for (int block = 0; block < 8 && !reader.atEnd(); ++block) {
            got += reader.stereoRead(buffer, 8192);
            EXPECT_GE(buffer->getOrigin(), start - 8192);
        }
        EXPECT_TRUE(reader.atEnd());
        EXPECT_EQ(got, c.frames - start);
        EXPECT_GE(reader.getOffset(), c.frames);
    }
}

TEST(IoBadInput, JoinedRecordingsAreReadWholeOrRefusedAtTheJoin)
{
    // Two one-second recordings joined end to end, as `cat` joins them.
    struct Case {
        const char* name;
        const char* ext;
        int secondRate, secondChannels;
        const char* refusal; // null: both parts are read
    };
    const Case cases[] = {
        { "mp3, mono after stereo", "mp3", 44100, 1, nullptr },
        { "mp3, 22050 Hz after 44100 Hz", "mp3", 22050, 1, "changes from 44100 Hz to 22050 Hz at 00:00:01" },
        { "ogg, 22050 Hz after 44100", "ogg", 22050, 1, "second Ogg stream (22050 Hz, mono) begins at 00:00:01.000" },
        { "ogg, same format", "ogg", 44100, 2, "second Ogg stream (44100 Hz, 2 channels) begins at 00:00:01.000" },
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray joined;
        for (int part = 0; part < 2; ++part) {
            const QString wav = dir.filePath(QStringLiteral("part%1.wav").arg(part));
            const QString coded = dir.filePath(QStringLiteral("part%1.").arg(part) + c.ext);
            ASSERT_TRUE(runTool("sox", { "-n", "-r", QString::number(part ? c.secondRate : 44100), "-c",
                                         QString::number(part ? c.secondChannels : 2), wav, "synth", "1", "sine",
                                         "440" }));
            ASSERT_TRUE(QString(c.ext) == "mp3" ? runTool("lame", { "--quiet", wav, coded })
                                                : runTool("sox", { wav, coded }));
            joined += readBytes(coded);
        }
        const QString name = dir.filePath(QStringLiteral("joined.") + c.ext);
        ASSERT_TRUE(writeBytes(name, joined));
        if (c.refusal) {
            expectRefused(name, QString::fromLatin1(c.refusal));
            continue;
        }
        Samples samples;
        ASSERT_TRUE(readFile(name, samples));
        EXPECT_NEAR(samples.size() / 2.0, 2 * 44100.0, 3 * 1152.0);
    }
}

// Places even root cannot write (a missing folder, /proc, a file standing
// where a folder should be) fail at open, naming the file. Output takes its
// name only when closed whole: a write the disk refuses partway (a
// file-size limit, as on a full disk) keeps the old file as it was.
TEST(IoBadInput, OutputAppearsWholeUnderItsNameOnlyWhenClosed)
{
    QTemporaryDir dir;
    const Samples sound = sine(10000, 440, 0.5, 44100, 0.5, 660);
    ASSERT_TRUE(writeBytes(dir.filePath("plain"), "x"));
    ASSERT_TRUE(SoundWriterMp3::Init()) << "the LAME library (libmp3lame) is not installed";
    for (const QString& pattern : { dir.filePath("no/such/dir/out.%1"), QStringLiteral("/proc/tulv-out.%1"),
                                    dir.filePath("plain/out.%1"), dir.filePath("late.%1") })
        for (const QString ext : { "wav", "flac", "ogg", "raw", "mp3" }) {
            const QString name = pattern.arg(ext);
            SCOPED_TRACE(name.toStdString());
            const bool writable = pattern.contains("late");
            std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(name, 44100, 128, SoundTools::Int16));
            ASSERT_TRUE(writer);
            EXPECT_EQ(writer->open(name), writable ? SoundTools::Ok : SoundTools::Error);
            EXPECT_TRUE(writable || SoundDebuggableClass::getError().startsWith(name + " : "))
                << SoundDebuggableClass::getError().toStdString();
            EXPECT_EQ(writable ? writeAll(*writer, sound, 44100) : SoundTools::Ok, SoundTools::Ok);
            EXPECT_FALSE(QFileInfo::exists(name));
            writer->close();
            EXPECT_EQ(QFileInfo::exists(name), writable);
        }
    const QString old = dir.filePath("late.wav");
    const QByteArray before = readBytes(old);
    {
        testsupport::FileSizeLimit limit(200000);
        SoundWriterSndfile writer(44100, 2, SoundTools::Int16, SoundWriterSndfile::Wav);
        ASSERT_EQ(writer.open(old), SoundTools::Ok);
        EXPECT_EQ(writeAll(writer, sine(441000, 440, 0.5, 44100, 0.5, 660), 44100), SoundTools::Error);
        writer.close();
        EXPECT_TRUE(writer.hasFailed());
    }
    EXPECT_TRUE(SoundDebuggableClass::getError().startsWith(old)) << SoundDebuggableClass::getError().toStdString();
    EXPECT_EQ(readBytes(old), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 6) << "only the finished files stay";

    // Writing beside the target lets a file be rewritten from itself.
    const QString same = dir.filePath("same.wav");
    ASSERT_TRUE(writeFile(same, sound, 44100, SoundTools::Float64));
    SoundReaderSndfile reader;
    ASSERT_EQ(reader.open(same), SoundTools::Ok);
    SoundWriterSndfile writer(44100, 2, SoundTools::Float64, SoundWriterSndfile::Wav);
    ASSERT_EQ(writer.open(same), SoundTools::Ok);
    ASSERT_EQ(writeAll(writer, readAll(reader), 44100), SoundTools::Ok);
    writer.close();
    Samples again;
    ASSERT_TRUE(readFile(same, again));
    EXPECT_EQ(again, sound);
}
