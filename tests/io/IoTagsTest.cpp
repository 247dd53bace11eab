// Tags and front cover through every container that carries them, read
// back by our readers and, where sox shows them, by sox.
#include "tests/support/IoFiles.h"
#include "tulv/io/SoundReaderMp3.h"
#include "tulv/io/SoundReaderSndfile.h"
#include "tulv/io/SoundTags.h"
#include "tulv/io/SoundWriterMp3.h"
#include "tulv/io/SoundWriterSndfile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace iotest;

namespace {

// A tiny but real PNG signature followed by arbitrary bytes, zeros included:
// the cover must come back byte for byte.
QByteArray coverBytes(char seed)
{
    QByteArray bytes("\x89PNG\r\n\x1a\n", 8);
    for (int i = 0; i < 3000; ++i)
        bytes.append(char((i * 7 + seed) % 256));
    bytes[100] = '\0';
    return bytes;
}

SoundIDTag fullRecord()
{
    SoundIDTag tags;
    tags.title = "Été à Tōkyō – 東京";
    tags.artist = "Ørsted Ensemble";
    tags.album = "Live";
    tags.year = "1987";
    tags.comment = "recorded in one take";
    tags.track = "7";
    tags.genre = "Jazz";
    tags.coverData = coverBytes(3);
    tags.coverMimeType = "image/png";
    return tags;
}

void expectSameText(const SoundIDTag& a, const SoundIDTag& b)
{
    EXPECT_EQ(a.title, b.title);
    EXPECT_EQ(a.artist, b.artist);
    EXPECT_EQ(a.album, b.album);
    EXPECT_EQ(a.year, b.year);
    EXPECT_EQ(a.comment, b.comment);
    EXPECT_EQ(a.track, b.track);
    EXPECT_EQ(a.genre, b.genre);
}

// Writes a short sound with `tags` through the factory's writer.
void writeTagged(const QString& name, const SoundIDTag& tags)
{
    const Samples sound = stereoSine(20000, 44100, 440, 660, 0.5);
    std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(name, 44100, 128, SoundTools::Int16));
    ASSERT_TRUE(writer);
    writer->setTags(tags);
    ASSERT_EQ(writer->open(name), SoundTools::Ok);
    ASSERT_EQ(writeAll(*writer, sound, 44100), SoundTools::Ok);
    writer->close();
}

} // namespace

TEST(IoTags, TextYearTrackAndCoverSurviveEveryContainer)
{
    QTemporaryDir dir;
    const SoundIDTag tags = fullRecord();
    QStringList exts = {"wav", "flac", "ogg"};
    if (SoundWriterMp3::Init())
        exts << "mp3";
    for (const QString& ext : exts) {
        const QString name = dir.filePath("tagged." + ext);
        SCOPED_TRACE(name.toStdString());
        writeTagged(name, tags);
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(name));
        ASSERT_EQ(reader->open(name), SoundTools::Ok);
        SoundIDTag back;
        EXPECT_TRUE(reader->getTags(back));
        expectSameText(tags, back);
        EXPECT_EQ(back.coverMimeType, tags.coverMimeType);
        EXPECT_EQ(back.coverData, tags.coverData);
        // The tags did not disturb the sound.
        EXPECT_EQ(readAll(*reader).size(), 2 * 20000u);
    }
}

TEST(IoTags, SoxSeesOurTextTags)
{
    if (!haveTool("soxi"))
        GTEST_SKIP() << "sox is not installed";
    QTemporaryDir dir;
    const SoundIDTag tags = fullRecord();
    for (const QString& ext : {QStringLiteral("flac"), QStringLiteral("ogg")}) {
        const QString name = dir.filePath("seen." + ext);
        writeTagged(name, tags);
        QString out;
        ASSERT_TRUE(runTool("soxi", {"-a", name}, &out));
        const QString text = out.toUpper();
        EXPECT_TRUE(out.contains(QString::fromStdString(tags.artist))) << out.toStdString();
        EXPECT_TRUE(text.contains("DATE=1987") || text.contains("YEAR=1987")) << out.toStdString();
        EXPECT_TRUE(text.contains("TRACKNUMBER=7")) << out.toStdString();
    }
    // A tagged WAV is still a WAV of the same length to sox.
    const QString wav = dir.filePath("seen.wav");
    writeTagged(wav, tags);
    long long frames = 0;
    unsigned int rate = 0;
    ASSERT_TRUE(soxInfo(wav, &frames, &rate));
    EXPECT_EQ(frames, 20000);
}

TEST(IoTags, FilesWithoutTagsReadAsEmpty)
{
    QTemporaryDir dir;
    const Samples sound = stereoSine(1000, 44100, 440, 660, 0.5);
    for (const QString& ext : {QStringLiteral("wav"), QStringLiteral("flac"), QStringLiteral("ogg")}) {
        const QString name = dir.filePath("plain." + ext);
        ASSERT_TRUE(writeFile(name, sound, 44100, SoundTools::Int16));
        SoundReaderSndfile reader;
        ASSERT_EQ(reader.open(name), SoundTools::Ok);
        SoundIDTag back;
        back.title = "left over";
        EXPECT_FALSE(reader.getTags(back));
        EXPECT_EQ(back.title, "");
        EXPECT_EQ(back.year, "0");
        EXPECT_EQ(back.track, "0");
        EXPECT_TRUE(back.coverData.isEmpty());
    }
}

TEST(IoTags, NumbersThatAreNotNumbersAreLeftUnset)
{
    QTemporaryDir dir;
    SoundIDTag tags;
    tags.title = "t";
    tags.year = "abc";
    tags.track = "12b";
    const QString name = dir.filePath("odd.flac");
    writeTagged(name, tags);
    const SoundIDTag back = readFileTags(name);
    EXPECT_EQ(back.title, "t");
    EXPECT_EQ(back.year, "0");
    EXPECT_EQ(back.track, "0");
}

TEST(IoTags, RawFilesKeepNoTagsAndNothingFails)
{
    QTemporaryDir dir;
    const QString name = dir.filePath("bare.raw");
    writeTagged(name, fullRecord());
    QFile file(name);
    // Only the samples: 20000 stereo frames of 4-byte floats.
    EXPECT_EQ(file.size(), 20000 * 2 * 4);
    EXPECT_TRUE(readFileTags(name).title.empty());
}

TEST(IoTags, Mp3CoverRules)
{
    if (!SoundWriterMp3::Init())
        GTEST_SKIP() << "the LAME encoder is not installed";
    QTemporaryDir dir;
    // No cover given: no picture frame.
    SoundIDTag plain = fullRecord();
    plain.coverData.clear();
    const QString name = dir.filePath("covers.mp3");
    writeTagged(name, plain);
    EXPECT_TRUE(readMp3Tags(name).coverData.isEmpty());
    EXPECT_EQ(readMp3Tags(name).title, plain.title);

    // Two pictures: the first one added is the one read.
    SoundIDTag first = fullRecord();
    SoundIDTag second = fullRecord();
    second.coverData = coverBytes(99);
    second.coverMimeType = "image/jpeg";
    writeMp3Tags(first, name);
    writeMp3Tags(second, name);
    const SoundIDTag back = readMp3Tags(name);
    EXPECT_EQ(back.coverData, first.coverData);
    EXPECT_EQ(back.coverMimeType, "image/png");
    // The file still decodes to the same length.
    SoundReaderMp3 reader;
    ASSERT_EQ(reader.open(name), SoundTools::Ok);
    EXPECT_EQ(reader.getFrameNB(), 20000u);
}
