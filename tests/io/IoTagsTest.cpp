// Tags and front cover through every container that carries them, read
// back by our readers and, where sox shows them, by sox.
#include "tests/support/IoFiles.h"
#include "tulv/io/SoundTags.h"
#include "tulv/io/SoundWriterMp3.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace iotest;
using Fields = std::vector<std::string>;

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

// Several artists, totals, a full date and ReplayGain: the text fields show
// them in part.
SoundIDTag fullRecord()
{
    SoundIDTag tags;
    tags.properties = { { "TITLE", { "Été à Tōkyō – 東京" } }, { "ARTIST", { "Ørsted Ensemble", "Second" } },
                        { "ALBUM", { "Live" } }, { "COMMENT", { "recorded in one take" } }, { "GENRE", { "Jazz" } },
                        { "ALBUMARTIST", { "Various" } }, { "DISCNUMBER", { "1/2" } }, { "TRACKNUMBER", { "7/12" } },
                        { "DATE", { "1987-06-01" } }, { "REPLAYGAIN_TRACK_GAIN", { "-3.20 dB" } } };
    tags.updateFields();
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
    ASSERT_EQ(writeAll(*writer, sine(20000, 440, 0.5, 44100, 0.5, 660), 44100), SoundTools::Ok);
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
    ASSERT_TRUE(SoundWriterMp3::Init()) << "the LAME library (libmp3lame) is not installed";
    for (const QString ext : { "wav", "flac", "ogg", "aiff", "mp3" }) {
        const QString name = dir.filePath("tagged." + ext);
        SCOPED_TRACE(name.toStdString());
        writeTagged(name, tags);
        bool found = false;
        const SoundIDTag back = readTags(name, &found);
        EXPECT_TRUE(found);
        const auto fields = [](const SoundIDTag& t) {
            return Fields { t.title, t.artist, t.album, t.year, t.comment, t.track, t.genre, t.coverMimeType };
        };
        EXPECT_EQ(fields(back), fields(tags));
        EXPECT_EQ(back.properties, tags.properties);
        EXPECT_EQ((Fields { back.artist, back.track, back.year }), (Fields { "Ørsted Ensemble; Second", "7", "1987" }));
        EXPECT_EQ(back.coverData, tags.coverData);

        // Without tags: none found, the record cleared.
        writeTagged(dir.filePath("plain." + ext), SoundIDTag());
        const SoundIDTag none = readTags(dir.filePath("plain." + ext), &found);
        EXPECT_FALSE(found);
        EXPECT_EQ((Fields { none.title, none.year, none.track }), (Fields { "", "0", "0" }));
        EXPECT_TRUE(none.coverData.isEmpty());
    }

    // A second picture added to an MP3: the first one added is the one read.
    SoundIDTag second = fullRecord();
    second.coverData = coverBytes(99);
    second.coverMimeType = "image/jpeg";
    writeMp3Tags(second, dir.filePath("tagged.mp3"));
    const SoundIDTag covers = readTags(dir.filePath("tagged.mp3"));
    EXPECT_EQ(covers.coverData, tags.coverData);
    EXPECT_EQ(covers.coverMimeType, "image/png");

    // Numbers that are not numbers are left unset.
    SoundIDTag odd;
    odd.title = "t";
    odd.year = "abc";
    odd.track = "12b";
    writeTagged(dir.filePath("odd.flac"), odd);
    const SoundIDTag back = readFileTags(dir.filePath("odd.flac"));
    EXPECT_EQ((Fields { back.title, back.year, back.track }), (Fields { "t", "0", "0" }));

    // A FLAC picture block holds 16 MiB: a larger cover is left out, and
    // the file stays one that flac itself accepts.
    SoundIDTag huge = fullRecord();
    huge.coverData = QByteArray(17 << 20, 'x');
    writeTagged(dir.filePath("huge.flac"), huge);
    EXPECT_TRUE(readFileTags(dir.filePath("huge.flac")).coverData.isEmpty());
    EXPECT_EQ(readFileTags(dir.filePath("huge.flac")).title, huge.title);
    EXPECT_TRUE(runTool("flac", { "-t", "-s", dir.filePath("huge.flac") }));

    // A raw file keeps only the samples, 20000 stereo frames of 4-byte floats.
    writeTagged(dir.filePath("bare.raw"), tags);
    EXPECT_EQ(QFile(dir.filePath("bare.raw")).size(), 20000 * 2 * 4);
    EXPECT_TRUE(readFileTags(dir.filePath("bare.raw")).title.empty());
}

// ffprobe reads every property we write; we read what ffmpeg writes: an
// ID3v2.4 date (TDRC) and disc number, and the LIST INFO chunk of a WAV.
TEST(IoTags, PeersAgreeOnEveryProperty)
{
    QTemporaryDir dir;
    const SoundIDTag tags = fullRecord();
    // ffprobe shows the first of several ID3v2.4 values, and of a WAV only
    // its LIST INFO chunk (the ID3v2 chunk beside it holds all).
    const QStringList all = { "artist=ørsted ensemble", "album_artist=various", "disc=1/2", "track=7/12",
                              "date=1987-06-01", "replaygain_track_gain=-3.20 db" };
    const struct {
        const char* ext;
        QStringList expected;
    } cases[] = { { "flac", all + QStringList{ "second" } }, { "ogg", all + QStringList{ "second" } }, { "mp3", all },
                  { "wav", { "artist=ørsted ensemble", "date=1987", "track=7", "genre=jazz" } } };
    for (const auto& c : cases) {
        const QString name = dir.filePath(QStringLiteral("seen.%1").arg(c.ext));
        SCOPED_TRACE(name.toStdString());
        writeTagged(name, tags);
        QString out;
        ASSERT_TRUE(runTool("ffprobe", { "-v", "error", "-show_entries", "format_tags:stream_tags", "-of",
                                         "default=nw=1:nk=0", name },
                            &out));
        const QString text = out.toLower();
        for (const QString& expected : c.expected)
            EXPECT_TRUE(text.contains(expected)) << expected.toStdString() << " in " << out.toStdString();
    }
    for (const QString ext : { "mp3", "wav" }) {
        const QString name = dir.filePath("ffmpeg." + ext);
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(runTool("ffmpeg", { "-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=440:d=0.5", "-metadata",
                                        "title=T", "-metadata", "date=2019-05-03", "-metadata", "track=5/9",
                                        "-metadata", "disc=1/2", name }));
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(name));
        ASSERT_EQ(reader->open(name), SoundTools::Ok);
        SoundIDTag back;
        ASSERT_TRUE(reader->getTags(back));
        EXPECT_EQ(back.title, "T");
        EXPECT_EQ(back.year, "2019");
        EXPECT_EQ(back.track, "5");
        EXPECT_EQ(back.properties["DISCNUMBER"], Fields(ext == "mp3", "1/2"));
    }
}
