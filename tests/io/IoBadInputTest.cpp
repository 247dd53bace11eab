// Bad input of every kind gives a clear error naming the file, leaves the
// reader or writer closed, and never leaves a half-written file behind.
#include "tests/support/IoFiles.h"
#include "tulv/io/SoundReaderMp3.h"
#include "tulv/io/SoundReaderSndfile.h"
#include "tulv/io/SoundWriterMp3.h"
#include "tulv/io/SoundWriterSndfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

using namespace iotest;

namespace {

const QStringList kExtensions = {"wav", "flac", "ogg", "mp3"};

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
    if (!reason.isEmpty()) {
        EXPECT_TRUE(error.contains(reason, Qt::CaseInsensitive)) << error.toStdString();
    }
    // Closed: nothing to read, and closing again is harmless.
    EXPECT_EQ(reader->getFrameNB(), 0u);
    auto buffer = SoundBuffer::createNew(44100);
    buffer->alloc(256, 2, 1, 1);
    EXPECT_EQ(reader->stereoRead(buffer, 0), 0u);
    reader->close();
}

bool isRoot()
{
    return geteuid() == 0;
}

} // namespace

TEST(IoBadInput, MissingDirectoryAndEmptyFiles)
{
    QTemporaryDir dir;
    for (const QString& ext : kExtensions) {
        expectRefused(dir.filePath("absent." + ext), "no such file");
        QDir(dir.path()).mkdir("folder." + ext);
        expectRefused(dir.filePath("folder." + ext), "directory");
        ASSERT_TRUE(writeBytes(dir.filePath("empty." + ext), QByteArray()));
        expectRefused(dir.filePath("empty." + ext), "empty");
    }
}

TEST(IoBadInput, RandomBytesUnderEverySoundName)
{
    QTemporaryDir dir;
    QRandomGenerator random(1234);
    for (int trial = 0; trial < 8; ++trial) {
        QByteArray bytes(20000 + 3000 * trial, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random.bounded(256));
        for (const QString& ext : kExtensions) {
            const QString name = dir.filePath(QStringLiteral("noise%1.%2").arg(trial).arg(ext));
            ASSERT_TRUE(writeBytes(name, bytes));
            expectRefused(name);
        }
    }
}

TEST(IoBadInput, TruncatedHeaders)
{
    QTemporaryDir dir;
    const Samples sound = stereoSine(4410, 44100, 440, 660, 0.5);
    for (const QString& ext : {QStringLiteral("wav"), QStringLiteral("flac"), QStringLiteral("ogg")}) {
        const QString full = dir.filePath("full." + ext);
        ASSERT_TRUE(writeFile(full, sound, 44100, SoundTools::Int16));
        QFile file(full);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        // Cut inside the header: the first 30 bytes hold no complete header
        // in any of the three containers.
        const QString cut = dir.filePath("cut." + ext);
        ASSERT_TRUE(writeBytes(cut, bytes.left(30)));
        expectRefused(cut);
    }
    if (haveTool("lame")) {
        const QString wav = dir.filePath("src.wav");
        ASSERT_TRUE(writeFile(wav, sound, 44100, SoundTools::Int16));
        ASSERT_TRUE(runTool("lame", {"--quiet", wav, dir.filePath("full.mp3")}));
        QFile file(dir.filePath("full.mp3"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ASSERT_TRUE(writeBytes(dir.filePath("cut.mp3"), file.read(3)));
        expectRefused(dir.filePath("cut.mp3"));
    }
}

TEST(IoBadInput, Mp3NameOnOtherFormatsNamesTheRealContent)
{
    QTemporaryDir dir;
    const Samples sound = stereoSine(44100, 44100, 440, 660, 0.5);
    for (const QString& ext : {QStringLiteral("wav"), QStringLiteral("flac"), QStringLiteral("ogg")}) {
        const QString real = dir.filePath("real." + ext);
        ASSERT_TRUE(writeFile(real, sound, 44100, SoundTools::Int16));
        const QString disguised = dir.filePath(ext + "-inside.mp3");
        ASSERT_TRUE(QFile::copy(real, disguised));
        expectRefused(disguised, "not MP3");
    }
    expectRefused(dir.filePath("wav-inside.mp3"), "WAV");
}

TEST(IoBadInput, TruncatedDataIsRefusedWithTheMissingFrames)
{
    QTemporaryDir dir;
    const unsigned int frames = 88200;
    const Samples sound = stereoSine(frames, 44100, 440, 660, 0.5);
    // 16-bit stereo WAV: 44 header bytes, 4 bytes per frame. Keep 30000 frames.
    const QString wav = dir.filePath("whole.wav");
    ASSERT_TRUE(writeFile(wav, sound, 44100, SoundTools::Int16));
    QFile file(wav);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 44 + 4 * int(frames));
    ASSERT_TRUE(writeBytes(dir.filePath("cut.wav"), bytes.left(44 + 4 * 30000)));
    expectRefused(dir.filePath("cut.wav"), QString::number(frames - 30000) + " frames");

    // FLAC: the header's total is authoritative; the decoder finds how many
    // frames are really there.
    const QString flac = dir.filePath("whole.flac");
    ASSERT_TRUE(writeFile(flac, sound, 44100, SoundTools::Int16));
    QFile flacFile(flac);
    ASSERT_TRUE(flacFile.open(QIODevice::ReadOnly));
    const QByteArray flacBytes = flacFile.readAll();
    ASSERT_TRUE(writeBytes(dir.filePath("cut.flac"), flacBytes.left(flacBytes.size() / 2)));
    std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(dir.filePath("cut.flac")));
    EXPECT_EQ(reader->open(dir.filePath("cut.flac")), SoundTools::Error);
    const QString error = SoundDebuggableClass::getError();
    EXPECT_TRUE(error.contains("truncated")) << error.toStdString();
    // What flac itself decodes from the cut file gives the expected count.
    QString flacOut;
    QString flacErr;
    if (haveTool("flac")) {
        runTool("flac", {"-d", "-F", "-s", "-f", "-o", dir.filePath("rescued.wav"), dir.filePath("cut.flac")},
                &flacOut, &flacErr);
        long long present = 0;
        unsigned int rate = 0;
        ASSERT_TRUE(soxInfo(dir.filePath("rescued.wav"), &present, &rate));
        EXPECT_TRUE(error.contains(QStringLiteral("%1 frames before").arg(frames - present)))
            << error.toStdString() << " flac decoded " << present;
    }
}

TEST(IoBadInput, TruncatedMp3IsRefusedWithTheMissingFrames)
{
    if (!haveTool("lame"))
        GTEST_SKIP() << "lame is not installed";
    // CBR from LAME's tool: 1152 frames per 417/418-byte MPEG frame at
    // 128 kbit/s, and an Info tag declaring the whole length.
    QTemporaryDir dir;
    const unsigned int frames = 10 * 44100;
    const QString wav = dir.filePath("src.wav");
    ASSERT_TRUE(writeFile(wav, stereoSine(frames, 44100, 440, 660, 0.5), 44100, SoundTools::Int16));
    const QString mp3 = dir.filePath("whole.mp3");
    ASSERT_TRUE(runTool("lame", {"--quiet", "-b", "128", wav, mp3}));
    QFile file(mp3);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_TRUE(writeBytes(dir.filePath("cut.mp3"), bytes.left(bytes.size() / 2)));
    std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(dir.filePath("cut.mp3")));
    EXPECT_EQ(reader->open(dir.filePath("cut.mp3")), SoundTools::Error);
    const QString error = SoundDebuggableClass::getError();
    EXPECT_TRUE(error.contains("truncated")) << error.toStdString();
    // About half of the frames are missing, to within two MPEG frames.
    const QRegularExpression count(QStringLiteral("stops (\\d+) frames"));
    const auto match = count.match(error);
    ASSERT_TRUE(match.hasMatch()) << error.toStdString();
    EXPECT_NEAR(match.captured(1).toDouble(), frames / 2.0, 2 * 1152.0);
    // The whole file reads.
    EXPECT_EQ(reader->open(mp3), SoundTools::Ok);
    EXPECT_EQ(reader->getFrameNB(), frames);
}

TEST(IoBadInput, FileCutWhileReadingEndsTheStreamAndSaysWhatIsMissing)
{
    QTemporaryDir dir;
    const unsigned int frames = 100000;
    const Samples sound = stereoSine(frames, 44100, 440, 660, 0.5);
    const QString name = dir.filePath("shrinking.wav");
    ASSERT_TRUE(writeFile(name, sound, 44100, SoundTools::Int16));
    SoundReaderSndfile reader;
    ASSERT_EQ(reader.open(name), SoundTools::Ok);
    // Another program cuts the file to 40000 frames after it was opened.
    ASSERT_TRUE(QFile::resize(name, 44 + 4 * 40000));
    SoundDebuggableClass::setError(QStringLiteral("none"), nullptr);
    const Samples got = readAll(reader);
    EXPECT_TRUE(reader.atEnd());
    ASSERT_EQ(got.size(), 2 * 40000u);
    EXPECT_LE(maxDifference(Samples(sound.begin(), sound.begin() + 80000), got), 2.0 / 32768);
    const QString error = SoundDebuggableClass::getError();
    EXPECT_TRUE(error.startsWith(name)) << error.toStdString();
    EXPECT_TRUE(error.contains("60000 frames missing")) << error.toStdString();
}

TEST(IoBadInput, SourcesBeyondThirtyOneBitFramesAreRefused)
{
    // An 8-bit mono WAV declaring 2^31 + 100 frames, as a sparse file: the
    // data chunk is all there, so only the length can make it fail.
    QTemporaryDir dir;
    const quint32 dataBytes = 0x80000000u + 100;
    QByteArray header("RIFF", 4);
    auto put32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            header.append(char((v >> (8 * i)) & 0xFF));
    };
    auto put16 = [&](quint16 v) {
        header.append(char(v & 0xFF));
        header.append(char(v >> 8));
    };
    put32(36 + dataBytes);
    header.append("WAVEfmt ", 8);
    put32(16);
    put16(1);     // PCM
    put16(1);     // mono
    put32(44100); // rate
    put32(44100); // bytes per second
    put16(1);     // block align
    put16(8);     // bits
    header.append("data", 4);
    put32(dataBytes);
    const QString name = dir.filePath("long.wav");
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(header), 44);
    ASSERT_TRUE(file.resize(44 + qint64(dataBytes)));
    file.close();
    expectRefused(name, "2147483647");
}

TEST(IoBadInput, UnwritableOutputsFailAtOpenAndLeaveNothing)
{
    QTemporaryDir dir;
    QStringList targets = {dir.filePath("no/such/dir/out.%1"), QStringLiteral("/proc/tulv-out.%1")};
    if (!isRoot()) {
        QDir(dir.path()).mkdir("locked");
        QFile::setPermissions(dir.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        targets << dir.filePath("locked/out.%1");
    }
    for (const QString& pattern : targets) {
        for (const QString& ext : {QStringLiteral("wav"), QStringLiteral("flac"), QStringLiteral("ogg"),
                                   QStringLiteral("raw"), QStringLiteral("mp3")}) {
            if (ext == "mp3" && !SoundWriterMp3::Init())
                continue;
            const QString name = pattern.arg(ext);
            SCOPED_TRACE(name.toStdString());
            std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(name, 44100, 128, SoundTools::Int16));
            ASSERT_TRUE(writer);
            EXPECT_EQ(writer->open(name), SoundTools::Error);
            EXPECT_TRUE(SoundDebuggableClass::getError().startsWith(name + " : "))
                << SoundDebuggableClass::getError().toStdString();
            writer->close();
            EXPECT_FALSE(QFileInfo::exists(name));
        }
    }
}

TEST(IoBadInput, WriterFailingMidwayLeavesNoFileAndKeepsTheOldOne)
{
    // A file-size limit makes the disk refuse writes partway, as a full disk
    // would.
    QTemporaryDir dir;
    const QString name = dir.filePath("out.wav");
    ASSERT_TRUE(writeBytes(name, QByteArray("previous content")));
    const Samples sound = stereoSine(441000, 44100, 440, 660, 0.5);

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 200000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    SoundTools::Status status;
    {
        SoundWriterSndfile writer(44100, 2, SoundTools::Int16, SoundWriterSndfile::Wav);
        ASSERT_EQ(writer.open(name), SoundTools::Ok);
        status = writeAll(writer, sound, 44100);
        writer.close();
        EXPECT_TRUE(writer.hasFailed());
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(status, SoundTools::Error);
    EXPECT_TRUE(SoundDebuggableClass::getError().startsWith(name)) << SoundDebuggableClass::getError().toStdString();
    QFile old(name);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("previous content"));
    // No partial file is left beside it either.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(IoBadInput, OutputAppearsUnderItsNameOnlyWhenClosed)
{
    QTemporaryDir dir;
    const Samples sound = stereoSine(10000, 44100, 440, 660, 0.5);
    for (const QString& ext : {QStringLiteral("wav"), QStringLiteral("flac"), QStringLiteral("mp3")}) {
        if (ext == "mp3" && !SoundWriterMp3::Init())
            continue;
        const QString name = dir.filePath("late." + ext);
        std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(name, 44100, 128, SoundTools::Int16));
        ASSERT_EQ(writer->open(name), SoundTools::Ok);
        ASSERT_EQ(writeAll(*writer, sound, 44100), SoundTools::Ok);
        EXPECT_FALSE(QFileInfo::exists(name));
        writer->close();
        EXPECT_TRUE(QFileInfo::exists(name));
    }
    // Only the finished files, no partial ones.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
              SoundWriterMp3::Init() ? 3 : 2);
}

TEST(IoBadInput, ConvertingAFileOntoItselfKeepsItWhole)
{
    // Writing beside the target lets a file be rewritten from itself.
    QTemporaryDir dir;
    const QString name = dir.filePath("same.wav");
    const Samples sound = stereoSine(50000, 44100, 440, 660, 0.5);
    ASSERT_TRUE(writeFile(name, sound, 44100, SoundTools::Float32));
    Samples first;
    ASSERT_TRUE(readFile(name, first));
    {
        SoundReaderSndfile reader;
        ASSERT_EQ(reader.open(name), SoundTools::Ok);
        SoundWriterSndfile writer(44100, 2, SoundTools::Float32, SoundWriterSndfile::Wav);
        ASSERT_EQ(writer.open(name), SoundTools::Ok);
        ASSERT_EQ(writeAll(writer, readAll(reader), 44100), SoundTools::Ok);
        writer.close();
    }
    Samples again;
    ASSERT_TRUE(readFile(name, again));
    EXPECT_EQ(maxDifference(first, again), 0.0);
}
