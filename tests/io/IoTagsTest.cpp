// Tags and front cover through every container that carries them, read
// back by our readers and, where sox shows them, by sox.
#include "tests/support/IoFiles.h"
#include "tulv/io/SoundReaderMp3.h"
#include "tulv/io/SoundTags.h"
#include "tulv/io/SoundWriterMp3.h"

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

// Writes a short sound with `tags` through the factory's writer.
void writeTagged(const QString& name, const SoundIDTag& tags)
{
    std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(name, 44100, 128, SoundTools::Int16));
    ASSERT_TRUE(writer);
    writer->setTags(tags);
    ASSERT_EQ(writer->open(name), SoundTools::Ok);
    ASSERT_EQ(writeAll(*writer, stereoSine(20000, 44100, 440, 660, 0.5), 44100), SoundTools::Ok);
    writer->close();
}

// Reads the tags of `name` through its reader; `found` is what getTags answered.
SoundIDTag readTags(const QString& name, bool* found = nullptr)
{
    std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(name));
    EXPECT_EQ(reader->open(name), SoundTools::Ok);
    SoundIDTag back;
    back.title = "left over";
    const bool got = reader->getTags(back);
    if (found)
        *found = got;
    EXPECT_EQ(readAll(*reader).size(), 2 * 20000u) << "the tags did not disturb the sound";
    return back;
}

} // namespace

TEST(IoTags, TextYearTrackAndCoverSurviveEveryContainer)
{
    QTemporaryDir dir;
    const SoundIDTag tags = fullRecord();
    QStringList exts = { "wav", "flac", "ogg" };
    if (SoundWriterMp3::Init())
        exts << "mp3";
    for (const QString& ext : exts) {
        const QString name = dir.filePath("tagged." + ext);
        SCOPED_TRACE(name.toStdString());
        writeTagged(name, tags);
        bool found = false;
        const SoundIDTag back = readTags(name, &found);
        EXPECT_TRUE(found);
        const auto fields = [](const SoundIDTag& t) {
            return std::vector<std::string> { t.title, t.artist, t.album, t.year, t.comment, t.track, t.genre, t.coverMimeType };
        };
        EXPECT_EQ(fields(back), fields(tags));
        EXPECT_EQ(back.coverData, tags.coverData);

        // Without tags: none found, the record cleared.
        writeTagged(dir.filePath("plain." + ext), SoundIDTag());
        const SoundIDTag none = readTags(dir.filePath("plain." + ext), &found);
        if (ext != "mp3") {
            EXPECT_FALSE(found);
        }
        EXPECT_EQ(none.title, "");
        EXPECT_EQ(none.year, "0");
        EXPECT_EQ(none.track, "0");
        EXPECT_TRUE(none.coverData.isEmpty());
    }

    // Numbers that are not numbers are left unset.
    SoundIDTag odd;
    odd.title = "t";
    odd.year = "abc";
    odd.track = "12b";
    writeTagged(dir.filePath("odd.flac"), odd);
    const SoundIDTag back = readFileTags(dir.filePath("odd.flac"));
    EXPECT_EQ(back.title, "t");
    EXPECT_EQ(back.year, "0");
    EXPECT_EQ(back.track, "0");

    // A raw file keeps only the samples, 20000 stereo frames of 4-byte floats.
    writeTagged(dir.filePath("bare.raw"), tags);
    EXPECT_EQ(QFile(dir.filePath("bare.raw")).size(), 20000 * 2 * 4);
    EXPECT_TRUE(readFileTags(dir.filePath("bare.raw")).title.empty());
}

TEST(IoTags, SoxSeesOurTextTags)
{
    if (!haveTool("soxi"))
        GTEST_SKIP() << "sox is not installed";
    QTemporaryDir dir;
    const SoundIDTag tags = fullRecord();
    for (const QString ext : { "flac", "ogg" }) {
        const QString name = dir.filePath("seen." + ext);
        writeTagged(name, tags);
        QString out;
        ASSERT_TRUE(runTool("soxi", { "-a", name }, &out));
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

TEST(IoTags, Mp3CoverRules)
{
    if (!SoundWriterMp3::Init())
        GTEST_SKIP() << "the LAME encoder is not installed";
    QTemporaryDir dir;
    // Two pictures: the first one added is the one read.
    const QString name = dir.filePath("covers.mp3");
    writeTagged(name, SoundIDTag());
    SoundIDTag first = fullRecord();
    SoundIDTag second = fullRecord();
    second.coverData = coverBytes(99);
    second.coverMimeType = "image/jpeg";
    writeMp3Tags(first, name);
    writeMp3Tags(second, name);
    const SoundIDTag back = readMp3Tags(name);
    EXPECT_EQ(back.coverData, first.coverData);
    EXPECT_EQ(back.coverMimeType, "image/png");
    SoundReaderMp3 reader;
    ASSERT_EQ(reader.open(name), SoundTools::Ok);
    EXPECT_EQ(reader.getFrameNB(), 20000u) << "the file still decodes to the same length";
}
