// Back ends chosen by file name, and the writer factory's format table as
// libsndfile reports it back from the files written.
#include "tests/support/IoFiles.h"
#include "tulv/io/SoundReaderMp3.h"
#include "tulv/io/SoundReaderSndfile.h"
#include "tulv/io/SoundWriterMp3.h"
#include "tulv/io/SoundWriterSndfile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace iotest;

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

TEST(IoFactory, WrittenFilesCarryTheRequestedSampleFormat)
{
    // What libsndfile reads back from each file is the format it was asked for.
    QTemporaryDir dir;
    const Samples sound = stereoSine(1000, 44100, 440, 660, 0.5);
    const struct {
        const char* ext;
        SoundTools::SoundFormat asked;
        SoundTools::SoundFormat reported;
    } cases[] = {
        { "wav", SoundTools::Int8, SoundTools::Int8 },       { "wav", SoundTools::Int16, SoundTools::Int16 },
        { "wav", SoundTools::Int24, SoundTools::Int24 },     { "wav", SoundTools::Int32, SoundTools::Int32 },
        { "wav", SoundTools::Float32, SoundTools::Float32 }, { "wav", SoundTools::Float64, SoundTools::Float64 },
        { "flac", SoundTools::Int8, SoundTools::Int16 },     { "flac", SoundTools::Int16, SoundTools::Int16 },
        { "flac", SoundTools::Float32, SoundTools::Int24 },  { "ogg", SoundTools::Float64, SoundTools::Int16 },
    };
    int i = 0;
    for (const auto& c : cases) {
        const QString name = dir.filePath(QStringLiteral("f%1.%2").arg(i++).arg(c.ext));
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(writeFile(name, sound, 48000, c.asked));
        SoundReaderSndfile reader;
        ASSERT_EQ(reader.open(name), SoundTools::Ok);
        EXPECT_EQ(reader.getInputFormat(), c.reported);
        EXPECT_EQ(reader.getSampleRate(), 48000u);
    }
}

TEST(IoFactory, RawFileIsHeaderlessHostOrderFloat)
{
    // .raw is written as host-order floats, whatever the format asked.
    QTemporaryDir dir;
    const Samples sound = { 0.25, -0.5, 1.5, -2.0, 0.125, 0.0 };
    const QString name = dir.filePath("samples.raw");
    ASSERT_TRUE(writeFile(name, sound, 44100, SoundTools::Int16));
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), int(sound.size() * sizeof(float)));
    for (size_t i = 0; i < sound.size(); ++i) {
        float value;
        std::memcpy(&value, bytes.constData() + i * sizeof(float), sizeof value);
        EXPECT_EQ(value, float(sound[i])); // no clipping in float
    }
}
